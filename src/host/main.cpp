// dovecrestd: serves the Dovecrest extension over HTTP until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/descriptor_limit.h"
#include "host/extension_loader.h"
#include "host/host_options.h"
#include "host/http_host.h"

namespace {

std::string DefaultExtensionPath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "./Dovecrest.so";
  std::string self(buffer, static_cast<std::size_t>(n));
  return self.substr(0, self.rfind('/') + 1) + "Dovecrest.so";
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = dovecrest::ParseHostOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fprintf(stderr, "dovecrestd: %s\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(dovecrest::HostUsage(), stdout);
    return 0;
  }
  if (!options->configDir.empty()) setenv("VANTREL_CONFIG_DIR", options->configDir.c_str(), 1);
  if (options->extensionPath.empty()) options->extensionPath = DefaultExtensionPath();

  // Every connection holds a descriptor: raise the limit, and where it stays too low
  // for --max-connections, serve fewer and say so.
  const uint64_t wanted = static_cast<uint64_t>(options->maxConnections) + dovecrest::HttpHost::kReservedDescriptors;
  dovecrest::DescriptorLimit limit = dovecrest::RaiseDescriptorLimit(wanted);
  if (limit.soft < wanted) {
    int fitting = limit.soft > static_cast<uint64_t>(dovecrest::HttpHost::kReservedDescriptors) + 1
                      ? static_cast<int>(limit.soft - dovecrest::HttpHost::kReservedDescriptors)
                      : 1;
    std::fprintf(stderr,
                 "dovecrestd: warning: the open-descriptor limit is %llu (hard limit %llu), but %d connections "
                 "need %llu; serving at most %d connections (raise the hard limit, e.g. ulimit -Hn, or lower "
                 "--max-connections)\n",
                 static_cast<unsigned long long>(limit.soft), static_cast<unsigned long long>(limit.hard),
                 options->maxConnections, static_cast<unsigned long long>(wanted), fitting);
    options->maxConnections = fitting;
  }

  // Signals are taken by sigwait below; every server thread inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  dovecrest::ExtensionLibrary extension;
  if (!extension.Load(options->extensionPath, error)) {
    std::fprintf(stderr, "dovecrestd: %s\n", error.c_str());
    return 1;
  }
  dovecrest::HttpHost host(*options, extension);
  if (!host.Start(error)) {
    std::fprintf(stderr, "dovecrestd: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "dovecrestd: listening on %s:%d\n", options->bindAddress.c_str(), host.Port());

  int signalNumber = 0;
  sigwait(&stopSignals, &signalNumber);
  std::fprintf(stderr, "dovecrestd: stopping\n");
  host.Stop();         // no new connections; running requests finish
  extension.Unload();  // TerminateExtension, then unload
  return 0;
}

// The HTTP server of dovecrestd: one event-loop thread (epoll, non-blocking sockets)
// accepts and reads every connection; complete requests go to a fixed pool of worker
// threads, which run the extension call (it may block on engine locks) and hand the
// answer back to the loop to be written. Idle connections cost a small record each,
// never a thread. Limits: open connections, connections per client address, a header
// timeout and a keep-alive idle timeout; connections beyond a limit are answered 503.
#pragma once

#include <memory>
#include <string>

#include "host/extension_loader.h"
#include "host/host_options.h"

namespace dovecrest {

class HttpHost {
 public:
  // Worker threads running requests: more than the extension's 32 modules, so the
  // request beyond them still reaches the extension and gets its pool message.
  static constexpr int kWorkers = 64;
  // Descriptors the host keeps besides its open connections: listening socket, event
  // descriptors, connections being closed after their last answer, images, and the
  // engine's table files.
  static constexpr int kReservedDescriptors = 1024 + 256;
  // Seconds given in Retry-After when a connection is refused for a limit.
  static constexpr int kRetryAfterSeconds = 5;

  HttpHost(const HostOptions& options, const ExtensionLibrary& extension);
  ~HttpHost();
  HttpHost(const HttpHost&) = delete;
  HttpHost& operator=(const HttpHost&) = delete;

  bool Start(std::string& error);
  // Stops accepting, lets running extension calls finish, closes every connection
  // and joins the threads.
  void Stop();
  int Port() const { return port_; }

 private:
  class Loop;
  HostOptions options_;
  const ExtensionLibrary& extension_;
  std::unique_ptr<Loop> loop_;
  int port_ = 0;
};

}  // namespace dovecrest

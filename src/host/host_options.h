// Command-line options of dovecrestd.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dovecrest {

struct HostOptions {
  std::string bindAddress = "127.0.0.1";
  int port = 8080;  // 0: any free port (the one taken is printed)
  std::string configDir;   // where "Vantrel.ini" is looked up; empty: the extension's directory
  std::string imagesDir;   // served under /images/ when set
  std::string extensionPath;  // empty: Dovecrest.so next to the executable
  // Open client connections; a connection beyond them is answered 503 at once.
  int maxConnections = 16384;
  // Open connections from one client address; 0: no limit.
  int maxPerClient = 256;
  // Seconds within which a request's header block must be complete (from the
  // connection's start, or from the first byte of a later request on it).
  int headerTimeout = 10;
  // Seconds a kept-alive connection may wait for its next request, and the longest
  // pause while a body is received or a response is sent.
  int idleTimeout = 30;
  bool help = false;
};

// Parses the arguments (without the program name). On failure, `error` holds a
// one-line message and the answer is empty.
std::optional<HostOptions> ParseHostOptions(const std::vector<std::string>& args, std::string& error);

const char* HostUsage();

}  // namespace dovecrest

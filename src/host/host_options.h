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
  bool help = false;
};

// Parses the arguments (without the program name). On failure, `error` holds a
// one-line message and the answer is empty.
std::optional<HostOptions> ParseHostOptions(const std::vector<std::string>& args, std::string& error);

const char* HostUsage();

}  // namespace dovecrest

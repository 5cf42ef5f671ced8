// Option parsing for dovecrestd.
#include "host/host_options.h"

#include <charconv>

namespace dovecrest {

const char* HostUsage() {
  return "usage: dovecrestd [--bind ADDR] [--port N] [--config-dir DIR] [--images DIR] [--extension PATH]\n"
         "  --bind ADDR        address to listen on (default 127.0.0.1)\n"
         "  --port N           port to listen on, 0 for any free port (default 8080)\n"
         "  --config-dir DIR   directory holding Vantrel.ini (default: the extension's directory)\n"
         "  --images DIR       serve /images/ from DIR\n"
         "  --extension PATH   the extension library (default: Dovecrest.so next to dovecrestd)\n"
         "  --help             show this text\n";
}

std::optional<HostOptions> ParseHostOptions(const std::vector<std::string>& args, std::string& error) {
  HostOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    std::string name = arg, value;
    bool inlineValue = false;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    if (name != "--bind" && name != "--port" && name != "--config-dir" && name != "--images" &&
        name != "--extension") {
      error = "unknown option '" + arg + "' (try --help)";
      return std::nullopt;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (value.empty()) {
      error = "option " + name + " needs a non-empty value";
      return std::nullopt;
    }
    if (name == "--bind") {
      options.bindAddress = value;
    } else if (name == "--port") {
      int port = -1;
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc() || end != value.data() + value.size() || port < 0 || port > 65535) {
        error = "invalid port '" + value + "'";
        return std::nullopt;
      }
      options.port = port;
    } else if (name == "--config-dir") {
      options.configDir = value;
    } else if (name == "--images") {
      options.imagesDir = value;
    } else {
      options.extensionPath = value;
    }
  }
  return options;
}

}  // namespace dovecrest

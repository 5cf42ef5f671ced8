// Option parsing for dovecrestd.
#include "host/host_options.h"

#include <charconv>

namespace dovecrest {
namespace {

// A whole decimal number within [low, high], or false.
bool ParseNumber(const std::string& text, int low, int high, int& value) {
  int number = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end != text.data() + text.size() || number < low || number > high) return false;
  value = number;
  return true;
}

}  // namespace

const char* HostUsage() {
  return "usage: dovecrestd [--bind ADDR] [--port N] [--config-dir DIR] [--images DIR] [--extension PATH]\n"
         "                  [--max-connections N] [--max-per-client N] [--header-timeout S]\n"
         "                  [--idle-timeout S]\n"
         "  --bind ADDR           address to listen on (default 127.0.0.1)\n"
         "  --port N              port to listen on, 0 for any free port (default 8080)\n"
         "  --config-dir DIR      directory holding Vantrel.ini (default: the extension's directory)\n"
         "  --images DIR          serve /images/ from DIR\n"
         "  --extension PATH      the extension library (default: Dovecrest.so next to dovecrestd)\n"
         "  --max-connections N   open connections; a new one beyond them is answered\n"
         "                        503 with Retry-After (default 16384)\n"
         "  --max-per-client N    open connections from one address, 0 for no limit; a new one\n"
         "                        beyond them is answered 503 with Retry-After (default 256)\n"
         "  --header-timeout S    seconds for a request's header block to arrive in full; slower\n"
         "                        clients are dropped (default 10)\n"
         "  --idle-timeout S      seconds a kept-alive connection waits for its next request,\n"
         "                        and the longest pause in a body or a response (default 30)\n"
         "  --help                show this text\n";
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
        name != "--extension" && name != "--max-connections" && name != "--max-per-client" &&
        name != "--header-timeout" && name != "--idle-timeout") {
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
      if (!ParseNumber(value, 0, 65535, options.port)) {
        error = "invalid port '" + value + "'";
        return std::nullopt;
      }
    } else if (name == "--max-connections") {
      if (!ParseNumber(value, 1, 10'000'000, options.maxConnections)) {
        error = "invalid --max-connections '" + value + "' (a number of at least 1)";
        return std::nullopt;
      }
    } else if (name == "--max-per-client") {
      if (!ParseNumber(value, 0, 10'000'000, options.maxPerClient)) {
        error = "invalid --max-per-client '" + value + "' (a number, 0 for no limit)";
        return std::nullopt;
      }
    } else if (name == "--header-timeout") {
      if (!ParseNumber(value, 1, 86400, options.headerTimeout)) {
        error = "invalid --header-timeout '" + value + "' (seconds, 1 to 86400)";
        return std::nullopt;
      }
    } else if (name == "--idle-timeout") {
      if (!ParseNumber(value, 1, 86400, options.idleTimeout)) {
        error = "invalid --idle-timeout '" + value + "' (seconds, 1 to 86400)";
        return std::nullopt;
      }
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

// The HTTP server of dovecrestd: libmicrohttpd with a thread per connection, mapping
// "/Dovecrest.dll[/rest]" onto the extension and "/images/" onto a directory.
#pragma once

#include <string>

#include "host/extension_loader.h"
#include "host/host_options.h"

struct MHD_Daemon;

namespace dovecrest {

class HttpHost {
 public:
  // Largest request body handed to the extension; larger bodies get 413.
  static constexpr std::size_t kMaxBody = 1u << 20;
  // Seconds a connection may stay silent before it is closed.
  static constexpr unsigned kIdleTimeout = 30;

  HttpHost(const HostOptions& options, const ExtensionLibrary& extension)
      : options_(options), extension_(extension) {}
  ~HttpHost() { Stop(); }

  bool Start(std::string& error);
  // Stops accepting, lets running requests finish and joins their threads.
  void Stop();
  int Port() const { return port_; }

  const HostOptions& Options() const { return options_; }
  const ExtensionLibrary& Extension() const { return extension_; }

 private:
  HostOptions options_;
  const ExtensionLibrary& extension_;
  MHD_Daemon* daemon_ = nullptr;
  int port_ = 0;
};

// The path info for a URL naming the extension ("" or "/rest"); false for other URLs.
bool ExtensionPathInfo(const std::string& url, std::string& pathInfo);

}  // namespace dovecrest

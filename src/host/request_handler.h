// Answering one complete request: the extension under /Dovecrest.dll, images under
// /images/, a redirect for "/" and 404 for the rest. Runs on a worker thread, since
// an extension call may block (engine locks) for as long as the engine waits.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/extension_loader.h"
#include "host/host_options.h"
#include "host/http_request.h"

namespace dovecrest {

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Length, Connection, Date
  std::string body;
};

HttpResponse HandleRequest(const HostOptions& options, const ExtensionLibrary& extension, const HttpRequest& request);

// A plain-text answer (errors the host gives itself).
HttpResponse TextResponse(int status, std::string text);

// The reason phrase of a status code.
const char* ReasonPhrase(int status);

// The path info for a URL naming the extension ("" or "/rest"); false for other URLs.
bool ExtensionPathInfo(const std::string& url, std::string& pathInfo);

}  // namespace dovecrest

// Request answering for dovecrestd: the control block handed to the extension, the
// response taken from it, and static images.
#include "host/request_handler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <string_view>

namespace dovecrest {
namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

// What the extension produced through the control block's callbacks.
struct ExtensionCall {
  std::string protocol;
  std::string contentLength;
  std::string method;
  std::string pathInfo;
  std::string queryString;
  int status = 200;
  std::string headers;
  std::string body;
  bool headerSent = false;
  bool wrote = false;
};

int GetServerVariable(void* connId, const char* name, void* buffer, uint32_t* size) {
  auto* call = static_cast<ExtensionCall*>(connId);
  if (!name || !size) return 0;
  const std::string* value = nullptr;
  std::string_view n(name);
  if (n == "SERVER_PROTOCOL") value = &call->protocol;
  else if (n == "CONTENT_LENGTH") value = &call->contentLength;
  else if (n == "REQUEST_METHOD") value = &call->method;
  else if (n == "PATH_INFO") value = &call->pathInfo;
  else if (n == "QUERY_STRING") value = &call->queryString;
  else return 0;
  if (!buffer || *size < value->size() + 1) {
    *size = static_cast<uint32_t>(value->size() + 1);
    return 0;
  }
  std::memcpy(buffer, value->c_str(), value->size() + 1);
  *size = static_cast<uint32_t>(value->size() + 1);
  return 1;
}

int WriteClient(void* connId, const void* data, uint32_t* bytes, uint32_t) {
  auto* call = static_cast<ExtensionCall*>(connId);
  if (!bytes || (!data && *bytes)) return 0;
  call->body.append(static_cast<const char*>(data), *bytes);
  call->wrote = true;
  return 1;
}

// The whole body is handed over with the call: nothing is left to read.
int ReadClient(void*, void*, uint32_t* size) {
  if (size) *size = 0;
  return 0;
}

int ServerSupportFunction(void* connId, uint32_t request, void* buffer, uint32_t*, void* dataType) {
  auto* call = static_cast<ExtensionCall*>(connId);
  if (request != HSE_REQ_SEND_RESPONSE_HEADER) return 0;
  const char* status = static_cast<const char*>(buffer);
  int code = 200;
  if (status) {
    std::from_chars(status, status + std::strlen(status), code);
    if (code < 100 || code > 599) code = 500;
  }
  call->status = code;
  if (dataType) call->headers = static_cast<const char*>(dataType);
  call->headerSent = true;
  return 1;
}

// The extension's header lines, except empty ones and those the host writes itself.
void AddExtensionHeaders(HttpResponse& response, const std::string& block) {
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t end = block.find("\r\n", pos);
    if (end == std::string::npos) end = block.size();
    std::string_view line(block.data() + pos, end - pos);
    pos = end + 2;
    auto colon = line.find(':');
    if (colon == std::string_view::npos || line.find_first_of("\r\n") != std::string_view::npos) continue;
    std::string_view name = line.substr(0, colon);
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (value.empty() || name.empty() || EqualsIgnoringCase(name, "Content-Length") ||
        EqualsIgnoringCase(name, "Connection") || EqualsIgnoringCase(name, "Transfer-Encoding") ||
        EqualsIgnoringCase(name, "Date"))
      continue;
    response.headers.emplace_back(name, value);
  }
}

const char* ImageContentType(std::string_view name) {
  auto dot = name.rfind('.');
  std::string ext;
  if (dot != std::string_view::npos)
    for (char c : name.substr(dot + 1)) ext += AsciiLower(c);
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "png") return "image/png";
  if (ext == "gif") return "image/gif";
  return "application/octet-stream";
}

HttpResponse ServeImage(const HostOptions& options, const std::string& path) {
  std::string name = path.substr(std::strlen("/images/"));
  if (name.empty() || name.find("..") != std::string::npos || name.find('/') != std::string::npos)
    return TextResponse(404, "Not Found\n");
  int fd = open((options.imagesDir + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    return TextResponse(404, "Not Found\n");
  }
  HttpResponse response;
  response.body.resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < response.body.size()) {
    ssize_t n = pread(fd, response.body.data() + done, response.body.size() - done, static_cast<off_t>(done));
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  if (done != response.body.size()) return TextResponse(500, "Internal Server Error\n");
  response.headers.emplace_back("Content-Type", ImageContentType(name));
  return response;
}

HttpResponse CallExtension(const ExtensionLibrary& extension, const HttpRequest& request, const std::string& pathInfo) {
  ExtensionCall call;
  call.protocol = request.minorVersion == 0 ? "HTTP/1.0" : "HTTP/1.1";
  const std::string* declared = request.Header("Content-Length");
  call.contentLength = declared ? *declared : std::to_string(request.body.size());
  call.method = request.method;
  call.pathInfo = pathInfo;
  call.queryString = request.query;

  EXTENSION_CONTROL_BLOCK ecb{};
  ecb.cbSize = sizeof ecb;
  ecb.dwVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  ecb.ConnID = &call;
  ecb.dwHttpStatusCode = 200;
  ecb.lpszMethod = call.method.c_str();
  ecb.lpszQueryString = call.queryString.c_str();
  ecb.lpszPathInfo = call.pathInfo.c_str();
  const std::string* contentType = request.Header("Content-Type");
  ecb.lpszContentType = contentType ? contentType->c_str() : "";
  ecb.cbTotalBytes = static_cast<uint32_t>(request.body.size());
  ecb.cbAvailable = static_cast<uint32_t>(request.body.size());
  ecb.lpbData = reinterpret_cast<const unsigned char*>(request.body.data());
  ecb.GetServerVariable = &GetServerVariable;
  ecb.WriteClient = &WriteClient;
  ecb.ReadClient = &ReadClient;
  ecb.ServerSupportFunction = &ServerSupportFunction;

  uint32_t answer = extension.HttpExtensionProc(&ecb);
  if (answer != HSE_STATUS_SUCCESS && !call.headerSent && !call.wrote) return TextResponse(404, "Not Found\n");

  HttpResponse response;
  AddExtensionHeaders(response, call.headers);
  response.status = call.headerSent ? call.status : static_cast<int>(ecb.dwHttpStatusCode);
  if (response.status < 100 || response.status > 599) response.status = 500;
  response.body = std::move(call.body);
  return response;
}

}  // namespace

HttpResponse TextResponse(int status, std::string text) {
  HttpResponse response;
  response.status = status;
  response.headers.emplace_back("Content-Type", "text/plain");
  response.body = std::move(text);
  return response;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return status < 400 ? "OK" : status < 500 ? "Client Error" : "Server Error";
  }
}

bool ExtensionPathInfo(const std::string& url, std::string& pathInfo) {
  constexpr std::string_view kName = "/Dovecrest.dll";
  if (!StartsWithIgnoringCase(url, kName)) return false;
  std::string rest = url.substr(kName.size());
  if (!rest.empty() && rest.front() != '/') return false;
  pathInfo = rest;
  return true;
}

HttpResponse HandleRequest(const HostOptions& options, const ExtensionLibrary& extension, const HttpRequest& request) {
  std::string pathInfo;
  if (ExtensionPathInfo(request.path, pathInfo)) return CallExtension(extension, request, pathInfo);
  if (!options.imagesDir.empty() && request.path.rfind("/images/", 0) == 0) return ServeImage(options, request.path);
  if (request.path == "/") {
    HttpResponse response;
    response.status = 302;
    response.headers.emplace_back("Location", "/Dovecrest.dll");
    return response;
  }
  return TextResponse(404, "Not Found\n");
}

}  // namespace dovecrest

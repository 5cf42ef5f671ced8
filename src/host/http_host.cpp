// Request handling of dovecrestd: body collection with its cap, the control block
// handed to the extension, the response taken from it, static images and the access log.
#include "host/http_host.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace dovecrest {
namespace {

using Clock = std::chrono::steady_clock;

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  return true;
}

// State of one request across the handler's calls.
struct RequestState {
  Clock::time_point started = Clock::now();
  std::string body;
  bool tooLarge = false;
};

// What the extension produced through the control block's callbacks.
struct ExtensionCall {
  MHD_Connection* connection = nullptr;
  std::string protocol;
  std::string contentLength;
  std::string method;
  std::string pathInfo;
  std::string queryString;
  unsigned status = 200;
  std::string headers;
  std::string body;
  bool headerSent = false;
  bool wrote = false;
};

int GetServerVariable(void* connId, const char* name, void* buffer, uint32_t* size) {
  auto* call = static_cast<ExtensionCall*>(connId);
  if (!name || !size) return 0;
  std::string value;
  std::string_view n(name);
  if (n == "SERVER_PROTOCOL") value = call->protocol;
  else if (n == "CONTENT_LENGTH") value = call->contentLength;
  else if (n == "REQUEST_METHOD") value = call->method;
  else if (n == "PATH_INFO") value = call->pathInfo;
  else if (n == "QUERY_STRING") value = call->queryString;
  else return 0;
  if (!buffer || *size < value.size() + 1) {
    *size = static_cast<uint32_t>(value.size() + 1);
    return 0;
  }
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  *size = static_cast<uint32_t>(value.size() + 1);
  return 1;
}

int WriteClient(void* connId, const void* data, uint32_t* bytes, uint32_t) {
  auto* call = static_cast<ExtensionCall*>(connId);
  if (!bytes) return 0;
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
  unsigned code = 200;
  if (status) {
    std::from_chars(status, status + std::strlen(status), code);
    if (code < 100 || code > 599) code = 500;
  }
  call->status = code;
  if (dataType) call->headers = static_cast<const char*>(dataType);
  call->headerSent = true;
  return 1;
}

void LogAccess(const char* method, const char* url, unsigned status, std::size_t bytes, Clock::time_point started) {
  auto ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  std::fprintf(stderr, "%s %s %u %zu %.1fms\n", method, url, status, bytes, ms);
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, MHD_Response* response, const char* method,
                 const char* url, std::size_t bytes, Clock::time_point started) {
  if (!response) return MHD_NO;
  MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  LogAccess(method, url, status, bytes, started);
  return result;
}

MHD_Result QueueText(MHD_Connection* connection, unsigned status, const std::string& text, const char* method,
                     const char* url, Clock::time_point started) {
  MHD_Response* response =
      MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
  if (response) MHD_add_response_header(response, "Content-Type", "text/plain");
  return Queue(connection, status, response, method, url, text.size(), started);
}

// Adds the extension's header lines except those the server writes itself.
void AddExtensionHeaders(MHD_Response* response, const std::string& block) {
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t end = block.find("\r\n", pos);
    if (end == std::string::npos) end = block.size();
    std::string line = block.substr(pos, end - pos);
    pos = end + 2;
    auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    if (value.empty() || StartsWithIgnoringCase(name, "Content-Length")) continue;
    MHD_add_response_header(response, name.c_str(), value.c_str());
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

MHD_Result ServeImage(const HttpHost& host, MHD_Connection* connection, const char* method, const char* url,
                      Clock::time_point started) {
  std::string name = std::string(url).substr(std::strlen("/images/"));
  if (name.empty() || name.find("..") != std::string::npos || name.find('/') != std::string::npos)
    return QueueText(connection, 404, "Not Found\n", method, url, started);
  std::string path = host.Options().imagesDir + "/" + name;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    return QueueText(connection, 404, "Not Found\n", method, url, started);
  }
  MHD_Response* response = MHD_create_response_from_fd(static_cast<uint64_t>(st.st_size), fd);
  if (!response) {
    close(fd);
    return MHD_NO;
  }
  MHD_add_response_header(response, "Content-Type", ImageContentType(name));
  return Queue(connection, 200, response, method, url, static_cast<std::size_t>(st.st_size), started);
}

MHD_Result CallExtension(const HttpHost& host, MHD_Connection* connection, const char* method, const char* url,
                         const char* version, const std::string& pathInfo, RequestState& state) {
  ExtensionCall call;
  call.connection = connection;
  call.protocol = version ? version : "HTTP/1.1";
  const char* declared = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
  call.contentLength = declared ? declared : std::to_string(state.body.size());
  call.method = method;
  call.pathInfo = pathInfo;
  const char* query = std::strchr(url, '?');
  call.queryString = query ? query + 1 : "";

  EXTENSION_CONTROL_BLOCK ecb{};
  ecb.cbSize = sizeof ecb;
  ecb.dwVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  ecb.ConnID = &call;
  ecb.dwHttpStatusCode = 200;
  ecb.lpszMethod = call.method.c_str();
  ecb.lpszQueryString = call.queryString.c_str();
  ecb.lpszPathInfo = call.pathInfo.c_str();
  const char* contentType = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Type");
  ecb.lpszContentType = contentType ? contentType : "";
  ecb.cbTotalBytes = static_cast<uint32_t>(state.body.size());
  ecb.cbAvailable = static_cast<uint32_t>(state.body.size());
  ecb.lpbData = reinterpret_cast<const unsigned char*>(state.body.data());
  ecb.GetServerVariable = &GetServerVariable;
  ecb.WriteClient = &WriteClient;
  ecb.ReadClient = &ReadClient;
  ecb.ServerSupportFunction = &ServerSupportFunction;

  uint32_t answer = host.Extension().HttpExtensionProc(&ecb);
  if (answer != HSE_STATUS_SUCCESS && !call.headerSent && !call.wrote)
    return QueueText(connection, 404, "Not Found\n", method, url, state.started);

  MHD_Response* response = MHD_create_response_from_buffer(call.body.size(), call.body.data(), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  AddExtensionHeaders(response, call.headers);
  unsigned status = call.headerSent ? call.status : ecb.dwHttpStatusCode;
  return Queue(connection, status, response, method, url, call.body.size(), state.started);
}

MHD_Result HandleRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char* version, const char* uploadData, size_t* uploadSize, void** context) {
  auto& host = *static_cast<HttpHost*>(cls);
  auto* state = static_cast<RequestState*>(*context);
  if (!state) {
    state = new RequestState;  // owned by MHD until RequestCompleted
    *context = state;
    const char* declared = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
    unsigned long long length = 0;
    if (declared) std::from_chars(declared, declared + std::strlen(declared), length);
    if (length > HttpHost::kMaxBody)
      return QueueText(connection, 413, "Request Entity Too Large\n", method, url, state->started);
    return MHD_YES;
  }
  if (*uploadSize > 0) {
    if (state->body.size() + *uploadSize > HttpHost::kMaxBody) state->tooLarge = true;
    else state->body.append(uploadData, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  if (state->tooLarge) return QueueText(connection, 413, "Request Entity Too Large\n", method, url, state->started);

  std::string path(url);
  if (auto q = path.find('?'); q != std::string::npos) path.resize(q);
  std::string pathInfo;
  if (ExtensionPathInfo(path, pathInfo))
    return CallExtension(host, connection, method, url, version, pathInfo, *state);
  if (!host.Options().imagesDir.empty() && path.rfind("/images/", 0) == 0)
    return ServeImage(host, connection, method, path.c_str(), state->started);
  if (path == "/") {
    MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    if (response) MHD_add_response_header(response, "Location", "/Dovecrest.dll");
    return Queue(connection, 302, response, method, url, 0, state->started);
  }
  return QueueText(connection, 404, "Not Found\n", method, url, state->started);
}

void RequestCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  delete static_cast<RequestState*>(*context);
  *context = nullptr;
}

}  // namespace

bool ExtensionPathInfo(const std::string& url, std::string& pathInfo) {
  constexpr std::string_view kName = "/Dovecrest.dll";
  if (!StartsWithIgnoringCase(url, kName)) return false;
  std::string rest = url.substr(kName.size());
  if (!rest.empty() && rest.front() != '/') return false;
  pathInfo = rest;
  return true;
}

bool HttpHost::Start(std::string& error) {
  sockaddr_storage address{};
  socklen_t addressLength = 0;
  unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, options_.bindAddress.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(options_.port));
    addressLength = sizeof *v4;
  } else if (inet_pton(AF_INET6, options_.bindAddress.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(options_.port));
    addressLength = sizeof *v6;
    flags |= MHD_USE_IPv6;
  } else {
    error = "invalid bind address '" + options_.bindAddress + "'";
    return false;
  }
  (void)addressLength;
  daemon_ = MHD_start_daemon(flags, static_cast<uint16_t>(options_.port), nullptr, nullptr, &HandleRequest, this,
                             MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
                             MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeout,
                             MHD_OPTION_NOTIFY_COMPLETED, &RequestCompleted, nullptr,
                             MHD_OPTION_END);
  if (!daemon_) {
    error = "cannot listen on " + options_.bindAddress + ":" + std::to_string(options_.port);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : options_.port;
  return true;
}

void HttpHost::Stop() {
  if (!daemon_) return;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

}  // namespace dovecrest

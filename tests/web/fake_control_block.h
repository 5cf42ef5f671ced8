// A control block for driving the extension in-process: server variables, a body
// delivered in the first buffer and by later reads, and a record of what was sent.
#pragma once

#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "web/extension_abi.h"

namespace dovecrest::testing {

class FakeControlBlock {
 public:
  FakeControlBlock(std::string method, std::string pathInfo) : method_(std::move(method)), pathInfo_(std::move(pathInfo)) {
    variables["SERVER_PROTOCOL"] = "HTTP/1.1";
    ecb_.cbSize = sizeof ecb_;
    ecb_.ConnID = this;
    ecb_.dwHttpStatusCode = 200;
    ecb_.lpszMethod = method_.c_str();
    ecb_.lpszPathInfo = pathInfo_.c_str();
    ecb_.lpszQueryString = "";
    ecb_.lpszContentType = "application/x-www-form-urlencoded";
    ecb_.GetServerVariable = &GetServerVariable;
    ecb_.WriteClient = &WriteClient;
    ecb_.ReadClient = &ReadClient;
    ecb_.ServerSupportFunction = &ServerSupportFunction;
  }

  // The body: `available` bytes come with the request, the rest through ReadClient.
  // CONTENT_LENGTH is set to the whole length unless given.
  void SetBody(std::string body, std::size_t available, const char* contentLength = nullptr) {
    body_ = std::move(body);
    available = std::min(available, body_.size());
    ecb_.lpbData = reinterpret_cast<const unsigned char*>(body_.data());
    ecb_.cbAvailable = static_cast<uint32_t>(available);
    ecb_.cbTotalBytes = static_cast<uint32_t>(body_.size());
    readPos_ = available;
    variables["CONTENT_LENGTH"] = contentLength ? contentLength : std::to_string(body_.size());
  }

  EXTENSION_CONTROL_BLOCK& Ecb() { return ecb_; }

  std::map<std::string, std::string> variables;
  // Called at each ReadClient before it answers (a test may block here).
  std::function<void()> onRead;

  std::string status;
  std::string headers;
  std::string written;
  int headerCalls = 0;
  int readCalls = 0;

  // Everything the client received: status line, header block and body.
  std::string Wire() const { return headerCalls ? status + "\r\n" + headers + written : written; }

 private:
  static FakeControlBlock& Self(void* id) { return *static_cast<FakeControlBlock*>(id); }

  static int GetServerVariable(void* id, const char* name, void* buffer, uint32_t* size) {
    auto& self = Self(id);
    auto it = self.variables.find(name);
    if (it == self.variables.end()) return 0;
    if (*size < it->second.size() + 1) {
      *size = static_cast<uint32_t>(it->second.size() + 1);
      return 0;
    }
    std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
    *size = static_cast<uint32_t>(it->second.size() + 1);
    return 1;
  }
  static int WriteClient(void* id, const void* data, uint32_t* bytes, uint32_t) {
    Self(id).written.append(static_cast<const char*>(data), *bytes);
    return 1;
  }
  static int ReadClient(void* id, void* buffer, uint32_t* size) {
    auto& self = Self(id);
    ++self.readCalls;
    if (self.onRead) self.onRead();
    std::size_t n = std::min<std::size_t>(*size, self.body_.size() - self.readPos_);
    std::memcpy(buffer, self.body_.data() + self.readPos_, n);
    self.readPos_ += n;
    *size = static_cast<uint32_t>(n);
    return n > 0 ? 1 : 0;
  }
  static int ServerSupportFunction(void* id, uint32_t request, void* buffer, uint32_t*, void* dataType) {
    auto& self = Self(id);
    if (request != HSE_REQ_SEND_RESPONSE_HEADER) return 0;
    ++self.headerCalls;
    self.status = static_cast<const char*>(buffer);
    self.headers = static_cast<const char*>(dataType);
    return 1;
  }

  std::string method_, pathInfo_, body_;
  std::size_t readPos_ = 0;
  EXTENSION_CONTROL_BLOCK ecb_{};
};

}  // namespace dovecrest::testing

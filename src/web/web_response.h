// The response of one request: status, content type and content, and its framing
// onto the server connection.
#pragma once

#include <string>

#include "web/extension_abi.h"

namespace dovecrest {

class TWebResponse {
 public:
  TWebResponse(EXTENSION_CONTROL_BLOCK& ecb, bool http10) : ecb_(ecb), http10_(http10) {}

  int StatusCode = 200;
  std::string ReasonString = "OK";
  std::string ContentType = "text/html";
  std::string Content;

  // "1.0" when the server passed no SERVER_PROTOCOL: then only the content is written.
  std::string Version() const { return http10_ ? "1.0" : "1.1"; }
  bool Sent() const { return sent_; }

  // Sends the status line, the header block and the content in one write.
  void SendResponse();

 private:
  EXTENSION_CONTROL_BLOCK& ecb_;
  bool http10_;
  bool sent_ = false;
};

// Writes bytes to the client; answers false when the server refused them.
bool WriteClient(EXTENSION_CONTROL_BLOCK& ecb, const std::string& bytes);

// Sends a status line and a header block through the server support function.
bool SendResponseHeader(EXTENSION_CONTROL_BLOCK& ecb, const std::string& status, const std::string& headers);

}  // namespace dovecrest

// Response framing.
#include "web/web_response.h"

namespace dovecrest {

bool WriteClient(EXTENSION_CONTROL_BLOCK& ecb, const std::string& bytes) {
  if (!ecb.WriteClient) return false;
  uint32_t size = static_cast<uint32_t>(bytes.size());
  return ecb.WriteClient(ecb.ConnID, bytes.data(), &size, 0) != 0;
}

bool SendResponseHeader(EXTENSION_CONTROL_BLOCK& ecb, const std::string& status, const std::string& headers) {
  if (!ecb.ServerSupportFunction) return false;
  uint32_t size = static_cast<uint32_t>(status.size());
  return ecb.ServerSupportFunction(ecb.ConnID, HSE_REQ_SEND_RESPONSE_HEADER,
                                   const_cast<char*>(status.c_str()), &size,
                                   const_cast<char*>(headers.c_str())) != 0;
}

void TWebResponse::SendResponse() {
  sent_ = true;
  if (!http10_) {
    std::string status = std::to_string(StatusCode) + " " + ReasonString;
    std::string headers;
    if (!ContentType.empty()) headers += "Content-Type: " + ContentType + "\r\n";
    headers += "Content-Length: " + std::to_string(Content.size()) + "\r\n";
    headers += "Content:\r\n\r\n";
    ecb_.dwHttpStatusCode = static_cast<uint32_t>(StatusCode);
    SendResponseHeader(ecb_, status, headers);
  }
  WriteClient(ecb_, Content);
}

}  // namespace dovecrest

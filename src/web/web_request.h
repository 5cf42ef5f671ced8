// One HTTP request as the extension sees it through the server's control block.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/extension_abi.h"

namespace dovecrest {

class TWebRequest {
 public:
  explicit TWebRequest(EXTENSION_CONTROL_BLOCK& ecb) : ecb_(ecb) {}

  std::string Method() const;
  std::string PathInfo() const;
  std::string GetFieldByName(std::string_view serverVariable) const;

  // The declared body length: CONTENT_LENGTH as a decimal number, 0 when it is missing
  // or not a number.
  long long ContentLength() const;

  // The value of a form field of the body (parsed once, at the first look-up).
  std::string ContentField(std::string_view name);

 private:
  std::string ReadBody() const;

  EXTENSION_CONTROL_BLOCK& ecb_;
  std::optional<std::vector<std::string>> contentFields_;
};

}  // namespace dovecrest

// Request access over the control block: server variables, body reading, form fields.
#include "web/web_request.h"

#include <charconv>

#include "web/form_fields.h"

namespace dovecrest {

std::string TWebRequest::Method() const { return ecb_.lpszMethod ? ecb_.lpszMethod : ""; }

std::string TWebRequest::PathInfo() const { return ecb_.lpszPathInfo ? ecb_.lpszPathInfo : ""; }

std::string TWebRequest::GetFieldByName(std::string_view serverVariable) const {
  if (!ecb_.GetServerVariable) return {};
  std::string name(serverVariable);
  std::string buffer(256, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t size = static_cast<uint32_t>(buffer.size());
    if (ecb_.GetServerVariable(ecb_.ConnID, name.c_str(), buffer.data(), &size)) {
      // The size counts the terminating zero.
      buffer.resize(size > 0 && size <= buffer.size() ? size - 1 : 0);
      if (auto nul = buffer.find('\0'); nul != std::string::npos) buffer.resize(nul);
      return buffer;
    }
    if (size <= buffer.size() || size > (1u << 20)) return {};
    buffer.assign(size, '\0');  // too small: the host told how much it needs
  }
  return {};
}

long long TWebRequest::ContentLength() const {
  std::string text = GetFieldByName("CONTENT_LENGTH");
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

std::string TWebRequest::ReadBody() const {
  long long length = ContentLength();
  if (length <= 0) return {};
  std::string body;
  if (ecb_.lpbData && ecb_.cbAvailable > 0) {
    auto take = std::min<long long>(length, ecb_.cbAvailable);
    body.assign(reinterpret_cast<const char*>(ecb_.lpbData), static_cast<std::size_t>(take));
  }
  // Further reads until the declared length is reached; a zero or failed read means
  // the client sends no more.
  char chunk[8192];
  while (static_cast<long long>(body.size()) < length && ecb_.ReadClient) {
    uint32_t size = static_cast<uint32_t>(
        std::min<long long>(sizeof chunk, length - static_cast<long long>(body.size())));
    if (!ecb_.ReadClient(ecb_.ConnID, chunk, &size) || size == 0) break;
    body.append(chunk, std::min<std::size_t>(size, sizeof chunk));
  }
  return body;
}

std::string TWebRequest::ContentField(std::string_view name) {
  if (!contentFields_) contentFields_ = ParseFormFields(ReadBody());
  return FindFormField(*contentFields_, name);
}

}  // namespace dovecrest

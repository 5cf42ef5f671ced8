// Form-field parsing of request bodies.
#include "web/form_fields.h"

#include "platform/code_page.h"
#include "platform/exception.h"

namespace dovecrest {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string HTTPDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else if (i + 1 < text.size() && text[i + 1] == '%') {
      out += '%';
      ++i;
    } else {
      std::string_view digits = text.substr(i + 1, 2);
      if (digits.size() < 2 || HexValue(digits[0]) < 0 || HexValue(digits[1]) < 0)
        throw tarn::EConvertError("'$" + std::string(digits) + "' is not a valid integer value");
      out += static_cast<char>(HexValue(digits[0]) * 16 + HexValue(digits[1]));
      i += 2;
    }
  }
  return out;
}

std::vector<std::string> ParseFormFields(std::string_view body) {
  if (auto nul = body.find('\0'); nul != std::string_view::npos) body = body.substr(0, nul);
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find_first_of("&\r\n", start);
    if (end == std::string_view::npos) end = body.size();
    if (end > start) fields.push_back(HTTPDecode(body.substr(start, end - start)));
    start = end + 1;
  }
  return fields;
}

std::string FindFormField(const std::vector<std::string>& fields, std::string_view name) {
  for (const auto& field : fields) {
    auto eq = field.find('=');
    std::string_view fieldName = std::string_view(field).substr(0, eq);
    if (tarn::AnsiSameText(fieldName, name)) return eq == std::string::npos ? std::string() : field.substr(eq + 1);
  }
  return {};
}

}  // namespace dovecrest

// Filling the component messages.
#include "components/db_messages.h"

#include <charconv>

namespace tarn {

std::string FormatMessage(std::string_view pattern, std::string_view first, std::string_view second) {
  std::string text;
  int used = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
      text += used++ == 0 ? first : second;
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

std::string IntToStr(std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace tarn

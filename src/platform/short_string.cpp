// Cutting system-code-page texts to a byte length on character boundaries.
#include "platform/short_string.h"

namespace tarn {

std::size_t CutLength(std::string_view text, std::size_t maxLength) noexcept {
  if (text.size() <= maxLength) return text.size();
  std::size_t i = 0;
  while (i < maxLength) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t width = 1;
    if (IsLeadByte936(c) && i + 1 < text.size() && IsTrailByte936(static_cast<unsigned char>(text[i + 1]))) width = 2;
    if (i + width > maxLength) break;
    i += width;
  }
  return i;
}

std::string CutText(std::string_view text, std::size_t maxLength) {
  return std::string(text.substr(0, CutLength(text, maxLength)));
}

}  // namespace tarn

// Rules for the names of fields and indexes stored in table files: the
// characters a name may start with, trimming, and comparison ignoring case.
#pragma once

#include <string_view>

namespace tarn {

// A name starts with A-Z, a-z, the underscore or a character code 128..254.
constexpr bool IsNameStartChar(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

// The name without leading and trailing blanks.
std::string_view TrimName(std::string_view name) noexcept;

// True when the trimmed name is not empty and starts with a letter.
bool IsValidObjectName(std::string_view name) noexcept;

// Trimmed names compared without regard to case.
bool SameObjectName(std::string_view a, std::string_view b) noexcept;

}  // namespace tarn

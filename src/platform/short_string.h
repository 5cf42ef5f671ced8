// Short strings: engine texts (names, paths, context texts) are byte strings in
// the system code page (936) of at most 255 bytes. Cutting steps over
// double-byte characters whole, so a cut never leaves half a character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarn {

inline constexpr std::size_t ShortStringLength = 255;

// True for a lead byte of a double-byte character of code page 936.
constexpr bool IsLeadByte936(unsigned char c) noexcept { return c >= 0x81 && c <= 0xFE; }
// True for a valid trail byte of a double-byte character of code page 936.
constexpr bool IsTrailByte936(unsigned char c) noexcept { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

// Length of the longest prefix of `text` of at most `maxLength` bytes that ends
// on a character boundary.
std::size_t CutLength(std::string_view text, std::size_t maxLength) noexcept;

// The text cut to at most `maxLength` bytes on a character boundary.
std::string CutText(std::string_view text, std::size_t maxLength = ShortStringLength);

}  // namespace tarn

// System code page text (code page 936, GBK): double-byte character scanning,
// cutting to a byte length, case mapping and case-insensitive name comparison.
// Every routine steps over double-byte characters whole, so a trail byte is
// never taken for an ASCII letter, quote or other single-byte character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarn {

inline constexpr unsigned kSystemCodePage = 936;

// A byte that starts a double-byte character (0x81..0xFE).
constexpr bool IsLeadByte(unsigned char b) noexcept { return b >= 0x81 && b <= 0xFE; }

// A byte that may follow a lead byte (0x40..0xFE except 0x7F).
constexpr bool IsTrailByte(unsigned char b) noexcept { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// Byte length (1 or 2) of the character that starts at text[pos]; 0 when pos is
// at or past the end. A lead byte without a valid trail byte counts as one byte.
std::size_t CharLength(std::string_view text, std::size_t pos) noexcept;

// Position of the character after the one at pos (text.size() at the end).
std::size_t NextCharPos(std::string_view text, std::size_t pos) noexcept;

// True when the byte at pos is the second byte of a double-byte character,
// scanning from the start of the text.
bool IsTrailBytePosition(std::string_view text, std::size_t pos) noexcept;

// Number of characters in the text (double-byte characters count once).
std::size_t CharCount(std::string_view text) noexcept;

// The largest byte length <= maxBytes that does not split a double-byte character.
std::size_t CutLength(std::string_view text, std::size_t maxBytes) noexcept;

// The text cut to at most maxBytes bytes without splitting a double-byte character.
std::string CutToLength(std::string_view text, std::size_t maxBytes);

// Upper/lower casing of system code page text with simple per-character case
// mapping (no locale tailoring). A character whose mapped form has another byte
// length, or that cannot be encoded back, stays as it is; so the result always
// has the byte length of the input.
std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);

// In-place forms of the above (length never changes).
void AnsiUpperCaseInPlace(char* text, std::size_t length) noexcept;
void AnsiLowerCaseInPlace(char* text, std::size_t length) noexcept;

// Case-insensitive comparison of names (tables, fields, indexes, keywords):
// both texts upper-cased character-wise, then compared as unsigned bytes.
// Answers <0, 0 or >0.
int AnsiCompareText(std::string_view a, std::string_view b) noexcept;
bool AnsiSameText(std::string_view a, std::string_view b) noexcept;

// Case-sensitive comparison as unsigned bytes; <0, 0 or >0.
int AnsiCompareStr(std::string_view a, std::string_view b) noexcept;

}  // namespace tarn

// The code page of a table's text as expressions handle it. A table has one:
// GBK (code page 936, double-byte) for language 0 and for languages whose ANSI
// code page is double-byte, the language's single-byte ANSI code page
// otherwise. Comparison, LIKE, prefix comparison, casing, searching and
// trimming all step over characters and compare them through this one object,
// so `=` and LIKE never disagree about what a character is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarn {

class TTextCodePage {
 public:
  TTextCodePage(std::uint16_t languageID, std::uint16_t sortID);

  std::uint16_t LanguageID() const noexcept { return languageID_; }
  std::uint16_t SortID() const noexcept { return sortID_; }
  bool DoubleByte() const noexcept { return doubleByte_; }

  // Byte length (1 or 2) of the character at text[pos]; 0 at or past the end.
  std::size_t CharLength(std::string_view text, std::size_t pos) const noexcept;
  std::size_t NextCharPos(std::string_view text, std::size_t pos) const noexcept;
  // True when the byte at pos is the second byte of a double-byte character.
  bool IsTrailBytePosition(std::string_view text, std::size_t pos) const noexcept;
  // The largest byte length <= maxBytes that does not split a character.
  std::size_t CutLength(std::string_view text, std::size_t maxBytes) const noexcept;

  // Whole texts, -1, 0 or 1: language 0 in byte order (without regard to case
  // by the system code page's case mapping); any other language by its
  // locale's accent-blind collation.
  int Compare(std::string_view a, std::string_view b, bool caseInsensitive) const;
  // Two characters as CharLength delimits them, for LIKE: language 0 byte
  // equality; otherwise the locale's accent-blind, case-sensitive comparison.
  bool SameChar(std::string_view a, std::string_view b) const;

  // Case mapping in place; the byte length never changes.
  void UpperCase(char* text, std::size_t length) const;
  void LowerCase(char* text, std::size_t length) const;

 private:
  std::uint16_t languageID_;
  std::uint16_t sortID_;
  bool doubleByte_;
};

}  // namespace tarn

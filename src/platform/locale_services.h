// Locale services for table languages: locale identifiers, locale validity,
// accent-blind string collation and case mapping of text in a language's ANSI
// code page. Language 0 ("ANSI Standard") is plain byte order and the system
// code page's case mapping.
//
// Languages other than 0 use ICU collators, one per (language, sort, case
// flag), created on first use and shared by all threads for the life of the
// process. Text bytes are decoded with the language's ANSI code page through
// 256-entry tables. Comparison ignores non-spacing marks (accents), treats
// punctuation and symbols as ordinary characters, and ignores case only when
// asked to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

// Sort IDs within a language.
inline constexpr std::uint16_t SRT_DEFAULT = 0;
inline constexpr std::uint16_t SRT_GERMAN_PHONE_BOOK = 1;

// Primary language of German (bits 0-9 of a language ID).
inline constexpr std::uint16_t kLangGerman = 0x07;

// A locale is sort ID x 65,536 + language ID.
constexpr std::uint32_t OSLocaleID(std::uint16_t languageID, std::uint16_t sortID) noexcept {
  return static_cast<std::uint32_t>(sortID) * 65536u + languageID;
}
// A language ID is sub language x 1024 + primary language.
constexpr std::uint16_t OSLanguageID(std::uint16_t primary, std::uint16_t sub) noexcept {
  return static_cast<std::uint16_t>(sub * 1024u + primary);
}
constexpr std::uint16_t OSPrimaryLanguage(std::uint16_t languageID) noexcept {
  return static_cast<std::uint16_t>(languageID & 0x3FF);
}
constexpr std::uint16_t OSSubLanguage(std::uint16_t languageID) noexcept {
  return static_cast<std::uint16_t>(languageID >> 10);
}
constexpr std::uint16_t OSLocaleLanguage(std::uint32_t localeID) noexcept {
  return static_cast<std::uint16_t>(localeID & 0xFFFF);
}
constexpr std::uint16_t OSLocaleSort(std::uint32_t localeID) noexcept {
  return static_cast<std::uint16_t>(localeID >> 16);
}

// True when the platform supports the locale: language 0 with sort 0, or a
// supported language with sort 0 (or, for German, sort 1).
bool OSValidLocale(std::uint32_t localeID);
inline bool OSValidLocale(std::uint16_t languageID, std::uint16_t sortID) {
  return OSValidLocale(OSLocaleID(languageID, sortID));
}

// The ANSI code page of a language (936 for language 0; 0 when unsupported).
unsigned OSAnsiCodePage(std::uint16_t languageID);

// The ICU locale name used for a locale ("" when unsupported or language 0).
std::string OSCollationLocaleName(std::uint16_t languageID, std::uint16_t sortID);

// Locale comparison of two strings; -1, 0 or 1. A length of 0 compares both
// as zero-terminated strings; otherwise at most length bytes of each are
// compared (a zero byte inside ends the string). An unsupported locale
// compares in byte order.
int OSCompareStrings(std::uint16_t languageID, std::uint16_t sortID, const char* s1, bool caseInsensitive,
                     std::size_t length, const char* s2);

// The same for counted strings (zero bytes are characters here).
int OSCompareStrings(std::uint16_t languageID, std::uint16_t sortID, std::string_view s1, std::string_view s2,
                     bool caseInsensitive);

// Case-sensitive, accent-blind comparison of two single characters; -1, 0 or 1.
int OSCompareCharNoAccent(std::uint16_t languageID, std::uint16_t sortID, char c1, char c2);

// In-place case mapping of a zero-terminated string with the locale's code
// page. A character whose mapping is not in the code page stays as it is.
void OSUpperString(std::uint16_t languageID, std::uint16_t sortID, char* s);
void OSLowerString(std::uint16_t languageID, std::uint16_t sortID, char* s);

// Case mapping of a counted string (same rules; the length never changes).
std::string OSUpperCase(std::uint16_t languageID, std::uint16_t sortID, std::string_view s);
std::string OSLowerCase(std::uint16_t languageID, std::uint16_t sortID, std::string_view s);

}  // namespace tarn

// Locale formats: the locale-dependent text formats of a language (currency,
// numbers, dates, times, month and day names) as the engine keeps them, and
// reading a locale's defaults from ICU's locale data.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tarn {

struct TLanguageSettings {
  std::string CurrencyString;
  std::uint8_t CurrencyFormat = 0;       // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  std::uint8_t NegCurrFormat = 0;        // 0..15, the Windows negative currency forms
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  std::uint8_t CurrencyDecimals = 2;
  char DateSeparator = '-';
  std::string ShortDateFormat;
  std::string LongDateFormat;
  char TimeSeparator = ':';
  std::string TimeAMString;
  std::string TimePMString;
  std::string ShortTimeFormat;
  std::string LongTimeFormat;
  std::array<std::string, 12> ShortMonthNames;
  std::array<std::string, 12> LongMonthNames;
  std::array<std::string, 7> ShortDayNames;  // Sunday first
  std::array<std::string, 7> LongDayNames;

  bool operator==(const TLanguageSettings&) const = default;
};

// Overwrites the settings with what the ICU locale (for example "de_DE") gives,
// texts encoded in the ANSI code page (unmappable characters become '?');
// anything the locale lacks, or that has no one-byte form where one byte is
// needed, keeps its value.
void OSReadLocaleFormats(const std::string& locale, unsigned codePage, TLanguageSettings& settings);

}  // namespace tarn

// Language settings: the locale-dependent text formats (currency, numbers,
// dates, times, month and day names) of the process, guarded by their own
// lock, and the defaults of each table language.
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

// The process-wide settings lock (recursive): held around a sequence of
// Get/SetLanguageSettings that must not interleave with other threads.
void LockLanguageSettings();
void UnlockLanguageSettings();

// The process's current formats (initially the language-0 defaults).
void GetLanguageSettings(TLanguageSettings& settings);
// Replaces the process's current formats.
void SetLanguageSettings(const TLanguageSettings& settings);

// The default formats of a language: fixed values for language 0; otherwise
// the platform's locale data for (language, sort), texts in the language's
// ANSI code page, with the usual defaults where the locale has none.
void GetDefaultLanguageSettings(std::uint16_t languageID, std::uint16_t sortID, TLanguageSettings& settings);

// Holds the settings lock for a scope.
class TLanguageSettingsLock {
 public:
  TLanguageSettingsLock() { LockLanguageSettings(); }
  ~TLanguageSettingsLock() { UnlockLanguageSettings(); }
  TLanguageSettingsLock(const TLanguageSettingsLock&) = delete;
  TLanguageSettingsLock& operator=(const TLanguageSettingsLock&) = delete;
};

}  // namespace tarn

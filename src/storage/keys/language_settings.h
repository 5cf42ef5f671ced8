// Language settings: the locale-dependent text formats (currency, numbers,
// dates, times, month and day names) of the process, guarded by their own
// lock, and the defaults of each table language.
#pragma once

#include <cstdint>

#include "platform/locale_formats.h"

namespace tarn {

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

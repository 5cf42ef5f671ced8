// Language settings: the process's current formats under their lock, and the
// default formats of each language (from the platform's locale data).
#include "storage/keys/language_settings.h"

#include <mutex>

#include "platform/locale_formats.h"
#include "platform/locale_services.h"

namespace tarn {

namespace {

std::recursive_mutex& SettingsLock() {
  static std::recursive_mutex lock;
  return lock;
}

TLanguageSettings AnsiStandardSettings() {
  TLanguageSettings s;
  s.CurrencyString.clear();
  s.CurrencyFormat = 0;
  s.NegCurrFormat = 0;
  s.ThousandSeparator = ',';
  s.DecimalSeparator = '.';
  s.CurrencyDecimals = 2;
  s.DateSeparator = '-';
  s.ShortDateFormat = "yyyy-mm-dd";
  s.LongDateFormat = "dddd, mmmm dd, yyyy";
  s.TimeSeparator = ':';
  s.TimeAMString = "AM";
  s.TimePMString = "PM";
  s.ShortTimeFormat = "hh:mm";
  s.LongTimeFormat = "hh:mm:ss";
  s.ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  s.LongMonthNames = {"January", "February", "March",     "April",   "May",      "June",
                      "July",    "August",   "September", "October", "November", "December"};
  s.ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  s.LongDayNames = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  return s;
}

TLanguageSettings& Current() {
  static TLanguageSettings current = AnsiStandardSettings();
  return current;
}

}  // namespace

void LockLanguageSettings() { SettingsLock().lock(); }
void UnlockLanguageSettings() { SettingsLock().unlock(); }

void GetLanguageSettings(TLanguageSettings& settings) {
  std::lock_guard<std::recursive_mutex> guard(SettingsLock());
  settings = Current();
}

void SetLanguageSettings(const TLanguageSettings& settings) {
  std::lock_guard<std::recursive_mutex> guard(SettingsLock());
  Current() = settings;
}

void GetDefaultLanguageSettings(std::uint16_t languageID, std::uint16_t sortID, TLanguageSettings& settings) {
  settings = AnsiStandardSettings();
  if (languageID == 0) return;
  std::string locale = OSCollationLocaleName(languageID, sortID);
  if (locale.empty()) locale = OSCollationLocaleName(languageID, SRT_DEFAULT);
  if (locale.empty()) return;  // unsupported: the usual defaults
  locale = locale.substr(0, locale.find('@'));
  OSReadLocaleFormats(locale, OSAnsiCodePage(languageID), settings);
}

}  // namespace tarn

// Locale formats read from ICU: number and currency symbols, date and time
// patterns converted to the engine's format notation, month and day names.
#include "platform/locale_formats.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/udat.h>
#include <unicode/unum.h>

#include <memory>
#include <string_view>

namespace tarn {
namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const noexcept { ucnv_close(c); }
};
struct NumberFormatCloser {
  void operator()(UNumberFormat* f) const noexcept { unum_close(f); }
};
struct DateFormatCloser {
  void operator()(UDateFormat* f) const noexcept { udat_close(f); }
};

// Encodes UTF-16 text into the language's code page; unmappable characters
// become '?'.
class TEncoder {
 public:
  explicit TEncoder(unsigned codePage) {
    const std::string name = "windows-" + std::to_string(codePage);
    UErrorCode err = U_ZERO_ERROR;
    conv_.reset(ucnv_open(name.c_str(), &err));
    if (U_FAILURE(err)) conv_.reset();
    if (conv_) {
      err = U_ZERO_ERROR;
      ucnv_setSubstChars(conv_.get(), "?", 1, &err);
    }
  }
  std::string Encode(std::u16string_view text) const {
    if (!conv_ || text.empty()) return std::string();
    std::string out(text.size() * 4 + 4, '\0');
    UErrorCode err = U_ZERO_ERROR;
    const int32_t n = ucnv_fromUChars(conv_.get(), out.data(), static_cast<int32_t>(out.size()), text.data(),
                                      static_cast<int32_t>(text.size()), &err);
    if (U_FAILURE(err)) return std::string();
    out.resize(static_cast<std::size_t>(n));
    return out;
  }
  // A one-byte separator: spaces of any kind become ' '; anything that is
  // not one mappable byte gives the fallback.
  char Separator(std::u16string_view text, char fallback) const {
    if (text.size() != 1) return fallback;
    if (u_charType(text[0]) == U_SPACE_SEPARATOR) return ' ';
    const std::string enc = Encode(text);
    if (enc.size() != 1 || (enc[0] == '?' && text[0] != u'?')) return fallback;
    return enc[0];
  }

 private:
  std::unique_ptr<UConverter, ConverterCloser> conv_;
};

// An ICU date or time pattern in the engine's format notation: y, m (month),
// d, ddd/dddd (day names), h, m/mm (minutes after an hour), ss, AMPM; quoted
// ICU literals are kept in double quotes.
std::u16string ConvertDatePattern(std::u16string_view p) {
  std::u16string out;
  std::size_t i = 0;
  while (i < p.size()) {
    const char16_t c = p[i];
    std::size_t run = 1;
    while (i + run < p.size() && p[i + run] == c) ++run;
    switch (c) {
      case u'y': out += run == 2 ? u"yy" : u"yyyy"; break;
      case u'M': case u'L':
        out += run >= 4 ? u"mmmm" : run == 3 ? u"mmm" : run == 2 ? u"mm" : u"m";
        break;
      case u'd': out += run >= 2 ? u"dd" : u"d"; break;
      case u'E': case u'c': out += run >= 4 ? u"dddd" : u"ddd"; break;
      case u'H': case u'h': case u'k': case u'K': out += run >= 2 ? u"hh" : u"h"; break;
      case u'm': out += run >= 2 ? u"mm" : u"m"; break;  // minutes: "m" after an hour
      case u's': out += run >= 2 ? u"ss" : u"s"; break;
      case u'a': case u'b': case u'B': out += u"AMPM"; break;
      case u'G': case u'z': case u'Z': case u'v': case u'V': case u'O': case u'X': case u'x': case u'S':
        break;  // eras, zones and fractions have no place in these formats
      case u'\'': {
        std::size_t j = i + 1;
        std::u16string literal;
        while (j < p.size() && p[j] != u'\'') literal += p[j++];
        if (!literal.empty()) {
          out.push_back(u'"');
          out.append(literal);
          out.push_back(u'"');
        } else {
          out.push_back(u'\'');
        }
        i = j + 1;
        continue;
      }
      default: out.append(run, u_charType(c) == U_SPACE_SEPARATOR ? u' ' : c); break;
    }
    i += run;
  }
  // Trim separators left over from dropped fields.
  while (!out.empty() && (out.back() == u' ' || out.back() == u',')) out.pop_back();
  while (!out.empty() && out.front() == u' ') out.erase(out.begin());
  return out;
}

// The first character of a pattern that is neither a field letter nor a quote.
std::u16string FirstSeparator(std::u16string_view pattern) {
  for (char16_t c : pattern)
    if (!u_isalpha(c) && c != u'\'' && c != u'"') return std::u16string(1, c);
  return std::u16string();
}

std::u16string DatePattern(const char* locale, UDateFormatStyle timeStyle, UDateFormatStyle dateStyle) {
  UErrorCode err = U_ZERO_ERROR;
  std::unique_ptr<UDateFormat, DateFormatCloser> fmt(
      udat_open(timeStyle, dateStyle, locale, nullptr, 0, nullptr, 0, &err));
  if (U_FAILURE(err) || !fmt) return std::u16string();
  std::u16string buf(128, u'\0');
  err = U_ZERO_ERROR;
  int32_t n = udat_toPattern(fmt.get(), false, buf.data(), static_cast<int32_t>(buf.size()), &err);
  if (U_FAILURE(err) || n < 0) return std::u16string();
  buf.resize(static_cast<std::size_t>(n));
  return buf;
}

std::u16string DateSymbol(UDateFormat* fmt, UDateFormatSymbolType type, int32_t index) {
  std::u16string buf(64, u'\0');
  UErrorCode err = U_ZERO_ERROR;
  const int32_t n = udat_getSymbols(fmt, type, index, buf.data(), static_cast<int32_t>(buf.size()), &err);
  if (U_FAILURE(err) || n <= 0 || n > static_cast<int32_t>(buf.size())) return std::u16string();
  buf.resize(static_cast<std::size_t>(n));
  return buf;
}

std::u16string NumberSymbol(UNumberFormat* fmt, UNumberFormatSymbol symbol) {
  std::u16string buf(16, u'\0');
  UErrorCode err = U_ZERO_ERROR;
  const int32_t n = unum_getSymbol(fmt, symbol, buf.data(), static_cast<int32_t>(buf.size()), &err);
  if (U_FAILURE(err) || n <= 0 || n > static_cast<int32_t>(buf.size())) return std::u16string();
  buf.resize(static_cast<std::size_t>(n));
  return buf;
}

}  // namespace

void OSReadLocaleFormats(const std::string& locale, unsigned codePage, TLanguageSettings& s) {
  const TEncoder enc(codePage);
  const char* loc = locale.c_str();
  UErrorCode err = U_ZERO_ERROR;
  std::unique_ptr<UNumberFormat, NumberFormatCloser> cur(unum_open(UNUM_CURRENCY, nullptr, 0, loc, nullptr, &err));
  if (U_SUCCESS(err) && cur) {
    s.DecimalSeparator = enc.Separator(NumberSymbol(cur.get(), UNUM_DECIMAL_SEPARATOR_SYMBOL), s.DecimalSeparator);
    s.ThousandSeparator =
        enc.Separator(NumberSymbol(cur.get(), UNUM_GROUPING_SEPARATOR_SYMBOL), s.ThousandSeparator);
    const std::string symbol = enc.Encode(NumberSymbol(cur.get(), UNUM_CURRENCY_SYMBOL));
    if (!symbol.empty() && symbol.find('?') == std::string::npos) s.CurrencyString = symbol;
    const int32_t digits = unum_getAttribute(cur.get(), UNUM_MAX_FRACTION_DIGITS);
    if (digits >= 0 && digits <= 9) s.CurrencyDecimals = static_cast<std::uint8_t>(digits);
    std::u16string pattern(128, u'\0');
    err = U_ZERO_ERROR;
    const int32_t n = unum_toPattern(cur.get(), false, pattern.data(), static_cast<int32_t>(pattern.size()), &err);
    if (U_SUCCESS(err) && n > 0 && n <= static_cast<int32_t>(pattern.size())) {
      pattern.resize(static_cast<std::size_t>(n));
      pattern = pattern.substr(0, pattern.find(u';'));
      const std::size_t sign = pattern.find(u'\u00A4');
      const std::size_t digit = pattern.find_first_of(u"#0");
      if (sign != std::u16string::npos && digit != std::u16string::npos) {
        const bool prefix = sign < digit;
        const std::u16string_view between = prefix ? std::u16string_view(pattern).substr(sign + 1, digit - sign - 1)
                                                   : std::u16string_view(pattern).substr(0, sign);
        const bool spaced = prefix ? !between.empty() : (sign > 0 && u_charType(pattern[sign - 1]) == U_SPACE_SEPARATOR);
        s.CurrencyFormat = static_cast<std::uint8_t>(prefix ? (spaced ? 2 : 0) : (spaced ? 3 : 1));
        // The matching negative forms: -$1, -1$, -$ 1, -1 $.
        static constexpr std::uint8_t kNegative[4] = {1, 5, 9, 8};
        s.NegCurrFormat = kNegative[s.CurrencyFormat];
      }
    }
  }
  const std::u16string shortDate = DatePattern(loc, UDAT_NONE, UDAT_SHORT);
  const std::u16string longDate = DatePattern(loc, UDAT_NONE, UDAT_FULL);
  const std::u16string shortTime = DatePattern(loc, UDAT_SHORT, UDAT_NONE);
  const std::u16string longTime = DatePattern(loc, UDAT_MEDIUM, UDAT_NONE);
  if (!shortDate.empty()) {
    s.ShortDateFormat = enc.Encode(ConvertDatePattern(shortDate));
    s.DateSeparator = enc.Separator(FirstSeparator(shortDate), s.DateSeparator);
  }
  if (!longDate.empty()) s.LongDateFormat = enc.Encode(ConvertDatePattern(longDate));
  if (!shortTime.empty()) {
    s.ShortTimeFormat = enc.Encode(ConvertDatePattern(shortTime));
    s.TimeSeparator = enc.Separator(FirstSeparator(shortTime), s.TimeSeparator);
  }
  if (!longTime.empty()) s.LongTimeFormat = enc.Encode(ConvertDatePattern(longTime));

  err = U_ZERO_ERROR;
  std::unique_ptr<UDateFormat, DateFormatCloser> fmt(udat_open(UDAT_DEFAULT, UDAT_DEFAULT, loc, nullptr, 0, nullptr, 0, &err));
  if (U_FAILURE(err) || !fmt) return;
  auto setName = [&enc](std::string& target, const std::u16string& name) {
    const std::string text = enc.Encode(name);
    if (!text.empty()) target = text;
  };
  for (int i = 0; i < 12; ++i) {
    setName(s.ShortMonthNames[i], DateSymbol(fmt.get(), UDAT_STANDALONE_SHORT_MONTHS, i));
    setName(s.LongMonthNames[i], DateSymbol(fmt.get(), UDAT_STANDALONE_MONTHS, i));
  }
  for (int i = 0; i < 7; ++i) {  // ICU weekdays: 1 = Sunday
    setName(s.ShortDayNames[i], DateSymbol(fmt.get(), UDAT_STANDALONE_SHORT_WEEKDAYS, i + 1));
    setName(s.LongDayNames[i], DateSymbol(fmt.get(), UDAT_STANDALONE_WEEKDAYS, i + 1));
  }
  setName(s.TimeAMString, DateSymbol(fmt.get(), UDAT_AM_PMS, 0));
  setName(s.TimePMString, DateSymbol(fmt.get(), UDAT_AM_PMS, 1));
}

}  // namespace tarn

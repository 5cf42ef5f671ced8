// Locale-independent text forms of literal values.
#include "expressions/ansi_text_forms.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/code_page.h"
#include "platform/exception.h"
#include "expressions/bcd_values.h"
#include "expressions/date_time_values.h"
#include "expressions/expression_layer.h"
#include "storage/formats/data_types.h"

namespace tarn {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

bool ParseInt(std::string_view text, int& value) {
  text = Trim(text);
  if (text.empty()) return false;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

void AppendPadded(std::string& out, long long value, int width) {
  char buffer[24];
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value < 0 ? -value : value);
  (void)ec;
  const auto digits = static_cast<int>(ptr - buffer);
  if (value < 0) out += '-';
  for (int i = digits; i < width; ++i) out += '0';
  out.append(buffer, ptr);
}

[[noreturn]] void ConvertError(std::string_view text, std::string_view what) {
  std::string message = "'";
  message.append(text);
  message += "' is not a valid ";
  message.append(what);
  throw EConvertError(message);
}

}  // namespace

std::string AnsiDateToStr(std::int32_t dayNumber) {
  int year, month, day;
  DecodeDate(dayNumber, year, month, day);
  std::string out;
  AppendPadded(out, year, 4);
  out += '-';
  AppendPadded(out, month, 2);
  out += '-';
  AppendPadded(out, day, 2);
  return out;
}

std::string AnsiTimeToStr(std::int32_t milliseconds) {
  int hour, minute, second, ms;
  DecodeTime(milliseconds, hour, minute, second, ms);
  std::string out;
  const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
  AppendPadded(out, hour12, 2);
  out += ':';
  AppendPadded(out, minute, 2);
  // Seconds whenever seconds or milliseconds are not zero, so that a time
  // with milliseconds only (12:00:00.250) keeps them.
  if (second != 0 || ms != 0) {
    out += ':';
    AppendPadded(out, second, 2);
    if (ms != 0) {
      out += '.';
      AppendPadded(out, ms, 0);
    }
  }
  out += hour < 12 ? " AM" : " PM";
  return out;
}

std::string AnsiDateTimeToStr(double timeStamp) {
  const double days = std::floor(timeStamp / static_cast<double>(kMillisecondsPerDay));
  const double ms = timeStamp - days * static_cast<double>(kMillisecondsPerDay);
  return AnsiDateToStr(static_cast<std::int32_t>(days)) + " " + AnsiTimeToStr(static_cast<std::int32_t>(ms));
}

std::string AnsiBooleanToStr(bool value) { return value ? "True" : "False"; }

std::string AnsiFloatToStr(double value) {
  char buffer[64];
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  if (ec != std::errc()) return "0";
  return std::string(buffer, ptr);
}

std::string AnsiCurrToStr(std::int64_t currency) { return FixedToText(currency); }

bool TryStrToAnsiCurr(std::string_view text, std::int64_t& currency) { return TextToFixed(text, currency); }

std::int64_t StrToAnsiCurr(std::string_view text) {
  std::int64_t value = 0;
  if (!TryStrToAnsiCurr(text, value)) ConvertError(text, "floating point value");
  return value;
}

void ConvertStringToDateTime(std::uint8_t* buffer, std::size_t capacity, std::uint8_t dataType) {
  if (capacity < sizeof(double)) ConvertError({}, "date and time");
  std::size_t length = 0;
  while (length < capacity && buffer[length] != 0) ++length;
  const std::string text(reinterpret_cast<const char*>(buffer), length);
  switch (dataType) {
    case dtDate: {
      const std::int32_t day = StrToAnsiDate(text);
      std::memcpy(buffer, &day, sizeof day);
      break;
    }
    case dtTime: {
      const std::int32_t ms = StrToAnsiTime(text);
      std::memcpy(buffer, &ms, sizeof ms);
      break;
    }
    default: {
      const double stamp = StrToAnsiDateTime(text);
      std::memcpy(buffer, &stamp, sizeof stamp);
      break;
    }
  }
}

bool TryStrToAnsiDate(std::string_view text, std::int32_t& dayNumber) {
  text = Trim(text);
  const std::size_t first = text.find('-');
  if (first == std::string_view::npos) return false;
  const std::size_t second = text.find('-', first + 1);
  if (second == std::string_view::npos) return false;
  int year, month, day;
  if (!ParseInt(text.substr(0, first), year) || !ParseInt(text.substr(first + 1, second - first - 1), month) ||
      !ParseInt(text.substr(second + 1), day))
    return false;
  return TryEncodeDate(year, month, day, dayNumber);
}

bool TryStrToAnsiTime(std::string_view source, std::int32_t& milliseconds) {
  // Remove AM or PM wherever they are (without regard to case).
  std::string text;
  bool am = false, pm = false;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    if (i + 1 < source.size() && (source[i + 1] == 'M' || source[i + 1] == 'm')) {
      if (c == 'A' || c == 'a') {
        am = true;
        ++i;
        continue;
      }
      if (c == 'P' || c == 'p') {
        pm = true;
        ++i;
        continue;
      }
    }
    text += c;
  }
  const std::string_view trimmed = Trim(text);
  const std::size_t firstColon = trimmed.find(':');
  if (firstColon == std::string_view::npos) return false;
  const std::size_t secondColon = trimmed.find(':', firstColon + 1);
  int hour, minute, second = 0, ms = 0;
  if (!ParseInt(trimmed.substr(0, firstColon), hour)) return false;
  if (secondColon == std::string_view::npos) {
    if (!ParseInt(trimmed.substr(firstColon + 1), minute)) return false;
  } else {
    if (!ParseInt(trimmed.substr(firstColon + 1, secondColon - firstColon - 1), minute)) return false;
    const std::string_view seconds = trimmed.substr(secondColon + 1);
    const std::size_t dot = seconds.find('.');
    if (dot == std::string_view::npos) {
      if (!ParseInt(seconds, second)) return false;
    } else if (!ParseInt(seconds.substr(0, dot), second) || !ParseInt(seconds.substr(dot + 1), ms)) {
      return false;
    }
  }
  if (am && pm) return false;
  if (am && hour == 12) hour = 0;
  if (pm && hour != 12) hour += 12;
  return TryEncodeTime(hour, minute, second, ms, milliseconds);
}

bool TryStrToAnsiDateTime(std::string_view text, double& timeStamp) {
  text = Trim(text);
  const std::size_t blank = text.find(' ');
  std::int32_t day = 0, ms = 0;
  if (blank != std::string_view::npos) {
    if (!TryStrToAnsiDate(text.substr(0, blank), day) || !TryStrToAnsiTime(text.substr(blank + 1), ms)) return false;
  } else if (text.find(':') != std::string_view::npos) {
    if (!TryStrToAnsiTime(text, ms)) return false;
  } else if (!TryStrToAnsiDate(text, day)) {
    return false;
  }
  timeStamp = static_cast<double>(day) * static_cast<double>(kMillisecondsPerDay) + ms;
  return true;
}

bool TryStrToAnsiFloat(std::string_view text, double& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(value);
}

bool TryStrToAnsiInteger(std::string_view text, std::int64_t& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

std::int32_t StrToAnsiDate(std::string_view text) {
  std::int32_t day = 0;
  if (!TryStrToAnsiDate(text, day)) ConvertError(text, "date");
  return day;
}

std::int32_t StrToAnsiTime(std::string_view text) {
  std::int32_t ms = 0;
  if (!TryStrToAnsiTime(text, ms)) ConvertError(text, "time");
  return ms;
}

double StrToAnsiDateTime(std::string_view text) {
  double value = 0;
  if (!TryStrToAnsiDateTime(text, value)) ConvertError(text, "date and time");
  return value;
}

bool StrToAnsiBoolean(std::string_view text) {
  if (AnsiSameText(text, "TRUE")) return true;
  if (AnsiSameText(text, "FALSE")) return false;
  ConvertError(text, "boolean");
}

double StrToAnsiFloat(std::string_view text) {
  double value = 0;
  if (!TryStrToAnsiFloat(text, value)) ConvertError(text, "floating point value");
  return value;
}

bool IsADate(std::string_view text) {
  std::int32_t v;
  return TryStrToAnsiDate(text, v);
}
bool IsATime(std::string_view text) {
  std::int32_t v;
  return TryStrToAnsiTime(text, v);
}
bool IsADateTime(std::string_view text) {
  double v;
  return TryStrToAnsiDateTime(text, v);
}
bool IsABoolean(std::string_view text) { return AnsiSameText(text, "TRUE") || AnsiSameText(text, "FALSE"); }
bool IsAFloat(std::string_view text) {
  double v;
  return TryStrToAnsiFloat(text, v);
}
bool IsABCD(std::string_view text) {
  std::int64_t v;
  return TryStrToAnsiCurr(text, v);
}

namespace {
bool IntegerInRange(std::string_view text, std::int64_t low, std::int64_t high) {
  std::int64_t v;
  return TryStrToAnsiInteger(text, v) && v >= low && v <= high;
}
}  // namespace

bool IsAnInteger(std::string_view text) {
  return IntegerInRange(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
}
bool IsALargeInt(std::string_view text) {
  std::int64_t v;
  return TryStrToAnsiInteger(text, v);
}
bool IsASmallInt(std::string_view text) { return IntegerInRange(text, -32768, 32767); }
bool IsAWord(std::string_view text) { return IntegerInRange(text, 0, 65535); }
bool IsAByte(std::string_view text) { return IntegerInRange(text, 0, 255); }

}  // namespace tarn

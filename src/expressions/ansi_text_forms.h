// The fixed ("ANSI") text forms of dates, times, timestamps, booleans and
// floats and currency values that every literal uses, independent of the process locale, and the
// literal tests built on them. Reading failures raise EConvertError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarn {

std::string AnsiDateToStr(std::int32_t dayNumber);
std::string AnsiTimeToStr(std::int32_t milliseconds);
std::string AnsiDateTimeToStr(double timeStamp);
std::string AnsiBooleanToStr(bool value);
std::string AnsiFloatToStr(double value);
// Currency values are 64-bit integers of ten-thousandths (4-decimal fixed point).
std::string AnsiCurrToStr(std::int64_t currency);

std::int32_t StrToAnsiDate(std::string_view text);
std::int32_t StrToAnsiTime(std::string_view text);
double StrToAnsiDateTime(std::string_view text);
bool StrToAnsiBoolean(std::string_view text);
double StrToAnsiFloat(std::string_view text);
std::int64_t StrToAnsiCurr(std::string_view text);

// Replaces the zero-terminated date, time or timestamp literal at the start of
// buffer (capacity bytes, at least 8) by its binary value of that type.
// Raises EConvertError when the text is not a valid literal of the type.
void ConvertStringToDateTime(std::uint8_t* buffer, std::size_t capacity, std::uint8_t dataType);

// Non-raising forms: false when the text is not a valid literal.
bool TryStrToAnsiDate(std::string_view text, std::int32_t& dayNumber);
bool TryStrToAnsiTime(std::string_view text, std::int32_t& milliseconds);
bool TryStrToAnsiDateTime(std::string_view text, double& timeStamp);
bool TryStrToAnsiFloat(std::string_view text, double& value);
bool TryStrToAnsiInteger(std::string_view text, std::int64_t& value);
bool TryStrToAnsiCurr(std::string_view text, std::int64_t& currency);

bool IsADate(std::string_view text);
bool IsATime(std::string_view text);
bool IsADateTime(std::string_view text);
bool IsABoolean(std::string_view text);
bool IsAFloat(std::string_view text);
bool IsABCD(std::string_view text);        // currency text, at most 4 decimals
bool IsAnInteger(std::string_view text);   // 32-bit
bool IsALargeInt(std::string_view text);   // 64-bit
bool IsASmallInt(std::string_view text);   // -32768 to 32767
bool IsAWord(std::string_view text);       // 0 to 65535
bool IsAByte(std::string_view text);       // 0 to 255

}  // namespace tarn

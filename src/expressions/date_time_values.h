// Day numbers (day 1 = 1 January of year 1, proleptic Gregorian calendar),
// milliseconds since midnight, timestamps (day number x 86,400,000 + ms), and
// the current local date and time.
#pragma once

#include <cstdint>

namespace tarn {

inline constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

bool IsLeapYear(int year) noexcept;
int DaysInMonth(int year, int month) noexcept;
// False (day unchanged) unless 1 <= year <= 9999 and month and day are valid.
bool TryEncodeDate(int year, int month, int day, std::int32_t& dayNumber) noexcept;
// Day number of any proleptic Gregorian date, without range checks (year 0
// and negative years included; the result may be 0 or negative).
std::int64_t DayNumberOfCivil(int year, int month, int day) noexcept;
void DecodeDate(std::int32_t dayNumber, int& year, int& month, int& day) noexcept;
// Monday 1 to Sunday 7.
int DayOfWeek(std::int32_t dayNumber) noexcept;
// False unless the parts lie in 0-23, 0-59, 0-59, 0-999.
bool TryEncodeTime(int hour, int minute, int second, int millisecond, std::int32_t& ms) noexcept;
void DecodeTime(std::int32_t ms, int& hour, int& minute, int& second, int& millisecond) noexcept;

struct TLocalNow {
  std::int32_t Date;  // day number
  std::int32_t Time;  // milliseconds since midnight
};
TLocalNow CurrentLocalDateTime();

}  // namespace tarn

// Calendar arithmetic on day numbers and the local clock.
#include "expressions/date_time_values.h"

#include <ctime>

#include "expressions/expression_layer.h"

namespace tarn {

namespace {

// Days from 1970-01-01 to the civil date (any year), after H. Hinnant.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) noexcept {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) noexcept {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// Day number of 1970-01-01.
constexpr std::int64_t kUnixEpochDay = 719163;

}  // namespace

bool IsLeapYear(int year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, std::int32_t& dayNumber) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  dayNumber = static_cast<std::int32_t>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                                        kUnixEpochDay);
  return true;
}

std::int64_t DayNumberOfCivil(int year, int month, int day) noexcept {
  return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kUnixEpochDay;
}

void DecodeDate(std::int32_t dayNumber, int& year, int& month, int& day) noexcept {
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(static_cast<std::int64_t>(dayNumber) - kUnixEpochDay, y, m, d);
  year = static_cast<int>(y);
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

int DayOfWeek(std::int32_t dayNumber) noexcept {
  // Day 1 (0001-01-01) was a Monday.
  const std::int64_t r = (static_cast<std::int64_t>(dayNumber) - 1) % 7;
  return static_cast<int>(r < 0 ? r + 7 : r) + 1;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, std::int32_t& ms) noexcept {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999)
    return false;
  ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
  return true;
}

void DecodeTime(std::int32_t ms, int& hour, int& minute, int& second, int& millisecond) noexcept {
  std::int64_t v = ms % kMillisecondsPerDay;
  if (v < 0) v += kMillisecondsPerDay;
  millisecond = static_cast<int>(v % 1000);
  v /= 1000;
  second = static_cast<int>(v % 60);
  v /= 60;
  minute = static_cast<int>(v % 60);
  hour = static_cast<int>(v / 60);
}

TLocalNow CurrentLocalDateTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  const std::time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  TLocalNow result{};
  if (!TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, result.Date)) result.Date = 0;
  const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  if (!TryEncodeTime(local.tm_hour, local.tm_min, second, static_cast<int>(now.tv_nsec / 1'000'000), result.Time))
    result.Time = 0;
  return result;
}

}  // namespace tarn

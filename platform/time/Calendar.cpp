#include "platform/time/Calendar.h"

#include <cerrno>
#include <cmath>
#include <ctime>

namespace platform {

namespace {

constexpr double kMaxMagnitude = 9.2e15;  // keeps every intermediate within int64
constexpr int64_t kSecondsPerDay = 86400;

int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

// Days from 1970-01-01 of a proleptic Gregorian date, counted in 400-year eras
// (146097 days each); valid over the whole int64 range used here.
int64_t Calendar::daysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = floorDiv(year, 400);
  const int64_t yoe = year - era * 400;                                    // [0, 399]
  const int64_t mp = month > 2 ? month - 3 : month + 9;                    // [0, 11]
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;                        // [0, 365]
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;               // [0, 146096]
  return era * 146097 + doe - 719468;
}

void Calendar::civilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  days += 719468;
  const int64_t era = floorDiv(days, 146097);
  const int64_t doe = days - era * 146097;                                 // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);             // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                  // [0, 11]
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

bool Calendar::isLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int Calendar::daysInMonth(int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

bool Calendar::isValid(const CalendarComponents& c) {
  constexpr int64_t kMaxYear = 200'000'000;
  return c.year > -kMaxYear && c.year < kMaxYear && c.month >= 1 && c.month <= 12 && c.day >= 1 &&
         c.day <= daysInMonth(c.year, c.month) && c.hour >= 0 && c.hour <= 23 && c.minute >= 0 &&
         c.minute <= 59 && c.second >= 0 && c.second <= 59 && c.microsecond >= 0 &&
         c.microsecond <= 999'999;
}

std::optional<CalendarComponents> Calendar::componentsAtOffset(double timestamp, int64_t gmtOffsetSeconds) {
  if (!std::isfinite(timestamp) || std::fabs(timestamp) > kMaxMagnitude) return std::nullopt;
  if (gmtOffsetSeconds < -7 * kSecondsPerDay || gmtOffsetSeconds > 7 * kSecondsPerDay) return std::nullopt;
  double whole = std::floor(timestamp);
  auto seconds = static_cast<int64_t>(whole);
  auto micros = static_cast<int64_t>(std::llround((timestamp - whole) * 1e6));
  if (micros >= 1'000'000) {
    seconds += 1;
    micros -= 1'000'000;
  }
  seconds += gmtOffsetSeconds;
  const int64_t days = floorDiv(seconds, kSecondsPerDay);
  const int64_t secondOfDay = seconds - days * kSecondsPerDay;
  CalendarComponents c;
  civilFromDays(days, c.year, c.month, c.day);
  c.hour = static_cast<int>(secondOfDay / 3600);
  c.minute = static_cast<int>(secondOfDay / 60 % 60);
  c.second = static_cast<int>(secondOfDay % 60);
  c.microsecond = static_cast<int>(micros);
  int64_t weekday = (days + 4) % 7;  // 1970-01-01 was a Thursday
  c.weekday = static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
  c.gmtOffset = gmtOffsetSeconds;
  return c;
}

std::optional<CalendarComponents> Calendar::utcComponents(double timestamp) {
  return componentsAtOffset(timestamp, 0);
}

std::optional<CalendarComponents> Calendar::localComponents(double timestamp) {
  if (!std::isfinite(timestamp) || std::fabs(timestamp) > kMaxMagnitude) return std::nullopt;
  tzset();  // pick up a changed TZ
  const auto seconds = static_cast<time_t>(std::floor(timestamp));
  tm local{};
  if (!localtime_r(&seconds, &local)) return std::nullopt;
  return componentsAtOffset(timestamp, local.tm_gmtoff);
}

std::optional<double> Calendar::timestampAtOffset(const CalendarComponents& c, int64_t gmtOffsetSeconds) {
  if (!isValid(c)) return std::nullopt;
  const int64_t days = daysFromCivil(c.year, c.month, c.day);
  const int64_t seconds = days * kSecondsPerDay + c.hour * 3600 + c.minute * 60 + c.second - gmtOffsetSeconds;
  return static_cast<double>(seconds) + c.microsecond / 1e6;
}

std::optional<double> Calendar::utcTimestamp(const CalendarComponents& c) {
  return timestampAtOffset(c, 0);
}

std::optional<double> Calendar::localTimestamp(const CalendarComponents& c) {
  if (!isValid(c)) return std::nullopt;
  if (c.year - 1900 < -2'000'000'000 || c.year - 1900 > 2'000'000'000) return std::nullopt;
  tzset();
  tm local{};
  local.tm_year = static_cast<int>(c.year - 1900);
  local.tm_mon = c.month - 1;
  local.tm_mday = c.day;
  local.tm_hour = c.hour;
  local.tm_min = c.minute;
  local.tm_sec = c.second;
  local.tm_isdst = -1;
  errno = 0;
  const time_t result = mktime(&local);
  if (result == static_cast<time_t>(-1) && errno != 0) return std::nullopt;
  return static_cast<double>(result) + c.microsecond / 1e6;
}

double Calendar::utcStartOfDay(double timestamp) {
  if (!std::isfinite(timestamp)) return timestamp;
  return std::floor(timestamp / kSecondsPerDay) * kSecondsPerDay;
}

}  // namespace platform

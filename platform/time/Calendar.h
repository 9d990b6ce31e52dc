// Calendar: conversions between timestamps (seconds since 1970 as double)
// and calendar components in UTC, at a fixed GMT offset, or in the local
// time zone.
//
// The calendar is the proleptic Gregorian one (ISO 8601) for every year, so
// dates before 1970 and back to year 1 (and beyond) convert exactly; the UTC
// and fixed-offset paths are pure arithmetic with no C library limits.
// Local conversions use the C library's zone rules (TZ, /etc/localtime) and
// re-read TZ on each call, so a test may switch TZ (setenv + any call here).
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

struct CalendarComponents {
  int64_t year = 1970;  // astronomical: 0 is 1 BC
  int month = 1;        // 1..12
  int day = 1;          // 1..31
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int second = 0;       // 0..59
  int microsecond = 0;  // 0..999999
  int weekday = 0;      // 0 = Sunday .. 6 = Saturday (output only)
  int64_t gmtOffset = 0;  // seconds east of GMT the components are expressed in (output only)

  bool operator==(const CalendarComponents&) const = default;
};

class Calendar {
 public:
  // Days since 1970-01-01 of a proleptic Gregorian date, and back.
  static int64_t daysFromCivil(int64_t year, int month, int day);
  static void civilFromDays(int64_t days, int64_t& year, int& month, int& day);
  static bool isLeapYear(int64_t year);
  static int daysInMonth(int64_t year, int month);
  // Year/month/day/hour/minute/second/microsecond all within range.
  static bool isValid(const CalendarComponents& components);

  // Timestamp -> components. Non-finite input or a magnitude beyond about
  // 290 million years gives nullopt. Microseconds are rounded to the nearest
  // (so 0.123 s reads as 123000 despite binary representation).
  static std::optional<CalendarComponents> utcComponents(double timestamp);
  static std::optional<CalendarComponents> componentsAtOffset(double timestamp, int64_t gmtOffsetSeconds);
  static std::optional<CalendarComponents> localComponents(double timestamp);

  // Components -> timestamp; nullopt when the components are out of range.
  static std::optional<double> utcTimestamp(const CalendarComponents& components);
  static std::optional<double> timestampAtOffset(const CalendarComponents& components, int64_t gmtOffsetSeconds);
  // Local wall time -> timestamp. A wall time skipped or repeated by a
  // daylight-saving change resolves as the C library's mktime resolves it.
  static std::optional<double> localTimestamp(const CalendarComponents& components);

  // UTC midnight starting the day that contains `timestamp`.
  static double utcStartOfDay(double timestamp);
};

}  // namespace platform

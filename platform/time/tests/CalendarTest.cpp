#include "platform/time/Calendar.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/time/ReferenceDate.h"
#include "platform/time/tests/ScopedTz.h"

namespace platform {
namespace {

struct UtcCase {
  double timestamp;
  int64_t year;
  int month, day, hour, minute, second, weekday;
};

TEST(CalendarTest, UtcComponentsRoundTripAcrossBoundaries) {
  const UtcCase cases[] = {
      {0, 1970, 1, 1, 0, 0, 0, 4},
      {-1, 1969, 12, 31, 23, 59, 59, 3},
      {-14182940, 1969, 7, 20, 20, 17, 40, 0},
      {951825600, 2000, 2, 29, 12, 0, 0, 2},          // leap day of a century leap year
      {-2203891200, 1900, 3, 1, 0, 0, 0, 4},           // 1900 is not a leap year
      {1709251199, 2024, 2, 29, 23, 59, 59, 4},
      {978307200, 2001, 1, 1, 0, 0, 0, 1},
      {-62135596800, 1, 1, 1, 0, 0, 0, 1},             // year 1, proleptic Gregorian
      {253402300799, 9999, 12, 31, 23, 59, 59, 5},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.timestamp);
    auto c = Calendar::utcComponents(k.timestamp);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->year, k.year);
    EXPECT_EQ(c->month, k.month);
    EXPECT_EQ(c->day, k.day);
    EXPECT_EQ(c->hour, k.hour);
    EXPECT_EQ(c->minute, k.minute);
    EXPECT_EQ(c->second, k.second);
    EXPECT_EQ(c->weekday, k.weekday);
    EXPECT_EQ(Calendar::utcTimestamp(*c), k.timestamp);
  }
}

TEST(CalendarTest, CivilDaysAgreeBothWaysOverLongRange) {
  for (int64_t days = -800000; days <= 3000000; days += 997) {
    int64_t y;
    int m, d;
    Calendar::civilFromDays(days, y, m, d);
    ASSERT_EQ(Calendar::daysFromCivil(y, m, d), days);
    ASSERT_TRUE(d >= 1 && d <= Calendar::daysInMonth(y, m));
  }
}

TEST(CalendarTest, FractionsRoundToMicrosecondsAndCarry) {
  auto c = Calendar::utcComponents(1714566600.123);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->microsecond, 123000);
  c = Calendar::utcComponents(-0.5);
  EXPECT_EQ(c->second, 59);
  EXPECT_EQ(c->microsecond, 500000);
  c = Calendar::utcComponents(59.9999999);  // rounds into the next minute
  EXPECT_EQ(c->minute, 1);
  EXPECT_EQ(c->second, 0);
  EXPECT_EQ(c->microsecond, 0);
}

TEST(CalendarTest, InvalidComponentsAndTimestampsAreRejected) {
  auto base = CalendarComponents{};
  auto with = [&](auto change) {
    auto c = base;
    change(c);
    return Calendar::utcTimestamp(c);
  };
  EXPECT_FALSE(with([](auto& c) { c.year = 2023, c.month = 2, c.day = 29; }));
  EXPECT_TRUE(with([](auto& c) { c.year = 2000, c.month = 2, c.day = 29; }));
  EXPECT_FALSE(with([](auto& c) { c.year = 1900, c.month = 2, c.day = 29; }));
  EXPECT_FALSE(with([](auto& c) { c.month = 13; }));
  EXPECT_FALSE(with([](auto& c) { c.day = 0; }));
  EXPECT_FALSE(with([](auto& c) { c.hour = 24; }));
  EXPECT_FALSE(with([](auto& c) { c.second = 60; }));
  EXPECT_FALSE(with([](auto& c) { c.microsecond = 1000000; }));
  EXPECT_FALSE(Calendar::utcComponents(NAN));
  EXPECT_FALSE(Calendar::utcComponents(INFINITY));
  EXPECT_FALSE(Calendar::utcComponents(1e300));
  EXPECT_FALSE(Calendar::localComponents(-1e300));
}

TEST(CalendarTest, UtcStartOfDay) {
  const std::pair<double, double> cases[] = {
      {0, 0},
      {86399.999, 0},
      {86400, 86400},
      {-1, -86400},
      {1714566600.5, 1714521600},
      {ReferenceDate::kDistantPastSince1970 + 5, ReferenceDate::kDistantPastSince1970},
  };
  for (auto [in, out] : cases) EXPECT_EQ(Calendar::utcStartOfDay(in), out) << in;
}

TEST(CalendarTest, ReferenceDates) {
  EXPECT_EQ(ReferenceDate::since2001(978307200.0), 0.0);
  EXPECT_EQ(ReferenceDate::since1970(-978307200.0), 0.0);
  EXPECT_EQ(ReferenceDate::since1970(ReferenceDate::kDistantPastSince2001), -62135769600.0);
  // Two days before 0001-01-01 in the proleptic Gregorian calendar: still a UTC midnight.
  EXPECT_EQ(Calendar::utcStartOfDay(ReferenceDate::kDistantPastSince1970), ReferenceDate::kDistantPastSince1970);
}

TEST(CalendarTest, LocalComponentsFollowTzIncludingSummerTime) {
  {
    ScopedTz tz(kTzNewYorkWinter);
    auto c = Calendar::localComponents(0);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->year, 1969);
    EXPECT_EQ(c->day, 31);
    EXPECT_EQ(c->hour, 19);
    EXPECT_EQ(c->gmtOffset, -18000);
    EXPECT_EQ(Calendar::localTimestamp(*c), 0.0);
  }
  ScopedTz tz(kTzCentralEurope);
  const std::pair<double, int64_t> cases[] = {
      {1705320000, 3600},  // 2024-01-15T12:00:00Z
      {1719835200, 7200},  // 2024-07-01T12:00:00Z
      {1711846799, 3600},  // 2024-03-31T00:59:59Z, one second before the switch
      {1711846800, 7200},  // 2024-03-31T01:00:00Z
  };
  for (auto [at, offset] : cases) {
    SCOPED_TRACE(at);
    auto c = Calendar::localComponents(at + 0.25);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->gmtOffset, offset);
    EXPECT_EQ(c->microsecond, 250000);
    EXPECT_EQ(Calendar::localTimestamp(*c), at + 0.25);
  }
  CalendarComponents summer{.year = 2024, .month = 7, .day = 1, .hour = 14};
  EXPECT_EQ(Calendar::localTimestamp(summer), 1719835200.0);
  summer.month = 2;
  summer.day = 30;
  EXPECT_FALSE(Calendar::localTimestamp(summer));
}

}  // namespace
}  // namespace platform

#include "platform/time/DateFormatter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "platform/time/Iso8601.h"
#include "platform/time/tests/ScopedTz.h"

namespace platform {
namespace {

using Zone = DateFormatter::Zone;

struct FormatCase {
  const char* pattern;
  Zone zone;
  double timestamp;
  const char* text;
};

// Every case formats to `text` and parses back to `timestamp`.
TEST(DateFormatterTest, FormatAndParseRoundTrip) {
  const FormatCase cases[] = {
      {"yyyy-MM-dd", Zone::utc(), 0, "1970-01-01"},
      {"yyyy-MM-dd", Zone::utc(), 951782400, "2000-02-29"},
      {"yyyy-MM-dd", Zone::utc(), -62135596800, "0001-01-01"},
      {"yyyy-MM-dd'T'HH:mm:ss", Zone::utc(), -1, "1969-12-31T23:59:59"},
      {"yyyy-MM-dd'T'HH:mm:ss", Zone::utc(), -62135596800, "0001-01-01T00:00:00"},
      {"yyyy-MM-dd'T'HH:mm:ss", Zone::utc(), 253402300799, "9999-12-31T23:59:59"},
      {"yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", Zone::utc(), 1714566600.123, "2024-05-01T12:30:00.123Z"},
      {"yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", Zone::utc(), -0.5, "1969-12-31T23:59:59.500Z"},
      {"yyyy-MM-dd'T'HH:mm:ssZZZZZ", Zone::utc(), 1714566600, "2024-05-01T12:30:00Z"},
      {"yyyy-MM-dd'T'HH:mm:ssZZZZZ", Zone::fixed(-16200), 1714566600, "2024-05-01T08:00:00-04:30"},
      {"yyyy-MM-dd'T'HH:mm:ssZZZZZ", Zone::fixed(20700), 1714566600, "2024-05-01T18:15:00+05:45"},
      {"yyyy-MM-dd HH:mm:ss Z", Zone::fixed(-3600), 0, "1969-12-31 23:00:00 -0100"},
      {"yyyy-MM-dd HH:mm ZZZZ", Zone::fixed(7200), 0, "1970-01-01 02:00 GMT+02:00"},
      {"EEE, dd MMM yyyy HH:mm:ss", Zone::utc(), 1714566600, "Wed, 01 May 2024 12:30:00"},
      {"EEEE d MMMM yyyy h:mm a", Zone::utc(), 1714566600, "Wednesday 1 May 2024 12:30 PM"},
      {"yyyyMMddHHmmss", Zone::utc(), 1714566600, "20240501123000"},
      {"'at' HH 'o''clock' yyyy-MM-dd", Zone::utc(), 3600, "at 01 o'clock 1970-01-01"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.pattern) + " / " + k.text);
    DateFormatter formatter(k.pattern, k.zone);
    EXPECT_EQ(formatter.format(k.timestamp), k.text);
    auto parsed = formatter.parse(k.text);
    ASSERT_TRUE(parsed);
    EXPECT_NEAR(*parsed, k.timestamp, 1e-6);
  }
}

struct ParseCase {
  const char* pattern;
  const char* text;
  std::optional<double> expected;
};

TEST(DateFormatterTest, ParseAcceptsLenientWidthsAndRejectsBadInput) {
  const ParseCase cases[] = {
      {"yyyy-MM-dd", "2024-5-1", 1714521600},
      {"yyyy-MM-dd", "2024-02-29", 1709164800},
      {"yyyy-MM-dd", "2023-02-29", std::nullopt},      // no roll-over into March
      {"yyyy-MM-dd", "2024-13-01", std::nullopt},
      {"yyyy-MM-dd", "2024-00-10", std::nullopt},
      {"yyyy-MM-dd", "2024-05-01 ", std::nullopt},     // trailing text
      {"yyyy-MM-dd", "2024-05", std::nullopt},
      {"yyyy-MM-dd", "", std::nullopt},
      {"yyyy-MM-dd", "2024/05/01", std::nullopt},
      {"yyyy-MM-dd", "999999999-01-01", std::nullopt},  // out of range, no overflow
      {"yyyy-MM-dd", "\xef\xbc\x92\xef\xbc\x90\xef\xbc\x92\xef\xbc\x94-05-01", std::nullopt},  // full-width digits
      {"yyyy-MM-dd'T'HH:mm:ss", "2024-05-01T24:00:00", std::nullopt},
      {"yyyy-MM-dd'T'HH:mm:ss", "2024-05-01T23:60:00", std::nullopt},
      {"yyyy-MM-dd'T'HH:mm:ss", "2024-05-01T23:59:60", std::nullopt},
      {"yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", "2024-05-01T12:30:00.5Z", 1714566600.5},
      {"yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", "2024-05-01T12:30:00.123456789Z", 1714566600.123456},
      {"yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", "2024-05-01T12:30:00Z", std::nullopt},
      {"yyyy-MM-dd'T'HH:mm:ssZZZZZ", "2024-05-01T12:30:00-04:30", 1714566600 + 16200},
      {"yyyy-MM-dd'T'HH:mm:ssZZZZZ", "2024-05-01T12:30:00+0100", 1714566600 - 3600},
      {"yyyy-MM-dd'T'HH:mm:ssZZZZZ", "2024-05-01T12:30:00+24:00", std::nullopt},
      {"yyyy-MM-dd'T'HH:mm:ssZZZZZ", "2024-05-01T12:30:00+01:", std::nullopt},
      {"HH_mm_ss", "12_30_00", 45000},                   // missing fields default to 1970-01-01
      {"h:mm a", "12:05 AM", 300},
      {"h:mm a", "13:05 PM", std::nullopt},
      {"dd MMM yyyy", "01 may 2024", 1714521600},
      {"dd MMM yyyy", "01 Mai 2024", std::nullopt},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.pattern) + " / " + k.text);
    auto parsed = DateFormatter::utc(k.pattern).parse(k.text);
    ASSERT_EQ(parsed.has_value(), k.expected.has_value());
    if (parsed) {
      EXPECT_NEAR(*parsed, *k.expected, 1e-6);
    }
  }
}

TEST(DateFormatterTest, FractionIsTruncatedNotRounded) {
  auto formatter = DateFormatter::utc("ss.SSS");
  EXPECT_EQ(formatter.format(0.9999), "00.999");
  EXPECT_EQ(formatter.format(1.0005), "01.000");
  EXPECT_EQ(DateFormatter::utc("ss.S").format(0.99), "00.9");
}

TEST(DateFormatterTest, NonFiniteAndHugeTimestampsFormatAsEmpty) {
  auto formatter = DateFormatter::utc("yyyy-MM-dd");
  EXPECT_EQ(formatter.format(NAN), "");
  EXPECT_EQ(formatter.format(-INFINITY), "");
  EXPECT_EQ(formatter.format(1e300), "");
}

TEST(DateFormatterTest, BadPatternsAreProgrammingErrors) {
  EXPECT_THROW(DateFormatter::utc("yyyy-QQ"), std::invalid_argument);
  EXPECT_THROW(DateFormatter::utc("yyyy 'open"), std::invalid_argument);
}

TEST(DateFormatterTest, LocalZoneFollowsTz) {
  ScopedTz tz(kTzCentralEurope);
  auto fileTime = DateFormatter::local("HH_mm_ss");
  EXPECT_EQ(fileTime.format(1705320000), "13_00_00");  // winter, +1
  EXPECT_EQ(fileTime.format(1719835200), "14_00_00");  // summer, +2
  auto local = DateFormatter::local("yyyy-MM-dd HH:mm:ss");
  EXPECT_EQ(local.format(1719835200), "2024-07-01 14:00:00");
  EXPECT_EQ(local.parse("2024-07-01 14:00:00"), 1719835200.0);
  EXPECT_EQ(local.parse("2024-01-15 13:00:00"), 1705320000.0);
  EXPECT_FALSE(local.parse("2024-01-15T13:00:00"));
  auto withOffset = DateFormatter::local("yyyy-MM-dd'T'HH:mm:ssZZZZZ");
  EXPECT_EQ(withOffset.format(1719835200), "2024-07-01T14:00:00+02:00");
  // An explicit offset in the text wins over the local zone.
  EXPECT_EQ(withOffset.parse("2024-07-01T12:00:00Z"), 1719835200.0);

  ScopedTz west(kTzNewfoundland);
  EXPECT_EQ(withOffset.format(0), "1969-12-31T20:30:00-03:30");
}

TEST(Iso8601Test, FormatsUtcWholeSeconds) {
  EXPECT_EQ(Iso8601::format(1714566600), "2024-05-01T12:30:00Z");
  EXPECT_EQ(Iso8601::format(1714566600.9), "2024-05-01T12:30:00Z");
  EXPECT_EQ(Iso8601::format(1704164645), "2024-01-02T03:04:05Z");
  EXPECT_EQ(Iso8601::format(-1), "1969-12-31T23:59:59Z");
  EXPECT_EQ(Iso8601::format(NAN), "");
}

TEST(Iso8601Test, ParsesZuluAndColonOffsetsOnly) {
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"2024-05-01T12:30:00Z", 1714566600},
      {"2024-05-01T14:30:00+02:00", 1714566600},
      {"2024-05-01T12:00:00-00:30", 1714566600},
      {"1969-12-31T23:59:59Z", -1},
      {"2024-02-29T00:00:00Z", 1709164800},
      {"2023-02-29T00:00:00Z", std::nullopt},
      {"2024-05-01T12:30:00", std::nullopt},
      {"2024-05-01T12:30:00+0200", std::nullopt},
      {"2024-05-01T12:30:00+02", std::nullopt},
      {"2024-05-01T12:30:00.123Z", std::nullopt},
      {"2024-05-01 12:30:00Z", std::nullopt},
      {"2024-5-01T12:30:00Z", std::nullopt},
      {"24-05-01T12:30:00Z", std::nullopt},
      {"2024-05-01T12:30:00z", std::nullopt},
      {"2024-05-01T12:30:00ZZ", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Iso8601::parse(text), expected);
  }
}

}  // namespace
}  // namespace platform

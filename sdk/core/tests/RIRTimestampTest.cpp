#include "sdk/core/RIRTimestamp.h"

#include <gtest/gtest.h>

#include "sdk/core/tests/SdkCoreFixture.h"

namespace {

using sdktest::raised;

TEST(RIRTimestampTest, RangeLimits) {
  struct Case {
    int64_t seconds;
    int64_t nanoseconds;
    const char* outcome;  // ISO text or exception
  };
  const Case cases[] = {
      {253402300799LL, 999999999, "9999-12-31T23:59:59.999999999Z"},
      {253402300800LL, 0, "Invalid timestamp: Timestamp seconds out of range: 253402300800"},
      {-62135596800LL, 0, "0001-01-01T00:00:00.000000000Z"},
      {-62135596801LL, 0, "Invalid timestamp: Timestamp seconds out of range: -62135596801"},
      {0, -1, "Invalid timestamp: Timestamp nanoseconds out of range: -1"},
      {0, 1000000000, "Invalid timestamp: Timestamp nanoseconds out of range: 1000000000"},
      {253402300800LL, -1, "Invalid timestamp: Timestamp nanoseconds out of range: -1"},  // nanoseconds first
      {0, 5, "1970-01-01T00:00:00.000000005Z"},
      {951782400, 0, "2000-02-29T00:00:00.000000000Z"},
      {-1, 0, "1969-12-31T23:59:59.000000000Z"},
  };
  for (const Case& c : cases) {
    std::string outcome;
    std::string exception = raised([&] { outcome = RIRTimestamp(c.seconds, static_cast<int32_t>(c.nanoseconds)).ISO8601String(); });
    if (exception != "none") outcome = exception;
    EXPECT_EQ(outcome, c.outcome) << c.seconds << " " << c.nanoseconds;
  }
}

TEST(RIRTimestampTest, FromDatesOrderAndHash) {
  RIRTimestamp before = RIRTimestamp::timestampWithDate(-1.5);
  EXPECT_EQ(before.seconds(), -2);
  EXPECT_EQ(before.nanoseconds(), 500000000);
  EXPECT_EQ(RIRTimestamp::timestampWithDate(-1e-17).seconds(), 0);  // rounds up to the next second, not rejected
  EXPECT_EQ(raised([] { RIRTimestamp::timestampWithDate(1e300); }).rfind("Invalid timestamp: Timestamp seconds", 0), 0u);
  RIRTimestamp a(10, 1);
  RIRTimestamp b(10, 2);
  EXPECT_EQ(a.compare(b), -1);
  EXPECT_EQ(b.compare(a), 1);
  EXPECT_TRUE(a < b);
  RIRTimestamp c(10, 1);
  EXPECT_EQ(a.compare(c), 0);
  EXPECT_TRUE(a.isEqualToTimestamp(c));
  EXPECT_EQ(a.hash(), c.hash());
  EXPECT_EQ(a.description(), "<RIRTimestamp: seconds=10 nanoseconds=1>");
  EXPECT_DOUBLE_EQ(RIRTimestamp(1, 500000000).dateValue(), 1.5);
}

}  // namespace

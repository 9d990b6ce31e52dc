// Flags made from a name and a value, read back, and the three input
// failures reported to the shared measurement monitor.
#include <gtest/gtest.h>

#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/base/APMPBFlag.h"

namespace {

using measurementtest::MeasurementTestEnvironment;

TEST(APMPBFlag, ValuesGoToTheirSlotsAndReadBack) {
  MeasurementTestEnvironment env;
  struct Case {
    platform::Value value;
    int32_t slot;
    platform::Value readBack;
  };
  const Case cases[] = {
      {platform::Value(3), APMPBFlagSlot::kIntValue, platform::Value(int64_t(3))},
      {platform::Value(2.5), APMPBFlagSlot::kDoubleValue, platform::Value(2.5)},
      {platform::Value(2.5f), APMPBFlagSlot::kDoubleValue, platform::Value(2.5)},
      {platform::Value("on"), APMPBFlagSlot::kStringValue, platform::Value("on")},
      {platform::Value(true), APMPBFlagSlot::kIntValue, platform::Value(int64_t(1))},
      {platform::Value(uint64_t(1) << 63), APMPBFlagSlot::kIntValue, platform::Value(INT64_MIN)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.description());
    std::shared_ptr<APMPBFlag> flag = APMPBFlagCreate(platform::Value("f"), c.value);
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(APMPBGetString(flag.get(), APMPBFlagSlot::kName), "f");
    for (int32_t slot : {APMPBFlagSlot::kIntValue, APMPBFlagSlot::kStringValue, APMPBFlagSlot::kDoubleValue,
                         APMPBFlagSlot::kBoolValue}) {
      EXPECT_EQ(APMPBHasField(flag.get(), slot), slot == c.slot) << slot;
    }
    const platform::Value read = APMPBFlagValue(flag.get());
    EXPECT_EQ(read, c.readBack);
    EXPECT_EQ(read.isFloatingNumber(), c.readBack.isFloatingNumber());
  }
  EXPECT_TRUE(env.texts().empty());
}

TEST(APMPBFlag, ReadingOrder) {
  MeasurementTestEnvironment env;
  auto flag = APMPBFlag::initWithBuffer({});
  EXPECT_TRUE(APMPBFlagValue(flag.get()).isNull());
  EXPECT_TRUE(APMPBFlagValue(nullptr).isNull());
  APMPBSetBool(flag.get(), APMPBFlagSlot::kBoolValue, false);
  EXPECT_EQ(APMPBFlagValue(flag.get()), platform::Value(false));
  APMPBSetString(flag.get(), APMPBFlagSlot::kStringValue, "s");
  EXPECT_EQ(APMPBFlagValue(flag.get()), platform::Value("s"));
  APMPBSetDouble(flag.get(), APMPBFlagSlot::kDoubleValue, 0.5);
  EXPECT_EQ(APMPBFlagValue(flag.get()), platform::Value(0.5));
  APMPBSetInt64(flag.get(), APMPBFlagSlot::kIntValue, 7);
  EXPECT_EQ(APMPBFlagValue(flag.get()), platform::Value(int64_t(7)));
}

TEST(APMPBFlag, BadInputIsReportedToTheMonitor) {
  struct Case {
    platform::Value name;
    platform::Value value;
    const char* code;
    const char* message;
  };
  const Case cases[] = {
      {platform::Value(), platform::Value(1), "I-ACS850000", "Flag name must not be nil"},
      {platform::Value(5), platform::Value(1), "I-ACS850001", "Flag name must be a string"},
      {platform::Value("f"), platform::Value::date(0), "I-ACS850002", "Flag value is invalid"},
      {platform::Value("f"), platform::Value(), "I-ACS850002", "Flag value is invalid"},
      {platform::Value("f"), platform::Value::array({1}), "I-ACS850002", "Flag value is invalid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    MeasurementTestEnvironment env;
    EXPECT_EQ(APMPBFlagCreate(c.name, c.value), nullptr);
    EXPECT_TRUE(env.logged(c.code));
    EXPECT_TRUE(env.logged(c.message));
  }
}

}  // namespace

#include <gtest/gtest.h>

#include "measurement/base/APMAppMetadata.h"
#include "measurement/base/APMDailyCounts.h"
#include "measurement/base/APMEventAggregates.h"
#include "measurement/base/APMRawEventData.h"
#include "measurement/base/APMSequenceTimestampsCache.h"
#include "measurement/base/APMUserAttribute.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/messages/APMPBFieldAccess.h"

namespace {

using measurementtest::MeasurementTestEnvironment;

// The overflow reports of these types are at the monitor's silent levels (2
// and 5): sampled for the health data, never printed, so only the values are
// checked here.
TEST(APMRowTypes, BundleAndDeliveryIndexesWrap) {
  MeasurementTestEnvironment env;
  struct Case {
    int32_t index;
    uint64_t count;
    int32_t expected;
  };
  const Case cases[] = {
      {5, 10, 15},
      {2147483640, 10, 9},
      {2147483637, 10, 2147483647},
      {0, 0, 0},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.index);
    auto metadata = APMAppMetadata::initWithLastBundleIndex(entry.index, 0, 0);
    metadata->increaseLastBundleIndex(entry.count);
    EXPECT_EQ(metadata->lastBundleIndex(), entry.expected);
  }
  EXPECT_FALSE(APMAppMetadata::initWithLastBundleIndex(-1, 0, 0));
  auto delivery = APMAppMetadata::initWithLastBundleIndex(0, 2147483647, 0, 0);
  delivery->incrementLastDeliveryIndex();
  EXPECT_EQ(delivery->lastDeliveryIndex(), 0);
  delivery->incrementLastDeliveryIndex();
  EXPECT_EQ(delivery->lastDeliveryIndex(), 1);
  EXPECT_TRUE(APMAppMetadata::initWithLastBundleIndex(0, -5, 0, 0));
}

TEST(APMRowTypes, DailyCountsRestartOnANewDay) {
  auto counts = APMDailyCounts::initWithDay(100, 1, 5, 4, 1, 2, 3);
  counts->incrementCountsForCurrentDay(100, true, true, 3);
  EXPECT_EQ(counts->conversionsCount(), 2);
  EXPECT_EQ(counts->allEventsCount(), 8);
  EXPECT_EQ(counts->publicEventsCount(), 7);
  counts->incrementCountsForCurrentDay(101, false, false);
  EXPECT_EQ(counts->day(), 101);
  EXPECT_EQ(counts->allEventsCount(), 1);
  EXPECT_EQ(counts->publicEventsCount(), 0);
  EXPECT_EQ(counts->realtimeCount(), 0);
  counts->incrementErrorEventsCountForCurrentDay(101);
  EXPECT_EQ(counts->errorEventsCount(), 1);
  EXPECT_EQ(counts->allEventsCount(), 2);
  counts->incrementDCURealtimeCountsForCurrentDay(102);
  EXPECT_EQ(counts->dcuRealtimeCount(), 1);
  EXPECT_EQ(counts->allEventsCount(), 0);
  counts->decrementAllEventsCount();
  EXPECT_EQ(counts->allEventsCount(), 0);
}

TEST(APMRowTypes, AggregateCountsWrap) {
  MeasurementTestEnvironment env;
  auto aggregates = APMEventAggregates::initWithName("purchase", 2147483647, 2147483647, 2147483647, 1.0);
  ASSERT_TRUE(aggregates);
  EXPECT_EQ(aggregates->lastSamplingRate(), 1);
  aggregates->incrementLifetimeCount();
  aggregates->incrementCurrentBundleCount();
  aggregates->incrementCurrentSessionCount();
  EXPECT_EQ(aggregates->lifetimeCount(), 0);
  EXPECT_EQ(aggregates->currentBundleCount(), 0);
  EXPECT_EQ(aggregates->currentSessionCount(), 0);
  aggregates->incrementLifetimeCount();
  EXPECT_EQ(aggregates->lifetimeCount(), 1);
  EXPECT_FALSE(APMEventAggregates::initWithName("purchase", 0, -1, 0, 1.0));
  EXPECT_FALSE(APMEventAggregates::initWithName("", 0, 0, 0, 1.0));
}

TEST(APMRowTypes, RawEventDataAndUserAttributes) {
  MeasurementTestEnvironment env;
  auto event = APMEvent::initWithOrigin("app", false, "_e", 1, 0, {});
  EXPECT_TRUE(APMRawEventData::initWithRawEvent(event, 0, -7));
  EXPECT_FALSE(APMRawEventData::initWithRawEvent(event, -1, 0));
  EXPECT_TRUE(env.logged("Failed to create raw event data. Received invalid row ID. Row ID"));
  EXPECT_FALSE(APMRawEventData::initWithRawEvent(nullptr, 1, 0));

  struct Case {
    APMValuePtr value;
    int32_t slot;
  };
  const Case cases[] = {{APMValue::initWithDouble(2.5), APMPBUserAttributeSlot::kDoubleValue},
                        {APMValue::initWithInt64(7), APMPBUserAttributeSlot::kIntValue},
                        {APMValue::initWithString(platform::Value("x")), APMPBUserAttributeSlot::kStringValue}};
  for (const Case& entry : cases) {
    auto attribute = APMUserAttribute::initWithOrigin("app", "_ltv_USD", entry.value, 1.5);
    ASSERT_TRUE(attribute);
    EXPECT_FALSE(attribute->isPublic());
    std::shared_ptr<APMPBUserAttribute> proto = attribute->protoUserAttribute();
    EXPECT_EQ(APMPBGetString(proto.get(), APMPBUserAttributeSlot::kName), "_ltv_USD");
    EXPECT_EQ(APMPBGetInt64(proto.get(), APMPBUserAttributeSlot::kSetTimestamp), 1500);
    EXPECT_TRUE(APMPBHasField(proto.get(), entry.slot));
  }
  // Times far outside the int64 range of milliseconds saturate.
  auto far = APMUserAttribute::initWithOrigin("app", "level", APMValue::initWithInt64(1), 1e300);
  ASSERT_TRUE(far);
  EXPECT_TRUE(far->isPublic());
  EXPECT_EQ(APMPBGetInt64(far->protoUserAttribute().get(), APMPBUserAttributeSlot::kSetTimestamp), INT64_MAX);
  EXPECT_FALSE(APMUserAttribute::initWithOrigin("app", std::string(100, 'a'), APMValue::initWithInt64(1), 1));
}

TEST(APMRowTypes, SequenceTimestamps) {
  MeasurementTestEnvironment env;
  EXPECT_FALSE(APMSequenceTimestampsCache::initWithAudienceID(std::nullopt));
  auto cache = APMSequenceTimestampsCache::initWithAudienceID(4);
  cache->addEventFilterTimestamp(10.2, 1);
  cache->addEventFilterTimestamp(10.7, 1);
  EXPECT_EQ(cache->sequenceTimestampsForFilterID(1), (std::vector<double>{10.2}));
  cache->addEventFilterTimestamp(9.0, 1);
  EXPECT_EQ(cache->sequenceTimestampsForFilterID(1), (std::vector<double>{10.2, 9.0}));
  cache->setUserPropertyTimestamp(5, 2);
  cache->setUserPropertyTimestamp(3, 2);
  EXPECT_EQ(cache->sequenceTimestampsForFilterID(2), (std::vector<double>{3}));
  EXPECT_FALSE(cache->sequenceTimestampsForFilterID(std::nullopt));

  auto messages = cache->sequenceFilterResultTimestamps();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(APMPBGetInt32(messages[0].get(), APMPBSequenceFilterResultTimestampSlot::kFilterID), 1);
  const auto sorted = APMPBGetArray(messages[0].get(), APMPBSequenceFilterResultTimestampSlot::kEvalTimestamps);
  ASSERT_TRUE(sorted);
  EXPECT_EQ(sorted->size(), 2u);
  EXPECT_EQ((*sorted)[0], platform::Value(9));
}

}  // namespace

// Bundle building on a real database file: grouping by metadata, hour,
// consecutive rows, count and size; rejection, conversions, "_elt", session
// engagement; damaged rows and metadata that would block every later upload;
// and a failure at each step rolling the whole transaction back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measurement/engine/tests/BundleTestSupport.h"

namespace {

using measurementtest::bundleAll;
using measurementtest::bundleEvent;
using measurementtest::bundleOnce;
using measurementtest::engineMetadata;
using measurementtest::eventCount;
using measurementtest::eventNames;
using measurementtest::insertRawEvents;
using measurementtest::MeasurementEngineWorld;
using measurementtest::queuedBundles;
using measurementtest::rawEvent;
using platform::Dictionary;
using platform::Value;
using Bundle = APMPBMeasurementBundleSlot;

constexpr double kT = MeasurementEngineWorld::kEpoch + 60;  // early in an hour

std::vector<size_t> eventCounts(const std::vector<APMDatabase::QueuedBundle>& bundles) {
  std::vector<size_t> counts;
  for (const auto& [bundle, rowID] : bundles) counts.push_back(eventCount(*bundle));
  return counts;
}

class BundlingTest : public ::testing::Test {
 protected:
  void SetUp() override { world.startReturning(); }

  int64_t rawEventCount() { return measurementtest::rawDatabase()->count("raw_events"); }

  MeasurementEngineWorld world;
};

TEST_F(BundlingTest, GroupsFollowTheCountLimitTheHourAndConsecutiveRowsOfOneMetadata) {
  std::shared_ptr<APMPBMeasurementBundle> metadata = engineMetadata(world);
  // Two start-up events, then 1500 of the same metadata within the hour.
  std::vector<std::shared_ptr<APMEvent>> events = {rawEvent("_f", kT, {}, "auto"), rawEvent("_s", kT, {}, "auto")};
  for (int index = 0; index < 1500; ++index) events.push_back(rawEvent("tick", kT + index * 0.5, {{"n", index}}));
  insertRawEvents(world, *metadata, events);
  EXPECT_EQ(bundleAll(world), 2);
  EXPECT_EQ(eventCounts(queuedBundles(world)), (std::vector<size_t>{1000, 502}));
  EXPECT_EQ(rawEventCount(), 0);
  EXPECT_EQ(measurementtest::rawDatabase()->count("raw_events_metadata"), 0);
}

TEST_F(BundlingTest, AnHourBoundaryAndAForeignMetadataEndABundle) {
  std::shared_ptr<APMPBMeasurementBundle> first = engineMetadata(world);
  auto other = APMPBMeasurementBundle::initWithMessageInfo(first->messageInfo());
  APMPBSetString(other.get(), Bundle::kAppVersion, "other");
  const double lastSecond = MeasurementEngineWorld::kEpoch + 3599;
  insertRawEvents(world, *first, {rawEvent("a", lastSecond), rawEvent("b", lastSecond + 2)});  // next hour
  insertRawEvents(world, *first, {rawEvent("c", lastSecond + 3)});
  insertRawEvents(world, *other, {rawEvent("x", lastSecond + 4)});
  insertRawEvents(world, *first, {rawEvent("d", lastSecond + 5)});  // a row ID gap after c
  EXPECT_EQ(bundleAll(world), 4);
  std::vector<std::vector<std::string>> names;
  for (const auto& [bundle, rowID] : queuedBundles(world)) names.push_back(eventNames(*bundle));
  EXPECT_EQ(names, (std::vector<std::vector<std::string>>{{"a"}, {"b", "c"}, {"x"}, {"d"}}));
}

TEST_F(BundlingTest, AFirstEventAboveTheSizeLimitBundlesAlone) {
  insertRawEvents(world, *engineMetadata(world),
                  {rawEvent("big", kT, {{"blob", std::string(70000, 'x')}}), rawEvent("small", kT + 1)});
  EXPECT_EQ(bundleAll(world), 2);
  EXPECT_EQ(eventCounts(queuedBundles(world)), (std::vector<size_t>{1, 1}));
}

TEST_F(BundlingTest, AGroupOfBlockListedEventsIsConsumedWithoutABundle) {
  measurementtest::useNotedConfiguration(world, R"({"event_config": [{"name": "spam", "blocklisted": true}]})");
  insertRawEvents(world, *engineMetadata(world), {rawEvent("spam", kT), rawEvent("spam", kT + 1)});
  EXPECT_TRUE(bundleOnce(world));
  EXPECT_TRUE(queuedBundles(world).empty());
  EXPECT_EQ(rawEventCount(), 0);
  EXPECT_TRUE(world.reported(23100));
  EXPECT_FALSE(bundleOnce(world));
}

TEST_F(BundlingTest, TheFirstOpensEngagementTimeTravelsInItsOwnField) {
  insertRawEvents(
      world, *engineMetadata(world),
      {rawEvent("_f", kT, {{"_elt", 5}, {"_c", 1}}, "auto"), rawEvent("_e", kT + 1, {{"_elt", 7}}, "auto")});
  ASSERT_TRUE(bundleOnce(world));
  std::vector<APMDatabase::QueuedBundle> bundles = queuedBundles(world);
  ASSERT_EQ(bundles.size(), 1u);
  std::shared_ptr<APMPBEvent> firstOpen = bundleEvent(*bundles[0].first, 0);
  EXPECT_EQ(APMPBGetInt64(firstOpen.get(), APMPBEventSlot::kEltValue), 5);
  const platform::Array params = APMPBGetArray(firstOpen.get(), APMPBEventSlot::kParams).value_or(platform::Array());
  EXPECT_FALSE(APMEventProtoHasParameter(params, "_elt"));
  EXPECT_TRUE(APMEventProtoHasParameter(params, "_c"));
  // Only "_f" moves it.
  std::shared_ptr<APMPBEvent> engagement = bundleEvent(*bundles[0].first, 1);
  EXPECT_FALSE(APMPBHasField(engagement.get(), APMPBEventSlot::kEltValue));
  EXPECT_TRUE(APMEventProtoHasParameter(APMPBGetArray(engagement.get(), APMPBEventSlot::kParams).value(), "_elt"));
}

TEST_F(BundlingTest, ASessionStartClearsSessionEngagementBeforeAddingItsOwn) {
  world.onWorkerQueue([](APMMeasurement& engine) {
    for (const auto& [name, value] : {std::pair{"_se", 1000}, std::pair{"_lte", 4000}}) {
      EXPECT_TRUE(engine.setUserPropertyInDatabaseOnWorkerQueue(
          APMUserAttribute::initWithOrigin("auto", name, APMValue::initWithInt64(value), kT - 100)));
    }
  });
  std::shared_ptr<APMPBMeasurementBundle> metadata = engineMetadata(world);  // carries _se and _lte
  insertRawEvents(
      world, *metadata,
      {rawEvent("_s", kT, {}, "auto"), rawEvent("_e", kT + 1, {{"_et", 300}}, "auto"),
       rawEvent("_e", kT + 2, {{"_et", 200}}, "auto"), rawEvent("_e", kT + 3, {{"_et", 999}, {"_fr", 1}}, "auto")});
  ASSERT_TRUE(bundleOnce(world));

  std::map<std::string, int64_t> stored;
  for (const std::vector<std::string>& row :
       measurementtest::rawDatabase()->rows("SELECT name, value FROM user_attributes WHERE name IN ('_se', '_lte')")) {
    stored[row[0]] = std::stoll(row[1]);
  }
  EXPECT_EQ(stored, (std::map<std::string, int64_t>{{"_lte", 4500}, {"_se", 500}}));
  std::map<std::string, int64_t> bundled;
  const std::vector<APMDatabase::QueuedBundle> bundles = queuedBundles(world);
  ASSERT_EQ(bundles.size(), 1u);
  const platform::Array attributes =
      APMPBGetArray<APMPBUserAttribute>(bundles[0].first.get(), Bundle::kUserAttributes).value_or(platform::Array());
  for (const Value& item : attributes) {
    auto attribute = APMPBObjectFromValue<APMPBUserAttribute>(item);
    bundled[*APMPBGetString(attribute.get(), APMPBUserAttributeSlot::kName)] =
        APMPBGetInt64(attribute.get(), APMPBUserAttributeSlot::kIntValue);
  }
  EXPECT_EQ(bundled, stored);
}

TEST_F(BundlingTest, ConversionsBeyondTheDailyLimitLoseTheirMark) {
  struct Case {
    int conversionsToday;
    bool keepsMark;
  };
  for (const Case& c : {Case{9999, true}, Case{10000, false}}) {
    SCOPED_TRACE(c.conversionsToday);
    int64_t day = 0;
    world.onWorkerQueue([&day](APMMeasurement& engine) { day = engine.database()->currentDay(); });
    measurementtest::rawDatabase()->exec("UPDATE app_metadata SET day = " + std::to_string(day) +
                                         ", daily_conversions_count = " + std::to_string(c.conversionsToday));
    insertRawEvents(world, *engineMetadata(world),
                    {rawEvent("purchase", kT, {{"_c", 1}, {"value", 2.5}, {"currency", "USD"}})});
    ASSERT_TRUE(bundleOnce(world));
    std::vector<APMDatabase::QueuedBundle> bundles = queuedBundles(world);
    const platform::Array params =
        APMPBGetArray(bundleEvent(*bundles.back().first, 0).get(), APMPBEventSlot::kParams).value();
    EXPECT_EQ(APMEventProtoHasParameter(params, "_c"), c.keepsMark);
    EXPECT_EQ(
        std::stoll(measurementtest::rawDatabase()->rows("SELECT daily_conversions_count FROM app_metadata")[0][0]),
        c.keepsMark ? c.conversionsToday + 1 : c.conversionsToday);
  }
}

TEST_F(BundlingTest, UnreadableRowsAreDeletedWithTheirGroupAndBundlingGoesOn) {
  struct Case {
    const char* name;
    std::vector<int> damaged;  // positions among the three rows
    std::vector<std::string> bundled;
  };
  const std::vector<Case> cases = {{"first", {0}, {"b", "c"}}, {"middle", {1}, {"a", "c"}}, {"every", {0, 1, 2}, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    world.clearMonitorLines();
    insertRawEvents(world, *engineMetadata(world), {rawEvent("a", kT), rawEvent("b", kT + 1), rawEvent("c", kT + 2)});
    auto db = measurementtest::rawDatabase();
    const std::vector<std::vector<std::string>> rows = db->rows("SELECT rowid FROM raw_events ORDER BY rowid");
    for (int position : c.damaged)
      db->exec("UPDATE raw_events SET data = x'ff01' WHERE rowid = " + rows.at(position)[0]);
    const size_t before = queuedBundles(world).size();

    EXPECT_GE(bundleAll(world), 1);
    std::vector<std::string> names;
    std::vector<APMDatabase::QueuedBundle> bundles = queuedBundles(world);
    for (size_t index = before; index < bundles.size(); ++index) {
      for (const std::string& name : eventNames(*bundles[index].first)) names.push_back(name);
    }
    EXPECT_EQ(names, c.bundled);
    EXPECT_EQ(rawEventCount(), 0);
    EXPECT_TRUE(world.reported(23096));
  }
}

TEST_F(BundlingTest, AGroupWithoutReadableMetadataIsDroppedAndLaterGroupsGoOn) {
  std::shared_ptr<APMPBMeasurementBundle> first = engineMetadata(world);
  auto other = APMPBMeasurementBundle::initWithMessageInfo(first->messageInfo());
  APMPBSetString(other.get(), Bundle::kAppVersion, "other");
  const int64_t lost = insertRawEvents(world, *first, {rawEvent("lost", kT)});
  insertRawEvents(world, *other, {rawEvent("kept", kT + 1)});
  measurementtest::rawDatabase()->exec(
      "UPDATE raw_events_metadata SET metadata = x'ff01' WHERE metadata_fingerprint = " + std::to_string(lost));
  EXPECT_EQ(bundleAll(world), 2);
  std::vector<APMDatabase::QueuedBundle> bundles = queuedBundles(world);
  ASSERT_EQ(bundles.size(), 1u);
  EXPECT_EQ(eventNames(*bundles[0].first), (std::vector<std::string>{"kept"}));
  EXPECT_TRUE(world.reported(23098));
}

TEST_F(BundlingTest, AFailureAtAnyStepRollsEverythingBack) {
  // Each trigger refuses one write of the transaction. (A failed engagement
  // update only cuts the engagement step short.)
  const std::vector<std::pair<const char*, std::string>> faults = {
      {"queue insert", "BEFORE INSERT ON queue"},
      {"raw event delete", "BEFORE DELETE ON raw_events"},
      {"app metadata", "BEFORE UPDATE OF last_bundle_index ON app_metadata"},
      {"daily counts", "BEFORE UPDATE OF daily_real_time_conversion_events_count ON app_metadata"},
      {"aggregates", "BEFORE INSERT ON events"},
  };
  insertRawEvents(world, *engineMetadata(world),
                  {rawEvent("purchase", kT, {{"_c", 1}, {"value", 1.0}, {"currency", "USD"}}),
                   rawEvent("_e", kT + 1, {{"_et", 100}}, "auto")},
                  true);
  auto db = measurementtest::rawDatabase();
  const std::string snapshot =
      "SELECT (SELECT count(1) FROM raw_events), (SELECT count(1) FROM queue), (SELECT count(1) "
      "FROM events), "
      "(SELECT count(1) FROM user_attributes), last_bundle_index, "
      "daily_real_time_conversion_events_count, "
      "daily_conversions_count FROM app_metadata";
  const std::vector<std::vector<std::string>> before = db->rows(snapshot);
  for (const auto& [name, when] : faults) {
    SCOPED_TRACE(name);
    db->exec(std::string("CREATE TRIGGER fault ") + when + " BEGIN SELECT RAISE(ABORT, 'disk trouble'); END");
    EXPECT_FALSE(bundleOnce(world));
    EXPECT_EQ(db->rows(snapshot), before);
    db->exec("DROP TRIGGER fault");
  }
  // Without a fault the same group goes through.
  EXPECT_TRUE(bundleOnce(world));
  EXPECT_NE(db->rows(snapshot), before);
}

}  // namespace

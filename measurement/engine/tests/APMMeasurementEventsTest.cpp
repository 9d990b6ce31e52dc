// The road of an event from the front to a raw event: events logged before
// start, every drop with its monitor line, the daily and real-time limits,
// the name limit, faults inside the write transaction, and editing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "measurement/base/APMEventEditing.h"
#include "measurement/engine/tests/MeasurementEngineTestSupport.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using measurementtest::parameterValue;
using measurementtest::RawEventRow;
using platform::Array;
using platform::Dictionary;
using platform::Value;

std::vector<std::string> names(const std::vector<RawEventRow>& rows) {
  std::vector<std::string> list;
  for (const RawEventRow& row : rows) list.push_back(row.name);
  return list;
}

// Sets today's counters in the stored app metadata.
void setDailyCounts(const std::string& assignments) {
  measurementtest::rawDatabase()->exec("UPDATE app_metadata SET " + assignments + " WHERE rowid = 1");
}

int64_t dailyCount(const std::string& column) {
  return std::stoll(measurementtest::rawDatabase()->rows("SELECT " + column + " FROM app_metadata").at(0).at(0));
}

class EventRoadTest : public ::testing::Test {
 protected:
  // Today's day number with the persisted midnight offset.
  int64_t today() {
    int64_t day = 0;
    world.onWorkerQueue([&day](APMMeasurement& engine) { day = engine.database()->currentDay(); });
    return day;
  }

  MeasurementEngineWorld world;
};

TEST_F(EventRoadTest, AnEventLoggedBeforeStartKeepsItsTimeAndArrivesAfterTheEngineStarted) {
  APMAnalytics::logEventWithName("early_event", Dictionary{{"size", 3}});
  world.clock()->advance(5);  // no timer is armed yet: only time moves
  world.startReturning();
  std::vector<RawEventRow> rows = world.rawEvents();
  ASSERT_EQ(names(rows), (std::vector<std::string>{"early_event"}));
  EXPECT_EQ(rows[0].timestamp, MeasurementEngineWorld::kEpoch);
  EXPECT_EQ(rows[0].origin, "app");
  EXPECT_EQ(parameterValue(rows[0], "size"), Value(3LL));
  EXPECT_EQ(parameterValue(rows[0], "_o"), Value("app"));
}

TEST_F(EventRoadTest, AnEventReachingTheFrontWithoutEngineIsDropped) {
  // Started with an empty app ID: the front runs, no engine exists.
  APMAnalytics::startWithAppID("", "fa", MeasurementEngineWorld::defaultOptions());
  APMAnalytics::logEventWithName("lost", {});
  world.settle();
  EXPECT_FALSE(APMMeasurement::hasSharedInstance());
}

TEST_F(EventRoadTest, EveryDropSaysWhy) {
  struct Case {
    const char* name;
    std::function<void()> log;  // what is logged after the start
    int64_t code;
  };
  world.startReturning();
  measurementtest::useConfiguration(world, [] {
    auto config = measurementtest::configuration(measurementtest::MeasurementTestEnvironment::kAppID);
    APMPBSetArray(config.get(), APMPBMeasurementConfigSlot::kEventConfig,
                  measurementtest::items(std::vector<std::shared_ptr<APMPBEventConfig>>{
                      measurementtest::eventConfig("blocked", true, std::nullopt, std::nullopt)}));
    return config;
  }());
  // A purchase carries what its lifetime value needs.
  const Dictionary subscription{
      {"subscription", 1}, {"_did", 42}, {"product_id", "yearly"}, {"currency", "USD"}, {"value", 1}};
  const Case cases[] = {
      {"block list", [] { APMAnalytics::logEventWithName("blocked", {}); }, 23052},
      {"duplicate subscription",
       [&] {
         APMAnalytics::logInternalEventWithOrigin("auto", "_iap", subscription);
         APMAnalytics::logInternalEventWithOrigin("auto", "_iap", subscription);
       },
       23182},
      {"session start with rollouts and nothing stored", [] { APMAnalytics::logInternalEventWithOrigin("auto", "_ssr", {}); },
       23191},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.log();
    world.settle();
    EXPECT_TRUE(world.reported(c.code));
  }
  const std::vector<RawEventRow> rows = world.rawEvents();
  // One purchase kept; the blocked name left an error event (code 11) behind.
  EXPECT_EQ(names(rows), (std::vector<std::string>{"_err", "_iap"}));
  EXPECT_EQ(parameterValue(rows[0], "_err"), Value(11LL));
  EXPECT_EQ(parameterValue(rows[0], "_ev"), Value("blocked"));

  // Disabled collection drops everything before it reaches the road.
  APMAnalytics::setAnalyticsEnabled(false);
  APMAnalytics::logEventWithName("while_disabled", {});
  world.settle();
  EXPECT_TRUE(world.reported(23049));
  EXPECT_EQ(world.rawEvents().size(), 2u);
}

TEST_F(EventRoadTest, ASafelistLetsOnlyItsEventsThroughAndMarksThem) {
  Dictionary options = MeasurementEngineWorld::defaultOptions();
  options.set(APMAnalytics::kSafelistedEventsOption, Array{"kept_event"});
  world.startReturning(options);
  APMAnalytics::logEventWithName("kept_event", {});
  APMAnalytics::logEventWithName("other_event", {});
  world.settle();
  std::vector<RawEventRow> rows = world.rawEvents();
  ASSERT_EQ(names(rows), (std::vector<std::string>{"kept_event"}));
  EXPECT_EQ(parameterValue(rows[0], "ga_safelisted"), Value(1LL));
  ASSERT_EQ(world.monitorLines(23174).size(), 1u);
}

TEST_F(EventRoadTest, ASafelistWithOneInvalidNameIsDroppedWhole) {
  Dictionary options = MeasurementEngineWorld::defaultOptions();
  options.set(APMAnalytics::kSafelistedEventsOption, Array{"kept_event", "not valid!"});
  world.startReturning(options);
  EXPECT_TRUE(world.reported(25035));
  EXPECT_TRUE(world.engine()->safelistedEvents().empty());
}

TEST_F(EventRoadTest, DailyLimitsDropAndCountAsSpecified) {
  world.startReturning();
  const int64_t day = today();
  struct Case {
    const char* name;
    std::string counts;  // today's counters before the event
    const char* event;
    bool isPublic;
    bool stored;
    int64_t code;  // 0: no limit line
    int64_t allAfter;
    int64_t publicAfter;
  };
  const Case cases[] = {
      {"the 100001st event logs", "daily_events_count = 100000, daily_public_events_count = 0", "late_event", true,
       false, 23055, 100001, 1},
      {"the 100501st event does not", "daily_events_count = 100500, daily_public_events_count = 0", "late_event", true,
       false, 0, 100501, 1},
      {"the 101001st logs again", "daily_events_count = 101000, daily_public_events_count = 0", "late_event", true,
       false, 23055, 101001, 1},
      {"over the public limit", "daily_events_count = 50000, daily_public_events_count = 50000", "public_event", true,
       false, 23057, 50000, 50001},
      {"under every limit", "daily_events_count = 10, daily_public_events_count = 10", "public_event", true, true, 0,
       11, 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setDailyCounts("day = " + std::to_string(day) + ", daily_error_events_count = 0, " + c.counts);
    world.clearMonitorLines();
    const size_t before = world.rawEvents().size();
    APMAnalytics::logEventWithName(c.event, {});
    world.settle();
    const std::vector<RawEventRow> rows = world.rawEvents();
    const bool stored = rows.size() > before && rows.back().name == c.event;
    EXPECT_EQ(stored, c.stored);
    for (int64_t code : {23055, 23057}) EXPECT_EQ(world.reported(code), code == c.code) << code;
    // A public drop under the total limit also logs error event 16, which counts itself.
    const bool errorEvent = c.code == 23057;
    EXPECT_EQ(dailyCount("daily_events_count"), c.allAfter + (errorEvent ? 1 : 0));
    EXPECT_EQ(dailyCount("daily_public_events_count"), c.publicAfter);
    if (errorEvent) {
      ASSERT_FALSE(rows.empty());
      EXPECT_EQ(rows.back().name, "_err");
      EXPECT_EQ(parameterValue(rows.back(), "_err"), Value(16LL));
    }
  }
}

TEST_F(EventRoadTest, AnErrorEventOverTheErrorLimitLogsNoFurtherErrorEvent) {
  world.startReturning();
  setDailyCounts("day = " + std::to_string(today()) + ", daily_events_count = 1000, daily_error_events_count = 1000");
  APMAnalytics::logInternalEventWithOrigin("auto", "_err", Dictionary{{"_err", 5}});
  world.settle();
  EXPECT_TRUE(world.reported(23056));
  EXPECT_TRUE(world.rawEvents().empty());
  EXPECT_EQ(dailyCount("daily_error_events_count"), 1001);
  EXPECT_EQ(dailyCount("daily_events_count"), 1000);  // counted, then taken back
}

TEST_F(EventRoadTest, ArrayItemsCountAsEvents) {
  world.startReturning();
  const Array items{Dictionary{{"item_id", "a"}}, Dictionary{{"item_id", "b"}}, Dictionary{{"item_id", "c"}}};
  APMAnalytics::logEventWithName("view_item_list", Dictionary{{"items", items}});
  world.settle();
  EXPECT_EQ(names(world.rawEvents()), (std::vector<std::string>{"view_item_list"}));
  EXPECT_EQ(dailyCount("daily_events_count"), 4);
  EXPECT_EQ(dailyCount("daily_public_events_count"), 4);
}

TEST_F(EventRoadTest, RealTimeMarksFollowTheDailyRealTimeLimitAndDebugMode) {
  world.startReturning();
  setDailyCounts("day = " + std::to_string(today()) + ", daily_real_time_conversion_events_count = 10");
  const Dictionary purchase{{"value", 2.5}, {"currency", "EUR"}};
  APMAnalytics::logEventWithName("purchase", purchase);
  APMAnalytics::logInternalEventWithOrigin("auto", "_f", {});
  world.settle();
  auto realtime = [] {
    std::vector<std::pair<std::string, std::string>> flags;
    for (const auto& row : measurementtest::rawDatabase()->rows("SELECT name, is_realtime FROM raw_events ORDER BY rowid")) {
      flags.emplace_back(row.at(0), row.at(1));
    }
    return flags;
  };
  // The 11th real-time conversion of the day is stored, not real-time; a first open stays real-time.
  EXPECT_EQ(realtime(), (std::vector<std::pair<std::string, std::string>>{{"purchase", "0"}, {"_f", "1"}}));

  setDailyCounts("daily_real_time_conversion_events_count = 0");
  APMAnalytics::logEventWithName("purchase", purchase);
  world.settle();
  EXPECT_EQ(realtime().back(), (std::pair<std::string, std::string>{"purchase", "1"}));

  // In debug mode every event is real-time and marked as debug.
  std::shared_ptr<APMMonitor> monitor = APMEngineServices::monitor();
  monitor->monitorQueue().sync([] {});
  monitor->setDebugModeEnabled(true);
  APMAnalytics::logEventWithName("plain_event", {});
  world.settle();
  monitor->setDebugModeEnabled(false);
  EXPECT_EQ(realtime().back(), (std::pair<std::string, std::string>{"plain_event", "1"}));
  EXPECT_EQ(parameterValue(world.rawEvents().back(), "_dbg"), Value(1LL));
  EXPECT_TRUE(world.reported(23073));
}

TEST_F(EventRoadTest, NewPublicNamesStopAtTheNameLimit) {
  world.startReturning();
  {
    std::unique_ptr<measurementtest::RawConnection> db = measurementtest::rawDatabase();
    db->exec("BEGIN");
    for (int index = 0; index < 2000; ++index) {
      db->exec("INSERT INTO events (name, lifetime_count, current_bundle_count, last_fire_timestamp) VALUES ('name" +
               std::to_string(index) + "', 0, 0, 0)");
    }
    db->exec("COMMIT");
  }
  APMAnalytics::logEventWithName("new_name", {});
  APMAnalytics::logEventWithName("name7", {});
  APMAnalytics::logInternalEventWithOrigin("auto", "_new_internal", {});
  world.settle();
  EXPECT_TRUE(world.reported(23065));
  const std::vector<RawEventRow> rows = world.rawEvents();
  // The error event (code 8) comes back through the front, so it may land
  // anywhere among the events logged after the refused one.
  std::vector<std::string> stored = names(rows);
  std::sort(stored.begin(), stored.end());
  ASSERT_EQ(stored, (std::vector<std::string>{"_err", "_new_internal", "name7"}));
  const auto error = std::find_if(rows.begin(), rows.end(), [](const RawEventRow& row) { return row.name == "_err"; });
  EXPECT_EQ(parameterValue(*error, "_err"), Value(8LL));
}

TEST_F(EventRoadTest, AFailedRawEventInsertLeavesCountsAndAggregatesAsTheyWere) {
  world.startReturning();
  measurementtest::rawDatabase()->exec(
      "CREATE TRIGGER refuse_raw BEFORE INSERT ON raw_events BEGIN SELECT RAISE(ABORT, 'disk trouble'); END");
  APMAnalytics::logEventWithName("refused_event", {});
  world.settle();
  EXPECT_TRUE(world.reported(23071));
  EXPECT_TRUE(world.rawEvents().empty());
  std::unique_ptr<measurementtest::RawConnection> db = measurementtest::rawDatabase();
  EXPECT_EQ(db->count("events"), 0);
  EXPECT_EQ(db->rows("SELECT ifnull(daily_events_count, 0) FROM app_metadata").at(0).at(0), "0");
}

TEST_F(EventRoadTest, AFailedPruneOfSubscriptionIDsKeepsThePurchase) {
  world.startReturning();
  {
    std::unique_ptr<measurementtest::RawConnection> db = measurementtest::rawDatabase();
    db->exec("BEGIN");
    for (int index = 0; index < 1000; ++index) {
      db->exec("INSERT INTO subscriptions (subscription_id) VALUES ('" + std::to_string(100000 + index) + "')");
    }
    db->exec("COMMIT");
    db->exec("CREATE TRIGGER refuse_prune BEFORE DELETE ON subscriptions BEGIN SELECT RAISE(ABORT, 'locked'); END");
  }
  APMAnalytics::logInternalEventWithOrigin("auto", "_iap", Dictionary{{"subscription", 1}, {"_did", 7}, {"currency", "USD"}, {"value", 1}});
  world.settle();
  EXPECT_TRUE(world.reported(23183));
  EXPECT_EQ(names(world.rawEvents()), (std::vector<std::string>{"_iap"}));
  // The ID is stored, so the same purchase reported again is a duplicate.
  APMAnalytics::logInternalEventWithOrigin("auto", "_iap", Dictionary{{"subscription", 1}, {"_did", 7}, {"currency", "USD"}, {"value", 1}});
  world.settle();
  EXPECT_TRUE(world.reported(23182));
  EXPECT_EQ(world.rawEvents().size(), 1u);
}

TEST_F(EventRoadTest, RolloutsSessionStartsAreDedupedAndExceptionsCarryTheRollouts) {
  world.startReturning();
  APMAnalytics::logInternalEventWithOrigin("auto", "_ssr", Dictionary{{"_ffr", "flag_a"}});
  APMAnalytics::logInternalEventWithOrigin("auto", "_ssr", Dictionary{{"_ffr", "flag_a"}});
  APMAnalytics::logInternalEventWithOrigin("auto", "_ae", {});
  world.settle();
  const std::vector<RawEventRow> rows = world.rawEvents();
  EXPECT_EQ(names(rows), (std::vector<std::string>{"_ssr", "_ae"}));
  EXPECT_EQ(parameterValue(rows[1], "_ffr"), Value("flag_a"));
  EXPECT_EQ(world.engine()->persistedConfig()->ririvuduFeatureRollouts(), "flag_a");
}

// Editing that fails on one event name and otherwise marks the event and
// creates two more.
class ScriptedEventEditing : public APMRecordingEventEditing {
 public:
  bool handleEvent(const APMPEvent& event, platform::Error* error) override {
    m_output = event;
    m_created.clear();
    if (event.name() == "broken_event") {
      *error = platform::Error("editing", 1);
      return false;
    }
    m_output.setParameter(Value(7LL), "edited");
    m_created.push_back(APMPEvent("made_event", event.timestamp(), Dictionary{{"_o", "script"}}));
    m_created.push_back(APMPEvent("made_plain", event.timestamp(), {}));
    return true;
  }
  bool hasEdits() const override { return true; }
  bool hasCreatedEvents() const override { return !m_created.empty(); }
  APMPEvent outputEvent() const override { return m_output; }
  std::vector<APMPEvent> eventsToLog() const override { return m_created; }

 private:
  APMPEvent m_output;
  std::vector<APMPEvent> m_created;
};

TEST_F(EventRoadTest, EditingFailureKeepsTheEventAndEditsAndCreationsAreWritten) {
  auto editing = std::make_shared<ScriptedEventEditing>();
  APMEngineServices::setEventEditingFactory([editing] { return editing; });
  world.startReturning();
  auto config = measurementtest::configuration(measurementtest::MeasurementTestEnvironment::kAppID);
  APMPBSetArray(config.get(), APMPBMeasurementConfigSlot::kDynamicEventEditing,
                measurementtest::items(std::vector<std::shared_ptr<APMPBProgram>>{
                    APMPBProgram::initWithMessageInfo(nullptr)}));
  measurementtest::useConfiguration(world, config);

  APMAnalytics::logEventWithName("broken_event", Dictionary{{"kept", 1}});
  APMAnalytics::logEventWithName("good_event", {});
  world.settle();
  const std::vector<RawEventRow> rows = world.rawEvents();
  ASSERT_EQ(names(rows), (std::vector<std::string>{"broken_event", "good_event", "made_event", "made_plain"}));
  EXPECT_EQ(parameterValue(rows[0], "kept"), Value(1LL));
  EXPECT_TRUE(world.reported(23223));
  EXPECT_EQ(parameterValue(rows[1], "edited"), Value(7LL));
  EXPECT_EQ(rows[2].origin, "script");
  EXPECT_EQ(rows[3].origin, "app");
}

}  // namespace

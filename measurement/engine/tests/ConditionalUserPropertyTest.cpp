// Conditional user properties in a running engine: the request checks, the
// set and its activation, trigger, timeout and expiry in the event road,
// removal, the query, and what a database failure undoes.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMUserAttribute.h"
#include "measurement/engine/tests/MeasurementEngineTestSupport.h"
#include "measurement/features/APMConditionalUserPropertyController.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using measurementtest::RawEventRow;
using platform::Dictionary;
using platform::Value;
using Controller = APMConditionalUserPropertyController;

struct Stored {
  bool exists = false;
  bool active = false;
  std::string value;
  double creationTimestamp = 0;
  double triggeredTimestamp = 0;
};

class ConditionalUserPropertyTest : public ::testing::Test {
 protected:
  void SetUp() override { world.start(); }

  static std::shared_ptr<Controller> controller() { return Controller::sharedInstance(); }

  static std::shared_ptr<APMEvent> event(const std::string& name) {
    return APMEvent::initWithOrigin("rrc", false, name, 0, 0, Dictionary{{"exp", "v1"}});
  }

  // "exp" of origin "rrc" with value v1, its three events, and the given trigger.
  static std::shared_ptr<APMConditionalUserProperty> request(std::optional<std::string> triggerEventName = {},
                                                             double triggerTimeout = 60, double timeToLive = 600) {
    auto property = std::make_shared<APMConditionalUserProperty>();
    property->setOrigin("rrc");
    property->setValue(APMValue::initWithString(Value("v1")));
    property->setTriggerEventName(std::move(triggerEventName));
    property->setTriggerTimeout(triggerTimeout);
    property->setTimeToLive(timeToLive);
    property->setTriggeredEvent(event("_exp_activate"));
    property->setTimedOutEvent(event("_exp_timeout"));
    property->setExpiredEvent(event("_exp_expire"));
    return property;
  }

  void set(const std::shared_ptr<APMConditionalUserProperty>& property, const std::string& name = "exp") {
    controller()->setConditionalUserProperty(property, name);
    world.settle();
  }

  // Moves the wall clock only: no timer (the upload's among them) fires, so
  // the raw events stay where the test looks for them.
  void later(double seconds) { world.clock()->setNow(world.clock()->now() + seconds); }

  void logAppEvent(const std::string& name) {
    APMAnalytics::logEventWithName(name, {});
    world.settle();
  }

  Stored stored(const std::string& name = "exp") {
    Stored result;
    world.onWorkerQueue([&](APMMeasurement& engine) {
      platform::Error error;
      std::shared_ptr<APMConditionalUserProperty> row = engine.database()->conditionalUserPropertyWithName(name, &error);
      if (!row) return;
      result = {true, row->isActive(), row->value() ? row->value()->stringValue().value_or("") : "",
                row->creationTimestamp(), row->triggeredTimestamp()};
    });
    return result;
  }

  std::shared_ptr<APMUserAttribute> userProperty(const std::string& name = "exp") {
    std::shared_ptr<APMUserAttribute> attribute;
    world.onWorkerQueue([&](APMMeasurement& engine) {
      platform::Error error;
      attribute = engine.database()->userAttributeWithName(name, &error);
    });
    return attribute;
  }

  static std::string text(const std::shared_ptr<APMUserAttribute>& attribute) {
    return attribute && attribute->value() ? attribute->value()->stringValue().value_or("?") : "none";
  }

  // The stored events of the controller's origin and of the app, in order.
  std::vector<std::string> events() {
    std::vector<std::string> names;
    for (const RawEventRow& row : world.rawEvents()) {
      if (row.origin == "rrc" || row.origin == "app") names.push_back(row.name);
    }
    return names;
  }

  MeasurementEngineWorld world;
};

TEST_F(ConditionalUserPropertyTest, TimeoutsAndTimesToLiveOutsideTheirRangeAreRefused) {
  struct Case {
    double triggerTimeout;
    double timeToLive;
    int64_t refusal;  // 0: accepted
  };
  for (const Case& c : std::vector<Case>{{0, 60, 11000},
                                         {0.001, 60, 0},
                                         {15552000, 60, 0},
                                         {15552001, 60, 11000},
                                         {-1, 60, 11000},
                                         {60, 0, 11001},
                                         {60, 0.001, 0},
                                         {60, 15552000, 0},
                                         {60, 15552001, 11001}}) {
    SCOPED_TRACE(std::to_string(c.triggerTimeout) + " " + std::to_string(c.timeToLive));
    world.clearMonitorLines();
    set(request("go", c.triggerTimeout, c.timeToLive));
    EXPECT_EQ(stored().exists, c.refusal == 0);
    if (c.refusal != 0) {
      EXPECT_TRUE(world.reported(c.refusal));
    }
    controller()->clearConditionalUserPropertyWithClearEvent(nullptr, "exp");
    world.settle();
  }
}

TEST_F(ConditionalUserPropertyTest, WithoutTriggerItIsActiveAtOnceAndASecondSetKeepsItsTriggerData) {
  const double start = world.clock()->now();
  set(request());
  Stored first = stored();
  EXPECT_TRUE(first.active);
  EXPECT_EQ(first.creationTimestamp, start);
  EXPECT_EQ(first.triggeredTimestamp, start);
  std::shared_ptr<APMUserAttribute> attribute = userProperty();
  ASSERT_TRUE(attribute);
  EXPECT_EQ(text(attribute), "v1");
  EXPECT_EQ(attribute->origin(), "rrc");
  EXPECT_EQ(attribute->lastSetTimestamp(), start);
  EXPECT_EQ(events(), std::vector<std::string>{"_exp_activate"});

  // Set again later: the row takes the new value but keeps the first
  // activation; the user property is not written again and nothing is logged.
  later(5);
  std::shared_ptr<APMConditionalUserProperty> again = request();
  again->setValue(APMValue::initWithString(Value("v2")));
  set(again);
  Stored second = stored();
  EXPECT_TRUE(second.active);
  EXPECT_EQ(second.value, "v2");
  EXPECT_EQ(second.creationTimestamp, start);
  EXPECT_EQ(second.triggeredTimestamp, start);
  EXPECT_EQ(text(userProperty()), "v1");
  EXPECT_EQ(events(), std::vector<std::string>{"_exp_activate"});

  // A request marked active writes the user property.
  std::shared_ptr<APMConditionalUserProperty> marked = request();
  marked->setValue(APMValue::initWithString(Value("v3")));
  marked->setActive(true);
  set(marked);
  EXPECT_EQ(text(userProperty()), "v3");
  EXPECT_EQ(events(), std::vector<std::string>{"_exp_activate"});
}

TEST_F(ConditionalUserPropertyTest, ATriggerWithinTheTimeoutActivatesAndOneAfterItTimesOut) {
  struct Case {
    double delay;
    bool triggers;
  };
  for (const Case& c : std::vector<Case>{{0, true}, {15, true}, {16, false}}) {
    SCOPED_TRACE(c.delay);
    set(request("go", 15));
    EXPECT_FALSE(stored().active);
    EXPECT_FALSE(userProperty());
    later(c.delay);
    const double triggerTime = world.clock()->now();
    logAppEvent("go");
    if (c.triggers) {
      EXPECT_EQ(events(), (std::vector<std::string>{"go", "_exp_activate"}));
      EXPECT_TRUE(stored().active);
      EXPECT_EQ(stored().triggeredTimestamp, triggerTime);
      EXPECT_EQ(text(userProperty()), "v1");
    } else {
      // Timed out in the event's own pass: its event comes first, no trigger.
      EXPECT_EQ(events(), (std::vector<std::string>{"_exp_timeout", "go"}));
      EXPECT_FALSE(stored().exists);
      EXPECT_FALSE(userProperty());
    }
    measurementtest::rawDatabase()->exec("DELETE FROM raw_events; DELETE FROM conditional_properties; "
                                         "DELETE FROM user_attributes WHERE name = 'exp'");
  }
}

TEST_F(ConditionalUserPropertyTest, AnActivePropertyExpiresWithItsUserPropertyAtTheNextEvent) {
  set(request(std::nullopt, 60, 10));
  later(10);
  logAppEvent("still_alive");
  EXPECT_EQ(text(userProperty()), "v1");
  later(1);
  logAppEvent("later");
  EXPECT_EQ(events(), (std::vector<std::string>{"_exp_activate", "still_alive", "_exp_expire", "later"}));
  EXPECT_FALSE(stored().exists);
  EXPECT_FALSE(userProperty());
}

TEST_F(ConditionalUserPropertyTest, AnAdImpressionTriggersPropertiesWaitingForItsInternalName) {
  set(request("_ai"));
  logAppEvent("ad_impression");
  EXPECT_TRUE(stored().active);
  EXPECT_EQ(text(userProperty()), "v1");
  std::vector<std::string> logged = events();
  EXPECT_NE(std::find(logged.begin(), logged.end(), "_exp_activate"), logged.end());
}

TEST_F(ConditionalUserPropertyTest, ClearingAndSettingWithoutValueRemoveItAndLogTheClearEvent) {
  // A property that does not exist: a line, no event.
  controller()->clearConditionalUserPropertyWithClearEvent(event("_exp_clear"), "nothing");
  world.settle();
  EXPECT_TRUE(world.reported(11018));
  EXPECT_TRUE(events().empty());

  // A set request without value removes it, user property included, and
  // logs its expired event as the clear event.
  set(request());
  std::shared_ptr<APMConditionalUserProperty> removal = request();
  removal->setValue(nullptr);
  removal->setExpiredEvent(event("_exp_clear"));
  set(removal);
  EXPECT_FALSE(stored().exists);
  EXPECT_FALSE(userProperty());
  EXPECT_EQ(events(), (std::vector<std::string>{"_exp_activate", "_exp_clear"}));

  // A waiting one is cleared without touching a user property of that name.
  set(request("go"));
  controller()->clearConditionalUserPropertyWithClearEvent(event("_exp_clear"), "exp");
  world.settle();
  EXPECT_FALSE(stored().exists);
  EXPECT_EQ(events(), (std::vector<std::string>{"_exp_activate", "_exp_clear", "_exp_clear"}));
}

TEST_F(ConditionalUserPropertyTest, ARowThatCannotBeStoredUndoesTheUserPropertyAndLogsNothing) {
  measurementtest::rawDatabase()->exec(
      "CREATE TRIGGER refuse_cup BEFORE INSERT ON conditional_properties BEGIN SELECT RAISE(ABORT, 'disk full'); END;"
      "CREATE TRIGGER refuse_cup_update BEFORE UPDATE ON conditional_properties "
      "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
  set(request());
  EXPECT_TRUE(world.reported(11014));
  EXPECT_FALSE(world.reported(11013));
  EXPECT_FALSE(stored().exists);
  EXPECT_FALSE(userProperty());
  EXPECT_TRUE(events().empty());
}

TEST_F(ConditionalUserPropertyTest, AFailedEventPassKeepsEverythingAndStillWritesTheEvent) {
  set(request("go", 5));
  measurementtest::rawDatabase()->exec(
      "CREATE TRIGGER keep_cup BEFORE DELETE ON conditional_properties BEGIN SELECT RAISE(ABORT, 'locked'); END");
  later(6);
  logAppEvent("other");
  EXPECT_TRUE(world.reported(10003));
  EXPECT_TRUE(world.reported(23050));
  EXPECT_TRUE(stored().exists);
  EXPECT_EQ(events(), std::vector<std::string>{"other"});
}

TEST_F(ConditionalUserPropertyTest, TheQueryFiltersByPrefixAndOriginAndAnswersAtOnceOnTheWorkerQueue) {
  set(request(), "exp_a");
  set(request("go"), "exp_b");
  std::shared_ptr<APMConditionalUserProperty> other = request();
  other->setOrigin("rcm");
  set(other, "exq");
  auto names = [](const std::optional<Controller::PropertyList>& list) {
    std::vector<std::string> result;
    for (const auto& property : list.value_or(Controller::PropertyList())) result.push_back(property->name());
    std::sort(result.begin(), result.end());
    return result;
  };
  EXPECT_EQ(names(controller()->conditionalUserPropertiesWithNamePrefix(Value(), Value())),
            (std::vector<std::string>{"exp_a", "exp_b", "exq"}));
  EXPECT_EQ(names(controller()->conditionalUserPropertiesWithNamePrefix(Value("exp"), Value())),
            (std::vector<std::string>{"exp_a", "exp_b"}));
  EXPECT_EQ(names(controller()->conditionalUserPropertiesWithNamePrefix(Value(), Value("rcm"))),
            std::vector<std::string>{"exq"});
  EXPECT_FALSE(controller()->conditionalUserPropertiesWithNamePrefix(Value(3), Value()));
  EXPECT_TRUE(world.reported(11003));
  EXPECT_FALSE(controller()->conditionalUserPropertiesWithNamePrefix(Value(), Value(true)));
  EXPECT_TRUE(world.reported(11004));

  // On the worker queue the query would wait for itself: none at once.
  std::optional<Controller::PropertyList> onWorker = Controller::PropertyList();
  world.onWorkerQueue([&](APMMeasurement&) {
    onWorker = controller()->conditionalUserPropertiesWithNamePrefix(Value(), Value());
  });
  EXPECT_FALSE(onWorker);
  EXPECT_TRUE(world.reported(11021));
}

TEST_F(ConditionalUserPropertyTest, ADisabledEngineNeitherSetsNorAnswers) {
  APMAnalytics::setAnalyticsEnabled(false);
  world.settle();
  set(request());
  EXPECT_TRUE(world.reported(11007));
  EXPECT_FALSE(controller()->conditionalUserPropertiesWithNamePrefix(Value(), Value()));
  EXPECT_TRUE(world.reported(11005));
  APMAnalytics::setAnalyticsEnabled(true);
  world.settle();
  EXPECT_FALSE(stored().exists);
}

}  // namespace

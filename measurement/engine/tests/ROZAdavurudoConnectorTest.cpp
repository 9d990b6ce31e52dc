// The analytics connector in a running engine: its rules, what it logs and
// sets for other components, conditional user properties from dictionaries,
// listener routing, the user-property queries and its registration.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "measurement/base/APMUserAttribute.h"
#include "measurement/engine/RIRConnectorUtils.h"
#include "measurement/engine/ROZAdavurudoConnector.h"
#include "measurement/engine/tests/MeasurementEngineTestSupport.h"
#include "measurement/features/APMConditionalUserPropertyController.h"
#include "platform/dispatch/MainQueue.h"
#include "sdk/core/RIRComponentType.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using measurementtest::parameterValue;
using measurementtest::RawEventRow;
using platform::Dictionary;
using platform::Value;

TEST(RIRConnectorUtilsTest, UserPropertyRules) {
  struct Case {
    std::string name;
    std::string origin;
    bool allowed;
  };
  for (const Case& c : std::vector<Case>{{"_ln", "rcm", true},
                                         {"_ln", "riam", true},
                                         {"_ln", "rrc", false},
                                         {"_id", "rrc", false},
                                         {"_sid", "rcm", false},
                                         {"_ltv_USD", "rrc", false},
                                         {"_ltv_usd", "rrc", true},
                                         {"_ltv_USDX", "rrc", true},
                                         {"_cc3", "rrc", false},
                                         {"_cc6", "rrc", true},
                                         {"x_cc1", "rrc", true},
                                         {"", "rrc", false},
                                         {"plan", "rrc", true}}) {
    SCOPED_TRACE(c.name + " " + c.origin);
    EXPECT_EQ(RIRConnectorUtils::isUserPropertyAllowed(c.name, c.origin), c.allowed);
  }
  for (const auto& [name, allowed] : std::vector<std::pair<std::string, bool>>{
           {"_fot", true}, {"plan", true}, {"_id", false}, {"_ln", false}, {"", false}}) {
    EXPECT_EQ(RIRConnectorUtils::isUserPropertyAllowedForQuery(name), allowed) << name;
  }
  for (const auto& [origin, app] : std::vector<std::pair<std::string, bool>>{
           {"app", true}, {"app+x", true}, {"apple", false}, {"auto", false}}) {
    EXPECT_EQ(RIRConnectorUtils::isAppOrigin(origin), app) << origin;
  }
}

class RecordingListener : public ROZAdavurudoInterop::Listener {
 public:
  void messageTriggered(const std::string& name, const Dictionary& parameters) override {
    EXPECT_TRUE(platform::isMainThread());
    std::lock_guard lock(m_mutex);
    m_heard.push_back(name + " " + parameters.get("p").description());
  }
  std::vector<std::string> heard() {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> list;
    list.swap(m_heard);
    return list;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_heard;
};

class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override { world.start(); }

  std::vector<RawEventRow> eventsNamed(const std::string& name) {
    std::vector<RawEventRow> rows;
    for (const RawEventRow& row : world.rawEvents()) {
      if (row.name == name) rows.push_back(row);
    }
    return rows;
  }

  std::string userProperty(const std::string& name) {
    std::string value = "none";
    world.onWorkerQueue([&](APMMeasurement& engine) {
      platform::Error error;
      std::shared_ptr<APMUserAttribute> attribute = engine.database()->userAttributeWithName(name, &error);
      if (attribute && attribute->value()) value = attribute->value()->description();
    });
    return value;
  }

  std::vector<std::string> conditionalNames() {
    std::vector<std::string> names;
    for (const Value& entry : connector->conditionalUserProperties("rrc", "")) names.push_back(entry["name"].stringValue());
    std::sort(names.begin(), names.end());
    return names;
  }

  static Dictionary eventDictionary(const std::string& name) {
    return Dictionary{{"origin", "rrc"}, {"name", name}, {"parameters", Value(Dictionary{{"exp", "v1"}})}};
  }

  MeasurementEngineWorld world;
  std::shared_ptr<ROZAdavurudoConnector> connector = std::make_shared<ROZAdavurudoConnector>();
};

TEST_F(ConnectorTest, EventsOfOtherComponentsPassTheFilters) {
  struct Case {
    std::string origin;
    std::string name;
    Dictionary parameters;
    bool stored;
  };
  for (const Case& c : std::vector<Case>{{"app", "c_app", {}, false},
                                         {"auto", "c_auto", {}, false},
                                         {"am", "c_am", {}, false},
                                         {"rrc", "_s", {}, false},
                                         {"rrc", "c_r", Dictionary{{"_r", 1}}, false},
                                         {"rrc", "c_dbg", Dictionary{{"_dbg", 1}}, false},
                                         {"rrc", "c_ok", Dictionary{{"p", "x"}}, true}}) {
    connector->logEventWithOrigin(c.origin, c.name, c.parameters);
    world.settle();
    EXPECT_EQ(eventsNamed(c.name).size(), c.stored ? 1u : 0u) << c.origin << " " << c.name;
  }
  // Engagement of "clx" is marked with "_r".
  connector->logEventWithOrigin("clx", "_ae", std::nullopt);
  world.settle();
  std::vector<RawEventRow> engagement = eventsNamed("_ae");
  ASSERT_EQ(engagement.size(), 1u);
  EXPECT_EQ(parameterValue(engagement[0], "_r"), Value(1LL));
}

TEST_F(ConnectorTest, UserPropertiesFollowTheRulesAndTheQueryHidesInternalNames) {
  connector->setUserPropertyWithOrigin("rrc", "plan", Value("pro"));
  connector->setUserPropertyWithOrigin("rcm", "_ln", Value("campaign"));
  connector->setUserPropertyWithOrigin("rrc", "_ltv_USD", Value("9"));
  connector->setUserPropertyWithOrigin("auto", "blocked", Value("x"));
  world.settle();
  EXPECT_EQ(userProperty("plan"), "pro");
  EXPECT_EQ(userProperty("_ln"), "campaign");
  EXPECT_EQ(userProperty("_ltv_USD"), "none");
  EXPECT_EQ(userProperty("blocked"), "none");

  std::optional<Dictionary> answer;
  std::mutex mutex;
  connector->getUserPropertiesWithCallback([&](Dictionary properties) {
    EXPECT_TRUE(ROZAdavurudoConnector::queue().isCurrent());
    std::lock_guard lock(mutex);
    answer = properties;
  });
  ASSERT_TRUE(platform::MainQueue::runUntil(
      [&] {
        std::lock_guard lock(mutex);
        return answer.has_value();
      },
      30));
  EXPECT_EQ(answer->get("plan"), Value("pro"));
  EXPECT_FALSE(answer->contains("_ln"));

  connector->setUserPropertyWithOrigin("rrc", "plan", Value());
  world.settle();
  EXPECT_EQ(userProperty("plan"), "none");
}

TEST_F(ConnectorTest, TheLimitIsAnsweredAndTheConnectorQueueDoesNotWaitForItself) {
  EXPECT_EQ(connector->maxUserProperties("rrc"), 25);
  int32_t onQueue = -1;
  ROZAdavurudoConnector::queue().sync([&] { onQueue = connector->maxUserProperties("rrc"); });
  EXPECT_EQ(onQueue, 0);
  EXPECT_TRUE(world.reported(25061));
}

TEST_F(ConnectorTest, ConditionalDictionariesAreReadKeyByKeyWithTheirTypes) {
  // Wrong types and unknown keys are dropped one by one; the rest is kept.
  Dictionary property{{"name", "exp"},
                      {"origin", "rrc"},
                      {"value", "v1"},
                      {"triggerTimeout", 60},
                      {"timeToLive", 600},
                      {"triggerEventName", 5},
                      {"creationTimestamp", "yesterday"},
                      {"timedOutEvent", "not an event"},
                      {"expiredEvent", Value(Dictionary{{"name", "_exp_expire"}})},
                      {"triggeredEvent", Value(eventDictionary("_exp_activate"))},
                      {"unknown", Value(platform::Array{Value(1)})}};
  connector->setConditionalUserProperty(property);
  world.settle();
  EXPECT_EQ(world.monitorLines(25062).size(), 5u);
  EXPECT_EQ(conditionalNames(), std::vector<std::string>{"exp"});
  EXPECT_EQ(userProperty("exp"), "v1");
  std::vector<RawEventRow> activated = eventsNamed("_exp_activate");
  ASSERT_EQ(activated.size(), 1u);
  EXPECT_EQ(activated[0].origin, "rrc");
  EXPECT_EQ(parameterValue(activated[0], "exp"), Value("v1"));

  // A number is a value too; a value of another type is no value (a removal).
  connector->setConditionalUserProperty(
      Dictionary{{"name", "num"}, {"origin", "rrc"}, {"value", 7}, {"triggerTimeout", 60}, {"timeToLive", 600}});
  connector->setConditionalUserProperty(Dictionary{
      {"name", "exp"}, {"origin", "rrc"}, {"value", Value(Dictionary())}, {"triggerTimeout", 60}, {"timeToLive", 600}});
  connector->setConditionalUserProperty(Dictionary());
  world.settle();
  EXPECT_EQ(userProperty("num"), "7");
  EXPECT_EQ(userProperty("exp"), "none");
  // Only string values are listed.
  EXPECT_TRUE(conditionalNames().empty());
}

TEST_F(ConnectorTest, ClearingTakesThePropertyNamedByTheFirstArgument) {
  struct Case {
    Dictionary parameters;
    bool cleared;
    std::string clearParameter;  // the entry the clear event carries
  };
  for (const Case& c : std::vector<Case>{{Dictionary{{"aaa", "x"}, {"exp", "v1"}}, true, "exp"},
                                         {Dictionary{{"k", "v1"}}, true, "k"},
                                         {Dictionary{{"aaa", "x"}, {"bbb", "y"}}, false, ""},
                                         {Dictionary(), false, ""}}) {
    SCOPED_TRACE(c.clearParameter);
    connector->setConditionalUserProperty(Dictionary{
        {"name", "exp"}, {"origin", "rrc"}, {"value", "v1"}, {"triggerTimeout", 60}, {"timeToLive", 600}});
    world.settle();
    connector->clearConditionalUserProperty("exp", "rrc", "_exp_clear", c.parameters);
    world.settle();
    EXPECT_EQ(conditionalNames().empty(), c.cleared);
    std::vector<RawEventRow> clears = eventsNamed("_exp_clear");
    ASSERT_EQ(clears.size(), c.cleared ? 1u : 0u);
    if (c.cleared) {
      EXPECT_EQ(parameterValue(clears[0], c.clearParameter), Value("v1"));
      EXPECT_EQ(clears[0].parameters.size(), 2u);  // the entry and "_o"
    }
    measurementtest::rawDatabase()->exec("DELETE FROM raw_events");
  }
}

TEST_F(ConnectorTest, ListenersHearTheEventsTheRulesRouteToThem) {
  auto crash = std::make_shared<RecordingListener>();
  auto clx = std::make_shared<RecordingListener>();
  auto refused = std::make_shared<RecordingListener>();
  connector->registerAnalyticsListener(crash, "crash");
  connector->registerAnalyticsListener(clx, "clx");
  connector->registerAnalyticsListener(refused, "rrc");
  world.settle();

  APMAnalytics::logEventWithName("tap", Dictionary{{"p", 1}});
  world.settle();
  APMAnalytics::logInternalEventWithOrigin("auto", "_vs", Dictionary{{"p", "s"}});
  world.settle();
  APMAnalytics::logInternalEventWithOrigin("auto", "_xa", Dictionary{{"p", 2}});
  world.settle();
  APMAnalytics::logInternalEventWithOrigin("crash", "c_crash", Dictionary{{"p", 3}});
  world.settle();
  APMAnalytics::logInternalEventWithOrigin("riam", "c_riam", Dictionary{{"p", 4}});
  world.settle();
  EXPECT_EQ(crash->heard(), (std::vector<std::string>{"tap 1", "c_crash 3"}));
  EXPECT_EQ(clx->heard(), (std::vector<std::string>{"tap 1", "_vs s"}));
  EXPECT_TRUE(refused->heard().empty());

  // Another connector has listeners of its own; after the last one is gone
  // nobody hears anything.
  std::make_shared<ROZAdavurudoConnector>()->unregisterAnalyticsListenerWithOrigin("crash");
  world.settle();
  EXPECT_TRUE(world.reported(25013));
  connector->unregisterAnalyticsListenerWithOrigin("crash");
  APMAnalytics::logEventWithName("tap", Dictionary{{"p", 5}});
  world.settle();
  EXPECT_TRUE(crash->heard().empty());
  EXPECT_EQ(clx->heard(), std::vector<std::string>{"tap 5"});
  connector->unregisterAnalyticsListenerWithOrigin("clx");
  APMAnalytics::logEventWithName("tap", Dictionary{{"p", 6}});
  world.settle();
  EXPECT_TRUE(clx->heard().empty());
}

TEST_F(ConnectorTest, ListenersChangeWhileEventsAreDelivered) {
  auto listener = std::make_shared<RecordingListener>();
  std::atomic<bool> done{false};
  std::thread changer([&] {
    for (int round = 0; round < 200; ++round) {
      connector->registerAnalyticsListener(listener, round % 2 == 0 ? "crash" : "clx");
      if (round % 3 == 0) connector->unregisterAnalyticsListenerWithOrigin("crash");
    }
    done = true;
  });
  while (!done) {
    APMAnalytics::logEventWithName("tap", Dictionary{{"p", 1}});
    platform::MainQueue::drain();
  }
  changer.join();
  world.settle();
  listener->heard();
}

TEST(ConnectorRegistrationTest, TheAppHandsOutANewConnectorForEveryLookUp) {
  MeasurementEngineWorld world;
  world.configureApp();
  std::shared_ptr<RIRApp> app = RIRApp::defaultApp();
  ASSERT_TRUE(app);
  auto first = RIRComponentType::instanceForProtocol<ROZAdavurudoInterop>(app->container());
  auto second = RIRComponentType::instanceForProtocol<ROZAdavurudoInterop>(app->container());
  EXPECT_TRUE(std::dynamic_pointer_cast<ROZAdavurudoConnector>(first));
  EXPECT_TRUE(second);
  EXPECT_NE(first, second);
}

}  // namespace

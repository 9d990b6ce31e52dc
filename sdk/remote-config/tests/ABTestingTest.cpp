#include <gtest/gtest.h>

#include <future>

#include "platform/storage/Json.h"
#include "sdk/remote-config/ab-testing/ABTConditionalUserPropertyController.h"
#include "sdk/remote-config/ab-testing/RIRExperimentController.h"
#include "sdk/remote-config/tests/RemoteConfigTestSupport.h"
#include "testing/fakes/analytics/FakeAnalyticsConnector.h"

namespace {

using platform::Value;
using testkit::FakeAnalyticsConnector;

platform::Bytes bytes(const std::string& text) { return platform::Bytes(text.begin(), text.end()); }

std::string payload(const std::string& experiment, const std::string& variant, const std::string& extra = "") {
  return R"({"experimentId":")" + experiment + R"(","variantId":")" + variant +
         R"(","experimentStartTime":"2023-11-14T22:13:20.678Z","triggerTimeoutMillis":"15000","timeToLiveMillis":60000)" +
         (extra.empty() ? "" : "," + extra) + "}";
}

class ABTestingTest : public rctest::RemoteConfigTest {
 protected:
  void SetUp() override {
    rctest::RemoteConfigTest::SetUp();
    ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
  }
  void TearDown() override {
    ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
    rctest::RemoteConfigTest::TearDown();
  }
  // Runs an update and waits for its completion.
  std::optional<platform::Error> update(RIRExperimentController& controller, std::vector<std::string> payloads,
                                        double lastStartTime = 0, int32_t policy = 1) {
    std::vector<platform::Bytes> data;
    for (const std::string& text : payloads) data.push_back(bytes(text));
    std::promise<std::optional<platform::Error>> done;
    controller.updateExperimentsWithServiceOrigin("rrc", RIRLifecycleEvents(), policy, lastStartTime, data,
                                                  [&](std::optional<platform::Error> error) { done.set_value(error); });
    return done.get_future().get();
  }
  static std::string names(const platform::Array& properties) {
    std::string text;
    for (const Value& property : properties) text += property["name"].stringValue() + "=" + property["value"].stringValue() + ",";
    return text;
  }
  std::shared_ptr<FakeAnalyticsConnector> connector = std::make_shared<FakeAnalyticsConnector>(2);
};

TEST_F(ABTestingTest, PayloadFieldsAreTypeChecked) {
  auto parsed = ABTExperimentPayload::parseFromData(bytes(payload("e", "v", R"("overflowPolicy":"IGNORE_NEWEST",
      "triggerEvent":"go","setEventToLog":5,"ongoingExperiments":[{"experimentId":"a"},{"experimentId":1},"x"])")));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->experimentStartTimeMillis(), 1700000000678);
  EXPECT_EQ(parsed->triggerTimeoutMillis(), 15000);
  EXPECT_EQ(parsed->timeToLiveMillis(), 60000);
  EXPECT_EQ(parsed->overflowPolicy(), 2);
  EXPECT_EQ(parsed->triggerEvent(), "go");
  EXPECT_EQ(parsed->setEventToLog(), "");  // not a text
  ASSERT_EQ(parsed->ongoingExperiments().size(), 1u);
  EXPECT_EQ(parsed->ongoingExperiments()[0].experimentId(), "a");

  struct Case {
    std::string json;
    int32_t policy;
    int64_t start;
  };
  const Case cases[] = {
      {R"({"overflowPolicy":"SOMETHING"})", 999, 0},
      {R"({"overflowPolicy":2})", 2, 0},
      {R"({"overflowPolicy":[1]})", 0, 0},
      {R"({"experimentStartTime":"yesterday","experimentStartTimeMillis":5})", 0, 0},
      {R"({"experimentStartTime":7,"experimentStartTimeMillis":"12"})", 0, 12},
      {R"({"experimentStartTimeMillis":true})", 0, 0},
  };
  for (const Case& c : cases) {
    auto payloadOf = ABTExperimentPayload::parseFromData(bytes(c.json));
    ASSERT_TRUE(payloadOf) << c.json;
    EXPECT_EQ(payloadOf->overflowPolicy(), c.policy) << c.json;
    EXPECT_EQ(payloadOf->experimentStartTimeMillis(), c.start) << c.json;
  }
  EXPECT_FALSE(ABTExperimentPayload::parseFromData(bytes("[1]")));
  EXPECT_FALSE(ABTExperimentPayload::parseFromData(bytes("nope")));

  RIRLifecycleEvents events;
  events.setSetExperimentEventName("custom");
  events.setClearExperimentEventName("_mine");
  EXPECT_EQ(events.setExperimentEventName(), "_exp_set");
  EXPECT_EQ(events.clearExperimentEventName(), "_mine");
}

TEST_F(ABTestingTest, TheConditionalUserPropertyOfAnExperiment) {
  ABTConditionalUserPropertyController controller(connector);
  auto parsed = ABTExperimentPayload::parseFromData(bytes(payload("e", "v", R"("timeoutEventToLog":"_mine")")));
  platform::Dictionary property = controller.createExperimentFromOrigin("rrc", *parsed, RIRLifecycleEvents());
  EXPECT_EQ(property.get("creationTimestamp"), Value(1700000000));
  EXPECT_EQ(property.get("name"), Value("e"));
  EXPECT_EQ(property.get("value"), Value("v"));
  EXPECT_FALSE(property.contains("triggerEventName"));  // empty trigger event
  EXPECT_EQ(property.get("triggerTimeout"), Value(15));
  EXPECT_EQ(property.get("timeToLive"), Value(60));
  EXPECT_EQ(property.get("timedOutEvent")["name"], Value("_mine"));
  EXPECT_EQ(property.get("triggeredEvent")["name"], Value("_exp_activate"));
  EXPECT_EQ(property.get("expiredEvent")["parameters"], Value::dict({{"e", "v"}}));

  EXPECT_EQ(ABTConditionalUserPropertyController::overflowPolicyWithPayload(
                *ABTExperimentPayload::parseFromData(bytes(R"({"overflowPolicy":"X"})")), 2),
            2);
  EXPECT_EQ(ABTConditionalUserPropertyController::overflowPolicyWithPayload(
                *ABTExperimentPayload::parseFromData(bytes(R"({"overflowPolicy":"X"})")), 7),
            1);
}

TEST_F(ABTestingTest, OverflowPoliciesWithAFullOrigin) {
  auto controllerObject = std::make_shared<RIRExperimentController>(connector);
  RIRExperimentController& controller = *controllerObject;
  ASSERT_FALSE(update(controller, {payload("a", "1"), payload("b", "1")}));
  EXPECT_EQ(names(connector->properties("rrc")), "a=1,b=1,");

  // Full: IGNORE_NEWEST leaves the origin as it is ...
  ASSERT_FALSE(update(controller, {payload("a", "1"), payload("b", "1"),
                                   payload("c", "1", R"("overflowPolicy":"IGNORE_NEWEST")")}));
  EXPECT_EQ(names(connector->properties("rrc")), "a=1,b=1,");
  EXPECT_TRUE(logged("Experiment ID c variant ID 1 won't be set due to overflow policy."));
  // ... DISCARD_OLDEST (and an unknown policy, falling back to the caller's) clears the first one.
  ASSERT_FALSE(update(controller, {payload("a", "1"), payload("b", "1"),
                                   payload("c", "1", R"("overflowPolicy":"OTHER")")}));
  EXPECT_EQ(names(connector->properties("rrc")), "b=1,c=1,");

  // A new variant of a running experiment replaces it: clear first, then set.
  connector->setMaxUserProperties(5);
  ASSERT_FALSE(update(controller, {payload("b", "2"), payload("c", "1")}));
  EXPECT_EQ(names(connector->properties("rrc")), "c=1,b=2,");
  std::vector<FakeAnalyticsConnector::Call> calls = connector->calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 3].kind, FakeAnalyticsConnector::Call::Kind::Clear);
  EXPECT_EQ(calls[calls.size() - 3].name, "b");
  EXPECT_EQ(calls[calls.size() - 3].clearEventName, "_exp_clear");
  EXPECT_EQ(calls[calls.size() - 2].kind, FakeAnalyticsConnector::Call::Kind::Set);
  EXPECT_EQ(calls.back().kind, FakeAnalyticsConnector::Call::Kind::Log);
  EXPECT_EQ(calls.back().name, "_exp_set");
  EXPECT_EQ(Value(calls.back().parameters), Value::dict({{"b", "2"}}));

  // An empty list clears every experiment of the origin.
  ASSERT_FALSE(update(controller, {}));
  EXPECT_EQ(names(connector->properties("rrc")), "");
}

TEST_F(ABTestingTest, StartTimesAndMissingAnalytics) {
  auto controllerObject = std::make_shared<RIRExperimentController>(connector);
  RIRExperimentController& controller = *controllerObject;
  // Not after the last start time (to the millisecond): not set.
  ASSERT_FALSE(update(controller, {payload("a", "1")}, 1700000000.678));
  EXPECT_EQ(names(connector->properties("rrc")), "");
  EXPECT_TRUE(logged("Not setting experiment ID a, variant ID 1 due to the last update time 1700000000678."));
  ASSERT_FALSE(update(controller, {payload("a", "1")}, 1700000000.677));
  EXPECT_EQ(names(connector->properties("rrc")), "a=1,");
  EXPECT_EQ(controller.latestExperimentStartTimestampBetweenTimestamp(5, {bytes(payload("a", "1")), bytes("bad")}),
            1700000000);
  EXPECT_EQ(controller.latestExperimentStartTimestampBetweenTimestamp(1800000000, {bytes(payload("a", "1"))}),
            1800000000);

  ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
  auto withoutObject = std::make_shared<RIRExperimentController>(nullptr);
  RIRExperimentController& without = *withoutObject;
  std::optional<platform::Error> error = update(without, {payload("a", "1")});
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "com.zoruvu.abtesting");
  EXPECT_EQ(error->code, 1);
  EXPECT_EQ(error->localizedDescription(), "Failed to get conditional user properties from Ririvudu Analytics.");
}

}  // namespace

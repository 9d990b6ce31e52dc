// Notification analytics: which payload markers become event parameters, the
// conversion user property, display notifications, and the absent connector.
#include <gtest/gtest.h>

#include "sdk/messaging/RIRMessagingAnalytics.h"
#include "sdk/messaging/tests/MessagingTestEnvironment.h"

namespace {

using platform::Dictionary;
using platform::Value;

struct RecordingConnector : ROZAdavurudoInterop {
  std::vector<std::string> lines;
  void logEventWithOrigin(const std::string& origin, const std::string& name,
                          const std::optional<Dictionary>& parameters) override {
    lines.push_back("event " + origin + " " + name + " " +
                    (parameters ? Value(*parameters).description() : std::string("nil")));
  }
  void setUserPropertyWithOrigin(const std::string& origin, const std::string& name, const Value& value) override {
    lines.push_back("property " + origin + " " + name + " " + value.description());
  }
  // Not used by messaging.
  void getUserPropertiesWithCallback(std::function<void(Dictionary)> callback) override { callback({}); }
  platform::Array conditionalUserProperties(const std::string&, const std::string&) override { return {}; }
  int32_t maxUserProperties(const std::string&) override { return 0; }
  void setConditionalUserProperty(const Dictionary&) override {}
  void clearConditionalUserProperty(const std::string&, const std::string&, const std::string&,
                                    const Dictionary&) override {}
};

class MessagingAnalyticsTest : public ::testing::Test {
 protected:
  rcmtest::MessagingTestEnvironment env;
  std::shared_ptr<RecordingConnector> connector = std::make_shared<RecordingConnector>();
};

TEST_F(MessagingAnalyticsTest, PayloadMarkersBecomeParameters) {
  const struct {
    const char* name;
    Dictionary payload;
    std::optional<Value> params;
  } cases[] = {
      {"composer only", {{"zoruvu.c.a.e", Value("1")}, {"zoruvu.c.a.c_id", Value("575315420755741863")}},
       Value(Dictionary{{"_nmid", Value("575315420755741863")}})},
      {"every marker",
       {{"zoruvu.c.a.e", Value("1")},
        {"zoruvu.c.a.c_id", Value("c")},
        {"zoruvu.c.a.c_l", Value("label c")},
        {"zoruvu.c.a.m_l", Value("label m")},
        {"from", Value("/topics/news")},
        {"zoruvu.c.a.ts", Value("1700000000")},
        {"zoruvu.c.a.udt", Value(1)}},
       Value(Dictionary{{"_nmid", Value("c")},
                        {"_nmn", Value("label c")},
                        {"label", Value("label m")},
                        {"_nt", Value("/topics/news")},
                        {"_nmt", Value(1700000000LL)},
                        {"_ndt", Value(1)}})},
      {"empty texts, plain sender, zero time",
       {{"zoruvu.c.a.e", Value("1")}, {"zoruvu.c.a.c_id", Value("")}, {"from", Value("12345")},
        {"zoruvu.c.a.ts", Value(0)}},
       Value(Dictionary())},
      {"enabled given as a number", {{"zoruvu.c.a.e", Value(1)}, {"zoruvu.c.a.c_id", Value("c")}}, std::nullopt},
      {"empty payload", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<Dictionary> params = RIRMessagingAnalytics::paramsForEvent("_no", c.payload);
    EXPECT_EQ(params ? Value(*params).description() : "none", c.params ? c.params->description() : "none");
  }
  EXPECT_TRUE(env.env.logged("[I-RCM019001] Analytics logging is disabled. Do not log event."));
  EXPECT_TRUE(env.env.logged("[I-RCM019000] No data found in notification."));
}

TEST_F(MessagingAnalyticsTest, OpensLogConversionAndEventsThroughTheConnector) {
  const Dictionary payload{{"zoruvu.c.a.e", Value("1")}, {"zoruvu.c.a.c_id", Value("c9")}, {"zoruvu.c.a.tc", Value(1)}};
  RIRMessagingAnalytics::logOpenNotification(payload, connector);
  RIRMessagingAnalytics::logForegroundNotification(payload, connector);
  EXPECT_EQ(connector->lines,
            (std::vector<std::string>{
                "property rcm _ln c9",
                R"(event rcm _cmp {"source": "Ririvudu", "medium": "notification", "campaign": "c9"})",
                R"(event rcm _no {"_nmid": "c9"})",
                R"(event rcm _nf {"_nmid": "c9"})",
            }));

  // Conversion without a composer ID sets nothing; the open still logs, with
  // no parameters when analytics is off for the message.
  connector->lines.clear();
  RIRMessagingAnalytics::logOpenNotification(Dictionary{{"zoruvu.c.a.tc", Value("1")}}, connector);
  EXPECT_EQ(connector->lines, std::vector<std::string>{"event rcm _no nil"});
  EXPECT_TRUE(env.env.logged("[I-RCM019004] RIRMessagingAnalytics: Failed to set user property: _ln value: (null)"));

  // An empty event name logs nothing; an absent connector is a no-op.
  connector->lines.clear();
  RIRMessagingAnalytics::logEvent("", payload, connector);
  EXPECT_TRUE(connector->lines.empty());
  EXPECT_TRUE(env.env.logged("[I-RCM019006] Can't log analytics with empty event."));
  RIRMessagingAnalytics::logOpenNotification(payload, nullptr);
  RIRMessagingAnalytics::logMessage(payload, connector);
  EXPECT_TRUE(connector->lines.empty());
}

TEST_F(MessagingAnalyticsTest, DisplayNotificationsHaveAnAlert) {
  const struct {
    Dictionary payload;
    bool display;
  } cases[] = {
      {{{"aps", Value(Dictionary{{"alert", Value("Hi")}})}}, true},
      {{{"aps", Value(Dictionary{{"alert", Value(Dictionary{{"title", Value("T")}})}})}}, true},
      {{{"aps", Value(Dictionary{{"alert", Value(Dictionary())}})}}, false},
      {{{"aps", Value(Dictionary{{"alert", Value(3)}})}}, false},
      {{{"aps", Value(Dictionary{{"badge", Value(1)}})}}, false},
      {{{"aps", Value("alert")}}, false},
      {{}, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(RIRMessagingAnalytics::isDisplayNotification(cases[i].payload), cases[i].display) << i;
  }
}

}  // namespace

// Sessions, screens, automatic reports and user state on a real engine:
// first open and its hour, a returning start, sessions on the virtual clock,
// screen views, user-property limits, the user ID, the session identifier,
// "_npa" and the purchase filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/engine/tests/MeasurementEngineTestSupport.h"
#include "measurement/engine/tests/MeasurementEngineWorld.h"
#include "measurement/features/APMScreenViewReporter.h"
#include "measurement/features/APMSessionReporter.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/notifications/ApplicationNotifications.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using measurementtest::RawEventRow;
using platform::Dictionary;
using platform::Value;

void post(const char* name) { platform::NotificationCenter::defaultCenter().post(name); }

std::vector<RawEventRow> named(const std::vector<RawEventRow>& rows, const std::string& name) {
  std::vector<RawEventRow> found;
  std::copy_if(rows.begin(), rows.end(), std::back_inserter(found), [&](const RawEventRow& r) { return r.name == name; });
  return found;
}

Value param(const RawEventRow& row, const char* name) { return measurementtest::parameterValue(row, name); }

std::shared_ptr<APMUserAttribute> property(MeasurementEngineWorld& world, const std::string& name) {
  std::shared_ptr<APMUserAttribute> found;
  world.onWorkerQueue([&](APMMeasurement& engine) {
    platform::Error error;
    found = engine.database()->userAttributeWithName(name, &error);
  });
  return found;
}

TEST(FirstOpenTest, TheFirstOpenTimeIsRoundedUpToTheNextHour) {
  const struct {
    int64_t millis;
    int64_t rounded;
  } cases[] = {
      {1709290800000 - 2400000, 1709290800000},  // 10:20 -> 11:00
      {1709290800000, 1709294400000},            // exactly 11:00 -> 12:00
      {1709290800000 + 1, 1709294400000},
      {0, 3600000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(APMMeasurement::timestampMillisRoundedUpToNextHour(c.millis), c.rounded) << c.millis;
  }
}

TEST(FirstOpenTest, AFirstStartReportsFirstOpenAndAReturningOneRemovesAnExpiredSession) {
  {
    MeasurementEngineWorld world;
    world.start();
    const std::vector<RawEventRow> rows = world.rawEvents();
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "_f");
    EXPECT_EQ(param(rows[0], "_uwa"), Value(0LL));
    EXPECT_EQ(param(rows[0], "_pfo"), Value(0LL));
    EXPECT_EQ(rows[1].name, "_e");
    EXPECT_TRUE(named(rows, "_au").empty());  // no version was stored before
    ASSERT_TRUE(property(world, "_fi"));
    EXPECT_EQ(property(world, "_fi")->value()->int64Value(), 1);
    EXPECT_EQ(world.engine()->persistedConfig()->firstOpenTimestampMilliseconds(),
              static_cast<int64_t>(MeasurementEngineWorld::kEpoch * 1000));
  }
  MeasurementEngineWorld world;
  MeasurementEngineWorld::seedEarlierFirstOpen();
  {
    platform::Error error;
    auto db = APMDatabase::initWithDatabaseName(APMDatabase::kDatabaseName, APMPersistedConfig::sharedInstance(), &error);
    ASSERT_TRUE(db);
    for (const char* name : {"_sid", "_sno", "_se"}) {
      db->updateUserAttribute(
          APMUserAttribute::initWithOrigin("auto", name, APMValue::initWithInt64(7), MeasurementEngineWorld::kEpoch - 7200)
              .get(),
          &error);
    }
  }
  APMPersistedConfig::sharedInstance()->setAppVersion(std::string("0.9"));
  world.start();
  const std::vector<RawEventRow> rows = world.rawEvents();
  EXPECT_TRUE(named(rows, "_f").empty());
  for (const char* name : {"_sid", "_sno", "_se"}) EXPECT_FALSE(property(world, name)) << name;
  // A stored version that differs from the running one is an update.
  const std::vector<RawEventRow> updates = named(rows, "_au");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(param(updates[0], "_pv"), Value("0.9"));
}

// What the event listeners hear: the session events by name with their parameters.
class HeardEvents {
 public:
  HeardEvents()
      : m_token(APMAnalytics::addLogEventListener([this](const std::shared_ptr<APMEvent>& event) {
          std::lock_guard lock(m_mutex);
          m_events.emplace_back(event->name(), event->parameters());
        })) {}
  ~HeardEvents() { APMAnalytics::removeLogEventListener(m_token); }
  std::vector<Dictionary> named(const std::string& name) {
    std::lock_guard lock(m_mutex);
    std::vector<Dictionary> found;
    for (const auto& [eventName, parameters] : m_events) {
      if (eventName == name) found.push_back(parameters);
    }
    return found;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::pair<std::string, Dictionary>> m_events;
  APMAnalytics::ListenerToken m_token;
};

int64_t int64Param(const Dictionary& parameters, const char* name) {
  APMValuePtr value = APMValue::fromObject(parameters.get(name));
  return value ? value->int64Value() : -1;
}

TEST(SessionsTest, ActivationStartsASessionResigningLogsEngagementAndAReturnInTimeKeepsIt) {
  MeasurementEngineWorld world;
  world.startReturning();
  HeardEvents heard;
  post(platform::kApplicationDidBecomeActiveNotification);
  world.settle();
  world.clock()->advance(2.5);
  post(platform::kApplicationWillResignActiveNotification);
  world.settle();
  world.clock()->advance(60);
  post(platform::kApplicationDidBecomeActiveNotification);
  world.settle();
  const std::vector<Dictionary> starts = heard.named("_s");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(int64Param(starts[0], "_sid"), static_cast<int64_t>(MeasurementEngineWorld::kEpoch));
  EXPECT_EQ(int64Param(starts[0], "_sno"), 1);
  const std::vector<Dictionary> engagements = heard.named("_e");
  ASSERT_EQ(engagements.size(), 1u);
  EXPECT_EQ(int64Param(engagements[0], "_et"), 2500);
  ASSERT_TRUE(property(world, "_sid"));
  EXPECT_EQ(property(world, "_sno")->value()->int64Value(), 1);
}

TEST(SessionsTest, EngagementIsCappedAtAnHourAndAShortScreenChangeLogsNothing) {
  MeasurementEngineWorld world;
  world.startReturning();
  post(platform::kApplicationDidBecomeActiveNotification);
  world.settle();
  APMAnalytics::logEventWithOrigin("app", "screen_view", Dictionary{{"screen_name", "Home"}, {"screen_class", "HomeView"}});
  world.settle();
  world.clock()->advance(0.9);
  APMAnalytics::logEventWithOrigin("app", "screen_view", Dictionary{{"screen_name", "Detail"}});
  world.settle();
  std::vector<RawEventRow> rows = world.rawEvents();
  EXPECT_TRUE(named(rows, "_e").empty()) << testing::PrintToString(world.rawEventNames());
  std::vector<RawEventRow> views = named(rows, "_vs");
  ASSERT_EQ(views.size(), 2u);
  EXPECT_EQ(param(views[0], "_sc"), Value("HomeView"));
  EXPECT_EQ(param(views[1], "_pi"), param(views[0], "_si"));
  EXPECT_EQ(param(views[1], "_pn"), Value("Home"));
  EXPECT_EQ(param(views[1], "_si").longLongValue(), param(views[0], "_si").longLongValue() + 1);
  // A screen without class: 31014, and "_sn" without "_sc".
  EXPECT_TRUE(world.reported(31014));
  EXPECT_FALSE(views[1].parameters.contains("_sc"));
  EXPECT_EQ(param(views[1], "_sn"), Value("Detail"));

  // Four hours pass at once: the engagement timer's event reports one hour
  // (heard by a listener: the upload takes the raw events meanwhile).
  std::mutex mutex;
  std::vector<int64_t> heard;
  const APMAnalytics::ListenerToken token = APMAnalytics::addLogEventListener([&](const std::shared_ptr<APMEvent>& e) {
    std::lock_guard lock(mutex);
    if (e->name() == "_e") heard.push_back(APMValue::fromObject(e->parameters().get("_et"))->int64Value());
  });
  world.clock()->advance(4 * 3600);
  world.settle();
  APMAnalytics::removeLogEventListener(token);
  std::lock_guard lock(mutex);
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.front(), 3600000);
}

TEST(SessionsTest, TimeoutsExpiryAndAClockSetBack) {
  MeasurementEngineWorld world;
  world.startReturning();
  std::shared_ptr<APMPersistedConfig> config = world.engine()->persistedConfig();
  APMSessionReporter::Environment environment;
  environment.isAppActive = [] { return false; };
  std::shared_ptr<APMSessionReporter> reporter = APMSessionReporter::initWithPersistedConfig(config, environment);
  const double now = world.clock()->now();
  const struct {
    const char* name;
    double timeout;
    double lastActivity;
    bool reached;
  } cases[] = {
      {"within the timeout", 1800, now - 1799, false},
      {"past the timeout", 1800, now - 1801, true},
      {"clock set back", 1800, now + 1801, true},
      {"negative timeout acts as 0", -5, now - 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reporter->setTimeoutSessionInterval(c.timeout);
    config->setLastSessionActivityClockTime(c.lastActivity);
    EXPECT_EQ(reporter->hasReachedSessionTimeout(), c.reached);
    EXPECT_EQ(reporter->isSessionExpired(), c.reached);
    // An expired session forgets its activity time.
    EXPECT_EQ(config->lastSessionActivityClockTime() == 0, c.reached);
  }
  EXPECT_TRUE(world.reported(33001));
  EXPECT_EQ(reporter->timeoutSessionInterval(), 0);
}

TEST(UserStateTest, PublicPropertiesStopAtTheLimitOriginsAt25AndAChangedUserIDDropsTheResetMark) {
  MeasurementEngineWorld world;
  world.startReturning();
  APMAnalytics::setUserID(std::string("a"));
  world.settle();
  world.onWorkerQueue([](APMMeasurement& engine) { engine.setLastAdvertisingIDResetUserPropertyOnWorkerQueue(); });
  ASSERT_TRUE(property(world, "_lair"));
  APMAnalytics::setUserID(std::string("a"));  // the same value keeps it
  world.settle();
  EXPECT_TRUE(property(world, "_lair"));
  APMAnalytics::setUserID(std::string("b"));
  world.settle();
  EXPECT_FALSE(property(world, "_lair"));
  APMAnalytics::setUserID(std::nullopt);
  world.settle();
  EXPECT_FALSE(property(world, "_id"));

  for (int i = 0; i < 100; ++i) APMAnalytics::setUserPropertyString(std::string("v"), "p" + std::to_string(i));
  APMAnalytics::setUserPropertyString(std::string("v"), "p100");
  APMAnalytics::setUserPropertyString(std::string("w"), "p0");  // replacing one still works
  for (int i = 0; i < 26; ++i) APMAnalytics::setInternalUserProperty(Value(1LL), "_x" + std::to_string(i), "xyz");
  world.settle();
  EXPECT_FALSE(property(world, "p100"));
  EXPECT_EQ(*property(world, "p0")->value()->stringValue(), "w");
  std::vector<RawEventRow> errors = named(world.rawEvents(), "_err");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(param(errors[0], "_err"), Value(9LL));
  EXPECT_TRUE(property(world, "_x24"));
  EXPECT_FALSE(property(world, "_x25"));
  EXPECT_TRUE(world.reported(23084));

}

TEST(UserStateTest, TheSessionIDAnswersWithTheSessionOrSaysWhyNot) {
  MeasurementEngineWorld world;
  world.startReturning();
  auto ask = [&world] {
    struct Answer {
      std::mutex mutex;
      std::string text;
    };
    auto answer = std::make_shared<Answer>();
    APMAnalytics::sessionIDWithCompletion([answer](int64_t id, std::optional<platform::Error> error) {
      std::lock_guard lock(answer->mutex);
      answer->text = error ? error->localizedDescription() : std::to_string(id);
    });
    world.settle();
    std::lock_guard lock(answer->mutex);
    return answer->text;
  };
  EXPECT_EQ(ask(), "Session expired");  // inactive, no activity yet
  post(platform::kApplicationDidBecomeActiveNotification);
  world.settle();
  EXPECT_EQ(ask(), std::to_string(static_cast<int64_t>(MeasurementEngineWorld::kEpoch)));
  world.onWorkerQueue([](APMMeasurement& engine) { engine.database()->deleteUserAttributeWithName("_sid", nullptr); });
  EXPECT_EQ(ask(), "Session ID not found");
  APMAnalytics::setAnalyticsEnabled(false);
  world.settle();
  EXPECT_EQ(ask(), "Analytics disabled");
}

TEST(UserStateTest, PersonalizedAdsFollowTheStoredPreference) {
  MeasurementEngineWorld world;
  world.startReturning();
  const struct {
    std::optional<std::string> value;
    std::optional<int64_t> npa;
  } cases[] = {{"NO", 1}, {"YES", 0}, {"t", 0}, {"0", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.value_or("nil"));
    APMAnalytics::setUserPropertyString(c.value, "allow_personalized_ads");
    world.settle();
    std::shared_ptr<APMUserAttribute> npa = property(world, "_npa");
    ASSERT_TRUE(npa);
    EXPECT_EQ(npa->value()->int64Value(), *c.npa);
  }
}

TEST(UserStateTest, ThePurchaseFilterKeepsNewPurchasesOnce) {
  MeasurementEngineWorld world;
  world.startReturning();
  auto transaction = [](const char* id, platform::PaymentTransactionState state) {
    platform::PaymentTransaction t;
    t.state = state;
    t.transactionIdentifier = std::string(id);
    t.originalTransactionIdentifier = std::string(id);
    t.transactionDate = MeasurementEngineWorld::kEpoch;
    t.payment.productIdentifier = "pro";
    t.payment.quantity = 1;
    return t;
  };
  auto filter = [&world](const std::vector<platform::PaymentTransaction>& transactions) {
    auto kept = std::make_shared<std::vector<std::string>>();
    auto mutex = std::make_shared<std::mutex>();
    world.engine()->filterPurchaseTransactions(transactions, [kept, mutex](std::vector<platform::PaymentTransaction> t) {
      std::lock_guard lock(*mutex);
      for (const auto& each : t) kept->push_back(each.transactionIdentifier.value_or(""));
    });
    world.settle();
    std::lock_guard lock(*mutex);
    return *kept;
  };
  const std::vector<platform::PaymentTransaction> batch = {
      transaction("t1", platform::PaymentTransactionState::Purchased),
      transaction("t2", platform::PaymentTransactionState::Failed)};
  EXPECT_EQ(filter(batch), (std::vector<std::string>{"t1"}));
  EXPECT_TRUE(filter(batch).empty());
  EXPECT_TRUE(world.reported(23141));
}

}  // namespace

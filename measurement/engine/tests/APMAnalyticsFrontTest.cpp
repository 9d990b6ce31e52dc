// The analytics front and the engine's event entry: default event
// parameters and their backfill, the interceptor and the listeners, the
// operation queue held until start, enabling, consent storage, and the public
// interface's checks.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "measurement/engine/tests/MeasurementEngineTestSupport.h"
#include "platform/notifications/NotificationCenter.h"
#include "sdk/core/ROZAdavurudoConfiguration.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using measurementtest::parameterValue;
using measurementtest::RawEventRow;
using platform::Dictionary;
using platform::Value;
using Util = APMConsentSettingsUtil;

class AnalyticsFrontTest : public ::testing::Test {
 protected:
  std::optional<Dictionary> storedDefaults() { return world.engine()->persistedConfig()->defaultEventParameters(); }

  MeasurementEngineWorld world;
};

TEST_F(AnalyticsFrontTest, DefaultParametersAreValidatedMergedAndRemoved) {
  world.start();
  APMAnalytics::setDefaultEventParameters(
      Dictionary{{"plan", "pro"}, {"level", 3}, {"bad name!", 1}, {"list", platform::Array{1}}});
  world.settle();
  EXPECT_TRUE(world.reported(23214));  // the invalid name
  EXPECT_TRUE(world.reported(23213));  // the array value, which also logs error event 27
  EXPECT_EQ(Value(*storedDefaults()), Value(Dictionary{{"plan", "pro"}, {"level", 3}}));

  APMAnalytics::logEventWithName("with_defaults", Dictionary{{"plan", "free"}});
  APMAnalytics::logInternalEventWithOrigin("auto", "_err", Dictionary{{"_err", 3}});
  world.settle();
  std::vector<RawEventRow> rows = world.rawEvents();
  const RawEventRow* event = measurementtest::findEvent(rows, "with_defaults");
  ASSERT_TRUE(event);
  EXPECT_EQ(parameterValue(*event, "plan"), Value("free"));  // the event's own value wins
  EXPECT_EQ(parameterValue(*event, "level"), Value(3LL));
  const RawEventRow* error = measurementtest::findEvent(rows, "_err");
  ASSERT_TRUE(error);
  EXPECT_FALSE(error->parameters.contains("level"));  // "_err" never gets defaults

  APMAnalytics::setDefaultEventParameters(Dictionary{{"plan", Value()}});
  world.settle();
  EXPECT_EQ(Value(*storedDefaults()), Value(Dictionary{{"level", 3}}));
  APMAnalytics::setDefaultEventParameters(std::nullopt);
  world.settle();
  EXPECT_TRUE(storedDefaults().value_or(Dictionary()).empty());
}

TEST_F(AnalyticsFrontTest, MoreDefaultsThanTheLimitAreTrimmed) {
  world.start();
  Dictionary many;
  for (int index = 0; index < 101; ++index) many.set("p" + std::to_string(index), index);
  APMAnalytics::setDefaultEventParameters(many);
  world.settle();
  EXPECT_EQ(storedDefaults()->size(), 100u);
  EXPECT_TRUE(world.reported(23215));
  const std::vector<RawEventRow> rows = world.rawEvents();
  const RawEventRow* error = measurementtest::findEvent(rows, "_err");
  ASSERT_TRUE(error);
  EXPECT_EQ(parameterValue(*error, "_err"), Value(26LL));
}

TEST_F(AnalyticsFrontTest, DefaultsReachTheAutomaticEventsStoredBeforeTheAppsFirstEvent) {
  world.start();
  APMAnalytics::logInternalEventWithOrigin("auto", "_auto_event", {});
  world.settle();
  APMAnalytics::setDefaultEventParameters(Dictionary{{"theme", "dark"}});
  world.settle();
  EXPECT_TRUE(world.reported(23272));
  EXPECT_EQ(parameterValue(world.rawEvents().at(0), "theme"), Value("dark"));

  // Once the application logged its own event, new defaults are not backfilled.
  APMAnalytics::logEventWithName("app_event", {});
  world.settle();
  APMAnalytics::setDefaultEventParameters(Dictionary{{"theme", "light"}});
  world.settle();
  EXPECT_TRUE(world.reported(23216));
  EXPECT_EQ(parameterValue(world.rawEvents().at(0), "theme"), Value("dark"));
}

TEST_F(AnalyticsFrontTest, TheInterceptorTakesPublicEventsAndListenersHearTheRest) {
  world.start();
  std::vector<std::string> intercepted;
  std::vector<std::string> heard;
  APMAnalytics::setLogEventInterceptor(
      [&intercepted](const std::string& origin, const std::string& name, const Dictionary&, double) {
        intercepted.push_back(origin + ":" + name);
      });
  const APMAnalytics::ListenerToken token =
      APMAnalytics::addLogEventListener([&heard](const std::shared_ptr<APMEvent>& event) {
        heard.push_back(event->origin() + ":" + event->name());
      });
  EXPECT_NE(token, 0u);
  APMAnalytics::logEventWithName("public_event", {});
  APMAnalytics::logInternalEventWithOrigin("auto", "_internal", {});
  APMAnalytics::logInternalEventWithOrigin("am", "_xa", {});
  world.settle();
  EXPECT_EQ(intercepted, (std::vector<std::string>{"app:public_event"}));
  EXPECT_EQ(heard, (std::vector<std::string>{"auto:_internal"}));
  // The intercepted event is not stored; the ad-exposure event is, unheard
  // (after the first open the start reported).
  EXPECT_EQ(world.rawEventNames(), (std::vector<std::string>{"_f", "_e", "_internal", "_xa"}));

  APMAnalytics::removeLogEventListener(token);
  APMAnalytics::removeLogEventListener(token);
  world.settle();
  EXPECT_EQ(world.monitorLines(25015).size(), 1u);
}

TEST_F(AnalyticsFrontTest, ListenerTokensAreCheckedOnTheAnalyticsQueue) {
  world.start();
  EXPECT_EQ(APMAnalytics::addLogEventListener(nullptr), 0u);
  APMAnalytics::removeLogEventListener(0);
  APMAnalytics::removeLogEventListener(12345);  // no listener was ever added
  world.settle();
  EXPECT_TRUE(world.reported(25012));
  EXPECT_TRUE(world.reported(25013));
  EXPECT_TRUE(world.reported(25014));
}

TEST_F(AnalyticsFrontTest, OperationsWaitForTheStartWhileDirectDispatchesDoNot) {
  EXPECT_TRUE(APMAnalytics::isOperationQueueSuspended());
  std::atomic<int> operations{0};
  std::atomic<int> direct{0};
  APMAnalytics::queueOperationWithBlock([&operations] { ++operations; });
  APMAnalytics::dispatchAsyncOnSerialQueue([&direct] { ++direct; });
  world.settle();
  EXPECT_EQ(operations.load(), 0);
  EXPECT_EQ(direct.load(), 1);
  world.start();
  EXPECT_EQ(operations.load(), 1);
  EXPECT_FALSE(APMAnalytics::isOperationQueueSuspended());
}

TEST_F(AnalyticsFrontTest, ASecondStartOnlyChangesTheLogTag) {
  world.start();
  std::shared_ptr<APMMeasurement> engine = world.engine();
  Dictionary options = MeasurementEngineWorld::defaultOptions();
  options.set(APMAnalytics::kLogTagOption, "[Second]");
  APMAnalytics::startWithAppID(measurementtest::MeasurementTestEnvironment::kAppID, "fa", options);
  world.settle();
  EXPECT_EQ(APMEngineServices::monitor()->logTag(), "[Second]");
  EXPECT_EQ(world.engine(), engine);
  options.set(APMAnalytics::kLogTagOption, 5);
  APMAnalytics::startWithAppID(measurementtest::MeasurementTestEnvironment::kAppID, "fa", options);
  EXPECT_TRUE(world.reported(25030));
  APMEngineServices::monitor()->setLogTag(APMMonitor::kDefaultLogTag);
}

TEST_F(AnalyticsFrontTest, AnOriginOtherThanTheInterfacesDefersToIt) {
  APMAnalytics::startWithAppID(measurementtest::MeasurementTestEnvironment::kAppID, "other", {});
  world.settle();
  EXPECT_TRUE(world.reported(25026));
  EXPECT_FALSE(APMAnalytics::isStarted());
}

TEST_F(AnalyticsFrontTest, EnablingWhileDeactivatedChangesNothingAndDisablingTakesEffect) {
  Dictionary options = MeasurementEngineWorld::defaultOptions();
  options.set(APMAnalytics::kCollectionDeactivatedOption, true);
  world.start(options);
  APMAnalytics::setAnalyticsEnabled(true, true);
  world.settle();
  EXPECT_FALSE(APMAnalytics::isEnabledFlag());
  EXPECT_EQ(world.engine()->persistedConfig()->measurementEnabledState(), 1);
  APMAnalytics::setAnalyticsEnabled(false);
  world.settle();
  EXPECT_FALSE(world.engine()->isEnabled());
  EXPECT_TRUE(world.reported(23013));
}

TEST_F(AnalyticsFrontTest, TheConfigurationsNotificationSwitchesCollection) {
  auto configuration = std::make_shared<ROZAdavurudoConfiguration>();
  Dictionary options = MeasurementEngineWorld::defaultOptions();
  options.set(APMAnalytics::kConfigurationOption, Value::opaque(configuration));
  world.start(options);
  configuration->setAnalyticsCollectionEnabled(false, false);
  world.settle();
  EXPECT_FALSE(world.engine()->isEnabled());
  // Another object's notification, or one without a number, changes nothing.
  ROZAdavurudoConfiguration().setAnalyticsCollectionEnabled(true, false);
  configuration->postNotificationName(APMAnalytics::kSetEnabledNotification, Value("yes"));
  world.settle();
  EXPECT_FALSE(world.engine()->isEnabled());
  EXPECT_TRUE(world.reported(25000));
  configuration->setAnalyticsCollectionEnabled(true, false);
  world.settle();
  EXPECT_TRUE(world.engine()->isEnabled());
}

TEST_F(AnalyticsFrontTest, ConsentIsPersistedByPriorityAndReloaded) {
  world.start();
  ROZAdavurudo::setConsent(Dictionary{{"ad_storage", "denied"}, {"analytics_storage", "maybe"}});
  EXPECT_TRUE(world.reported(25042));
  EXPECT_EQ(Util::consentSource(), 10);
  EXPECT_EQ(Util::consentSignals(), "G10-");
  EXPECT_EQ(Value(*APMAnalytics::consentSettings3P()), Value(Dictionary{{"ad_storage", "denied"}}));
  EXPECT_EQ(APMAnalytics::persistedConsentSource(), 10);

  ROZAdavurudo::setConsent(Dictionary{{"ad_user_data", "nope"}});
  EXPECT_TRUE(world.reported(25041));
  // The front's own kind ranks below the interface's.
  APMAnalytics::setConsent(Dictionary{{"ad_storage", "granted"}});
  EXPECT_TRUE(world.reported(25043));
  EXPECT_EQ(Util::consentSignals(), "G10-");

  // A fresh process loads the stored settings at start.
  Util::resetForTesting();
  APMAnalytics::loadPersistedConsentSettings();
  EXPECT_EQ(Util::consentSource(), 10);
  EXPECT_EQ(Util::consentSignals(), "G10-");
  world.settle();
}

TEST_F(AnalyticsFrontTest, TheStoredConsentKindsLoadWithTheirOwnSourceBound) {
  // Both the interface's and the front's settings stored, source 30: the
  // interface's dictionary comes first and its source is at most 20.
  APMAnalytics::frontSuite()->setObject(Value(Dictionary{{"ad_storage", "granted"}}), APMAnalytics::kConsentSettings3PKey);
  APMAnalytics::frontSuite()->setObject(Value(Dictionary{{"ad_storage", "denied"}}), APMAnalytics::kConsentSettings1PKey);
  APMAnalytics::frontSuite()->setInteger(30, APMAnalytics::kConsentSourceKey);
  APMAnalytics::loadPersistedConsentSettings();
  EXPECT_EQ(Util::consentSource(), 20);
  EXPECT_EQ(Util::consentSignals(), "G11-");
  APMAnalytics::clearConsent();
  EXPECT_EQ(Util::consentSource(), 100);
  EXPECT_EQ(APMAnalytics::persistedConsentSource(), 100);
  EXPECT_FALSE(APMAnalytics::consentSettings3P().has_value());
}

TEST_F(AnalyticsFrontTest, TheInterfaceRefusesEventsBeforeTheAppIsConfigured) {
  world.startReturning();
  ROZAdavurudo::logEventWithName("too_early", {});
  ROZAdavurudo::setUserPropertyString("x", "early_property");
  ROZAdavurudo::initiateOnDeviceConversionMeasurementWithEmailAddress("a@b.c");
  ROZAdavurudo::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(platform::Bytes(32, 1));
  world.settle();
  for (int64_t code : {25018, 25019, 25051, 25054}) EXPECT_TRUE(world.reported(code)) << code;
  EXPECT_TRUE(world.rawEvents().empty());
  // Invalid public names become error events instead (13 reserved, 2 otherwise).
  APMAnalytics::logEventWithName("ga_reserved", {});
  APMAnalytics::logEventWithName("_not_public", {});
  world.settle();
  std::vector<RawEventRow> rows = world.rawEvents();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(parameterValue(rows[0], "_err"), Value(13LL));
  EXPECT_EQ(parameterValue(rows[1], "_err"), Value(2LL));
}

TEST(ROZAdavurudoTest, HashedIdentifiersInHexadecimalTextBecomeTheirBytes) {
  const std::string hex = "00ff10A0" + std::string(56, '1');
  const platform::Bytes bytes = APMDataFromHexString(hex);
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0xff);
  EXPECT_EQ(bytes[2], 0x10);
  EXPECT_EQ(bytes[3], 0xa0);
  EXPECT_EQ(bytes[31], 0x11);
  // A pair that does not start with a hexadecimal digit gives 0; one that
  // stops after its first digit gives that digit.
  EXPECT_EQ(APMDataFromHexString("zz7z"), (platform::Bytes{0, 7}));
  EXPECT_EQ(ROZAdavurudo::topLevelVersion(), "12.6.0");
}

}  // namespace

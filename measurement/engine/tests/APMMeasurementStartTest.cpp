// The engine's creation, enabling and start-up sequence on a real database
// file, the wipe-out retry rule, the consent in force at start-up and the
// network log bridge.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/base/APMAlarm.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "measurement/engine/tests/MeasurementEngineWorld.h"
#include "platform/storage/FileSystem.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using measurementtest::MeasurementTestEnvironment;
using platform::Dictionary;
using platform::Value;
using Util = APMConsentSettingsUtil;

TEST(MeasurementStartTest, StartsOnARealDatabaseFileAndIsReadyForEvents) {
  MeasurementEngineWorld world;
  world.start();
  std::shared_ptr<APMMeasurement> engine = world.engine();
  ASSERT_TRUE(engine);
  EXPECT_TRUE(APMMeasurement::hasSharedInstance());
  EXPECT_TRUE(engine->isEnabled());
  EXPECT_TRUE(engine->didInitializeComponents());
  EXPECT_TRUE(engine->wasEnabledDuringInitialization());
  EXPECT_TRUE(platform::fs::exists(APMApplicationSupportPath(APMDatabase::kDatabaseName)));
  EXPECT_EQ(engine->remoteConfigInstance(), APMMeasurement::remoteConfig());
  EXPECT_EQ(APMEngineServices::remoteConfig(), APMMeasurement::remoteConfig());
  EXPECT_TRUE(APMEngineServices::hasSharedInstance());
  EXPECT_TRUE(APMEngineServices::isEnabled());
  EXPECT_EQ(engine->scheduler()->workerQueue().label(), "com.zoruvu.vuve.worker");
  EXPECT_EQ(engine->alarm()->name(), "Measurement timer");
  for (int64_t code : {23007, 23016, 23012}) EXPECT_TRUE(world.reported(code)) << code;
  // The persisted Zoruvu app ID follows the start's app ID.
  EXPECT_EQ(engine->persistedConfig()->appIDFromVOD(), MeasurementTestEnvironment::kAppID);
  EXPECT_TRUE(APMAnalytics::isEnabledFlag());
}

TEST(MeasurementStartTest, CreationHappensOncePerProcess) {
  for (const char* first : {"", MeasurementTestEnvironment::kAppID}) {
    SCOPED_TRACE(std::string("first app ID \"") + first + "\"");
    MeasurementEngineWorld world;
    APMMeasurement::initializeSharedInstanceWithAppID(first, true, false, std::nullopt);
    std::shared_ptr<APMMeasurement> created = APMMeasurement::sharedInstance();
    EXPECT_EQ(created != nullptr, std::string(first) != "");
    APMMeasurement::initializeSharedInstanceWithAppID("1:999:ios:other", true, false, std::nullopt);
    EXPECT_EQ(APMMeasurement::sharedInstance(), created);
    world.settle();
  }
}

TEST(MeasurementStartTest, EnabledStateFollowsDeactivationThenPersistedStateThenOption) {
  struct Case {
    const char* name;
    bool enabledOption;
    bool deactivated;
    int64_t persisted;  // 0 unset, 1 enabled, 2 disabled
    bool enabled;
  };
  const Case cases[] = {
      {"option on", true, false, 0, true},          {"option off", false, false, 0, false},
      {"persisted on beats option off", false, false, 1, true},
      {"persisted off beats option on", true, false, 2, false},
      {"deactivated beats everything", true, true, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MeasurementEngineWorld world;
    if (c.persisted != 0) APMPersistedConfig::sharedInstance()->setMeasurementEnabledState(c.persisted);
    Dictionary options = MeasurementEngineWorld::defaultOptions();
    options.set(APMAnalytics::kCollectionEnabledOption, c.enabledOption);
    options.set(APMAnalytics::kCollectionDeactivatedOption, c.deactivated);
    world.start(options);
    ASSERT_TRUE(world.engine());
    EXPECT_EQ(world.engine()->shouldEnableMeasurement(), c.enabled);
    EXPECT_EQ(world.engine()->isEnabled(), c.enabled);
    EXPECT_EQ(world.engine()->didInitializeComponents(), c.enabled);
    EXPECT_EQ(APMAnalytics::isEnabledFlag(), c.enabled);
    // Enabling a deactivated engine only says so; enabling the others starts
    // them. The front does not even pass the request on.
    world.clearMonitorLines();
    APMAnalytics::setAnalyticsEnabled(true);
    world.settle();
    EXPECT_EQ(APMAnalytics::isEnabledFlag(), !c.deactivated);
    world.engine()->setEnabled(true);
    world.settle();
    EXPECT_EQ(world.engine()->isEnabled(), !c.deactivated);
    EXPECT_EQ(world.reported(23206), c.deactivated);
    EXPECT_EQ(world.engine()->didInitializeComponents(), !c.deactivated);
  }
}

TEST(MeasurementStartTest, AnUnfinishedResetIsRetriedUntilTheCountPassesNine) {
  for (int64_t count : {0, 3, 9, 10}) {
    SCOPED_TRACE(count);
    MeasurementEngineWorld world;
    APMAnalytics::setResetRetryCount(count);
    world.start();
    const bool attempted = count >= 1 && count <= 9;
    // An attempt either succeeds (the count is cleared) or counts itself.
    EXPECT_EQ(APMAnalytics::resetRetryCount() != count, attempted);
    EXPECT_EQ(APMAnalytics::resetRetryCount() == count + 1, world.reported(23208));
  }
}

TEST(MeasurementStartTest, AChangedAppIDWipesTheDataOnceTheIdentifierIsKnown) {
  struct Case {
    const char* name;
    std::optional<std::string> persisted;
    bool wipe;
  };
  const Case cases[] = {
      {"first start", std::nullopt, false},
      {"same app", MeasurementTestEnvironment::kAppID, false},
      {"another app", "1:555:ios:before", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MeasurementEngineWorld world;
    APMPersistedConfig::sharedInstance()->setAppIDFromVOD(c.persisted);
    world.start();
    EXPECT_EQ(world.reported(23294), c.wipe);
    // A wipe that succeeded leaves no retry behind.
    EXPECT_EQ(world.reported(23171), c.wipe);
    EXPECT_EQ(APMAnalytics::resetRetryCount(), 0);
    EXPECT_FALSE(world.reported(23208));
    // Brought up to date in any case, so an unchanged app alone never wipes again.
    EXPECT_EQ(world.engine()->persistedConfig()->appIDFromVOD(), MeasurementTestEnvironment::kAppID);
  }
}

TEST(MeasurementStartTest, StartUpConsentComesFromTheHighestQualifyingSource) {
  struct Case {
    const char* name;
    std::optional<Dictionary> thirdParty;
    std::optional<Dictionary> tcf;
    Dictionary plist;  // Info.plist entries
    std::optional<Dictionary> onStart;
    int64_t persistedSource;  // applied by the front's start when not 100
    int64_t source;
    std::string signals;
  };
  const Dictionary denied{{"ad_storage", "denied"}, {"analytics_storage", "denied"}};
  const Dictionary granted{{"ad_storage", "granted"}, {"analytics_storage", "granted"}};
  const Case cases[] = {
      {"nothing stored", {}, {}, {}, {}, 100, 100, "G1--"},
      {"third party", granted, {}, {}, {}, 10, 10, "G111"},
      {"TCF without third party", {}, denied, {}, {}, 5, 5, "G100"},
      {"TCF stored beside third party is loaded first", granted, denied, {}, {}, 10, 5, "G100"},
      {"Info.plist defaults", {}, {}, {{Util::kPlistAdStorageKey, false}}, {}, 100, 20, "G10-"},
      {"settings from the start options", {}, {}, {}, granted, 100, 40, "G111"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MeasurementEngineWorld world;
    Dictionary info{{"CFBundleIdentifier", "com.tavix.app"}};
    for (const auto& [key, value] : c.plist) info.set(key, value);
    world.env.writeInfo(info);
    if (c.thirdParty) APMAnalytics::persistConsentSettings(*c.thirdParty, Util::kSourceThirdParty);
    if (c.tcf) APMAnalytics::persistConsentSettings(*c.tcf, Util::kSourceTCF);
    if (c.persistedSource != 100) {
      APMAnalytics::frontSuite()->setInteger(c.persistedSource, APMAnalytics::kConsentSourceKey);
    }
    Dictionary options = MeasurementEngineWorld::defaultOptions();
    if (c.onStart) {
      for (const auto& [key, value] : *c.onStart) options.set(key, value);
    }
    world.start(options);
    EXPECT_EQ(Util::consentSource(), c.source);
    EXPECT_EQ(Util::consentSignals(), c.signals);
    // The start options' consent is used once.
    EXPECT_FALSE(APMAnalytics::consentSettings1PStart().has_value());
  }
}

TEST(MeasurementStartTest, TheApplicationsOwnConsentIsClearedAtStartUp) {
  MeasurementEngineWorld world;
  APMAnalytics::persistConsentSettings(Dictionary{{"ad_storage", "denied"}}, Util::kSourceApplication);
  world.start();
  EXPECT_EQ(Util::consentSource(), 100);
  EXPECT_FALSE(APMAnalytics::consentSettings1P().has_value());
}

TEST(MeasurementStartTest, TheLoadTimeOfTheSessionSurvivesARestart) {
  {
    MeasurementEngineWorld world;
    APMPersistedConfig::sharedInstance()->setLoadTimestampValue(Value(1000.5));
    world.start();
    EXPECT_EQ(world.engine()->initTimestamp(), 1000.5);
  }
  // Without a stored one, the front's load time (its first use, on the
  // virtual clock) is taken; the first open then consumes the stored copy.
  MeasurementEngineWorld world(MeasurementEngineWorld::kEpoch + 60);
  world.start();
  EXPECT_EQ(world.engine()->initTimestamp(), MeasurementEngineWorld::kEpoch + 60);
  EXPECT_FALSE(world.engine()->persistedConfig()->loadTimestampValue().has_value());
}

TEST(MeasurementStartTest, NetworkLinesReachTheMonitorAtMappedLevels) {
  const std::pair<int, int64_t> levels[] = {{3, 1}, {4, 4}, {5, 3}, {6, 6}, {7, 7}, {2, 3}, {9, 3}};
  for (const auto& [network, monitor] : levels) {
    EXPECT_EQ(APMMeasurement::monitorLevelFromNetworkLevel(network), monitor) << network;
  }
  MeasurementEngineWorld world;
  world.start();
  world.engine()->ZULNetwork_logWithLevelContext(3, 900002, "request failed", Value("context"));
  world.engine()->ZULNetwork_logWithLevel(7, 900000, "uploading");
  std::vector<measurementtest::MonitorLine> failed = world.monitorLines(900002);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].level, 1);
  EXPECT_EQ(failed[0].message, "request failed");
  ASSERT_EQ(world.monitorLines(900000).size(), 1u);
  EXPECT_EQ(world.monitorLines(900000)[0].level, 7);
}

TEST(MeasurementStartTest, ResigningActiveWritesThePersistedStateAndAsksForAnUpload) {
  MeasurementEngineWorld world;
  world.start();
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationWillResignActiveNotification, {});
  world.settle();
  EXPECT_TRUE(world.reported(23144));
}

}  // namespace

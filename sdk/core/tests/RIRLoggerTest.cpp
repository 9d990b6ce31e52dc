#include "sdk/core/RIRLogger.h"

#include <gtest/gtest.h>

#include "platform/storage/UserDefaults.h"
#include "sdk/core/RIRConfiguration.h"
#include "sdk/core/RIRLoggerWrapper.h"
#include "sdk/core/tests/SdkCoreFixture.h"
#include "sdk/utilities/ZULAssertionHandler.h"

namespace {

using sdktest::raised;

class RIRLoggerTest : public sdktest::SdkCoreFixture {
 protected:
  // A new process: the set-up runs again with these launch arguments.
  void launch(std::vector<std::string> arguments) {
    RIRLogResetForTesting();
    platform::UserDefaults::resetForTesting();
    env.setLaunchArguments(std::move(arguments));
    env.clearLogs();
  }
  // Which of the five levels a core line is written at.
  std::string writtenLevels() {
    std::string written;
    for (ZULLoggerLevel level = ZULLoggerLevelError; level <= ZULLoggerLevelDebug; ++level) {
      env.clearLogs();
      RIRLogEmit(level, RIRLogServiceCore, "I-COR000099", "probe");
      written += env.records().empty() ? '-' : static_cast<char>('0' + level);
    }
    return written;
  }
  bool storedDebugMode() {
    return platform::UserDefaults::standard()->object(kRIRDebugModeDefaultsKey).has_value();
  }
};

TEST_F(RIRLoggerTest, CoreLinesCarryTheSdkVersionAndTheCoreSubsystem) {
  RIRLogEmitError(RIRLogServiceCore, "I-COR000001", "Configuring the default app.");
  auto records = env.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "12.6.0 - [RirivuduCore][I-COR000001] Configuring the default app.");
  EXPECT_EQ(records[0].subsystem, "com.zoruvu.ririvudu");
  EXPECT_EQ(records[0].category, "[RirivuduCore]");
  EXPECT_EQ(records[0].type, platform::LogType::Error);
}

TEST_F(RIRLoggerTest, DebugModeFromLaunchArgumentsPersistsUntilDisabled) {
  struct Step {
    std::vector<std::string> arguments;
    const char* levels;
    bool stored;
  };
  const Step steps[] = {
      {{}, "345--", false},
      {{"-RIRDebugEnabled"}, "34567", true},
      {{}, "34567", true},  // persisted from the previous launch
      {{"-RIRDebugEnabled", "-RIRDebugDisabled"}, "345--", false},
      {{}, "345--", false},
  };
  int index = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(index++);
    launch(step.arguments);
    EXPECT_EQ(writtenLevels(), step.levels);
    EXPECT_EQ(storedDebugMode(), step.stored);
  }
}

TEST_F(RIRLoggerTest, AppStoreBuildStoresTheSwitchButWritesNoDebugLines) {
  ZULAppEnvironmentUtil::setFromAppStoreForTesting(true);
  launch({"-RIRDebugEnabled"});
  EXPECT_EQ(writtenLevels(), "345--");
  EXPECT_TRUE(storedDebugMode());
}

TEST_F(RIRLoggerTest, AnalyticsDebugForcesOnlyTheAnalyticsCategory) {
  RIRLogSetAnalyticsDebugMode(true);
  RIRLogEmitDebug(RIRLogServiceAnalytics, "I-ACS000001", "forced");
  RIRLogEmitDebug(RIRLogServiceCore, "I-COR000098", "dropped");
  EXPECT_TRUE(RIRLogIsLoggable(ZULLoggerLevelDebug, true));
  EXPECT_FALSE(RIRLogIsLoggableDebug());
  auto texts = env.texts();
  EXPECT_EQ(texts, std::vector<std::string>{"12.6.0 - [RirivuduAnalytics][I-ACS000001] forced"});
  RIRLogSetAnalyticsDebugMode(false);
  EXPECT_FALSE(RIRLogIsLoggable(ZULLoggerLevelDebug, true));
}

TEST_F(RIRLoggerTest, LevelsThroughTheConfigurationAndTheWrapper) {
  auto configuration = RIRConfiguration::sharedInstance();
  EXPECT_EQ(configuration->analyticsConfiguration(), ROZAdavurudoConfiguration::sharedInstance());
  configuration->setLoggerLevel(ZULLoggerLevelError);
  EXPECT_EQ(configuration->loggerLevel(), ZULLoggerLevelError);
  EXPECT_EQ(raised([&] { configuration->setLoggerLevel(8); }),
            "NSInternalInconsistencyException: Invalid logger level, 8");
  EXPECT_EQ(RIRLogGetLevel(), ZULLoggerLevelError);
  // A handler that returns: the level stays.
  std::vector<std::string> failures;
  auto previous = ZULAssertionHandler::setCurrent([&](const std::string& text) { failures.push_back(text); });
  configuration->setLoggerLevel(2);
  ZULAssertionHandler::setCurrent(previous);
  EXPECT_EQ(failures, std::vector<std::string>{"Invalid logger level, 2"});
  EXPECT_EQ(configuration->loggerLevel(), ZULLoggerLevelError);
  RIRLogSetLevel(1);  // refused with a forced line
  EXPECT_EQ(RIRLogGetLevel(), ZULLoggerLevelError);
  EXPECT_TRUE(env.logged("12.6.0 - [ZULLogger][I-COR000023] Invalid logger level, 1"));
  RIRLoggerWrapper::logWithLevel(ZULLoggerLevelError, "[Svc]", "I-COR000097", "%d stays %@");
  EXPECT_TRUE(env.logged("12.6.0 - [Svc][I-COR000097] %d stays %@"));
}

TEST_F(RIRLoggerTest, AnalyticsSwitchPersistsOnlyWhenAsked) {
  auto configuration = ROZAdavurudoConfiguration::sharedInstance();
  auto defaults = platform::UserDefaults::standard();
  std::vector<platform::Value> posted;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kROZAdavurudoConfigurationSetEnabledNotification, {}, [&](const platform::Notification& n) {
        posted.push_back(n.userInfo.get(kROZAdavurudoConfigurationSetEnabledNotification));
      });
  configuration->setAnalyticsCollectionEnabled(true, false);
  EXPECT_FALSE(defaults->object(kROZAdavurudoMeasurementEnabledStateKey).has_value());
  configuration->setAnalyticsCollectionEnabled(false, true);
  EXPECT_EQ(defaults->integerFor(kROZAdavurudoMeasurementEnabledStateKey), 2);
  configuration->setAnalyticsCollectionEnabled(true, true);
  EXPECT_EQ(defaults->integerFor(kROZAdavurudoMeasurementEnabledStateKey), 1);
  configuration->postNotificationName("", platform::Value(true));
  configuration->postNotificationName(kROZAdavurudoConfigurationSetEnabledNotification, platform::Value());
  platform::NotificationCenter::defaultCenter().removeObserver(token);
  EXPECT_EQ(posted, (std::vector<platform::Value>{platform::Value(true), platform::Value(false), platform::Value(true)}));
}

}  // namespace

#include "sdk/utilities/ZULLogger.h"

#include <gtest/gtest.h>

#include "sdk/utilities/ZULLoggerWrapper.h"
#include "sdk/utilities/tests/SdkTestEnvironment.h"

namespace {

using sdktest::SdkTestEnvironment;

constexpr const char* kSubsystem = "com.example.sdk";

class ZULLoggerTest : public ::testing::Test {
 protected:
  SdkTestEnvironment env;
};

TEST_F(ZULLoggerTest, LineCarriesVersionCategoryCodeAndMessageInOrder) {
  ZULLogEmit(ZULLoggerLevelError, kSubsystem, "[Cat]", false, "I-ABC000001", "before the version is set");
  ZULLogSetVersionString("9.8.7");
  ZULLogEmit(ZULLoggerLevelWarning, kSubsystem, "[Cat]", false, "I-ABC000002", "100% literal %@");
  auto records = env.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, " - [Cat][I-ABC000001] before the version is set");
  EXPECT_EQ(records[1].text, "9.8.7 - [Cat][I-ABC000002] 100% literal %@");
  EXPECT_EQ(records[1].subsystem, kSubsystem);
  EXPECT_EQ(records[1].category, "[Cat]");
}

TEST_F(ZULLoggerTest, DefaultLevelWritesUpToNoticeAndMapsLevelsToLogTypes) {
  struct Case {
    ZULLoggerLevel level;
    bool written;
    platform::LogType type;
  };
  const Case cases[] = {
      {0, true, platform::LogType::Error},
      {2, true, platform::LogType::Error},
      {ZULLoggerLevelError, true, platform::LogType::Error},
      {ZULLoggerLevelWarning, true, platform::LogType::Default},
      {ZULLoggerLevelNotice, true, platform::LogType::Default},
      {ZULLoggerLevelInfo, false, platform::LogType::Info},
      {ZULLoggerLevelDebug, false, platform::LogType::Debug},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    env.clearLogs();
    ZULLogEmit(c.level, kSubsystem, "[Cat]", false, "I-ABC000003", "m");
    auto records = env.records();
    ASSERT_EQ(records.size(), c.written ? 1u : 0u);
    if (c.written) {
      EXPECT_EQ(records[0].type, c.type);
    }
    EXPECT_EQ(ZULLogTypeForLevel(c.level), c.type);
    // A forced line passes whatever the level.
    env.clearLogs();
    ZULLogEmit(c.level, kSubsystem, "[Cat]", true, "I-ABC000004", "forced");
    EXPECT_EQ(env.records().size(), 1u);
  }
  EXPECT_EQ(ZULLogTypeForLevel(9), platform::LogType::Error);
}

TEST_F(ZULLoggerTest, OutOfRangeLevelIsReportedAndIgnored) {
  ZULLogSetLevel(ZULLoggerLevelError);
  for (ZULLoggerLevel bad : {2L, 8L}) {
    env.clearLogs();
    ZULLogSetLevel(bad);
    EXPECT_EQ(ZULLogGetLevel(), ZULLoggerLevelError);
    auto records = env.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, " - [ZULLogger][I-COR000023] Invalid logger level, " + std::to_string(bad));
    EXPECT_EQ(records[0].subsystem, kZULLoggerSubsystem);
  }
}

TEST_F(ZULLoggerTest, AppStoreBuildKeepsDebugOutputOut) {
  ZULAppEnvironmentUtil::setFromAppStoreForTesting(true);
  ZULLogSetLevel(ZULLoggerLevelDebug);
  EXPECT_EQ(ZULLogGetLevel(), ZULLoggerLevelNotice);
  ZULLogForceDebugMode();
  EXPECT_FALSE(ZULLogIsLoggable(ZULLoggerLevelDebug));
  ZULLogSetLevel(ZULLoggerLevelError);
  EXPECT_EQ(ZULLogGetLevel(), ZULLoggerLevelError);
}

TEST_F(ZULLoggerTest, DebugModeWritesEveryLevelAndLazyMessagesAreBuiltOnlyWhenWritten) {
  int built = 0;
  auto make = [&] {
    ++built;
    return std::string("lazy");
  };
  ZULLogEmitLazy(ZULLoggerLevelDebug, kSubsystem, "[Cat]", false, "I-ABC000005", make);
  EXPECT_EQ(built, 0);
  ZULLogForceDebugMode();
  EXPECT_EQ(ZULLogGetLevel(), ZULLoggerLevelDebug);
  ZULLogSetLevel(ZULLoggerLevelError);  // debug mode stays on
  ZULLogEmitLazy(ZULLoggerLevelDebug, kSubsystem, "[Cat]", false, "I-ABC000005", make);
  EXPECT_EQ(built, 1);
  EXPECT_TRUE(env.logged("[I-ABC000005] lazy"));
}

TEST_F(ZULLoggerTest, WrapperWritesMessageUnchangedUnderUtilitiesSubsystem) {
  ZULLoggerWrapper::logWithLevelWithService(ZULLoggerLevelError, "[Svc]", "I-ABC000006", "count %d of %@");
  auto records = env.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].subsystem, kZULLoggerSubsystem);
  EXPECT_EQ(records[0].text, " - [Svc][I-ABC000006] count %d of %@");
  EXPECT_EQ(ZULMessageCode("ZUL", 3), "I-ZUL000003");
  EXPECT_EQ(ZULMessageCode("ZDTCOR", 1234567), "I-ZDTCOR1234567");
}

}  // namespace

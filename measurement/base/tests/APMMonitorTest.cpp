#include "measurement/base/APMMonitor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/base/APMASLLogger.h"
#include "measurement/base/APMError.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "platform/runtime/ClassRegistry.h"
#include "testing/VirtualClockFixture.h"

namespace {

using measurementtest::MeasurementTestEnvironment;
using measurementtest::ScriptedRandomSource;

struct Line {
  std::string message;
  std::string tag;
  int64_t code;
  int64_t level;
};

class RecordingLogger : public APMLogging {
 public:
  void logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                  int64_t logLevel) override {
    std::lock_guard lock(m_mutex);
    m_lines.push_back({message, logTag, messageCode, logLevel});
  }
  std::vector<Line> lines() {
    std::lock_guard lock(m_mutex);
    return m_lines;
  }

 private:
  std::mutex m_mutex;
  std::vector<Line> m_lines;
};

class APMMonitorTest : public ::testing::Test {
 protected:
  std::shared_ptr<APMMonitor> makeMonitor() {
    std::shared_ptr<APMMonitor> monitor = APMMonitor::initWithLogLevel(6, logger, 120500);
    waitFor(*monitor);
    return monitor;
  }
  static void waitFor(const APMMonitor& monitor) { monitor.monitorQueue().sync([] {}); }
  std::optional<platform::Array> storedSample() {
    return APMUserDefaults(std::string(APMMonitor::kMonitorSuiteName)).arrayForKey(APMMonitor::kHealthMonitorKey);
  }

  MeasurementTestEnvironment env;
  std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
};

TEST(APMMonitorLevels, TableOfDescriptionsSilenceSamplingAndSinkLevels) {
  struct Row {
    int64_t level;
    const char* description;  // nullptr for none
    bool silent;
    bool monitorable;
    ZULLoggerLevel sinkLevel;
  };
  const Row rows[] = {
      {0, "ERROR", false, false, 3},   {1, "ERROR", false, true, 3},    {2, "ERROR", true, true, 3},
      {3, "WARNING", false, false, 4}, {4, "WARNING", false, true, 4},  {5, "WARNING", true, true, 4},
      {6, "NOTICE", false, false, 5},  {7, "DEBUG", false, false, 7},   {8, nullptr, false, false, 7},
      {9, nullptr, true, true, 4},     {-1, nullptr, true, true, 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.level);
    std::optional<std::string> description = APMMonitor::logLevelDescriptionFromLogLevel(row.level);
    EXPECT_EQ(description.has_value(), row.description != nullptr);
    if (row.description != nullptr && description) {
      EXPECT_EQ(*description, row.description);
    }
    EXPECT_EQ(APMMonitor::isSilentLevel(row.level), row.silent);
    EXPECT_EQ(APMMonitor::isMonitorableLevel(row.level), row.monitorable);
    EXPECT_EQ(APMASLLogger::ZULLoggerLevelFromLogLevel(row.level), row.sinkLevel);
  }
}

TEST(APMMonitorEncoding, ContextObjectsHideTheirValues) {
  struct Row {
    APMLogContext context;
    const char* encoded;
  };
  const Row rows[] = {
      {APMLogContext(0), "0"},
      {APMLogContext(99), "99"},
      {APMLogContext(-99), "-99"},
      {APMLogContext(100), "100...999"},
      {APMLogContext(-100), "-999...-100"},
      {APMLogContext(1234), "1000...9999"},
      {APMLogContext(-1234), "-9999...-1000"},
      {APMLogContext(999999999999999999LL), "100000000000000000...999999999999999999"},
      {APMLogContext(INT64_MAX), "1000000000000000000...9999999999999999999"},
      {APMLogContext(INT64_MIN), "-9999999999999999999...-1000000000000000000"},
      {APMLogContext(2.75), "2"},
      {APMLogContext(true), "1"},
      {APMLogContext("secret"), "-"},
      {APMLogContext(""), "-"},
      {APMLogContext(), ""},
      {APMLogContext(platform::Exception("NSRangeException", "out of range")), "NSRangeException"},
      {APMLogContext(platform::Error("SomeDomain", 4)), "SomeDomain"},
      {APMLogContext(platform::Error("", 4)), "-"},
      {APMLogContext(platform::Value::array({1})), "?"},
      {APMLogContext::object("an event"), "?"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(row.context), row.encoded) << row.context.description();
  }
  EXPECT_EQ(APMMonitor::encodedStringWithContextArray({}, false), "");
  EXPECT_EQ(APMMonitor::encodedStringWithContextArray({"a", 1234, nullptr}, false), "-,1000...9999,");
  EXPECT_EQ(APMMonitor::encodedStringWithContextArray({"a", 1234}, true), "-, 1000...9999");
}

TEST(APMMonitorEncoding, ConsoleLinesAndKeys) {
  EXPECT_EQ(APMMonitor::stringWithLogMessage(std::nullopt, 1, {}, false), "(Message was nil)");
  EXPECT_EQ(APMMonitor::stringWithLogMessage("", 1, {}, false), "(Message was empty)");
  EXPECT_EQ(APMMonitor::stringWithLogMessage("Plain", 1, {}, true), "Plain");
  EXPECT_EQ(APMMonitor::stringWithLogMessage("Failed", 1, {"name", 1234, nullptr}, true),
            "Failed: -, 1000...9999, ");
  EXPECT_EQ(APMMonitor::stringWithLogMessage(
                "Failed", 1,
                {"name", 1234, nullptr, platform::Exception("Boom", "it broke"), APMLogContext::object("<thing>")},
                false),
            "Failed: name, 1234, (nil), Boom: it broke, <thing>");

  EXPECT_EQ(APMMonitor::monitoringDataKeyWithMessage("Failed", 1, 120500), "1E_120500:Failed");
  EXPECT_EQ(APMMonitor::monitoringDataKeyWithMessage("Slow", 4, 120500), "1W_120500:Slow");
  EXPECT_EQ(APMMonitor::monitoringDataKeyWithMessage("Odd", 12, 7), "1?_7:Odd");
  EXPECT_EQ(APMMonitoringSampledData::monitoringURLParamWithKey("1E_120500:Failed", 3, "-,1000...9999"),
            "3:1E_120500:Failed:-,1000...9999");
  EXPECT_EQ(APMMonitoringSampledData::monitoringURLParamWithKey("1E_120500:Failed", 3, ""), "3:1E_120500:Failed");
  EXPECT_EQ(APMMonitor::lastAPMSymbolFromException(nullptr), std::nullopt);
}

TEST_F(APMMonitorTest, TheReportObserverHearsEveryReportBeforeFiltering) {
  std::shared_ptr<APMMonitor> monitor = makeMonitor();
  std::vector<std::string> heard;
  monitor->setReportObserver([&heard](int64_t level, int64_t code, const std::string& message) {
    heard.push_back(std::to_string(level) + "/" + std::to_string(code) + " " + message);
  });
  monitor->logWithLevel(8, 4, "verbose only");
  monitor->logWithLevel(5, 9, "silent", 1);
  monitor->logWithLevel(1, 10, std::nullopt);
  monitor->setReportObserver(nullptr);
  monitor->logWithLevel(0, 11, "after removal");
  waitFor(*monitor);
  EXPECT_EQ(heard, (std::vector<std::string>{"8/4 verbose only", "5/9 silent", "1/10 "}));
}

TEST_F(APMMonitorTest, ReportsReachTheSinkOrTheSampleByLevel) {
  std::shared_ptr<APMMonitor> monitor = makeMonitor();
  monitor->setLogTag("<Tag>");
  monitor->logWithLevel(0, 1, "printed, not sampled", 5);
  monitor->logWithLevel(2, 2, "sampled, silent");
  monitor->logWithLevel(7, 3, "debug, not loggable at the default level");
  monitor->logWithLevel(8, 4, "verbose only");
  monitor->logWithLevel(4, 5, "printed and sampled", "x", 1234);
  waitFor(*monitor);
  std::vector<Line> lines = logger->lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].message, "printed, not sampled: 5");
  EXPECT_EQ(lines[0].tag, "<Tag>");
  EXPECT_EQ(lines[0].code, 1);
  EXPECT_EQ(lines[0].level, 0);
  EXPECT_EQ(lines[1].message, "printed and sampled: x, 1234");
  std::optional<platform::Array> sample = storedSample();
  ASSERT_TRUE(sample);
  EXPECT_EQ((*sample)[1].longLongValue(), 2);  // the level-2 and level-4 reports only

  ZULLogSetLevel(ZULLoggerLevelDebug);
  monitor->logWithLevel(7, 6, "debug now loggable");
  monitor->logWithLevel(8, 7, "still dropped");
  waitFor(*monitor);
  EXPECT_EQ(logger->lines().size(), 3u);
}

TEST_F(APMMonitorTest, SamplingKeepsAUniformChoiceAndAppendsErrorContexts) {
  auto random = std::make_shared<ScriptedRandomSource>(std::vector<uint32_t>{0, 1});
  platform::RandomSource::setCurrent(random);
  std::shared_ptr<APMMonitor> monitor = makeMonitor();
  monitor->logWithLevel(1, 10, "First", 1234);
  platform::Error error = apm_errorWithCode(3, "Database failed", "db_ctx");
  monitor->logWithLevel(1, 11, "Second", error, platform::Error("OtherDomain", 2, {{kAPMMonitorContextKey, "no"}}));
  monitor->logWithLevel(5, 12, "Third");
  waitFor(*monitor);
  EXPECT_EQ(random->bounds(), (std::vector<uint32_t>{2, 3}));
  std::optional<platform::Array> sample = storedSample();
  ASSERT_TRUE(sample);
  ASSERT_EQ(sample->size(), 4u);
  EXPECT_EQ((*sample)[0], platform::Value("com.zoruvu.vod.measurement.ErrorDomain,OtherDomain,db_ctx"));
  EXPECT_EQ((*sample)[1].longLongValue(), 3);
  EXPECT_EQ((*sample)[2], platform::Value("1E_120500:Second"));
  EXPECT_TRUE((*sample)[3].isDate());
}

class APMMonitorDispatchTest : public testkit::VirtualClockFixture {
 protected:
  MeasurementTestEnvironment env;
};

TEST_F(APMMonitorDispatchTest, YoungEntriesStayOldOnesLeaveOnce) {
  std::shared_ptr<APMMonitor> monitor = APMMonitor::initWithLogLevel(6, std::make_shared<RecordingLogger>(), 120500);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0), std::nullopt);
  const double now = clock->now();
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, now - 30), std::nullopt);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, now - 61), "0:");
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, now + 61), "0:");

  monitor->logWithLevel(1, 10, "Failed", 1234);
  monitor->monitorQueue().sync([] {});  // the entry is made on the queue, at its time
  clock->advance(30);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0), std::nullopt);
  clock->advance(31);
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0), "1:1E_120500:Failed:1000...9999");
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(60, 0), std::nullopt);
}

TEST_F(APMMonitorTest, StoredSamplesOfTheWrongShapeAreDiscarded) {
  APMUserDefaults suite{std::string(APMMonitor::kMonitorSuiteName)};
  suite.setInteger(2, APMMonitor::kMigrationStateKey);
  const platform::Value bad[] = {
      platform::Value::array({"ctx", 1, "key"}),
      platform::Value::array({"ctx", "1", "key", platform::Value::date(5)}),
      platform::Value::array({"ctx", 1, "key", 5}),
  };
  for (const platform::Value& entry : bad) {
    suite.setObject(entry, APMMonitor::kHealthMonitorKey);
    std::shared_ptr<APMMonitor> monitor = makeMonitor();
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(-1, 0), std::nullopt) << entry.description();
  }
  suite.setObject(platform::Value::array({"ctx", 4, "1E_1:Old", platform::Value::date(5)}),
                  APMMonitor::kHealthMonitorKey);
  EXPECT_EQ(makeMonitor()->monitoringDataForDispatchWithSamplePeriod(-1, 0), "4:1E_1:Old:ctx");
}

TEST_F(APMMonitorTest, MigrationFromEachState) {
  std::shared_ptr<APMUserDefaults> application = APMUserDefaults::sharedUserDefaults();
  APMUserDefaults suite{std::string(APMMonitor::kMonitorSuiteName)};
  const platform::Value oldSample = platform::Value::array({"old", 2, "1E_1:Old", platform::Value::date(5)});
  const platform::Value newSample = platform::Value::array({"new", 3, "1E_1:New", platform::Value::date(6)});

  // State 0 (the shared monitor may have migrated this home already), sample
  // only in the application's preferences: copied, then removed there.
  suite.removeObjectForKey(APMMonitor::kMigrationStateKey);
  application->setObject(oldSample, APMMonitor::kHealthMonitorKey);
  makeMonitor();
  EXPECT_EQ(suite.objectForKey(APMMonitor::kHealthMonitorKey), oldSample);
  EXPECT_EQ(application->objectForKey(APMMonitor::kHealthMonitorKey), std::nullopt);
  EXPECT_EQ(suite.integerForKey(APMMonitor::kMigrationStateKey), 2);

  // State 0 with a sample in both: the suite's own wins.
  suite.removeObjectForKey(APMMonitor::kMigrationStateKey);
  suite.setObject(newSample, APMMonitor::kHealthMonitorKey);
  application->setObject(oldSample, APMMonitor::kHealthMonitorKey);
  makeMonitor();
  EXPECT_EQ(suite.objectForKey(APMMonitor::kHealthMonitorKey), newSample);
  EXPECT_EQ(application->objectForKey(APMMonitor::kHealthMonitorKey), std::nullopt);

  // State 1: the application's copy is removed without being read.
  suite.setInteger(1, APMMonitor::kMigrationStateKey);
  application->setObject(oldSample, APMMonitor::kHealthMonitorKey);
  makeMonitor();
  EXPECT_EQ(suite.objectForKey(APMMonitor::kHealthMonitorKey), newSample);
  EXPECT_EQ(application->objectForKey(APMMonitor::kHealthMonitorKey), std::nullopt);
  EXPECT_EQ(suite.integerForKey(APMMonitor::kMigrationStateKey), 2);

  // State 2: the application's preferences are never read again.
  application->setObject(oldSample, APMMonitor::kHealthMonitorKey);
  makeMonitor();
  EXPECT_EQ(application->objectForKey(APMMonitor::kHealthMonitorKey), oldSample);
  EXPECT_EQ(suite.objectForKey(APMMonitor::kHealthMonitorKey), newSample);
}

TEST_F(APMMonitorTest, LaunchArgumentsAndStoredSwitches) {
  struct Row {
    std::vector<std::string> arguments;
    bool storedDebug;
    bool fromAppStore;
    bool debug;
    bool verbose;
    int64_t level;
    ZULLoggerLevel sharedLevel;
  };
  const Row rows[] = {
      {{}, false, false, false, false, 6, 5},
      {{"-APMAnalyticsDebugEnabled"}, false, false, true, false, 7, 7},
      {{"-ROZAdavurudoDebugEnabled", "-APMAnalyticsVerboseLoggingEnabled"}, false, false, true, true, 8, 7},
      {{"-ROZAdavurudoDebugEnabled", "-noAPMAnalyticsDebugEnabled"}, false, false, false, false, 6, 5},
      {{}, true, false, true, false, 7, 7},
      {{"-RIRDebugDisabled"}, true, false, false, false, 6, 5},
      {{"-ROZAdavurudoDebugEnabled"}, true, true, false, false, 6, 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.arguments.empty() ? std::string("no arguments") : row.arguments[0]);
    ZULLogResetForTesting();
    env.setLaunchArguments(row.arguments);
    ZULAppEnvironmentUtil::setFromAppStoreForTesting(row.fromAppStore);
    if (row.storedDebug) APMUserDefaults::sharedUserDefaults()->setBool(true, APMMonitor::kDebugModeKey);
    std::shared_ptr<APMMonitor> monitor = makeMonitor();
    EXPECT_EQ(monitor->isDebugModeAllowed(), !row.fromAppStore);
    EXPECT_EQ(monitor->isDebugModeEnabled(), row.debug);
    EXPECT_EQ(monitor->isVerboseLoggingEnabled(), row.verbose);
    EXPECT_EQ(monitor->logLevel(), row.level);
    EXPECT_EQ(ZULLogGetLevel(), row.sharedLevel);
    EXPECT_EQ(APMUserDefaults::sharedUserDefaults()->boolForKey(APMMonitor::kDebugModeKey),
              row.debug || (row.storedDebug && row.fromAppStore));
    monitor->setVerboseLoggingEnabled(false);
    APMUserDefaults::sharedUserDefaults()->clearAllData();
  }
}

TEST_F(APMMonitorTest, DeferringToTheCoreLoggerLeavesItsLevelAlone) {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  const bool registered = registry.registerClass("RIRConfiguration");
  env.setLaunchArguments({"-RIRDebugEnabled"});
  std::shared_ptr<APMMonitor> monitor = makeMonitor();
  EXPECT_TRUE(monitor->deferToRIRLogger());
  EXPECT_TRUE(monitor->isDebugModeEnabled());
  EXPECT_EQ(ZULLogGetLevel(), ZULLoggerLevelNotice);
  if (registered) registry.removeClass("RIRConfiguration");
}

TEST_F(APMMonitorTest, SwitchesSetLevelsAndPreferences) {
  std::shared_ptr<APMMonitor> monitor = makeMonitor();
  monitor->setDebugModeEnabled(true);
  monitor->setVerboseLoggingEnabled(true);
  EXPECT_EQ(monitor->logLevel(), 8);
  monitor->setVerboseLoggingEnabled(false);
  EXPECT_EQ(monitor->logLevel(), 7);
  EXPECT_EQ(ZULLogGetLevel(), ZULLoggerLevelDebug);
  monitor->setDebugModeEnabled(false);
  EXPECT_EQ(monitor->logLevel(), 6);
  EXPECT_EQ(ZULLogGetLevel(), ZULLoggerLevelNotice);
  EXPECT_FALSE(APMUserDefaults::sharedUserDefaults()->objectForKey(APMMonitor::kDebugModeKey));

  monitor->setSZTMDebugModeEnabled(true);
  EXPECT_TRUE(monitor->isDebugModeEnabled());
  waitFor(*monitor);
  ASSERT_FALSE(logger->lines().empty());
  EXPECT_EQ(logger->lines().back().code, 24006);
  EXPECT_EQ(logger->lines().back().message, "SZTM debug mode is on");
  monitor->setSZTMDebugModeEnabled(false);
  EXPECT_EQ(monitor->logLevel(), 6);
  EXPECT_EQ(ZULLogGetLevel(), ZULLoggerLevelNotice);

  // A store installation allows no debug mode, except the sZTM switch.
  ZULAppEnvironmentUtil::setFromAppStoreForTesting(true);
  std::shared_ptr<APMMonitor> store = makeMonitor();
  store->setDebugModeEnabled(true);
  EXPECT_FALSE(store->isDebugModeEnabled());
  EXPECT_EQ(store->logLevel(), 6);
  store->setSZTMDebugModeEnabled(true);
  EXPECT_TRUE(store->isDebugModeEnabled());
  EXPECT_EQ(store->logLevel(), 7);
}

TEST_F(APMMonitorTest, ClearMonitoringDataEmptiesTheSample) {
  std::shared_ptr<APMMonitor> monitor = makeMonitor();
  monitor->setDebugModeEnabled(true);
  monitor->logWithLevel(1, 1, "Failed");
  monitor->clearMonitoringData();
  EXPECT_FALSE(storedSample());
  EXPECT_FALSE(APMUserDefaults::sharedUserDefaults()->objectForKey(APMMonitor::kDebugModeKey));
  EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(-1, 0), std::nullopt);
}

TEST_F(APMMonitorTest, SinkWritesCodedLinesThroughTheSharedLogger) {
  testkit::LogCapture logs;
  APMASLLogger sink;
  sink.logMessage("100% done", "<RedIveduruveza>", 30001, 1);
  ZULLogFlush();
  ASSERT_EQ(logs.count(), 1u);
  EXPECT_NE(logs.texts()[0].find("<RedIveduruveza>[I-ACS030001] 100% done"), std::string::npos) << logs.texts()[0];
  EXPECT_EQ(logs.records()[0].subsystem, "com.zoruvu.ririvudu.analytics");
}

}  // namespace

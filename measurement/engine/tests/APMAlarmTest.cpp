// The one-shot alarm on a virtual clock, and the small services beside it:
// the stored deep link, the previous hour, the older library's switch.
#include "measurement/base/APMAlarm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/engine/APMBackwardCompatibilityUtil.h"
#include "measurement/engine/APMMeasurementUtil.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/TimerWork.h"
#include "platform/runtime/ClassRegistry.h"
#include "testing/VirtualClockFixture.h"

namespace {

class AlarmTest : public testkit::VirtualClockFixture {
 protected:
  AlarmTest() {
    APMEngineServices::monitor()->setReportObserver([this](int64_t, int64_t code, const std::string& message) {
      if (code < 2000 || code > 2004) return;
      std::lock_guard lock(m_mutex);
      m_lines.push_back(std::to_string(code) + " " + message);
    });
  }
  ~AlarmTest() override { APMEngineServices::monitor()->setReportObserver(nullptr); }

  std::vector<std::string> lines() {
    std::lock_guard lock(m_mutex);
    return m_lines;
  }
  void clearLines() {
    std::lock_guard lock(m_mutex);
    m_lines.clear();
  }
  void advance(double seconds) {
    clock->advance(seconds);
    ASSERT_TRUE(platform::waitForTimerWork());
  }

  const platform::SerialQueue queue{"alarm-test"};
  std::shared_ptr<APMAlarm> alarm = APMAlarm::initWithDispatchQueue(queue, "Test timer");

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_lines;
};

TEST_F(AlarmTest, RunsOnceAfterItsDelayAndCancelsItselfBeforeTheBlock) {
  std::vector<std::string> seen;
  alarm->runAfterDelay(30, [&] { seen = lines(); });
  EXPECT_EQ(alarm->scheduledTimestamp(), clock->now() + 30);
  EXPECT_TRUE(alarm->hasActiveTimer());
  advance(29.9);
  EXPECT_TRUE(seen.empty());
  advance(0.1);
  EXPECT_EQ(seen, (std::vector<std::string>{"2002 Test timer scheduled to fire in approx. (s)", "2001 Test timer fired",
                                            "2003 Test timer canceled"}));
  EXPECT_FALSE(alarm->scheduledTimestamp());
  EXPECT_FALSE(alarm->hasActiveTimer());
  advance(3600);
  EXPECT_EQ(lines().size(), 3u);  // fired once
}

TEST_F(AlarmTest, SchedulingAgainReplacesThePendingRun) {
  std::atomic<int> first{0};
  std::atomic<int> second{0};
  alarm->runAfterDelay(10, [&] { ++first; });
  alarm->runAfterDelay(20, [&] { ++second; });
  EXPECT_EQ(lines().at(1), "2003 Test timer canceled");
  advance(60);
  EXPECT_EQ(first.load(), 0);
  EXPECT_EQ(second.load(), 1);
}

TEST_F(AlarmTest, ADelayOfZeroFiresAsSoonAsTheQueueIsFree) {
  std::atomic<int> runs{0};
  alarm->runAfterDelay(0, [&] { ++runs; });
  advance(0);
  EXPECT_EQ(runs.load(), 1);
}

TEST_F(AlarmTest, CancellingNothingSaysNothingAndAnEmptyBlockIsRefused) {
  alarm->cancel();
  EXPECT_TRUE(lines().empty());
  alarm->runAfterDelay(5, nullptr);
  EXPECT_EQ(lines(), (std::vector<std::string>{"2000 Test timer tried to schedule an empty block"}));
  EXPECT_FALSE(alarm->scheduledTimestamp());
  EXPECT_EQ(APMAlarm::initWithDispatchQueue(queue, "")->name(), "Timer");
}

TEST_F(AlarmTest, AnAlarmThatIsGoneNeverRuns) {
  std::atomic<int> runs{0};
  alarm->runAfterDelay(5, [&] { ++runs; });
  alarm.reset();
  advance(10);
  EXPECT_EQ(runs.load(), 0);
}

TEST(PreviousHourTest, StartsTheHourBeforeTheGivenTimesHour) {
  const std::pair<int64_t, int64_t> cases[] = {
      {7200000, 3600000}, {7199999, 0}, {3600000, 0}, {1709251234567, 1709247600000}};
  for (const auto& [milliseconds, expected] : cases) {
    EXPECT_EQ(APMPreviousHourStartMillis(milliseconds), expected) << milliseconds;
  }
}

TEST(StoredDeepLinkTest, StoresAgesAndExpiresTheLink) {
  measurementtest::MeasurementTestEnvironment env;
  testkit::VirtualClockScope scope;
  std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
  EXPECT_FALSE(APMHasStoredDeepLink(*preferences));
  EXPECT_FALSE(APMIsStoredDeepLinkOlderThan(*preferences, 0));
  APMStoreDeepLink(*preferences, "tavix://open?x=1", platform::Value("https://referrer.example"));
  EXPECT_TRUE(APMHasStoredDeepLink(*preferences));
  scope.clock()->advance(100);
  EXPECT_TRUE(APMIsStoredDeepLinkOlderThan(*preferences, 99));
  EXPECT_FALSE(APMIsStoredDeepLinkOlderThan(*preferences, 100));
  // The attribution cache time of the default settings is 7 days.
  std::shared_ptr<APMRemoteConfig> settings = APMRemoteConfig::defaultInstance();
  EXPECT_FALSE(APMExpireStoredDeepLink(*settings));
  scope.clock()->advance(604800);
  EXPECT_TRUE(APMExpireStoredDeepLink(*settings));
  EXPECT_FALSE(APMHasStoredDeepLink(*preferences));
  EXPECT_FALSE(preferences->objectForKey(kAPMDeepLinkReferrerKey).has_value());
}

TEST(BackwardCompatibilityTest, OnlyAnOlderLibraryThatAnswersBothSelectorsIsSwitchedOff) {
  EXPECT_FALSE(APMBackwardCompatibilityUtil::disableZOVIroruzoviru());
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  ASSERT_TRUE(registry.registerClass(APMBackwardCompatibilityUtil::kOlderLibraryClassName));
  auto instance = std::make_shared<platform::Object>(APMBackwardCompatibilityUtil::kOlderLibraryClassName);
  std::vector<bool> switched;
  registry.addMethod(
      APMBackwardCompatibilityUtil::kOlderLibraryClassName, "sharedInstance",
      [instance](platform::Object*, const platform::Arguments&) -> std::any { return instance; },
      platform::MethodKind::Class);
  EXPECT_FALSE(APMBackwardCompatibilityUtil::disableZOVIroruzoviru());  // no setIsEnabled:
  registry.addMethod(APMBackwardCompatibilityUtil::kOlderLibraryClassName, "setIsEnabled:",
                     [&switched](platform::Object*, const platform::Arguments& arguments) -> std::any {
                       switched.push_back(std::any_cast<bool>(arguments.at(0)));
                       return {};
                     });
  EXPECT_TRUE(APMBackwardCompatibilityUtil::disableZOVIroruzoviru());
  EXPECT_EQ(switched, (std::vector<bool>{false}));
  EXPECT_TRUE(registry.removeClass(APMBackwardCompatibilityUtil::kOlderLibraryClassName));
}

}  // namespace

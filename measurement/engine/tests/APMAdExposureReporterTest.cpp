// Ad-unit exposure on a virtual clock: nested begins, the one-second floor,
// the unit limit, screen changes and the engagement timer, activity, the
// reporting switch, and unknown or empty units.
#include "measurement/engine/APMAdExposureReporter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/features/tests/FeatureTestSupport.h"
#include "platform/notifications/NotificationCenter.h"
#include "testing/VirtualClockFixture.h"

namespace {

using measurementtest::InternalEventRecord;
using measurementtest::LoggedEvent;
using measurementtest::MeasurementTestEnvironment;
using measurementtest::MonitorReportRecord;
using platform::Dictionary;
using platform::Value;

class AdExposureReporterTest : public testkit::VirtualClockFixture {
 protected:
  AdExposureReporterTest() {
    reporter = APMAdExposureReporter::initWithScreenFacts(
        {[this] { return active.load(); }, [] { return Dictionary{{"_sn", "Home"}, {"_sc", "HomeView"}}; }});
  }

  // Begins are queued: wait until they were taken.
  void begin(const std::string& unit) {
    reporter->beginAdUnitExposure(unit);
    reporter->trackedAdUnitCount();
  }

  std::vector<std::pair<std::string, int64_t>> exposures() {
    std::vector<std::pair<std::string, int64_t>> found;
    for (const LoggedEvent& event : events.events()) {
      EXPECT_EQ(event.origin, "am");
      const std::string unit = event.parameters.get("_ai").stringValue();
      found.emplace_back(event.name + (unit.empty() ? "" : ":" + unit), event.parameters.get("_xt").longLongValue());
    }
    events.clear();
    return found;
  }

  MeasurementTestEnvironment env;
  InternalEventRecord events;
  MonitorReportRecord reports;
  std::atomic<bool> active{true};
  std::shared_ptr<APMAdExposureReporter> reporter;
};

using Exposures = std::vector<std::pair<std::string, int64_t>>;

TEST_F(AdExposureReporterTest, AUnitEndsWithItsLastBeginAndTheSpanWithTheLastUnit) {
  begin("banner");
  clock->advance(1);
  begin("banner");
  clock->advance(1.5);
  reporter->endAdUnitExposure("banner");
  EXPECT_TRUE(exposures().empty());
  clock->advance(0.25);
  reporter->endAdUnitExposure("banner");
  EXPECT_EQ(exposures(), (Exposures{{"_xu:banner", 2750}, {"_xa", 2750}}));
  EXPECT_EQ(reporter->trackedAdUnitCount(), 0u);

  // Two units: the span runs from the first begin to the last end.
  begin("a");
  clock->advance(2);
  begin("b");
  clock->advance(3);
  reporter->endAdUnitExposure("a");
  clock->advance(1);
  reporter->endAdUnitExposure("b");
  EXPECT_EQ(exposures(), (Exposures{{"_xu:a", 5000}, {"_xu:b", 4000}, {"_xa", 6000}}));
}

TEST_F(AdExposureReporterTest, ExposuresUnderOneSecondAreNotLogged) {
  begin("short");
  clock->advance(0.9990234375);  // 999.02 ms, exact in binary
  reporter->endAdUnitExposure("short");
  EXPECT_TRUE(exposures().empty());
  EXPECT_EQ(reports.codes(1000, 1011), (std::vector<int64_t>{1009, 1006}));

  begin("exact");
  clock->advance(1);
  reporter->endAdUnitExposure("exact");
  EXPECT_EQ(exposures(), (Exposures{{"_xu:exact", 1000}, {"_xa", 1000}}));
}

TEST_F(AdExposureReporterTest, AtMostAHundredUnitsAreTracked) {
  for (int unit = 0; unit < 100; ++unit) begin("unit-" + std::to_string(unit));
  reports.clear();
  begin("unit-100");
  begin("unit-5");  // tracked already, still refused at the limit
  EXPECT_EQ(reports.codes(1000, 1011), (std::vector<int64_t>{1002, 1002}));
  EXPECT_EQ(reporter->trackedAdUnitCount(), 100u);

  reporter->endAdUnitExposure("unit-0");
  begin("unit-100");
  EXPECT_EQ(reporter->trackedAdUnitCount(), 100u);
}

TEST_F(AdExposureReporterTest, AScreenChangeLogsRunningUnitsAndRestartsTheirTimers) {
  begin("a");
  clock->advance(2);
  begin("b");
  clock->advance(1.5);
  reporter->handleScreenDidChangeFromScreen(Dictionary{{"_sn", "Settings"}}, Dictionary{{"_sn", "Next"}});
  std::vector<LoggedEvent> logged = events.events();
  ASSERT_EQ(logged.size(), 3u);
  for (const LoggedEvent& event : logged) EXPECT_EQ(event.parameters.get("_sn"), Value("Settings"));
  EXPECT_EQ(exposures(), (Exposures{{"_xu:a", 3500}, {"_xu:b", 1500}, {"_xa", 3500}}));
  EXPECT_EQ(reporter->trackedAdUnitCount(), 2u);

  // Without a previous screen nothing happens; the engagement timer logs with
  // the current screen.
  reporter->handleScreenDidChangeFromScreen(std::nullopt, Dictionary{{"_sn", "Next"}});
  EXPECT_TRUE(exposures().empty());
  clock->advance(4);
  platform::NotificationCenter::defaultCenter().post(APMAdExposureReporter::kEngagementTimerNotification);
  logged = events.events();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged[0].parameters.get("_sc"), Value("HomeView"));
  EXPECT_EQ(exposures(), (Exposures{{"_xu:a", 4000}, {"_xu:b", 4000}, {"_xa", 4000}}));
}

TEST_F(AdExposureReporterTest, ActivityDecidesWhatIsLoggedAndRestartsTheTimers) {
  begin("a");
  clock->advance(3);
  active = false;
  reporter->handleAppWillResignActiveWithScreen(std::nullopt);
  EXPECT_TRUE(exposures().empty());
  EXPECT_EQ(reports.codes(1000, 1011), (std::vector<int64_t>{1011, 1010}));

  // Time in the background does not count.
  clock->advance(60);
  active = true;
  reporter->handleAppDidBecomeActive();
  clock->advance(2);
  reporter->handleAppWillResignActiveWithScreen(Dictionary{{"_sn", "Player"}});
  std::vector<LoggedEvent> logged = events.events();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].parameters.get("_sn"), Value("Player"));
  EXPECT_EQ(exposures(), (Exposures{{"_xu:a", 2000}, {"_xa", 2000}}));
}

TEST_F(AdExposureReporterTest, WithReportingOffTheTablesAreKeptButNothingIsLogged) {
  reporter->setReportingEnabled(false);
  begin("a");
  begin("a");
  clock->advance(2);
  reporter->logExposureEventsWithScreenParameters({});
  reporter->endAdUnitExposure("a");
  EXPECT_EQ(reporter->trackedAdUnitCount(), 1u);
  reporter->endAdUnitExposure("a");
  EXPECT_EQ(reporter->trackedAdUnitCount(), 0u);
  EXPECT_TRUE(exposures().empty());
  EXPECT_EQ(reports.codes(1000, 1011), (std::vector<int64_t>{1007, 1005, 1007, 1005}));

  reporter->setReportingEnabled(true);
  begin("b");
  clock->advance(1);
  reporter->endAdUnitExposure("b");
  EXPECT_EQ(exposures(), (Exposures{{"_xu:b", 1000}, {"_xa", 1000}}));
}

TEST_F(AdExposureReporterTest, UnknownAndEmptyUnitsAreIgnored) {
  reporter->endAdUnitExposure("never");
  begin("");
  reporter->endAdUnitExposure("");
  EXPECT_EQ(reports.codes(1000, 1011), (std::vector<int64_t>{1004, 1000, 1003}));
  EXPECT_EQ(reporter->trackedAdUnitCount(), 0u);
  EXPECT_TRUE(exposures().empty());
}

TEST_F(AdExposureReporterTest, TimeIsTheTimeSinceBoot) {
  clock->setSinceBoot(120);
  EXPECT_DOUBLE_EQ(APMAdExposureReporter::currentTime(), 120);
  clock->advance(1.5);
  EXPECT_DOUBLE_EQ(APMAdExposureReporter::currentTime(), 121.5);
  clock->setSinceBoot(-1);
  EXPECT_EQ(APMAdExposureReporter::currentTime(), -1);
}

}  // namespace

// The search-ads reporter against the fake attribution service on a virtual
// clock: an attributed install, the answers that mean "again tomorrow", the
// daily schedule up to ten fetches, the click time, and an absent framework.
#include "measurement/features/APMSearchAdReporter.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMAlarm.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/features/tests/FeatureTestSupport.h"
#include "platform/dispatch/SerialQueue.h"
#include "testing/LoopbackServer.h"
#include "testing/Quiescence.h"
#include "testing/ScopedEnvironment.h"
#include "testing/fakes/measurement/FakeAttributionService.h"
#include "testing/fakes/measurement/FakeAttributionTokenSource.h"

namespace {

using measurementtest::InternalEventRecord;
using measurementtest::MeasurementTestEnvironment;
using measurementtest::MonitorReportRecord;
using platform::Value;
using testkit::Answer;
using testkit::FakeAttributionService;

constexpr double kDay = 86400;

class SearchAdReporterTest : public ::testing::Test {
 protected:
  SearchAdReporterTest() {
    platform::Clock::setCurrent(clock);
    environment.set("APP_SERVICES_URL", server.url());
    persisted = APMPersistedConfig::initWithSuiteName("search-ad-reporter-test");
  }
  ~SearchAdReporterTest() override {
    onWorker([this] { reporter.reset(); });
    EXPECT_TRUE(testkit::waitForQuiescence());
  }

  void onWorker(const std::function<void()>& work) { worker.sync(work); }

  // Made, enabled and started on the worker queue as the engine does.
  std::shared_ptr<APMSearchAdReporter> startReporter() {
    onWorker([this] {
      reporter = APMSearchAdReporter::initWithWorkerQueue(worker, persisted);
      if (!reporter) return;
      reporter->setSearchAdReporterEnabled(true);
      reporter->start();
    });
    return reporter;
  }

  // Moves virtual time on and lets the fetch it starts finish.
  void advance(double seconds) {
    clock->advance(seconds);
    ASSERT_TRUE(testkit::waitForQuiescence());
  }

  std::optional<double> scheduledIn() {
    std::shared_ptr<APMAlarm> alarm = reporter ? reporter->searchAdReporterAlarm() : nullptr;
    std::optional<double> at = alarm ? alarm->scheduledTimestamp() : std::nullopt;
    if (!at) return std::nullopt;
    return *at - clock->now();
  }

  MeasurementTestEnvironment env;
  std::shared_ptr<platform::VirtualClock> clock = std::make_shared<platform::VirtualClock>();
  testkit::ScopedEnvironment environment;
  testkit::LoopbackServer server;
  FakeAttributionService attribution{server};
  testkit::ScopedAttributionTokenSource tokenSource{"token-abc"};
  InternalEventRecord events;
  MonitorReportRecord reports;
  platform::SerialQueue worker{"search-ad-test.worker"};
  std::shared_ptr<APMPersistedConfig> persisted;
  std::shared_ptr<APMSearchAdReporter> reporter;
};

TEST_F(SearchAdReporterTest, AnAttributedInstallIsLoggedOnceAsACampaign) {
  persisted->setFirstOpenTimestampMilliseconds(1699999000123);
  attribution.script({FakeAttributionService::attributed("11", "22", "33")});
  ASSERT_TRUE(startReporter());
  // Never looked up before: the first report runs at once.
  advance(0);

  std::vector<testkit::RecordedRequest> requests = attribution.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, "token-abc");
  EXPECT_EQ(requests[0].header("cache-control"), "no-cache");
  EXPECT_EQ(requests[0].header("Content-Type"), "text/plain");

  std::vector<measurementtest::LoggedEvent> logged = events.events();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].origin, "auto");
  EXPECT_EQ(logged[0].name, "_cmp");
  EXPECT_EQ(logged[0].parameters.get("source"), Value("Apple"));
  EXPECT_EQ(logged[0].parameters.get("medium"), Value("search"));
  EXPECT_EQ(logged[0].parameters.get("campaign"), Value("11"));
  EXPECT_EQ(logged[0].parameters.get("term"), Value("33"));
  EXPECT_EQ(logged[0].parameters.get("click_timestamp"), Value(int64_t{1699999000122}));
  EXPECT_EQ(persisted->searchAdCampaignValue(), Value(true));
  EXPECT_EQ(persisted->searchAdRetryCount(), 1);
  EXPECT_EQ(persisted->lastSearchAdLookUpTimestamp(), clock->now());
  EXPECT_FALSE(reporter->searchAdReporterAlarm());

  // Recording again changes nothing; a later run does not start.
  onWorker([this] { reporter->logCampaignEventWithSearchAdCampaign(true, "99", "99"); });
  EXPECT_EQ(events.events().size(), 1u);
  reports.clear();
  EXPECT_FALSE(startReporter());
  EXPECT_EQ(reports.codes(32000, 32099), (std::vector<int64_t>{32002}));
}

TEST_F(SearchAdReporterTest, AnswersWithoutACampaignAreTriedAgainTheNextDay) {
  struct Row {
    const char* name;
    Answer answer;
    std::vector<int64_t> codes;
  };
  Answer tooLong = Answer::json(200, R"({"attribution":false,"pad":")" + std::string(70000, 'x') + "\"}");
  // A dropped connection comes first: on a fresh connection the client does
  // not try again by itself.
  const Row rows[] = {
      {"transport error", Answer::close(), {32015}},
      {"test data", FakeAttributionService::testData(), {32016}},
      {"bad JSON", Answer::json(200, "{\"attribution\":"), {32017}},
      {"not an object", Answer::json(200, "[true]"), {32017}},
      {"too long", tooLong, {32017}},
      {"empty object", Answer::json(200, "{}"), {}},
      {"server error", Answer::json(500, R"({"attribution":true,"campaignId":5,"adId":6})"), {32015}},
  };
  // Looked up just now: the next look-up is a day away.
  persisted->setLastSearchAdLookUpTimestamp(clock->now());
  ASSERT_TRUE(startReporter());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    attribution.script({row.answer});
    reports.clear();
    ASSERT_EQ(scheduledIn(), kDay);
    advance(kDay);
    std::vector<int64_t> expected = row.codes;
    expected.insert(expected.begin(), 32006);  // scheduled at the look-up, before the answer came
    expected.push_back(32005);
    EXPECT_EQ(reports.codes(32000, 32099), expected);
    EXPECT_EQ(*scheduledIn(), kDay);
    EXPECT_FALSE(persisted->searchAdCampaignValue());
  }
  EXPECT_TRUE(events.events().empty());

  // "Not attributed" is an answer: it is stored, nothing is logged and the
  // reporter is done.
  attribution.script({FakeAttributionService::notAttributed()});
  advance(kDay);
  EXPECT_EQ(persisted->searchAdCampaignValue(), Value(false));
  EXPECT_FALSE(reporter->searchAdReporterAlarm());
  EXPECT_TRUE(events.events().empty());
  EXPECT_EQ(attribution.requests().size(), std::size(rows) + 1);
}

TEST_F(SearchAdReporterTest, TheReporterFetchesOnceADayAtMostTenTimes) {
  attribution.setDefaultAnswer(FakeAttributionService::testData());
  ASSERT_TRUE(startReporter());
  for (int day = 0; day < 12; ++day) advance(day == 0 ? 0 : kDay);
  EXPECT_EQ(attribution.requests().size(), 10u);
  EXPECT_EQ(persisted->searchAdRetryCount(), 10);
  EXPECT_TRUE(reports.reported(32007));
  EXPECT_FALSE(reporter->searchAdReporterAlarm());

  // Exhausted: the next run makes no reporter, without a word.
  reports.clear();
  EXPECT_FALSE(startReporter());
  EXPECT_TRUE(reports.codes(32000, 32099).empty());
}

TEST_F(SearchAdReporterTest, TheDelayCountsFromTheLastLookUp) {
  struct Row {
    double lastLookUpAgo;
    double expectedDelay;
  };
  // A look-up in the future (the clock was set back) counts by its distance.
  const Row rows[] = {{3600, kDay - 3600}, {-3600, kDay - 3600}};
  for (const Row& row : rows) {
    persisted->setLastSearchAdLookUpTimestamp(clock->now() - row.lastLookUpAgo);
    ASSERT_TRUE(startReporter());
    EXPECT_EQ(scheduledIn(), row.expectedDelay);
    onWorker([this] { reporter->cancelScheduling(); });
  }
  advance(kDay);
  EXPECT_EQ(attribution.requests().size(), 0u);  // every reporter was cancelled

  // Two days ago: overdue, it runs at once.
  persisted->setLastSearchAdLookUpTimestamp(clock->now() - 2 * kDay);
  ASSERT_TRUE(startReporter());
  advance(0);
  EXPECT_EQ(attribution.requests().size(), 1u);
}

TEST_F(SearchAdReporterTest, TheClickTimeIsTheFirstOpenMinusOneMillisecond) {
  struct Row {
    int64_t firstOpen;
    std::optional<int64_t> click;
  };
  const Row rows[] = {{0, std::nullopt}, {1, std::nullopt}, {2, 1}, {1700000000000, 1699999999999}};
  persisted->setLastSearchAdLookUpTimestamp(clock->now());  // no look-up of its own meanwhile
  ASSERT_TRUE(startReporter());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.firstOpen);
    persisted->userDefaults()->removeObjectForKey(APMPersistedConfig::kSearchAdCampaignKey);
    persisted->setFirstOpenTimestampMilliseconds(row.firstOpen);
    events.clear();
    reports.clear();
    onWorker([this] { reporter->logCampaignEventWithSearchAdCampaign(true, "", "7"); });
    ASSERT_EQ(events.events().size(), 1u);
    const platform::Dictionary parameters = events.events()[0].parameters;
    EXPECT_FALSE(parameters.contains("campaign"));
    EXPECT_EQ(parameters.get("term"), Value("7"));
    if (row.click) {
      EXPECT_EQ(parameters.get("click_timestamp"), Value(*row.click));
    } else {
      EXPECT_FALSE(parameters.contains("click_timestamp"));
    }
    EXPECT_EQ(reports.reported(32009), !row.click.has_value());
  }
}

TEST_F(SearchAdReporterTest, WithoutTheFrameworkOrWhenDisabledNothingIsScheduled) {
  testkit::FakeAttributionTokenSource::uninstall();
  ASSERT_TRUE(startReporter());
  EXPECT_FALSE(scheduledIn());
  EXPECT_TRUE(reports.reported(32014));

  std::shared_ptr<testkit::FakeAttributionTokenSource> source = testkit::FakeAttributionTokenSource::install("token");
  onWorker([this] {
    reporter->setSearchAdReporterEnabled(false);
    reporter->scheduleSearchAdReport();
  });
  EXPECT_FALSE(scheduledIn());
  EXPECT_TRUE(reporter->searchAdReporterAlarm());  // kept: enabling again schedules

  // A token error is a failed fetch that still counts.
  source->setError(platform::Error{"AttributionError", 3, {}});
  onWorker([this] { reporter->fetchAttributionDetails(); });
  EXPECT_TRUE(reports.reported(32018));
  EXPECT_EQ(persisted->searchAdRetryCount(), 1);
  EXPECT_EQ(attribution.requests().size(), 0u);

  onWorker([this] {
    reporter->cancelScheduling();
    reporter->scheduleSearchAdReport();
  });
  EXPECT_TRUE(reports.reported(32013));
}

}  // namespace

// The experiment manager in the running engine: made with the engine, its
// first fetch 10 s after the start carrying the measurement library's
// property, the fetched snapshot put in force when the upload finds nothing
// to send, and its experiment then named in the next bundle.
#include <gtest/gtest.h>

#include <string>

#include "measurement/engine/tests/BundleTestSupport.h"
#include "testing/fakes/measurement/FakeExperimentService.h"
#include "testing/fakes/measurement/FakeMeasurementConfigService.h"
#include "testing/fakes/measurement/FakeMeasurementUploadService.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using testkit::ExperimentAnswer;

constexpr const char* kSDKName = "app_measurement";

TEST(MeasurementExperimentsTest, TheEngineFetchesExperimentsTenSecondsAfterItStartsAndBundlesThemOnceActive) {
  MeasurementEngineWorld world;
  testkit::FakeExperimentService experiments(world.services);
  testkit::FakeMeasurementConfigService configs(world.services);
  testkit::FakeMeasurementUploadService uploads(world.services);
  experiments.script({ExperimentAnswer::response({{kSDKName, {{7, {{"ratio", 0.25}}}, {0, {{"rollout", "on"}}}}}})});
  const double start = world.clock()->now();
  world.startReturning();  // no first open queued: the first upload finds nothing to send
  ASSERT_TRUE(world.engine());
  const std::shared_ptr<APMEManager> manager = APMEManager::sharedInstance();
  EXPECT_EQ(world.engine()->experimentManager(), manager);

  world.advance(9.9);
  EXPECT_EQ(experiments.fetchCount(), 0u);
  world.advance(0.1);
  const std::vector<testkit::ExperimentFetch> fetches = experiments.fetches();
  ASSERT_EQ(fetches.size(), 1u);
  ASSERT_TRUE(fetches[0].decoded);
  ASSERT_EQ(fetches[0].clients.size(), 1u);
  const testkit::ExperimentClientRecord& client = fetches[0].clients[0];
  EXPECT_EQ(client.name, kSDKName);
  EXPECT_EQ(client.version, APMEngineServices::kMeasurementLibraryVersion);
  // The app instance's five-character diversion key, then the name.
  EXPECT_EQ(client.diversion.size(), 5 + 1 + std::string(kSDKName).size()) << client.diversion;
  EXPECT_TRUE(client.diversion.ends_with(std::string("-") + kSDKName)) << client.diversion;
  EXPECT_EQ(manager->taskManager()->alarm()->scheduledTimestamp(), start + 10 + 14400);

  // Fetched but not in force: the settings activate it when an upload finds
  // nothing to send.
  EXPECT_EQ(manager->flagValueForFlagName("rollout", kSDKName), std::nullopt);
  EXPECT_TRUE(world.engine()->remoteConfigInstance()->experimentIDs().empty());
  world.onWorkerQueue([](APMMeasurement& engine) { engine.updateSchedule(); });
  world.settle();
  EXPECT_EQ(manager->flagValueForFlagName("rollout", kSDKName), platform::Value("on"));
  EXPECT_EQ(manager->flagValueForFlagName("ratio", kSDKName), platform::Value(0.25));
  EXPECT_EQ(world.engine()->remoteConfigInstance()->experimentIDs(), std::vector<int64_t>{7});

  APMAnalytics::logEventWithName("tap", platform::Dictionary());
  world.settle();
  world.advance(15);
  ASSERT_EQ(uploads.uploadCount(), 1u);
  const std::vector<testkit::UploadedBatch> batches = uploads.batches();
  ASSERT_EQ(batches[0].bundles.size(), 1u);
  EXPECT_EQ(platform::Value(APMPBGetArray(batches[0].bundles[0].message.get(),
                                          APMPBMeasurementBundleSlot::kExperimentIDs)
                                .value_or(platform::Array())),
            platform::Value(platform::Array{platform::Value(7u)}));
}

TEST(MeasurementExperimentsTest, ADisabledEngineAsksForNoExperimentsAndChecksAgainFourHoursLater) {
  MeasurementEngineWorld world;
  testkit::FakeExperimentService experiments(world.services);
  platform::Dictionary options = MeasurementEngineWorld::defaultOptions();
  options.set(APMAnalytics::kCollectionEnabledOption, false);
  const double start = world.clock()->now();
  world.start(options);
  ASSERT_TRUE(world.engine());
  world.advance(10);
  EXPECT_EQ(experiments.fetchCount(), 0u);
  EXPECT_EQ(APMEManager::sharedInstance()->taskManager()->alarm()->scheduledTimestamp(), start + 10 + 14400);
}

}  // namespace

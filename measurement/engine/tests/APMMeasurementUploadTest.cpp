// Upload scheduling and batch upload on the virtual clock against the fake
// upload service: the next upload time in each case, the retry steps and the
// back-off, one alarm at a time, the suspension after bundles that could not
// be deleted, the batch's prefix and consent rules, and that only the
// bundles a batch carried leave the queue.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMAlarm.h"
#include "measurement/engine/tests/BundleTestSupport.h"
#include "testing/fakes/measurement/FakeMeasurementConfigService.h"
#include "testing/fakes/measurement/FakeMeasurementUploadService.h"

namespace {

using measurementtest::insertRawEvents;
using measurementtest::MeasurementEngineWorld;
using measurementtest::rawEvent;
using Bundle = APMPBMeasurementBundleSlot;

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world.startReturning();
    // A fresh configuration: uploads need no fetch first.
    configs.script({testkit::MeasurementConfigAnswer::configuration(platform::Value::dict())});
    world.onWorkerQueue([](APMMeasurement& engine) { engine.fetchRemoteConfig(); });
    world.settle();
    world.clearMonitorLines();
  }

  double now() { return world.clock()->now(); }
  std::shared_ptr<APMPersistedConfig> persisted() { return world.engine()->persistedConfig(); }

  std::optional<double> alarmTime() { return world.engine()->alarm()->scheduledTimestamp(); }

  double nextUploadingTime() {
    double next = 0;
    world.onWorkerQueue([&next](APMMeasurement& engine) { next = engine.nextUploadingTime(); });
    return next;
  }

  void updateSchedule() {
    world.onWorkerQueue([](APMMeasurement& engine) { engine.updateSchedule(); });
  }

  void uploadData() {
    world.onWorkerQueue([](APMMeasurement& engine) { engine.uploadData(); });
    world.settle();
  }

  void insertRawEventAt(double timestamp, bool realtime = false) {
    insertRawEvents(world, *measurementtest::engineMetadata(world), {rawEvent("tick", timestamp)}, realtime);
  }

  // A queued bundle of that app with those consent signals, ending now.
  void queueBundle(const std::string& appID, const std::string& signals, const std::string& marker) {
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMPBSetString(bundle.get(), Bundle::kAppID, appID);
    APMPBSetString(bundle.get(), Bundle::kConsentSignals, signals);
    APMPBSetString(bundle.get(), Bundle::kAppVersion, marker);
    APMPBSetInt64(bundle.get(), Bundle::kEndTimestamp, static_cast<int64_t>(now() * 1000));
    world.onWorkerQueue([&bundle](APMMeasurement& engine) {
      platform::Error error;
      EXPECT_TRUE(engine.database()->insertBundle(*bundle, false, &error));
    });
  }

  std::vector<std::vector<std::string>> uploadedMarkers() {
    std::vector<std::vector<std::string>> batches;
    for (const testkit::UploadedBatch& batch : uploads.batches()) {
      std::vector<std::string> markers;
      for (const testkit::UploadedBundle& bundle : batch.bundles) {
        markers.push_back(APMPBGetString(bundle.message.get(), Bundle::kAppVersion).value_or(""));
      }
      batches.push_back(markers);
    }
    return batches;
  }

  int64_t queuedCount() { return measurementtest::rawDatabase()->count("queue"); }

  MeasurementEngineWorld world;
  testkit::FakeMeasurementUploadService uploads{world.services};
  testkit::FakeMeasurementConfigService configs{world.services};
};

TEST_F(UploadTest, TheNextUploadTimeFollowsDataSuccessAndFailure) {
  EXPECT_EQ(nextUploadingTime(), 0) << "no data";
  const double data = now();
  insertRawEventAt(data);
  EXPECT_EQ(nextUploadingTime(), data + 15) << "first upload after the initial delay";

  persisted()->setLastSuccessfulUploadTimestamp(data - 600);
  EXPECT_EQ(nextUploadingTime(), data - 600 + 3600) << "an hour after the last success";
  persisted()->setLastSuccessfulUploadTimestamp(0);

  APMEngineServices::monitor()->setDebugModeEnabled(true);
  EXPECT_EQ(nextUploadingTime(), data + 1) << "debug mode";
  APMEngineServices::monitor()->setDebugModeEnabled(false);

  // Data no newer than the last failure: the retry steps add up.
  const double candidate = data + 15;
  const double offsets[] = {1800, 5400, 12600, 27000, 55800, 113400};
  double previous = data;
  for (double offset : offsets) {
    persisted()->setLastFailedUploadTimestamp(previous);
    EXPECT_EQ(nextUploadingTime(), candidate + offset) << "failure at +" << previous - data;
    previous = candidate + offset;
  }
  persisted()->setLastFailedUploadTimestamp(candidate + 113400);
  EXPECT_EQ(nextUploadingTime(), 0) << "every retry step used up";
  updateSchedule();
  EXPECT_FALSE(alarmTime());
  EXPECT_TRUE(world.reported(23025));
}

TEST_F(UploadTest, OneAlarmAtATimeAndTheEarlierStays) {
  insertRawEventAt(now());
  updateSchedule();
  ASSERT_TRUE(alarmTime());
  EXPECT_EQ(*alarmTime(), now() + 15);
  world.clock()->advance(5);  // a later plan keeps the alarm
  insertRawEventAt(now());
  updateSchedule();
  EXPECT_EQ(*alarmTime(), now() - 5 + 15);
  EXPECT_TRUE(world.reported(23027));

  insertRawEventAt(now(), true);  // real-time data is due sooner
  persisted()->setLastSuccessfulUploadTimestamp(now() - 8);
  updateSchedule();
  EXPECT_EQ(*alarmTime(), now() + 2);
}

TEST_F(UploadTest, AnswersDecideRetryAndBackOff) {
  struct Case {
    int status;
    bool backOff;
  };
  for (const Case& c : {Case{500, false}, Case{304, false}, Case{429, true}, Case{503, true}}) {
    SCOPED_TRACE(c.status);
    persisted()->setLastBackoffTimestamp(0);
    persisted()->setLastFailedUploadTimestamp(0);
    world.engine()->alarm()->cancel();
    queueBundle(measurementtest::MeasurementTestEnvironment::kAppID, "G1", "one");
    uploads.scriptStatuses({c.status});
    uploadData();
    EXPECT_EQ(persisted()->lastFailedUploadTimestamp(), now());
    EXPECT_EQ(persisted()->lastBackoffTimestamp(), c.backOff ? now() : 0);
    EXPECT_EQ(measurementtest::rawDatabase()->rows("SELECT retry_count FROM queue").at(0).at(0), "1");
    ASSERT_TRUE(alarmTime());
    // The bundle ended now: the first retry step, or the back-off period.
    EXPECT_EQ(*alarmTime(), c.backOff ? now() + 43200 : now() + 15 + 1800);
    measurementtest::rawDatabase()->exec("DELETE FROM queue");
  }
}

TEST_F(UploadTest, ABatchCarriesOneAppAndOneConsentAndOnlyItsBundlesLeaveTheQueue) {
  const std::string app = measurementtest::MeasurementTestEnvironment::kAppID;
  queueBundle(app, "G1", "a1");
  queueBundle(app, "G1", "a2");
  queueBundle("1:999:ios:other", "G1", "b1");
  queueBundle("1:999:ios:other", "G0", "b2");
  uploadData();
  // Each success uploads again while bundles wait.
  EXPECT_EQ(uploadedMarkers(), (std::vector<std::vector<std::string>>{{"a1", "a2"}, {"b1"}, {"b2"}}));
  EXPECT_EQ(queuedCount(), 0);

  queueBundle(app, "G1", "c1");
  queueBundle("1:999:ios:other", "G1", "d1");
  uploads.scriptStatuses({204, 500});
  uploadData();
  const std::vector<std::vector<std::string>> markers = uploadedMarkers();
  ASSERT_EQ(markers.size(), 5u);
  EXPECT_EQ(markers[3], (std::vector<std::string>{"c1"}));
  EXPECT_EQ(markers[4], (std::vector<std::string>{"d1"}));
  // The failed batch's bundle stays, with its retry counted.
  EXPECT_EQ(measurementtest::rawDatabase()->rows("SELECT retry_count FROM queue"),
            (std::vector<std::vector<std::string>>{{"1"}}));
}

TEST_F(UploadTest, BundlesThatCannotBeDeletedSuspendUploadsForAnHourOfUptime) {
  queueBundle(measurementtest::MeasurementTestEnvironment::kAppID, "G1", "a1");
  measurementtest::rawDatabase()->exec(
      "CREATE TRIGGER keep BEFORE DELETE ON queue BEGIN SELECT RAISE(ABORT, 'read only'); END");
  uploadData();
  EXPECT_EQ(uploads.uploadCount(), 1u);
  EXPECT_TRUE(world.reported(23045));
  measurementtest::rawDatabase()->exec("DROP TRIGGER keep");

  world.clock()->advance(3599);
  world.clearMonitorLines();
  updateSchedule();
  EXPECT_TRUE(world.reported(23023));
  EXPECT_FALSE(alarmTime());
  uploadData();
  EXPECT_EQ(uploads.uploadCount(), 1u);

  world.clock()->advance(2);
  updateSchedule();
  EXPECT_TRUE(alarmTime());
  uploadData();
  EXPECT_EQ(uploads.uploadCount(), 2u);
  EXPECT_EQ(queuedCount(), 0);
}

}  // namespace

// The experiment fetch schedule on a virtual clock against the loopback
// experiment service: the first fetch, the interval after a success, the
// retry ladder, back-off, postponing, the request's fields and the answers.
#include "measurement/features/experiments/APMETaskManager.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "measurement/features/experiments/tests/ExperimentTestSupport.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/storage/FileSystem.h"

namespace {

using experimenttest::ExperimentWorld;
using testkit::ExperimentAnswer;
using testkit::FakeExperiment;
using testkit::FakeExperimentSnapshot;
using testkit::FakeSdkResponse;

TEST(ExperimentTaskManagerTest, FirstFetchComesTenSecondsAfterStartWithTheRequestOfEveryProperty) {
  ExperimentWorld world;
  world.builder->addSDKProperty(APMESDKProperty{"other_sdk", 7, "1:2:ios:3", "VWXYZ", {{"tier", "gold"}}, {}});
  world.start();
  EXPECT_EQ(world.scheduled(), world.t0 + 10);
  world.advanceTo(world.t0 + 9.9);
  EXPECT_EQ(world.service.fetchCount(), 0u);
  world.advanceTo(world.t0 + 10);
  std::vector<testkit::ExperimentFetch> fetches = world.service.fetches();
  ASSERT_EQ(fetches.size(), 1u);
  const testkit::ExperimentFetch& fetch = fetches[0];
  EXPECT_EQ(fetch.raw.header("Content-Encoding"), "gzip");
  ASSERT_TRUE(fetch.decoded);
  EXPECT_EQ(fetch.platform, "macos");
  EXPECT_EQ(fetch.language, "pt-br");
  EXPECT_EQ(fetch.bundleIdentifier, "com.tavix.app");
  EXPECT_FALSE(fetch.fromAppStore);
  EXPECT_EQ(fetch.clientVersion, 10000);
  ASSERT_EQ(fetch.clients.size(), 2u);
  EXPECT_EQ(fetch.clients[0].name, "app_measurement");
  EXPECT_EQ(fetch.clients[0].diversion, "ABCDE-app_measurement");
  EXPECT_EQ(fetch.clients[0].version, 120500);
  EXPECT_EQ(fetch.clients[0].appID, std::nullopt);
  EXPECT_TRUE(fetch.clients[0].customProperties.empty());
  EXPECT_EQ(fetch.clients[1].name, "other_sdk");
  EXPECT_EQ(fetch.clients[1].diversion, "VWXYZ-other_sdk");
  EXPECT_EQ(fetch.clients[1].version, 7);
  EXPECT_EQ(fetch.clients[1].appID, "1:2:ios:3");
  EXPECT_EQ(fetch.clients[1].customProperties, (std::map<std::string, std::string>{{"tier", "gold"}}));

  // 204: a success without snapshots; the next fetch 4 hours later.
  EXPECT_EQ(world.stored(APMETaskManager::kSuccessTimestampKey), world.t0 + 10);
  EXPECT_EQ(world.scheduled(), world.t0 + 10 + 14400);
  ASSERT_EQ(world.recorder->fetched.size(), 1u);
  EXPECT_TRUE(world.recorder->fetched[0].snapshots.empty());
}

TEST(ExperimentTaskManagerTest, TheFirstFetchOfAProcessFollowsTheStoredSuccess) {
  struct Case {
    const char* name;
    std::optional<double> successOffset;
    double expectedDelay;
  };
  const Case cases[] = {
      {"never fetched", std::nullopt, 10},
      {"success an hour ago", -3600, 10800},
      {"success five hours ago", -18000, 10},
      {"success an hour in the future counts as an hour ago", 3600, 10800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExperimentWorld world;
    if (c.successOffset) world.storage->setDouble(world.t0 + *c.successOffset, APMETaskManager::kSuccessTimestampKey);
    world.start();
    EXPECT_EQ(world.scheduled(), world.t0 + c.expectedDelay);
  }
}

TEST(ExperimentTaskManagerTest, FailuresClimbTheRetryLadderThenStopUntilTheNextStart) {
  ExperimentWorld world;
  world.service.script({ExperimentAnswer::withStatus(200)});
  world.service.setDefaultAnswer(ExperimentAnswer::withStatus(500));
  world.start();
  world.advanceTo(world.t0 + 10);
  const double success = world.t0 + 10;
  double next = success + 14400;
  for (double step : {1800.0, 5400.0, 12600.0, 27000.0, 55800.0, 113400.0}) {
    ASSERT_EQ(world.scheduled(), next);
    world.advanceTo(next);
    EXPECT_EQ(world.stored(APMETaskManager::kFailureTimestampKey), next);
    next = success + 14400 + step;
  }
  ASSERT_EQ(world.scheduled(), next);
  world.advanceTo(next);
  // The seventh failure: nothing more, and the success time is forgotten.
  EXPECT_EQ(world.scheduled(), std::nullopt);
  EXPECT_EQ(world.stored(APMETaskManager::kSuccessTimestampKey), std::nullopt);
  const size_t fetches = world.service.fetchCount();
  EXPECT_EQ(fetches, 8u);
  world.advanceTo(next + 7 * 86400);
  EXPECT_EQ(world.service.fetchCount(), fetches);
}

TEST(ExperimentTaskManagerTest, WithoutASuccessRetriesCountFromTheCreation) {
  ExperimentWorld world;
  world.service.setDefaultAnswer(ExperimentAnswer::dropped());
  world.start();
  world.advanceTo(world.t0 + 10);
  EXPECT_EQ(world.stored(APMETaskManager::kFailureTimestampKey), world.t0 + 10);
  EXPECT_EQ(world.stored(APMETaskManager::kBackoffTimestampKey), std::nullopt);
  EXPECT_EQ(world.scheduled(), world.t0 + 1800);
  world.advanceTo(world.t0 + 1800);
  EXPECT_EQ(world.scheduled(), world.t0 + 5400);
}

TEST(ExperimentTaskManagerTest, ThrottlingAnswersBackOffForTwelveHours) {
  for (int status : {503, 429}) {
    SCOPED_TRACE(status);
    ExperimentWorld world;
    world.service.script({ExperimentAnswer::withStatus(status), ExperimentAnswer::withStatus(500)});
    world.start();
    world.advanceTo(world.t0 + 10);
    EXPECT_EQ(world.stored(APMETaskManager::kBackoffTimestampKey), world.t0 + 10);
    EXPECT_EQ(world.scheduled(), world.t0 + 10 + 43200);
    world.advanceTo(world.t0 + 10 + 43199);
    EXPECT_EQ(world.service.fetchCount(), 1u);
    world.advanceTo(world.t0 + 10 + 43200);
    EXPECT_EQ(world.service.fetchCount(), 2u);
  }
}

TEST(ExperimentTaskManagerTest, ADelegateThatWantsNoFetchPostponesByTheInterval) {
  ExperimentWorld world;
  world.storage->setDouble(world.t0 - 100, APMETaskManager::kFailureTimestampKey);
  world.storage->setDouble(world.t0 - 100, APMETaskManager::kBackoffTimestampKey);
  world.recorder->shouldFetch = false;
  world.start();
  EXPECT_EQ(world.scheduled(), world.t0 + 43100);  // still backing off
  world.advanceTo(world.t0 + 43100);
  EXPECT_EQ(world.service.fetchCount(), 0u);
  EXPECT_EQ(world.stored(APMETaskManager::kSuccessTimestampKey), world.t0 + 43100);
  EXPECT_EQ(world.stored(APMETaskManager::kFailureTimestampKey), std::nullopt);
  EXPECT_EQ(world.stored(APMETaskManager::kBackoffTimestampKey), std::nullopt);
  EXPECT_EQ(world.scheduled(), world.t0 + 43100 + 14400);
}

TEST(ExperimentTaskManagerTest, AnEarlierPendingTimerIsNotReplacedByALaterTime) {
  ExperimentWorld world;
  world.start();
  ASSERT_EQ(world.scheduled(), world.t0 + 10);
  world.storage->setDouble(world.t0, APMETaskManager::kSuccessTimestampKey);
  world.taskManager->dispatchSyncOnWorkerQueue([&] { world.taskManager->scheduleFetchingExperimentsOnWorkerQueue(); });
  EXPECT_EQ(world.scheduled(), world.t0 + 10);
}

TEST(ExperimentTaskManagerTest, SnapshotsOfASuccessfulAnswerBecomePendingRows) {
  ExperimentWorld world;
  world.service.script({ExperimentAnswer::response(
      {{"app_measurement", {{7, {{"customer_type_enabled", 1}, {"ratio", 0.5}}}, {0, {{"rollout", "on"}}}}},
       {"", {{9, {{"orphan", true}}}}}},
      {{"other_sdk", 2, std::nullopt}, {"third_sdk", 0, std::nullopt}, {"fourth", 9, std::nullopt}})});
  world.start();
  world.advanceTo(world.t0 + 10);
  ASSERT_EQ(world.recorder->fetched.size(), 1u);
  const auto& fetched = world.recorder->fetched[0];
  // The snapshot without a name is left out.
  ASSERT_EQ(fetched.snapshots.size(), 1u);
  EXPECT_EQ(fetched.snapshots[0]->SDKName(), "app_measurement");
  EXPECT_EQ(fetched.snapshots[0]->experiments().size(), 2u);
  ASSERT_TRUE(fetched.errors);
  EXPECT_EQ(fetched.errors->size(), 2u);
  EXPECT_EQ(fetched.errors->at("other_sdk").code, -3);
  EXPECT_EQ(fetched.errors->at("other_sdk").domain, APMETaskManager::kErrorDomain);
  EXPECT_EQ(fetched.errors->at("fourth").code, -1);

  const APMEDatabase::Snapshots pending =
      world.withDatabase([](APMEDatabase& db) { return *db.fetchAllPendingSnapshots(nullptr); });
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0]->SDKName(), "app_measurement");
  EXPECT_FALSE(pending[0]->manuallyActivated());
  std::shared_ptr<APMPBFlag> ratio = pending[0]->flagByName("ratio");
  ASSERT_NE(ratio, nullptr);
  EXPECT_EQ(APMPBGetDouble(ratio.get(), APMPBFlagSlot::kDoubleValue), 0.5);
}

TEST(ExperimentTaskManagerTest, SnapshotsThatCannotBeStoredMakeTheAnswerAFailure) {
  ExperimentWorld world;
  const ExperimentAnswer answer = ExperimentAnswer::response({{"app_measurement", {{7, {{"f", 1}}}}}});
  world.service.script({answer, answer});
  world.start();
  const auto exec = [&world](const char* statement) {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(world.databasePath().c_str(), &handle), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(handle, statement, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(handle);
    sqlite3_close(handle);
  };
  exec("CREATE TRIGGER refuse BEFORE INSERT ON pending_snapshot_table BEGIN SELECT RAISE(ABORT, 'disk full'); END");
  world.advanceTo(world.t0 + 10);
  EXPECT_TRUE(world.env.logged("I-ACS820022"));
  // Not a success: no success time, the delegate hears nothing, and the retry
  // ladder (from the creation, as nothing succeeded yet) fetches again.
  EXPECT_EQ(world.stored(APMETaskManager::kSuccessTimestampKey), std::nullopt);
  EXPECT_EQ(world.stored(APMETaskManager::kFailureTimestampKey), world.t0 + 10);
  EXPECT_TRUE(world.recorder->fetched.empty());
  EXPECT_EQ(world.scheduled(), world.t0 + 1800);

  exec("DROP TRIGGER refuse");
  world.advanceTo(world.t0 + 1800);
  EXPECT_EQ(world.service.fetchCount(), 2u);
  EXPECT_EQ(world.stored(APMETaskManager::kSuccessTimestampKey), world.t0 + 1800);
  EXPECT_EQ(world.stored(APMETaskManager::kFailureTimestampKey), std::nullopt);
  ASSERT_EQ(world.recorder->fetched.size(), 1u);
  EXPECT_EQ(world.withDatabase([](APMEDatabase& db) { return *db.fetchAllPendingSnapshots(nullptr); }).size(), 1u);
}

TEST(ExperimentTaskManagerTest, SnapshotsMayComeThroughTheSdkResponsesUnderTheirNames) {
  ExperimentWorld world;
  world.service.script({ExperimentAnswer::response(
      {}, {{"app_measurement", 0, FakeExperimentSnapshot{"stale_name", {{3, {{"flag", "x"}}}}}},
           {"", std::nullopt, FakeExperimentSnapshot{"kept_name", {{4, {{"flag", "y"}}}}}},
           {"no_snapshot", 1, std::nullopt}})});
  world.start();
  world.advanceTo(world.t0 + 10);
  ASSERT_EQ(world.recorder->fetched.size(), 1u);
  const auto& snapshots = world.recorder->fetched[0].snapshots;
  ASSERT_EQ(snapshots.size(), 2u);
  EXPECT_EQ(snapshots[0]->SDKName(), "app_measurement");
  EXPECT_EQ(snapshots[1]->SDKName(), "kept_name");
  EXPECT_EQ(world.recorder->fetched[0].errors->at("no_snapshot").code, -2);
}

TEST(ExperimentTaskManagerTest, BodiesThatDoNotInflateOrDecodeStillCountAsSuccess) {
  for (const std::string& body : {std::string("not gzip at all"), testkit::gzip("\xff\xff\xff not a message")}) {
    ExperimentWorld world;
    world.service.script({ExperimentAnswer::raw(200, body)});
    world.start();
    world.advanceTo(world.t0 + 10);
    EXPECT_EQ(world.stored(APMETaskManager::kSuccessTimestampKey), world.t0 + 10);
    ASSERT_EQ(world.recorder->fetched.size(), 1u);
    EXPECT_TRUE(world.recorder->fetched[0].snapshots.empty());
    EXPECT_EQ(world.scheduled(), world.t0 + 10 + 14400);
  }
}

TEST(ExperimentTaskManagerTest, AnErrorStatusWithASnapshotBodyIsAFailure) {
  ExperimentWorld world;
  world.service.script({ExperimentAnswer::response({{"app_measurement", {{7, {{"f", 1}}}}}}, {}, 500)});
  world.start();
  world.advanceTo(world.t0 + 10);
  EXPECT_TRUE(world.recorder->fetched.empty());
  EXPECT_EQ(world.stored(APMETaskManager::kFailureTimestampKey), world.t0 + 10);
  EXPECT_TRUE(world.withDatabase([](APMEDatabase& db) { return *db.fetchAllPendingSnapshots(nullptr); }).empty());
}

TEST(ExperimentTaskManagerTest, AnswersBeyondTheSizeLimitAreNotInflated) {
  ExperimentWorld world;
  // A small gzip body that would inflate past the limit.
  world.service.script(
      {ExperimentAnswer::raw(200, testkit::gzip(std::string(APMETaskManager::kMaxResponseBytes + 1, '\0')))});
  world.start();
  world.advanceTo(world.t0 + 10);
  ASSERT_EQ(world.recorder->fetched.size(), 1u);
  EXPECT_TRUE(world.recorder->fetched[0].snapshots.empty());
}

TEST(ExperimentTaskManagerTest, AStartWithoutADatabaseDoesNothingMore) {
  ExperimentWorld world;
  ASSERT_FALSE(platform::fs::createDirectory(world.databasePath()));  // a folder where the file should be
  world.start();
  EXPECT_EQ(world.scheduled(), std::nullopt);
  EXPECT_TRUE(world.recorder->started.empty());
}

TEST(ExperimentTaskManagerTest, ResetForgetsTheTimesAndFetchesAtOnce) {
  ExperimentWorld world;
  world.storage->setDouble(world.t0 - 60, APMETaskManager::kSuccessTimestampKey);
  world.start();
  EXPECT_EQ(world.scheduled(), world.t0 + 14340);
  world.taskManager->reset();
  world.settleQueues();
  EXPECT_EQ(world.stored(APMETaskManager::kSuccessTimestampKey), std::nullopt);
  EXPECT_NEAR(*world.scheduled(), world.t0, 0.01);
  world.advanceTo(world.t0 + 0.01);
  EXPECT_EQ(world.service.fetchCount(), 1u);
}

TEST(ExperimentTaskManagerTest, AnExceptionOnTheWorkerQueueIsLoggedAndTheQueueGoesOn) {
  ExperimentWorld world;
  world.taskManager->dispatchAsyncOnWorkerQueue([] { throw platform::Exception("TestException", "async"); });
  bool ran = false;
  world.taskManager->dispatchSyncOnWorkerQueue([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(world.env.logged("I-ACS820026"));
  EXPECT_THROW(world.taskManager->dispatchSyncOnWorkerQueue([] { throw platform::Exception("TestException", "sync"); }),
               platform::Exception);
  EXPECT_TRUE(world.env.logged("I-ACS820027"));
}

}  // namespace

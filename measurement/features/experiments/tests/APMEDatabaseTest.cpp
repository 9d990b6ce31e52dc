// The experiment database on a real file: moving snapshots between the three
// tables, automatic activation at start, ageing out, and damaged rows.
#include "measurement/features/experiments/APMEDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "measurement/base/APMPBFlag.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/storage/FileSystem.h"
#include "testing/VirtualClockFixture.h"

namespace {

using Snapshots = APMEDatabase::Snapshots;

std::shared_ptr<APMESnapshot> snapshot(const std::string& name, std::vector<std::pair<int64_t, std::string>> flags) {
  std::vector<std::shared_ptr<APMEExperiment>> experiments;
  for (const auto& [id, flag] : flags) {
    experiments.push_back(APMEExperiment::initWithExperimentID(id, {APMPBFlagCreate(flag, id)}));
  }
  return APMESnapshot::initWithSDKName(name, experiments);
}

std::vector<int64_t> ids(const std::shared_ptr<APMESnapshot>& snapshot) {
  std::vector<int64_t> result;
  for (const auto& experiment : snapshot->experiments()) result.push_back(experiment->experimentID());
  return result;
}

class ExperimentDatabaseTest : public testkit::VirtualClockFixture {
 protected:
  std::string path() const { return env.home().file("experiments.sql"); }

  Snapshots read(std::optional<Snapshots> (APMEDatabase::*fetch)(platform::Error*)) {
    platform::Error error;
    std::optional<Snapshots> snapshots = (database.get()->*fetch)(&error);
    EXPECT_TRUE(snapshots.has_value()) << error.localizedDescription();
    return snapshots.value_or(Snapshots());
  }
  Snapshots pending() { return read(&APMEDatabase::fetchAllPendingSnapshots); }
  Snapshots activated() { return read(&APMEDatabase::fetchAllActivatedSnapshots); }
  Snapshots launched() { return read(&APMEDatabase::fetchAllLaunchedSnapshots); }

  void storePending(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp, std::optional<bool> manual) {
    ASSERT_TRUE(database->upsertSnapshot(*snapshot->proto(), APMEDatabase::kPendingTable, timestamp, manual, nullptr));
  }

  measurementtest::MeasurementTestEnvironment env;
  std::unique_ptr<APMEDatabase> database = APMEDatabase::initWithPath(path());
};

TEST_F(ExperimentDatabaseTest, ActivationSplitsLaunchedFromActivatedAndDeletesOnlyOlderPendingRows) {
  ASSERT_NE(database, nullptr);
  const double now = clock->now();
  storePending(snapshot("sdk", {{0, "rollout"}, {7, "seven"}}), now - 5, false);
  ASSERT_TRUE(database->activateSnapshot(pending()[0], now, nullptr));
  ASSERT_EQ(launched().size(), 1u);
  EXPECT_EQ(ids(launched()[0]), std::vector<int64_t>{0});
  EXPECT_EQ(launched()[0]->timestamp(), now);
  ASSERT_EQ(activated().size(), 1u);
  EXPECT_EQ(ids(activated()[0]), std::vector<int64_t>{7});
  EXPECT_TRUE(pending().empty());

  // Only experiment 0: the activated row stays; a newer pending row stays too.
  storePending(snapshot("sdk", {{0, "rollout2"}}), now + 10, false);
  ASSERT_TRUE(database->activateSnapshot(pending()[0], now + 5, nullptr));
  EXPECT_EQ(ids(activated()[0]), std::vector<int64_t>{7});
  EXPECT_NE(launched()[0]->flagByName("rollout2"), nullptr);
  EXPECT_EQ(pending().size(), 1u);

  platform::Error error;
  EXPECT_FALSE(database->activateSnapshot(nullptr, now, &error));
  EXPECT_EQ(error.code, 1);
}

TEST_F(ExperimentDatabaseTest, OnlyRowsMarkedNotManuallyActivatedAreActivatedAutomatically) {
  const double now = clock->now();
  storePending(snapshot("auto", {{3, "a"}}), now, false);
  storePending(snapshot("marked", {{4, "b"}}), now, true);
  storePending(snapshot("unmarked", {{5, "c"}}), now, std::nullopt);
  ASSERT_TRUE(database->activatePendingSnapshotsAutomatically(nullptr));
  ASSERT_EQ(activated().size(), 1u);
  EXPECT_EQ(activated()[0]->SDKName(), "auto");
  Snapshots left = pending();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0]->SDKName(), "marked");
  EXPECT_TRUE(left[0]->manuallyActivated());
  EXPECT_EQ(left[1]->SDKName(), "unmarked");
  EXPECT_FALSE(left[1]->manuallyActivated());
}

TEST_F(ExperimentDatabaseTest, ActivatedRowsAgeOutAtThreeDaysAndLaunchedRowsNever) {
  const double now = clock->now();
  for (const auto& [name, age] : std::vector<std::pair<std::string, double>>{{"old", 259200}, {"young", 259199}}) {
    ASSERT_TRUE(database->upsertSnapshot(*snapshot(name, {{1, "f"}})->proto(), APMEDatabase::kActivatedTable,
                                         now - age, std::nullopt, nullptr));
  }
  ASSERT_TRUE(database->upsertSnapshot(*snapshot("old", {{0, "f"}})->proto(), APMEDatabase::kLaunchedTable,
                                       now - 10 * 259200, std::nullopt, nullptr));
  ASSERT_TRUE(database->deleteStaleActivatedSnapshots(nullptr));
  ASSERT_EQ(activated().size(), 1u);
  EXPECT_EQ(activated()[0]->SDKName(), "young");
  EXPECT_EQ(launched().size(), 1u);
}

TEST_F(ExperimentDatabaseTest, ASecondSnapshotOfAnSDKReplacesTheFirstAndSurvivesAReopen) {
  const double now = clock->now();
  ASSERT_TRUE(database->upsertPendingExperimentSnapshots({snapshot("sdk", {{1, "first"}})}, nullptr));
  std::shared_ptr<APMESnapshot> second = snapshot("sdk", {{2, "second"}});
  second->setTimestamp(now - 30);
  second->setManuallyActivated(true);
  ASSERT_TRUE(database->upsertPendingExperimentSnapshots({second}, nullptr));
  database.reset();
  database = APMEDatabase::initWithPath(path());
  ASSERT_NE(database, nullptr);
  Snapshots rows = pending();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(ids(rows[0]), std::vector<int64_t>{2});
  EXPECT_EQ(rows[0]->timestamp(), now - 30);
  EXPECT_TRUE(rows[0]->manuallyActivated());
}

TEST_F(ExperimentDatabaseTest, OneUnreadableRowMakesTheWholeTableReadFailAndKeepsTheRows) {
  storePending(snapshot("good", {{1, "f"}}), clock->now(), false);
  ASSERT_TRUE(database->upsertSnapshot(*snapshot("bad", {{2, "g"}})->proto(), APMEDatabase::kPendingTable,
                                       clock->now(), false, nullptr));
  database.reset();
  {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &handle), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(handle, "UPDATE pending_snapshot_table SET snapshotProto = x'0aff' WHERE sdk_name = 'bad'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(handle);
  }
  database = APMEDatabase::initWithPath(path());
  ASSERT_NE(database, nullptr);
  platform::Error error;
  EXPECT_FALSE(database->fetchAllPendingSnapshots(&error).has_value());
  EXPECT_EQ(error.code, 2);
  error = platform::Error();
  // In a transaction, as at start: the good row's activation is rolled back.
  EXPECT_FALSE(database->performTransaction([&] { return database->activatePendingSnapshotsAutomatically(&error); }));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(database->allDataTypesFromTableWithName(APMEDatabase::kPendingTable, 10, nullptr)->size(), 2u);
}

TEST_F(ExperimentDatabaseTest, DeletesByNameAndResetEmptiesEverything) {
  const double now = clock->now();
  storePending(snapshot("sdk", {{0, "l"}, {1, "a"}}), now, false);
  ASSERT_TRUE(database->activatePendingSnapshotsAutomatically(nullptr));
  platform::Error error;
  EXPECT_FALSE(database->deleteActivatedExperimentsOfSDKName("", &error));
  EXPECT_EQ(error.code, 1);
  ASSERT_TRUE(database->deleteActivatedExperimentsOfSDKName("sdk", nullptr));
  EXPECT_TRUE(activated().empty());
  EXPECT_EQ(launched().size(), 1u);
  storePending(snapshot("sdk", {{1, "a"}}), now, false);
  database->reset();
  EXPECT_TRUE(pending().empty());
  EXPECT_TRUE(launched().empty());
}

TEST_F(ExperimentDatabaseTest, AFileThatIsNoDatabaseIsReplacedAndAnUnusablePathFails) {
  database.reset();
  ASSERT_FALSE(platform::fs::writeFileAtomically(path(), std::string(4096, 'x')));
  database = APMEDatabase::initWithPath(path());
  ASSERT_NE(database, nullptr);
  EXPECT_TRUE(pending().empty());
  EXPECT_EQ(APMEDatabase::initWithPath(""), nullptr);
}

TEST(ExperimentValuesTest, SnapshotsReadFromMessagesKeepNamedFlagsAndNeedAName) {
  measurementtest::MeasurementTestEnvironment env;
  std::shared_ptr<APMESnapshot> original = snapshot("sdk", {{7, "seven"}, {0, "zero"}});
  original->addFlag(APMPBFlagCreate("extra", "x"), 7);
  original->addFlag(APMPBFlagCreate("new", 1.5), 9);
  std::shared_ptr<APMPBSnapshot> message = original->proto();
  std::shared_ptr<APMESnapshot> back = APMESnapshot::initWithProtobuf(*message);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(ids(back), (std::vector<int64_t>{0, 7, 9}));
  EXPECT_EQ(APMPBFlagValue(back->flagByName("extra").get()), platform::Value("x"));
  EXPECT_EQ(APMPBFlagValue(back->flagByName("new").get()), platform::Value(1.5));
  EXPECT_EQ(back->flagByName("missing"), nullptr);

  APMPBSetString(message.get(), APMPBSnapshotSlot::kSdkName, std::nullopt);
  EXPECT_EQ(APMESnapshot::initWithProtobuf(*message), nullptr);
  EXPECT_EQ(APMEExperiment::initWithExperimentID(std::nullopt, {}), nullptr);
  EXPECT_EQ(APMEExperiment::initWithExperimentID(1, {nullptr}), nullptr);
}

}  // namespace

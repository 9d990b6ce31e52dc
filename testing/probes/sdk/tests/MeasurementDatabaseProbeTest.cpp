// sdk-probe's measurement database subcommands, run as the CI runs them, and
// what only separate processes can show: the lock between two processes and
// a process killed in the middle of a transaction.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

namespace {

constexpr const char* kAppID = "1:123456789012:ios:0123abcdef";
constexpr const char* kErrorDomain = "com.zoruvu.vod.measurement.ErrorDomain";

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Waits (real time, generously) until the predicate holds.
template <class Predicate>
bool waitFor(const Predicate& predicate) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class MeasurementDatabaseProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bundle = home.file("Bundle");
    ASSERT_FALSE(platform::fs::createDirectory(bundle));
    ASSERT_FALSE(platform::PropertyList::writeFile(
        bundle + "/Info.plist", platform::Value::dict({{"CFBundleIdentifier", "com.tavix.app"},
                                                       {"CFBundleShortVersionString", "4.2"},
                                                       {"CFBundleVersion", "10.3"}})));
    ASSERT_FALSE(platform::PropertyList::writeFile(bundle + "/ZoruvuService-Info.plist",
                                                   platform::Value::dict({{"ZORUVU_APP_ID", kAppID}})));
  }

  std::string command(const std::string& arguments) const {
    return "APP_RESOURCES='" + bundle + "' APP_SERVICES_URL= APP_REACHABILITY=unreachable APP_KEYCHAIN_ROOT='" +
           home.file("keychain") + "' exec '" + testkit::builtProgram("sdk-probe") + "' " + arguments;
  }
  testkit::ProgramRun run(const std::string& arguments) const {
    return testkit::runCommand(command(arguments) + " 2>'" + home.file("stderr.txt") + "'");
  }

  // Starts the probe in the background, its standard output in `outPath`.
  pid_t start(const std::string& arguments, const std::string& outPath) const {
    return testkit::startCommand(command(arguments) + " >'" + outPath + "' 2>/dev/null");
  }
  static void kill9(pid_t pid) { testkit::killAndReap(pid); }

  std::string databasePath() const {
    return home.dataHome() + "/com.tavix.app/Zoruvu/Measurement/zoruvu-app-measurement.sql";
  }

  testkit::TempHome home;
  std::string bundle;
};

TEST_F(MeasurementDatabaseProbeTest, Subcommands) {
  const std::string bundleSpec = std::string("'{\"5\":1700000000000,\"14\":\"") + kAppID + "\"}'";
  testkit::ProgramRun r =
      run("clock 1700000000 persisted-set /zoruvu/measurement/midnight_offset 3600 db-open "
          "db-event app _vs 1.5 '{\"v\":1}' 7 0 db-fill 3 "
          "db-metadata '{\"14\":\"a\"}' db-metadata '{\"14\":\"a\"}' "
          "db-bundle " + bundleSpec + " 1 db-bundle '{\"5\":1}' 0 db-bundles 10 1000 db-odm n v db-day");
  EXPECT_EQ(r.status, 1) << readFile(home.file("stderr.txt"));  // the refused bundle
  // The fingerprint is the low 64 bits of the MD5 of the encoding 720161.
  EXPECT_EQ(r.out, "=> clock 1700000000\n"
                   "=> ok\n"
                   "=> ok " + databasePath() + "\n"
                   "=> rowid 1\n"
                   "=> rowids 2..4\n"
                   "=> fingerprint -101348158684505245\n"
                   "=> fingerprint -101348158684505245\n"
                   "=> ok\n"
                   "=> error " + std::string(kErrorDomain) + " 1 Failed to insert bundle without App ID\n"
                   "=> bundle 1 38 0\n"
                   "=> count 1\n"
                   "=> ok\n"
                   "=> day " + std::to_string((1700000000 - 3600) / 86400) + "\n");
}

TEST_F(MeasurementDatabaseProbeTest, TrimmingAndLimits) {
  std::string odm;
  for (int index = 0; index < 11; ++index) odm += " db-odm n" + std::to_string(index) + " v";
  testkit::ProgramRun r = run(std::string("settings-config '{\"1\":\"") + kAppID +
                              "\",\"3\":[{\"0\":\"measurement.store.max_stored_events_per_app\",\"1\":\"5\"}]}' "
                              "db-fill 8 db-trim db-trim" + odm);
  EXPECT_EQ(r.out.substr(0, r.out.find("=> ok\n=> ok")),
            "=> settings version -1\n=> rowids 1..8\n=> deleted 4\n=> deleted 0\n");
  EXPECT_NE(r.out.find("=> ok\n=> error " + std::string(kErrorDomain) +
                       " 2 Failed to insert data type. Table is full\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.status, 0);
}

// The desktop allows a second application instance: it must not open (nor
// touch) the database that the first one holds.
TEST_F(MeasurementDatabaseProbeTest, ASecondProcessIsRefused) {
  const std::string outPath = home.file("holder.txt");
  const pid_t holder = start("db-open db-event app first 1 '{}' 0 0 db-hold 60", outPath);
  ASSERT_TRUE(waitFor([&] { return readFile(outPath).find("=> rowid 1\n") != std::string::npos; }));
  testkit::ProgramRun second = run("db-open");
  EXPECT_EQ(second.out,
            "=> error " + std::string(kErrorDomain) + " 2 Measurement database is in use by another process\n");
  EXPECT_EQ(second.status, 1);
  kill9(holder);
  // A process that dies lets go of the lock; the first one's row is there.
  EXPECT_EQ(run("db-event app second 2 '{}' 0 0").out, "=> rowid 2\n");
}

// Killed while a transaction of raw-event inserts is under way: reopened,
// the database holds every committed row and none of the unfinished ones
// (the next row takes the number after the committed ones).
TEST_F(MeasurementDatabaseProbeTest, AKilledTransactionLeavesOnlyCommittedRows) {
  const std::string outPath = home.file("filler.txt");
  const pid_t filler = start("db-fill 10 db-fill 5000000", outPath);
  ASSERT_TRUE(waitFor([&] { return readFile(outPath).find("=> rowids 1..10\n") != std::string::npos; }));
  // The second transaction has written pages once its journal holds them.
  const std::string journal = databasePath() + "-journal";
  ASSERT_TRUE(waitFor([&] {
    auto attributes = platform::fs::attributes(journal);
    return attributes && attributes.value().size > 4096;
  }));
  kill9(filler);
  EXPECT_EQ(readFile(outPath), "=> rowids 1..10\n");
  EXPECT_EQ(run("db-fill 1").out, "=> rowids 11..11\n");
}

}  // namespace

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "platform/storage/FileLock.h"
#include "sdk/remote-config/tests/RemoteConfigTestSupport.h"
#include "testing/MainQueuePump.h"

namespace {

using platform::Value;

// A plain SQLite connection of the test, beside the manager's.
class RawDatabase {
 public:
  explicit RawDatabase(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    EXPECT_EQ(sqlite3_open(path.c_str(), &m_db), SQLITE_OK);
  }
  ~RawDatabase() { sqlite3_close(m_db); }
  int exec(const std::string& sql) { return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr); }
  // The rows of a query, columns joined by "|".
  std::vector<std::string> rows(const std::string& sql) {
    std::vector<std::string> result;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return {"<error>"};
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        if (column > 0) row += "|";
        const unsigned char* text = sqlite3_column_text(statement, column);
        row += text ? reinterpret_cast<const char*>(text) : "NULL";
      }
      result.push_back(row);
    }
    sqlite3_finalize(statement);
    return result;
  }

 private:
  sqlite3* m_db = nullptr;
};

const char* kMainSchema =
    "create TABLE IF NOT EXISTS main (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, key TEXT, value "
    "BLOB); create TABLE IF NOT EXISTS main_active (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, "
    "key TEXT, value BLOB);";

class DBManagerTest : public rctest::RemoteConfigTest {
 protected:
  std::shared_ptr<RCNConfigDBManager> open() {
    auto manager = RCNConfigDBManager::create();
    manager->waitForDatabaseOperationQueue();
    return manager;
  }
  // Waits for a main-queue handler.
  static bool finished(const std::function<void(RCNDBCompletion)>& start) {
    std::optional<bool> success;
    start([&](bool ok, std::optional<platform::Dictionary>) { success = ok; });
    EXPECT_TRUE(testkit::runUntil([&] { return success.has_value(); }));
    return success.value_or(false);
  }
  static platform::Array row(const std::string& ns, const std::string& key, const std::string& text) {
    return platform::Array{Value(rctest::kBundleIdentifier), Value(ns), Value(key),
                           Value::data(platform::Bytes(text.begin(), text.end()))};
  }
  static RCNDBLoadCompletion keep(std::optional<std::tuple<RCNNamespaceConfigs, RCNNamespaceConfigs,
                                                           RCNNamespaceConfigs, platform::Dictionary>>& out) {
    // Loads complete on a global queue: the value is handed to the main queue.
    return [&out](bool, RCNNamespaceConfigs f, RCNNamespaceConfigs a, RCNNamespaceConfigs d, platform::Dictionary r) {
      platform::mainQueue().async([&out, f, a, d, r] { out.emplace(f, a, d, r); });
    };
  }
  void TearDown() override {
    platform::MainQueue::drain();
    rctest::RemoteConfigTest::TearDown();
  }
};

TEST_F(DBManagerTest, CreatesTheSchemaInANewFile) {
  auto manager = open();
  EXPECT_TRUE(manager->isOpen());
  EXPECT_TRUE(manager->isNewDatabase());
  EXPECT_EQ(manager->databasePath(), home.dataHome() + "/com.tavix.rctest/Zoruvu/RemoteConfig/RemoteConfig.sqlite3");
  RawDatabase raw(databasePath());
  EXPECT_EQ(raw.rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
            (std::vector<std::string>{"experiment", "fetch_metadata_v2", "main", "main_active", "main_default",
                                      "personalization", "rollout"}));
  EXPECT_TRUE(raw.rows("SELECT name FROM sqlite_master WHERE type = 'index'").empty());
  EXPECT_EQ(raw.rows("SELECT type FROM pragma_table_info('fetch_metadata_v2')"),
            (std::vector<std::string>{"INTEGER", "TEXT", "TEXT", "INTEGER", "BLOB", "BLOB", "BLOB", "BLOB", "BLOB",
                                      "INTEGER", "INTEGER", "INTEGER", "INTEGER"}));
  EXPECT_EQ(raw.rows("SELECT type FROM pragma_table_info('personalization')"),
            (std::vector<std::string>{"INTEGER", "INTEGER", "BLOB"}));
  EXPECT_TRUE(std::filesystem::exists(databasePath() + ".lock"));
  // Created for the user alone.
  EXPECT_EQ(std::filesystem::status(databasePath()).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(DBManagerTest, MigratesFirstVersionNamespacesAndRemovesTheFirstGenerationFile) {
  {
    RawDatabase raw(databasePath());
    ASSERT_EQ(raw.exec(kMainSchema), SQLITE_OK);
    ASSERT_EQ(raw.exec("INSERT INTO main (bundle_identifier, namespace, key, value) VALUES ('b', 'ririvudu', 'k', "
                       "'v'), ('b', 'other:app', 'k', 'v'); INSERT INTO main_active (bundle_identifier, namespace, "
                       "key, value) VALUES ('b', 'ns', 'k', 'v')"),
              SQLITE_OK);
  }
  std::filesystem::create_directories(platform::StandardFolders::documents());
  std::ofstream(RCNConfigDBManager::firstGenerationDatabasePath()) << "old";
  auto manager = open();
  EXPECT_FALSE(manager->isNewDatabase());
  EXPECT_FALSE(std::filesystem::exists(RCNConfigDBManager::firstGenerationDatabasePath()));
  EXPECT_TRUE(logged("Old database V0 exists, removed it and replace with the new one."));
  RawDatabase raw(databasePath());
  EXPECT_EQ(raw.rows("SELECT namespace FROM main ORDER BY _id"),
            (std::vector<std::string>{"ririvudu:__RIRAPP_DEFAULT", "other:app"}));
  EXPECT_EQ(raw.rows("SELECT namespace FROM main_active"), (std::vector<std::string>{"ns:__RIRAPP_DEFAULT"}));
}

TEST_F(DBManagerTest, AFileThatIsNoDatabaseIsCreatedAgain) {
  std::filesystem::create_directories(std::filesystem::path(databasePath()).parent_path());
  std::ofstream(databasePath()) << std::string(4096, 'x');
  auto manager = open();
  EXPECT_TRUE(manager->isOpen());
  EXPECT_TRUE(manager->isNewDatabase());
  EXPECT_TRUE(logged("I-RCN000010"));
  EXPECT_TRUE(finished([&](RCNDBCompletion done) {
    manager->insertMainTableWithValues(row("n:a", "k", "v"), RCNDBSourceFetched, done);
  }));
}

TEST_F(DBManagerTest, ABusyFileKeepsItsRowsAndTheManagerWorksWithoutAConnection) {
  open().reset();
  RawDatabase raw(databasePath());
  ASSERT_EQ(raw.exec("INSERT INTO main (bundle_identifier, namespace, key, value) VALUES ('b', 'n:a', 'k', 'v')"),
            SQLITE_OK);
  ASSERT_EQ(raw.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  logs.clear();
  auto manager = open();
  EXPECT_FALSE(manager->isOpen());
  EXPECT_TRUE(logged("I-RCN000010"));
  logs.clear();
  EXPECT_FALSE(finished([&](RCNDBCompletion done) {
    manager->insertMainTableWithValues(row("n:a", "k2", "v"), RCNDBSourceFetched, done);
  }));
  EXPECT_TRUE(logged("I-RCN000016"));
  EXPECT_TRUE(logged("Error message: no database connection."));
  EXPECT_FALSE(logged("out of memory"));
  ASSERT_EQ(raw.exec("COMMIT"), SQLITE_OK);
  EXPECT_EQ(raw.rows("SELECT key FROM main"), (std::vector<std::string>{"k"}));
}

TEST_F(DBManagerTest, AFileInUseByAnotherHolderIsNotOpened) {
  std::filesystem::create_directories(std::filesystem::path(databasePath()).parent_path());
  auto held = platform::FileLock::tryLock(databasePath() + ".lock");
  ASSERT_TRUE(held);
  auto manager = open();
  EXPECT_FALSE(manager->isOpen());
  EXPECT_TRUE(logged("I-RCN000080"));
  EXPECT_TRUE(manager->loadMetadataWithBundleIdentifier(rctest::kBundleIdentifier, "n:a").empty());
  held.reset();
  EXPECT_TRUE(open()->isOpen());
}

TEST_F(DBManagerTest, RowsOfEveryTable) {
  auto manager = open();
  // Config rows: three items are refused; sources pick the table.
  EXPECT_FALSE(finished([&](RCNDBCompletion done) {
    manager->insertMainTableWithValues(platform::Array{Value("b"), Value("n"), Value("k")}, RCNDBSourceFetched, done);
  }));
  EXPECT_TRUE(logged("Wrong number of give parameters, current number is 3, correct number is 4."));
  manager->insertMainTableWithValues(row("n:a", "k", "fetched"), RCNDBSourceFetched);
  manager->insertMainTableWithValues(row("n:a", "k", "active"), RCNDBSourceActive);
  manager->insertMainTableWithValues(row("n:a", "k", "default"), RCNDBSourceDefault);
  manager->insertMainTableWithValues(row("n:a", "k", "later"), RCNDBSourceActive);

  // Experiments: metadata replaced, payloads added.
  const platform::Bytes payload{'{', '}'};
  manager->insertExperimentTableWithKey(RCNExperimentTableKeyMetadata, platform::Bytes{'{', '"', 'a', '"', ':', '1', '}'});
  manager->insertExperimentTableWithKey(RCNExperimentTableKeyMetadata, platform::Bytes{'{', '"', 'a', '"', ':', '2', '}'});
  manager->insertExperimentTableWithKey(RCNExperimentTableKeyPayload, payload);
  manager->insertExperimentTableWithKey(RCNExperimentTableKeyPayload, payload);
  std::optional<platform::Dictionary> experiments;
  manager->loadExperimentWithCompletionHandler(
      [&](bool, std::optional<platform::Dictionary> result) {
        platform::mainQueue().async([&, result] { experiments = result.value_or(platform::Dictionary()); });
      });
  ASSERT_TRUE(testkit::runUntil([&] { return experiments.has_value(); }));
  EXPECT_EQ(experiments->get(RCNExperimentTableKeyPayload).asArray()->size(), 2u);
  EXPECT_EQ(experiments->get(RCNExperimentTableKeyMetadata), Value::dict({{"a", 2}}));
  EXPECT_TRUE(experiments->get(RCNExperimentTableKeyActivePayload).asArray()->empty());

  // Personalization and rollouts.
  EXPECT_TRUE(manager->insertOrUpdatePersonalizationConfig(platform::Dictionary{{"k", Value::dict({{"choiceId", "c"}})}},
                                                           RCNDBSourceFetched));
  manager->insertOrUpdateRolloutTableWithKey(RCNRolloutTableKeyFetchedMetadata,
                                             platform::Array{Value::dict({{"rolloutId", "r"}})});
  std::optional<std::pair<platform::Dictionary, platform::Dictionary>> personalization;
  manager->loadPersonalizationWithCompletionHandler(
      [&](bool, platform::Dictionary fetched, platform::Dictionary active) {
        platform::mainQueue().async([&, fetched, active] { personalization.emplace(fetched, active); });
      });
  std::optional<std::tuple<RCNNamespaceConfigs, RCNNamespaceConfigs, RCNNamespaceConfigs, platform::Dictionary>> loaded;
  manager->loadMainWithBundleIdentifier(rctest::kBundleIdentifier, keep(loaded));
  ASSERT_TRUE(testkit::runUntil([&] { return personalization && loaded; }));
  EXPECT_EQ(Value(personalization->first), Value::dict({{"k", Value::dict({{"choiceId", "c"}})}}));
  EXPECT_TRUE(personalization->second.empty());
  auto& [fetched, active, defaults, rollouts] = *loaded;
  EXPECT_EQ(fetched["n:a"]["k"]->stringValue(), "fetched");
  EXPECT_EQ(fetched["n:a"]["k"]->source(), ZUVUduvedOrovarSourceRemote);
  EXPECT_EQ(active["n:a"]["k"]->stringValue(), "later");
  EXPECT_EQ(defaults["n:a"]["k"]->source(), ZUVUduvedOrovarSourceDefault);
  EXPECT_EQ(rollouts.get(RCNRolloutTableKeyFetchedMetadata), Value::array({Value::dict({{"rolloutId", "r"}})}));
  EXPECT_EQ(rollouts.get(RCNRolloutTableKeyActiveMetadata), Value::array());

  // Two rows for one rollout key make that list load as nothing (an empty list).
  {
    RawDatabase raw(databasePath());
    ASSERT_EQ(raw.exec("INSERT INTO rollout (key, value) VALUES ('fetched_rollout_metadata', '[]')"), SQLITE_OK);
  }
  loaded.reset();
  manager->loadMainWithBundleIdentifier(rctest::kBundleIdentifier, keep(loaded));
  ASSERT_TRUE(testkit::runUntil([&] { return loaded.has_value(); }));
  EXPECT_EQ(std::get<3>(*loaded).get(RCNRolloutTableKeyFetchedMetadata), Value::array());
}

TEST_F(DBManagerTest, MetadataRowsAndColumnUpdates) {
  auto manager = open();
  EXPECT_TRUE(manager->loadMetadataWithBundleIdentifier("unknown.bundle", "n:a").empty());
  platform::Dictionary columns{{RCNKeyBundleIdentifier, rctest::kBundleIdentifier},
                               {RCNKeyNamespace, "n:a"},
                               {RCNKeyFetchTime, 12.5},
                               {RCNKeyDeviceContext, Value::data(platform::Bytes{'{', '}'})},
                               {RCNKeySuccessFetchTime, Value::data(platform::Bytes{'[', '1', ']'})},
                               {RCNKeyFailureFetchTime, Value::data(platform::Bytes{'x'})},
                               {RCNKeyLastFetchStatus, "1"},
                               {RCNKeyLastFetchError, "8001"},
                               {RCNKeyLastApplyTime, 3.0}};
  EXPECT_TRUE(finished([&](RCNDBCompletion done) { manager->insertMetadataTableWithValues(columns, done); }));
  platform::Dictionary row = manager->loadMetadataWithBundleIdentifier(rctest::kBundleIdentifier, "n:a");
  EXPECT_EQ(row.get(RCNKeyFetchTime), Value(12.5));
  EXPECT_EQ(row.get(RCNKeyDeviceContext), Value::dict());
  EXPECT_EQ(row.get(RCNKeySuccessFetchTime), Value::array({1}));
  EXPECT_FALSE(row.contains(RCNKeyFailureFetchTime));  // not JSON
  EXPECT_EQ(row.get(RCNKeyLastFetchStatus), Value(1));
  EXPECT_EQ(row.get(RCNKeyLastApplyTime), Value(3.0));

  // A wrong number of values changes nothing and says so.
  EXPECT_FALSE(finished([&](RCNDBCompletion done) {
    manager->updateMetadataWithOption(RCNUpdateOptionFetchStatus, "n:a", platform::Array{Value(2)}, done);
  }));
  EXPECT_TRUE(finished([&](RCNDBCompletion done) {
    manager->updateMetadataWithOption(RCNUpdateOptionFetchStatus, "n:a", platform::Array{Value(2), Value(8003)}, done);
  }));
  EXPECT_TRUE(finished([&](RCNDBCompletion done) {
    manager->updateMetadataWithOption(RCNUpdateOptionDefaultTime, "n:a", platform::Array{Value(9.5)}, done);
  }));
  row = manager->loadMetadataWithBundleIdentifier(rctest::kBundleIdentifier, "n:a");
  EXPECT_EQ(row.get(RCNKeyLastFetchStatus), Value(2));
  EXPECT_EQ(row.get(RCNKeyLastFetchError), Value(8003));
  EXPECT_EQ(row.get(RCNKeyLastSetDefaultsTime), Value(9.5));

  // A deleted row loads as nothing.
  manager->deleteRecordWithBundleIdentifier(rctest::kBundleIdentifier, "n:a");
  EXPECT_TRUE(manager->loadMetadataWithBundleIdentifier(rctest::kBundleIdentifier, "n:a").empty());
}

// Writes that belong together land all or not at all: a set whose last
// step fails leaves every table as it was; the same set without it replaces
// each part whole.
TEST_F(DBManagerTest, AWriteSetCommitsWholeOrNotAtAll) {
  auto manager = open();
  auto commit = [&](RCNConfigDBWrites writes) {
    std::optional<bool> committed;
    manager->commitWrites(std::move(writes), platform::mainQueue(), [&](bool done) { committed = done; });
    EXPECT_TRUE(testkit::runUntil([&] { return committed.has_value(); }));
    return committed.value_or(false);
  };
  auto everything = [&](const std::string& tag) {
    RCNConfigDBWrites writes;
    RCNConfigRows rows;
    for (int index = 0; index < 50; ++index) {
      rows.emplace_back("k" + std::to_string(index), platform::Bytes(tag.begin(), tag.end()));
    }
    writes.replaceMainRows(rctest::kBundleIdentifier, "n:a", RCNDBSourceActive, rows);
    writes.replacePersonalization(platform::Dictionary{{"p", Value::dict({{"tag", tag}})}}, RCNDBSourceActive);
    writes.replaceRollout(RCNRolloutTableKeyActiveMetadata, platform::Array{Value::dict({{"rolloutId", tag}})});
    writes.replaceExperimentRows(RCNExperimentTableKeyActivePayload,
                                 {platform::Bytes(tag.begin(), tag.end()), platform::Bytes{'2'}});
    writes.replaceExperimentMetadata(platform::Bytes(tag.begin(), tag.end()));
    return writes;
  };
  RawDatabase raw(databasePath());
  auto state = [&] {
    std::vector<std::string> rows = raw.rows("SELECT DISTINCT value, count(*) FROM main_active GROUP BY value");
    for (const char* sql : {"SELECT value FROM personalization", "SELECT value FROM rollout",
                            "SELECT value FROM experiment ORDER BY _id"}) {
      for (std::string& row : raw.rows(sql)) rows.push_back(std::move(row));
    }
    return rows;
  };
  ASSERT_TRUE(commit(everything("old")));
  const std::vector<std::string> old = state();
  ASSERT_EQ(old.front(), "old|50");

  RCNConfigDBWrites failing = everything("new");
  failing.updateMetadata(RCNUpdateOptionFetchStatus, "n:a", platform::Array{Value(1)});  // wrong length: fails
  EXPECT_FALSE(commit(std::move(failing)));
  EXPECT_EQ(state(), old);

  ASSERT_TRUE(commit(everything("new")));
  const std::vector<std::string> now = state();
  EXPECT_EQ(now.front(), "new|50");
  EXPECT_EQ(now.size(), old.size());
  for (size_t index = 1; index < now.size(); ++index) EXPECT_EQ(now[index].find("old"), std::string::npos) << now[index];
  EXPECT_TRUE(commit(RCNConfigDBWrites()));
}

// Damage found after the open, by a read (the open reads only the config
// tables, the damage is in the experiment rows): the file is moved aside with
// its journal, a new database takes its place and works, observers hear it
// once; damage of the new file closes the connection for good.
TEST_F(DBManagerTest, ADamagedFileIsMovedAsideAndMadeAnew) {
  {
    auto manager = open();
    RCNConfigDBWrites writes;
    writes.replaceExperimentRows(RCNExperimentTableKeyPayload,
                                 std::vector<platform::Bytes>(3000, platform::Bytes(100, '7')));
    manager->commitWrites(std::move(writes));
    manager->waitForDatabaseOperationQueue();
  }
  const auto size = std::filesystem::file_size(databasePath());
  ASSERT_GT(size, 64u * 1024);
  {
    std::fstream file(databasePath(), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(size / 2));
    std::string noise(16 * 1024, '\0');
    uint32_t seed = 12345;
    for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    file.write(noise.data(), static_cast<std::streamsize>(noise.size()));
  }
  logs.clear();
  auto manager = open();
  ASSERT_TRUE(manager->isOpen());
  std::atomic<int> recreated{0};
  manager->addRecreationObserver([&] { ++recreated; });
  std::optional<platform::Dictionary> experiments;
  manager->loadExperimentWithCompletionHandler([&](bool, std::optional<platform::Dictionary> result) {
    experiments = result.value_or(platform::Dictionary());
  });
  ASSERT_TRUE(testkit::runUntil([&] { return experiments.has_value() && recreated == 1; }));
  // Rows that could not be read whole are given as none, not in part.
  EXPECT_EQ(experiments->get(RCNExperimentTableKeyPayload), Value::array());
  EXPECT_TRUE(logged("I-RCN000081"));
  EXPECT_TRUE(std::filesystem::exists(databasePath() + ".corrupt"));
  EXPECT_TRUE(manager->isOpen());
  EXPECT_TRUE(manager->isNewDatabase());
  EXPECT_TRUE(finished([&](RCNDBCompletion done) {
    manager->insertMainTableWithValues(row("n:a", "k", "v"), RCNDBSourceFetched, done);
  }));
  std::optional<std::tuple<RCNNamespaceConfigs, RCNNamespaceConfigs, RCNNamespaceConfigs, platform::Dictionary>> loaded;
  manager->loadMainWithBundleIdentifier(rctest::kBundleIdentifier, keep(loaded));
  ASSERT_TRUE(testkit::runUntil([&] { return loaded.has_value(); }));
  EXPECT_EQ(std::get<0>(*loaded)["n:a"]["k"]->stringValue(), "v");

  // The new file damaged too: no second recreation, no connection.
  {
    std::fstream file(databasePath(), std::ios::in | std::ios::out | std::ios::binary);
    file.write(std::string(512, 'x').data(), 512);
  }
  EXPECT_TRUE(manager->loadMetadataWithBundleIdentifier(rctest::kBundleIdentifier, "n:a").empty());
  EXPECT_TRUE(logged("I-RCN000082"));
  EXPECT_FALSE(manager->isOpen());
  EXPECT_EQ(recreated.load(), 1);
}

}  // namespace

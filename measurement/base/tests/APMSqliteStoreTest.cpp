#include "measurement/base/APMSqliteStore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "measurement/base/tests/FaultySqliteFileSystem.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/storage/FileSystem.h"

namespace {

using measurementtest::MeasurementTestEnvironment;

class APMSqliteStoreTest : public ::testing::Test {
 protected:
  std::string path() const { return env.home().file("db/store.sql"); }
  std::unique_ptr<APMSqliteStore> open(platform::Error* error = nullptr) {
    return APMSqliteStore::initWithDatabasePath(path(), error);
  }
  // Runs SQL through a plain connection of the sqlite3 library.
  void raw(const std::string& sql) {
    ASSERT_FALSE(platform::fs::createDirectory(platform::fs::parentPath(path())));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
  }
  int64_t count(APMSqliteStore& store, const std::string& table) {
    return store.rowCountForTableWithName(table, nullptr).value_or(platform::Value(-1)).longLongValue();
  }

  MeasurementTestEnvironment env;
  const APMSqliteStore::ColumnInfo kColumns = {{"name", "TEXT NOT NULL PRIMARY KEY"}, {"n", "INTEGER NOT NULL"}};
};

TEST_F(APMSqliteStoreTest, DamagedFilesAreRecreated) {
  // Not a database at all.
  ASSERT_FALSE(platform::fs::createDirectory(platform::fs::parentPath(path())));
  ASSERT_FALSE(platform::fs::writeFile(path(), std::string(4096, 'x')));
  std::unique_ptr<APMSqliteStore> store = open();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->tableExists("t", nullptr), false);
  store.reset();

  // A database whose pages were overwritten: the integrity check fails.
  std::string rows;
  for (int index = 0; index < 200; ++index) rows += "INSERT INTO t VALUES(" + std::to_string(index) + ", randomblob(300));";
  raw("BEGIN; CREATE TABLE t (a INTEGER PRIMARY KEY, b BLOB); CREATE INDEX tb ON t(b);" + rows + "COMMIT;");
  platform::Bytes bytes = platform::fs::readFile(path()).value();
  ASSERT_GT(bytes.size(), 8192u);
  // Page headers of the table and its index, past the first page (the schema).
  for (size_t page = 1; page * 4096 < bytes.size(); ++page) {
    for (size_t index = page * 4096; index < page * 4096 + 16; ++index) bytes[index] = 0xFF;
  }
  ASSERT_FALSE(platform::fs::writeFile(path(), bytes));
  store = open();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->tableExists("t", nullptr), false);
}

TEST_F(APMSqliteStoreTest, OtherFailuresKeepTheFile) {
  raw("CREATE TABLE t (name TEXT NOT NULL PRIMARY KEY, n INTEGER NOT NULL); INSERT INTO t VALUES('a', 1);");
  // Another connection holds an exclusive transaction: busy, not damaged.
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(path().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE; INSERT INTO t VALUES('b', 2);", nullptr, nullptr, nullptr), SQLITE_OK);
  platform::Error error;
  EXPECT_FALSE(open(&error));
  EXPECT_EQ(error.code, 3);
  EXPECT_NE(error.localizedDescription().find("sqlite code 5"), std::string::npos) << error.localizedDescription();
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  std::unique_ptr<APMSqliteStore> store = open();
  ASSERT_TRUE(store);
  EXPECT_EQ(count(*store, "t"), 1);
}

TEST_F(APMSqliteStoreTest, TheLockRefusesASecondHolder) {
  std::unique_ptr<APMSqliteStore> first = open();
  ASSERT_TRUE(first);
  ASSERT_TRUE(first->ensureTableWithName("t", kColumns, {}, nullptr));
  ASSERT_TRUE(first->upsertRecord({{"name", "a"}, {"n", 1}}, "t", nullptr));
  platform::Error error;
  EXPECT_FALSE(open(&error));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.localizedDescription(), "Measurement database is in use by another process");
  first.reset();
  std::unique_ptr<APMSqliteStore> again = open();
  ASSERT_TRUE(again);
  EXPECT_EQ(count(*again, "t"), 1);
}

TEST_F(APMSqliteStoreTest, AnImmutableFileIsMadeWritable) {
  raw("CREATE TABLE t (name TEXT NOT NULL PRIMARY KEY, n INTEGER NOT NULL);");
  ASSERT_FALSE(platform::fs::setPermissions(path(), 0444));
  std::unique_ptr<APMSqliteStore> store = open();
  ASSERT_TRUE(store);
  EXPECT_NE(platform::fs::attributes(path()).value().permissions & S_IWUSR, 0u);
  EXPECT_TRUE(store->upsertRecord({{"name", "a"}, {"n", 1}}, "t", nullptr));
  ASSERT_FALSE(platform::fs::setPermissions(path(), 0444));
  EXPECT_TRUE(store->closeAndDeleteDatabase());
  EXPECT_FALSE(platform::fs::exists(path()));
}

TEST_F(APMSqliteStoreTest, TheDatabaseIsTheUsersAloneFromItsCreation) {
  std::unique_ptr<APMSqliteStore> store = open();
  ASSERT_TRUE(store);
  EXPECT_EQ(platform::fs::attributes(path()).value().permissions, 0600u);
  EXPECT_EQ(platform::fs::attributes(platform::fs::parentPath(path())).value().permissions, 0700u);
  store.reset();
  // A copy found readable by others is made private when opened.
  ASSERT_FALSE(platform::fs::setPermissions(path(), 0644));
  ASSERT_FALSE(platform::fs::setPermissions(platform::fs::parentPath(path()), 0755));
  store = open();
  ASSERT_TRUE(store);
  EXPECT_EQ(platform::fs::attributes(path()).value().permissions, 0600u);
  EXPECT_EQ(platform::fs::attributes(platform::fs::parentPath(path())).value().permissions, 0700u);
}

TEST_F(APMSqliteStoreTest, StatementCacheRule) {
  std::unique_ptr<APMSqliteStore> store = open();
  ASSERT_TRUE(store->ensureTableWithName("t", kColumns, {}, nullptr));
  const size_t before = store->cachedStatementCount();
  ASSERT_TRUE(store->numberForQuery("SELECT count(1) FROM t WHERE n > ?", {platform::Value(0)}, nullptr));
  EXPECT_EQ(store->cachedStatementCount(), before + 1);
  ASSERT_TRUE(store->numberForQuery("SELECT count(1) FROM t", {}, nullptr));
  EXPECT_EQ(store->cachedStatementCount(), before + 2);
  ASSERT_TRUE(store->numberForQuery("SELECT count(1) FROM t where n > 0", {}, nullptr));
  EXPECT_EQ(store->cachedStatementCount(), before + 2);
  // Reused: the same text twice keeps one entry and still answers.
  ASSERT_TRUE(store->numberForQuery("SELECT count(1) FROM t WHERE n > ?", {platform::Value(5)}, nullptr));
  EXPECT_EQ(store->cachedStatementCount(), before + 2);

  platform::Error error;
  EXPECT_FALSE(store->numberForQuery("SELECT count(1) FROM t WHERE n < ?", {}, &error));
  EXPECT_EQ(error.localizedDescription(), "Received empty parameters");
  EXPECT_FALSE(store->recordsForQuery(" SELECT * FROM t", {}, &error));
  EXPECT_EQ(error.localizedDescription(), "Received invalid select query");
  EXPECT_FALSE(store->recordsForQuery("WITH x AS (SELECT 1) SELECT * FROM x", {}, &error));
  EXPECT_TRUE(store->recordsForQuery("select * FROM t", {}, nullptr));
  EXPECT_FALSE(store->recordsForQuery("SELECT 1; SELECT 2", {}, &error));
  EXPECT_EQ(error.localizedDescription(), "Query contained more than one SQL statement.");
  EXPECT_FALSE(store->numberForQuery("SELECT max(n) FROM t", {}, &error).has_value());
}

TEST_F(APMSqliteStoreTest, BindingKindsAndRowValues) {
  std::unique_ptr<APMSqliteStore> store = open();
  const APMSqliteStore::ColumnInfo columns = {{"id", "INTEGER NOT NULL PRIMARY KEY"}, {"value", "BLOB"}};
  ASSERT_TRUE(store->ensureTableWithName("v", columns, {}, nullptr));
  const std::pair<int, platform::Value> values[] = {
      {1, "text"}, {2, 2.5}, {3, static_cast<long long>(INT64_MIN)}, {4, true},
      {5, platform::Value::data(platform::Bytes{1, 2, 3})}, {6, platform::Value()},
  };
  for (const auto& [id, value] : values) ASSERT_TRUE(store->upsertRecord({{"id", id}, {"value", value}}, "v", nullptr));
  std::optional<std::vector<APMSqliteStore::Record>> rows =
      store->recordsForQuery("SELECT id, value FROM v ORDER BY id", {}, nullptr);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 6u);
  EXPECT_EQ((*rows)[0]["value"], platform::Value("text"));
  EXPECT_TRUE((*rows)[1]["value"].isFloatingNumber());
  EXPECT_EQ((*rows)[2]["value"], platform::Value(static_cast<long long>(INT64_MIN)));
  EXPECT_EQ((*rows)[3]["value"], platform::Value(1));
  EXPECT_EQ((*rows)[4]["value"], platform::Value::data(platform::Bytes{1, 2, 3}));
  EXPECT_TRUE((*rows)[5]["value"].isNull());

  // A zero-length blob reads as no value: the column is left out.
  ASSERT_TRUE(store->upsertRecord({{"id", 7}, {"value", platform::Value::data(platform::Bytes())}}, "v", nullptr));
  rows = store->recordsForQuery("SELECT id, value FROM v WHERE id = ?", {platform::Value(7)}, nullptr);
  ASSERT_TRUE(rows && rows->size() == 1);
  EXPECT_FALSE((*rows)[0].contains("value"));
  EXPECT_TRUE(env.logged("[I-ACS034004] Value is nil for column: value"));

  // Unaccepted kinds: the upsert fails without an error, the update with code 1.
  platform::Error error;
  EXPECT_FALSE(store->upsertRecord({{"id", 8}, {"value", platform::Value::date(5)}}, "v", &error));
  EXPECT_TRUE(error.domain.empty());
  EXPECT_FALSE(store->updateRecord({{"value", platform::Value::date(5)}}, "v", "id", platform::Value(1), &error));
  EXPECT_EQ(error.localizedDescription(), "Failed to bind parameter of unexpected type to update statement");
}

// Upserts reuse the last text while table and columns stay the same; any
// change of table, column set or column order writes through a text of its
// own, also after the statements were finalized.
TEST_F(APMSqliteStoreTest, UpsertsOfChangingShapes) {
  std::unique_ptr<APMSqliteStore> store = open();
  const APMSqliteStore::ColumnInfo columns = {{"id", "INTEGER NOT NULL PRIMARY KEY"}, {"a", "TEXT"}, {"b", "TEXT"}};
  ASSERT_TRUE(store->ensureTableWithName("v", columns, {}, nullptr));
  ASSERT_TRUE(store->ensureTableWithName("w", columns, {}, nullptr));
  const std::pair<const char*, APMSqliteStore::Record> upserts[] = {
      {"v", {{"id", 1}, {"a", "a1"}}},
      {"v", {{"id", 2}, {"a", "a2"}}},
      {"v", {{"id", 3}, {"b", "b3"}}},
      {"v", {{"b", "b4"}, {"id", 4}, {"a", "a4"}}},
      {"v", {{"id", 5}, {"b", "b5"}, {"a", "a5"}}},
      {"w", {{"id", 1}, {"a", "w1"}}},
      {"v", {{"id", 6}, {"a", "a6"}}},
  };
  for (const auto& [table, record] : upserts) ASSERT_TRUE(store->upsertRecord(record, table, nullptr)) << table;
  store->finalizeAndClearStatements();
  ASSERT_TRUE(store->upsertRecord({{"id", 7}, {"a", "a7"}}, "v", nullptr));

  auto rows = [&](const std::string& table) {
    std::optional<std::vector<APMSqliteStore::Record>> found =
        store->recordsForQuery("SELECT id, a, b FROM " + table + " ORDER BY id", {}, nullptr);
    std::string text;
    for (const APMSqliteStore::Record& row : found.value_or(std::vector<APMSqliteStore::Record>())) {
      text += row["id"].stringValue() + ":" + row["a"].stringValue() + "/" + row["b"].stringValue() + " ";
    }
    return text;
  };
  EXPECT_EQ(rows("v"), "1:a1/ 2:a2/ 3:/b3 4:a4/b4 5:a5/b5 6:a6/ 7:a7/ ");
  EXPECT_EQ(rows("w"), "1:w1/ ");
}

// Rows given as columns and values go through the statement of a record of
// the same columns in the same order, bind as its values would, and fail
// as it would; a step error leaves the statement ready for the next row.
TEST_F(APMSqliteStoreTest, UpsertsOfColumnsAndValues) {
  std::unique_ptr<APMSqliteStore> store = open();
  const APMSqliteStore::ColumnInfo columns = {{"id", "INTEGER NOT NULL PRIMARY KEY"}, {"a", "BLOB"}, {"b", "BLOB NOT NULL"}};
  ASSERT_TRUE(store->ensureTableWithName("v", columns, {}, nullptr));
  const uint8_t blob[] = {0, 1, 2};
  using Column = APMSqliteStore::ColumnValue;
  const std::string_view names[] = {"id", "a", "b"};
  const Column first[] = {Column::ofInteger(1), Column::ofText("one"), Column::ofBlob(blob)};
  ASSERT_TRUE(store->upsertColumns("v", names, first, nullptr));
  const size_t statements = store->cachedStatementCount();
  ASSERT_TRUE(store->upsertRecord({{"id", 2}, {"a", 2.5}, {"b", platform::Value::data(platform::Bytes())}}, "v", nullptr));
  const Column third[] = {Column::ofInteger(3), Column{}, Column::ofBlob({})};
  ASSERT_TRUE(store->upsertColumns("v", names, third, nullptr));
  EXPECT_EQ(store->cachedStatementCount(), statements);
  std::optional<std::vector<APMSqliteStore::Record>> rows =
      store->recordsForQuery("SELECT id, a, typeof(a) AS t, hex(b) AS h, length(b) AS l FROM v ORDER BY id", {}, nullptr);
  ASSERT_TRUE(rows && rows->size() == 3u);
  EXPECT_EQ((*rows)[0]["a"], platform::Value("one"));
  EXPECT_EQ((*rows)[0]["h"], platform::Value("000102"));
  EXPECT_EQ((*rows)[1]["t"], platform::Value("real"));
  EXPECT_EQ((*rows)[1]["l"], platform::Value(0));
  EXPECT_EQ((*rows)[2]["t"], platform::Value("null"));
  EXPECT_EQ((*rows)[2]["l"], platform::Value(0));

  platform::Error error;
  const Column two[] = {Column::ofInteger(4), Column::ofText("x")};
  EXPECT_FALSE(store->upsertColumns("v", names, two, &error));
  EXPECT_EQ(error.localizedDescription(), "Received empty record for upsert");
  EXPECT_FALSE(store->upsertColumns("", names, first, &error));
  EXPECT_EQ(error.localizedDescription(), "Received empty table name for upsert");
  // NULL into a NOT NULL column: the step fails, the next row goes in.
  const Column missing[] = {Column::ofInteger(5), Column::ofText("x"), Column{}};
  EXPECT_FALSE(store->upsertColumns("v", names, missing, &error));
  EXPECT_EQ(error.code, 3);
  EXPECT_NE(error.localizedDescription().find("execute statement"), std::string::npos);
  const Column sixth[] = {Column::ofInteger(6), Column::ofText("six"), Column::ofBlob(blob)};
  EXPECT_TRUE(store->upsertColumns("v", names, sixth, nullptr));
  store->finalizeAndClearStatements();
  const Column seventh[] = {Column::ofInteger(7), Column::ofText("seven"), Column::ofBlob(blob)};
  EXPECT_TRUE(store->upsertColumns("v", names, seventh, nullptr));
  EXPECT_EQ(count(*store, "v"), 5);
  store->closeDatabase();
  EXPECT_FALSE(store->upsertColumns("v", names, first, &error));
  EXPECT_EQ(error.code, 2);
}

TEST_F(APMSqliteStoreTest, FiltersTransactionsAndStepErrors) {
  std::unique_ptr<APMSqliteStore> store = open();
  ASSERT_TRUE(store->ensureTableWithName("t", kColumns, {}, nullptr));
  for (int n = 0; n < 3; ++n) {
    ASSERT_TRUE(store->upsertRecord({{"name", "row" + std::to_string(n)}, {"n", n}}, "t", nullptr));
  }
  std::optional<std::vector<APMSqliteStore::Record>> rows =
      store->recordsForQuery("SELECT * FROM t", {}, nullptr, [](uint32_t index, const APMSqliteStore::Record&) {
        return index < 2;
      });
  EXPECT_EQ(rows->size(), 2u);
  rows = store->recordsForQuery("SELECT * FROM t", {}, nullptr, [](uint32_t, const APMSqliteStore::Record&) {
    return false;
  });
  EXPECT_TRUE(rows && rows->empty());
  EXPECT_TRUE(env.logged("[I-ACS034005] Database contains records that were all filtered out"));

  // Rolled back on NO and on an exception.
  platform::Error error;
  EXPECT_FALSE(store->performTransactionWithError(&error, [&] {
    store->upsertRecord({{"name", "x"}, {"n", 9}}, "t", nullptr);
    return false;
  }));
  EXPECT_EQ(error.localizedDescription(), "Transaction failed");
  EXPECT_THROW(store->performTransactionWithError(nullptr,
                                                  [&]() -> bool {
                                                    store->upsertRecord({{"name", "y"}, {"n", 9}}, "t", nullptr);
                                                    throw std::runtime_error("boom");
                                                  }),
               std::runtime_error);
  EXPECT_EQ(count(*store, "t"), 3);
  EXPECT_TRUE(store->performTransactionWithError(nullptr, [&] {
    return store->upsertRecord({{"name", "z"}, {"n", 9}}, "t", nullptr);
  }));
  EXPECT_EQ(count(*store, "t"), 4);

  // A step that fails fails the query instead of answering the rows so far.
  ASSERT_TRUE(store->upsertRecord({{"name", "min"}, {"n", static_cast<long long>(INT64_MIN)}}, "t", nullptr));
  EXPECT_FALSE(store->recordsForQuery("SELECT abs(n) FROM t ORDER BY n DESC", {}, &error));
  EXPECT_EQ(error.code, 3);
  EXPECT_NE(error.localizedDescription().find("\"query records\""), std::string::npos) << error.localizedDescription();

  EXPECT_EQ(store->deleteRecordsFromTableWithName("t", "n > ?", {platform::Value(100)}, nullptr), 0);
  EXPECT_EQ(store->deleteRecordsFromTableWithName("t", "n = 9", {}, nullptr), 1);
  EXPECT_TRUE(store->increaseColumn("n", 5, "t", "name = ?", {platform::Value("row1")}, nullptr));
  EXPECT_EQ(store->numberForQuery("SELECT n FROM t WHERE name = ?", {platform::Value("row1")}, nullptr),
            platform::Value(6));
  EXPECT_FALSE(store->increaseColumn("name", 1, "t", "1", {}, &error));
  EXPECT_EQ(error.localizedDescription(), "Column type is not integer.");
}

TEST_F(APMSqliteStoreTest, SchemaMigrationKeepsRowsAndKeys) {
  raw("CREATE TABLE f (audience_id INTEGER NOT NULL, filter_id INTEGER NOT NULL, data TEXT, "
      "PRIMARY KEY (audience_id, filter_id)); INSERT INTO f VALUES(1, 2, 'x');");
  std::unique_ptr<APMSqliteStore> store = open();
  const APMSqliteStore::ColumnInfo columns = {{"audience_id", "INTEGER NOT NULL"},
                                              {"filter_id", "INTEGER NOT NULL"},
                                              {"data", "TEXT"},
                                              {"PRIMARY KEY", "(audience_id, filter_id)"}};
  platform::Error error;
  ASSERT_TRUE(store->ensureTableWithName("f", columns, {{"extra", "INTEGER"}}, {{"data", "BLOB"}}, &error))
      << error.localizedDescription();
  EXPECT_EQ(store->columnInfoForTableWithName("f", nullptr)->at("data"), "BLOB");
  EXPECT_EQ(count(*store, "f"), 1);
  // The composite key survived: replacing keeps one row.
  ASSERT_TRUE(store->upsertRecord({{"audience_id", 1}, {"filter_id", 2}, {"data", "y"}}, "f", nullptr));
  EXPECT_EQ(count(*store, "f"), 1);

  // A migration whose copy cannot work is rolled back and leaves the table.
  EXPECT_FALSE(store->ensureSchemaOfTableWithName("f", {{"only", "TEXT"}}, {}, &error));
  EXPECT_EQ(count(*store, "f"), 1);
  EXPECT_TRUE(store->tableExists("f", nullptr).value_or(false));

  // Unknown non-optional columns and missing ones are table errors (code 2).
  raw("CREATE TABLE u (name TEXT NOT NULL PRIMARY KEY, n INTEGER NOT NULL, strange INTEGER NOT NULL);");
  store.reset();
  store = open();
  EXPECT_FALSE(store->ensureTableWithName("u", kColumns, {}, &error));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.localizedDescription(), "Table contains unknown non-optional columns");
  EXPECT_FALSE(store->ensureTableWithName("f", kColumns, {}, &error));
  EXPECT_EQ(error.localizedDescription(), "Table is missing required columns");
}

// A store belongs to the queue it was made on: there it serves every call;
// in builds that check, a call from another queue stops the process with a
// line that names both queues.
TEST_F(APMSqliteStoreTest, ACallFromAnotherQueueAborts) {
  platform::SerialQueue owner("com.zoruvu.test.store-owner");
  const bool served = owner.sync([&] {
    std::unique_ptr<APMSqliteStore> store = open();
    return store && store->ensureTableWithName("t", kColumns, {}, nullptr) &&
           store->upsertRecord({{"name", "a"}, {"n", 1}}, "t", nullptr) && count(*store, "t") == 1;
  });
  EXPECT_TRUE(served);
  if (!APMSqliteStore::kChecksQueue) GTEST_SKIP() << "queues are checked in debug and sanitizer builds";

  // The dispatch threads are running: the child starts afresh.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        std::unique_ptr<APMSqliteStore> store = open();
        platform::SerialQueue("com.zoruvu.test.other").sync([&] { store->tableExists("t", nullptr); });
      },
      "APMSqliteStore: tableExists called on queue \"com.zoruvu.test.other\", but the store at .*store.sql "
      "belongs to queue \"[^\"]+\"");
}

}  // namespace

// The message store "rmq2": its tables, the outgoing ID, the received-ID and
// sync-message records, chunked deletes and the recovery paths of a database
// that cannot be created or opened.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/storage/FileSystem.h"
#include "sdk/messaging/RIRMessagingRmqManager.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/messaging/tests/MessagingTestEnvironment.h"

namespace {

using platform::Dictionary;
using platform::Value;

// Plain SQLite access to the store's file, for arranging and checking rows.
class Database {
 public:
  explicit Database(const std::string& path) { EXPECT_EQ(sqlite3_open(path.c_str(), &m_db), SQLITE_OK); }
  ~Database() { sqlite3_close(m_db); }
  void exec(const std::string& sql) {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << sql;
    sqlite3_free(error);
  }
  std::set<std::string> tables() {
    std::set<std::string> names;
    for (const auto& row : rows("SELECT name FROM sqlite_master WHERE type = 'table'")) names.insert(row[0]);
    return names;
  }
  std::vector<std::vector<std::string>> rows(const std::string& sql) {
    std::vector<std::vector<std::string>> result;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const unsigned char* text = sqlite3_column_text(statement, i);
        row.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
      }
      result.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return result;
  }

 private:
  sqlite3* m_db = nullptr;
};

class MessageStoreTest : public ::testing::Test {
 protected:
  std::string path() const { return RIRMessagingRmqManager::pathForDatabaseWithName("rmq2"); }
  std::unique_ptr<RIRMessagingRmqManager> open() {
    auto store = std::make_unique<RIRMessagingRmqManager>("rmq2");
    store->waitForQueuedWork();
    return store;
  }

  rcmtest::MessagingTestEnvironment env;
};

const std::set<std::string> kAllTables = {"outgoingRmqMessages", "lastrmqid", "s2dRmqIds_1", "incomingSyncMessages"};

TEST_F(MessageStoreTest, ANewInstallCreatesTheFourTablesAndAnOldOneIsMigrated) {
  open();
  EXPECT_EQ(path(), rcmtest::MessagingTestEnvironment::supportPath("Zoruvu/RirivuduMessaging/rmq2.sqlite"));
  EXPECT_EQ(Database(path()).tables(), kAllTables);
  EXPECT_EQ(platform::fs::attributes(path()).value().permissions, 0600u);  // the user's alone

  // A database of the older layout: integer received IDs, no sync messages.
  ASSERT_FALSE(platform::fs::removeItem(path()));
  {
    Database old(path());
    old.exec("create TABLE outgoingRmqMessages (_id INTEGER PRIMARY KEY, rmq_id INTEGER, type INTEGER, ts INTEGER, data BLOB)");
    old.exec("create TABLE lastrmqid (_id INTEGER PRIMARY KEY, rmq_id INTEGER)");
    old.exec("create TABLE s2dRmqIds (_id INTEGER PRIMARY KEY, rmq_id INTEGER)");
    old.exec("INSERT INTO lastrmqid (_id, rmq_id) VALUES (1, 41)");
  }
  auto store = open();
  EXPECT_EQ(Database(path()).tables(), kAllTables);
  EXPECT_EQ(platform::fs::attributes(path()).value().permissions, 0600u);  // found wider: restricted
  store->loadRmqId();
  EXPECT_EQ(store->rmqId(), 42);  // the last saved ID + 1
  EXPECT_EQ(store->nextRmqId(), 43);
}

TEST_F(MessageStoreTest, OutgoingIDsComeFromTheHighestMessageThenTheLastSavedID) {
  auto store = open();
  store->loadRmqId();
  EXPECT_EQ(store->rmqId(), 1);  // both tables empty

  store->saveLastOutgoingRmqId(7);
  store->saveLastOutgoingRmqId(9);  // one row, replaced
  EXPECT_TRUE(store->saveMessageWithRmqId(20, 3, platform::Bytes{1, 2, 3}));
  store->waitForQueuedWork();
  EXPECT_EQ(Database(path()).rows("SELECT _id, rmq_id FROM lastrmqid"),
            (std::vector<std::vector<std::string>>{{"1", "9"}}));
  EXPECT_EQ(Database(path()).rows("SELECT rmq_id, type, length(data) FROM outgoingRmqMessages"),
            (std::vector<std::vector<std::string>>{{"20", "3", "3"}}));
  store.reset();

  store = open();
  store->loadRmqId();
  EXPECT_EQ(store->rmqId(), 21);
  store->loadRmqId();  // loaded once
  EXPECT_EQ(store->rmqId(), 21);
}

TEST_F(MessageStoreTest, SyncMessagesAreRecognisedOnceAndSweptWhenExpiredOrFinished) {
  auto store = std::shared_ptr<RIRMessagingRmqManager>(open());
  RIRMessagingSyncMessageManager sync(store);
  const Dictionary message{{"zcm.message_id", "m1"}, {"aps", Value::dict({{"content-available", 1}})}};
  const int64_t before = RIRMessagingCurrentTimestampInSeconds();

  EXPECT_FALSE(sync.didReceiveAPNSSyncMessage(message));
  auto record = store->querySyncMessageWithRmqID("m1");
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->apnsReceived());
  EXPECT_FALSE(record->mcsReceived());
  EXPECT_GE(record->expirationTime(), before + 2419200);
  EXPECT_LE(record->expirationTime(), RIRMessagingCurrentTimestampInSeconds() + 2419200);
  EXPECT_TRUE(env.env.logged("I-RCM016004"));

  EXPECT_TRUE(sync.didReceiveAPNSSyncMessage(message));  // seen before: no second row
  EXPECT_EQ(Database(path()).rows("SELECT rmq_id FROM incomingSyncMessages").size(), 1u);

  EXPECT_FALSE(sync.didReceiveAPNSSyncMessage(Dictionary{{"aps", Value::dict()}}));
  EXPECT_FALSE(sync.didReceiveAPNSSyncMessage(Dictionary{{"zcm.message_id", ""}}));
  EXPECT_TRUE(env.env.logged("I-RCM016002"));

  // The sweep removes expired rows and rows received both ways.
  {
    Database db(path());
    db.exec("INSERT INTO incomingSyncMessages (rmq_id, expiration_ts, apns_recv, mcs_recv) VALUES ('old', 5, 1, 0)");
    db.exec("INSERT INTO incomingSyncMessages (rmq_id, expiration_ts, apns_recv, mcs_recv) VALUES ('both', 99999999999, 1, 1)");
    db.exec("INSERT INTO incomingSyncMessages (rmq_id, expiration_ts, apns_recv, mcs_recv) VALUES ('mcs', 99999999999, 0, 1)");
  }
  sync.removeExpiredSyncMessages();
  store->waitForQueuedWork();
  EXPECT_EQ(Database(path()).rows("SELECT rmq_id FROM incomingSyncMessages ORDER BY rmq_id"),
            (std::vector<std::vector<std::string>>{{"m1"}, {"mcs"}}));
  EXPECT_TRUE(env.env.logged("Successfully deleted 2 sync messages from store"));

  // A record that only came the other way gains its APNS flag.
  EXPECT_TRUE(sync.didReceiveAPNSSyncMessage(Dictionary{{"zcm.message_id", "mcs"}}));
  store->waitForQueuedWork();
  EXPECT_TRUE(store->querySyncMessageWithRmqID("mcs")->apnsReceived());
}

TEST_F(MessageStoreTest, TimeToLiveIsANumberOrNumericTextClampedToTwentyEightDays) {
  const struct {
    Value ttl;
    int64_t expected;
  } cases[] = {
      {Value(60), 60},
      {Value("3600"), 3600},
      {Value(1.9), 1},
      {Value(-5), 0},
      {Value("-5"), 0},
      {Value(std::numeric_limits<int64_t>::max()), 2419200},
      {Value("99999999999999999999999"), 2419200},
      {Value("soon"), 2419200},
      {Value(""), 2419200},
      {Value::array({1}), 2419200},
      {Value(true), 2419200},
  };
  for (const auto& c : cases) {
    const int64_t before = RIRMessagingCurrentTimestampInSeconds();
    const int64_t expiry = RIRMessagingSyncMessageManager::expirationTimeForSyncMessage(Dictionary{{"zcm.ttl", c.ttl}});
    EXPECT_GE(expiry - c.expected, before) << c.ttl.description();
    EXPECT_LE(expiry - c.expected, RIRMessagingCurrentTimestampInSeconds()) << c.ttl.description();
  }
}

TEST_F(MessageStoreTest, ReceivedIDsAreSavedAndDeletedInChunksOfAHundred) {
  auto store = open();
  std::vector<std::string> ids;
  for (int i = 0; i < 250; ++i) {
    ids.push_back("id-" + std::to_string(i));
    store->saveS2dMessageWithRmqId(ids.back());
  }
  store->saveS2dMessageWithRmqId("kept");
  store->deleteMessagesFromTable("s2dRmqIds_1", ids);
  store->deleteMessagesFromTable("s2dRmqIds_1", {});
  store->waitForQueuedWork();
  EXPECT_EQ(Database(path()).rows("SELECT rmq_id FROM s2dRmqIds_1"), (std::vector<std::vector<std::string>>{{"kept"}}));
  EXPECT_TRUE(env.env.logged("Trying to delete 250 s2D ID's, successfully deleted 250"));

  // Other tables take integer IDs.
  EXPECT_TRUE(store->saveMessageWithRmqId(5, 1, {}));
  EXPECT_TRUE(store->saveMessageWithRmqId(6, 1, {}));
  store->deleteMessagesFromTable("outgoingRmqMessages", {"5"});
  store->waitForQueuedWork();
  EXPECT_EQ(Database(path()).rows("SELECT rmq_id FROM outgoingRmqMessages"),
            (std::vector<std::vector<std::string>>{{"6"}}));
}

TEST_F(MessageStoreTest, ATableThatCannotBeCreatedStartsTheDatabaseOverOnce) {
  // An index holds the name of a table the store needs.
  {
    Database broken(path());
    broken.exec("create TABLE s2dRmqIds_1 (_id INTEGER PRIMARY KEY, rmq_id TEXT)");
    broken.exec("create INDEX incomingSyncMessages ON s2dRmqIds_1 (rmq_id)");
    broken.exec("INSERT INTO s2dRmqIds_1 (rmq_id) VALUES ('lost')");
  }
  auto store = open();
  EXPECT_TRUE(env.env.logged("I-RCM013010"));
  EXPECT_TRUE(store->hasDatabase());
  EXPECT_EQ(Database(path()).tables(), kAllTables);
  EXPECT_TRUE(Database(path()).rows("SELECT rmq_id FROM s2dRmqIds_1").empty());

  auto sync = RIRMessagingSyncMessageManager(std::shared_ptr<RIRMessagingRmqManager>(std::move(store)));
  EXPECT_FALSE(sync.didReceiveAPNSSyncMessage(Dictionary{{"zcm.message_id", "new"}}));
  EXPECT_TRUE(sync.didReceiveAPNSSyncMessage(Dictionary{{"zcm.message_id", "new"}}));
}

TEST_F(MessageStoreTest, WithoutADatabaseEverySaveFailsAndNothingCrashes) {
  ASSERT_FALSE(platform::fs::createDirectory(path(), true));  // a folder where the file belongs
  auto store = std::shared_ptr<RIRMessagingRmqManager>(open());
  EXPECT_FALSE(store->hasDatabase());
  EXPECT_TRUE(env.env.logged("Could not open existing RMQ database at path " + path()));

  env.env.clearLogs();
  EXPECT_FALSE(store->saveMessageWithRmqId(1, 1, {9}));
  store->saveS2dMessageWithRmqId("a");
  store->loadRmqId();
  EXPECT_EQ(store->rmqId(), 1);
  RIRMessagingSyncMessageManager sync(store);
  EXPECT_FALSE(sync.didReceiveAPNSSyncMessage(Dictionary{{"zcm.message_id", "a"}}));
  EXPECT_FALSE(sync.didReceiveAPNSSyncMessage(Dictionary{{"zcm.message_id", "a"}}));  // nothing was kept
  store->waitForQueuedWork();
  EXPECT_TRUE(env.env.logged("I-RCM013006"));
  EXPECT_TRUE(platform::fs::isDirectory(path()));  // left as it was
}

}  // namespace

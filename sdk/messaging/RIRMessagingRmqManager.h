// RIRMessagingRmqManager: the messaging library's small SQLite store
// ("<name>.sqlite" in "Zoruvu/RirivuduMessaging" under Application Support).
// It keeps the IDs of received messages ("s2dRmqIds_1"), the records of
// content-available messages used to recognise a message that arrives twice
// ("incomingSyncMessages"), and the outgoing-message tables with their
// persistent ID counter ("outgoingRmqMessages", "lastrmqid").
//
// Every statement runs on the store's serial queue
// "com.zoruvu.ririvudu.messaging.database.rmq": the saves and deletes return
// at once, the queries wait for the queue (so a query sees every write asked
// before it). A new file gets the four tables; an existing one gains
// "s2dRmqIds_1" and "incomingSyncMessages" and loses the old "s2dRmqIds".
// When a table cannot be created the connection is closed, the file removed
// and the database created once more; when that fails too, or the file
// cannot be opened, the store works without a database: every statement is
// logged as failed (queries yield 0 or none, updates and saves fail).
// SQLite failures are log lines (codes I-RCM013xxx, I-RCM016xxx), never
// exceptions.
//
// saveMessageWithRmqId runs on the caller's thread (not the main thread) on
// the store's connection, serialised with the queue.
//
// Thread safety: every member may be called from any thread except the
// queue's own tasks. The destructor waits for queued work and closes the
// connection.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "platform/values/Value.h"

struct sqlite3;
struct sqlite3_stmt;

inline constexpr const char* kRIRMessagingRmqQueueLabel = "com.zoruvu.ririvudu.messaging.database.rmq";
inline constexpr const char* kRIRMessagingRmqDirectory = "Zoruvu/RirivuduMessaging";
inline constexpr const char* kRIRMessagingTableOutgoingRmqMessages = "outgoingRmqMessages";
inline constexpr const char* kRIRMessagingTableLastRmqId = "lastrmqid";
inline constexpr const char* kRIRMessagingOldTableS2DRmqIds = "s2dRmqIds";
inline constexpr const char* kRIRMessagingTableS2DRmqIds = "s2dRmqIds_1";
inline constexpr const char* kRIRMessagingTableSyncMessages = "incomingSyncMessages";

// One record of "incomingSyncMessages".
class RIRMessagingPersistentSyncMessage {
 public:
  RIRMessagingPersistentSyncMessage(std::string rmqID, int64_t expirationTime)
      : m_rmqID(std::move(rmqID)), m_expirationTime(expirationTime) {}

  bool apnsReceived() const { return m_apnsReceived; }
  void setApnsReceived(bool received) { m_apnsReceived = received; }
  bool mcsReceived() const { return m_mcsReceived; }
  void setMcsReceived(bool received) { m_mcsReceived = received; }
  const std::string& rmqID() const { return m_rmqID; }
  int64_t expirationTime() const { return m_expirationTime; }
  // "RIRMessagingPersistentSyncMessage: (rmqID: ID, apns: 1, mcs: 0, expiry: DATE"
  std::string description() const;

 private:
  bool m_apnsReceived = false;
  bool m_mcsReceived = false;
  std::string m_rmqID;
  int64_t m_expirationTime = 0;
};

class RIRMessagingRmqManager {
 public:
  // Creates the queue and starts opening the database on it.
  explicit RIRMessagingRmqManager(std::string databaseName);
  ~RIRMessagingRmqManager();
  RIRMessagingRmqManager(const RIRMessagingRmqManager&) = delete;
  RIRMessagingRmqManager& operator=(const RIRMessagingRmqManager&) = delete;

  // --- outgoing persistent IDs ---------------------------------------------------
  void loadRmqId();
  void loadInitialOutgoingPersistentId();
  int64_t nextRmqId();
  void saveLastOutgoingRmqId(int64_t rmqID);
  int64_t rmqId() const;
  // Must not be called on the main thread.
  bool saveMessageWithRmqId(int64_t rmqID, int8_t tag, const platform::Bytes& data);

  // --- received messages ---------------------------------------------------------
  void saveS2dMessageWithRmqId(const std::string& rmqID);
  // Text IDs for "s2dRmqIds_1" and "incomingSyncMessages", integers
  // (their numeric value) for the other tables; chunks of 100.
  void deleteMessagesFromTable(const std::string& tableName, const std::vector<std::string>& rmqIDs);

  // --- sync messages -------------------------------------------------------------
  std::shared_ptr<RIRMessagingPersistentSyncMessage> querySyncMessageWithRmqID(const std::string& rmqID);
  void saveSyncMessageWithRmqID(const std::string& rmqID, int64_t expirationTime);
  void updateSyncMessageViaAPNSWithRmqID(const std::string& rmqID);
  void deleteExpiredOrFinishedSyncMessages();

  std::string pathForDatabase() const { return pathForDatabaseWithName(m_databaseName); }
  static std::string pathForDatabaseWithName(const std::string& name);
  const std::string& databaseName() const { return m_databaseName; }
  // Whether a connection is open (waits for the queue).
  bool hasDatabase();
  // Returns once every task queued so far has run.
  void waitForQueuedWork();

 private:
  // --- on the queue ----------------------------------------------------------------
  void openDatabase();
  bool openAndCreateTables();
  bool createTableWithName(const char* tableName, const char* command);
  void dropTableWithName(const char* tableName);
  void closeDatabase();
  void removeDatabase();
  int64_t queryHighestRmqId();
  int64_t queryLastRmqId();
  int64_t queryInt64(const std::string& sql);
  bool updateSyncMessageWithRmqID(const std::string& rmqID, const char* column, bool value);
  // Prepares `sql`; none (logged) without a database or on failure.
  sqlite3_stmt* prepare(const std::string& sql);
  int lastErrorCode() const;
  std::string lastErrorMessage() const;
  void logError() const;
  void logErrorAndFinalizeStatement(sqlite3_stmt* statement) const;

  platform::SerialQueue m_databaseOperationQueue;
  const std::string m_databaseName;
  sqlite3* m_database = nullptr;  // touched on the queue only
  int64_t m_rmqId = -1;           // touched by the caller (loadRmqId, nextRmqId)
};

// The sync-message de-duplication over the store: a content-available
// message is recognised by its "zcm.message_id" alone.
class RIRMessagingSyncMessageManager {
 public:
  explicit RIRMessagingSyncMessageManager(std::shared_ptr<RIRMessagingRmqManager> rmqManager)
      : m_rmqManager(std::move(rmqManager)) {}

  void removeExpiredSyncMessages();
  // Whether this message was seen before; a first sight records it.
  bool didReceiveAPNSSyncMessage(const platform::Dictionary& message);
  // now + "zcm.ttl" (a number or numeric text, clamped to [0, 2419200]);
  // now + 2419200 without a usable value.
  static int64_t expirationTimeForSyncMessage(const platform::Dictionary& message);

  const std::shared_ptr<RIRMessagingRmqManager>& rmqManager() const { return m_rmqManager; }

 private:
  std::shared_ptr<RIRMessagingRmqManager> m_rmqManager;
};

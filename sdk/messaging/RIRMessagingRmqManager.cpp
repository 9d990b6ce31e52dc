#include "sdk/messaging/RIRMessagingRmqManager.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/dispatch/ExitDrain.h"
#include "platform/storage/FileSystem.h"
#include "platform/text/NumberText.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingUtilities.h"

namespace {

// read-write | create | no file protection
constexpr int kOpenFlags = 0x400006;

constexpr const char* kCreateOutgoingRmqMessages =
    "create TABLE IF NOT EXISTS %@%@ (_id INTEGER PRIMARY KEY, rmq_id INTEGER, type INTEGER, ts INTEGER, data BLOB)";
constexpr const char* kCreateLastRmqId = "create TABLE IF NOT EXISTS %@%@ (_id INTEGER PRIMARY KEY, rmq_id INTEGER)";
constexpr const char* kCreateS2DRmqIds = "create TABLE IF NOT EXISTS %@%@ (_id INTEGER PRIMARY KEY, rmq_id TEXT)";
constexpr const char* kCreateSyncMessages =
    "create TABLE IF NOT EXISTS %@%@ (_id INTEGER PRIMARY KEY, rmq_id TEXT, expiration_ts INTEGER, apns_recv "
    "INTEGER, mcs_recv INTEGER)";
constexpr const char* kDropTable = "drop TABLE if exists %@%@";

constexpr int64_t kDefaultSyncMessageTTL = 2419200;  // 28 days
constexpr size_t kDeleteChunkSize = 100;

// Fills the two "%@" of a table template with the empty prefix and the name.
std::string formatTableCommand(const char* command, const std::string& tableName) {
  std::string text = command;
  const size_t first = text.find("%@");
  if (first == std::string::npos) return text;
  text.replace(first, 2, "");
  const size_t second = text.find("%@", first);
  if (second != std::string::npos) text.replace(second, 2, tableName);
  return text;
}

std::string errorText(int code) { return std::to_string(code) + " - " + sqlite3_errstr(code); }

const RIRMessagingLogger& logger() { return RIRMessagingSharedLogger(); }

bool isTextIDTable(const std::string& tableName) {
  return tableName == kRIRMessagingTableS2DRmqIds || tableName == kRIRMessagingTableSyncMessages;
}

}  // namespace

std::string RIRMessagingPersistentSyncMessage::description() const {
  return std::string("RIRMessagingPersistentSyncMessage: (rmqID: ") + m_rmqID +
         ", apns: " + std::to_string(m_apnsReceived ? 1 : 0) + ", mcs: " + std::to_string(m_mcsReceived ? 1 : 0) +
         ", expiry: " + platform::Value::date(static_cast<double>(m_expirationTime)).description();
}

RIRMessagingRmqManager::RIRMessagingRmqManager(std::string databaseName)
    : m_databaseOperationQueue(kRIRMessagingRmqQueueLabel), m_databaseName(std::move(databaseName)) {
  platform::ExitDrain::registerQueue(m_databaseOperationQueue);
  openDatabase();
}

RIRMessagingRmqManager::~RIRMessagingRmqManager() {
  m_databaseOperationQueue.sync([this] { closeDatabase(); });
}

std::string RIRMessagingRmqManager::pathForDatabaseWithName(const std::string& name) {
  return platform::fs::joinPath(platform::fs::joinPath(RIRMessagingSupportedDirectory(), kRIRMessagingRmqDirectory),
                                name + ".sqlite");
}

void RIRMessagingRmqManager::waitForQueuedWork() {
  m_databaseOperationQueue.sync([] {});
}

bool RIRMessagingRmqManager::hasDatabase() {
  return m_databaseOperationQueue.sync([this] { return m_database != nullptr; });
}

// --- opening -------------------------------------------------------------------

void RIRMessagingRmqManager::openDatabase() {
  m_databaseOperationQueue.async([this] {
    if (openAndCreateTables()) return;
    if (m_database == nullptr) return;  // the open itself failed: logged
    // A table could not be created (the file was removed): start over once.
    closeDatabase();
    if (!openAndCreateTables()) closeDatabase();
  });
}

bool RIRMessagingRmqManager::openAndCreateTables() {
  const std::string path = pathForDatabase();
  const bool exists = platform::fs::exists(path);
  platform::fs::ensurePrivateFile(path);  // a failure shows in the open below
  const int result = sqlite3_open_v2(path.c_str(), &m_database, kOpenFlags, nullptr);
  if (result != SQLITE_OK) {
    const std::string error = errorText(result);
    if (exists) {
      logger().logFuncError(13008, "Could not open existing RMQ database at path " + path + ", error: " + error);
    } else {
      logger().logFuncError(13007, "Could not create RMQ database at path " + path + ", error: " + error);
    }
    closeDatabase();
    return false;
  }
  if (exists) {
    if (!createTableWithName(kRIRMessagingTableS2DRmqIds, kCreateS2DRmqIds)) return false;
    dropTableWithName(kRIRMessagingOldTableS2DRmqIds);
    return createTableWithName(kRIRMessagingTableSyncMessages, kCreateSyncMessages);
  }
  return createTableWithName(kRIRMessagingTableOutgoingRmqMessages, kCreateOutgoingRmqMessages) &&
         createTableWithName(kRIRMessagingTableLastRmqId, kCreateLastRmqId) &&
         createTableWithName(kRIRMessagingTableS2DRmqIds, kCreateS2DRmqIds) &&
         createTableWithName(kRIRMessagingTableSyncMessages, kCreateSyncMessages);
}

bool RIRMessagingRmqManager::createTableWithName(const char* tableName, const char* command) {
  const std::string sql = formatTableCommand(command, tableName);
  char* error = nullptr;
  if (sqlite3_exec(m_database, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK) return true;
  const std::string message = error ? error : "(null)";
  sqlite3_free(error);
  removeDatabase();
  logger().logFuncError(13010, std::string("Couldn't create table: ") + tableName + " with command: " + sql +
                                   " error: " + message);
  return false;
}

void RIRMessagingRmqManager::dropTableWithName(const char* tableName) {
  const std::string sql = formatTableCommand(kDropTable, tableName);
  if (sqlite3_exec(m_database, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    logger().logFuncError(13002, std::string("Failed to remove table ") + tableName);
  }
}

void RIRMessagingRmqManager::closeDatabase() {
  if (m_database != nullptr) sqlite3_close(m_database);
  m_database = nullptr;
}

void RIRMessagingRmqManager::removeDatabase() {
  // Errors are ignored: a file that is already gone is what we want.
  platform::fs::removeItem(pathForDatabase());
}

// --- statements ----------------------------------------------------------------

int RIRMessagingRmqManager::lastErrorCode() const {
  return m_database ? sqlite3_errcode(m_database) : SQLITE_CANTOPEN;
}

std::string RIRMessagingRmqManager::lastErrorMessage() const {
  return m_database ? sqlite3_errmsg(m_database) : "the message database is not open";
}

void RIRMessagingRmqManager::logError() const {
  logger().logFuncError(13006, "Error: code (" + std::to_string(lastErrorCode()) + ") message: " + lastErrorMessage());
}

void RIRMessagingRmqManager::logErrorAndFinalizeStatement(sqlite3_stmt* statement) const {
  logError();
  sqlite3_finalize(statement);
}

sqlite3_stmt* RIRMessagingRmqManager::prepare(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (m_database == nullptr || sqlite3_prepare_v2(m_database, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    logErrorAndFinalizeStatement(statement);
    return nullptr;
  }
  return statement;
}

// --- outgoing persistent IDs ---------------------------------------------------

void RIRMessagingRmqManager::loadRmqId() {
  if (m_rmqId >= 0) return;
  loadInitialOutgoingPersistentId();
  // The outstanding-message map is never filled here, so there is nothing to
  // report about it.
}

void RIRMessagingRmqManager::loadInitialOutgoingPersistentId() {
  int64_t highest = m_databaseOperationQueue.sync([this] { return queryHighestRmqId(); });
  if (highest == 0) highest = m_databaseOperationQueue.sync([this] { return queryLastRmqId(); });
  // A stored ID at the top of the range stays there rather than wrapping.
  m_rmqId = highest < std::numeric_limits<int64_t>::max() ? highest + 1 : highest;
}

int64_t RIRMessagingRmqManager::nextRmqId() {
  if (m_rmqId < std::numeric_limits<int64_t>::max()) ++m_rmqId;
  return m_rmqId;
}

int64_t RIRMessagingRmqManager::rmqId() const { return m_rmqId; }

int64_t RIRMessagingRmqManager::queryInt64(const std::string& sql) {
  sqlite3_stmt* statement = prepare(sql);
  if (statement == nullptr) return 0;
  int64_t value = 0;
  if (sqlite3_step(statement) == SQLITE_ROW) value = sqlite3_column_int64(statement, 0);
  sqlite3_finalize(statement);
  return value;
}

int64_t RIRMessagingRmqManager::queryHighestRmqId() {
  return queryInt64(std::string("SELECT rmq_id FROM ") + kRIRMessagingTableOutgoingRmqMessages +
                    " ORDER BY rmq_id DESC LIMIT 1");
}

int64_t RIRMessagingRmqManager::queryLastRmqId() {
  return queryInt64(std::string("SELECT rmq_id FROM ") + kRIRMessagingTableLastRmqId + " ORDER BY rmq_id DESC LIMIT 1");
}

void RIRMessagingRmqManager::saveLastOutgoingRmqId(int64_t rmqID) {
  m_databaseOperationQueue.async([this, rmqID] {
    sqlite3_stmt* statement =
        prepare(std::string("INSERT OR REPLACE INTO ") + kRIRMessagingTableLastRmqId + " (_id, rmq_id) VALUES (?, ?)");
    if (statement == nullptr) return;
    if (sqlite3_bind_int(statement, 1, 1) != SQLITE_OK || sqlite3_bind_int64(statement, 2, rmqID) != SQLITE_OK ||
        sqlite3_step(statement) != SQLITE_DONE) {
      logErrorAndFinalizeStatement(statement);
      return;
    }
    sqlite3_finalize(statement);
  });
}

bool RIRMessagingRmqManager::saveMessageWithRmqId(int64_t rmqID, int8_t tag, const platform::Bytes& data) {
  return m_databaseOperationQueue.sync([&] {
    sqlite3_stmt* statement =
        prepare(std::string("INSERT INTO ") + kRIRMessagingTableOutgoingRmqMessages + " (rmq_id, type, data) VALUES (?, ?, ?)");
    if (statement == nullptr) return false;
    if (sqlite3_bind_int64(statement, 1, rmqID) != SQLITE_OK || sqlite3_bind_int(statement, 2, tag) != SQLITE_OK ||
        sqlite3_bind_blob(statement, 3, data.data(), static_cast<int>(data.size()), SQLITE_STATIC) != SQLITE_OK ||
        sqlite3_step(statement) != SQLITE_DONE) {
      logErrorAndFinalizeStatement(statement);
      return false;
    }
    sqlite3_finalize(statement);
    return true;
  });
}

// --- received messages -----------------------------------------------------------

void RIRMessagingRmqManager::saveS2dMessageWithRmqId(const std::string& rmqID) {
  m_databaseOperationQueue.async([this, rmqID] {
    sqlite3_stmt* statement = prepare(std::string("INSERT INTO ") + kRIRMessagingTableS2DRmqIds + " (rmq_id) VALUES (?)");
    if (statement == nullptr) return;
    if (sqlite3_bind_text(statement, 1, rmqID.c_str(), static_cast<int>(rmqID.size()), SQLITE_STATIC) != SQLITE_OK ||
        sqlite3_step(statement) != SQLITE_DONE) {
      logErrorAndFinalizeStatement(statement);
      return;
    }
    sqlite3_finalize(statement);
  });
}

void RIRMessagingRmqManager::deleteMessagesFromTable(const std::string& tableName,
                                                     const std::vector<std::string>& rmqIDs) {
  m_databaseOperationQueue.async([this, tableName, rmqIDs] {
    if (rmqIDs.empty()) return;
    const bool textIDs = isTextIDTable(tableName);
    int deleted = 0;
    size_t next = 0;
    while (next < rmqIDs.size()) {
      const size_t chunk = std::min(kDeleteChunkSize, rmqIDs.size() - next);
      std::string condition;
      for (size_t i = 0; i < chunk; ++i) condition += "rmq_id = ? OR ";
      condition.resize(condition.size() - 4);
      const std::string sql = "DELETE FROM " + tableName + " WHERE " + " " + condition;
      sqlite3_stmt* statement = prepare(sql);
      if (statement == nullptr) return;
      // Each ID takes the next free placeholder; a text ID that does not bind
      // leaves its placeholder to the next ID of the list.
      int placeholder = 1;
      const size_t end = next + chunk;
      for (; next < end; ++next) {
        const std::string& rmqID = rmqIDs[next];
        if (!textIDs) {
          sqlite3_bind_int64(statement, placeholder++, platform::NumberText::scanInt64(rmqID));
          logger().logFuncInfo(16008, "Successfully deleted sync message from cache " + rmqID);
        } else if (sqlite3_bind_text(statement, placeholder, rmqID.c_str(), static_cast<int>(rmqID.size()),
                                     SQLITE_TRANSIENT) == SQLITE_OK) {
          ++placeholder;
          logger().logFuncInfo(16008, "Successfully deleted sync message from cache " + rmqID);
        } else {
          logger().logFuncDebug(13003, "Failed to bind rmqID " + rmqID);
          logger().logFuncError(16007, "Failed to delete sync message " + rmqID);
        }
      }
      if (sqlite3_step(statement) != SQLITE_DONE) {
        logErrorAndFinalizeStatement(statement);
        return;
      }
      sqlite3_finalize(statement);
      deleted += sqlite3_changes(m_database);
    }
    logger().logFuncDebug(13004, "Trying to delete " + std::to_string(rmqIDs.size()) + " s2D ID's, successfully deleted " +
                                     std::to_string(deleted));
  });
}

// --- sync messages -------------------------------------------------------------------

std::shared_ptr<RIRMessagingPersistentSyncMessage> RIRMessagingRmqManager::querySyncMessageWithRmqID(
    const std::string& rmqID) {
  return m_databaseOperationQueue.sync([&]() -> std::shared_ptr<RIRMessagingPersistentSyncMessage> {
    sqlite3_stmt* statement = prepare(std::string("SELECT rmq_id, expiration_ts, apns_recv, mcs_recv FROM ") +
                                      kRIRMessagingTableSyncMessages + " WHERE rmq_id = ?");
    if (statement == nullptr) return nullptr;
    if (sqlite3_bind_text(statement, 1, rmqID.c_str(), static_cast<int>(rmqID.size()), SQLITE_STATIC) != SQLITE_OK) {
      logErrorAndFinalizeStatement(statement);
      return nullptr;
    }
    std::shared_ptr<RIRMessagingPersistentSyncMessage> message;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      // The stored text whole: an ID may hold a NUL character.
      const unsigned char* text = sqlite3_column_text(statement, 0);
      const std::string id = text ? std::string(reinterpret_cast<const char*>(text),
                                                static_cast<size_t>(sqlite3_column_bytes(statement, 0)))
                                  : std::string();
      message = std::make_shared<RIRMessagingPersistentSyncMessage>(id, sqlite3_column_int64(statement, 1));
      message->setApnsReceived(sqlite3_column_int(statement, 2) != 0);
      message->setMcsReceived(sqlite3_column_int(statement, 3) != 0);
    }
    sqlite3_finalize(statement);
    return message;
  });
}

void RIRMessagingRmqManager::saveSyncMessageWithRmqID(const std::string& rmqID, int64_t expirationTime) {
  m_databaseOperationQueue.async([this, rmqID, expirationTime] {
    sqlite3_stmt* statement = prepare(std::string("INSERT INTO ") + kRIRMessagingTableSyncMessages +
                                      " (rmq_id, expiration_ts, apns_recv, mcs_recv) VALUES (?, ?, ?, ?)");
    if (statement == nullptr) return;
    if (sqlite3_bind_text(statement, 1, rmqID.c_str(), static_cast<int>(rmqID.size()), SQLITE_STATIC) != SQLITE_OK ||
        sqlite3_bind_int64(statement, 2, expirationTime) != SQLITE_OK || sqlite3_bind_int(statement, 3, 1) != SQLITE_OK ||
        sqlite3_bind_int(statement, 4, 0) != SQLITE_OK || sqlite3_step(statement) != SQLITE_DONE) {
      logErrorAndFinalizeStatement(statement);
      return;
    }
    sqlite3_finalize(statement);
    logger().logFuncInfo(16004, "Added sync message to cache: " + rmqID);
  });
}

void RIRMessagingRmqManager::updateSyncMessageViaAPNSWithRmqID(const std::string& rmqID) {
  m_databaseOperationQueue.async([this, rmqID] {
    if (!updateSyncMessageWithRmqID(rmqID, "apns_recv", true)) {
      logger().logFuncError(16005, "Failed to update APNS state for sync message " + rmqID);
    }
  });
}

bool RIRMessagingRmqManager::updateSyncMessageWithRmqID(const std::string& rmqID, const char* column, bool value) {
  sqlite3_stmt* statement = prepare(std::string("UPDATE ") + kRIRMessagingTableSyncMessages + " SET " + column +
                                    " = " + (value ? "1" : "0") + " WHERE rmq_id = ?");
  if (statement == nullptr) return false;
  if (sqlite3_bind_text(statement, 1, rmqID.c_str(), static_cast<int>(rmqID.size()), SQLITE_STATIC) != SQLITE_OK ||
      sqlite3_step(statement) != SQLITE_DONE) {
    logErrorAndFinalizeStatement(statement);
    return false;
  }
  sqlite3_finalize(statement);
  return true;
}

void RIRMessagingRmqManager::deleteExpiredOrFinishedSyncMessages() {
  m_databaseOperationQueue.async([this] {
    const std::string sql = std::string("DELETE FROM ") + kRIRMessagingTableSyncMessages + " WHERE expiration_ts < " +
                            std::to_string(RIRMessagingCurrentTimestampInSeconds()) +
                            " OR (apns_recv = 1 AND mcs_recv = 1)";
    sqlite3_stmt* statement = prepare(sql);
    if (statement == nullptr) return;
    if (sqlite3_step(statement) != SQLITE_DONE) {
      logErrorAndFinalizeStatement(statement);
      return;
    }
    sqlite3_finalize(statement);
    const int deleted = sqlite3_changes(m_database);
    if (deleted > 0) {
      logger().logFuncDebug(16001, "Successfully deleted " + std::to_string(deleted) + " sync messages from store");
    }
  });
}

// --- sync-message manager ------------------------------------------------------------

void RIRMessagingSyncMessageManager::removeExpiredSyncMessages() { m_rmqManager->deleteExpiredOrFinishedSyncMessages(); }

int64_t RIRMessagingSyncMessageManager::expirationTimeForSyncMessage(const platform::Dictionary& message) {
  int64_t ttl = kDefaultSyncMessageTTL;
  const platform::Value* value = message.find("zcm.ttl");
  std::optional<double> seconds;
  if (value != nullptr && value->isNumber()) {
    seconds = value->doubleValue();
  } else if (value != nullptr && value->isString()) {
    if (auto parsed = platform::NumberText::parseDouble(*value->asString())) seconds = *parsed;
  }
  if (seconds && !std::isnan(*seconds)) {
    ttl = static_cast<int64_t>(std::clamp(*seconds, 0.0, static_cast<double>(kDefaultSyncMessageTTL)));
  }
  const int64_t now = RIRMessagingCurrentTimestampInSeconds();
  if (now > std::numeric_limits<int64_t>::max() - ttl) return std::numeric_limits<int64_t>::max();
  return now + ttl;
}

bool RIRMessagingSyncMessageManager::didReceiveAPNSSyncMessage(const platform::Dictionary& message) {
  const platform::Value* value = message.find("zcm.message_id");
  const std::string* rmqID = value ? value->asString() : nullptr;
  if (rmqID == nullptr || rmqID->empty()) {
    RIRMessagingSharedLogger().logFuncError(16002, "Invalid nil rmqID for sync message.");
    return false;
  }
  std::shared_ptr<RIRMessagingPersistentSyncMessage> persisted = m_rmqManager->querySyncMessageWithRmqID(*rmqID);
  if (persisted) {
    if (!persisted->apnsReceived()) {
      persisted->setApnsReceived(true);
      m_rmqManager->updateSyncMessageViaAPNSWithRmqID(*rmqID);
    }
    return true;
  }
  m_rmqManager->saveSyncMessageWithRmqID(*rmqID, expirationTimeForSyncMessage(message));
  return false;
}

#include "measurement/features/experiments/APMEDatabase.h"

#include "measurement/base/APMError.h"
#include "measurement/base/APMFileLocations.h"
#include "measurement/features/experiments/APMEMonitor.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/time/Clock.h"

namespace {

using platform::Value;
using Record = APMSqliteStore::Record;

const APMEMonitor& monitor() { return APMEMonitor::shared(); }

const APMSqliteStore::ColumnInfo& columns() {
  static const APMSqliteStore::ColumnInfo* const info = new APMSqliteStore::ColumnInfo{
      {APMEDatabase::kSDKNameColumn, "TEXT NOT NULL PRIMARY KEY"},
      {APMEDatabase::kSnapshotColumn, "BLOB NOT NULL"},
      {APMEDatabase::kTimestampColumn, "REAL NOT NULL"},
      {APMEDatabase::kManuallyActivatedColumn, "INTEGER"},
  };
  return *info;
}

// The snapshot of a stored row, its timestamp and manual mark from the row.
std::shared_ptr<APMESnapshot> snapshotFromRecord(const Record& row) {
  const Value* bytes = row.find(APMEDatabase::kSnapshotColumn);
  if (bytes == nullptr || !bytes->isData()) return nullptr;
  std::shared_ptr<APMPBSnapshot> message = APMPBSnapshot::initWithBuffer(*bytes->asData());
  if (message == nullptr) return nullptr;
  std::shared_ptr<APMESnapshot> snapshot = APMESnapshot::initWithProtobuf(*message);
  if (snapshot == nullptr) return nullptr;
  snapshot->setTimestamp(row.get(APMEDatabase::kTimestampColumn).doubleValue());
  const Value* manual = row.find(APMEDatabase::kManuallyActivatedColumn);
  if (manual != nullptr && manual->isNumeric()) snapshot->setManuallyActivated(manual->boolValue());
  return snapshot;
}

}  // namespace

std::unique_ptr<APMEDatabase> APMEDatabase::initWithPath(const std::string& path) {
  if (path.empty()) {
    monitor().logWithLevel(1, 810000, "Cannot initialize the database with invalid path");
    return nullptr;
  }
  std::unique_ptr<APMEDatabase> database(new APMEDatabase());
  if (!database->initializeDatabaseResourcesWithContext("Init", path)) return nullptr;
  return database;
}

APMEDatabase::~APMEDatabase() = default;

bool APMEDatabase::initializeDatabaseResourcesWithContext(const std::string& context,
                                                          const std::string& databasePath) {
  m_databasePath = databasePath;
  platform::Error error;
  m_sqliteStore = APMSqliteStore::initWithDatabasePath(databasePath, &error);
  if (m_sqliteStore == nullptr) {
    monitor().logWithLevel(1, 810001, "Failed to open database (" + context + ")", error);
    return false;
  }
  if (ensureAllTables()) return true;
  monitor().logWithLevel(1, 810002, "Failed to create or validate required database tables (" + context + ")");
  m_sqliteStore.reset();
  platform::Error deleteError;
  if (!APMDeleteFile(databasePath, &deleteError) && !deleteError.domain.empty()) {
    monitor().logWithLevel(4, 810003,
                           "Failed to delete old database file after failed validation. Error (" +
                               deleteError.localizedDescription() + ")");
  }
  return false;
}

bool APMEDatabase::ensureAllTables() {
  if (m_sqliteStore == nullptr) return false;
  for (const char* table : {kPendingTable, kActivatedTable, kLaunchedTable}) {
    platform::Error error;
    if (!m_sqliteStore->ensureTableWithName(table, columns(), {}, {}, &error)) {
      if (!error.domain.empty()) {
        monitor().logWithLevel(1, 810004, "Failed to ensure table. Table, error", table, error);
      }
      return false;
    }
  }
  return true;
}

void APMEDatabase::closeAndDelete() {
  if (m_sqliteStore == nullptr || !m_sqliteStore->closeAndDeleteDatabase()) {
    monitor().logWithLevel(4, 810005, "Failed to delete database data");
  }
}

void APMEDatabase::reset() {
  const std::string path = m_databasePath;
  closeAndDelete();
  m_sqliteStore.reset();
  if (!initializeDatabaseResourcesWithContext("Reset", path)) {
    monitor().logWithLevel(1, 810006, "Cannot re-initialize the database");
  }
}

bool APMEDatabase::performTransaction(const std::function<bool()>& block) {
  platform::Error error;
  if (m_sqliteStore != nullptr && m_sqliteStore->performTransactionWithError(&error, block)) return true;
  if (m_sqliteStore == nullptr) APMSetError(&error, 2, "Database not open");
  monitor().logWithLevel(1, 810007, "Transaction failed. " + error.localizedDescription());
  return false;
}

// --- reading ------------------------------------------------------------------------------

std::optional<std::vector<Record>> APMEDatabase::allDataTypesFromTableWithName(const std::string& table,
                                                                               int64_t limit,
                                                                               platform::Error* error) {
  if (m_sqliteStore == nullptr) {
    APMSetError(error, 2, "Database not open");
    return std::nullopt;
  }
  return m_sqliteStore->recordsForQuery(
      "SELECT rowid, * FROM " + table + " ORDER BY rowid LIMIT " + std::to_string(limit), {}, error);
}

std::optional<APMEDatabase::Snapshots> APMEDatabase::fetchAllSnapshots(const std::string& table,
                                                                       platform::Error* error) {
  std::optional<std::vector<Record>> rows = allDataTypesFromTableWithName(table, kTableLimit, error);
  if (!rows) return std::nullopt;
  Snapshots snapshots;
  snapshots.reserve(rows->size());
  for (const Record& row : *rows) {
    std::shared_ptr<APMESnapshot> snapshot = snapshotFromRecord(row);
    if (snapshot == nullptr) {
      APMSetError(error, 2, "Received an invalid snapshot from database");
      return std::nullopt;
    }
    snapshots.push_back(std::move(snapshot));
  }
  return snapshots;
}

std::optional<APMEDatabase::Snapshots> APMEDatabase::fetchAllActivatedSnapshots(platform::Error* error) {
  return fetchAllSnapshots(kActivatedTable, error);
}

std::optional<APMEDatabase::Snapshots> APMEDatabase::fetchAllPendingSnapshots(platform::Error* error) {
  return fetchAllSnapshots(kPendingTable, error);
}

std::optional<APMEDatabase::Snapshots> APMEDatabase::fetchAllLaunchedSnapshots(platform::Error* error) {
  return fetchAllSnapshots(kLaunchedTable, error);
}

// --- writing ------------------------------------------------------------------------------

bool APMEDatabase::upsertSnapshot(const APMPBSnapshot& snapshot, const std::string& table, double timestamp,
                                  std::optional<bool> manuallyActivated, platform::Error* error) {
  if (m_sqliteStore == nullptr) return APMFailWithError(error, 2, "Database not open");
  std::optional<platform::Bytes> bytes = snapshot.protoBuffer();
  if (!bytes) return APMFailWithError(error, 1, "Received a snapshot that does not encode");
  Record row{{kSDKNameColumn, APMPBGetString(&snapshot, APMPBSnapshotSlot::kSdkName).value_or("")},
             {kTimestampColumn, timestamp},
             {kSnapshotColumn, Value::data(std::move(*bytes))}};
  if (manuallyActivated) row.set(kManuallyActivatedColumn, *manuallyActivated);
  return m_sqliteStore->upsertRecord(row, table, error);
}

bool APMEDatabase::upsertPendingExperimentSnapshots(const Snapshots& snapshots, platform::Error* error) {
  for (const std::shared_ptr<APMESnapshot>& snapshot : snapshots) {
    std::shared_ptr<APMPBSnapshot> message = snapshot ? snapshot->proto() : nullptr;
    if (message == nullptr) return APMFailWithError(error, 1, "Received nil pending snapshot");
    if (!upsertSnapshot(*message, kPendingTable, snapshot->timestamp(), snapshot->manuallyActivated(), error)) {
      return false;
    }
  }
  return true;
}

bool APMEDatabase::activateSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp,
                                    platform::Error* error) {
  if (snapshot == nullptr) return APMFailWithError(error, 1, "Received nil pending snapshot");
  std::shared_ptr<APMEExperiment> launched;
  std::vector<std::shared_ptr<APMEExperiment>> others;
  for (std::shared_ptr<APMEExperiment>& experiment : snapshot->experiments()) {
    if (experiment->experimentID() == 0) {
      launched = std::move(experiment);
    } else {
      others.push_back(std::move(experiment));
    }
  }
  auto write = [&](const std::vector<std::shared_ptr<APMEExperiment>>& experiments, const char* table) {
    std::shared_ptr<APMESnapshot> part = APMESnapshot::initWithSDKName(snapshot->SDKName(), experiments);
    std::shared_ptr<APMPBSnapshot> message = part ? part->proto() : nullptr;
    if (message == nullptr) return APMFailWithError(error, 1, "Received nil pending snapshot");
    return upsertSnapshot(*message, table, timestamp, std::nullopt, error);
  };
  if (launched && !write({launched}, kLaunchedTable)) return false;
  if (!others.empty() && !write(others, kActivatedTable)) return false;
  if (m_sqliteStore == nullptr) return APMFailWithError(error, 2, "Database not open");
  return m_sqliteStore
      ->deleteRecordsFromTableWithName(kPendingTable,
                                       std::string(kSDKNameColumn) + " = ? AND " + kTimestampColumn + " <= ?",
                                       {Value(snapshot->SDKName()), Value(timestamp)}, error)
      .has_value();
}

bool APMEDatabase::activatePendingSnapshotsAutomatically(platform::Error* error) {
  if (m_sqliteStore == nullptr) return APMFailWithError(error, 2, "Database not open");
  std::optional<std::vector<Record>> rows = m_sqliteStore->recordsForQuery(
      std::string("SELECT rowid,* FROM ") + kPendingTable + " WHERE NOT " + kManuallyActivatedColumn +
          " = ? ORDER BY rowid",
      {Value(true)}, error);
  if (!rows) return false;
  for (const Record& row : *rows) {
    std::shared_ptr<APMESnapshot> snapshot = snapshotFromRecord(row);
    if (snapshot == nullptr) return APMFailWithError(error, 2, "Received an invalid snapshot from database");
    if (!activateSnapshot(snapshot, row.get(kTimestampColumn).doubleValue(), error)) return false;
    if (!deletePendingExperimentsOfSDKName(row.get(kSDKNameColumn).stringValue(), error)) return false;
  }
  return true;
}

// --- deleting -----------------------------------------------------------------------------

bool APMEDatabase::deleteExperimentsOfSDKName(const std::string& SDKName, const std::string& table,
                                              platform::Error* error) {
  if (m_sqliteStore == nullptr) return APMFailWithError(error, 2, "Database not open");
  return m_sqliteStore->deleteRecordFromTableWithName(table, kSDKNameColumn, Value(SDKName), error);
}

bool APMEDatabase::deleteActivatedExperimentsOfSDKName(const std::string& SDKName, platform::Error* error) {
  if (SDKName.empty()) return APMFailWithError(error, 1, "Received empty SDK Name");
  return deleteExperimentsOfSDKName(SDKName, kActivatedTable, error);
}

bool APMEDatabase::deletePendingExperimentsOfSDKName(const std::string& SDKName, platform::Error* error) {
  return deleteExperimentsOfSDKName(SDKName, kPendingTable, error);
}

bool APMEDatabase::deleteLaunchedExperimentSDKName(const std::string& SDKName, platform::Error* error) {
  return deleteExperimentsOfSDKName(SDKName, kLaunchedTable, error);
}

bool APMEDatabase::deleteStaleActivatedSnapshots(platform::Error* error) {
  if (m_sqliteStore == nullptr) return APMFailWithError(error, 2, "Database not open");
  const double cutoff = platform::Clock::current()->now() - kStaleInterval;
  return m_sqliteStore
      ->deleteRecordsFromTableWithName(kActivatedTable, std::string(kTimestampColumn) + " <= ?", {Value(cutoff)},
                                       error)
      .has_value();
}

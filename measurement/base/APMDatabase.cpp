#include "measurement/base/APMDatabase.h"

#include <cmath>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMPersistedConfig.h"
#include "platform/storage/FileSystem.h"
#include "platform/time/Clock.h"

namespace {

using ColumnInfo = APMSqliteStore::ColumnInfo;

struct TableSchema {
  const char* name;
  ColumnInfo elementary;
  ColumnInfo addOn;
  std::map<std::string, std::string> modify;
};

const std::string kFilterKey = "(audience_id, filter_id)";

// The tables, in the order they are ensured.
const std::vector<TableSchema>& schema() {
  static const std::vector<TableSchema> tables = {
      {"app_metadata",
       {{"last_bundle_index", "INTEGER NOT NULL"}, {"last_bundle_end_timestamp", "REAL NOT NULL"}},
       {{"last_bundle_start_timestamp", "REAL"},
        {"day", "INTEGER"},
        {"daily_conversions_count", "INTEGER"},
        {"daily_events_count", "INTEGER"},
        {"daily_public_events_count", "INTEGER"},
        {"daily_error_events_count", "INTEGER"},
        {"remote_config_data", "BLOB"},
        {"remote_config_timestamp", "REAL"},
        {"daily_real_time_conversion_events_count", "INTEGER"},
        {"last_delivery_index", "INTEGER"},
        {"daily_real_time_dcu_events_count", "INTEGER"}},
       {}},
      {"raw_events_metadata",
       {{"metadata_fingerprint", "INTEGER NOT NULL PRIMARY KEY"}, {"metadata", "BLOB NOT NULL"}},
       {},
       {}},
      {"raw_events",
       {{"name", "TEXT NOT NULL"},
        {"timestamp", "INTEGER NOT NULL"},
        {"metadata_fingerprint", "INTEGER NOT NULL"},
        {"data", "BLOB NOT NULL"}},
       {{"is_realtime", "INTEGER"}},
       {{"timestamp", "REAL NOT NULL"}}},
      {"events",
       {{"name", "TEXT NOT NULL PRIMARY KEY"},
        {"lifetime_count", "INTEGER NOT NULL"},
        {"current_bundle_count", "INTEGER NOT NULL"},
        {"last_fire_timestamp", "REAL NOT NULL"}},
       {{"last_bundled_timestamp", "REAL"},
        {"last_sampled_complex_event_id", "INTEGER"},
        {"last_sampling_rate", "INTEGER"},
        {"last_exempt_from_sampling", "INTEGER"},
        {"last_bundled_day", "INTEGER"},
        {"current_session_count", "INTEGER"}},
       {}},
      {"user_attributes",
       {{"name", "TEXT NOT NULL PRIMARY KEY"}, {"set_timestamp", "REAL NOT NULL"}, {"value", "BLOB NOT NULL"}},
       {{"origin", "TEXT"}},
       {}},
      {"queue",
       {{"data", "BLOB NOT NULL"}, {"bundle_end_timestamp", "REAL NOT NULL"}},
       {{"is_realtime", "INTEGER"}, {"retry_count", "INTEGER"}},
       {}},
      {"event_filters",
       {{"audience_id", "INTEGER NOT NULL"},
        {"filter_id", "INTEGER NOT NULL"},
        {"event_name", "TEXT NOT NULL"},
        {"data", "BLOB NOT NULL"},
        {"PRIMARY KEY", kFilterKey}},
       {{"session_scoped", "INTEGER"}},
       {}},
      {"property_filters",
       {{"audience_id", "INTEGER NOT NULL"},
        {"filter_id", "INTEGER NOT NULL"},
        {"property_name", "TEXT NOT NULL"},
        {"data", "BLOB NOT NULL"},
        {"PRIMARY KEY", kFilterKey}},
       {{"session_scoped", "INTEGER"}},
       {}},
      {"audience_filter_values",
       {{"audience_id", "INTEGER NOT NULL PRIMARY KEY"}, {"current_results", "BLOB"}, {"previous_results", "BLOB"}},
       {},
       {}},
      {"purchase_transactions", {{"fingerprint", "TEXT NOT NULL PRIMARY KEY"}}, {}, {}},
      {"subscriptions", {{"subscription_id", "TEXT NOT NULL PRIMARY KEY"}}, {}, {}},
      {"conditional_properties",
       {{"name", "TEXT NOT NULL PRIMARY KEY"},
        {"origin", "TEXT NOT NULL"},
        {"value", "BLOB NOT NULL"},
        {"creation_timestamp", "REAL NOT NULL"},
        {"active", "INTEGER NOT NULL"},
        {"trigger_timeout", "REAL NOT NULL"},
        {"triggered_timestamp", "REAL NOT NULL"},
        {"time_to_live", "REAL NOT NULL"},
        {"trigger_event_name", "TEXT"},
        {"timed_out_event", "BLOB"},
        {"triggered_event", "BLOB"},
        {"expired_event", "BLOB"}},
       {},
       {}},
      {"main_event_params",
       {{"event_id", "INTEGER NOT NULL PRIMARY KEY"},
        {"children_to_process", "INTEGER NOT NULL"},
        {"main_event", "BLOB NOT NULL"}},
       {},
       {}},
      {"odm_values",
       {{"name", "TEXT NOT NULL PRIMARY KEY"}, {"set_timestamp", "REAL NOT NULL"}, {"value", "TEXT NOT NULL"}},
       {},
       {}},
  };
  return tables;
}

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

}  // namespace

// --- opening ----------------------------------------------------------------------------------

APMDatabase::APMDatabase(std::shared_ptr<APMPersistedConfig> persistedConfig)
    : m_persistedConfig(std::move(persistedConfig)) {}

std::shared_ptr<APMDatabase> APMDatabase::initWithDatabaseName(const std::string& name,
                                                               std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                               platform::Error* error) {
  if (name.empty()) {
    APMSetError(error, 1, "Received empty database name in init");
    return nullptr;
  }
  std::shared_ptr<APMDatabase> database(new APMDatabase(std::move(persistedConfig)));
  if (!database->initializeDatabaseResourcesWithContext("Init", APMApplicationSupportPath(name), error)) {
    return nullptr;
  }
  return database;
}

bool APMDatabase::initializeDatabaseResourcesWithContext(const std::string& context, const std::string& databasePath,
                                                         platform::Error* error) {
  m_sqliteStore = APMSqliteStore::initWithDatabasePath(databasePath, error);
  if (!m_sqliteStore) return false;
  platform::Error ensureError;
  if (!ensureAllTables(&ensureError)) {
    monitor()->logWithLevel(1, 12002, "Failed to create or validate required database tables (" + context + ")");
    // Only a schema that cannot be brought in step, or a file found damaged,
    // is thrown away; a full disk or a busy file keeps its data.
    const bool unusable = ensureError.code == 2 || m_sqliteStore->corruptionDetected();
    m_sqliteStore.reset();
    if (!unusable) {
      if (error != nullptr) *error = ensureError;
      return false;
    }
    platform::Error deleteError;
    if (!deleteFile(databasePath, &deleteError) && !deleteError.domain.empty()) {
      monitor()->logWithLevel(4, 12003,
                              "Failed to delete old database file after failed validation. Error (" + context + ")",
                              deleteError);
    }
    return false;
  }
  if (!initializeAppMetadata()) {
    monitor()->logWithLevel(1, 12004, "Failed to initialize App Metadata table (" + context + ")");
    m_sqliteStore.reset();
    return false;
  }
  return true;
}

bool APMDatabase::ensureAllTables(platform::Error* error) {
  for (const TableSchema& table : schema()) {
    if (!m_sqliteStore->ensureTableWithName(table.name, table.elementary, table.addOn, table.modify, error)) {
      monitor()->logWithLevel(1, 12047, "Failed to ensure table. Table, error", std::string(table.name),
                              error != nullptr ? APMLogContext(*error) : APMLogContext());
      return false;
    }
  }
  return true;
}

bool APMDatabase::deleteFile(const std::string& path, platform::Error* error) {
  if (path.empty()) {
    APMSetError(error, 1, "Received empty path for deleting file");
    return false;
  }
  if (std::optional<platform::Error> failure = platform::fs::removeItem(path)) {
    if (error != nullptr) *error = *failure;
    return false;
  }
  return true;
}

bool APMDatabase::reset(platform::Error* error) {
  const std::string path = m_sqliteStore ? m_sqliteStore->databasePath() : std::string();
  if (!m_sqliteStore || !m_sqliteStore->closeAndDeleteDatabase()) {
    APMSetError(error, 2, "Failed to delete database data");
    return false;
  }
  // The old store lets go of its lock before the new one takes it.
  m_sqliteStore.reset();
  return initializeDatabaseResourcesWithContext("Reset", path, error);
}

bool APMDatabase::performTransaction(const std::function<bool()>& block) {
  platform::Error error;
  if (m_sqliteStore && m_sqliteStore->performTransactionWithError(&error, block)) return true;
  monitor()->logWithLevel(1, 12056, "Transaction failed. " + error.localizedDescription());
  return false;
}

bool APMDatabase::initializeAppMetadata() {
  return performTransaction([this] {
    platform::Error error;
    std::shared_ptr<APMAppMetadata> existing = queryAppMetadata(&error);
    if (!existing && !error.domain.empty()) {
      monitor()->logWithLevel(1, 12005, "Failed to query app metadata");
      return false;
    }
    if (existing) return true;
    Record row{{"rowid", "1"},
               {"last_bundle_index", 0},
               {"last_delivery_index", 0},
               {"last_bundle_start_timestamp", 0.0},
               {"last_bundle_end_timestamp", 0.0}};
    if (!upsertDataType(row, "app_metadata", "rowid", platform::Value("1"), 1, &error)) {
      monitor()->logWithLevel(1, 12006, "Unable to update the app metadata. Error", error);
      return false;
    }
    return true;
  });
}

int64_t APMDatabase::currentDay() {
  const double offset = m_persistedConfig ? m_persistedConfig->midnightOffset() : 0;
  return static_cast<int64_t>(std::floor((platform::Clock::current()->now() - offset) / 86400.0));
}

// --- generic rows ------------------------------------------------------------------------------

bool APMDatabase::insertDataType(const std::optional<Record>& record, const std::string& table,
                                 platform::Error* error) {
  if (table.empty()) {
    APMSetError(error, 1, "Received empty table name for inserting");
    return false;
  }
  if (!record) {
    APMSetError(error, 2, "Failed to insert empty record");
    return false;
  }
  return m_sqliteStore->upsertRecord(*record, table, error);
}

bool APMDatabase::upsertDataType(const std::optional<Record>& record, const std::string& table,
                                 const std::string& columnName, const platform::Value& columnValue,
                                 int64_t tableLimit, platform::Error* error) {
  if (!record) {
    APMSetError(error, 1, "Received empty data type to upsert");
    return false;
  }
  if (table.empty()) {
    APMSetError(error, 1, "Received empty table name for checking upsert");
    return false;
  }
  std::optional<platform::Value> matching = m_sqliteStore->rowCountForTableWithName(table, columnName, columnValue, error);
  if (!matching) return false;
  std::optional<platform::Value> rows = m_sqliteStore->rowCountForTableWithName(table, error);
  if (!rows) return false;
  const bool allowed = tableLimit == -1 || matching->longLongValue() > 0 ||
                       (tableLimit >= 1 && rows->longLongValue() < tableLimit);
  if (!allowed) {
    APMSetError(error, 2, "Failed to insert data type. Table is full");
    return false;
  }
  return m_sqliteStore->upsertRecord(*record, table, error);
}

bool APMDatabase::updateDataType(const std::optional<Record>& record, const std::string& table,
                                 const std::string& columnName, const platform::Value& columnValue,
                                 platform::Error* error) {
  if (!record) {
    APMSetError(error, 1, "Received empty data type to update");
    return false;
  }
  if (table.empty()) {
    APMSetError(error, 1, "Received empty table name for updating");
    return false;
  }
  std::optional<platform::Value> matching = m_sqliteStore->rowCountForTableWithName(table, columnName, columnValue, error);
  if (!matching) return false;
  if (matching->longLongValue() == 0) {
    APMSetError(error, 2, "Failed to update record. Item doesn't exist");
    return false;
  }
  return m_sqliteStore->updateRecord(*record, table, columnName, columnValue, error);
}

platform::Value APMDatabase::storableValue(const APMValue& value) {
  if (std::optional<std::string> text = value.stringValue()) return platform::Value(*text);
  if (value.isDouble()) return platform::Value(value.doubleValue());
  return platform::Value(static_cast<long long>(value.value().longLongValue()));
}

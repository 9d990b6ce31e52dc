#include "sdk/remote-config/RCNConfigDBManager.h"

#include <filesystem>
#include <mutex>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Json.h"
#include "platform/storage/StandardFolders.h"
#include "sdk/core/RIRLogger.h"

namespace {

using platform::Value;

constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;  // 0x10006

constexpr const char* kRemoteConfigFolder = "Zoruvu/RemoteConfig";
constexpr const char* kDatabaseName = "RemoteConfig.sqlite3";

const char* const kSchema[] = {
    "create TABLE IF NOT EXISTS main (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, key TEXT, "
    "value BLOB)",
    "create TABLE IF NOT EXISTS main_active (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, key "
    "TEXT, value BLOB)",
    "create TABLE IF NOT EXISTS main_default (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, key "
    "TEXT, value BLOB)",
    "create TABLE IF NOT EXISTS fetch_metadata_v2 (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, "
    "fetch_time INTEGER, digest_per_ns BLOB, device_context BLOB, app_context BLOB, success_fetch_time BLOB, "
    "failure_fetch_time BLOB, last_fetch_status INTEGER, last_fetch_error INTEGER, last_apply_time INTEGER, "
    "last_set_defaults_time INTEGER)",
    "create TABLE IF NOT EXISTS experiment (_id INTEGER PRIMARY KEY, key TEXT, value BLOB)",
    "create TABLE IF NOT EXISTS personalization (_id INTEGER PRIMARY KEY, key INTEGER, value BLOB)",
    "create TABLE IF NOT EXISTS rollout (_id INTEGER PRIMARY KEY, key TEXT, value BLOB)",
};

// The metadata columns in insert order, with how each item is bound.
enum class ColumnKind { Text, Real, Integer, Blob };
const std::pair<const char*, ColumnKind> kMetadataColumns[] = {
    {RCNKeyBundleIdentifier, ColumnKind::Text},   {RCNKeyNamespace, ColumnKind::Text},
    {RCNKeyFetchTime, ColumnKind::Real},          {RCNKeyDigestPerNamespace, ColumnKind::Blob},
    {RCNKeyDeviceContext, ColumnKind::Blob},      {RCNKeyAppContext, ColumnKind::Blob},
    {RCNKeySuccessFetchTime, ColumnKind::Blob},   {RCNKeyFailureFetchTime, ColumnKind::Blob},
    {RCNKeyLastFetchStatus, ColumnKind::Integer}, {RCNKeyLastFetchError, ColumnKind::Integer},
    {RCNKeyLastApplyTime, ColumnKind::Real},      {RCNKeyLastSetDefaultsTime, ColumnKind::Real},
};

const char* kInsertMetadata =
    "INSERT INTO fetch_metadata_v2 (bundle_identifier, namespace, fetch_time, digest_per_ns, device_context, "
    "app_context, success_fetch_time, failure_fetch_time, last_fetch_status, last_fetch_error, last_apply_time, "
    "last_set_defaults_time) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

const char* mainTable(RCNDBSource source) {
  switch (source) {
    case RCNDBSourceActive: return "main_active";
    case RCNDBSourceDefault: return "main_default";
    default: return "main";
  }
}

void logError(const char* code, const std::string& message) { RIRLogEmitError(kRCNLogService, code, message); }
void logInfo(const char* code, const std::string& message) { RIRLogEmitInfo(kRCNLogService, code, message); }

platform::Bytes columnBytes(sqlite3_stmt* statement, int column) {
  const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, column));
  const int size = sqlite3_column_bytes(statement, column);
  return bytes != nullptr && size > 0 ? platform::Bytes(bytes, bytes + size) : platform::Bytes();
}

std::string columnText(sqlite3_stmt* statement, int column) {
  const auto* text = sqlite3_column_text(statement, column);
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

std::optional<Value> parseJSON(const platform::Bytes& bytes) {
  platform::Result<Value> parsed = platform::Json::parse(bytes);
  if (!parsed.ok()) return std::nullopt;
  return parsed.value();
}

std::mutex& sharedMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::shared_ptr<RCNConfigDBManager>& sharedSlot() {
  static auto* const manager = new std::shared_ptr<RCNConfigDBManager>();
  return *manager;
}

// Calls a handler on the main queue (or a global queue), when there is one.
void reportOnMain(const RCNDBCompletion& handler, bool success, std::optional<platform::Dictionary> result = {}) {
  if (!handler) return;
  platform::mainQueue().async([handler, success, result] { handler(success, result); });
}

}  // namespace

// --- creation ---------------------------------------------------------------------

std::string RCNConfigDBManager::remoteConfigPathForDatabase() {
  return platform::StandardFolders::applicationSupport() + "/" + kRemoteConfigFolder + "/" + kDatabaseName;
}

std::string RCNConfigDBManager::firstGenerationDatabasePath() {
  return platform::StandardFolders::documents() + "/" + kDatabaseName;
}

RCNConfigDBManager::RCNConfigDBManager(PrivateTag, std::string path)
    : m_path(std::move(path)), m_queue(kQueueLabel), m_newDatabaseQueue(kNewDatabaseQueueLabel) {
  platform::ExitDrain::registerQueue(m_queue);
}

std::shared_ptr<RCNConfigDBManager> RCNConfigDBManager::create() {
  auto manager = std::make_shared<RCNConfigDBManager>(PrivateTag{}, remoteConfigPathForDatabase());
  manager->onQueue([](RCNConfigDBManager& self) { self.createOrOpenDatabase(); });
  return manager;
}

std::shared_ptr<RCNConfigDBManager> RCNConfigDBManager::sharedInstance() {
  std::lock_guard<std::mutex> lock(sharedMutex());
  if (!sharedSlot()) sharedSlot() = create();
  return sharedSlot();
}

void RCNConfigDBManager::resetSharedInstanceForTesting() {
  std::shared_ptr<RCNConfigDBManager> manager;
  {
    std::lock_guard<std::mutex> lock(sharedMutex());
    manager = std::move(sharedSlot());
  }
  if (manager) manager->waitForDatabaseOperationQueue();
}

RCNConfigDBManager::~RCNConfigDBManager() {
  if (m_database != nullptr) sqlite3_close(m_database);
}

void RCNConfigDBManager::onQueue(std::function<void(RCNConfigDBManager&)> work) {
  std::weak_ptr<RCNConfigDBManager> weak = weak_from_this();
  m_queue.async([weak, work = std::move(work)] {
    if (std::shared_ptr<RCNConfigDBManager> self = weak.lock()) {
      work(*self);
      self->healIfDamaged();
    }
  });
}

void RCNConfigDBManager::addRecreationObserver(std::function<void()> observer) {
  std::lock_guard<std::mutex> lock(m_observersMutex);
  m_recreationObservers.push_back(std::move(observer));
}

bool RCNConfigDBManager::isNewDatabase() const {
  // The open, queued at creation, decides it.
  m_queue.sync([] {});
  return m_newDatabaseQueue.sync([this] { return m_isNewDatabase; });
}

void RCNConfigDBManager::setNewDatabase() {
  m_newDatabaseQueue.sync([this] { m_isNewDatabase = true; });
}

bool RCNConfigDBManager::isOpen() {
  return onQueueSync([this] { return m_database != nullptr; });
}

void RCNConfigDBManager::waitForDatabaseOperationQueue() {
  m_queue.sync([] {});
}

// --- open -----------------------------------------------------------------------------

void RCNConfigDBManager::createOrOpenDatabase() {
  const std::string oldPath = firstGenerationDatabasePath();
  std::error_code ignored;
  if (!oldPath.empty() && std::filesystem::exists(oldPath, ignored)) {
    logInfo("I-RCN000009", "Old database V0 exists, removed it and replace with the new one.");
    removeDatabase(oldPath);
  }
  logInfo("I-RCN000062", "Loading database at path " + m_path);
  const OpenResult result = openDatabaseWithSchema(true);
  if (result == OpenResult::Opened) return;
  if (result == OpenResult::SchemaFailed) {
    logError("I-RCN000010", "Failed to create table.");
    // A file that is no database (any more) is moved aside and made anew by
    // the work's end; anything else keeps the file and its rows.
    if (m_damaged) return;
  }
  // Busy, locked, read-only, full, I/O, in use elsewhere...: the file keeps
  // its rows; work without a connection.
  if (m_database != nullptr) sqlite3_close(m_database);
  m_database = nullptr;
  m_lock.reset();
}

void RCNConfigDBManager::noteResult(int result) {
  const int primary = result & 0xff;
  if (m_database != nullptr && (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)) m_damaged = true;
}

void RCNConfigDBManager::healIfDamaged() {
  if (!m_damaged) return;
  m_damaged = false;
  if (m_database != nullptr) sqlite3_close_v2(m_database);
  m_database = nullptr;
  if (m_recreated) {
    logError("I-RCN000082", "Database " + m_path + " is damaged again: working from memory without it.");
    return;
  }
  m_recreated = true;
  // The journal goes with its file: left behind, it would be played back into the new one.
  const std::string aside = m_path + ".corrupt";
  std::error_code error;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const std::string from = m_path + suffix;
    if (std::filesystem::exists(from, error)) std::filesystem::rename(from, aside + suffix, error);
    if (error) std::filesystem::remove(from, error);
  }
  logError("I-RCN000081", "Database " + m_path + " is damaged: moved aside to " + aside + " and created anew.");
  if (openDatabaseWithSchema(false) != OpenResult::Opened) {
    if (m_database != nullptr) sqlite3_close(m_database);
    m_database = nullptr;
    m_damaged = false;
  }
  std::vector<std::function<void()>> observers;
  {
    std::lock_guard<std::mutex> lock(m_observersMutex);
    observers = m_recreationObservers;
  }
  for (std::function<void()>& observer : observers) platform::globalQueue().async(std::move(observer));
}

RCNConfigDBManager::OpenResult RCNConfigDBManager::openDatabaseWithSchema(bool migrate) {
  if (!createFilePathIfNotExist(m_path)) return OpenResult::Failed;
  if (!m_lock) {
    platform::Error error;
    m_lock = platform::FileLock::tryLock(m_path + ".lock", &error);
    if (!m_lock) {
      logError("I-RCN000080", "Database " + m_path + " is in use by another process: " + error.localizedDescription());
      return OpenResult::Failed;
    }
  }
  platform::fs::ensurePrivateFile(m_path);  // a failure shows in the open below
  if (sqlite3_open_v2(m_path.c_str(), &m_database, kOpenFlags, nullptr) != SQLITE_OK) {
    logDatabaseError();
    return OpenResult::Failed;
  }
  if (!createTableSchema()) return OpenResult::SchemaFailed;
  if (migrate) migrateV1NamespaceToV2Namespace();
  return OpenResult::Opened;
}

bool RCNConfigDBManager::createFilePathIfNotExist(const std::string& path) {
  if (path.empty()) {
    logError("I-RCN000018", "Failed to create subdirectory for an empty file path.");
    return false;
  }
  std::error_code error;
  if (std::filesystem::exists(path, error)) return true;
  setNewDatabase();
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  if (error) {
    logError("I-RCN000019", "Failed to create subdirectory for database file: " + error.message() + ".");
    return false;
  }
  return true;
}

bool RCNConfigDBManager::createTableSchema() {
  for (const char* statement : kSchema) {
    if (!executeQuery(statement)) return false;
  }
  return true;
}

void RCNConfigDBManager::migrateV1NamespaceToV2Namespace() {
  for (const char* table : {"main", "main_active", "main_default"}) {
    const std::string select = std::string("SELECT namespace FROM ") + table + " WHERE namespace NOT LIKE '%:%'";
    sqlite3_stmt* statement = prepareSQL(select.c_str());
    if (statement == nullptr) return;
    std::vector<std::string> namespaces;
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) namespaces.push_back(columnText(statement, 0));
    if (result != SQLITE_DONE) {
      logErrorWithSQL(select.c_str(), statement, false);
      return;
    }
    sqlite3_finalize(statement);
    const std::string update = std::string("UPDATE ") + table + " SET namespace = ? WHERE namespace = ?";
    for (const std::string& oldNamespace : namespaces) {
      const std::string newNamespace = oldNamespace + ":" + "__RIRAPP_DEFAULT";
      sqlite3_stmt* updating = prepareSQL(update.c_str());
      if (updating == nullptr) return;
      if (!bindStringsToStatement(updating, {newNamespace, oldNamespace})) return;
      if (sqlite3_step(updating) != SQLITE_DONE) {
        logErrorWithSQL(update.c_str(), updating, false);
        return;
      }
      sqlite3_finalize(updating);
    }
  }
}

void RCNConfigDBManager::removeDatabase(const std::string& path) {
  if (m_database != nullptr) {
    if (sqlite3_close(m_database) != SQLITE_OK) logDatabaseError();
    m_database = nullptr;
  }
  std::error_code error;
  std::filesystem::remove(path, error);
  if (error) logError("I-RCN000011", "Failed to remove database at path " + path + " for error " + error.message() + ".");
}

// --- statements ---------------------------------------------------------------------------

// Without a connection SQLite's own text would be "out of memory".
std::string RCNConfigDBManager::errorMessage() const {
  return m_database != nullptr ? sqlite3_errmsg(m_database) : "no database connection";
}

int RCNConfigDBManager::errorCode() const { return m_database != nullptr ? sqlite3_errcode(m_database) : SQLITE_MISUSE; }

void RCNConfigDBManager::logDatabaseError() {
  logError("I-RCN000015", "Error message: " + errorMessage() + ". Error code: " + std::to_string(errorCode()) + ".");
  noteResult(errorCode());
}

bool RCNConfigDBManager::logErrorWithSQL(const char* sql, sqlite3_stmt* statement, bool returnValue) {
  if (sql != nullptr) logError("I-RCN000016", std::string("Failed with SQL: ") + sql + ".");
  logDatabaseError();
  if (statement != nullptr) sqlite3_finalize(statement);
  return returnValue;
}

bool RCNConfigDBManager::executeQuery(const char* sql) {
  char* message = nullptr;
  const int result = m_database != nullptr ? sqlite3_exec(m_database, sql, nullptr, nullptr, &message) : SQLITE_MISUSE;
  if (result != SQLITE_OK) {
    logError("I-RCN000012", std::string("Failed to execute query with error ") +
                                (message ? message : m_database ? "" : "no database connection") + ".");
    sqlite3_free(message);
    noteResult(result);
    return false;
  }
  return true;
}

bool RCNConfigDBManager::executeQuery(const char* sql, const std::vector<std::string>& params) {
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return false;
  if (!bindStringsToStatement(statement, params)) return false;
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

sqlite3_stmt* RCNConfigDBManager::prepareSQL(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (m_database == nullptr || sqlite3_prepare_v2(m_database, sql, -1, &statement, nullptr) != SQLITE_OK) {
    logErrorWithSQL(sql, statement, false);
    return nullptr;
  }
  return statement;
}

bool RCNConfigDBManager::bindStringToStatement(sqlite3_stmt* statement, int index, const std::string& text) {
  if (sqlite3_bind_text(statement, index, text.c_str(), -1, SQLITE_TRANSIENT) != SQLITE_OK) {
    return logErrorWithSQL(nullptr, statement, false);
  }
  return true;
}

bool RCNConfigDBManager::bindStringsToStatement(sqlite3_stmt* statement, const std::vector<std::string>& strings) {
  int index = 1;
  for (const std::string& text : strings) {
    if (!bindStringToStatement(statement, index++, text)) return false;
  }
  return true;
}

std::optional<std::vector<platform::Bytes>> RCNConfigDBManager::loadValuesFromStatement(sqlite3_stmt* statement,
                                                                                       const char* sql) {
  std::vector<platform::Bytes> values;
  int result = SQLITE_ROW;
  while ((result = sqlite3_step(statement)) == SQLITE_ROW) values.push_back(columnBytes(statement, 0));
  if (result != SQLITE_DONE) {
    logErrorWithSQL(sql, statement, false);
    return std::nullopt;
  }
  sqlite3_finalize(statement);
  return values;
}

// --- writes ------------------------------------------------------------------------------------

namespace {
// Binds one metadata column from the row dictionary; a missing item binds null.
int bindMetadataColumn(sqlite3_stmt* statement, int index, ColumnKind kind, const Value* item) {
  if (item == nullptr || item->isNull()) return sqlite3_bind_null(statement, index);
  switch (kind) {
    case ColumnKind::Text: {
      const std::string text = item->stringValue();
      return sqlite3_bind_text(statement, index, text.c_str(), -1, SQLITE_TRANSIENT);
    }
    case ColumnKind::Real:
      return sqlite3_bind_double(statement, index, item->doubleValue());
    case ColumnKind::Integer:
      return sqlite3_bind_int(statement, index, item->intValue());
    case ColumnKind::Blob: {
      const platform::Bytes* bytes = item->asData();
      if (bytes == nullptr) return sqlite3_bind_null(statement, index);
      return sqlite3_bind_blob(statement, index, bytes->data(), static_cast<int>(bytes->size()), SQLITE_TRANSIENT);
    }
  }
  return SQLITE_MISUSE;
}
}  // namespace

bool RCNConfigDBManager::insertMetadataRow(const platform::Dictionary& columns) {
  sqlite3_stmt* statement = prepareSQL(kInsertMetadata);
  if (statement == nullptr) return false;
  int index = 1;
  for (const auto& [name, kind] : kMetadataColumns) {
    if (bindMetadataColumn(statement, index++, kind, columns.find(name)) != SQLITE_OK) {
      return logErrorWithSQL(kInsertMetadata, statement, false);
    }
  }
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(kInsertMetadata, statement, false);
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::replaceMetadataRow(const platform::Dictionary& columns) {
  return executeQuery("DELETE FROM fetch_metadata_v2 WHERE bundle_identifier = ? and namespace = ?",
                      {columns.get(RCNKeyBundleIdentifier).stringValue(), columns.get(RCNKeyNamespace).stringValue()}) &&
         insertMetadataRow(columns);
}

bool RCNConfigDBManager::runInTransaction(const std::vector<RCNConfigDBWrites::Step>& steps) {
  if (steps.empty()) return true;
  if (!executeQuery("BEGIN IMMEDIATE")) return false;
  bool done = true;
  for (const RCNConfigDBWrites::Step& step : steps) {
    if (!(done = step(*this))) break;
  }
  if (done && executeQuery("COMMIT")) return true;
  // SQLite may have rolled back on its own already.
  if (m_database != nullptr && sqlite3_get_autocommit(m_database) == 0) executeQuery("ROLLBACK");
  return false;
}

bool RCNConfigDBManager::replaceMainRows(const std::string& bundleIdentifier, const std::string& ririvuduNamespace,
                                         RCNDBSource source, const RCNConfigRows& rows) {
  const std::string remove =
      std::string("DELETE FROM ") + mainTable(source) + " WHERE bundle_identifier = ? and namespace = ?";
  if (!executeQuery(remove.c_str(), {bundleIdentifier, ririvuduNamespace})) return false;
  if (rows.empty()) return true;
  const std::string sql = std::string("INSERT INTO ") + mainTable(source) +
                          " (bundle_identifier, namespace, key, value) values (?, ?, ?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql.c_str());
  if (statement == nullptr) return false;
  if (!bindStringsToStatement(statement, {bundleIdentifier, ririvuduNamespace})) return false;
  for (const auto& [key, value] : rows) {
    if (sqlite3_bind_text(statement, 3, key.c_str(), static_cast<int>(key.size()), SQLITE_STATIC) != SQLITE_OK ||
        sqlite3_bind_blob(statement, 4, value.data(), static_cast<int>(value.size()), SQLITE_STATIC) != SQLITE_OK ||
        sqlite3_step(statement) != SQLITE_DONE) {
      return logErrorWithSQL(sql.c_str(), statement, false);
    }
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::replaceExperimentRows(const std::string& key, const std::vector<platform::Bytes>& values) {
  if (!executeQuery("DELETE FROM experiment WHERE key = ?", {key})) return false;
  for (const platform::Bytes& value : values) {
    if (!insertExperimentRow(key, value)) return false;
  }
  return true;
}

bool RCNConfigDBManager::insertMainRow(const platform::Array& values, RCNDBSource source) {
  if (values.size() != 4) {
    logError("I-RCN000013", "Failed to insert config record. Wrong number of give parameters, current number is " +
                                std::to_string(values.size()) + ", correct number is 4.");
    return false;
  }
  const std::string sql = std::string("INSERT INTO ") + mainTable(source) +
                          " (bundle_identifier, namespace, key, value) values (?, ?, ?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql.c_str());
  if (statement == nullptr) return false;
  if (!bindStringsToStatement(statement, {values[0].stringValue(), values[1].stringValue(), values[2].stringValue()})) {
    return false;
  }
  const platform::Bytes* bytes = values[3].asData();
  const int bound = bytes != nullptr ? sqlite3_bind_blob(statement, 4, bytes->data(), static_cast<int>(bytes->size()),
                                                         SQLITE_TRANSIENT)
                                     : sqlite3_bind_null(statement, 4);
  if (bound != SQLITE_OK) return logErrorWithSQL(sql.c_str(), statement, false);
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql.c_str(), statement, false);
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::insertExperimentRow(const std::string& key, const platform::Bytes& value) {
  if (key == RCNExperimentTableKeyMetadata) return updateExperimentMetadata(value);
  const char* sql = "INSERT INTO experiment (key, value) values (?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return false;
  if (!bindStringsToStatement(statement, {key})) return false;
  if (sqlite3_bind_blob(statement, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    return logErrorWithSQL(sql, statement, false);
  }
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::updateExperimentMetadata(const platform::Bytes& value) {
  const char* sql =
      "INSERT OR REPLACE INTO experiment (_id, key, value) values ((SELECT _id from experiment WHERE key = ?), ?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return false;
  if (!bindStringsToStatement(statement, {RCNExperimentTableKeyMetadata, RCNExperimentTableKeyMetadata})) return false;
  if (sqlite3_bind_blob(statement, 3, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    return logErrorWithSQL(sql, statement, false);
  }
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::insertOrUpdatePersonalizationConfigOnQueue(const platform::Dictionary& config,
                                                                   RCNDBSource source) {
  platform::JsonWriteOptions pretty;
  pretty.pretty = true;
  platform::Result<platform::Bytes> json = platform::Json::serializeData(Value(config), pretty);
  platform::Bytes bytes;
  if (!json.ok()) {
    logError("I-RCN000075", "Invalid Personalization payload to be serialized.");
  } else {
    bytes = json.value();
  }
  const char* sql =
      "INSERT OR REPLACE INTO personalization (_id, key, value) values ((SELECT _id from personalization WHERE key = "
      "?), ?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return false;
  if (sqlite3_bind_int(statement, 1, source) != SQLITE_OK || sqlite3_bind_int(statement, 2, source) != SQLITE_OK ||
      sqlite3_bind_blob(statement, 3, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    return logErrorWithSQL(sql, statement, false);
  }
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::replaceRolloutRow(const std::string& key, const platform::Array& metadata) {
  platform::JsonWriteOptions pretty;
  pretty.pretty = true;
  platform::Bytes bytes = platform::Json::serializeData(Value(metadata), pretty).valueOr({});
  const char* sql =
      "INSERT OR REPLACE INTO rollout (_id, key, value) values ((SELECT _id from rollout WHERE key = ?), ?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return false;
  if (!bindStringsToStatement(statement, {key, key})) return false;
  if (sqlite3_bind_blob(statement, 3, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    return logErrorWithSQL(sql, statement, false);
  }
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::updateMetadataTableWithOption(RCNUpdateOption option, const std::string& ririvuduNamespace,
                                                       const platform::Array& values) {
  const char* sql = nullptr;
  size_t expected = 1;
  switch (option) {
    case RCNUpdateOptionApplyTime:
      sql = "UPDATE fetch_metadata_v2 SET last_apply_time = ? WHERE namespace = ?";
      break;
    case RCNUpdateOptionDefaultTime:
      sql = "UPDATE fetch_metadata_v2 SET last_set_defaults_time = ? WHERE namespace = ?";
      break;
    case RCNUpdateOptionFetchStatus:
      sql = "UPDATE fetch_metadata_v2 SET last_fetch_status = ?, last_fetch_error = ? WHERE namespace = ?";
      expected = 2;
      break;
    default:
      return false;
  }
  // A wrong number of values changes nothing and says so.
  if (values.size() != expected) return false;
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return false;
  int index = 1;
  for (const Value& value : values) {
    const int bound = option == RCNUpdateOptionFetchStatus ? sqlite3_bind_int(statement, index, value.intValue())
                                                           : sqlite3_bind_double(statement, index, value.doubleValue());
    if (bound != SQLITE_OK) return logErrorWithSQL(sql, statement, false);
    ++index;
  }
  if (!bindStringToStatement(statement, index, ririvuduNamespace)) return false;
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

// --- loads ----------------------------------------------------------------------------------------

std::optional<RCNNamespaceConfigs> RCNConfigDBManager::loadMainTableWithBundleIdentifier(
    const std::string& bundleIdentifier, RCNDBSource source) {
  const std::string sql =
      std::string("SELECT bundle_identifier, namespace, key, value FROM ") + mainTable(source) +
      " WHERE bundle_identifier = ?";
  sqlite3_stmt* statement = prepareSQL(sql.c_str());
  if (statement == nullptr) return std::nullopt;
  if (!bindStringsToStatement(statement, {bundleIdentifier})) return std::nullopt;
  const ZUVUduvedOrovarSource valueSource =
      source == RCNDBSourceDefault ? ZUVUduvedOrovarSourceDefault : ZUVUduvedOrovarSourceRemote;
  RCNNamespaceConfigs configs;
  int result = SQLITE_ROW;
  while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
    configs[columnText(statement, 1)][columnText(statement, 2)] =
        ZUVUduvedOrovarValue::initWithData(columnBytes(statement, 3), valueSource);
  }
  if (result != SQLITE_DONE) {
    logErrorWithSQL(sql.c_str(), statement, false);
    return std::nullopt;
  }
  sqlite3_finalize(statement);
  return configs;
}

std::optional<platform::Dictionary> RCNConfigDBManager::loadMetadataTableWithBundleIdentifier(
    const std::string& bundleIdentifier, const std::string& ririvuduNamespace) {
  const char* sql =
      "SELECT bundle_identifier, fetch_time, digest_per_ns, device_context, app_context, success_fetch_time, "
      "failure_fetch_time , last_fetch_status, last_fetch_error, last_apply_time, last_set_defaults_time FROM "
      "fetch_metadata_v2 WHERE bundle_identifier = ? and namespace = ?";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return std::nullopt;
  if (!bindStringsToStatement(statement, {bundleIdentifier, ririvuduNamespace})) return std::nullopt;
  platform::Dictionary row;
  const int result = sqlite3_step(statement);
  if (result != SQLITE_ROW && result != SQLITE_DONE) {
    logErrorWithSQL(sql, statement, false);
    return std::nullopt;
  }
  if (result == SQLITE_ROW) {
    const std::string stored = columnText(statement, 0);
    if (stored != bundleIdentifier) {
      logError("I-RCN000014",
               "Load Metadata from table error: Wrong package name " + stored + ", should be " + bundleIdentifier + ".");
      sqlite3_finalize(statement);
      return std::nullopt;
    }
    row.set(RCNKeyBundleIdentifier, Value(stored));
    row.set(RCNKeyFetchTime, Value(sqlite3_column_double(statement, 1)));
    const char* blobs[] = {RCNKeyDigestPerNamespace, RCNKeyDeviceContext, RCNKeyAppContext, RCNKeySuccessFetchTime,
                           RCNKeyFailureFetchTime};
    for (int index = 0; index < 5; ++index) {
      if (std::optional<Value> json = parseJSON(columnBytes(statement, 2 + index))) row.set(blobs[index], *json);
    }
    row.set(RCNKeyLastFetchStatus, Value(sqlite3_column_int(statement, 7)));
    row.set(RCNKeyLastFetchError, Value(sqlite3_column_int(statement, 8)));
    row.set(RCNKeyLastApplyTime, Value(sqlite3_column_double(statement, 9)));
    row.set(RCNKeyLastSetDefaultsTime, Value(sqlite3_column_double(statement, 10)));
  }
  sqlite3_finalize(statement);
  return row;
}

std::vector<platform::Bytes> RCNConfigDBManager::loadExperimentTableFromKey(const std::string& key) {
  const char* sql = "SELECT value FROM experiment WHERE key = ?";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return {};
  if (!bindStringsToStatement(statement, {key})) return {};
  return loadValuesFromStatement(statement, sql).value_or(std::vector<platform::Bytes>());
}

std::optional<platform::Bytes> RCNConfigDBManager::loadPersonalizationTableFromKey(RCNDBSource source) {
  const char* sql = "SELECT value FROM personalization WHERE key = ?";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return std::nullopt;
  if (sqlite3_bind_int(statement, 1, source) != SQLITE_OK) {
    logErrorWithSQL(sql, statement, false);
    return std::nullopt;
  }
  std::optional<std::vector<platform::Bytes>> values = loadValuesFromStatement(statement, sql);
  if (!values || values->size() != 1) return std::nullopt;
  return values->front();
}

std::optional<platform::Array> RCNConfigDBManager::loadRolloutTableFromKey(const std::string& key) {
  const char* sql = "SELECT value FROM rollout WHERE key = ?";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (statement == nullptr) return std::nullopt;
  if (!bindStringsToStatement(statement, {key})) return std::nullopt;
  std::optional<std::vector<platform::Bytes>> values = loadValuesFromStatement(statement, sql);
  if (!values || values->size() != 1) return std::nullopt;
  if (values->front().empty()) return platform::Array();
  platform::Result<Value> parsed = platform::Json::parse(values->front());
  if (!parsed.ok() || !parsed.value().isArray()) {
    logError("I-RCN000011", "Failed to convert NSData to NSAarry for Rollout Metadata with error " +
                                (parsed.ok() ? std::string("not an array") : parsed.error().description()) + ".");
    return platform::Array();
  }
  return *parsed.value().asArray();
}

// --- public operations ------------------------------------------------------------------------

void RCNConfigDBManager::insertMetadataTableWithValues(const platform::Dictionary& columns, RCNDBCompletion handler) {
  onQueue([columns, handler](RCNConfigDBManager& self) {
    reportOnMain(handler, self.insertMetadataRow(columns));
  });
}

void RCNConfigDBManager::replaceMetadataTableWithValues(const platform::Dictionary& columns, RCNDBCompletion handler) {
  RCNConfigDBWrites::Step step = [columns](RCNConfigDBManager& me) { return me.replaceMetadataRow(columns); };
  onQueue([step, handler](RCNConfigDBManager& self) {
    const bool replaced = self.runInTransaction({step});
    reportOnMain(handler, replaced);
  });
}

void RCNConfigDBManager::commitWrites(RCNConfigDBWrites writes) {
  commitWrites(std::move(writes), platform::globalQueue(), nullptr);
}

void RCNConfigDBManager::commitWrites(RCNConfigDBWrites writes, platform::DispatchQueue queue,
                                      std::function<void(bool committed)> handler) {
  std::weak_ptr<RCNConfigDBManager> weak = weak_from_this();
  m_queue.async([weak, steps = std::move(writes.m_steps), queue, handler] {
    std::shared_ptr<RCNConfigDBManager> self = weak.lock();
    const bool committed = self && self->runInTransaction(steps);
    if (self) self->healIfDamaged();
    if (handler) queue.async([handler, committed] { handler(committed); });
  });
}

void RCNConfigDBManager::insertMainTableWithValues(const platform::Array& values, RCNDBSource source,
                                                   RCNDBCompletion handler) {
  onQueue([values, source, handler](RCNConfigDBManager& self) {
    reportOnMain(handler, self.insertMainRow(values, source));
  });
}

void RCNConfigDBManager::insertExperimentTableWithKey(const std::string& key, const platform::Bytes& value,
                                                      RCNDBCompletion handler) {
  onQueue([key, value, handler](RCNConfigDBManager& self) {
    reportOnMain(handler, self.insertExperimentRow(key, value));
  });
}

void RCNConfigDBManager::insertOrUpdateRolloutTableWithKey(const std::string& key, const platform::Array& metadata,
                                                           RCNDBCompletion handler) {
  platform::Array copy = metadata.copy();
  onQueue([key, copy, handler](RCNConfigDBManager& self) {
    const bool success = self.replaceRolloutRow(key, copy);
    if (handler) platform::globalQueue().async([handler, success] { handler(success, std::nullopt); });
  });
}

void RCNConfigDBManager::updateMetadataWithOption(RCNUpdateOption option, const std::string& ririvuduNamespace,
                                                  const platform::Array& values, RCNDBCompletion handler) {
  onQueue([option, ririvuduNamespace, values, handler](RCNConfigDBManager& self) {
    reportOnMain(handler, self.updateMetadataTableWithOption(option, ririvuduNamespace, values));
  });
}

void RCNConfigDBManager::deleteRecordFromMainTableWithNamespace(const std::string& ririvuduNamespace,
                                                                const std::string& bundleIdentifier,
                                                                RCNDBSource source) {
  onQueue([ririvuduNamespace, bundleIdentifier, source](RCNConfigDBManager& self) {
    const std::string sql =
        std::string("DELETE FROM ") + mainTable(source) + " WHERE bundle_identifier = ? and namespace = ?";
    self.executeQuery(sql.c_str(), {bundleIdentifier, ririvuduNamespace});
  });
}

void RCNConfigDBManager::deleteRecordWithBundleIdentifier(const std::string& bundleIdentifier,
                                                          const std::string& ririvuduNamespace) {
  onQueue([bundleIdentifier, ririvuduNamespace](RCNConfigDBManager& self) {
    self.executeQuery("DELETE FROM fetch_metadata_v2 WHERE bundle_identifier = ? and namespace = ?",
                      {bundleIdentifier, ririvuduNamespace});
  });
}

void RCNConfigDBManager::deleteAllRecordsFromTableWithSource(RCNDBSource source) {
  onQueue([source](RCNConfigDBManager& self) {
    const std::string sql = std::string("DELETE FROM ") + mainTable(source);
    self.executeQuery(sql.c_str());
  });
}

void RCNConfigDBManager::deleteExperimentTableForKey(const std::string& key) {
  onQueue([key](RCNConfigDBManager& self) { self.executeQuery("DELETE FROM experiment WHERE key = ?", {key}); });
}

void RCNConfigDBManager::loadMainWithBundleIdentifier(const std::string& bundleIdentifier,
                                                      RCNDBLoadCompletion handler) {
  std::weak_ptr<RCNConfigDBManager> weak = weak_from_this();
  m_queue.async([weak, bundleIdentifier, handler] {
    std::shared_ptr<RCNConfigDBManager> self = weak.lock();
    if (!self) {
      if (handler) platform::globalQueue().async([handler] { handler(false, {}, {}, {}, {}); });
      return;
    }
    RCNNamespaceConfigs fetched = self->loadMainTableWithBundleIdentifier(bundleIdentifier, RCNDBSourceFetched).value_or(RCNNamespaceConfigs{});
    RCNNamespaceConfigs active = self->loadMainTableWithBundleIdentifier(bundleIdentifier, RCNDBSourceActive).value_or(RCNNamespaceConfigs{});
    RCNNamespaceConfigs defaults = self->loadMainTableWithBundleIdentifier(bundleIdentifier, RCNDBSourceDefault).value_or(RCNNamespaceConfigs{});
    platform::Dictionary rollouts;
    rollouts.set(RCNRolloutTableKeyActiveMetadata,
                 Value(self->loadRolloutTableFromKey(RCNRolloutTableKeyActiveMetadata).value_or(platform::Array())));
    rollouts.set(RCNRolloutTableKeyFetchedMetadata,
                 Value(self->loadRolloutTableFromKey(RCNRolloutTableKeyFetchedMetadata).value_or(platform::Array())));
    self->healIfDamaged();
    if (handler) {
      platform::globalQueue().async([handler, fetched, active, defaults, rollouts] {
        handler(true, fetched, active, defaults, rollouts);
      });
    }
  });
}

void RCNConfigDBManager::loadPersonalizationWithCompletionHandler(RCNDBPersonalizationCompletion handler) {
  std::weak_ptr<RCNConfigDBManager> weak = weak_from_this();
  m_queue.async([weak, handler] {
    std::shared_ptr<RCNConfigDBManager> self = weak.lock();
    if (!self) {
      if (handler) platform::globalQueue().async([handler] { handler(false, {}, {}); });
      return;
    }
    auto load = [&](RCNDBSource source) {
      std::optional<platform::Bytes> bytes = self->loadPersonalizationTableFromKey(source);
      std::optional<Value> json = bytes ? parseJSON(*bytes) : std::nullopt;
      return json && json->isDictionary() ? *json->asDictionary() : platform::Dictionary();
    };
    platform::Dictionary active = load(RCNDBSourceActive);
    platform::Dictionary fetched = load(RCNDBSourceFetched);
    self->healIfDamaged();
    if (handler) platform::globalQueue().async([handler, fetched, active] { handler(true, fetched, active); });
  });
}

void RCNConfigDBManager::loadExperimentWithCompletionHandler(RCNDBCompletion handler) {
  onQueue([handler](RCNConfigDBManager& self) {
    auto list = [](const std::vector<platform::Bytes>& rows) {
      platform::Array array;
      for (const platform::Bytes& row : rows) array.append(Value::data(row));
      return array;
    };
    platform::Dictionary result;
    result.set(RCNExperimentTableKeyPayload, Value(list(self.loadExperimentTableFromKey(RCNExperimentTableKeyPayload))));
    std::vector<platform::Bytes> metadataRows = self.loadExperimentTableFromKey(RCNExperimentTableKeyMetadata);
    std::optional<Value> metadata = metadataRows.empty() ? std::nullopt : parseJSON(metadataRows.front());
    result.set(RCNExperimentTableKeyMetadata,
               Value(metadata && metadata->isDictionary() ? *metadata->asDictionary() : platform::Dictionary()));
    result.set(RCNExperimentTableKeyActivePayload,
               Value(list(self.loadExperimentTableFromKey(RCNExperimentTableKeyActivePayload))));
    reportOnMain(handler, true, result);
  });
}

platform::Dictionary RCNConfigDBManager::loadMetadataWithBundleIdentifier(const std::string& bundleIdentifier,
                                                                         const std::string& ririvuduNamespace) {
  return onQueueSync([&] {
    return loadMetadataTableWithBundleIdentifier(bundleIdentifier, ririvuduNamespace).value_or(platform::Dictionary());
  });
}

bool RCNConfigDBManager::insertOrUpdatePersonalizationConfig(const platform::Dictionary& config, RCNDBSource source) {
  return onQueueSync([&] { return insertOrUpdatePersonalizationConfigOnQueue(config, source); });
}

void RCNConfigDBManager::removeDatabaseOnDatabaseQueueAtPath(const std::string& path) {
  m_queue.sync([&] { removeDatabase(path); });
}

#include "measurement/base/APMSqliteStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMError.h"
#include "measurement/base/APMFileLocations.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/text/Unicode.h"

namespace {

constexpr const char* kPrimaryKey = "PRIMARY KEY";

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

bool containsCaseInsensitive(const std::string& text, const std::string& word) {
  return platform::Unicode::uppercase(text).find(word) != std::string::npos;
}

// The first word of a declaration ("REAL NOT NULL" -> "REAL").
std::string firstWord(const std::string& declaration) {
  const size_t space = declaration.find(' ');
  return space == std::string::npos ? declaration : declaration.substr(0, space);
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (size_t index = 0; index < parts.size(); ++index) {
    if (index > 0) text += separator;
    text += parts[index];
  }
  return text;
}

}  // namespace

// --- life cycle ---------------------------------------------------------------------------

std::unique_ptr<APMSqliteStore> APMSqliteStore::initWithDatabasePath(const std::string& path, platform::Error* error) {
  if (path.empty()) {
    APMFailWithError(error, 1, "Received empty database path on init");
    return nullptr;
  }
  std::unique_ptr<APMSqliteStore> store(new APMSqliteStore(path));
  // The folder holds the lock file beside the database, and is the user's
  // alone (the database holds identifiers).
  const std::string folderPath = platform::fs::parentPath(path);
  std::optional<platform::Error> folder = platform::fs::createDirectory(folderPath, true, 0700);
  if (!folder) folder = platform::fs::restrictToOwner(folderPath);
  if (folder) {
    if (error != nullptr) *error = *folder;
    return nullptr;
  }
  platform::Error lockError;
  store->m_lock = platform::FileLock::tryLock(path + ".lock", &lockError);
  if (!store->m_lock) {
    const int posix = platform::FileError::posixCode(lockError);
    if (posix == EWOULDBLOCK || posix == EAGAIN) {
      APMFailWithError(error, 2, "Measurement database is in use by another process");
    } else if (error != nullptr) {
      *error = lockError;
    }
    return nullptr;
  }
  if (!store->openAndValidateDatabase(error)) {
    // Only a file shown to be damaged is deleted and made anew.
    if (!store->corruptionDetected() || !store->closeAndDeleteDatabase() || !store->openAndValidateDatabase(error)) {
      return nullptr;
    }
  }
  return store;
}

APMSqliteStore::APMSqliteStore(std::string path)
    : m_queueLabel(platform::currentQueueLabel()), m_databasePath(std::move(path)) {}

// The last owner may drop the store on any queue: nobody else can use it then.
APMSqliteStore::~APMSqliteStore() { closeHandle(); }

void APMSqliteStore::abortUnlessOnQueue(const char* operation) const {
  const std::string current = platform::currentQueueLabel();
  if (current == m_queueLabel) return;
  std::fprintf(stderr, "APMSqliteStore: %s called on queue \"%s\", but the store at %s belongs to queue \"%s\"\n",
               operation, current.c_str(), m_databasePath.c_str(), m_queueLabel.c_str());
  std::fflush(stderr);
  std::abort();
}

std::optional<platform::Error> APMSqliteStore::makeWritable() {
  platform::Result<platform::fs::FileAttributes> attributes = platform::fs::attributes(m_databasePath);
  if (!attributes) return attributes.error();
  if ((attributes.value().permissions & S_IWUSR) != 0) return std::nullopt;
  return platform::fs::setPermissions(m_databasePath, attributes.value().permissions | S_IWUSR);
}

void APMSqliteStore::noteResult(int result) {
  const int primary = result & 0xFF;
  if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) m_corruptionDetected = true;
}

bool APMSqliteStore::openAndValidateDatabase(platform::Error* error) {
  checkQueue("openAndValidateDatabase");
  m_corruptionDetected = false;
  if (platform::fs::exists(m_databasePath)) {
    if (std::optional<platform::Error> failure = makeWritable()) {
      if (error != nullptr) *error = *failure;
      return false;
    }
  } else if (std::optional<platform::Error> folder =
                 platform::fs::createDirectory(platform::fs::parentPath(m_databasePath), true, 0700)) {
    if (error != nullptr) *error = *folder;
    return false;
  }
  // It holds identifiers: private from its creation on (its journal follows).
  if (std::optional<platform::Error> failure = platform::fs::ensurePrivateFile(m_databasePath)) {
    if (error != nullptr) *error = *failure;
    return false;
  }
  const int opened = sqlite3_open_v2(m_databasePath.c_str(), &m_sqliteHandle, kOpenFlags, nullptr);
  if (opened != SQLITE_OK) {
    noteResult(opened);
    setDatabaseError(error, "initialize sqlite handle");
    closeDatabase();
    return false;
  }
  platform::Error excludeError;
  if (!APMExcludeFromBackup(m_databasePath, &excludeError)) {
    monitor()->logWithLevel(4, 34017, "Failed to exclude database file from backup", excludeError);
  }
  if (!validateDatabaseWithError(error)) {
    closeDatabase();
    return false;
  }
  return true;
}

bool APMSqliteStore::validateDatabaseWithError(platform::Error* error) {
  checkQueue("validateDatabaseWithError");
  sqlite3_stmt* statement = prepareSQL("PRAGMA integrity_check", error);
  if (statement == nullptr) return false;
  bool valid = false;
  const int first = sqlite3_step(statement);
  noteResult(first);
  if (first == SQLITE_ROW && sqlite3_column_count(statement) == 1) {
    const unsigned char* text = sqlite3_column_text(statement, 0);
    if (text != nullptr && std::string(reinterpret_cast<const char*>(text)) == "ok") {
      const int second = sqlite3_step(statement);
      noteResult(second);
      valid = second == SQLITE_DONE;
    }
  }
  if (!valid) {
    // A clean step that does not say "ok" is the check's own verdict.
    if (first == SQLITE_ROW) m_corruptionDetected = true;
    setDatabaseError(error, "validate database");
  }
  sqlite3_finalize(statement);
  return valid;
}

void APMSqliteStore::finalizeAndClearStatements() {
  checkQueue("finalizeAndClearStatements");
  finalizeStatements();
}

void APMSqliteStore::finalizeStatements() {
  for (auto& [query, statement] : m_statementCache) sqlite3_finalize(statement);
  m_statementCache.clear();
  m_upsertStatement = nullptr;
}

void APMSqliteStore::closeDatabase() {
  checkQueue("closeDatabase");
  closeHandle();
}

void APMSqliteStore::closeHandle() {
  if (m_sqliteHandle == nullptr) return;
  finalizeStatements();
  const int result = sqlite3_close(m_sqliteHandle);
  if (result != SQLITE_OK) {
    monitor()->logWithLevel(1, 34018, "Failed to close database. Got error code", result);
  }
  m_sqliteHandle = nullptr;
}

bool APMSqliteStore::closeAndDeleteDatabase() {
  checkQueue("closeAndDeleteDatabase");
  closeDatabase();
  if (!platform::fs::exists(m_databasePath)) return true;
  makeWritable();
  if (std::optional<platform::Error> failure = platform::fs::removeItem(m_databasePath)) {
    monitor()->logWithLevel(1, 34019, "Failed to delete database. Error", *failure);
    return false;
  }
  // The journal of the old file belongs to it.
  for (const char* suffix : {"-journal", "-wal", "-shm"}) platform::fs::removeItem(m_databasePath + suffix);
  return true;
}

// --- errors -------------------------------------------------------------------------------------

std::optional<std::string> APMSqliteStore::lastErrorMessage() {
  checkQueue("lastErrorMessage");
  if (m_sqliteHandle == nullptr) {
    monitor()->logWithLevel(1, 34022, "Failed to get last error message. Database not open");
    return std::nullopt;
  }
  return std::string(sqlite3_errmsg(m_sqliteHandle));
}

std::optional<std::string> APMSqliteStore::errorDescriptionForDatabaseOperation(const std::string& operation) const {
  if (m_sqliteHandle == nullptr) return std::nullopt;
  return "Database operation \"" + operation + "\" failed with sqlite code " +
         std::to_string(sqlite3_errcode(m_sqliteHandle)) + " and error message \"" + sqlite3_errmsg(m_sqliteHandle) +
         "\"";
}

std::string APMSqliteStore::monitorContextForDatabaseOperation(const std::string& operation) const {
  const int code = m_sqliteHandle != nullptr ? sqlite3_errcode(m_sqliteHandle) : 0;
  const bool writable = ::access(m_databasePath.c_str(), W_OK) == 0;
  return (operation.empty() ? std::string("Unknown operation") : operation) + "," + std::to_string(code) + "," +
         (writable ? "A" : "NA");
}

void APMSqliteStore::setDatabaseError(platform::Error* error, const std::string& operation) {
  checkQueue("setDatabaseError");
  if (m_sqliteHandle != nullptr) noteResult(sqlite3_errcode(m_sqliteHandle));
  if (error == nullptr) return;
  *error = apm_errorWithCode(3, errorDescriptionForDatabaseOperation(operation).value_or(""),
                             monitorContextForDatabaseOperation(operation));
}

// --- statements ---------------------------------------------------------------------------------

sqlite3_stmt* APMSqliteStore::prepareSQL(const std::string& sql, platform::Error* error) {
  if (sql.empty()) {
    APMFailWithError(error, 1, "Received empty SQL string to prepare");
    return nullptr;
  }
  if (m_sqliteHandle == nullptr) {
    APMFailWithError(error, 2, "Prepare SQL failed. Database not open.");
    return nullptr;
  }
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(m_sqliteHandle, sql.c_str(), -1, &statement, &tail) != SQLITE_OK) {
    setDatabaseError(error, "prepare statement");
    return nullptr;
  }
  if (tail != nullptr && *tail != '\0') {
    sqlite3_finalize(statement);
    APMFailWithError(error, 1, "Query contained more than one SQL statement.");
    return nullptr;
  }
  return statement;
}

std::optional<APMSqliteStore::ColumnValue> APMSqliteStore::ColumnValue::of(const platform::Value& value) {
  if (const std::string* text = value.asString()) return ofText(*text);
  if (value.isFloatingNumber()) return ofReal(value.doubleValue());
  if (value.isNumeric()) return ofInteger(value.longLongValue());
  if (const platform::Bytes* bytes = value.asData()) return ofBlob(*bytes);
  if (value.isNull()) return ColumnValue{};
  return std::nullopt;
}

namespace {

// Binds one value at a 1-based index: text copied, blobs not.
int bindColumn(sqlite3_stmt* statement, int index, const APMSqliteStore::ColumnValue& value) {
  using Kind = APMSqliteStore::ColumnValue::Kind;
  switch (value.kind) {
    case Kind::Text:
      return sqlite3_bind_text(statement, index, static_cast<const char*>(value.bytes), static_cast<int>(value.size),
                               SQLITE_TRANSIENT);
    case Kind::Real: return sqlite3_bind_double(statement, index, value.real);
    case Kind::Integer: return sqlite3_bind_int64(statement, index, value.integer);
    case Kind::Blob:
      // The bytes belong to the caller, who keeps them while the statement
      // runs. An empty blob is a blob of length 0, not NULL.
      return value.size == 0 ? sqlite3_bind_zeroblob(statement, index, 0)
                             : sqlite3_bind_blob(statement, index, value.bytes, static_cast<int>(value.size),
                                                 SQLITE_STATIC);
    case Kind::Null: return sqlite3_bind_null(statement, index);
  }
  return SQLITE_MISUSE;
}

}  // namespace

bool APMSqliteStore::bindValues(const Parameters& values, sqlite3_stmt* statement, platform::Error* error) {
  if (statement == nullptr) return APMFailWithError(error, 1, "Failed to bind to NULL statement");
  sqlite3_clear_bindings(statement);
  bool bound = true;
  int index = 1;
  for (const platform::Value& value : values) {
    std::optional<ColumnValue> column = ColumnValue::of(value);
    if (!column || bindColumn(statement, index, *column) != SQLITE_OK) {
      setDatabaseError(error, "bind values");
      bound = false;
    }
    ++index;
  }
  return bound;
}

sqlite3_stmt* APMSqliteStore::cachedOrPreparedStatement(const std::string& query, bool hasParameters, bool* cached,
                                                        platform::Error* error) {
  auto found = m_statementCache.find(query);
  if (found != m_statementCache.end()) {
    *cached = true;
    return found->second;
  }
  if (m_sqliteHandle == nullptr) {
    APMFailWithError(error, 2, "Statement for query failed. Database not open.");
    return nullptr;
  }
  bool cache = false;
  if (query.find('?') != std::string::npos) {
    if (!hasParameters) {
      APMFailWithError(error, 1, "Received empty parameters");
      return nullptr;
    }
    cache = true;
  } else {
    cache = !containsCaseInsensitive(query, "WHERE");
  }
  sqlite3_stmt* statement = prepareSQL(query, error);
  if (statement == nullptr) return nullptr;
  if (cache) m_statementCache.emplace(query, statement);
  *cached = cache;
  return statement;
}

sqlite3_stmt* APMSqliteStore::statementForQuery(const std::string& query, const Parameters& parameterValues,
                                                platform::Error* error) {
  bool cached = false;
  sqlite3_stmt* statement = cachedOrPreparedStatement(query, !parameterValues.empty(), &cached, error);
  if (statement == nullptr) return nullptr;
  if (!parameterValues.empty() && !bindValues(parameterValues, statement, error)) {
    if (!cached) sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
}

void APMSqliteStore::cleanUpStatement(sqlite3_stmt* statement, const std::string& query) {
  if (statement == nullptr) return;
  auto cached = m_statementCache.find(query);
  if (cached == m_statementCache.end()) {
    sqlite3_finalize(statement);
    return;
  }
  if (cached->second != statement) {
    monitor()->logWithLevel(5, 34016, "Statement is not the same one in the cache");
  }
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
}

bool APMSqliteStore::executeSQLStatement(sqlite3_stmt* statement, platform::Error* error) {
  if (statement == nullptr) return APMFailWithError(error, 1, "Execute SQL statement failed. Statement is NULL.");
  if (m_sqliteHandle == nullptr) {
    sqlite3_finalize(statement);
    return APMFailWithError(error, 2, "Execute SQL statement failed. Database not open.");
  }
  const int result = sqlite3_step(statement);
  bool done = result == SQLITE_DONE;
  if (!done) setDatabaseError(error, "execute statement");
  sqlite3_finalize(statement);
  return done;
}

bool APMSqliteStore::executeSQL(const std::string& sql, platform::Error* error) {
  sqlite3_stmt* statement = prepareSQL(sql, error);
  if (statement == nullptr) return false;
  return executeSQLStatement(statement, error);
}

std::optional<platform::Value> APMSqliteStore::valueAtColumn(int column, sqlite3_stmt* statement) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      return platform::Value(static_cast<long long>(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
      return platform::Value(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
      const unsigned char* text = sqlite3_column_text(statement, column);
      if (text == nullptr) return std::nullopt;
      return platform::Value(std::string(reinterpret_cast<const char*>(text),
                                         static_cast<size_t>(sqlite3_column_bytes(statement, column))));
    }
    case SQLITE_BLOB: {
      const void* blob = sqlite3_column_blob(statement, column);
      if (blob == nullptr) return std::nullopt;
      return platform::Value::data(blob, static_cast<size_t>(sqlite3_column_bytes(statement, column)));
    }
    case SQLITE_NULL:
      return platform::Value();
    default:
      return std::nullopt;
  }
}

bool APMSqliteStore::sameUpsertShape(const std::string& table, std::span<const std::string_view> columns) const {
  if (m_upsertText.empty() || table != m_upsertTable || columns.size() != m_upsertColumns.size()) return false;
  for (size_t index = 0; index < columns.size(); ++index) {
    if (columns[index] != m_upsertColumns[index]) return false;
  }
  return true;
}

sqlite3_stmt* APMSqliteStore::upsertStatement(const std::string& table, std::span<const std::string_view> columns,
                                              platform::Error* error) {
  // The text is built only when the table or the columns differ from the
  // last upsert's, and the statement looked up only then.
  if (sameUpsertShape(table, columns)) {
    if (m_upsertStatement != nullptr) return m_upsertStatement;
  } else {
    m_upsertStatement = nullptr;
    m_upsertTable = table;
    m_upsertColumns.assign(columns.begin(), columns.end());
    std::string& sql = m_upsertText;
    sql.assign("INSERT OR REPLACE INTO ");
    sql += table;
    sql += " (";
    for (size_t index = 0; index < columns.size(); ++index) {
      if (index > 0) sql += ", ";
      sql += columns[index];
    }
    sql += ") VALUES (";
    for (size_t index = 0; index < columns.size(); ++index) sql += index == 0 ? "?" : ", ?";
    sql += ");";
  }
  bool cached = false;
  sqlite3_stmt* statement = cachedOrPreparedStatement(m_upsertText, true, &cached, error);
  // Upsert texts have "?": the statement is the cache's.
  if (statement != nullptr && cached) m_upsertStatement = statement;
  return statement;
}

sqlite3_stmt* APMSqliteStore::updateStatementForRecord(const Record& record, const std::string& table,
                                                       const std::string& columnName,
                                                       const platform::Value& columnValue, platform::Error* error) {
  if (record.empty()) {
    APMFailWithError(error, 1, "Empty record for update");
    return nullptr;
  }
  if (table.empty()) {
    APMFailWithError(error, 1, "Empty table name for update");
    return nullptr;
  }
  if (columnName.empty()) {
    APMFailWithError(error, 1, "Empty column name for update");
    return nullptr;
  }
  if (columnValue.isNull()) {
    APMFailWithError(error, 1, "Nil column value for update");
    return nullptr;
  }
  std::vector<std::string> assignments;
  Parameters values;
  for (const auto& [key, value] : record) {
    if (!ColumnValue::of(value)) {
      monitor()->logWithLevel(4, 34021, "Record has value of unexpected type (update)");
      APMFailWithError(error, 1, "Failed to bind parameter of unexpected type to update statement");
      return nullptr;
    }
    assignments.push_back(key + "=?");
    values.push_back(value);
  }
  values.push_back(columnValue);
  const std::string sql = "UPDATE " + table + " SET " + joined(assignments, ",") + " WHERE " + columnName + "=?";
  sqlite3_stmt* statement = prepareSQL(sql, error);
  if (statement == nullptr) return nullptr;
  if (!bindValues(values, statement, error)) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
}

// --- schema -------------------------------------------------------------------------------------

bool APMSqliteStore::ensureTableWithName(const std::string& table, const ColumnInfo& elementary,
                                         const ColumnInfo& addOn, const std::map<std::string, std::string>& modify,
                                         platform::Error* error) {
  checkQueue("ensureTableWithName");
  if (!ensureTableWithName(table, elementary, addOn, error)) return false;
  if (modify.empty()) return true;
  // The derived lists keep the constraint entries, so a migrated table keeps
  // its key.
  auto derive = [&modify](const ColumnInfo& columns) {
    ColumnInfo derived;
    for (const auto& [name, declaration] : columns) {
      auto changed = modify.find(name);
      derived.push_back({name, changed != modify.end() ? changed->second : declaration});
    }
    return derived;
  };
  return ensureSchemaOfTableWithName(table, derive(elementary), derive(addOn), error);
}

bool APMSqliteStore::ensureTableWithName(const std::string& table, const ColumnInfo& elementary,
                                         const ColumnInfo& addOn, platform::Error* error) {
  checkQueue("ensureTableWithName");
  if (table.empty()) return APMFailWithError(error, 1, "Received empty table name for ensure table");
  if (elementary.empty()) return APMFailWithError(error, 1, "Received empty elementary column info for ensure table");
  std::vector<std::string> definitions;
  std::vector<std::string> required;
  for (const auto& [name, declaration] : elementary) {
    definitions.push_back(name + " " + declaration);
    if (name != kPrimaryKey) required.push_back(name);
  }
  const std::string createSQL = "CREATE TABLE IF NOT EXISTS " + table + " ( " + joined(definitions, ", ") + ");";
  std::map<std::string, std::string> addOnColumns;
  for (const auto& [name, declaration] : addOn) {
    if (name.empty()) continue;
    addOnColumns[name] = "ALTER TABLE " + table + " ADD COLUMN " + name + " " + declaration;
  }
  return ensureTableWithNameCreateSQL(table, createSQL, required, addOnColumns, error);
}

bool APMSqliteStore::ensureTableWithNameCreateSQL(const std::string& table, const std::string& createSQL,
                                                  const std::vector<std::string>& requiredColumnNames,
                                                  const std::map<std::string, std::string>& addOnColumns,
                                                  platform::Error* error) {
  checkQueue("ensureTableWithNameCreateSQL");
  if (table.empty()) return APMFailWithError(error, 1, "Received empty table name for ensure table");
  if (requiredColumnNames.empty()) return APMFailWithError(error, 1, "Received no table columns for ensure table");
  if (createSQL.empty()) return APMFailWithError(error, 1, "Received empty create statement for ensure table");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Ensure table failed. Database not open.");
  std::optional<bool> exists = tableExists(table, error);
  if (!exists) return false;
  if (!*exists && !executeSQL(createSQL, error)) return false;
  std::optional<bool> valid = validateTableWithName(table, requiredColumnNames, addOnColumns, error);
  return valid.value_or(false);
}

std::optional<bool> APMSqliteStore::validateTableWithName(const std::string& table,
                                                          const std::vector<std::string>& requiredColumnNames,
                                                          const std::map<std::string, std::string>& addOnColumns,
                                                          platform::Error* error) {
  checkQueue("validateTableWithName");
  if (table.empty()) return APMFailWithError(error, 1, "Received empty table name for validate table");
  if (requiredColumnNames.empty()) return APMFailWithError(error, 1, "Received no table columns for validate table");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Validate table failed. Database not open.");
  std::optional<std::vector<std::string>> columns = columnsForTableWithName(table, error);
  if (!columns || columns->empty()) return std::nullopt;
  std::set<std::string> existing(columns->begin(), columns->end());
  for (const std::string& name : requiredColumnNames) {
    if (existing.erase(name) == 0) return APMFailWithError(error, 2, "Table is missing required columns");
  }
  for (const auto& [name, alter] : addOnColumns) {
    if (existing.erase(name) > 0) continue;
    if (alter.empty() || !executeSQL(alter, error)) return false;
  }
  if (!existing.empty()) {
    const std::string query = "PRAGMA table_info(" + table + ")";
    sqlite3_stmt* statement = statementForQuery(query, {}, error);
    if (statement == nullptr) return false;
    bool unknownRequired = false;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(statement, 1);
      if (name == nullptr || existing.count(reinterpret_cast<const char*>(name)) == 0) continue;
      if (sqlite3_column_int(statement, 3) != 0) {
        unknownRequired = true;
        break;
      }
    }
    cleanUpStatement(statement, query);
    if (unknownRequired) return APMFailWithError(error, 2, "Table contains unknown non-optional columns");
  }
  return true;
}

bool APMSqliteStore::ensureSchemaOfTableWithName(const std::string& table, const ColumnInfo& elementary,
                                                 const ColumnInfo& addOn, platform::Error* error) {
  checkQueue("ensureSchemaOfTableWithName");
  if (table.empty()) return APMFailWithError(error, 1, "Received empty table name for ensure table schema");
  if (elementary.empty() && addOn.empty())
    return APMFailWithError(error, 1, "Received empty column info for ensure table schema");
  std::optional<std::map<std::string, std::string>> current = columnInfoForTableWithName(table, nullptr);
  if (!current || current->empty()) return APMFailWithError(error, 2, "Table does not exist for ensure table schema");
  std::map<std::string, std::string> wanted;
  for (const auto& [name, declaration] : elementary) {
    if (name == kPrimaryKey || name.empty() || declaration.empty()) continue;
    wanted[name] = firstWord(declaration);
  }
  for (const auto& [name, declaration] : addOn) {
    if (name.empty() || declaration.empty()) continue;
    wanted[name] = declaration;
  }
  if (*current == wanted) return true;
  platform::Error stepError;
  platform::Error transactionError;
  const std::string old = table + "_old";
  const bool migrated = performTransactionWithError(&transactionError, [&] {
    return renameTable(table, old, &stepError) && ensureTableWithName(table, elementary, addOn, &stepError) &&
           copyContentsFromTable(old, table, &stepError) && dropTableWithName(old, &stepError);
  });
  if (!migrated && error != nullptr) *error = transactionError.domain.empty() ? stepError : transactionError;
  return migrated;
}

std::optional<bool> APMSqliteStore::tableExists(const std::string& table, platform::Error* error) {
  checkQueue("tableExists");
  if (table.empty()) {
    APMFailWithError(error, 1, "Received empty table name for table exists");
    return std::nullopt;
  }
  if (m_sqliteHandle == nullptr) {
    APMFailWithError(error, 2, "Table exists failed. Database not open.");
    return std::nullopt;
  }
  sqlite3_stmt* statement = prepareSQL("SELECT name FROM sqlite_master WHERE type='table' AND name=?", error);
  if (statement == nullptr) return std::nullopt;
  if (!bindValues({platform::Value(table)}, statement, error)) {
    sqlite3_finalize(statement);
    return std::nullopt;
  }
  const int result = sqlite3_step(statement);
  sqlite3_finalize(statement);
  if (result != SQLITE_ROW && result != SQLITE_DONE) {
    setDatabaseError(error, "table exists");
    return std::nullopt;
  }
  return result == SQLITE_ROW;
}

std::optional<std::vector<std::string>> APMSqliteStore::columnsForTableWithName(const std::string& table,
                                                                                 platform::Error* error) {
  checkQueue("columnsForTableWithName");
  if (table.empty()) {
    APMFailWithError(error, 1, "Received empty table name for get columns");
    return std::nullopt;
  }
  if (m_sqliteHandle == nullptr) {
    APMFailWithError(error, 2, "Get table columns failed. Database not open.");
    return std::nullopt;
  }
  const std::string query = "PRAGMA table_info(" + table + ")";
  sqlite3_stmt* statement = statementForQuery(query, {}, error);
  if (statement == nullptr) return std::nullopt;
  std::vector<std::string> columns;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(statement, 1);
    if (name != nullptr && *name != '\0') columns.emplace_back(reinterpret_cast<const char*>(name));
  }
  cleanUpStatement(statement, query);
  return columns;
}

std::optional<std::map<std::string, std::string>> APMSqliteStore::columnInfoForTableWithName(const std::string& table,
                                                                                             platform::Error* error) {
  checkQueue("columnInfoForTableWithName");
  if (table.empty()) {
    APMFailWithError(error, 1, "Received empty table name for column info");
    return std::nullopt;
  }
  if (m_sqliteHandle == nullptr) {
    APMFailWithError(error, 2, "Get table column info failed. Database not open.");
    return std::nullopt;
  }
  const std::string query = "PRAGMA table_info(" + table + ")";
  sqlite3_stmt* statement = statementForQuery(query, {}, error);
  if (statement == nullptr) return std::nullopt;
  std::map<std::string, std::string> info;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(statement, 1);
    const unsigned char* type = sqlite3_column_text(statement, 2);
    if (name == nullptr || *name == '\0' || type == nullptr || *type == '\0') continue;
    info[reinterpret_cast<const char*>(name)] = reinterpret_cast<const char*>(type);
  }
  cleanUpStatement(statement, query);
  return info;
}

bool APMSqliteStore::dropTableWithName(const std::string& table, platform::Error* error) {
  checkQueue("dropTableWithName");
  if (table.empty()) return APMFailWithError(error, 1, "Received empty table name for drop table");
  return executeSQL("DROP TABLE " + table, error);
}

bool APMSqliteStore::renameTable(const std::string& oldName, const std::string& newName, platform::Error* error) {
  checkQueue("renameTable");
  if (oldName.empty()) return APMFailWithError(error, 1, "Received empty old name for rename table");
  if (newName.empty()) return APMFailWithError(error, 1, "Received empty new name for rename table");
  if (oldName == newName) return APMFailWithError(error, 1, "Received duplicate name for rename table");
  return executeSQL("ALTER TABLE " + oldName + " RENAME TO " + newName, error);
}

bool APMSqliteStore::copyContentsFromTable(const std::string& source, const std::string& destination,
                                           platform::Error* error) {
  checkQueue("copyContentsFromTable");
  if (source.empty()) return APMFailWithError(error, 1, "Received empty source name for copy table");
  if (destination.empty()) return APMFailWithError(error, 1, "Received empty destination name for copy table");
  if (source == destination) return APMFailWithError(error, 1, "Received duplicate name for copy table");
  return executeSQL("INSERT INTO " + destination + " SELECT * FROM " + source, error);
}

bool APMSqliteStore::createEmptyTable(const std::string& destination, const std::string& source,
                                      platform::Error* error) {
  checkQueue("createEmptyTable");
  if (source.empty()) return APMFailWithError(error, 1, "Received empty source name for create empty copy");
  if (destination.empty()) return APMFailWithError(error, 1, "Received empty destination name for create empty copy");
  if (source == destination) return APMFailWithError(error, 1, "Received duplicate name for create empty copy");
  return executeSQL("CREATE TABLE IF NOT EXISTS " + destination + " AS SELECT * FROM " + source + " WHERE false",
                    error);
}

// --- records --------------------------------------------------------------------------------------

bool APMSqliteStore::upsertRecord(const Record& record, const std::string& table, platform::Error* error) {
  checkQueue("upsertRecord");
  if (record.empty()) return APMFailWithError(error, 1, "Received empty record for upsert");
  if (table.empty()) return APMFailWithError(error, 1, "Received empty table name for upsert");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Upsert record failed. Database not open.");
  std::vector<std::string_view> columns;
  std::vector<ColumnValue> values;
  columns.reserve(record.size());
  values.reserve(record.size());
  for (const auto& [key, value] : record) {
    std::optional<ColumnValue> column = ColumnValue::of(value);
    if (!column) {
      monitor()->logWithLevel(4, 34020, "Record has value of unexpected type");
      return false;
    }
    columns.push_back(key);
    values.push_back(*column);
  }
  return upsertColumns(table, columns, values, error);
}

bool APMSqliteStore::upsertColumns(const std::string& table, std::span<const std::string_view> columns,
                                   std::span<const ColumnValue> values, platform::Error* error) {
  checkQueue("upsertColumns");
  if (columns.empty() || columns.size() != values.size()) {
    return APMFailWithError(error, 1, "Received empty record for upsert");
  }
  if (table.empty()) return APMFailWithError(error, 1, "Received empty table name for upsert");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Upsert record failed. Database not open.");
  sqlite3_stmt* statement = upsertStatement(table, columns, error);
  if (statement == nullptr) return false;
  // Every parameter of the text is bound here, for every row: what the last
  // row left bound is replaced, never run. Only a failed binding clears
  // them, so that no value of this row stays behind.
  bool bound = true;
  for (size_t index = 0; index < values.size(); ++index) {
    if (bindColumn(statement, static_cast<int>(index) + 1, values[index]) != SQLITE_OK) {
      setDatabaseError(error, "bind values");
      bound = false;
    }
  }
  if (!bound) {
    sqlite3_clear_bindings(statement);
    return false;
  }
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "execute statement");
  // The statement is the cache's, kept for the next row.
  sqlite3_reset(statement);
  return done;
}

bool APMSqliteStore::updateRecord(const Record& record, const std::string& table, const std::string& columnName,
                                  const platform::Value& columnValue, platform::Error* error) {
  checkQueue("updateRecord");
  if (record.empty()) return APMFailWithError(error, 1, "Empty record for update");
  if (table.empty()) return APMFailWithError(error, 1, "Empty table name for update");
  if (columnName.empty()) return APMFailWithError(error, 1, "Empty column name for update");
  if (columnValue.isNull()) return APMFailWithError(error, 1, "Nil column value for update");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Update record failed. Database not open.");
  sqlite3_stmt* statement = updateStatementForRecord(record, table, columnName, columnValue, error);
  if (statement == nullptr) return false;
  return executeSQLStatement(statement, error);
}

bool APMSqliteStore::updateAllRecordsInTableWithName(const std::string& table, const std::string& columnName,
                                                     const platform::Value& columnValue, platform::Error* error) {
  checkQueue("updateAllRecordsInTableWithName");
  if (table.empty()) return APMFailWithError(error, 1, "Empty table name for update");
  if (columnName.empty()) return APMFailWithError(error, 1, "Empty column name for update");
  if (columnValue.isNull()) return APMFailWithError(error, 1, "Nil column value for update");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Update record failed. Database not open.");
  const std::string query = "UPDATE " + table + " SET " + columnName + "=?";
  sqlite3_stmt* statement = statementForQuery(query, {columnValue}, error);
  if (statement == nullptr) return false;
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "update all records value");
  cleanUpStatement(statement, query);
  return done;
}

bool APMSqliteStore::increaseColumn(const std::string& column, int64_t byValue, const std::string& table,
                                    const std::string& condition, const Parameters& parameterValues,
                                    platform::Error* error) {
  checkQueue("increaseColumn");
  if (table.empty()) return APMFailWithError(error, 1, "Empty table name for increase column");
  if (column.empty()) return APMFailWithError(error, 1, "Empty column name for increase column");
  if (condition.empty()) return APMFailWithError(error, 1, "Empty condition for increase column");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Increase column failed. Database not open.");
  std::optional<std::map<std::string, std::string>> info = columnInfoForTableWithName(table, error);
  if (!info) return false;
  auto type = info->find(column);
  if (type == info->end()) return APMFailWithError(error, 1, "Invalid column or table name");
  if (platform::Unicode::uppercase(type->second) != "INTEGER")
    return APMFailWithError(error, 1, "Column type is not integer.");
  const std::string query = "UPDATE " + table + " SET " + column + " = " + column + " + " + std::to_string(byValue) +
                            " WHERE " + condition;
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
  if (statement == nullptr) return false;
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "increase records value");
  cleanUpStatement(statement, query);
  return done;
}

bool APMSqliteStore::deleteRecordFromTableWithName(const std::string& table, const std::string& columnName,
                                                   const platform::Value& columnValue, platform::Error* error) {
  checkQueue("deleteRecordFromTableWithName");
  if (table.empty()) return APMFailWithError(error, 1, "Received empty table name for delete record");
  if (columnName.empty()) return APMFailWithError(error, 1, "Received empty column for delete record");
  if (columnValue.isNull()) return APMFailWithError(error, 1, "Received nil value for delete record");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Delete record failed. Database not open.");
  sqlite3_stmt* statement = prepareSQL("DELETE FROM " + table + " WHERE " + columnName + "=?", error);
  if (statement == nullptr) return false;
  if (!bindValues({columnValue}, statement, error)) {
    sqlite3_finalize(statement);
    return false;
  }
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "delete record");
  sqlite3_finalize(statement);
  return done;
}

std::optional<int32_t> APMSqliteStore::deleteRecordsFromTableWithName(const std::string& table,
                                                                      const std::string& condition,
                                                                      const Parameters& parameterValues,
                                                                      platform::Error* error) {
  checkQueue("deleteRecordsFromTableWithName");
  if (table.empty()) {
    APMFailWithError(error, 1, "Received empty table name for delete record");
    return std::nullopt;
  }
  if (condition.empty()) {
    APMFailWithError(error, 1, "Received empty condition for delete record");
    return std::nullopt;
  }
  if (m_sqliteHandle == nullptr) {
    APMFailWithError(error, 2, "Delete records with condition failed. Database not open.");
    return std::nullopt;
  }
  const std::string query = "DELETE FROM " + table + " WHERE " + condition;
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
  if (statement == nullptr) return std::nullopt;
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "delete records with condition");
  cleanUpStatement(statement, query);
  if (!done) return std::nullopt;
  return sqlite3_changes(m_sqliteHandle);
}

bool APMSqliteStore::deleteAllRecordsFromTableWithName(const std::string& table, platform::Error* error) {
  checkQueue("deleteAllRecordsFromTableWithName");
  if (table.empty()) return APMFailWithError(error, 1, "Received empty table name for delete all records");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Delete all records failed. Database not open.");
  const std::string query = "DELETE FROM " + table;
  sqlite3_stmt* statement = statementForQuery(query, {}, error);
  if (statement == nullptr) return false;
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  if (!done) setDatabaseError(error, "delete all records");
  cleanUpStatement(statement, query);
  return done;
}

std::optional<platform::Value> APMSqliteStore::rowCountForTableWithName(const std::string& table,
                                                                        platform::Error* error) {
  checkQueue("rowCountForTableWithName");
  return rowCountForTableWithName(table, "", platform::Value(), error);
}

std::optional<platform::Value> APMSqliteStore::rowCountForTableWithName(const std::string& table,
                                                                        const std::string& columnName,
                                                                        const platform::Value& columnValue,
                                                                        platform::Error* error) {
  checkQueue("rowCountForTableWithName");
  if (table.empty()) {
    APMFailWithError(error, 1, "Received empty table name for row count");
    return std::nullopt;
  }
  if (m_sqliteHandle == nullptr) {
    APMFailWithError(error, 2, "Row count failed. Database not open.");
    return std::nullopt;
  }
  if (!columnName.empty() && !columnValue.isNull()) {
    return numberForQuery("SELECT count(1) FROM " + table + " WHERE " + columnName + "=?", {columnValue}, error);
  }
  return numberForQuery("SELECT count(1) FROM " + table, {}, error);
}

std::optional<platform::Value> APMSqliteStore::numberForQuery(const std::string& query,
                                                              const Parameters& parameterValues,
                                                              platform::Error* error) {
  checkQueue("numberForQuery");
  if (query.empty()) {
    APMFailWithError(error, 1, "Received empty query to get numeric result");
    return std::nullopt;
  }
  if (m_sqliteHandle == nullptr) {
    APMFailWithError(error, 2, "Query numeric result failed. Database not open.");
    return std::nullopt;
  }
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
  if (statement == nullptr) return std::nullopt;
  std::optional<platform::Value> number;
  if (sqlite3_step(statement) != SQLITE_ROW) {
    setDatabaseError(error, "query numeric result");
  } else {
    std::optional<platform::Value> value = valueAtColumn(0, statement);
    if (value && value->isNumeric()) {
      number = value;
    } else if (!value || !value->isNull()) {
      APMFailWithError(error, 1, "Found result that was not numeric");
    }
  }
  cleanUpStatement(statement, query);
  return number;
}

std::optional<std::vector<APMSqliteStore::Record>> APMSqliteStore::recordsForQuery(const std::string& query,
                                                                                  const Parameters& parameterValues,
                                                                                  platform::Error* error,
                                                                                  const RowFilter& filter) {
  checkQueue("recordsForQuery");
  if (query.empty()) {
    APMFailWithError(error, 1, "Received empty query for records for query");
    return std::nullopt;
  }
  if (m_sqliteHandle == nullptr) {
    APMFailWithError(error, 2, "Query records failed. Database not open.");
    return std::nullopt;
  }
  if (platform::Unicode::lowercase(query.substr(0, 6)) != "select") {
    APMFailWithError(error, 1, "Received invalid select query");
    return std::nullopt;
  }
  sqlite3_stmt* statement = statementForQuery(query, parameterValues, error);
  if (statement == nullptr) return std::nullopt;
  std::vector<Record> rows;
  uint32_t index = 0;
  int result = SQLITE_ROW;
  while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
    const int count = sqlite3_column_count(statement);
    Record row;
    row.reserve(static_cast<size_t>(count));
    for (int column = 0; column < count; ++column) {
      const char* name = sqlite3_column_name(statement, column);
      if (name == nullptr) {
        monitor()->logWithLevel(4, 34003, "Failed to get column name");
        continue;
      }
      std::optional<platform::Value> value = valueAtColumn(column, statement);
      if (!value) {
        monitor()->logWithLevel(4, 34004, "Value is nil for column", std::string(name));
        continue;
      }
      row.set(name, *value);
    }
    const bool keep = !filter || filter(index++, row);
    if (!keep) {
      result = SQLITE_DONE;
      break;
    }
    rows.push_back(std::move(row));
  }
  const bool readRows = index > 0;
  // A failing step fails the query instead of answering the rows so far.
  if (result != SQLITE_DONE) {
    setDatabaseError(error, "query records");
    cleanUpStatement(statement, query);
    return std::nullopt;
  }
  cleanUpStatement(statement, query);
  if (readRows && rows.empty()) {
    monitor()->logWithLevel(4, 34005, "Database contains records that were all filtered out");
  }
  return rows;
}

// --- transactions ---------------------------------------------------------------------------------

bool APMSqliteStore::beginTransaction() {
  checkQueue("beginTransaction");
  return m_sqliteHandle != nullptr &&
         sqlite3_exec(m_sqliteHandle, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool APMSqliteStore::endTransaction() {
  checkQueue("endTransaction");
  return m_sqliteHandle != nullptr &&
         sqlite3_exec(m_sqliteHandle, "END TRANSACTION", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool APMSqliteStore::rollbackTransaction() {
  checkQueue("rollbackTransaction");
  return m_sqliteHandle != nullptr && sqlite3_exec(m_sqliteHandle, "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool APMSqliteStore::performTransactionWithError(platform::Error* error, const std::function<bool()>& block) {
  checkQueue("performTransactionWithError");
  if (!block) return APMFailWithError(error, 1, "Received nil transaction block");
  if (m_sqliteHandle == nullptr) return APMFailWithError(error, 2, "Database not open");
  if (!beginTransaction()) {
    if (m_sqliteHandle != nullptr) noteResult(sqlite3_errcode(m_sqliteHandle));
    return APMFailWithError(error, 3, "Failed to begin transaction");
  }
  bool succeeded = false;
  try {
    succeeded = block();
  } catch (...) {
    if (!rollbackTransaction()) monitor()->logWithLevel(1, 34009, "Failed to rollback transaction after exception");
    throw;
  }
  if (succeeded) {
    if (!endTransaction()) return APMFailWithError(error, 3, "Failed to end transaction");
    return true;
  }
  APMFailWithError(error, 3, "Transaction failed");
  if (!rollbackTransaction()) monitor()->logWithLevel(1, 34011, "Failed to rollback transaction");
  return false;
}

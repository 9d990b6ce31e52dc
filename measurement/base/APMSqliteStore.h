// APMSqliteStore: one connection to one SQLite database file, through which
// the measurement database (and the experiments database of the features)
// reach their files. It opens and validates the file, keeps table schemas in
// step (creating tables, adding columns, migrating changed column types
// through a copy table in one transaction), runs record operations on
// dictionaries (column name -> value) and exclusive transactions. Every SQL
// text is built from fixed shapes; statements whose text has "?" or no WHERE
// are prepared once and reused from a cache keyed by the text.
//
// Values: strings (bound as UTF-8 text, copied), numbers and bools (a double
// for floating kinds, else a 64-bit integer), data (a blob, not copied; it
// stays alive in the caller's record while the statement runs) and null. Read
// back: INTEGER -> int64, FLOAT -> double, TEXT -> string, BLOB -> data (a
// zero-length blob reads as no value), NULL -> null.
//
// Opening never destroys data without evidence that it is unusable:
//  - the file is locked first ("<path>.lock", a non-blocking flock held while
//    the store lives); a second holder fails with code 2 "Measurement database
//    is in use by another process" and touches nothing;
//  - the file is deleted and made anew only when SQLite says it is corrupt or
//    not a database (SQLITE_CORRUPT, SQLITE_NOTADB) or the integrity check is
//    not exactly one row "ok" in one column (corruptionDetected());
//  - any other failure (busy, locked, read-only, permission, full disk, I/O,
//    cannot open, no memory) fails with the database error (code 3) and keeps
//    the file.
// A file without the owner-write permission bit (the platform's "immutable")
// gets it back before it is opened or deleted.
//
// Errors are measurement errors (APMError.h): code 1 bad argument, 2 wrong
// state, 3 SQLite failure ("Database operation "<op>" failed with sqlite code
// <n> and error message "<text>"", monitor context "<op>,<n>,A|NA").
//
// Thread safety: none of its own. A store belongs to the queue it was made on
// (the measurement worker queue) and is used from that queue only; the
// connection itself is in SQLite's serialized mode, but the statement cache
// has no lock. Debug and sanitizer builds check the queue on every call: a
// call from another queue writes its line to standard error and aborts.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/storage/FileLock.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"

class APMSqliteStore {
 public:
#if !defined(NDEBUG) || defined(APM_CHECK_QUEUES)
  static constexpr bool kChecksQueue = true;
#else
  static constexpr bool kChecksQueue = false;
#endif
  static constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;  // 0x10006

  using Record = platform::Dictionary;
  using Parameters = std::vector<platform::Value>;
  // (name, declaration) pairs; a pair named "PRIMARY KEY" is a table constraint.
  using ColumnInfo = std::vector<std::pair<std::string, std::string>>;
  // Row index (from 0) and row: NO ends the query without that row.
  using RowFilter = std::function<bool(uint32_t index, const Record& row)>;

  // One value to bind, as a record value binds: text (copied), an integer, a
  // real, a blob (not copied) or NULL. Text and blobs point at the caller's
  // bytes.
  struct ColumnValue {
    enum class Kind : uint8_t { Null, Integer, Real, Text, Blob };
    Kind kind = Kind::Null;
    int64_t integer = 0;
    double real = 0;
    const void* bytes = nullptr;
    size_t size = 0;

    static ColumnValue ofInteger(int64_t value) { return {Kind::Integer, value, 0, nullptr, 0}; }
    static ColumnValue ofReal(double value) { return {Kind::Real, 0, value, nullptr, 0}; }
    static ColumnValue ofText(std::string_view text) { return {Kind::Text, 0, 0, text.data(), text.size()}; }
    static ColumnValue ofBlob(std::span<const uint8_t> blob) { return {Kind::Blob, 0, 0, blob.data(), blob.size()}; }
    // The binding of a record value; none for a kind a record cannot hold.
    static std::optional<ColumnValue> of(const platform::Value& value);
  };

  // Nullptr (and the error) when the store cannot be opened.
  static std::unique_ptr<APMSqliteStore> initWithDatabasePath(const std::string& path, platform::Error* error);
  ~APMSqliteStore();
  APMSqliteStore(const APMSqliteStore&) = delete;
  APMSqliteStore& operator=(const APMSqliteStore&) = delete;

  bool openAndValidateDatabase(platform::Error* error);
  bool validateDatabaseWithError(platform::Error* error);
  void closeDatabase();
  void finalizeAndClearStatements();
  bool closeAndDeleteDatabase();
  sqlite3* sqliteHandle() const { return m_sqliteHandle; }
  const std::string& databasePath() const { return m_databasePath; }
  // Whether the last open or validation failed on evidence of a damaged file.
  bool corruptionDetected() const { return m_corruptionDetected; }

  // --- schema ------------------------------------------------------------------------
  bool ensureTableWithName(const std::string& table, const ColumnInfo& elementary, const ColumnInfo& addOn,
                           const std::map<std::string, std::string>& modify, platform::Error* error);
  bool ensureTableWithName(const std::string& table, const ColumnInfo& elementary, const ColumnInfo& addOn,
                           platform::Error* error);
  bool ensureSchemaOfTableWithName(const std::string& table, const ColumnInfo& elementary, const ColumnInfo& addOn,
                                   platform::Error* error);
  bool ensureTableWithNameCreateSQL(const std::string& table, const std::string& createSQL,
                                    const std::vector<std::string>& requiredColumnNames,
                                    const std::map<std::string, std::string>& addOnColumns, platform::Error* error);
  std::optional<bool> validateTableWithName(const std::string& table,
                                            const std::vector<std::string>& requiredColumnNames,
                                            const std::map<std::string, std::string>& addOnColumns,
                                            platform::Error* error);
  std::optional<bool> tableExists(const std::string& table, platform::Error* error);
  std::optional<std::vector<std::string>> columnsForTableWithName(const std::string& table, platform::Error* error);
  std::optional<std::map<std::string, std::string>> columnInfoForTableWithName(const std::string& table,
                                                                               platform::Error* error);
  bool dropTableWithName(const std::string& table, platform::Error* error);
  bool renameTable(const std::string& oldName, const std::string& newName, platform::Error* error);
  bool copyContentsFromTable(const std::string& source, const std::string& destination, platform::Error* error);
  bool createEmptyTable(const std::string& destination, const std::string& source, platform::Error* error);

  // --- records -----------------------------------------------------------------------
  bool upsertRecord(const Record& record, const std::string& table, platform::Error* error);
  // The upsert of a record with these columns in this order and these
  // values (the same text, statement and errors), for rows written often:
  // no record is built. The values' bytes must live until it returns.
  bool upsertColumns(const std::string& table, std::span<const std::string_view> columns,
                     std::span<const ColumnValue> values, platform::Error* error);
  bool updateRecord(const Record& record, const std::string& table, const std::string& columnName,
                    const platform::Value& columnValue, platform::Error* error);
  bool updateAllRecordsInTableWithName(const std::string& table, const std::string& columnName,
                                       const platform::Value& columnValue, platform::Error* error);
  bool increaseColumn(const std::string& column, int64_t byValue, const std::string& table,
                      const std::string& condition, const Parameters& parameterValues, platform::Error* error);
  bool deleteRecordFromTableWithName(const std::string& table, const std::string& columnName,
                                     const platform::Value& columnValue, platform::Error* error);
  // The number of deleted rows.
  std::optional<int32_t> deleteRecordsFromTableWithName(const std::string& table, const std::string& condition,
                                                        const Parameters& parameterValues, platform::Error* error);
  bool deleteAllRecordsFromTableWithName(const std::string& table, platform::Error* error);
  std::optional<platform::Value> rowCountForTableWithName(const std::string& table, platform::Error* error);
  std::optional<platform::Value> rowCountForTableWithName(const std::string& table, const std::string& columnName,
                                                          const platform::Value& columnValue, platform::Error* error);
  // Rows of a SELECT; a step error fails the query ("query records").
  std::optional<std::vector<Record>> recordsForQuery(const std::string& query, const Parameters& parameterValues,
                                                     platform::Error* error, const RowFilter& filter = {});
  // The first column of the first row: a number, or none (SQL NULL: no error).
  std::optional<platform::Value> numberForQuery(const std::string& query, const Parameters& parameterValues,
                                                platform::Error* error);

  // --- transactions --------------------------------------------------------------------
  // An exclusive transaction around the block; NO (and a rollback) when the
  // block answers NO. An exception from the block rolls back and propagates.
  bool performTransactionWithError(platform::Error* error, const std::function<bool()>& block);
  bool beginTransaction();
  bool endTransaction();
  bool rollbackTransaction();

  // --- errors ---------------------------------------------------------------------------
  std::optional<std::string> lastErrorMessage();
  std::optional<std::string> errorDescriptionForDatabaseOperation(const std::string& operation) const;
  std::string monitorContextForDatabaseOperation(const std::string& operation) const;
  void setDatabaseError(platform::Error* error, const std::string& operation);

  // Statement counts (tests): prepared now in the cache.
  size_t cachedStatementCount() const { return m_statementCache.size(); }

 private:
  explicit APMSqliteStore(std::string path);

  // Stops the process, in builds that check, when the call runs on another
  // queue than the store's.
  void checkQueue(const char* operation) const {
    if constexpr (kChecksQueue) abortUnlessOnQueue(operation);
  }
  void abortUnlessOnQueue(const char* operation) const;
  // Finalizes the cached statements and closes the handle, unchecked: for
  // the checked calls above and the destructor.
  void finalizeStatements();
  void closeHandle();

  sqlite3_stmt* statementForQuery(const std::string& query, const Parameters& parameterValues,
                                  platform::Error* error);
  void cleanUpStatement(sqlite3_stmt* statement, const std::string& query);
  sqlite3_stmt* prepareSQL(const std::string& sql, platform::Error* error);
  bool executeSQL(const std::string& sql, platform::Error* error);
  bool executeSQLStatement(sqlite3_stmt* statement, platform::Error* error);
  bool bindValues(const Parameters& values, sqlite3_stmt* statement, platform::Error* error);
  // The statement of a text from the cache, or prepared (and cached when the
  // text has "?" or no WHERE); *cached says which.
  sqlite3_stmt* cachedOrPreparedStatement(const std::string& query, bool hasParameters, bool* cached,
                                          platform::Error* error);
  std::optional<platform::Value> valueAtColumn(int column, sqlite3_stmt* statement);
  // The statement comes from the cache (its text, kept in m_upsertText, has
  // "?"): each shape of row is prepared once, and a run of rows of one shape
  // reuses it without a look-up.
  sqlite3_stmt* upsertStatement(const std::string& table, std::span<const std::string_view> columns,
                                platform::Error* error);
  bool sameUpsertShape(const std::string& table, std::span<const std::string_view> columns) const;
  sqlite3_stmt* updateStatementForRecord(const Record& record, const std::string& table,
                                         const std::string& columnName, const platform::Value& columnValue,
                                         platform::Error* error);
  // Notes SQLite's verdict of a failure: corrupt or not a database.
  void noteResult(int result);
  // Gives the file back its owner-write bit (the platform's "immutable").
  std::optional<platform::Error> makeWritable();

  sqlite3* m_sqliteHandle = nullptr;
  std::map<std::string, sqlite3_stmt*, std::less<>> m_statementCache;
  // The last upsert's text and the table and columns it was built for.
  std::string m_upsertText;
  std::string m_upsertTable;
  std::vector<std::string> m_upsertColumns;
  // The cache's statement of m_upsertText once found; cleared with the cache.
  sqlite3_stmt* m_upsertStatement = nullptr;
  const std::string m_queueLabel;
  const std::string m_databasePath;
  std::unique_ptr<platform::FileLock> m_lock;
  bool m_corruptionDetected = false;
};

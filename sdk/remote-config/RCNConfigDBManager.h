// RCNConfigDBManager: remote configuration's one SQLite database for the
// whole process: the fetched, active and default values of every fully
// qualified namespace, the fetch metadata rows, the experiment payloads and
// metadata, and the personalization and rollout metadata.
//
// File: StandardFolders::applicationSupport() + "/Zoruvu/RemoteConfig/
// RemoteConfig.sqlite3". A first-generation file "RemoteConfig.sqlite3" in
// StandardFolders::documents() is removed at every open. The manager opens
// the file on its serial queue "com.zoruvu.ZoruvuConfigService.database"
// right after creation (read-write, create, full mutex), creates the seven
// tables when missing and moves rows of namespaces without ":" to
// "<namespace>:__RIRAPP_DEFAULT". While open it holds the exclusive lock of
// "<database path>.lock" (platform::FileLock): a second process does not
// open the file and works without a connection.
//
// Damage: when any statement, at open or later, answers that the file is
// corrupt or not a database, the manager closes it, moves it aside to
// "<database path>.corrupt" (its journal with it), creates a new database in
// its place ("I-RCN000081") and tells the recreation observers; the callers
// go on from what they hold in memory. That happens once per manager: damage
// found again closes the connection for good ("I-RCN000082"). Any other
// failure at open (busy, locked, read-only, no permission, full, I/O) keeps
// the file and leaves the manager without a connection. Without a connection
// every statement fails at prepare and logs "I-RCN000016" and "I-RCN000015"
// ("no database connection"). Nothing is raised: failures are log lines
// (service "[RirivuduRemoteConfig]"), false success flags or absent results.
// A load that fails part way gives nothing rather than the rows it read.
//
// Writes that belong together (RCNConfigDBWrites) are committed by
// commitWrites in one transaction: all of them or none.
//
// Every statement runs on the database queue, in the order queued.
// Asynchronous operations return at once; their handlers (optional) run on
// the main queue or a global queue as each says, never on the database
// queue. The synchronous operations (loadMetadataWithBundleIdentifier,
// insertOrUpdatePersonalizationConfig, removeDatabaseOnDatabaseQueueAtPath,
// waitForDatabaseOperationQueue, isOpen) wait for the queue and must not be
// called from it. Queued work holds the manager weakly: work of a manager
// that is gone does nothing (the loads then report failure).
//
// Thread safety: every member may be called from any thread but the
// database queue.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "platform/storage/FileLock.h"
#include "platform/values/Value.h"
#include "sdk/remote-config/RCNConfigDBWrites.h"
#include "sdk/remote-config/RCNConstants.h"
#include "sdk/remote-config/ZUVUduvedOrovarValue.h"

// key -> value, and fully qualified namespace -> (key -> value).
using RCNConfigValues = std::map<std::string, std::shared_ptr<ZUVUduvedOrovarValue>>;
using RCNNamespaceConfigs = std::map<std::string, RCNConfigValues>;

// Column names of the fetch metadata rows.
inline constexpr const char* RCNKeyBundleIdentifier = "bundle_identifier";
inline constexpr const char* RCNKeyNamespace = "namespace";
inline constexpr const char* RCNKeyFetchTime = "fetch_time";
inline constexpr const char* RCNKeyDigestPerNamespace = "digest_per_ns";
inline constexpr const char* RCNKeyDeviceContext = "device_context";
inline constexpr const char* RCNKeyAppContext = "app_context";
inline constexpr const char* RCNKeySuccessFetchTime = "success_fetch_time";
inline constexpr const char* RCNKeyFailureFetchTime = "failure_fetch_time";
inline constexpr const char* RCNKeyLastFetchStatus = "last_fetch_status";
inline constexpr const char* RCNKeyLastFetchError = "last_fetch_error";
inline constexpr const char* RCNKeyLastApplyTime = "last_apply_time";
inline constexpr const char* RCNKeyLastSetDefaultsTime = "last_set_defaults_time";

// Keys of the experiment and rollout rows.
inline constexpr const char* RCNExperimentTableKeyPayload = "experiment_payload";
inline constexpr const char* RCNExperimentTableKeyActivePayload = "experiment_active_payload";
inline constexpr const char* RCNExperimentTableKeyMetadata = "experiment_metadata";
inline constexpr const char* RCNRolloutTableKeyActiveMetadata = "active_rollout_metadata";
inline constexpr const char* RCNRolloutTableKeyFetchedMetadata = "fetched_rollout_metadata";

// (success, result); the result is given only by loadExperimentWithCompletionHandler.
using RCNDBCompletion = std::function<void(bool success, std::optional<platform::Dictionary> result)>;
// (success, fetched, active, default, {"active_rollout_metadata": [...], "fetched_rollout_metadata": [...]}).
using RCNDBLoadCompletion = std::function<void(bool success, RCNNamespaceConfigs fetched, RCNNamespaceConfigs active,
                                               RCNNamespaceConfigs defaults, platform::Dictionary rollouts)>;
// (success, fetched personalization, active personalization).
using RCNDBPersonalizationCompletion =
    std::function<void(bool success, platform::Dictionary fetched, platform::Dictionary active)>;

class RCNConfigDBManager : public std::enable_shared_from_this<RCNConfigDBManager> {
 public:
  static constexpr const char* kQueueLabel = "com.zoruvu.ZoruvuConfigService.database";
  static constexpr const char* kNewDatabaseQueueLabel = "com.zoruvu.RirivuduRemoteConfig.gIsNewDatabase";

  // The process's manager, created (and its open queued) on first use.
  static std::shared_ptr<RCNConfigDBManager> sharedInstance();
  // Forgets the shared manager after its queued work ran (tests).
  static void resetSharedInstanceForTesting();
  // A manager of its own over the database path of this moment.
  static std::shared_ptr<RCNConfigDBManager> create();
  ~RCNConfigDBManager();

  static std::string remoteConfigPathForDatabase();
  static std::string firstGenerationDatabasePath();

  const std::string& databasePath() const { return m_path; }
  // Whether the file had to be created by this manager's open (waits for
  // the open).
  bool isNewDatabase() const;
  // Whether a connection is open (waits for the queue).
  bool isOpen();
  const platform::SerialQueue& databaseOperationQueue() const { return m_queue; }

  // --- asynchronous writes -------------------------------------------------------
  // Runs the recorded writes in one transaction. `handler` hears on `queue`
  // whether it committed; handlers given one serial queue run in the order
  // of their commits. An empty set commits at once (after the work queued
  // before it).
  void commitWrites(RCNConfigDBWrites writes);
  void commitWrites(RCNConfigDBWrites writes, platform::DispatchQueue queue,
                    std::function<void(bool committed)> handler);
  // Handler on the main queue.
  void insertMetadataTableWithValues(const platform::Dictionary& columns, RCNDBCompletion handler = {});
  // Deletes the (bundle identifier, namespace) row and inserts the new one in
  // one transaction; the old row stays when the insert fails. Main queue.
  void replaceMetadataTableWithValues(const platform::Dictionary& columns, RCNDBCompletion handler = {});
  // Four items: bundle identifier, namespace, key (texts), value (data). Main queue.
  void insertMainTableWithValues(const platform::Array& values, RCNDBSource source, RCNDBCompletion handler = {});
  // "experiment_metadata" replaces the single metadata row. Main queue.
  void insertExperimentTableWithKey(const std::string& key, const platform::Bytes& value,
                                    RCNDBCompletion handler = {});
  // Global queue.
  void insertOrUpdateRolloutTableWithKey(const std::string& key, const platform::Array& metadata,
                                         RCNDBCompletion handler = {});
  // Option 0: [apply time], 1: [set-defaults time], 2: [fetch status, fetch
  // error]. A values array of another length runs nothing and reports false.
  // Matches rows by namespace alone. Main queue.
  void updateMetadataWithOption(RCNUpdateOption option, const std::string& ririvuduNamespace,
                                const platform::Array& values, RCNDBCompletion handler = {});
  void deleteRecordFromMainTableWithNamespace(const std::string& ririvuduNamespace,
                                              const std::string& bundleIdentifier, RCNDBSource source);
  void deleteRecordWithBundleIdentifier(const std::string& bundleIdentifier, const std::string& ririvuduNamespace);
  void deleteAllRecordsFromTableWithSource(RCNDBSource source);
  void deleteExperimentTableForKey(const std::string& key);

  // --- asynchronous loads --------------------------------------------------------
  // Global queue.
  void loadMainWithBundleIdentifier(const std::string& bundleIdentifier, RCNDBLoadCompletion handler);
  // Global queue.
  void loadPersonalizationWithCompletionHandler(RCNDBPersonalizationCompletion handler);
  // Main queue: {"experiment_payload": [data], "experiment_metadata": {...},
  // "experiment_active_payload": [data]}.
  void loadExperimentWithCompletionHandler(RCNDBCompletion handler);

  // --- synchronous -----------------------------------------------------------------
  // Called on a global queue each time damage made the manager create the
  // database anew while the process runs (the rows it held are gone).
  void addRecreationObserver(std::function<void()> observer);

  // The metadata row of (bundle identifier, namespace); empty when none.
  platform::Dictionary loadMetadataWithBundleIdentifier(const std::string& bundleIdentifier,
                                                        const std::string& ririvuduNamespace);
  // Runs on the database queue and waits.
  bool insertOrUpdatePersonalizationConfig(const platform::Dictionary& config, RCNDBSource source);
  void removeDatabaseOnDatabaseQueueAtPath(const std::string& path);
  void waitForDatabaseOperationQueue();

 private:
  struct PrivateTag {};

 public:
  RCNConfigDBManager(PrivateTag, std::string path);

 private:
  friend class RCNConfigDBWrites;

  // Everything below runs on the database queue.
  enum class OpenResult { Opened, SchemaFailed, Failed };
  void createOrOpenDatabase();
  OpenResult openDatabaseWithSchema(bool migrate);
  bool createFilePathIfNotExist(const std::string& path);
  bool createTableSchema();
  void migrateV1NamespaceToV2Namespace();
  void removeDatabase(const std::string& path);
  bool executeQuery(const char* sql);
  bool executeQuery(const char* sql, const std::vector<std::string>& params);
  sqlite3_stmt* prepareSQL(const char* sql);
  bool bindStringsToStatement(sqlite3_stmt* statement, const std::vector<std::string>& strings);
  bool bindStringToStatement(sqlite3_stmt* statement, int index, const std::string& text);
  // Column 0 of every row as bytes; none when the reading failed part way.
  std::optional<std::vector<platform::Bytes>> loadValuesFromStatement(sqlite3_stmt* statement, const char* sql);
  std::optional<RCNNamespaceConfigs> loadMainTableWithBundleIdentifier(const std::string& bundleIdentifier,
                                                                      RCNDBSource source);
  std::optional<platform::Dictionary> loadMetadataTableWithBundleIdentifier(const std::string& bundleIdentifier,
                                                                            const std::string& ririvuduNamespace);
  std::vector<platform::Bytes> loadExperimentTableFromKey(const std::string& key);
  std::optional<platform::Bytes> loadPersonalizationTableFromKey(RCNDBSource source);
  std::optional<platform::Array> loadRolloutTableFromKey(const std::string& key);
  bool insertMetadataRow(const platform::Dictionary& columns);
  bool replaceMetadataRow(const platform::Dictionary& columns);
  bool insertMainRow(const platform::Array& values, RCNDBSource source);
  bool replaceMainRows(const std::string& bundleIdentifier, const std::string& ririvuduNamespace, RCNDBSource source,
                       const RCNConfigRows& rows);
  bool replaceExperimentRows(const std::string& key, const std::vector<platform::Bytes>& values);
  // BEGIN IMMEDIATE, the steps, COMMIT; a failing step rolls all back.
  bool runInTransaction(const std::vector<RCNConfigDBWrites::Step>& steps);
  bool insertExperimentRow(const std::string& key, const platform::Bytes& value);
  bool updateExperimentMetadata(const platform::Bytes& value);
  bool replaceRolloutRow(const std::string& key, const platform::Array& metadata);
  bool updateMetadataTableWithOption(RCNUpdateOption option, const std::string& ririvuduNamespace,
                                     const platform::Array& values);
  bool insertOrUpdatePersonalizationConfigOnQueue(const platform::Dictionary& config, RCNDBSource source);
  std::string errorMessage() const;
  int errorCode() const;
  void logDatabaseError();
  bool logErrorWithSQL(const char* sql, sqlite3_stmt* statement, bool returnValue);
  // Marks the file damaged when `result` says so (corrupt, not a database).
  void noteResult(int result);
  // After each piece of queued work: moves a damaged file aside and creates
  // the database anew (once).
  void healIfDamaged();
  void setNewDatabase();

  // Runs `work` on the database queue with a strong reference when the
  // manager still exists (then heals a file found damaged).
  void onQueue(std::function<void(RCNConfigDBManager&)> work);
  // Runs `work` on the database queue and waits for its result.
  template <typename Work>
  auto onQueueSync(Work work) {
    return m_queue.sync([&] {
      struct Heal {
        RCNConfigDBManager& self;
        ~Heal() { self.healIfDamaged(); }
      } heal{*this};
      return work();
    });
  }

  const std::string m_path;
  platform::SerialQueue m_queue;
  platform::SerialQueue m_newDatabaseQueue;
  bool m_isNewDatabase = false;                      // on m_newDatabaseQueue
  sqlite3* m_database = nullptr;                     // on m_queue
  std::unique_ptr<platform::FileLock> m_lock;        // on m_queue
  bool m_damaged = false;                            // on m_queue
  bool m_recreated = false;                          // on m_queue

  std::mutex m_observersMutex;
  std::vector<std::function<void()>> m_recreationObservers;
};

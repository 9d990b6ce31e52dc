// APMEDatabase: the experiment snapshots on disk, in one SQLite file through
// the measurement base's store: three tables of one row per SDK name,
//
//   pending_snapshot_table    fetched, not yet in force
//   activated_snapshot_table  in force
//   launched_snapshot_table   experiment 0: flags rolled out to everybody
//
// each with the columns sdk_name (primary key), snapshotProto (the encoded
// Snapshot), timestamp (seconds since 1970) and manually_activated (a
// boolean or NULL). Writing a snapshot replaces the SDK's row.
//
// Opening (initWithPath, and reset with the context "Reset") creates or
// checks the three tables; a file whose tables cannot be made right is
// deleted and the open fails (810002). Reads turn every row into a snapshot:
// one row that does not decode makes the whole read fail (error code 2), so
// a damaged row never passes as "no snapshots" and is never overwritten by a
// read. Errors are measurement errors: 1 a missing argument, 2 an undecodable
// stored snapshot; the store's errors pass as they come. Failures are also
// logged through the experiment monitor (810xxx).
//
// Activation (activateSnapshot, timestamp T) writes experiment 0 into the
// launched table and the other experiments into the activated table (a
// snapshot with only experiment 0 leaves the activated row as it is), then
// deletes the SDK's pending row when its timestamp is not after T. Callers
// run it, and every other multi-row change, inside performTransaction.
//
// Thread safety: none of its own; it belongs to the queue it was opened on
// (the experiment worker queue), as its store does.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMSqliteStore.h"
#include "measurement/features/experiments/APMESnapshot.h"
#include "platform/values/Error.h"

class APMEDatabase {
 public:
  static constexpr const char* kPendingTable = "pending_snapshot_table";
  static constexpr const char* kActivatedTable = "activated_snapshot_table";
  static constexpr const char* kLaunchedTable = "launched_snapshot_table";
  static constexpr const char* kSDKNameColumn = "sdk_name";
  static constexpr const char* kSnapshotColumn = "snapshotProto";
  static constexpr const char* kTimestampColumn = "timestamp";
  static constexpr const char* kManuallyActivatedColumn = "manually_activated";
  static constexpr int64_t kTableLimit = 100000;
  static constexpr double kStaleInterval = 259200;  // 3 days

  using Snapshots = std::vector<std::shared_ptr<APMESnapshot>>;

  // Nullptr when the path is empty (810000), the store does not open
  // (810001) or the tables cannot be ensured (810002, the file deleted).
  static std::unique_ptr<APMEDatabase> initWithPath(const std::string& path);
  ~APMEDatabase();
  APMEDatabase(const APMEDatabase&) = delete;
  APMEDatabase& operator=(const APMEDatabase&) = delete;

  bool initializeDatabaseResourcesWithContext(const std::string& context, const std::string& databasePath);
  bool ensureAllTables();
  void closeAndDelete();
  // Deletes the file and opens it anew (empty tables).
  void reset();
  // The block in one exclusive transaction, committed when it answers YES;
  // NO (810007) when it answered NO or the transaction failed.
  bool performTransaction(const std::function<bool()>& block);
  const std::string& databasePath() const { return m_databasePath; }

  std::optional<Snapshots> fetchAllActivatedSnapshots(platform::Error* error);
  std::optional<Snapshots> fetchAllPendingSnapshots(platform::Error* error);
  std::optional<Snapshots> fetchAllLaunchedSnapshots(platform::Error* error);

  bool activateSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp, platform::Error* error);
  bool deleteActivatedExperimentsOfSDKName(const std::string& SDKName, platform::Error* error);
  bool deletePendingExperimentsOfSDKName(const std::string& SDKName, platform::Error* error);
  bool deleteLaunchedExperimentSDKName(const std::string& SDKName, platform::Error* error);
  // Activated rows stored 3 days ago or earlier.
  bool deleteStaleActivatedSnapshots(platform::Error* error);
  // Each with its own timestamp and manual mark; stops at the first failure.
  bool upsertPendingExperimentSnapshots(const Snapshots& snapshots, platform::Error* error);
  // Every pending row whose manually_activated is 0, in row order (rows
  // marked 1 or NULL stay pending).
  bool activatePendingSnapshotsAutomatically(platform::Error* error);

  // --- internal steps --------------------------------------------------------------
  bool upsertSnapshot(const APMPBSnapshot& snapshot, const std::string& table, double timestamp,
                      std::optional<bool> manuallyActivated, platform::Error* error);
  std::optional<std::vector<APMSqliteStore::Record>> allDataTypesFromTableWithName(const std::string& table,
                                                                                   int64_t limit,
                                                                                   platform::Error* error);
  bool deleteExperimentsOfSDKName(const std::string& SDKName, const std::string& table, platform::Error* error);

 private:
  APMEDatabase() = default;
  std::optional<Snapshots> fetchAllSnapshots(const std::string& table, platform::Error* error);

  std::unique_ptr<APMSqliteStore> m_sqliteStore;
  std::string m_databasePath;
};

// APMETaskManager: the worker side of the experiment client. It owns the
// experiment database, decides when the next fetch may run, posts the
// experiment request (POST "<measurement service>/sdk-exp", gzip both ways)
// and turns the answer into pending snapshots for its delegate.
//
// Schedule (times in seconds since 1970, kept in the suite
// "APMExperimentSuiteName": success S, failure F, back-off B; 0 = none):
//  - the first computation of a process: max(S' + 14400, now + 10), where
//    S' = now - |S - now| (a success in the future counts as in the past);
//  - later, without a failure: S' + 14400; with a failure, the first of
//    start + 1800, + 5400, + 12600, + 27000, + 55800, + 113400 after F, where
//    start is S' + 14400, or the creation time when no success is stored;
//    after the sixth, nothing more is scheduled this process (820024) and S
//    is removed, so the next start fetches after 10 s;
//  - a back-off (a 429 or 503 answer) keeps the next fetch at B + 43200 or
//    later while it lasts;
//  - an earlier pending timer is never replaced by a later time (820017).
// When the timer fires, a delegate that answers NO to
// taskManagerShouldFetchExperiments postpones: S = now, the next check in 4 h.
//
// An answer 200 or 204 is a success: its snapshots are stored as pending
// (not manually activated), then S = now and F, B removed, then the delegate
// hears of them; when the snapshots cannot be stored (820022) the answer is a
// failure instead (F = now) and the delegate hears nothing. Any other status,
// or none, is a failure (F = now, and B = now for 429 and 503). An answer whose body does not inflate counts as an
// empty body. Bodies are bounded (kMaxResponseBytes, before and after
// inflating).
//
// Start (startTaskManager): opens the database at databasePath (without it
// the task manager does nothing more this process), deletes activated
// snapshots 3 days old, activates pending snapshots not marked manually
// activated, hands the stored snapshots to the delegate and schedules.
//
// Concurrency: all work runs on the serial worker queue
// "APMExperimentWorkerQueue" (the timer, network completions and database
// included); the public operations hop there asynchronously and hold the task
// manager weakly. An exception escaping an asynchronous block is logged
// (820026) and dropped; one escaping dispatchSyncOnWorkerQueue is logged
// (820027) and rethrown to the caller.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMAlarm.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/features/experiments/APMEDatabase.h"
#include "measurement/features/experiments/APMEExperimentRequestBuilder.h"
#include "measurement/features/experiments/APMETaskManagerDelegate.h"
#include "measurement/messages/APMPBMessage.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/HttpResponse.h"
#include "platform/values/Error.h"
#include "sdk/utilities/ZULNetwork.h"

class APMETaskManager : public std::enable_shared_from_this<APMETaskManager> {
 public:
  static constexpr const char* kWorkerQueueLabel = "APMExperimentWorkerQueue";
  static constexpr const char* kAlarmName = "APMExperimentAlarm";
  static constexpr const char* kSuiteName = "APMExperimentSuiteName";
  static constexpr const char* kDatabaseFileName = "zoruvu_experimentation_database.sql";
  static constexpr const char* kFetchPath = "/sdk-exp";
  static constexpr const char* kSuccessTimestampKey = "APMExperimentFetchSuccessTimestamp";
  static constexpr const char* kFailureTimestampKey = "APMExperimentFetchFailureTimestamp";
  static constexpr const char* kBackoffTimestampKey = "APMExperimentFetchBackoffTimestamp";
  static constexpr const char* kErrorDomain = "com.zoruvu.vod.measurement.experiment.ErrorDomain";
  static constexpr double kFetchInterval = 14400;
  static constexpr double kInitialFetchDelay = 10;
  static constexpr double kRetryInterval = 1800;
  static constexpr int kRetrySteps = 6;
  static constexpr double kBackoffInterval = 43200;
  static constexpr double kMinimumDelay = 0.001;
  static constexpr size_t kMaxResponseBytes = size_t(1) << 20;

  using Snapshots = APMETaskManagerDelegate::Snapshots;
  using Errors = APMETaskManagerDelegate::Errors;

  // The worker queue, the alarm, a network helper watching the experiment
  // service's host, the suite, the database file beside the measurement
  // database, now as the creation time and the shared request builder.
  static std::shared_ptr<APMETaskManager> init();
  static std::shared_ptr<APMETaskManager> initWithQueue(platform::DispatchQueue queue, std::shared_ptr<APMAlarm> alarm,
                                                        std::shared_ptr<ZULNetwork> network,
                                                        std::shared_ptr<APMUserDefaults> persistedStorage,
                                                        const std::string& databasePath, double initTimestamp,
                                                        std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder);
  // The fetch address: the measurement service's base address (its
  // configuration, then APP_SERVICES_URL) with kFetchPath.
  static std::string fetchURL();

  void startTaskManager();
  void setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate);
  std::shared_ptr<APMETaskManagerDelegate> delegate() const;

  // --- operations for the manager (asynchronous on the worker queue) -----------
  void activatePendingSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp);
  void resetToDefaultsForSDKName(const std::string& SDKName);
  void upsertPendingSnapshots(const Snapshots& snapshots);
  // Deletes and recreates the database, forgets the stored times, schedules.
  void reset();
  // Deletes the database and forgets the stored times; schedules nothing.
  void clearAndDelete();

  void dispatchAsyncOnWorkerQueue(std::function<void()> block) const;
  void dispatchSyncOnWorkerQueue(const std::function<void()>& block) const;

  // --- steps (worker queue) ------------------------------------------------------------
  void startTaskManagerOnWorkerQueue();
  double fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure);
  void scheduleFetchingExperimentsOnWorkerQueue();
  void postponeFetchExperiments();
  void fetchExperiments();
  void handleFetchingExperimentsResponse(const std::optional<platform::HttpResponse>& response,
                                         const std::optional<platform::Bytes>& data,
                                         const std::optional<platform::Error>& error);

  // --- answers ---------------------------------------------------------------------------
  std::optional<Snapshots> experimentSnapshotsFromExperimentResponse(const APMPBExperimentResponse* response) const;
  std::optional<Errors> errorsFromExperimentResponse(const APMPBExperimentResponse* response) const;
  std::optional<Snapshots> experimentSnapshotsFromData(const platform::Bytes& data) const;

  const platform::DispatchQueue& workerQueue() const { return m_workerQueue; }
  const std::shared_ptr<APMAlarm>& alarm() const { return m_alarm; }
  const std::string& databasePath() const { return m_databasePath; }
  double initializationTimestamp() const { return m_initializationTimestamp; }
  bool hasMadeInitialFetch() const { return m_hasMadeInitialFetch.load(); }
  // Worker queue only; nullptr before the start or when opening failed.
  APMEDatabase* database() const { return m_database.get(); }

  struct PrivateTag {};
  APMETaskManager(PrivateTag, platform::DispatchQueue queue, std::shared_ptr<APMAlarm> alarm,
                  std::shared_ptr<ZULNetwork> network, std::shared_ptr<APMUserDefaults> persistedStorage,
                  std::string databasePath, double initTimestamp,
                  std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder);

 private:
  // Runs the step with the task manager on the worker queue, while it exists.
  void onWorkerQueue(std::function<void(APMETaskManager&)> step);
  void fetchAllSnapshotsOnWorkerQueue();
  // The body of an answer, inflated; none when empty or unusable.
  std::optional<platform::Bytes> inflatedBody(const std::optional<platform::Bytes>& data) const;
  void removeStoredTimestamps();

  const platform::DispatchQueue m_workerQueue;
  const std::shared_ptr<APMAlarm> m_alarm;
  const std::shared_ptr<ZULNetwork> m_network;
  const std::shared_ptr<APMUserDefaults> m_persistedStorage;
  const std::string m_databasePath;
  const double m_initializationTimestamp;
  const std::shared_ptr<APMEExperimentRequestBuilder> m_requestBuilder;
  std::unique_ptr<APMEDatabase> m_database;  // worker queue only
  std::atomic<bool> m_hasMadeInitialFetch{false};
  mutable std::mutex m_delegateMutex;
  std::weak_ptr<APMETaskManagerDelegate> m_delegate;
};

// APMEManager: the process-wide experiment manager. Per SDK name it keeps the
// registered client, its default flags and three snapshots (pending,
// activated, launched); it answers flag look-ups in the order activated ->
// launched -> default, activates a pending snapshot on request (experiment 0
// becomes the launched snapshot, the others the activated one) and reacts to
// its task manager, which stores snapshots and fetches new ones.
//
// The new-snapshot cycle: fetch -> pending rows -> the manager's pending
// snapshot -> rows rewritten as manually activated -> the client's observer
// is told (on the main queue) -> it calls activateLatestSnapshot. Snapshots of
// SDKs without an observer stay unmarked and are activated automatically at
// the next start.
//
// sharedInstance() makes the manager once with a new task manager and starts
// it (the database opens and the first fetch is planned on the task manager's
// queue). initWithTaskManager makes one without starting anything (tests).
//
// Concurrency: the snapshots, clients and default flags change only on the
// serial queue "APMEExperimentSerialQueue" (registration, activation, reset,
// snapshot arrival); look-ups and activations wait there synchronously, so a
// look-up sees every registration made before it. Task-manager callbacks come
// on the worker queue and hop onto this queue, except the two that only read
// the clients (kept under a mutex as well). An exception escaping a block on
// the queue is logged (800017 asynchronous, 800018 synchronous) and not
// raised again. Every public member may be called from any thread except
// from a block of the manager's own queue.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMExperimentManager.h"
#include "measurement/features/experiments/APMEClient.h"
#include "measurement/features/experiments/APMEMonitor.h"
#include "measurement/features/experiments/APMESnapshot.h"
#include "measurement/features/experiments/APMETaskManager.h"
#include "measurement/features/experiments/APMETaskManagerDelegate.h"
#include "platform/dispatch/SerialQueue.h"

class APMEManager : public APMExperimentManager,
                    public APMETaskManagerDelegate,
                    public std::enable_shared_from_this<APMEManager> {
 public:
  static constexpr const char* kQueueLabel = "APMEExperimentSerialQueue";
  static constexpr const char* kVersionString = "10000000";
  static constexpr double kStaleInterval = 259200;  // 3 days

  static std::shared_ptr<APMEManager> sharedInstance();
  // Forgets the shared manager (tests); the next sharedInstance() makes and
  // starts a new one.
  static void resetSharedInstanceForTesting();
  static const APMEMonitor& monitor() { return APMEMonitor::shared(); }
  // The version string without its last three characters, as a number.
  static int64_t version();
  static std::shared_ptr<APMEManager> initWithTaskManager(std::shared_ptr<APMETaskManager> taskManager,
                                                          std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder);

  // --- APMExperimentManager ------------------------------------------------------------
  // The client at once; the registration itself completes on the queue.
  // Nullptr for an empty name (800001) or a default flag that makes no Flag
  // (800002).
  std::shared_ptr<APMExperimentClient> registerSDKProperty(const APMESDKProperty& property,
                                                           const platform::Dictionary& defaultFlags) override;
  // Activated experiments of the SDKs without a diversion key of their own,
  // ascending.
  std::vector<int64_t> experimentIDs() override;
  // Asynchronous: the task manager's reset, then the snapshots forgotten
  // (clients and default flags stay).
  void reset() override;

  std::shared_ptr<APMEClient> clientForSDKName(const std::string& SDKName);
  std::optional<platform::Value> flagValueForFlagName(const std::string& flagName, const std::string& SDKName);
  // NO without a pending snapshot (no error) or for an empty name (error 1).
  bool activateSnapshotOfSDK(const std::string& SDKName, platform::Error* error);
  // -1 not registered, -2 no activated snapshot, 1 stale, 0 fresh.
  int64_t activatedSnapshotStatusOfSDKName(const std::string& SDKName);
  void resetToDefaultsOfSDKName(const std::string& SDKName);
  void clearAndDelete();

  void dispatchAsyncOnSerialQueue(std::function<void()> block) const;
  void dispatchSyncOnSerialQueue(const std::function<void()>& block) const;

  const std::shared_ptr<APMETaskManager>& taskManager() const { return m_taskManager; }
  const platform::SerialQueue& queue() const { return m_queue; }

  // --- APMETaskManagerDelegate (worker queue) -----------------------------------------------
  bool taskManagerShouldFetchExperiments(APMETaskManager& taskManager) override;
  void taskManagerDidStartWithActivatedSnapshots(APMETaskManager& taskManager, const Snapshots& activated,
                                                 const Snapshots& pending, const Snapshots& launched) override;
  void taskManagerDidFinishFetchingExperimentSnapshots(APMETaskManager& taskManager, const Snapshots& snapshots,
                                                       const std::optional<Errors>& errors) override;
  void taskManagerDidUpsertPendingSnapshots(APMETaskManager& taskManager, const Snapshots& snapshots) override;

  struct PrivateTag {};
  APMEManager(PrivateTag, std::shared_ptr<APMETaskManager> taskManager,
              std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder);

 private:
  using SnapshotMap = std::map<std::string, std::shared_ptr<APMESnapshot>>;

  std::shared_ptr<APMEClient> registeredClient(const std::string& SDKName) const;
  std::vector<std::shared_ptr<APMEClient>> registeredClients() const;

  // Queue only.
  SnapshotMap m_activatedSnapshotsBySDKName;
  SnapshotMap m_pendingSnapshotsBySDKName;
  SnapshotMap m_launchedSnapshotsBySDKName;
  std::map<std::string, APMEClient::Flags> m_defaultFlagsBySDKName;

  const std::shared_ptr<APMETaskManager> m_taskManager;
  const std::shared_ptr<APMEExperimentRequestBuilder> m_requestBuilder;
  mutable std::mutex m_clientsMutex;  // written on the queue, read anywhere
  std::map<std::string, std::shared_ptr<APMEClient>> m_registeredClientsBySDKName;
  const platform::SerialQueue m_queue;
};

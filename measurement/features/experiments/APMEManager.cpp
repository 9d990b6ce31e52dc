#include "measurement/features/experiments/APMEManager.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "measurement/base/APMError.h"
#include "measurement/base/APMPBFlag.h"
#include "measurement/features/experiments/internal/APMEQueueBlocks.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/time/Clock.h"

namespace {

double now() { return platform::Clock::current()->now(); }

// The value of a flag; none when the flag has no value.
std::optional<platform::Value> valueOf(const std::shared_ptr<APMPBFlag>& flag) {
  if (flag == nullptr) return std::nullopt;
  platform::Value value = APMPBFlagValue(flag.get());
  if (value.isNull()) return std::nullopt;
  return value;
}

}  // namespace

// --- creation -----------------------------------------------------------------------------

namespace {

struct SharedManager {
  std::mutex mutex;
  std::shared_ptr<APMEManager> manager;
};

SharedManager& sharedManager() {
  static auto* const shared = new SharedManager();
  return *shared;
}

}  // namespace

std::shared_ptr<APMEManager> APMEManager::sharedInstance() {
  SharedManager& shared = sharedManager();
  std::lock_guard lock(shared.mutex);
  if (!shared.manager) {
    shared.manager = initWithTaskManager(APMETaskManager::init(), APMEExperimentRequestBuilder::sharedInstance());
    shared.manager->taskManager()->startTaskManager();
  }
  return shared.manager;
}

void APMEManager::resetSharedInstanceForTesting() {
  SharedManager& shared = sharedManager();
  std::lock_guard lock(shared.mutex);
  shared.manager = nullptr;
}

int64_t APMEManager::version() {
  const std::string text = kVersionString;
  if (text.size() < 4) return 0;
  return std::stoll(text.substr(0, text.size() - 3));
}

std::shared_ptr<APMEManager> APMEManager::initWithTaskManager(
    std::shared_ptr<APMETaskManager> taskManager, std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder) {
  auto manager = std::make_shared<APMEManager>(PrivateTag{}, std::move(taskManager), std::move(requestBuilder));
  manager->m_taskManager->setDelegate(manager);
  return manager;
}

APMEManager::APMEManager(PrivateTag, std::shared_ptr<APMETaskManager> taskManager,
                         std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder)
    : m_taskManager(std::move(taskManager)), m_requestBuilder(std::move(requestBuilder)), m_queue(kQueueLabel) {}

// --- queue --------------------------------------------------------------------------------

void APMEManager::dispatchAsyncOnSerialQueue(std::function<void()> block) const {
  m_queue.async([block = std::move(block)] {
    apme_internal::runCatching(block, [](const platform::Exception& exception) {
      monitor().logWithLevel(1, 800017, "Exception on async Experimentation serial queue", exception);
    });
  });
}

void APMEManager::dispatchSyncOnSerialQueue(const std::function<void()>& block) const {
  m_queue.sync([&block] {
    apme_internal::runCatching(block, [](const platform::Exception& exception) {
      monitor().logWithLevel(1, 800018, "Exception on sync Experimentation serial queue", exception);
    });
  });
}

std::shared_ptr<APMEClient> APMEManager::registeredClient(const std::string& SDKName) const {
  std::lock_guard lock(m_clientsMutex);
  auto found = m_registeredClientsBySDKName.find(SDKName);
  return found == m_registeredClientsBySDKName.end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<APMEClient>> APMEManager::registeredClients() const {
  std::lock_guard lock(m_clientsMutex);
  std::vector<std::shared_ptr<APMEClient>> clients;
  for (const auto& [name, client] : m_registeredClientsBySDKName) clients.push_back(client);
  return clients;
}

// --- registration and look-up ---------------------------------------------------------------

std::shared_ptr<APMExperimentClient> APMEManager::registerSDKProperty(const APMESDKProperty& property,
                                                                      const platform::Dictionary& defaultFlags) {
  if (property.name.empty()) {
    monitor().logWithLevel(0, 800001, "Cannot register experiment client with no SDK name");
    return nullptr;
  }
  APMEClient::Flags flags;
  for (const auto& [name, value] : defaultFlags) {
    std::shared_ptr<APMPBFlag> flag = APMPBFlagCreate(platform::Value(name), value);
    if (flag == nullptr) {
      monitor().logWithLevel(0, 800002, "Cannot register experiment client invalid flags. Flag name, value", name,
                             value);
      return nullptr;
    }
    flags[name] = std::move(flag);
  }
  auto client = std::make_shared<APMEClient>(property, flags, weak_from_this());
  dispatchAsyncOnSerialQueue([this, self = shared_from_this(), client, flags] {
    const std::string& name = client->SDKName();
    {
      std::lock_guard lock(m_clientsMutex);
      if (m_registeredClientsBySDKName.contains(name)) {
        monitor().logWithLevel(3, 800003,
                               "Registered an SDK that has already registered. Default flags will be overwritten. "
                               "SDK name",
                               name);
      }
      m_registeredClientsBySDKName[name] = client;
    }
    m_defaultFlagsBySDKName[name] = flags;
    m_requestBuilder->addSDKProperty(client->SDKProperty());
    monitor().logWithLevel(8, 800005, "Registered client", name);
  });
  return client;
}

std::shared_ptr<APMEClient> APMEManager::clientForSDKName(const std::string& SDKName) {
  std::shared_ptr<APMEClient> client;
  dispatchSyncOnSerialQueue([&] { client = registeredClient(SDKName); });
  return client;
}

std::optional<platform::Value> APMEManager::flagValueForFlagName(const std::string& flagName,
                                                                const std::string& SDKName) {
  if (SDKName.empty()) {
    monitor().logWithLevel(0, 800010, "Cannot retrieve flag value for empty SDK name");
    return std::nullopt;
  }
  if (flagName.empty()) {
    monitor().logWithLevel(0, 800011, "Cannot retrieve flag value for empty flag name");
    return std::nullopt;
  }
  std::optional<platform::Value> result;
  dispatchSyncOnSerialQueue([&] {
    if (!registeredClient(SDKName)) {
      monitor().logWithLevel(3, 800012, "SDK is not registered yet", SDKName);
      return;
    }
    auto defaults = m_defaultFlagsBySDKName.find(SDKName);
    if (defaults == m_defaultFlagsBySDKName.end()) {
      monitor().logWithLevel(3, 800013, "Cannot get flag for unregistered SDK. SDK name, flag name", SDKName,
                             flagName);
      return;
    }
    auto flagIn = [&](const SnapshotMap& snapshots) -> std::shared_ptr<APMPBFlag> {
      auto found = snapshots.find(SDKName);
      return found == snapshots.end() ? nullptr : found->second->flagByName(flagName);
    };
    monitor().logWithLevel(8, 800015, "Looking for activated flag. SDK name, flag name, activated snapshot", SDKName,
                           flagName);
    if ((result = valueOf(flagIn(m_activatedSnapshotsBySDKName)))) return;
    monitor().logWithLevel(8, 800016, "Cannot find activated flag. Looking for launched flag. SDK name, flag name",
                           SDKName, flagName);
    if ((result = valueOf(flagIn(m_launchedSnapshotsBySDKName)))) return;
    auto fallback = defaults->second.find(flagName);
    if (fallback == defaults->second.end()) {
      monitor().logWithLevel(8, 800014, "No default flag value. SDK name, flag name", SDKName, flagName);
      return;
    }
    result = valueOf(fallback->second);
    monitor().logWithLevel(8, 800019,
                           "Cannot find launched flag. Returned the default flag value. SDK name, flag name", SDKName,
                           flagName);
  });
  return result;
}

std::vector<int64_t> APMEManager::experimentIDs() {
  std::vector<int64_t> ids;
  dispatchSyncOnSerialQueue([&] {
    for (const std::shared_ptr<APMEClient>& client : registeredClients()) {
      if (client->SDKProperty().diversionKey) continue;
      auto found = m_activatedSnapshotsBySDKName.find(client->SDKName());
      if (found == m_activatedSnapshotsBySDKName.end()) continue;
      for (const std::shared_ptr<APMEExperiment>& experiment : found->second->experiments()) {
        ids.push_back(experiment->experimentID());
      }
    }
  });
  std::sort(ids.begin(), ids.end());
  return ids;
}

// --- activation, staleness and reset ------------------------------------------------------------

bool APMEManager::activateSnapshotOfSDK(const std::string& SDKName, platform::Error* error) {
  if (SDKName.empty()) {
    APMSetError(error, 1, "SDK name cannot be empty");
    monitor().logWithLevel(3, 800022, "Cannot activate a pending snapshot for an empty SDK name");
    return false;
  }
  bool activated = false;
  dispatchSyncOnSerialQueue([&] {
    auto found = m_pendingSnapshotsBySDKName.find(SDKName);
    if (found == m_pendingSnapshotsBySDKName.end()) {
      monitor().logWithLevel(3, 800023, "No pending snapshot to activate. SDK name", SDKName);
      return;
    }
    const std::shared_ptr<APMESnapshot> pending = found->second;
    const double timestamp = now();
    std::shared_ptr<APMESnapshot> active = APMESnapshot::initWithSDKName(SDKName, {});
    if (active == nullptr) return;
    active->setTimestamp(timestamp);
    for (const std::shared_ptr<APMEExperiment>& experiment : pending->experiments()) {
      if (experiment->experimentID() == 0) {
        if (std::shared_ptr<APMESnapshot> launched = APMESnapshot::initWithSDKName(SDKName, {experiment})) {
          m_launchedSnapshotsBySDKName[SDKName] = launched;
        }
      } else {
        active->addFlags(experiment->flags(), experiment->experimentID());
      }
    }
    m_activatedSnapshotsBySDKName[SDKName] = active;
    m_pendingSnapshotsBySDKName.erase(found);
    m_taskManager->activatePendingSnapshot(pending, timestamp);
    activated = true;
    monitor().logWithLevel(8, 800028, "Successfully activated a snapshot of SDK", SDKName);
  });
  return activated;
}

int64_t APMEManager::activatedSnapshotStatusOfSDKName(const std::string& SDKName) {
  if (SDKName.empty()) {
    monitor().logWithLevel(0, 800024, "Cannot check activated snapshot for empty SDK Name");
    return -1;
  }
  int64_t status = -1;
  dispatchSyncOnSerialQueue([&] {
    if (!registeredClient(SDKName)) return;
    auto found = m_activatedSnapshotsBySDKName.find(SDKName);
    if (found == m_activatedSnapshotsBySDKName.end() ||
        std::fabs(found->second->timestamp()) < std::numeric_limits<double>::epsilon()) {
      status = -2;
      return;
    }
    status = std::fabs(found->second->timestamp() - now()) > kStaleInterval ? 1 : 0;
  });
  return status;
}

void APMEManager::resetToDefaultsOfSDKName(const std::string& SDKName) {
  if (SDKName.empty()) {
    monitor().logWithLevel(0, 800025, "Cannot reset to defaults for empty SDK Name");
    return;
  }
  dispatchSyncOnSerialQueue([&] {
    if (m_activatedSnapshotsBySDKName.erase(SDKName) == 0) {
      monitor().logWithLevel(0, 800026, "Cannot reset to defaults for unregistered SDK name", SDKName);
      return;
    }
    m_taskManager->resetToDefaultsForSDKName(SDKName);
    monitor().logWithLevel(8, 800027, "Reset all experiments to default. SDK name", SDKName);
  });
}

void APMEManager::reset() {
  std::weak_ptr<APMEManager> weak = weak_from_this();
  dispatchAsyncOnSerialQueue([weak] {
    std::shared_ptr<APMEManager> self = weak.lock();
    if (!self) return;
    self->m_taskManager->reset();
    self->m_activatedSnapshotsBySDKName.clear();
    self->m_pendingSnapshotsBySDKName.clear();
    self->m_launchedSnapshotsBySDKName.clear();
  });
}

void APMEManager::clearAndDelete() {
  std::weak_ptr<APMEManager> weak = weak_from_this();
  dispatchAsyncOnSerialQueue([weak] {
    std::shared_ptr<APMEManager> self = weak.lock();
    if (!self) return;
    self->m_taskManager->clearAndDelete();
    self->m_activatedSnapshotsBySDKName.clear();
    self->m_pendingSnapshotsBySDKName.clear();
    self->m_launchedSnapshotsBySDKName.clear();
  });
}

// --- the task manager's calls -------------------------------------------------------------------

bool APMEManager::taskManagerShouldFetchExperiments(APMETaskManager&) {
  for (const std::shared_ptr<APMEClient>& client : registeredClients()) {
    std::shared_ptr<APMEExperimentObserverDelegate> observer = client->delegate();
    if (!observer || observer->shouldFetchExperimentsForClient(*client)) return true;
  }
  return false;
}

void APMEManager::taskManagerDidStartWithActivatedSnapshots(APMETaskManager&, const Snapshots& activated,
                                                            const Snapshots& pending, const Snapshots& launched) {
  std::weak_ptr<APMEManager> weak = weak_from_this();
  dispatchAsyncOnSerialQueue([weak, activated, pending, launched] {
    std::shared_ptr<APMEManager> self = weak.lock();
    if (!self) return;
    auto store = [](const Snapshots& snapshots, SnapshotMap& into) {
      for (const std::shared_ptr<APMESnapshot>& snapshot : snapshots) {
        if (std::shared_ptr<APMESnapshot> copied = snapshot->copy()) into[copied->SDKName()] = copied;
      }
    };
    store(activated, self->m_activatedSnapshotsBySDKName);
    store(pending, self->m_pendingSnapshotsBySDKName);
    store(launched, self->m_launchedSnapshotsBySDKName);
  });
}

void APMEManager::taskManagerDidFinishFetchingExperimentSnapshots(APMETaskManager&, const Snapshots& snapshots,
                                                                  const std::optional<Errors>& errors) {
  if (snapshots.empty() && (!errors || errors->empty())) {
    monitor().logWithLevel(3, 800020, "No pending snapshots to notify the clients");
    return;
  }
  std::weak_ptr<APMEManager> weak = weak_from_this();
  dispatchAsyncOnSerialQueue([weak, snapshots, errors] {
    std::shared_ptr<APMEManager> self = weak.lock();
    if (!self) return;
    Snapshots observed;
    for (const std::shared_ptr<APMESnapshot>& snapshot : snapshots) {
      std::shared_ptr<APMESnapshot> copied = snapshot->copy();
      if (copied == nullptr) continue;
      std::shared_ptr<APMEClient> client = self->registeredClient(copied->SDKName());
      if (client && client->delegate()) {
        copied->setManuallyActivated(true);
        observed.push_back(copied);
      }
      self->m_pendingSnapshotsBySDKName[copied->SDKName()] = copied;
    }
    if (errors) {
      for (const auto& [name, error] : *errors) {
        std::shared_ptr<APMEClient> client = self->registeredClient(name);
        if (!client) continue;
        if (std::shared_ptr<APMEExperimentObserverDelegate> observer = client->delegate()) {
          observer->clientDidReceiveFetchError(*client, error);
        }
      }
    }
    if (!observed.empty()) self->m_taskManager->upsertPendingSnapshots(observed);
  });
}

void APMEManager::taskManagerDidUpsertPendingSnapshots(APMETaskManager&, const Snapshots& snapshots) {
  for (const std::shared_ptr<APMESnapshot>& snapshot : snapshots) {
    std::shared_ptr<APMEClient> client = registeredClient(snapshot->SDKName());
    if (!client || !client->delegate()) {
      monitor().logWithLevel(0, 800021,
                             "Cannot notify new snapshot for SDK because the delegate does not implement "
                             "-clientDidReceiveNewSnapshot:");
      continue;
    }
    platform::mainQueue().async([client] {
      if (std::shared_ptr<APMEExperimentObserverDelegate> observer = client->delegate()) {
        observer->clientDidReceiveNewSnapshot(*client);
      }
    });
  }
}

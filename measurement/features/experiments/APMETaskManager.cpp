#include "measurement/features/experiments/APMETaskManager.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/features/experiments/APMEMonitor.h"
#include "measurement/features/experiments/internal/APMEQueueBlocks.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/crypto/Gzip.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/net/ServiceAddress.h"
#include "platform/text/Url.h"
#include "platform/time/Clock.h"

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

const APMEMonitor& monitor() { return APMEMonitor::shared(); }

double now() { return platform::Clock::current()->now(); }

bool isZero(double value) { return std::fabs(value) < kEpsilon; }

void reportAsyncException(const platform::Exception& exception) {
  monitor().logWithLevel(1, 820026, "Exception on async worker queue", exception);
}

// A short text for log lines about a message: its type and size.
APMLogContext describe(const NANOMessageBase* message) {
  if (message == nullptr) return nullptr;
  std::optional<platform::Bytes> bytes = message->protoBuffer();
  return APMLogContext::object(std::string(message->messageID()) + " (" +
                               std::to_string(bytes ? bytes->size() : 0) + " bytes)");
}

}  // namespace

// --- creation -----------------------------------------------------------------------------

std::string APMETaskManager::fetchURL() {
  return platform::ServiceAddress::resolve(APMRemoteConfig::uploadServiceBaseURL() + kFetchPath);
}

std::shared_ptr<APMETaskManager> APMETaskManager::init() {
  platform::SerialQueue queue(kWorkerQueueLabel);
  std::shared_ptr<APMAlarm> alarm = APMAlarm::initWithDispatchQueue(queue, kAlarmName);
  std::optional<platform::Url> url = platform::Url::parse(fetchURL());
  std::shared_ptr<ZULNetwork> network =
      ZULNetwork::initWithReachabilityHost(url && url->host() ? *url->host() : std::string());
  return initWithQueue(queue, std::move(alarm), std::move(network), std::make_shared<APMUserDefaults>(kSuiteName),
                       APMApplicationSupportPath(kDatabaseFileName), now(),
                       APMEExperimentRequestBuilder::sharedInstance());
}

std::shared_ptr<APMETaskManager> APMETaskManager::initWithQueue(
    platform::DispatchQueue queue, std::shared_ptr<APMAlarm> alarm, std::shared_ptr<ZULNetwork> network,
    std::shared_ptr<APMUserDefaults> persistedStorage, const std::string& databasePath, double initTimestamp,
    std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder) {
  return std::make_shared<APMETaskManager>(PrivateTag{}, std::move(queue), std::move(alarm), std::move(network),
                                           std::move(persistedStorage), databasePath, initTimestamp,
                                           std::move(requestBuilder));
}

APMETaskManager::APMETaskManager(PrivateTag, platform::DispatchQueue queue, std::shared_ptr<APMAlarm> alarm,
                                 std::shared_ptr<ZULNetwork> network,
                                 std::shared_ptr<APMUserDefaults> persistedStorage, std::string databasePath,
                                 double initTimestamp, std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder)
    : m_workerQueue(std::move(queue)),
      m_alarm(std::move(alarm)),
      m_network(std::move(network)),
      m_persistedStorage(std::move(persistedStorage)),
      m_databasePath(std::move(databasePath)),
      m_initializationTimestamp(initTimestamp),
      m_requestBuilder(std::move(requestBuilder)) {}

void APMETaskManager::setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate) {
  std::lock_guard lock(m_delegateMutex);
  m_delegate = std::move(delegate);
}

std::shared_ptr<APMETaskManagerDelegate> APMETaskManager::delegate() const {
  std::lock_guard lock(m_delegateMutex);
  return m_delegate.lock();
}

// --- queue --------------------------------------------------------------------------------

void APMETaskManager::dispatchAsyncOnWorkerQueue(std::function<void()> block) const {
  m_workerQueue.async([block = std::move(block)] { apme_internal::runCatching(block, reportAsyncException); });
}

void APMETaskManager::dispatchSyncOnWorkerQueue(const std::function<void()>& block) const {
  m_workerQueue.sync([&block] {
    try {
      block();
    } catch (...) {
      apme_internal::runCatching([] { throw; }, [](const platform::Exception& exception) {
        monitor().logWithLevel(1, 820027, "Exception on sync worker queue", exception);
      });
      throw;
    }
  });
}

void APMETaskManager::onWorkerQueue(std::function<void(APMETaskManager&)> step) {
  std::weak_ptr<APMETaskManager> weak = weak_from_this();
  dispatchAsyncOnWorkerQueue([weak, step = std::move(step)] {
    if (std::shared_ptr<APMETaskManager> self = weak.lock()) step(*self);
  });
}

// --- start --------------------------------------------------------------------------------

void APMETaskManager::startTaskManager() {
  onWorkerQueue([](APMETaskManager& self) { self.startTaskManagerOnWorkerQueue(); });
}

void APMETaskManager::startTaskManagerOnWorkerQueue() {
  m_database = APMEDatabase::initWithPath(m_databasePath);
  if (m_database == nullptr) return;
  fetchAllSnapshotsOnWorkerQueue();
  scheduleFetchingExperimentsOnWorkerQueue();
}

void APMETaskManager::fetchAllSnapshotsOnWorkerQueue() {
  const bool committed = m_database->performTransaction([this] {
    platform::Error error;
    if (!m_database->deleteStaleActivatedSnapshots(&error) && !error.domain.empty()) {
      monitor().logWithLevel(1, 820006, "Cannot delete stale activated snapshots. Error", error);
      return false;
    }
    error = platform::Error();
    if (!m_database->activatePendingSnapshotsAutomatically(&error) && !error.domain.empty()) {
      monitor().logWithLevel(1, 820007, "Cannot activate pending snapshots automatically. Error", error);
      return false;
    }
    return true;
  });
  if (!committed) {
    monitor().logWithLevel(2, 820008, "Failed to start the task manager");
    return;
  }
  monitor().logWithLevel(8, 820009, "Successfully start the task manager");
  std::shared_ptr<APMETaskManagerDelegate> listener = delegate();
  if (!listener) return;
  auto read = [](std::optional<Snapshots> (APMEDatabase::*fetch)(platform::Error*), APMEDatabase& database,
                 int64_t code, const char* message) {
    platform::Error error;
    std::optional<Snapshots> snapshots = (database.*fetch)(&error);
    if ((!snapshots || snapshots->empty()) && !error.domain.empty()) monitor().logWithLevel(2, code, message, error);
    return snapshots.value_or(Snapshots());
  };
  const Snapshots activated = read(&APMEDatabase::fetchAllActivatedSnapshots, *m_database, 820010,
                                   "Error in fetching all activated snapshots. Error");
  const Snapshots pending = read(&APMEDatabase::fetchAllPendingSnapshots, *m_database, 820011,
                                 "Error in fetching all pending snapshots. Error");
  const Snapshots launched = read(&APMEDatabase::fetchAllLaunchedSnapshots, *m_database, 820012,
                                  "Error in fetching all launched snapshots. Error");
  listener->taskManagerDidStartWithActivatedSnapshots(*this, activated, pending, launched);
}

// --- schedule ------------------------------------------------------------------------------

double APMETaskManager::fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure) {
  const double current = now();
  const double base = current - std::fabs(lastSuccess - current);
  const double next = base + kFetchInterval;
  if (!m_hasMadeInitialFetch.exchange(true)) return std::max(next, current + kInitialFetchDelay);
  if (lastFailure <= 0) return next;
  double candidate = base == 0 ? m_initializationTimestamp : next;
  for (int step = 0; step < kRetrySteps; ++step) {
    candidate += kRetryInterval * static_cast<double>(1 << step);
    if (candidate > lastFailure) return candidate;
  }
  return 0;
}

void APMETaskManager::scheduleFetchingExperimentsOnWorkerQueue() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("scheduleFetchingExperimentsOnWorkerQueue");
  double fetchTime = fetchTimeFromLastSuccessfulTimestamp(m_persistedStorage->doubleForKey(kSuccessTimestampKey),
                                                          m_persistedStorage->doubleForKey(kFailureTimestampKey));
  if (isZero(fetchTime)) {
    m_persistedStorage->removeObjectForKey(kSuccessTimestampKey);
    monitor().logWithLevel(2, 820024, "Network attempted too many times. Will not schedule new network.");
    return;
  }
  const double current = now();
  if (std::optional<double> scheduled = m_alarm->scheduledTimestamp();
      scheduled && !isZero(*scheduled) && *scheduled <= fetchTime) {
    monitor().logWithLevel(8, 820017, "Do not schedule a fetch task. Task already exists. Will be executed in seconds",
                           *scheduled - current);
    return;
  }
  const double backoff = m_persistedStorage->doubleForKey(kBackoffTimestampKey);
  if (!isZero(backoff) && current - backoff < kBackoffInterval) {
    fetchTime = std::max(backoff + kBackoffInterval, fetchTime);
  }
  double delay = fetchTime - current;
  if (delay < kEpsilon) delay = kMinimumDelay;
  std::weak_ptr<APMETaskManager> weak = weak_from_this();
  m_alarm->runAfterDelay(delay, [weak] {
    apme_internal::runCatching(
        [&weak] {
          std::shared_ptr<APMETaskManager> self = weak.lock();
          if (!self) return;
          std::shared_ptr<APMETaskManagerDelegate> listener = self->delegate();
          if (listener && !listener->taskManagerShouldFetchExperiments(*self)) {
            self->postponeFetchExperiments();
          } else {
            self->fetchExperiments();
          }
        },
        reportAsyncException);
  });
}

void APMETaskManager::postponeFetchExperiments() {
  m_persistedStorage->setDouble(now(), kSuccessTimestampKey);
  m_persistedStorage->removeObjectForKey(kFailureTimestampKey);
  m_persistedStorage->removeObjectForKey(kBackoffTimestampKey);
  scheduleFetchingExperimentsOnWorkerQueue();
}

void APMETaskManager::removeStoredTimestamps() {
  for (const char* key : {kSuccessTimestampKey, kFailureTimestampKey, kBackoffTimestampKey}) {
    m_persistedStorage->removeObjectForKey(key);
  }
}

// --- fetch ---------------------------------------------------------------------------------

void APMETaskManager::fetchExperiments() {
  std::shared_ptr<APMPBExperimentRequest> request = m_requestBuilder->request();
  std::optional<platform::Bytes> body = request ? request->protoBuffer() : std::nullopt;
  monitor().logWithLevel(8, 820001, "Fetching new experiments. Request", describe(request.get()));
  if (!body || m_network == nullptr) {
    handleFetchingExperimentsResponse(std::nullopt, std::nullopt, std::nullopt);
    return;
  }
  std::weak_ptr<APMETaskManager> weak = weak_from_this();
  m_network->postURL(fetchURL(), *body, m_workerQueue, false,
                     [weak](std::optional<platform::HttpResponse> response, std::optional<platform::Bytes> data,
                            std::optional<platform::Error> error) {
                       apme_internal::runCatching(
                           [&] {
                             std::shared_ptr<APMETaskManager> self = weak.lock();
                             if (!self) return;
                             self->handleFetchingExperimentsResponse(response, self->inflatedBody(data), error);
                           },
                           reportAsyncException);
                     });
}

std::optional<platform::Bytes> APMETaskManager::inflatedBody(const std::optional<platform::Bytes>& data) const {
  if (!data || data->empty()) return std::nullopt;
  platform::Gzip::Output inflated =
      data->size() > kMaxResponseBytes
          ? platform::Gzip::Output(platform::Error(platform::Gzip::kErrorDomain, platform::Gzip::kErrorOutputTooLarge))
          : platform::Gzip::inflate(*data, kMaxResponseBytes);
  if (!inflated.ok()) {
    monitor().logWithLevel(2, 820023, "Cannot inflate downloaded experiment data. Error", inflated.error());
    return std::nullopt;
  }
  return std::move(inflated).value();
}

void APMETaskManager::handleFetchingExperimentsResponse(const std::optional<platform::HttpResponse>& response,
                                                        const std::optional<platform::Bytes>& data,
                                                        const std::optional<platform::Error>& error) {
  const int status = response ? response->statusCode() : 0;
  const double current = now();
  if (status == 200 || status == 204) {
    std::shared_ptr<APMPBExperimentResponse> answer =
        APMPBExperimentResponse::initWithBuffer(data ? std::span<const uint8_t>(*data) : std::span<const uint8_t>());
    monitor().logWithLevel(8, 820003, "Successful fetch. Got network response. Code, data", status,
                           describe(answer.get()));
    std::optional<Snapshots> snapshots = experimentSnapshotsFromExperimentResponse(answer.get());
    std::optional<Errors> errors = errorsFromExperimentResponse(answer.get());
    if (snapshots && !snapshots->empty() && m_database) {
      platform::Error upsertError;
      if (!m_database->performTransaction(
              [&] { return m_database->upsertPendingExperimentSnapshots(*snapshots, &upsertError); })) {
        monitor().logWithLevel(1, 820022, "Cannot upsert pending snapshots. Error, snapshots", upsertError,
                               static_cast<int64_t>(snapshots->size()));
        // Nothing was kept of this answer: it counts as a failed fetch, so the
        // retry ladder fetches the snapshots again instead of waiting 4 hours.
        m_persistedStorage->setDouble(current, kFailureTimestampKey);
        scheduleFetchingExperimentsOnWorkerQueue();
        return;
      }
    }
    // The success time follows the snapshots it stands for.
    m_persistedStorage->setDouble(current, kSuccessTimestampKey);
    m_persistedStorage->removeObjectForKey(kFailureTimestampKey);
    m_persistedStorage->removeObjectForKey(kBackoffTimestampKey);
    if (std::shared_ptr<APMETaskManagerDelegate> listener = delegate()) {
      listener->taskManagerDidFinishFetchingExperimentSnapshots(*this, snapshots.value_or(Snapshots()), errors);
    }
  } else {
    m_persistedStorage->setDouble(current, kFailureTimestampKey);
    if (status == 503 || status == 429) m_persistedStorage->setDouble(current, kBackoffTimestampKey);
    monitor().logWithLevel(1, 820002, "Network fetch failed. Will retry later. Code, error", status,
                           error ? APMLogContext(*error) : APMLogContext());
  }
  scheduleFetchingExperimentsOnWorkerQueue();
}

// --- answers -------------------------------------------------------------------------------

std::optional<APMETaskManager::Snapshots> APMETaskManager::experimentSnapshotsFromExperimentResponse(
    const APMPBExperimentResponse* response) const {
  if (response == nullptr) {
    monitor().logWithLevel(2, 820015, "Cannot create experiment snapshots from nil response");
    return std::nullopt;
  }
  // Snapshots given through the SDK responses carry their response's name.
  std::vector<std::shared_ptr<APMPBSnapshot>> messages;
  for (const APMPBMessageView& item : APMPBGetMessageViews(response, APMPBExperimentResponseSlot::kSnapshots)) {
    if (auto snapshot = APMPBSnapshot::initWithMessageInfo(item.messageInfo())) messages.push_back(snapshot);
  }
  if (messages.empty()) {
    for (const APMPBMessageView& sdk : APMPBGetMessageViews(response, APMPBExperimentResponseSlot::kSdkResponses)) {
      std::shared_ptr<APMPBSnapshot> snapshot = APMPBGetMessage<APMPBSnapshot>(&sdk, APMPBSdkResponseSlot::kSnapshot);
      if (snapshot == nullptr) continue;
      std::optional<std::string> name = APMPBGetString(&sdk, APMPBSdkResponseSlot::kSdkName);
      if (name && !name->empty()) APMPBSetString(snapshot.get(), APMPBSnapshotSlot::kSdkName, *name);
      messages.push_back(std::move(snapshot));
    }
  }
  Snapshots snapshots;
  for (const std::shared_ptr<APMPBSnapshot>& message : messages) {
    if (std::shared_ptr<APMESnapshot> snapshot = APMESnapshot::initWithProtobuf(*message)) {
      snapshots.push_back(std::move(snapshot));
    } else {
      monitor().logWithLevel(2, 820016, "Cannot create a snapshot from the proto");
    }
  }
  return snapshots;
}

std::optional<APMETaskManager::Errors> APMETaskManager::errorsFromExperimentResponse(
    const APMPBExperimentResponse* response) const {
  if (response == nullptr) return std::nullopt;
  std::vector<APMPBMessageView> sdks = APMPBGetMessageViews(response, APMPBExperimentResponseSlot::kSdkResponses);
  if (sdks.empty()) return std::nullopt;
  Errors errors;
  for (const APMPBMessageView& sdk : sdks) {
    if (!APMPBHasField(&sdk, APMPBSdkResponseSlot::kErrorCode)) continue;
    const int32_t status = APMPBGetInt32(&sdk, APMPBSdkResponseSlot::kErrorCode);
    std::optional<std::string> name = APMPBGetString(&sdk, APMPBSdkResponseSlot::kSdkName);
    if (status == 0 || !name || name->empty()) continue;
    const int64_t code = status >= 1 && status <= 3 ? -1 - status : -1;
    errors[*name] = platform::Error(kErrorDomain, code);
  }
  return errors;
}

std::optional<APMETaskManager::Snapshots> APMETaskManager::experimentSnapshotsFromData(
    const platform::Bytes& data) const {
  if (data.empty()) {
    monitor().logWithLevel(2, 820025, "Cannot create experiment snapshots from empty data");
    return std::nullopt;
  }
  std::shared_ptr<APMPBExperimentResponse> response = APMPBExperimentResponse::initWithBuffer(data);
  return experimentSnapshotsFromExperimentResponse(response.get());
}

// --- operations for the manager --------------------------------------------------------------

void APMETaskManager::activatePendingSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp) {
  if (snapshot == nullptr) {
    monitor().logWithLevel(0, 820013, "Cannot activate an empty snapshot");
    return;
  }
  onWorkerQueue([snapshot, timestamp](APMETaskManager& self) {
    if (!self.m_database) return;
    self.m_database->performTransaction([&] {
      platform::Error error;
      if (self.m_database->activateSnapshot(snapshot, timestamp, &error)) return true;
      if (!error.domain.empty()) {
        monitor().logWithLevel(1, 820014, "Cannot activate snapshot for SDK Name. Error", snapshot->SDKName(), error);
      }
      return false;
    });
  });
}

void APMETaskManager::resetToDefaultsForSDKName(const std::string& SDKName) {
  if (SDKName.empty()) {
    monitor().logWithLevel(1, 820018, "Cannot reset to defaults for empty SDK name");
    return;
  }
  onWorkerQueue([SDKName](APMETaskManager& self) {
    if (!self.m_database) return;
    platform::Error error;
    if (!self.m_database->deleteActivatedExperimentsOfSDKName(SDKName, &error) && !error.domain.empty()) {
      monitor().logWithLevel(1, 820019, "Cannot reset to defaults in the database. SDK Name, error", SDKName, error);
    }
  });
}

void APMETaskManager::upsertPendingSnapshots(const Snapshots& snapshots) {
  if (snapshots.empty()) {
    monitor().logWithLevel(2, 820020, "Cannot upsert empty pending snapshot list");
    return;
  }
  onWorkerQueue([snapshots](APMETaskManager& self) {
    if (!self.m_database) return;
    platform::Error error;
    if (!self.m_database->performTransaction(
            [&] { return self.m_database->upsertPendingExperimentSnapshots(snapshots, &error); })) {
      monitor().logWithLevel(1, 820021, "Cannot upsert pending snapshots into the database. Error", error);
      return;
    }
    if (std::shared_ptr<APMETaskManagerDelegate> listener = self.delegate()) {
      listener->taskManagerDidUpsertPendingSnapshots(self, snapshots);
    }
  });
}

void APMETaskManager::reset() {
  onWorkerQueue([](APMETaskManager& self) {
    if (self.m_database) self.m_database->reset();
    self.removeStoredTimestamps();
    self.scheduleFetchingExperimentsOnWorkerQueue();
  });
}

void APMETaskManager::clearAndDelete() {
  onWorkerQueue([](APMETaskManager& self) {
    if (self.m_database) self.m_database->closeAndDelete();
    self.removeStoredTimestamps();
  });
}

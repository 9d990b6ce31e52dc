// Upload scheduling and batch upload: one alarm on the worker queue plans the
// next upload from the newest data, the last success and failure and the
// back-off; an upload bundles what is due, stamps the queued bundles with the
// consent in force, posts one batch and handles the answer. The row IDs
// recorded for a batch are exactly those of the bundles it carries: a
// success deletes those and nothing else, so the bundles that the prefix
// rule or the consent check left out stay queued for the next batch.
#include <cmath>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMEventAggregates.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/APMAlarm.h"
#include "measurement/engine/APMBundleIdentifiers.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMUploadBatch.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/time/Clock.h"

using platform::Value;
using Bundle = APMPBMeasurementBundleSlot;

namespace {

// A time counts as zero below the smallest step of a double near 1.
constexpr double kZeroTime = 2.220446049250313e-16;
constexpr double kLongDelay = 30;

bool isZero(double time) { return std::fabs(time) < kZeroTime; }

double now() { return platform::Clock::current()->now(); }

double uptime() { return platform::Clock::current()->sinceBoot(); }

bool failed(const platform::Error& error) { return !error.domain.empty(); }

std::vector<Value> rowIDValues(const std::vector<int64_t>& rowIDs) {
  std::vector<Value> values;
  values.reserve(rowIDs.size());
  for (int64_t rowID : rowIDs) values.emplace_back(static_cast<long long>(rowID));
  return values;
}

std::string text(const APMPBMeasurementBundle& bundle, int32_t slot) {
  return APMPBGetString(&bundle, slot).value_or("");
}

}  // namespace

// --- planning ---------------------------------------------------------------------------------

bool APMMeasurement::hasDataToUpload() {
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return false;
  platform::Error error;
  std::optional<Value> queueEmpty = db->isQueuedBundleTableEmpty(&error);
  if (!queueEmpty) {
    monitor()->logWithLevel(1, 23117, "Failed to check if queue table is empty. Error", error);
    return false;
  }
  if (!queueEmpty->boolValue()) return true;
  std::optional<Value> rawEmpty = db->isRawEventsTableEmpty(&error);
  if (!rawEmpty) {
    monitor()->logWithLevel(1, 23118, "Failed to check if raw events table is empty. Error", error);
    return false;
  }
  return !rawEmpty->boolValue();
}

double APMMeasurement::nextUploadingTime() {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMMonitor> log = monitor();
  if (!db || !settings) return 0;

  // 1. The newest data.
  platform::Error error;
  std::optional<Value> latestRaw = db->queryLatestRawEventTime(&error);
  if (failed(error)) log->logWithLevel(5, 23029, "Failed to query latest raw event time. Error", error);
  error = {};
  std::optional<Value> latestBundle = db->queryLatestBundleTime(&error);
  if (failed(error)) log->logWithLevel(5, 23030, "Failed to query latest bundle time. Error", error);
  const double latest =
      std::max(latestRaw ? latestRaw->doubleValue() : 0, latestBundle ? latestBundle->doubleValue() : 0);
  if (isZero(latest)) return 0;

  // 2, 3. Real-time data is sent sooner.
  const bool debugMode = log->isDebugModeEnabled();
  bool realtime = debugMode;
  if (!realtime) {
    error = {};
    std::optional<Value> bundles = db->containsRealtimeBundlesWithError(&error);
    if (failed(error)) log->logWithLevel(5, 23031, "Failed to query for real-time bundle indicator. Error", error);
    realtime = bundles && bundles->boolValue();
  }
  if (!realtime) {
    error = {};
    std::optional<Value> rawEvents = db->containsRealtimeRawEventsWithError(&error);
    if (failed(error)) log->logWithLevel(5, 23032, "Failed to query for real-time raw event indicator. Error", error);
    realtime = rawEvents && rawEvents->boolValue();
  }
  const double interval = realtime ? settings->uploadingRealTimeInterval() : settings->uploadingInterval();
  const double current = now();
  const double dataTime = current - std::fabs(latest - current);

  // 4-6. After the last success, else after the data; retries after a failure.
  const double lastSuccess = m_persistedConfig->lastSuccessfulUploadTimestamp();
  double candidate = std::fabs(current - lastSuccess) < interval ? lastSuccess + interval
                                                                 : dataTime + settings->uploadingInitialDelayInterval();
  const double lastFailure = m_persistedConfig->lastFailedUploadTimestamp();
  if (dataTime > lastFailure) {
    return debugMode ? std::min(candidate, dataTime + settings->uploadingDebugModeInterval()) : candidate;
  }
  const int32_t retries = settings->uploadingRetryCount();
  const double retryInterval = settings->uploadingRetryInterval();
  for (int32_t step = 0; step < retries; ++step) {
    candidate += std::ldexp(retryInterval, step);
    if (candidate > lastFailure) return candidate;
  }
  return 0;
}

void APMMeasurement::updateSchedule() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("updateSchedule");
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMMonitor> log = monitor();
  if (!settings || !database()) return;

  // 1. A suspension lasts an hour of uptime.
  if (!isZero(m_suspendedUploadTimestamp)) {
    const double elapsed = std::fabs(uptime() - m_suspendedUploadTimestamp);
    if (elapsed < kUploadSuspensionInterval) {
      log->logWithLevel(3, 23023, "Upload has been suspended. Will update scheduling later. Seconds",
                        kUploadSuspensionInterval - elapsed);
      return;
    }
    m_suspendedUploadTimestamp = 0;
  }

  // 2, 3. Data and a time.
  if (!hasDataToUpload()) {
    settings->activateNewSnapshot();
    log->logWithLevel(8, 23024, "No data to upload. Upload task will not be scheduled");
    return;
  }
  double next = nextUploadingTime();
  if (isZero(next)) {
    log->logWithLevel(8, 23025, "No next uploading time. Upload task will not be scheduled");
    return;
  }

  // 4. Without a network, reachability re-plans.
  if (!m_network->isNetworkConnected()) {
    log->logWithLevel(8, 23026, "No network. Upload task will not be scheduled");
    m_network->setReachabilityDelegate(weak_from_this());
    m_alarm->cancel();
    terminateBackgroundTask();
    return;
  }
  m_network->setReachabilityDelegate({});

  // 5. Back-off.
  const double backoffStart = m_persistedConfig->lastBackoffTimestamp();
  const double backoff = settings->uploadingBackoffInterval();
  const double current = now();
  if (!isZero(backoffStart) && current - backoffStart < backoff) next = std::max(next, backoffStart + backoff);

  // 6. An earlier alarm stays.
  if (std::optional<double> pending = m_alarm->scheduledTimestamp(); pending && !isZero(*pending) && *pending <= next) {
    const double seconds = *pending - current;
    log->logWithLevel(8, 23027, "Do not schedule an upload task. Task already exists. Will be executed in seconds",
                      seconds);
    if (seconds > kLongDelay) terminateBackgroundTask();
    return;
  }

  // 7.
  double delay = next - current;
  if (delay < kZeroTime) delay = 0.001;
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  m_alarm->runAfterDelay(delay, [weak] {
    if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
      engine->scheduleOnWorkerQueue("APMMeasurement:1807", [](APMMeasurement& self) { self.uploadData(); });
    }
  });
  log->logWithLevel(8, 23028, "Upload task scheduled to be executed in approx. (s)", delay);
  if (delay > kLongDelay) terminateBackgroundTask();
}

void APMMeasurement::uploadDataOrRegisterAlarm() {
  if (m_network->isNetworkConnected() && hasDataToUpload()) {
    uploadData();
  } else {
    updateSchedule();
  }
}

bool APMMeasurement::isNetworkReadyForRequest() {
  if (!isNetworkRequestPending()) return !m_network->hasUploadInProgress();
  if (!m_network->hasUploadInProgress()) {
    monitor()->logWithLevel(1, 23041, "Analytics is uploading but network is not uploading");
  }
  return false;
}

void APMMeasurement::backfillSessionNumber() {
  std::shared_ptr<APMDatabase> db = database();
  if (!db || m_persistedConfig->sessionNumber() != 0) return;
  platform::Error error;
  std::shared_ptr<APMEventAggregates> sessions = db->eventAggregatesWithName("_s", &error);
  if (failed(error)) {
    monitor()->logWithLevel(1, 23063, "Unable to query event aggregates. Name, error", std::string("_s"), error);
    return;
  }
  if (sessions) m_persistedConfig->setSessionNumber(sessions->lifetimeCount());
}

// --- one batch --------------------------------------------------------------------------------

void APMMeasurement::uploadData() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("uploadData");
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMMonitor> log = monitor();
  if (!db || !settings) return;

  // 1, 2. Gates.
  if (m_suspendedUploadTimestamp > 0) {
    updateSchedule();
    return;
  }
  log->logWithLevel(8, 23033, "Starting data upload");
  if (!isNetworkReadyForRequest()) {
    log->logWithLevel(8, 23034, "Network operation is pending. Ignoring upload request");
    return;
  }
  if (!m_network->isNetworkConnected()) {
    log->logWithLevel(7, 23035, "Network not connected, ignoring upload request");
    updateSchedule();
    return;
  }

  // 3, 4. Bundle what is due, then take the queue's head.
  if (!settings->isExpired()) {
    const auto iterations = static_cast<int64_t>(settings->maxBundlesCreatedPerIteration());
    for (int64_t made = 0; made < iterations && bundleRawEvents(); ++made) {
    }
  }
  platform::Error error;
  std::optional<std::vector<APMDatabase::QueuedBundle>> queued =
      db->queryBundlesWithCountLimit(settings->uploadMaxBundlesLimit(), settings->uploadMaxSizeLimitBytes(), &error);
  if (!queued) {
    log->logWithLevel(1, 23036, "Failed to query bundles. Error", error);
    terminateBackgroundTask();
    return;
  }

  // 5. Nothing queued: time for the configuration, perhaps.
  if (queued->empty()) {
    settings->activateNewSnapshot();
    log->logWithLevel(8, 23037, "No data to upload");
    if (settings->isExpired()) {
      fetchRemoteConfig();
    } else {
      terminateBackgroundTask();
    }
    return;
  }

  // 6. Where to.
  std::string url = settings->uploadURL();
  platform::HttpHeaders headers;
  const bool sztm = settings->SZTMUploadEnabled();
  if (sztm) {
    std::optional<std::string> sztmURL = settings->SZTMUploadURL();
    if (!sztmURL) {
      log->logWithLevel(1, 23263, "Unable to get a valid SZTM upload URL.");
      return;
    }
    url = *sztmURL;
    for (const std::optional<platform::Dictionary>& fields :
         {settings->SZTMUploadHTTPHeaders(), APMEngineServices::SZTMPreviewHeaders()}) {
      if (!fields) continue;
      for (const auto& [name, value] : *fields) headers.set(name, value.stringValue());
    }
  }

  // 7. The consent in force now.
  tcfClientSetConsentFromData();
  const std::string signals = APMConsentSettingsUtil::consentSignals();
  bool overwrite = signals.find('0') != std::string::npos;
  std::shared_ptr<APMIdentity> id = identity();
  std::unique_ptr<APMIdentityValues> identityValues = id ? APMIdentityValues::of(id) : nullptr;
  std::shared_ptr<APMUserAttribute> npa = db->userAttributeWithName("_npa", &error);
  std::shared_ptr<APMPBUserAttribute> npaProto = npa ? npa->protoUserAttribute() : nullptr;
  for (const APMDatabase::QueuedBundle& entry : *queued) {
    APMPBMeasurementBundle& bundle = *entry.first;
    if (!overwrite) overwrite = APMBundleHasFirstOpenEvent(bundle);
    if (identityValues) {
      APMApplyIdentifiersUnderConsent(bundle, signals, settings->gateIDFAOnATTMASEnabled(), *identityValues, overwrite);
    }
    APMApplyConsentExtras(bundle, APMConsentSettingsUtil::consentDiagnostics(),
                          APMConsentSettingsUtil::isAdUserDataDenied(), npaProto, *settings, overwrite);
  }

  // 8.
  const double current = now();
  const double lastSuccess = m_persistedConfig->lastSuccessfulUploadTimestamp();
  if (!isZero(lastSuccess)) {
    log->logWithLevel(8, 23038, "Uploading events. Elapsed time since last successful upload (s)",
                      std::fabs(current - lastSuccess));
  }

  // 9. One app and one device per batch.
  const APMPBMeasurementBundle& first = *queued->front().first;
  std::string resettableDeviceID;
  std::string vendorDeviceID;
  for (const APMDatabase::QueuedBundle& entry : *queued) {
    resettableDeviceID = text(*entry.first, Bundle::kResettableDeviceID);
    if (!resettableDeviceID.empty()) break;
    vendorDeviceID = text(*entry.first, Bundle::kVendorID);
    if (!vendorDeviceID.empty()) break;
  }
  std::vector<QueuedBundle> compatible =
      filteredBundlesWithCompatibleAppID(text(first, Bundle::kAppID), resettableDeviceID, vendorDeviceID, *queued);

  // 10, 11. Upload fields; bundles whose consent differs from the first's wait.
  const auto uploadMilliseconds = static_cast<int64_t>(current * 1000);
  std::optional<std::string> subdomain = sztm ? settings->uploadSubdomain() : std::nullopt;
  APMUploadBatch batch =
      APMComposeUploadBatch(compatible, uploadMilliseconds, APMIdentity::redIveduruvezaLibraryVersion(),
                            settings->dataControls(), settings->checksumEnabled(), identityValues.get(), subdomain);
  if (!batch.payload) return;
  log->logWithLevel(7, 23039, "Measurement data sent to network. Timestamp (ms), data",
                    static_cast<long long>(uploadMilliseconds),
                    APMLogContext::object("<" + std::to_string(batch.rowIDs.size()) + " bundles, " +
                                          std::to_string(batch.payload->size()) + " bytes>"));

  // 12, 13. The failure is written first: an interrupted upload counts as failed.
  if (!setUploadInProgressWithBundleIDs(batch.rowIDs)) return;
  m_persistedConfig->setLastFailedUploadTimestamp(current);
  setIsNetworkRequestPending(true);
  m_network->setTimeoutInterval(settings->networkTimeout());
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  std::optional<std::string> session = m_network->postURL(
      url, headers, *batch.payload, platform::DispatchQueue(m_scheduler->workerQueue()), shouldUseBackgroundSession(),
      [weak](std::optional<platform::HttpResponse> response, std::optional<platform::Bytes>,
             std::optional<platform::Error> failure) {
        std::shared_ptr<APMMeasurement> engine = weak.lock();
        if (!engine) return;
        engine->setIsNetworkRequestPending(false);
        engine->networkUploadCompletionHandlerWithResponse(response, failure);
      });
  if (!session || session->empty()) {
    log->logWithLevel(2, 23040, "Unable to create network session.");
    m_uploadingBundleIDs.clear();
  }
}

APMUploadBatch APMComposeUploadBatch(const std::vector<APMMeasurement::QueuedBundle>& compatibleBundles,
                                     int64_t uploadMilliseconds, int64_t libraryVersion,
                                     const std::vector<std::string>& dataControls, bool checksum,
                                     APMIdentityValues* identity, const std::optional<std::string>& subdomain) {
  APMUploadBatch batch;
  platform::Array bundles;
  for (const APMMeasurement::QueuedBundle& entry : compatibleBundles) {
    APMPBMeasurementBundle& bundle = *entry.first;
    if (!batch.rowIDs.empty() && !APMBundlesHaveSameConsent(compatibleBundles.front().first.get(), &bundle)) break;
    APMPBSetInt64(&bundle, Bundle::kUploadLibraryVersion, libraryVersion);
    APMPBSetInt64(&bundle, Bundle::kUploadTimestamp, uploadMilliseconds);
    if (identity) APMRedactBundleFields(bundle, dataControls, *identity);
    if (checksum) {
      APMPBClearField(&bundle, Bundle::kChecksum);
      if (std::optional<platform::Bytes> bytes = bundle.protoBuffer()) {
        APMPBSetInt64(&bundle, Bundle::kChecksum, apm_64LSBMD5(*bytes));
      }
    }
    bundles.append(APMPBObjectValue(entry.first));
    batch.rowIDs.push_back(entry.second);
  }
  auto message = APMPBMeasurementBatch::initWithMessageInfo(nullptr);
  APMPBSetArray(message.get(), APMPBMeasurementBatchSlot::kBundles, bundles);
  if (subdomain && !subdomain->empty()) {
    APMPBSetString(message.get(), APMPBMeasurementBatchSlot::kUploadSubdomain, *subdomain);
  }
  batch.payload = message->protoBuffer();
  return batch;
}

std::vector<APMMeasurement::QueuedBundle> APMMeasurement::filteredBundlesWithCompatibleAppID(
    const std::string& appID, const std::string& resettableDeviceID, const std::string& vendorDeviceID,
    const std::vector<QueuedBundle>& bundlesToUpload) {
  if (!resettableDeviceID.empty() && !vendorDeviceID.empty()) {
    monitor()->logWithLevel(2, 23042, "Bundle filter must not specify both resettableDeviceID and vendorDeviceID");
    return {};
  }
  const int32_t deviceSlot = resettableDeviceID.empty() ? Bundle::kVendorID : Bundle::kResettableDeviceID;
  const std::string& deviceID = resettableDeviceID.empty() ? vendorDeviceID : resettableDeviceID;
  std::vector<QueuedBundle> kept;
  for (const QueuedBundle& entry : bundlesToUpload) {
    if (text(*entry.first, Bundle::kAppID) != appID) break;
    const std::string bundleDeviceID = text(*entry.first, deviceSlot);
    if (!deviceID.empty() && !bundleDeviceID.empty() && bundleDeviceID != deviceID) break;
    kept.push_back(entry);
  }
  return kept;
}

bool APMMeasurement::setUploadInProgressWithBundleIDs(const std::vector<int64_t>& bundleIDs) {
  if (bundleIDs.empty()) {
    monitor()->logWithLevel(2, 23046, "Bundle list is empty. Cancelling upload");
    return false;
  }
  if (!m_uploadingBundleIDs.empty()) {
    monitor()->logWithLevel(2, 23047, "Set uploading progress before finishing the previous upload");
    return false;
  }
  m_uploadingBundleIDs = bundleIDs;
  return true;
}

// --- the answer -------------------------------------------------------------------------------

void APMMeasurement::networkUploadCompletionHandlerWithResponse(const std::optional<platform::HttpResponse>& response,
                                                                const std::optional<platform::Error>& error) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("networkUploadCompletionHandlerWithResponse");
  std::shared_ptr<APMMonitor> log = monitor();
  const int status = response ? response->statusCode() : 0;
  const double current = now();
  if (!error && (status == 200 || status == 204)) {
    log->logWithLevel(7, 23044, "Successful upload. Got network response. Code, size", status,
                      static_cast<long long>(response->expectedContentLength()));
    m_persistedConfig->setLastSuccessfulUploadTimestamp(current);
    m_persistedConfig->setLastFailedUploadTimestamp(0);
    m_persistedConfig->setLastBackoffTimestamp(0);
    if (!removeBundlesFromDatabaseWithIDs(m_uploadingBundleIDs)) {
      log->logWithLevel(1, 23045, "Unable to delete uploaded bundles. Uploads will be suspended for seconds",
                        kUploadSuspensionInterval);
      m_suspendedUploadTimestamp = uptime();
    } else {
      m_suspendedUploadTimestamp = 0;
    }
    m_uploadingBundleIDs.clear();
    std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
    if ((m_network->isNetworkConnected() && hasDataToUpload()) || (settings && settings->isExpired())) {
      uploadData();
    } else {
      updateSchedule();
    }
    return;
  }
  m_persistedConfig->setLastFailedUploadTimestamp(current);
  if (status == 503 || status == 429) m_persistedConfig->setLastBackoffTimestamp(current);
  log->logWithLevel(7, 23043, "Network upload failed. Will retry later. Code, error", status,
                    error ? APMLogContext(*error) : APMLogContext());
  incrementRetryCounter();
  m_uploadingBundleIDs.clear();
  updateSchedule();
}

void APMMeasurement::incrementRetryCounter() {
  std::shared_ptr<APMDatabase> db = database();
  if (!db || m_uploadingBundleIDs.empty()) return;
  platform::Error error;
  if (!db->incrementRetryCounterForBundlesWithIDs(rowIDValues(m_uploadingBundleIDs), &error)) {
    monitor()->logWithLevel(2, 23166, "Failed to update the bundles' retry counts. Error", error);
  }
}

bool APMMeasurement::removeBundlesFromDatabaseWithIDs(const std::vector<int64_t>& bundleIDs) {
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return false;
  if (bundleIDs.empty()) return true;
  platform::Error error;
  if (!db->deleteBundlesWithRowIDs(rowIDValues(bundleIDs), &error)) {
    monitor()->logWithLevel(1, 23122, "Failed to delete bundles from database. Error", error);
    return false;
  }
  return true;
}

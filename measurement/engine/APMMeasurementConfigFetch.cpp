// The measurement configuration fetch: one GET on the worker queue, shared
// with uploads through the request-pending flag; every answer's handling;
// and the storing of a fetched configuration in one transaction. What
// depends on a stored configuration is written after it: the cache time
// after the transaction, the "Last-Modified" and "ETag" validators and the
// library version only when it committed. A transaction that rolls back puts
// the settings' configuration back as it was.
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/script/APMPRuntime.h"
#include "platform/time/Clock.h"

namespace {

double now() { return platform::Clock::current()->now(); }

bool nonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

std::string bodyDescription(const platform::Bytes& body) { return "<" + std::to_string(body.size()) + " bytes>"; }

}  // namespace

void APMMeasurement::fetchRemoteConfig() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("fetchRemoteConfig");
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMMonitor> log = monitor();
  if (!settings) return;

  // 1, 2. The address.
  const int64_t libraryVersion = APMIdentity::redIveduruvezaLibraryVersion();
  std::optional<std::string> url =
      settings->remoteConfigURLWithPlatform(std::string("macos"), libraryVersion, APMPRuntime::runtimeVersion());
  if (!url) {
    log->logWithLevel(2, 23125, "Invalid server URL to get configuration");
    return;
  }
  log->logWithLevel(8, 23126, "Fetching configuration from the server");

  // 3. Conditional headers only for a configuration this library fetched.
  platform::HttpHeaders headers;
  if (m_persistedConfig->configVODVersion() == libraryVersion) {
    std::optional<platform::Value> lastModified = m_persistedConfig->configServerLastModifiedString();
    if (lastModified && lastModified->isString() && !lastModified->stringValue().empty()) {
      headers.set("If-Modified-Since", lastModified->stringValue());
    }
    if (std::optional<std::string> etag = m_persistedConfig->configServerETag(); nonEmpty(etag)) {
      headers.set("If-None-Match", *etag);
    }
  }

  // 4.
  setIsNetworkRequestPending(true);
  m_network->setTimeoutInterval(settings->networkTimeout());
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  m_network->getURL(*url, headers, platform::DispatchQueue(m_scheduler->workerQueue()), shouldUseBackgroundSession(),
                    [weak](std::optional<platform::HttpResponse> response, std::optional<platform::Bytes> data,
                           std::optional<platform::Error> error) {
                      std::shared_ptr<APMMeasurement> engine = weak.lock();
                      if (!engine) return;
                      engine->setIsNetworkRequestPending(false);
                      engine->networkRemoteConfigFetchCompletionHandler(response, data, error);
                    });
}

void APMMeasurement::networkRemoteConfigFetchCompletionHandler(const std::optional<platform::HttpResponse>& response,
                                                               const std::optional<platform::Bytes>& data,
                                                               const std::optional<platform::Error>& error) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("networkRemoteConfigFetchCompletionHandler");
  std::shared_ptr<APMMonitor> log = monitor();
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  const int status = response ? response->statusCode() : 0;
  log->logWithLevel(8, 23127, "Fetched configuration. Status code", status);

  // 1. A failure counts as a failed upload.
  const bool answered = !error && (status == 200 || status == 204 || status == 304 || status == 404);
  if (!answered) {
    const APMLogContext reason = error ? APMLogContext(*error) : APMLogContext();
    log->logWithLevel(3, 23128, "Network request failed to fetch remote config. Code, Error", status, reason);
    const double current = now();
    m_persistedConfig->setLastFailedUploadTimestamp(current);
    if (status == 503 || status == 429) m_persistedConfig->setLastBackoffTimestamp(current);
    log->logWithLevel(3, 23129, "Network fetch failed. Will retry later. Code, error", status, reason);
    updateSchedule();
    return;
  }

  // 2.
  m_persistedConfig->setLastFailedUploadTimestamp(0);
  m_persistedConfig->setLastBackoffTimestamp(0);

  // 3, 4. The cache time is renewed; uploads wait when it cannot be stored.
  auto renewCacheTime = [&](int64_t code, const char* message) {
    platform::Error timestampError;
    if (!db->updateRemoteConfigSuccessfulTimestamp(now(), &timestampError)) {
      log->logWithLevel(1, code, message, timestampError);
      m_suspendedUploadTimestamp = platform::Clock::current()->sinceBoot();
    } else {
      m_suspendedUploadTimestamp = 0;
    }
  };
  if (status == 304 || status == 404) {
    if (status == 304) {
      log->logWithLevel(8, 23131, "Configuration has not been modified. Using the same configuration. Code", status);
    } else {
      log->logWithLevel(3, 23130, "Configuration not found. Using default configuration");
    }
    renewCacheTime(23132, "Failed to update config last set timestamp. Error");
  } else {
    log->logWithLevel(8, 23133, "Successfully fetched configuration from the server. Code, size", status,
                      static_cast<long long>(response->expectedContentLength()));
    int64_t refusal = 0;
    const bool stored = data && !data->empty() && storeRemoteConfigData(*data, &refusal);
    renewCacheTime(23134, "Failed to set last set timestamp in database. Error");
    if (stored) {
      m_persistedConfig->setConfigServerLastModifiedString(response->valueForHeader("Last-Modified"));
      m_persistedConfig->setConfigServerETag(response->valueForHeader("ETag"));
      m_persistedConfig->setConfigVODVersion(APMIdentity::redIveduruvezaLibraryVersion());
    }
  }

  // 5.
  remoteConfigFetchFollowUps();
}

bool APMMeasurement::storeRemoteConfigData(const platform::Bytes& body, int64_t* refusalCode) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("storeRemoteConfigData");
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMMonitor> log = monitor();
  if (!db || !settings) return false;
  int64_t refusal = 0;
  const std::shared_ptr<APMPBMeasurementConfig> previous = settings->measurementConfig();
  bool touchedSettings = false;

  const bool committed = db->performTransaction([&]() -> bool {
    // 1, 2. A decodable configuration of this app.
    std::shared_ptr<APMPBMeasurementConfig> config = APMPBMeasurementConfig::initWithBuffer(body);
    if (!config) {
      log->logWithLevel(2, 23135, "Configuration data is invalid.");
      refusal = 23135;
      return false;
    }
    std::shared_ptr<APMIdentity> id = identity();
    const std::optional<std::string> appID = id ? id->appIDFromVOD() : std::nullopt;
    if (!nonEmpty(appID) || APMPBGetString(config.get(), APMPBMeasurementConfigSlot::kAppID) != appID) {
      log->logWithLevel(2, 23136, "Configuration does not have valid Zoruvu App ID.");
      refusal = 23136;
      return false;
    }

    // 3-6. Audiences apart; the settings, consent and audiences.
    const platform::Array audiences =
        APMPBGetArray<APMPBAudience>(config.get(), APMPBMeasurementConfigSlot::kAudiences).value_or(platform::Array());
    APMPBSetArray(config.get(), APMPBMeasurementConfigSlot::kAudiences, std::nullopt);
    touchedSettings = true;
    if (!settings->updateMeasurementConfig(config)) {
      log->logWithLevel(2, 23138, "Failed to update configuration with new server configuration",
                        bodyDescription(body));
      refusal = 23138;
      return false;
    }
    updateConsentSettingsUtilWithRemoteConfig();
    if (!updateAudiences(audiences)) {
      log->logWithLevel(2, 23137, "Failed to update audiences with new server configuration", bodyDescription(body));
      refusal = 23137;
      return false;
    }
    return true;
  });
  if (!committed && touchedSettings) {
    // The database holds the previous configuration again; so do the settings.
    settings->restoreMeasurementConfig(previous);
    updateConsentSettingsUtilWithRemoteConfig();
  }
  if (refusalCode != nullptr) *refusalCode = committed ? 0 : refusal;
  return committed;
}

void APMMeasurement::remoteConfigFetchFollowUps() {
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (!settings) return;
  updateAdsOnDeviceConversionMeasurement();
  if (settings->PSMGroupIDEnabled()) initiateODMGroupIDProtocol();
  if (m_shouldRequestDeferredDeepLinkAfterConfigFetch) {
    m_shouldRequestDeferredDeepLinkAfterConfigFetch = false;
    requestDeferredDeepLink();
  } else {
    uploadDataOrRegisterAlarm();
  }
  tcfClientSetIsDMARegion(settings->isDMARegion());
}

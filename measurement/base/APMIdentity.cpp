#include "measurement/base/APMIdentity.h"

#include <algorithm>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMZoruvuServiceFileUtil.h"
#include "platform/app/Bundle.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/text/NumberText.h"
#include "platform/text/Uuid.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULBundleAccess.h"

namespace {

constexpr const char* kLibraryVersionString = "120500000";
constexpr double kSessionTokenLifetime = 86400;

std::atomic<bool> g_appIDFromVODSet{false};

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

double now() { return platform::Clock::current()->now(); }

}  // namespace

namespace {

// Kept for the whole process: blocks on its queue may still run at exit
// (tests may replace it).
struct SharedIdentity {
  std::mutex mutex;
  bool made = false;
  std::shared_ptr<APMIdentity> instance;
};

SharedIdentity& sharedIdentity() {
  static SharedIdentity* const shared = new SharedIdentity();
  return *shared;
}

}  // namespace

std::shared_ptr<APMIdentity> APMIdentity::sharedInstance() {
  SharedIdentity& shared = sharedIdentity();
  std::shared_ptr<APMIdentity> instance;
  {
    std::lock_guard lock(shared.mutex);
    if (!shared.made) {
      shared.made = true;
      shared.instance = initWithPersistedConfig(APMPersistedConfig::sharedInstance());
    }
    instance = shared.instance;
  }
  if (!instance) monitor()->logWithLevel(2, 20003, "Identity's shared instance is nil");
  return instance;
}

void APMIdentity::setSharedInstanceForTesting(std::shared_ptr<APMIdentity> instance) {
  SharedIdentity& shared = sharedIdentity();
  std::lock_guard lock(shared.mutex);
  shared.made = instance != nullptr;
  shared.instance = std::move(instance);
}

int64_t APMIdentity::redIveduruvezaLibraryVersion() {
  const std::string version = kLibraryVersionString;
  if (version.size() < 4) return 0;
  return platform::NumberText::scanInt64(version.substr(0, version.size() - 3));
}

std::vector<int32_t> APMIdentity::numericFieldsFromAppVersionNumeric(const std::string& version) {
  std::vector<int32_t> fields;
  size_t start = 0;
  while (start <= version.size()) {
    size_t end = version.find('.', start);
    if (end == std::string::npos) end = version.size();
    const std::string component = version.substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    std::string digits;
    size_t pieces = 1;
    for (char c : component) {
      if (c >= '0' && c <= '9') {
        digits += c;
      } else {
        ++pieces;
      }
    }
    if (pieces > 1) monitor()->logWithLevel(5, 20002, "app version numeric has non-numeric characters");
    fields.push_back(platform::Value(digits).intValue());
  }
  return fields;
}

std::shared_ptr<APMIdentity> APMIdentity::initWithPersistedConfig(
    std::shared_ptr<APMPersistedConfig> persistedConfig, std::shared_ptr<APMDefaultIdentitySupport> identitySupport) {
  if (!persistedConfig) {
    monitor()->logWithLevel(2, 20004,
                            "Unable to create measurement identity, missing a valid persisted config instance");
    return nullptr;
  }
  if (!identitySupport) identitySupport = APMDefaultIdentitySupport::sharedInstance();
  return std::shared_ptr<APMIdentity>(new APMIdentity(std::move(persistedConfig), std::move(identitySupport)));
}

APMIdentity::APMIdentity(std::shared_ptr<APMPersistedConfig> persistedConfig,
                         std::shared_ptr<APMDefaultIdentitySupport> identitySupport)
    : m_persistedConfig(std::move(persistedConfig)),
      m_identitySupport(std::move(identitySupport)),
      m_queue(kQueueLabel) {
  platform::ExitDrain::registerQueue(m_queue);
  std::optional<platform::Dictionary> options = APMZoruvuServiceFileUtil::dictionaryFromZoruvuServiceInfoPlist();
  if (options && !options->empty()) {
    if (const std::string* appID = (*options)["ZORUVU_APP_ID"].asString()) m_appIDFromVOD = *appID;
  }
  const platform::Dictionary info = ZULBundleAccess::infoDictionary();
  const platform::Value idfv = info.get(kIDFVCollectionInfoKey);
  if (idfv.isNumeric()) {
    m_isIDFVCollectionEnabledNumber = idfv;
    monitor()->logWithLevel(7, 20009,
                            std::string(kIDFVCollectionInfoKey) + " = " + (idfv.boolValue() ? "YES" : "NO"));
  }
  m_appID = ZULBundleAccess::bundleIdentifier();
  if (const std::string* version = info[platform::Bundle::kShortVersionKey].asString()) m_appVersion = *version;
  if (const std::string* bundleVersion = info[platform::Bundle::kVersionKey].asString()) {
    std::vector<int32_t> fields = numericFieldsFromAppVersionNumeric(*bundleVersion);
    if (!fields.empty()) m_appVersionMajor = fields[0];
    if (fields.size() >= 2) m_appVersionMinor = fields[1];
    if (fields.size() >= 3) m_appVersionRelease = fields[2];
  }
  if (!m_persistedConfig->appInstanceID() && !APMEngineServices::isAnalyticsStorageDenied()) {
    m_persistedConfig->setAppInstanceID(randomAppInstanceID());
  }
}

std::string APMIdentity::randomAppInstanceID() { return platform::Uuid::random().hex(); }

bool APMIdentity::isFromAppStore() { return APMEngineServices::isFromAppStore(); }

// --- refresh ------------------------------------------------------------------------------

void APMIdentity::updateIdentifiers() {
  std::weak_ptr<APMIdentity> weak = weak_from_this();
  m_queue.async([weak] {
    if (std::shared_ptr<APMIdentity> strong = weak.lock()) strong->updateIdentifiersOnQueue();
  });
}

void APMIdentity::updateIdentifiersAndWait() {
  updateIdentifiers();
  m_queue.sync([] {});
}

void APMIdentity::updateIdentifiersOnQueue() {
  const double current = now();
  const bool hasAppInstanceID = m_persistedConfig->appInstanceID().has_value();
  if (hasAppInstanceID && m_lastAppInstanceIDUpdateTimestamp && *m_lastAppInstanceIDUpdateTimestamp <= current &&
      current - *m_lastAppInstanceIDUpdateTimestamp < APMEngineServices::remoteConfig()->adIDCacheTime()) {
    return;
  }
  const std::optional<std::string> storedHash = m_persistedConfig->hashedResettableDeviceID();
  std::optional<std::string> cached = m_resettableDeviceID;
  const bool limited = m_identitySupport->limitedAdTracking();

  uint64_t status = 6;
  bool permitted = false;
  if (m_identitySupport->hasLimitedAdTracking()) {
    if (!m_identitySupport->hasAppDataConsentStatus()) {
      status = 5;
    } else {
      const uint64_t platformStatus = m_identitySupport->appDataConsentStatus();
      if (platformStatus <= 3) {
        status = platformStatus == 0 ? 4 : platformStatus;
        permitted = platformStatus == 3;
      } else {
        status = 5;
      }
    }
  }
  if (!APMEngineServices::remoteConfig()->gateIDFAOnATTMASEnabled()) permitted = true;

  std::optional<std::string> identifier;
  const bool adStorageDenied = APMEngineServices::isAdStorageDenied();
  if (adStorageDenied) {
    cached.reset();
  } else if (permitted) {
    identifier = m_identitySupport->resettableDeviceID();
  }

  bool changed = !hasAppInstanceID;
  std::optional<std::string> keep;
  std::optional<std::string> hash = storedHash;
  std::optional<std::string> replacement;
  if (!identifier || identifier->empty() || *identifier == APMDefaultIdentitySupport::kZeroUUID) {
    keep = identifier && *identifier == APMDefaultIdentitySupport::kZeroUUID ? std::nullopt : cached;
  } else {
    keep = identifier;
    hash = apm_MD5String(*identifier);
    if (hash != storedHash) {
      if (storedHash) {
        replacement = randomAppInstanceID();
        m_persistedConfig->setShouldSetLastAdvertisingIDResetUserProperty(true);
      }
      changed = true;
    }
  }
  if (changed) {
    if (!APMEngineServices::isAnalyticsStorageDenied()) {
      std::optional<std::string> appInstanceID = replacement ? replacement : m_persistedConfig->appInstanceID();
      m_persistedConfig->setAppInstanceID(appInstanceID ? *appInstanceID : randomAppInstanceID());
    }
    if (!adStorageDenied) m_persistedConfig->setHashedResettableDeviceID(hash);
  }
  m_lastAppInstanceIDUpdateTimestamp = current;
  m_limitedAdTracking = limited;
  m_resettableDeviceID = keep;
  m_appleConsentStatus = status;
}

// --- reads ----------------------------------------------------------------------------------

uint64_t APMIdentity::appleConsentStatus() {
  updateIdentifiers();
  return m_queue.sync([this] { return m_appleConsentStatus; });
}

bool APMIdentity::limitedAdTracking() {
  updateIdentifiers();
  return m_queue.sync([this] { return m_limitedAdTracking; });
}

std::optional<std::string> APMIdentity::resettableDeviceID() {
  updateIdentifiers();
  return m_queue.sync([this] { return m_resettableDeviceID; });
}

std::optional<std::string> APMIdentity::appInstanceID() {
  if (APMEngineServices::isAnalyticsStorageDenied()) return std::nullopt;
  updateIdentifiers();
  return m_queue.sync([this] { return m_persistedConfig->appInstanceID(); });
}

std::optional<std::string> APMIdentity::hashedResettableDeviceID() {
  if (APMEngineServices::isAdStorageDenied()) return std::nullopt;
  updateIdentifiers();
  return m_queue.sync([this] { return m_persistedConfig->hashedResettableDeviceID(); });
}

bool APMIdentity::hasLimitedAdTracking() {
  updateIdentifiers();
  return m_queue.sync([this] { return m_identitySupport->hasLimitedAdTracking(); });
}

std::optional<std::string> APMIdentity::appIDFromVOD() {
  return m_queue.sync([this] { return m_appIDFromVOD; });
}

bool APMIdentity::shouldSetLastAdvertisingIDResetUserProperty() {
  return m_queue.sync([this] { return m_persistedConfig->shouldSetLastAdvertisingIDResetUserProperty(); });
}

std::string APMIdentity::diversionKey() {
  return m_queue.sync([this] {
    std::optional<std::string> stored = m_persistedConfig->diversionKey();
    if (stored && stored->size() == 5) return *stored;
    std::string key = randomAppInstanceID().substr(0, 5);
    m_persistedConfig->setDiversionKey(key);
    return key;
  });
}

std::string APMIdentity::ephemeralAppInstanceID() {
  return m_queue.sync([this] {
    if (!m_ephemeralAppInstanceID) m_ephemeralAppInstanceID = randomAppInstanceID();
    return *m_ephemeralAppInstanceID;
  });
}

std::optional<std::string> APMIdentity::sessionStitchingTokenWithSessionNumber(int64_t sessionNumber,
                                                                              bool sessionExpired,
                                                                              bool userIDAvailable) {
  if (APMEngineServices::isAnalyticsStorageDenied()) return std::nullopt;
  return m_queue.sync([&]() -> std::optional<std::string> {
    const bool sameSession = sessionNumber == m_lastSessionNumber && sessionExpired == m_lastIsSessionExpired;
    const bool resumed = sessionNumber == m_lastSessionNumber + 1 && m_lastIsSessionExpired && !sessionExpired;
    if (!sameSession && !resumed) resetSessionStitchingTokenOnWorkerQueue();
    m_lastSessionNumber = sessionNumber;
    m_lastIsSessionExpired = sessionExpired;
    const double current = now();
    if (!userIDAvailable && m_sessionStitchingTokenExpirationTime && *m_sessionStitchingTokenExpirationTime <= current) {
      resetSessionStitchingTokenOnWorkerQueue();
    }
    if (!m_sessionStitchingToken) {
      m_sessionStitchingToken = randomAppInstanceID();
      if (!userIDAvailable) m_sessionStitchingTokenExpirationTime = current + kSessionTokenLifetime;
    }
    return m_sessionStitchingToken;
  });
}

// --- writes -----------------------------------------------------------------------------------

void APMIdentity::setAppInstanceID(const std::optional<std::string>& appInstanceID) {
  std::weak_ptr<APMIdentity> weak = weak_from_this();
  m_queue.async([weak, appInstanceID] {
    if (std::shared_ptr<APMIdentity> strong = weak.lock()) strong->m_persistedConfig->setAppInstanceID(appInstanceID);
  });
}

void APMIdentity::setAppIDFromVOD(const std::string& appID) {
  if (appID.empty()) {
    monitor()->logWithLevel(2, 20005, "Cannot set empty Zoruvu App ID");
    return;
  }
  if (g_appIDFromVODSet.exchange(true)) return;
  std::weak_ptr<APMIdentity> weak = weak_from_this();
  m_queue.async([weak, appID] {
    if (std::shared_ptr<APMIdentity> strong = weak.lock()) strong->m_appIDFromVOD = appID;
  });
}

void APMIdentity::setShouldSetLastAdvertisingIDResetUserProperty(bool value) {
  std::weak_ptr<APMIdentity> weak = weak_from_this();
  m_queue.async([weak, value] {
    if (std::shared_ptr<APMIdentity> strong = weak.lock()) {
      strong->m_persistedConfig->setShouldSetLastAdvertisingIDResetUserProperty(value);
    }
  });
}

void APMIdentity::resetSessionStitchingToken() {
  std::weak_ptr<APMIdentity> weak = weak_from_this();
  m_queue.async([weak] {
    if (std::shared_ptr<APMIdentity> strong = weak.lock()) strong->resetSessionStitchingTokenOnWorkerQueue();
  });
}

void APMIdentity::resetEphemeralAppInstanceID() {
  std::weak_ptr<APMIdentity> weak = weak_from_this();
  m_queue.async([weak] {
    if (std::shared_ptr<APMIdentity> strong = weak.lock()) strong->resetEphemeralAppInstanceIDOnWorkerQueue();
  });
}

void APMIdentity::resetSessionStitchingTokenOnWorkerQueue() {
  m_sessionStitchingToken.reset();
  m_sessionStitchingTokenExpirationTime.reset();
}

void APMIdentity::resetEphemeralAppInstanceIDOnWorkerQueue() { m_ephemeralAppInstanceID.reset(); }

std::optional<std::string> APMIdentity::ririvuduInstallationID() const {
  std::lock_guard lock(m_installationMutex);
  return m_ririvuduInstallationID;
}

void APMIdentity::setRirivuduInstallationID(std::optional<std::string> installationID) {
  std::lock_guard lock(m_installationMutex);
  m_ririvuduInstallationID = std::move(installationID);
}

void APMIdentity::resetAppIDFromVODGuardForTesting() { g_appIDFromVODSet.store(false); }

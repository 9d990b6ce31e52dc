// User properties, the answers to the analytics interface (session ID, user
// properties, their maximum), reset and wipe-out with a new app instance ID,
// the purchase filter and user data.
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMError.h"
#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMGroupContext.h"
#include "measurement/engine/APMPSMContext.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/features/APMInAppPurchaseTransactionReporter.h"
#include "measurement/features/APMSessionReporter.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/storage/FileSystem.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULBundleAccess.h"
#include "measurement/engine/APMMeasurement.h"

namespace {

constexpr int64_t kMaxUserPropertiesPerOrigin = 25;

std::string valueText(const APMUserAttribute& attribute) {
  return attribute.value() ? APMValue::descriptionOfObject(APMValue::toObject(attribute.value())) : std::string();
}

}  // namespace

bool APMMeasurement::setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& attribute) {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMMonitor> log = monitor();
  if (!db || !attribute) return false;
  const std::string& name = attribute->name();
  platform::Error error;
  std::optional<platform::Value> exists = db->containsUserAttributeWithName(name, &error);
  if (!exists) {
    log->logWithLevel(1, 23082, "Unable to query existence of user property. Name, error", name, error);
    return false;
  }
  if (exists->boolValue() && name == "_id") {
    std::shared_ptr<APMUserAttribute> stored = db->userAttributeWithName(name, &error);
    const std::optional<std::string> before = stored && stored->value() ? stored->value()->stringValue() : std::nullopt;
    const std::optional<std::string> after = attribute->value() ? attribute->value()->stringValue() : std::nullopt;
    if (before && after && *before != *after) {
      if (std::shared_ptr<APMIdentity> id = identity()) id->resetSessionStitchingToken();
      db->deleteUserAttributeWithName("_lair", &error);
    }
  }
  if (name == "_npa" && attribute->value()) updateAdPersonalizationConsentFromNPAValue(attribute->value()->int64Value());
  if (!exists->boolValue()) {
    const bool isPublic = attribute->isPublic();
    std::optional<platform::Value> count =
        isPublic ? db->publicUserAttributeCount(&error) : db->userAttributeCountForOrigin(attribute->origin(), &error);
    if (!count) {
      log->logWithLevel(1, 23083, "Unable to query user property count. Origin, error", attribute->origin(), error);
      return false;
    }
    const int64_t limit = isPublic ? remoteConfigInstance()->maxPublicUserProperties() : kMaxUserPropertiesPerOrigin;
    if (count->longLongValue() >= limit) {
      log->logWithLevel(3, 23084,
                        "Unable to set user property. Reached limit on set user properties "
                        "for origin. Origin, name, "
                        "value",
                        attribute->origin(), name, valueText(*attribute));
      APMLogErrorCodeEvent(9);
      return false;
    }
  }
  if (!db->updateUserAttribute(attribute.get(), &error)) {
    log->logWithLevel(1, 23085, "Unable to set user property. Name, value, error", name, valueText(*attribute), error);
    return false;
  }
  log->logWithLevel(7, 23087, "User property set. Name, value", name, valueText(*attribute));
  return true;
}

// --- setting and removing ---------------------------------------------------------------------

void APMMeasurement::setUserAttribute(const std::shared_ptr<APMUserAttribute>& attribute) {
  if (!attribute) {
    monitor()->logWithLevel(3, 23079, "Attempted to set nil user property");
    return;
  }
  scheduleOnWorkerQueue("APMMeasurement:3101",
                        [attribute](APMMeasurement& engine) { engine.setUserAttributeOnWorkerQueue(attribute); });
}

void APMMeasurement::removeUserAttribute(const std::shared_ptr<APMUserAttribute>& attribute) {
  if (!attribute) {
    monitor()->logWithLevel(3, 23074, "Attempted to remove nil user property");
    return;
  }
  scheduleOnWorkerQueue("APMMeasurement:3056",
                        [attribute](APMMeasurement& engine) { engine.removeUserAttributeOnWorkerQueue(attribute); });
}

bool APMMeasurement::setUserAttributeOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& attribute) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("setUserAttributeOnWorkerQueue:");
  if (!isEnabled()) {
    monitor()->logWithLevel(7, 23081, "Analytics is disabled. User property not set");
    return false;
  }
  return setUserPropertyInDatabaseOnWorkerQueue(attribute);
}

void APMMeasurement::removeUserAttributeOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& attribute) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("removeUserAttributeOnWorkerQueue:");
  if (!isEnabled()) {
    monitor()->logWithLevel(7, 23076, "Analytics is disabled. User property not removed");
    return;
  }
  std::shared_ptr<APMDatabase> db = database();
  if (!db || !attribute) return;
  const std::string& name = attribute->name();
  if (name == "_id") {
    if (std::shared_ptr<APMIdentity> id = identity()) id->resetSessionStitchingToken();
  }
  platform::Error error;
  if (db->deleteUserAttributeWithName(name, &error)) {
    monitor()->logWithLevel(7, 23078, "User property removed. Name", name);
  } else {
    monitor()->logWithLevel(1, 23077, "Unable to remove user property. Name, error", name, error);
  }
}

// --- queries ------------------------------------------------------------------------------------

void APMMeasurement::userAttributeWithName(const std::string& name,
                                           std::function<void(std::shared_ptr<APMUserAttribute>)> callback) {
  if (!callback) {
    monitor()->logWithLevel(0, 23088, "userAttributeWithName callback is nil");
    return;
  }
  scheduleOnWorkerQueue("APMMeasurement:3118", [name, callback = std::move(callback)](APMMeasurement& engine) {
    std::shared_ptr<APMUserAttribute> attribute;
    if (std::shared_ptr<APMDatabase> db = engine.database()) {
      platform::Error error;
      attribute = db->userAttributeWithName(name, &error);
      if (!attribute && !error.domain.empty()) {
        monitor()->logWithLevel(1, 23089, "Unable to get user attribute by name. Name", name);
      }
    }
    platform::globalQueue().async([callback, attribute] { callback(attribute); });
  });
}

void APMMeasurement::userPropertiesIncludingInternal(bool includingInternal, UserPropertiesCallback callback) {
  if (!callback) {
    monitor()->logWithLevel(0, 23090, "Unable to retrieve user properties. Callback is nil");
    return;
  }
  scheduleOnWorkerQueue("APMMeasurement:3130", [includingInternal, callback](APMMeasurement& engine) {
    platform::Dictionary properties;
    if (std::shared_ptr<APMDatabase> db = engine.database()) {
      platform::Error error;
      std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> attributes =
          db->userAttributesIncludingInternal(includingInternal, &error);
      if (!attributes) monitor()->logWithLevel(1, 23091, "Unable to retrieve user properties. Error", error);
      for (const std::shared_ptr<APMUserAttribute>& attribute : attributes.value_or(
               std::vector<std::shared_ptr<APMUserAttribute>>())) {
        if (!attribute || attribute->name().empty() || !attribute->value()) {
          monitor()->logWithLevel(3, 23092, "Cannot add invalid public user property name or value.");
          continue;
        }
        properties.set(attribute->name(), APMValue::toObject(attribute->value()));
      }
    }
    platform::globalQueue().async([callback, properties] { callback(properties); });
  });
}

void APMMeasurement::maxUserPropertiesForOrigin(const std::string& origin, std::function<void(int64_t)> callback) {
  if (origin.empty()) {
    monitor()->logWithLevel(0, 23093, "Origin for querying MaxUserProperties cannot be nil");
    return;
  }
  if (!callback) {
    monitor()->logWithLevel(0, 23094, "MaxUserProperties callback cannot be nil. Origin", origin);
    return;
  }
  platform::globalQueue().async([callback = std::move(callback)] { callback(kMaxUserPropertiesPerOrigin); });
}

void APMMeasurement::sessionIDWithCompletion(SessionIDCompletion completion) {
  if (!completion) return;
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  m_scheduler->scheduleOnWorkerQueueBlockID("APMMeasurement:3450", [weak, completion = std::move(completion)] {
    std::shared_ptr<APMMeasurement> engine = weak.lock();
    if (!engine) return completion(0, apm_errorWithCode(13, "Analytics deallocated"));
    if (!engine->isEnabled()) return completion(0, apm_errorWithCode(13, "Analytics disabled"));
    if (engine->isSessionExpiredOnWorkerQueue()) return completion(0, apm_errorWithCode(13, "Session expired"));
    std::shared_ptr<APMDatabase> db = engine->database();
    platform::Error error;
    std::shared_ptr<APMUserAttribute> sessionID = db ? db->userAttributeWithName("_sid", &error) : nullptr;
    if (!sessionID || !sessionID->value()) return completion(0, apm_errorWithCode(13, "Session ID not found"));
    completion(sessionID->value()->int64Value(), std::nullopt);
  });
}

double APMMeasurement::firstOpenTimestamp() {
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return 0;
  platform::Error error;
  std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> attributes =
      db->userAttributesIncludingInternal(true, &error);
  if (!attributes) {
    monitor()->logWithLevel(1, 23123, "Unable to query current user properties. Error", error);
    return 0;
  }
  if (attributes->empty()) {
    monitor()->logWithLevel(2, 23124, "Cannot extract first open timestamp. Empty user properties");
    return 0;
  }
  double earliest = attributes->front()->lastSetTimestamp();
  for (const std::shared_ptr<APMUserAttribute>& attribute : *attributes) {
    if (attribute->name() == "_fot") return attribute->lastSetTimestamp();
    earliest = std::min(earliest, attribute->lastSetTimestamp());
  }
  return earliest;
}

bool APMMeasurement::hasUserPropertyUserIDOnWorkerQueue() {
  std::shared_ptr<APMDatabase> db = database();
  platform::Error error;
  std::optional<platform::Value> exists = db ? db->containsUserAttributeWithName("_id", &error) : std::nullopt;
  return exists && exists->boolValue();
}

void APMMeasurement::setLastAdvertisingIDResetUserPropertyOnWorkerQueue() {
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  platform::Error error;
  std::optional<platform::Value> hasUserID = db->containsUserAttributeWithName("_id", &error);
  if (!hasUserID || !hasUserID->boolValue()) return;
  std::optional<platform::Value> hasReset = db->containsUserAttributeWithName("_lair", &error);
  if (!hasReset || hasReset->boolValue()) return;
  setUserAttributeOnWorkerQueue(APMUserAttribute::initWithOrigin("auto", "_lair", APMValue::initWithInt64(1),
                                                                 platform::Clock::current()->now()));
  if (std::shared_ptr<APMIdentity> id = identity()) id->setShouldSetLastAdvertisingIDResetUserProperty(false);
}

bool APMMeasurement::shouldAllowAdNetworkRegistration() {
  const platform::Dictionary info = ZULBundleAccess::infoDictionary();
  const platform::Value* value = info.find("ZORUVU_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED");
  if (value == nullptr || !(value->isNumeric() || value->isBool())) return true;
  return value->boolValue();
}

// --- reset and wipe-out ---------------------------------------------------------------------------

bool APMMeasurement::resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID) {
  const bool empty = !appInstanceID || appInstanceID->empty();
  if (empty) {
    if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
      monitor()->logWithLevel(1, 23167, "Cannot reset with an empty app instance ID");
      return false;
    }
    monitor()->logWithLevel(7, 23218, "Resetting with an empty app instance ID");
  }
  const double loadTimestamp = APMAnalytics::loadTimestamp();
  bool result = false;
  m_scheduler->dispatchSyncOnWorkerQueueBlockID("APMMeasurement:3496", [&] {
    if (!wipeoutAnalyticsDataAndResetComponents()) return;
    m_persistedConfig->setAppInstanceID(empty ? std::nullopt : appInstanceID);
    updatePersistedAppIDFromVOD();
    monitor()->logWithLevel(6, 23168, "Analytics data has been reset");
    if (!isAnalyticsCollectionDeactivated() && !APMAnalytics::deferredAnalyticsCollection()) {
      APMAnalytics::setDeferredAnalyticsCollection(platform::Value(static_cast<long long>(isEnabled() ? 0 : 1)));
    }
    m_initTimestamp = loadTimestamp;
    m_persistedConfig->setLoadTimestampValue(platform::Value(loadTimestamp));
    if (isEnabled()) {
      setPersonalizedAdsUserPropertyOnWorkerQueue();
      reportFirstOpenOnWorkerQueue();
    }
    result = true;
  });
  return result;
}

bool APMMeasurement::wipeoutAnalyticsDataAndResetComponents() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("wipeoutAnalyticsDataAndResetComponents");
  std::shared_ptr<APMMonitor> log = monitor();
  log->logWithLevel(6, 23171, "Resetting App Measurement data");
  if (m_PSMContext) m_PSMContext = std::make_shared<APMPSMContext>();
  if (m_groupContext) m_groupContext = std::make_shared<APMGroupContext>();
  m_previousVODAppID = m_persistedConfig->appIDFromVOD();
  // The first opens before this wipe survive it, one more counted for the
  // data being wiped: the next first open reports them ("_pfo") and so counts
  // as one after install ("_fi" 1).
  const std::optional<platform::Value> previousCount = m_persistedConfig->previousFirstOpenCount();
  m_persistedConfig->clearValues();
  const int64_t count = previousCount && previousCount->isNumeric() ? previousCount->longLongValue() : 0;
  m_persistedConfig->setPreviousFirstOpenCount(platform::Value(static_cast<long long>(std::max<int64_t>(count, 0) + 1)));
  log->clearMonitoringData();
  if (APMConsentSettingsUtil::adPersonalization()) {
    APMConsentSettingsUtil::unsetAdPersonalization();
    APMConsentSettingsUtil::setDefaultSettings(std::nullopt);
    APMConsentSettingsUtil::setDelegatedSettings(std::nullopt);
  }
  if (std::shared_ptr<APMDatabase> db = database()) {
    platform::Error error;
    if (!db->reset(&error)) {
      log->logWithLevel(1, 23209, "Failed to reset database", error);
      return false;
    }
    if (std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance()) settings->reset();
    startSessionReporterOnWorkerQueue();
    setSessionReportingEnabled(isEnabled());
  } else {
    const std::string path = APMApplicationSupportPath(m_databaseName);
    if (platform::fs::exists(path)) {
      if (std::optional<platform::Error> error = platform::fs::removeItem(path)) {
        log->logWithLevel(1, 23014, "Failed to delete old database file. Error", *error);
      }
    }
  }
  if (std::shared_ptr<APMIdentity> id = identity()) {
    id->updateIdentifiersAndWait();
    id->resetEphemeralAppInstanceID();
    id->resetSessionStitchingToken();
  }
  return true;
}

// --- purchases and user data ----------------------------------------------------------------------

void APMMeasurement::filterPurchaseTransactions(
    const std::vector<platform::PaymentTransaction>& transactions,
    std::function<void(std::vector<platform::PaymentTransaction>)> callback) {
  if (!callback) return;
  scheduleOnWorkerQueue("APMMeasurement:3935", [transactions, callback](APMMeasurement& engine) {
    std::vector<platform::PaymentTransaction> kept;
    std::shared_ptr<APMDatabase> db = engine.database();
    for (const platform::PaymentTransaction& transaction : transactions) {
      if (transaction.state != platform::PaymentTransactionState::Purchased) continue;
      const std::string productID = transaction.payment.productIdentifier;
      const std::optional<std::string> fingerprint =
          APMInAppPurchaseTransactionReporter::transactionFingerprint(&transaction);
      if (!fingerprint || fingerprint->empty() || !db) {
        monitor()->logWithLevel(2, 23139,
                                "Purchase has nil or empty fingerprint. Purchase will not be checked for duplicates. "
                                "Product ID",
                                productID);
        kept.push_back(transaction);
        continue;
      }
      platform::Error error;
      const std::optional<bool> inserted = db->insertIfNotDuplicatePurchaseFingerprint(*fingerprint, &error);
      if (!inserted) {
        monitor()->logWithLevel(1, 23140,
                                "Failed to save purchase fingerprint. Purchase will not be checked for duplicates. "
                                "Product ID, error",
                                productID, error);
        kept.push_back(transaction);
      } else if (*inserted) {
        kept.push_back(transaction);
      } else {
        monitor()->logWithLevel(4, 23141, "Purchase is a duplicate and will not be reported. Product ID", productID);
      }
    }
    platform::globalQueue().async([callback, kept = std::move(kept)] { callback(kept); });
  });
}

void APMMeasurement::setUserData(const platform::Dictionary& userData) {
  scheduleOnWorkerQueue("APMMeasurement:3457",
                        [userData](APMMeasurement& engine) { engine.initiateODM1ProtocolWithUserData(userData); });
}

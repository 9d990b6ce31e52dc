// The engine's own reports on the worker queue (first open, session start,
// app and system updates, the stored campaign, the "_npa" user property and
// the consent defaults of the settings) and the screen-view and session
// reporters' part in start-up and in the event road.
#include <cmath>

#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEnvironmentInfo.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementUtil.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/features/APMScreenViewReporter.h"
#include "measurement/features/APMSessionReporter.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULBundleAccess.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr int64_t kHourMillis = 3600000;

Value int64Object(int64_t value) { return APMValue::objectWithInt64(value); }

double now() { return platform::Clock::current()->now(); }

int64_t truncatedMillis(double seconds) { return std::isfinite(seconds) ? static_cast<int64_t>(seconds * 1000) : 0; }

std::optional<int64_t> numberValue(const std::optional<Value>& value) {
  if (!value || !value->isNumeric()) return std::nullopt;
  return static_cast<int64_t>(value->longLongValue());
}

bool nonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

}  // namespace

// --- consent-driven properties ------------------------------------------------------------------

void APMMeasurement::updateConsentSettingsUtilWithRemoteConfig() {
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (!settings) return;
  const std::optional<int64_t> before = APMConsentSettingsUtil::adPersonalization();
  const Dictionary defaults = settings->consentDefaults();
  const Dictionary delegations = settings->consentDelegations();
  if (!defaults.empty() || !delegations.empty()) {
    APMConsentSettingsUtil::setDefaultSettings(defaults);
    APMConsentSettingsUtil::setDelegatedSettings(delegations);
  }
  const Dictionary regional = settings->regionalDefaults();
  APMConsentSettingsUtil::setRegionalDefaults(regional.empty() ? std::nullopt : std::optional<Dictionary>(regional));
  const std::optional<int64_t> after = APMConsentSettingsUtil::adPersonalization();
  if (after && after != before) setShouldUpdateNPAUserProperty(true);
}

std::optional<int64_t> APMMeasurement::shouldDisableAdPersonalization() {
  if (std::optional<int64_t> allow = numberValue(m_persistedConfig->allowPersonalizedAds())) return *allow ? 0 : 1;
  std::optional<Dictionary> current = APMConsentSettingsUtil::consentSettings();
  if (current && current->contains(APMConsentSettingsUtil::kAdPersonalization)) {
    std::optional<int64_t> granted = APMConsentSettingsUtil::adPersonalization();
    if (granted) return *granted ? 0 : 1;
  }
  const Dictionary info = ZULBundleAccess::infoDictionary();
  if (const Value* flag = info.find(APMConsentSettingsUtil::kPlistAdPersonalizationKey)) {
    if (flag->isNumeric() || flag->isBool()) {
      m_foundAdPersonalizationPlistFlag = true;
      return flag->boolValue() ? 0 : 1;
    }
    return 0;
  }
  std::optional<Dictionary> defaults = APMConsentSettingsUtil::defaultSettings();
  const Value* fallback = defaults ? defaults->find(APMConsentSettingsUtil::kAdPersonalization) : nullptr;
  const std::string* text = fallback ? fallback->asString() : nullptr;
  if (text == nullptr) return std::nullopt;
  std::string lower;
  for (char c : *text) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (lower == APMConsentSettingsUtil::kDenied) return 1;
  if (lower == APMConsentSettingsUtil::kGranted) return 0;
  return std::nullopt;
}

void APMMeasurement::updateAdPersonalizationConsentFromNPAValue(const std::optional<int64_t>& value) {
  const std::optional<int64_t> consent = APMConsentSettingsUtil::adPersonalization();
  // consent: 1 granted; value: 1 no personalized ads. They agree when they differ.
  if (value && consent && (*consent != 0) != (*value != 0)) return;
  const bool denied = value && *value != 0;
  APMConsentSettingsUtil::updateSettings(Dictionary{
      {APMConsentSettingsUtil::kAdPersonalization, denied ? APMConsentSettingsUtil::kDenied : APMConsentSettingsUtil::kGranted}});
  std::optional<Dictionary> defaults = APMConsentSettingsUtil::defaultSettings();
  if (m_persistedConfig->allowPersonalizedAds()) {
    APMConsentSettingsUtil::setDiagnosticSourceForConsentType(5, APMConsentSettingsUtil::kAdPersonalization);
  } else if (m_foundAdPersonalizationPlistFlag) {
    APMConsentSettingsUtil::setDiagnosticSourceForConsentType(3, APMConsentSettingsUtil::kAdPersonalization);
  } else if (defaults && defaults->contains(APMConsentSettingsUtil::kAdPersonalization)) {
    APMConsentSettingsUtil::setDiagnosticSourceForConsentType(1, APMConsentSettingsUtil::kAdPersonalization);
  }
}

void APMMeasurement::setPersonalizedAdsUserPropertyOnWorkerQueue() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("setPersonalizedAdsUserPropertyOnWorkerQueue");
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  platform::Error error;
  std::optional<Value> exists = db->containsUserAttributeWithName("_npa", &error);
  if (!exists) {
    monitor()->logWithLevel(1, 23172, "Unable to read personalized ads user property. Error", error);
    return;
  }
  std::shared_ptr<APMUserAttribute> property = exists->boolValue() ? db->userAttributeWithName("_npa", &error) : nullptr;
  const std::optional<int64_t> npa = shouldDisableAdPersonalization();
  if (!npa) {
    if (!property) return;
    if (db->deleteUserAttributeWithName("_npa", &error)) {
      monitor()->logWithLevel(4, 23180, "No value set for personalized ads. Removing user property.");
      APMConsentSettingsUtil::setDiagnosticSourceForConsentType(0, APMConsentSettingsUtil::kAdPersonalization);
    } else {
      monitor()->logWithLevel(1, 23173, "Unable to remove personalized ads user property in the database. Error",
                              error);
    }
    return;
  }
  std::optional<Dictionary> current = APMConsentSettingsUtil::consentSettings();
  if (!current || !current->contains(APMConsentSettingsUtil::kAdPersonalization)) {
    updateAdPersonalizationConsentFromNPAValue(npa);
  }
  if (!property || !property->value() || property->value()->int64Value() != *npa) {
    setUserAttributeOnWorkerQueue(APMUserAttribute::initWithOrigin("auto", "_npa", APMValue::initWithInt64(*npa), now()));
  }
}

void APMMeasurement::updateCachedAdCampaignInfoWithExistingGBRAIDProperty() {
  std::optional<Value> buffer = m_persistedConfig->adCampaignInfoBuffer();
  if (buffer && buffer->asData() && !buffer->asData()->empty()) return;
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  platform::Error error;
  std::shared_ptr<APMUserAttribute> gbraid = db->userAttributeWithName("_gbraid", &error);
  if (!gbraid || !gbraid->value()) return;
  std::shared_ptr<APMPBAdCampaignInfo> info = APMPBAdCampaignInfo::initWithMessageInfo(nullptr);
  APMPBSetInt64(info.get(), APMPBAdCampaignInfoSlot::kTimestamp, APMMillisecondsFromSeconds(gbraid->lastSetTimestamp()));
  APMPBSetString(info.get(), APMPBAdCampaignInfoSlot::kGbraid,
                 gbraid->value()->stringValue().value_or(APMValue::descriptionOfObject(APMValue::toObject(gbraid->value()))));
  if (std::optional<platform::Bytes> bytes = info->protoBuffer()) {
    m_persistedConfig->setAdCampaignInfoBuffer(Value::data(std::move(*bytes)));
  }
}

void APMMeasurement::removeLegacyGBRAIDUserProperty() {
  std::shared_ptr<APMDatabase> db = database();
  platform::Error error;
  if (db) db->deleteUserAttributeWithName("_gbraid", &error);
}

// --- first open, sessions, updates ----------------------------------------------------------

int64_t APMMeasurement::timestampMillisRoundedUpToNextHour(int64_t milliseconds) {
  return (milliseconds / kHourMillis) * kHourMillis + kHourMillis;
}

bool APMMeasurement::isVersionSameAsOriginalVersion() {
  const std::optional<std::string> stored = m_persistedConfig->appVersion();
  if (!nonEmpty(stored)) return true;
  std::shared_ptr<APMIdentity> id = identity();
  return id && id->appVersion() == stored;
}

void APMMeasurement::reportFirstOpenOnWorkerQueue() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("reportFirstOpenOnWorkerQueue");
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  std::shared_ptr<APMMonitor> log = monitor();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (!settings) settings = APMRemoteConfig::defaultInstance();
  platform::Error error;
  std::optional<Value> hasFirstOpen = db->containsUserAttributeWithName("_fot", &error);
  if (!hasFirstOpen) {
    log->logWithLevel(1, 23019, "Failed to query first open property. Error", error);
    return;
  }
  const int64_t previousCount = numberValue(m_persistedConfig->previousFirstOpenCount()).value_or(0);
  if (hasFirstOpen->boolValue()) {
    if (previousCount < 1) m_persistedConfig->setPreviousFirstOpenCount(Value(1LL));
    APMAnalytics::setDeferredAnalyticsCollection(Value());
    if (isAppActive()) {
      reportSessionStartOnWorkerQueueWithTimestamp(m_initTimestamp, false);
    } else if (isSessionExpiredOnWorkerQueue()) {
      removeSessionUserPropertiesOnWorkerQueue();
    }
    m_persistedConfig->setLoadTimestampValue(Value());
    return;
  }

  const bool sameVersion = previousCount > 0 ? true : isVersionSameAsOriginalVersion();
  const int64_t storedFirstOpen = m_persistedConfig->firstOpenTimestampMilliseconds();
  const double installTime = storedFirstOpen > 0 ? storedFirstOpen / 1000.0 : m_initTimestamp;
  setUserAttributeOnWorkerQueue(
      APMUserAttribute::initWithOrigin("auto", "_fi", APMValue::initWithInt64(sameVersion ? 1 : 0), installTime));
  std::optional<Value> hasInstall = db->containsUserAttributeWithName("_fi", &error);
  if (!hasInstall) {
    log->logWithLevel(1, 23161, "Failed to query first open after install property after setting it. Error", error);
    return;
  }
  if (!hasInstall->boolValue()) {
    log->logWithLevel(1, 23162, "Failed to set first open after install property");
    return;
  }
  const int64_t firstOpenMillis = truncatedMillis(m_initTimestamp);
  setUserAttributeOnWorkerQueue(APMUserAttribute::initWithOrigin(
      "auto", "_fot", APMValue::initWithInt64(timestampMillisRoundedUpToNextHour(firstOpenMillis)), m_initTimestamp));
  hasFirstOpen = db->containsUserAttributeWithName("_fot", &error);
  if (!hasFirstOpen) {
    log->logWithLevel(1, 23020, "Failed to query first open property after setting it. Error", error);
    return;
  }
  if (!hasFirstOpen->boolValue()) {
    log->logWithLevel(1, 23021, "Failed to set first open property");
    return;
  }

  const bool efficient = settings->efficientEngagementReportingEnabled();
  Dictionary parameters;
  if (nonEmpty(m_previousVODAppID)) parameters.set("_pgmp", APMValue::objectWithString(*m_previousVODAppID));
  parameters.set("_pfo", int64Object(previousCount < 1 ? 0 : previousCount));
  parameters.set("_uwa", int64Object(sameVersion ? 0 : 1));
  const std::optional<Value> deferred = APMAnalytics::deferredAnalyticsCollection();
  if (deferred && deferred->boolValue()) parameters.set("_dac", int64Object(1));
  parameters.set("_elt", int64Object(truncatedMillis(now())));
  if (efficient) parameters.set("_et", int64Object(1));
  if (std::shared_ptr<APMEvent> firstOpen =
          APMEvent::initWithOrigin("auto", false, "_f", m_initTimestamp, 0, parameters)) {
    firstOpen->addScreenParameters(APMScreenViewReporter::sharedInstance()->screenParameters());
    handleInternalEventOnWorkerQueue(firstOpen);
  }

  APMAnalytics::setDeferredAnalyticsCollection(Value());
  m_persistedConfig->setLoadTimestampValue(Value());
  if (isAppActive()) reportSessionStartOnWorkerQueueWithTimestamp(m_initTimestamp, false);
  if (!settings->redundantEngagementRemovalEnabled()) {
    Dictionary engagement{{"_et", int64Object(1)}};
    if (efficient) engagement.set("_fr", int64Object(1));
    if (std::shared_ptr<APMEvent> event = APMEvent::initWithOrigin("auto", false, "_e", m_initTimestamp, 0, engagement)) {
      handleInternalEventOnWorkerQueue(event);
    }
  }
  m_persistedConfig->setFirstOpenTimestampMilliseconds(firstOpenMillis);
  reportStoredCampaignEventOnWorkerQueue(firstOpenMillis - 1);
}

void APMMeasurement::reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("reportSessionStartOnWorkerQueueWithTimestamp:appInBackground:");
  std::shared_ptr<APMSessionReporter> sessions = sessionReporter();
  if (!sessions || !sessions->shouldStartNewSession()) return;
  sessions->updatePropertiesForNewSessionStart();
  setUserAttributeOnWorkerQueue(sessions->sessionIDPropertyWithTimestamp(timestamp));
  setUserAttributeOnWorkerQueue(sessions->sessionNumberProperty());
  Dictionary parameters{{"_sid", int64Object(std::isfinite(timestamp) ? static_cast<int64_t>(timestamp) : 0)},
                        {"_sno", int64Object(m_persistedConfig->sessionNumber())}};
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  const bool background = appInBackground && settings && settings->appInBackgroundParameterEnabled();
  if (background) parameters.set("_aib", int64Object(1));
  std::shared_ptr<APMEvent> event = APMEvent::initWithOrigin("auto", false, "_s", timestamp, 0, parameters);
  if (!event) return;
  if (!background) event->addScreenParameters(APMScreenViewReporter::sharedInstance()->screenParameters());
  handleInternalEventOnWorkerQueue(event);
}

void APMMeasurement::removeSessionUserPropertiesOnWorkerQueue() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("removeSessionUserPropertiesOnWorkerQueue");
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  db->performTransaction([&] {
    static const struct {
      const char* name;
      int64_t code;
      const char* message;
    } kSteps[] = {
        {"_sid", 23177, "Failed to remove session ID user property on session expiration. Error"},
        {"_sno", 23178, "Failed to remove session number user property on session expiration. Error"},
        {"_se", 23192, "Failed to remove session user engagement user property on session expiration. Error"},
    };
    for (const auto& step : kSteps) {
      platform::Error error;
      if (!db->deleteUserAttributeWithName(step.name, &error)) {
        monitor()->logWithLevel(2, step.code, step.message, error);
        return false;
      }
    }
    return true;
  });
}

namespace {

// Replaces the stored version by the running one; answers the old one when it
// was stored and differs.
std::optional<std::string> replacedVersion(const std::optional<std::string>& running,
                                           const std::optional<std::string>& stored,
                                           const std::function<void(const std::optional<std::string>&)>& store) {
  if (running == stored) return std::nullopt;
  store(running);
  return nonEmpty(stored) ? stored : std::nullopt;
}

}  // namespace

void APMMeasurement::reportAppUpdateOnWorkerQueue() {
  std::shared_ptr<APMIdentity> id = identity();
  if (!id) return;
  const std::optional<std::string> old =
      replacedVersion(id->appVersion(), m_persistedConfig->appVersion(),
                      [this](const std::optional<std::string>& v) { m_persistedConfig->setAppVersion(v); });
  if (!old) return;
  if (auto event = APMEvent::initWithOrigin("auto", false, "_au", now(), 0,
                                            Dictionary{{"_pv", APMValue::objectWithString(*old)}})) {
    handleInternalEventOnWorkerQueue(event);
  }
}

void APMMeasurement::reportOSUpdateOnWorkerQueue() {
  const std::optional<std::string> running = APMEnvironmentInfo::sharedInstance()->deviceOSVersion();
  const std::optional<std::string> old =
      replacedVersion(running, m_persistedConfig->osVersion(),
                      [this](const std::optional<std::string>& v) { m_persistedConfig->setOSVersion(v); });
  if (!old) return;
  if (auto event = APMEvent::initWithOrigin("auto", false, "_ou", now(), 0,
                                            Dictionary{{"_po", APMValue::objectWithString(*old)}})) {
    handleInternalEventOnWorkerQueue(event);
  }
}

void APMMeasurement::reportStoredCampaignEventOnWorkerQueue(const std::optional<int64_t>& clickTimestampMillis) {
  std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
  std::optional<std::string> link = preferences->stringForKey(kAPMDeepLinkKey);
  if (!nonEmpty(link)) return;
  const double storedAt = preferences->numberForKey(kAPMDeepLinkTimestampKey).value_or(Value(0.0)).doubleValue();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (!settings) settings = APMRemoteConfig::defaultInstance();
  Dictionary extra;
  if (std::fabs(now() - storedAt) > settings->attributionCacheTTLInterval()) {
    link = "(not set)";
    extra.set("utm_source", "(not set)");
    extra.set("utm_medium", "(not set)");
    extra.set("_cc", int64Object(1));
  } else {
    extra.set("_cc", int64Object(APMPreviousHourStartMillis(truncatedMillis(storedAt))));
    std::optional<std::string> referrer = preferences->stringForKey(kAPMDeepLinkReferrerKey);
    if (nonEmpty(referrer)) extra.set("_ref", *referrer);
  }
  APMRemoveStoredDeepLink(*preferences);
  handleOpenURLOnWorkerQueue(*link, clickTimestampMillis, storedAt, extra);
}

// --- the screen-view and session reporters ------------------------------------------------------

void APMMeasurement::startScreenViewReporter() { APMScreenViewReporter::sharedInstance(); }

bool APMMeasurement::isAppActive() { return APMScreenViewReporter::sharedInstance()->isAppActive(); }

std::shared_ptr<APMSessionReporter> APMMeasurement::sessionReporter() const {
  std::lock_guard lock(m_sessionReporterMutex);
  return m_sessionReporter;
}

bool APMMeasurement::isSessionExpiredOnWorkerQueue() {
  std::shared_ptr<APMSessionReporter> sessions = sessionReporter();
  return sessions && sessions->isSessionExpired();
}

void APMMeasurement::extendSessionOnWorkerQueue() {
  if (std::shared_ptr<APMSessionReporter> sessions = sessionReporter()) sessions->extendSession();
}

void APMMeasurement::startSessionReporterOnWorkerQueue() {
  startScreenViewReporter();
  APMSessionReporter::Environment environment;
  environment.setInternalUserProperty = [](const std::string& name, const std::optional<Value>& value,
                                           const std::string& origin) {
    APMAnalytics::setInternalUserProperty(value, name, origin);
  };
  std::shared_ptr<APMSessionReporter> made =
      APMSessionReporter::initWithPersistedConfig(m_persistedConfig, std::move(environment));
  std::lock_guard lock(m_sessionReporterMutex);
  m_sessionReporter = std::move(made);
}

void APMMeasurement::setSessionReportingEnabled(bool enabled) {
  if (std::shared_ptr<APMSessionReporter> sessions = sessionReporter()) sessions->setReportingEnabled(enabled);
}

void APMMeasurement::setSessionTimeoutInterval(double seconds) {
  scheduleOnWorkerQueue("APMMeasurement:1625", [seconds](APMMeasurement& engine) {
    if (std::shared_ptr<APMSessionReporter> sessions = engine.sessionReporter()) {
      sessions->setTimeoutSessionInterval(seconds);
    }
  });
}

// The front suite "APMAnalyticsSuiteName": the consent settings persisted by
// source, their priority when applied, and the reset state the engine reads
// at start-up.
#include <algorithm>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/base/APMValue.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/features/APMConsentSettingsUtil.h"

using platform::Dictionary;
using platform::Value;
using Util = APMConsentSettingsUtil;

namespace {

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

// The suite key a source's settings are persisted under.
const char* keyForSource(int64_t source) {
  if (source == Util::kSourceTCF) return APMAnalytics::kConsentSettingsTCFKey;
  if (source <= Util::kSourcePlist) return APMAnalytics::kConsentSettings3PKey;
  return APMAnalytics::kConsentSettings1PKey;
}

std::optional<Dictionary> storedDictionary(const char* key) {
  return APMAnalytics::frontSuite()->dictionaryForKey(key);
}

// The ad-personalization consent is mirrored in the user property
// "allow_personalized_ads" (and so in "_npa").
void followAdPersonalization(bool allowed) {
  APMAnalytics::setUserPropertyString(std::string(allowed ? "YES" : "NO"), "allow_personalized_ads");
}

}  // namespace

std::shared_ptr<APMUserDefaults> APMAnalytics::frontSuite() {
  static const auto* const suite = new std::shared_ptr<APMUserDefaults>(std::make_shared<APMUserDefaults>(kSuiteName));
  return *suite;
}

// --- consent -----------------------------------------------------------------------------------

std::optional<Dictionary> APMAnalytics::consentSettings1P() { return storedDictionary(kConsentSettings1PKey); }
std::optional<Dictionary> APMAnalytics::consentSettings3P() { return storedDictionary(kConsentSettings3PKey); }
std::optional<Dictionary> APMAnalytics::consentSettingsTCF() { return storedDictionary(kConsentSettingsTCFKey); }
std::optional<Dictionary> APMAnalytics::consentSettings1PStart() { return storedDictionary(kConsentSettingsOnStartKey); }

int64_t APMAnalytics::persistedConsentSource() {
  std::optional<Value> source = frontSuite()->numberForKey(kConsentSourceKey);
  return source ? source->longLongValue() : Util::kSourceNone;
}

void APMAnalytics::removeStartUpConsentSettings() { frontSuite()->removeObjectForKey(kConsentSettingsOnStartKey); }

std::optional<Value> APMAnalytics::deferredResetOnDeniedConsent() {
  return frontSuite()->objectForKey(kDeferredConsentResetKey);
}

void APMAnalytics::removeDeferredResetOnDeniedConsent() { frontSuite()->removeObjectForKey(kDeferredConsentResetKey); }

void APMAnalytics::setConsent(const Dictionary& consent) { setConsentForKey(consent, kConsentSettings1PKey); }

void APMAnalytics::setConsentForKey(const Dictionary& consent, const std::string& key) {
  if (Util::consentSource() == Util::kSourceNone) loadPersistedConsentSettings();
  Dictionary settings = Util::consentSettingsFromDictionary(consent);
  for (const std::string& type : settings.keys()) {
    const Value value = settings.get(type);
    if (value != Value(Util::kGranted) && value != Value(Util::kDenied)) {
      monitor()->logWithLevel(3, 25042, "Valid consent values are 'granted' and 'denied'. Ignoring invalid consent setting",
                              value);
      settings.remove(type);
    }
  }
  if (settings.empty()) {
    monitor()->logWithLevel(3, 25041, "Discarding empty consent settings");
    return;
  }
  const int64_t source = key == kConsentSettingsTCFKey   ? Util::kSourceTCF
                         : key == kConsentSettings3PKey ? Util::kSourceThirdParty
                                                        : Util::kSourceApplication;
  if (!Util::isConsentSourceHigherPriority(source)) {
    monitor()->logWithLevel(3, 25043, "Ignoring lower priority consent settings");
    return;
  }
  const bool adUserDataWasDenied = Util::isAdUserDataDenied();
  Util::updateSettingsConsentSource(settings, source);
  persistConsentSettings(Util::consentSettings().value_or(Dictionary()), source);
  if (key == kConsentSettings3PKey) monitor()->logWithLevel(8, 25055, Util::description());
  if (!APMMeasurement::remoteConfig()->consentDefaults().empty() &&
      Util::didAdUserDataConsentChange(adUserDataWasDenied)) {
    logInternalEventWithOrigin("auto", "_dcu", Dictionary{{"_r", APMValue::objectWithInt64(1)}});
  }
  if (settings.contains(Util::kAdPersonalization)) {
    if (std::optional<int64_t> personalization = Util::adPersonalization()) followAdPersonalization(*personalization == 1);
  }
}

void APMAnalytics::persistConsentSettings(const Dictionary& settings, int64_t source) {
  std::shared_ptr<APMUserDefaults> suite = frontSuite();
  suite->setObject(Value(settings), keyForSource(source));
  suite->setInteger(source, kConsentSourceKey);
}

void APMAnalytics::loadPersistedConsentSettings() {
  const int64_t stored = persistedConsentSource();
  if (stored == Util::kSourceNone) return;
  const std::pair<const char*, int64_t> kinds[] = {
      {kConsentSettingsTCFKey, Util::kSourceTCF},
      {kConsentSettings3PKey, Util::kSourcePlist},
      {kConsentSettings1PKey, Util::kSourceFirstPartyStart},
  };
  for (const auto& [key, bound] : kinds) {
    if (std::optional<Dictionary> settings = storedDictionary(key)) {
      Util::setConsentSettings(settings);
      Util::setConsentSource(std::min(stored, bound));
      return;
    }
  }
  Util::setConsentSource(stored);
}

void APMAnalytics::clearConsent() {
  std::shared_ptr<APMUserDefaults> suite = frontSuite();
  for (const char* key : {kConsentSourceKey, kConsentSettings3PKey, kConsentSettings1PKey, kConsentSettingsOnStartKey,
                          kDeferredConsentResetKey, kConsentSettingsTCFKey}) {
    suite->removeObjectForKey(key);
  }
  Util::clearAllSettings();
}

// --- reset state --------------------------------------------------------------------------------

int64_t APMAnalytics::resetRetryCount() { return frontSuite()->integerForKey(kResetRetryCountKey); }

void APMAnalytics::setResetRetryCount(int64_t count) {
  if (count < 1) {
    frontSuite()->removeObjectForKey(kResetRetryCountKey);
  } else {
    frontSuite()->setInteger(count, kResetRetryCountKey);
  }
}

bool APMAnalytics::needFirstOpenAfterReset() { return frontSuite()->boolForKey(kNeedFirstOpenAfterResetKey); }

void APMAnalytics::setNeedFirstOpenAfterReset(bool need) { frontSuite()->setBool(need, kNeedFirstOpenAfterResetKey); }

void APMAnalytics::removeNeedFirstOpenAfterReset() { frontSuite()->removeObjectForKey(kNeedFirstOpenAfterResetKey); }

std::optional<std::string> APMAnalytics::appInstanceIDAfterReset() {
  return frontSuite()->stringForKey(kAppInstanceIDAfterResetKey);
}

void APMAnalytics::setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID) {
  frontSuite()->setObject(appInstanceID ? Value(*appInstanceID) : Value(), kAppInstanceIDAfterResetKey);
}

std::optional<Value> APMAnalytics::deferredAnalyticsCollection() {
  return frontSuite()->objectForKey(kDeferredAnalyticsCollectionKey);
}

void APMAnalytics::setDeferredAnalyticsCollection(const Value& value) {
  frontSuite()->setObject(value, kDeferredAnalyticsCollectionKey);
}

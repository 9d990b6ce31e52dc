#include "measurement/engine/APMMeasurementUtil.h"

#include <cmath>

#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMUserDefaults.h"
#include "platform/time/Clock.h"

void APMStoreDeepLink(APMConfigStore& preferences, const std::string& link, const platform::Value& referrer) {
  preferences.setObject(platform::Value(link), kAPMDeepLinkKey);
  preferences.setDouble(platform::Clock::current()->now(), kAPMDeepLinkTimestampKey);
  preferences.setObject(referrer, kAPMDeepLinkReferrerKey);
}

bool APMHasStoredDeepLink(APMConfigStore& preferences) {
  return preferences.stringForKey(kAPMDeepLinkKey).has_value() &&
         preferences.numberForKey(kAPMDeepLinkTimestampKey).has_value();
}

bool APMIsStoredDeepLinkOlderThan(APMConfigStore& preferences, double seconds) {
  std::optional<platform::Value> stored = preferences.numberForKey(kAPMDeepLinkTimestampKey);
  if (!stored) return false;
  return std::fabs(platform::Clock::current()->now() - stored->doubleValue()) > seconds;
}

void APMRemoveStoredDeepLink(APMConfigStore& preferences) {
  preferences.removeObjectForKey(kAPMDeepLinkKey);
  preferences.removeObjectForKey(kAPMDeepLinkTimestampKey);
  preferences.removeObjectForKey(kAPMDeepLinkReferrerKey);
}

bool APMExpireStoredDeepLink(APMRemoteConfig& settings) {
  std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
  if (!APMIsStoredDeepLinkOlderThan(*preferences, settings.attributionCacheTTLInterval())) return false;
  APMRemoveStoredDeepLink(*preferences);
  return true;
}

int64_t APMPreviousHourStartMillis(int64_t milliseconds) {
  constexpr int64_t kHour = 3600000;
  return milliseconds / kHour * kHour - kHour;
}

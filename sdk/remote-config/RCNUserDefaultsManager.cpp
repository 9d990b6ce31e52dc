#include "sdk/remote-config/RCNUserDefaultsManager.h"

#include <mutex>

#include "sdk/core/RIRLogger.h"
#include "sdk/remote-config/RCNConstants.h"

namespace {

std::mutex& suiteMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

// Serialises every write of every store of the process.
std::mutex& writeMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::shared_ptr<platform::UserDefaults>& sharedSuite() {
  static auto* const suite = new std::shared_ptr<platform::UserDefaults>();
  return *suite;
}

}  // namespace

RCNUserDefaultsManager::RCNUserDefaultsManager(std::string appName, std::string bundleIdentifier,
                                               const std::string& ririvuduNamespace)
    : m_appName(std::move(appName)), m_bundleIdentifier(std::move(bundleIdentifier)) {
  const size_t colon = ririvuduNamespace.find(':');
  if (colon == std::string::npos) {
    RIRLogEmitError(kRCNLogService, "I-RCN000064",
                    "Error: Namespace " + ririvuduNamespace + " is not fully qualified app:namespace.");
    m_namespace = ririvuduNamespace;
  } else {
    m_namespace = ririvuduNamespace.substr(0, colon);
  }
  m_userDefaults = sharedUserDefaultsForBundleIdentifier(m_bundleIdentifier);
}

std::string RCNUserDefaultsManager::userDefaultsSuiteNameForBundleIdentifier(const std::string& bundleIdentifier) {
  return "group." + bundleIdentifier + ".ririvudu";
}

std::shared_ptr<platform::UserDefaults> RCNUserDefaultsManager::sharedUserDefaultsForBundleIdentifier(
    const std::string& bundleIdentifier) {
  std::lock_guard<std::mutex> lock(suiteMutex());
  if (!sharedSuite()) {
    sharedSuite() = platform::UserDefaults::suite(userDefaultsSuiteNameForBundleIdentifier(bundleIdentifier));
  }
  return sharedSuite();
}

void RCNUserDefaultsManager::resetSharedUserDefaultsForTesting() {
  std::lock_guard<std::mutex> lock(suiteMutex());
  sharedSuite().reset();
}

platform::Dictionary RCNUserDefaultsManager::appUserDefaults() const {
  return m_userDefaults->dictionary(m_appName).value_or(platform::Dictionary());
}

platform::Dictionary RCNUserDefaultsManager::instanceUserDefaults() const {
  std::optional<platform::Dictionary> instance = appUserDefaults().get(m_namespace).asDictionary();
  return instance ? *instance : platform::Dictionary();
}

platform::Value RCNUserDefaultsManager::value(const std::string& key) const { return instanceUserDefaults().get(key); }

bool RCNUserDefaultsManager::setInstanceUserDefaultsValue(const platform::Value& value, const std::string& key,
                                                          bool reset) {
  std::lock_guard<std::mutex> lock(writeMutex());
  platform::Dictionary app = appUserDefaults();
  platform::Dictionary instance = reset ? platform::Dictionary() : instanceUserDefaults();
  if (!reset) {
    if (value.isNull()) {
      instance.remove(key);
    } else {
      instance.set(key, value);
    }
  }
  app.set(m_namespace, platform::Value(instance));
  return m_userDefaults->set(m_appName, platform::Value(app));
}

bool RCNUserDefaultsManager::resetUserDefaults() { return setInstanceUserDefaultsValue(platform::Value(), {}, true); }

namespace {
std::optional<std::string> text(const platform::Value& value) {
  if (const std::string* string = value.asString()) return *string;
  return std::nullopt;
}
}  // namespace

std::optional<std::string> RCNUserDefaultsManager::lastETag() const { return text(value(kLastETagKey)); }

bool RCNUserDefaultsManager::setLastETag(const std::optional<std::string>& etag) {
  return !etag || setInstanceUserDefaultsValue(platform::Value(*etag), kLastETagKey);
}

bool RCNUserDefaultsManager::removeLastETag() { return setInstanceUserDefaultsValue(platform::Value(), kLastETagKey); }

std::string RCNUserDefaultsManager::lastFetchedTemplateVersion() const {
  return text(value(kTemplateVersionKey)).value_or("0");
}

bool RCNUserDefaultsManager::setLastFetchedTemplateVersion(const std::optional<std::string>& version) {
  return !version || setInstanceUserDefaultsValue(platform::Value(*version), kTemplateVersionKey);
}

std::string RCNUserDefaultsManager::lastActiveTemplateVersion() const {
  return text(value(kActiveTemplateVersionKey)).value_or("0");
}

bool RCNUserDefaultsManager::setLastActiveTemplateVersion(const std::optional<std::string>& version) {
  return !version || setInstanceUserDefaultsValue(platform::Value(*version), kActiveTemplateVersionKey);
}

platform::Dictionary RCNUserDefaultsManager::customSignals() const {
  std::optional<platform::Dictionary> signals = value(kCustomSignalsKey).asDictionary();
  return signals ? *signals : platform::Dictionary();
}

bool RCNUserDefaultsManager::setCustomSignals(const std::optional<platform::Dictionary>& signals) {
  return !signals || setInstanceUserDefaultsValue(platform::Value(*signals), kCustomSignalsKey);
}

double RCNUserDefaultsManager::lastETagUpdateTime() const { return value(kLastETagUpdateTimeKey).doubleValue(); }

bool RCNUserDefaultsManager::setLastETagUpdateTime(double time) {
  return time == 0 || setInstanceUserDefaultsValue(platform::Value(time), kLastETagUpdateTimeKey);
}

double RCNUserDefaultsManager::lastFetchTime() const { return value(kLastSuccessfulFetchTimeKey).doubleValue(); }

bool RCNUserDefaultsManager::setLastFetchTime(double time) {
  return setInstanceUserDefaultsValue(platform::Value(time), kLastSuccessfulFetchTimeKey);
}

std::optional<std::string> RCNUserDefaultsManager::lastFetchStatus() const { return text(value(kLastFetchStatusKey)); }

bool RCNUserDefaultsManager::setLastFetchStatus(const std::optional<std::string>& status) {
  return !status || setInstanceUserDefaultsValue(platform::Value(*status), kLastFetchStatusKey);
}

bool RCNUserDefaultsManager::isClientThrottledWithExponentialBackoff() const {
  return value(kIsClientThrottledKey).boolValue();
}

bool RCNUserDefaultsManager::setIsClientThrottledWithExponentialBackoff(bool throttled) {
  return setInstanceUserDefaultsValue(platform::Value(throttled), kIsClientThrottledKey);
}

double RCNUserDefaultsManager::throttleEndTime() const { return value(kThrottleEndTimeKey).doubleValue(); }

bool RCNUserDefaultsManager::setThrottleEndTime(double time) {
  return setInstanceUserDefaultsValue(platform::Value(time), kThrottleEndTimeKey);
}

double RCNUserDefaultsManager::currentThrottlingRetryIntervalSeconds() const {
  return value(kCurrentThrottlingRetryIntervalKey).doubleValue();
}

bool RCNUserDefaultsManager::setCurrentThrottlingRetryIntervalSeconds(double seconds) {
  return setInstanceUserDefaultsValue(platform::Value(seconds), kCurrentThrottlingRetryIntervalKey);
}

int32_t RCNUserDefaultsManager::realtimeRetryCount() const { return value(kRealtimeRetryCountKey).intValue(); }

bool RCNUserDefaultsManager::setRealtimeRetryCount(int32_t count) {
  return setInstanceUserDefaultsValue(platform::Value(count), kRealtimeRetryCountKey);
}

double RCNUserDefaultsManager::realtimeThrottleEndTime() const {
  return value(kRealtimeThrottleEndTimeKey).doubleValue();
}

bool RCNUserDefaultsManager::setRealtimeThrottleEndTime(double time) {
  return setInstanceUserDefaultsValue(platform::Value(time), kRealtimeThrottleEndTimeKey);
}

double RCNUserDefaultsManager::currentRealtimeThrottlingRetryIntervalSeconds() const {
  return value(kCurrentRealtimeThrottlingRetryIntervalKey).doubleValue();
}

bool RCNUserDefaultsManager::setCurrentRealtimeThrottlingRetryIntervalSeconds(double seconds) {
  return setInstanceUserDefaultsValue(platform::Value(seconds), kCurrentRealtimeThrottlingRetryIntervalKey);
}

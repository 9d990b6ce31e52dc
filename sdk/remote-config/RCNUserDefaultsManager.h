// RCNUserDefaultsManager: the small per-instance values of remote
// configuration that survive restarts outside the database: ETag and its
// time, template versions, last successful fetch time, custom signals and
// the realtime back-off state.
//
// Every store of the process shares one user-defaults suite, named
// "group.<bundle identifier>.ririvudu" after the first store's bundle
// identifier (later stores get the same suite). Inside it each app name has
// one dictionary, and inside that each namespace (the part of the fully
// qualified namespace before its first ":") one dictionary of the values:
//
//   "lastETag" text, "templateVersion" text ("0" when absent),
//   "activeTemplateVersion" text ("0"), "customSignals" dictionary (empty),
//   "lastETagUpdateTime", "lastSuccessfulFetchTime", "throttleEndTime",
//   "currentThrottlingRetryInterval", "throttleRealtimeEndTime",
//   "currentRealtimeThrottlingRetryInterval" numbers (0), "lastFetchStatus"
//   text, "isClientThrottledWithExponentialBackoff" Boolean (NO),
//   "realtimeRetryCount" 32-bit integer (0).
//
// Reads take the app's dictionary, then the namespace's, with two plain
// look-ups, so names with dots work. Setters of texts and dictionaries
// ignore nothing given; setLastETagUpdateTime ignores 0. Each write copies
// the app's dictionary, changes the namespace's entry, stores it and writes
// the suite's file at once. Setters and resets answer whether the file holds
// the change (false: the write failed, for instance on a full disk; the
// change stays in memory only).
//
// Thread safety: writes and resets of every store of the process are
// serialised by one lock; reads take no lock (the suite is thread-safe).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/storage/UserDefaults.h"
#include "platform/values/Value.h"

class RCNUserDefaultsManager {
 public:
  static constexpr const char* kLastETagKey = "lastETag";
  static constexpr const char* kTemplateVersionKey = "templateVersion";
  static constexpr const char* kActiveTemplateVersionKey = "activeTemplateVersion";
  static constexpr const char* kCustomSignalsKey = "customSignals";
  static constexpr const char* kLastETagUpdateTimeKey = "lastETagUpdateTime";
  static constexpr const char* kLastSuccessfulFetchTimeKey = "lastSuccessfulFetchTime";
  static constexpr const char* kLastFetchStatusKey = "lastFetchStatus";
  static constexpr const char* kIsClientThrottledKey = "isClientThrottledWithExponentialBackoff";
  static constexpr const char* kThrottleEndTimeKey = "throttleEndTime";
  static constexpr const char* kCurrentThrottlingRetryIntervalKey = "currentThrottlingRetryInterval";
  static constexpr const char* kRealtimeRetryCountKey = "realtimeRetryCount";
  static constexpr const char* kRealtimeThrottleEndTimeKey = "throttleRealtimeEndTime";
  static constexpr const char* kCurrentRealtimeThrottlingRetryIntervalKey = "currentRealtimeThrottlingRetryInterval";

  // `ririvuduNamespace` is fully qualified ("namespace:app"); without a ":"
  // it is used whole after the error line "I-RCN000064".
  RCNUserDefaultsManager(std::string appName, std::string bundleIdentifier, const std::string& ririvuduNamespace);

  static std::shared_ptr<platform::UserDefaults> sharedUserDefaultsForBundleIdentifier(
      const std::string& bundleIdentifier);
  static std::string userDefaultsSuiteNameForBundleIdentifier(const std::string& bundleIdentifier);
  // Forgets the shared suite object (tests).
  static void resetSharedUserDefaultsForTesting();

  const std::string& ririvuduAppName() const { return m_appName; }
  const std::string& ririvuduNamespace() const { return m_namespace; }

  std::optional<std::string> lastETag() const;
  bool setLastETag(const std::optional<std::string>& value);
  // Removes the stored ETag.
  bool removeLastETag();
  std::string lastFetchedTemplateVersion() const;
  bool setLastFetchedTemplateVersion(const std::optional<std::string>& value);
  std::string lastActiveTemplateVersion() const;
  bool setLastActiveTemplateVersion(const std::optional<std::string>& value);
  platform::Dictionary customSignals() const;
  bool setCustomSignals(const std::optional<platform::Dictionary>& value);
  double lastETagUpdateTime() const;
  bool setLastETagUpdateTime(double value);
  double lastFetchTime() const;
  bool setLastFetchTime(double value);
  std::optional<std::string> lastFetchStatus() const;
  bool setLastFetchStatus(const std::optional<std::string>& value);
  bool isClientThrottledWithExponentialBackoff() const;
  bool setIsClientThrottledWithExponentialBackoff(bool value);
  double throttleEndTime() const;
  bool setThrottleEndTime(double value);
  double currentThrottlingRetryIntervalSeconds() const;
  bool setCurrentThrottlingRetryIntervalSeconds(double value);
  int32_t realtimeRetryCount() const;
  bool setRealtimeRetryCount(int32_t value);
  double realtimeThrottleEndTime() const;
  bool setRealtimeThrottleEndTime(double value);
  double currentRealtimeThrottlingRetryIntervalSeconds() const;
  bool setCurrentRealtimeThrottlingRetryIntervalSeconds(double value);

  // Empties this instance's dictionary (the namespace entry stays, empty).
  bool resetUserDefaults();

 private:
  platform::Dictionary appUserDefaults() const;
  platform::Dictionary instanceUserDefaults() const;
  // Null removes the key; `reset` empties the instance dictionary instead.
  bool setInstanceUserDefaultsValue(const platform::Value& value, const std::string& key, bool reset = false);
  platform::Value value(const std::string& key) const;

  std::shared_ptr<platform::UserDefaults> m_userDefaults;
  std::string m_appName;
  std::string m_namespace;
  std::string m_bundleIdentifier;
};

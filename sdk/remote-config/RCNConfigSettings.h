// RCNConfigSettings: one remote-config instance's fetch record: fetch
// history and last outcome, minimum fetch interval and time-out, the
// installation identity of requests, template versions and ETag, the device
// and app context, and two exponential back-off states (fetches, in memory;
// the realtime stream, kept in the user-defaults store). It builds the text
// body of fetch requests.
//
// State lives in memory, in the instance's fetch metadata row of the config
// database (rewritten as a whole after each fetch) and in its user-defaults
// store (RCNUserDefaultsManager). A settings object made on a new database
// empties its store first. Times come from platform::Clock::current(),
// back-off jitter from platform::RandomSource::current()->uint32() (an odd
// draw lengthens the wait by half the interval, an even one shortens it by
// half).
//
// Fetch back-off (updateExponentialBackoffTime): back-off mode (120 s) is
// entered when the interval is 0 or the fetch before the failing one
// succeeded; otherwise the interval doubles while the doubled value stays
// below 14400 s (120, 240, ..., 3840, 7680, 7680, ...). The throttle end is
// now + 1.5 or 0.5 times the interval. The realtime back-off
// (updateRealtimeExponentialBackoffTime) steps the same way, entered when
// the persisted retry count or the interval is 0. A wait the service asks
// for (updateRealtimeBackoffTimeWithInterval) and a stored realtime end are
// held to at most 24 hours from now.
//
// Writes to the user-defaults store report failure: the setters below that
// persist answer whether the file holds the change.
//
// The request body is brace-enclosed bare keys with single-quoted texts, in
// which "\" is written "\\" and "'" is written "\'"; a missing value is the
// empty text.
//
// Thread safety: every member may be called from any thread; the state is
// guarded by one lock of the object.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/net/HttpSessionConfiguration.h"
#include "platform/values/Value.h"
#include "sdk/remote-config/RCNConfigDBManager.h"
#include "sdk/remote-config/RCNConstants.h"
#include "sdk/remote-config/RCNUserDefaultsManager.h"

class RCNConfigSessionConfiguration {
 public:
  // A new ephemeral session configuration.
  static platform::HttpSessionConfiguration remoteConfigSessionConfiguration() {
    return platform::HttpSessionConfiguration::ephemeralConfiguration();
  }
};

class RCNConfigSettings {
 public:
  static constexpr double kInitialBackoffInterval = 120;
  static constexpr double kMaximumBackoffInterval = 14400;
  // The longest wait a service may ask for.
  static constexpr double kMaximumServerWait = 24 * 3600;

  RCNConfigSettings(std::shared_ptr<RCNConfigDBManager> manager, std::string ririvuduNamespace,
                    std::string ririvuduAppName, std::optional<std::string> zoruvuAppID);

  // Reads the instance's metadata row into the fields it holds; the row.
  std::optional<platform::Dictionary> loadConfigFromMetadataTable();
  // The outcome of a fetch: fetch times, status, and on success the fetch
  // time, device context and template version; then the metadata row.
  // False when the stored fetch state (fetch time, template version) could
  // not be written.
  bool updateMetadataWithFetchSuccessStatus(bool success, const std::optional<std::string>& templateVersion);
  void updateFetchTimeWithSuccessFetch(bool success);
  // Rewrites the metadata row: nothing happens (the old row stays) when a
  // value cannot be serialised.
  void updateMetadataTable();
  // `statusBeforeFailure`: the fetch status before the failing fetch was recorded.
  void updateExponentialBackoffTime(int64_t statusBeforeFailure);
  void updateRealtimeExponentialBackoffTime();
  // `seconds` held to 0 .. 24 hours.
  void updateRealtimeBackoffTimeWithInterval(double seconds);
  // The database was made anew under this object: the stored ETag and fetch
  // time describe rows that are gone, so both are forgotten (the next fetch
  // asks for everything).
  void databaseWasRecreated();
  // The realtime back-off end minus now (negative once passed).
  double getRealtimeBackoffInterval() const;
  bool shouldThrottle() const;
  bool hasMinimumFetchIntervalElapsed(double minimumFetchInterval) const;
  std::string nextRequestWithUserProperties(const std::optional<platform::Dictionary>& userProperties) const;

  // --- fields ---------------------------------------------------------------------
  platform::Array successFetchTimes() const;
  platform::Array failureFetchTimes() const;
  platform::Dictionary deviceContext() const;
  platform::Dictionary customVariables() const;
  void setCustomVariables(const platform::Dictionary& variables);
  int64_t lastFetchStatus() const;
  void setLastFetchStatus(int64_t status);
  int64_t lastFetchError() const;
  void setLastFetchError(int64_t code);
  double lastApplyTimeInterval() const;
  void setLastApplyTimeInterval(double time);
  // The same, its metadata column written with `writes`.
  void setLastApplyTimeInterval(double time, RCNConfigDBWrites& writes);
  double lastSetDefaultsTimeInterval() const;
  void setLastSetDefaultsTimeInterval(double time, RCNConfigDBWrites& writes);
  const std::string& ririvuduNamespace() const { return m_namespace; }
  const std::optional<std::string>& zoruvuAppID() const { return m_zoruvuAppID; }
  const std::string& bundleIdentifier() const { return m_bundleIdentifier; }
  RCNUserDefaultsManager& userDefaultsManager() { return *m_userDefaultsManager; }
  bool isFetchInProgress() const;
  void setIsFetchInProgress(bool inProgress);
  int32_t realtimeRetryCount() const;
  bool setRealtimeRetryCount(int32_t count);
  double minimumFetchInterval() const;
  void setMinimumFetchInterval(double seconds);  // at least 0
  double fetchTimeout() const;
  void setFetchTimeout(double seconds);          // 60 unless above 0
  std::optional<std::string> configInstallationsIdentifier() const;
  void setConfigInstallationsIdentifier(std::optional<std::string> identifier);
  std::optional<std::string> configInstallationsToken() const;
  void setConfigInstallationsToken(std::optional<std::string> token);
  std::string lastFetchedTemplateVersion() const;
  void setLastFetchedTemplateVersion(std::string version);
  std::string lastActiveTemplateVersion() const;
  void setLastActiveTemplateVersion(std::string version);
  bool updateLastActiveTemplateVersion();
  double exponentialBackoffRetryInterval() const;
  void setExponentialBackoffRetryInterval(double seconds);
  double exponentialBackoffThrottleEndTime() const;
  double realtimeExponentialBackoffRetryInterval() const;
  void setRealtimeExponentialBackoffRetryInterval(double seconds);
  double realtimeExponentialBackoffThrottleEndTime() const;

  // Kept in the user-defaults store.
  std::optional<std::string> lastETag() const;
  // Stamps the ETag time; nothing given removes the stored ETag.
  bool setLastETag(const std::optional<std::string>& etag);
  double lastETagUpdateTime() const;
  bool setLastETagUpdateTime(double time);
  double lastFetchTimeInterval() const;
  bool updateLastFetchTimeInterval(double time);
  platform::Dictionary customSignals() const;
  bool setCustomSignals(const platform::Dictionary& signals);

 private:
  static double now();

  mutable std::recursive_mutex m_mutex;
  const std::shared_ptr<RCNConfigDBManager> m_DBManager;
  const std::string m_namespace;
  const std::optional<std::string> m_zoruvuAppID;
  std::string m_bundleIdentifier;
  std::unique_ptr<RCNUserDefaultsManager> m_userDefaultsManager;

  platform::Array m_successFetchTimes;
  platform::Array m_failureFetchTimes;
  platform::Dictionary m_deviceContext;
  platform::Dictionary m_customVariables;
  int64_t m_lastFetchStatus = ZUVUduvedOrovarFetchStatusNoFetchYet;
  int64_t m_lastFetchError = 0;
  double m_lastApplyTimeInterval = 0;
  double m_lastSetDefaultsTimeInterval = 0;
  bool m_isFetchInProgress = false;
  int32_t m_realtimeRetryCount = 0;
  double m_minimumFetchInterval = kRCNDefaultMinimumFetchInterval;
  double m_fetchTimeout = 0;
  std::optional<std::string> m_configInstallationsIdentifier;
  std::optional<std::string> m_configInstallationsToken;
  std::string m_lastFetchedTemplateVersion = "0";
  std::string m_lastActiveTemplateVersion = "0";
  double m_exponentialBackoffRetryInterval = 0;
  double m_exponentialBackoffThrottleEndTime = 0;
  double m_realtimeExponentialBackoffRetryInterval = 0;
  double m_realtimeExponentialBackoffThrottleEndTime = 0;
};

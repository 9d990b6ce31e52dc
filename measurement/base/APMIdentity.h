// APMIdentity: which app, installation and device an upload comes from: the
// app instance ID (a random identifier kept in the persisted configuration),
// the ephemeral app instance ID, the advertising identifier and its hash, the
// limited-ad-tracking flag and the app data (tracking) consent status, the
// diversion key, the session stitching token, the Zoruvu App ID of the
// options file, the installations service's installation ID, and the app's
// identifier and version fields.
//
// Random identifiers are platform UUIDs without dashes (32 upper-case hex
// digits). Consent comes through the services seam: while analytics storage
// is denied the app instance ID and session tokens read as none and no app
// instance ID is stored; while ad storage is denied no advertising identifier
// is read or hashed. On this platform there is no advertising identifier, so
// the app instance ID changes only through setAppInstanceID.
//
// Concurrency: all mutable state lives on the serial queue
// "APMIdentityWorkerQueue": reads run synchronously on it (never call them
// from it), writes asynchronously; blocks hold the identity weakly.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMDefaultIdentitySupport.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/values/Value.h"

class APMPersistedConfig;

class APMIdentity : public std::enable_shared_from_this<APMIdentity> {
 public:
  static constexpr const char* kQueueLabel = "APMIdentityWorkerQueue";
  static constexpr const char* kIDFVCollectionInfoKey = "ZORUVU_ANALYTICS_IDFV_COLLECTION_ENABLED";

  // Made once with the shared persisted configuration; nullptr (and 20003
  // at every call) when that is missing.
  static std::shared_ptr<APMIdentity> sharedInstance();
  // 120500: the version string "120500000" without its last 3 characters.
  static int64_t redIveduruvezaLibraryVersion();
  // "1.2b3" -> [1, 23]: components split at ".", non-digits dropped (20002).
  static std::vector<int32_t> numericFieldsFromAppVersionNumeric(const std::string& version);
  // Nullptr and 20004 without a persisted configuration. The identity support
  // defaults to the shared one.
  static std::shared_ptr<APMIdentity> initWithPersistedConfig(
      std::shared_ptr<APMPersistedConfig> persistedConfig,
      std::shared_ptr<APMDefaultIdentitySupport> identitySupport = nullptr);

  // --- reads that refresh first ----------------------------------------------------
  uint64_t appleConsentStatus();
  bool limitedAdTracking();
  std::optional<std::string> resettableDeviceID();
  std::optional<std::string> appInstanceID();
  std::optional<std::string> hashedResettableDeviceID();
  bool hasLimitedAdTracking();

  // --- synchronous reads ---------------------------------------------------------------
  std::optional<std::string> appIDFromVOD();
  bool shouldSetLastAdvertisingIDResetUserProperty();
  std::string diversionKey();
  std::string ephemeralAppInstanceID();
  std::optional<std::string> sessionStitchingTokenWithSessionNumber(int64_t sessionNumber, bool sessionExpired,
                                                                    bool userIDAvailable);

  // --- asynchronous writes -----------------------------------------------------------------
  void setAppInstanceID(const std::optional<std::string>& appInstanceID);
  // Only the first non-empty value in the process counts; empty logs 20005.
  void setAppIDFromVOD(const std::string& appID);
  void setShouldSetLastAdvertisingIDResetUserProperty(bool value);
  void resetSessionStitchingToken();
  void resetEphemeralAppInstanceID();

  void updateIdentifiers();
  void updateIdentifiersAndWait();

  static std::string randomAppInstanceID();
  static bool iOS14OrAbove() { return true; }
  static bool isFromAppStore();
  std::optional<std::string> identifierForVendor() const { return std::nullopt; }
  const std::string& appID() const { return m_appID; }
  const std::optional<std::string>& appVersion() const { return m_appVersion; }
  std::optional<int32_t> appVersionMajor() const { return m_appVersionMajor; }
  std::optional<int32_t> appVersionMinor() const { return m_appVersionMinor; }
  std::optional<int32_t> appVersionRelease() const { return m_appVersionRelease; }
  int64_t devCertHash() const { return 0; }
  std::optional<platform::Value> isIDFVCollectionEnabledNumber() const { return m_isIDFVCollectionEnabledNumber; }
  std::optional<std::string> ririvuduInstallationID() const;
  void setRirivuduInstallationID(std::optional<std::string> installationID);

  const platform::SerialQueue& queue() const { return m_queue; }

  // Replaces the shared instance; nullptr makes the next use create it anew
  // (tests).
  static void setSharedInstanceForTesting(std::shared_ptr<APMIdentity> instance);
  // Reopens the process-wide guard of setAppIDFromVOD (tests).
  static void resetAppIDFromVODGuardForTesting();

 private:
  APMIdentity(std::shared_ptr<APMPersistedConfig> persistedConfig,
              std::shared_ptr<APMDefaultIdentitySupport> identitySupport);
  void updateIdentifiersOnQueue();
  void resetSessionStitchingTokenOnWorkerQueue();
  void resetEphemeralAppInstanceIDOnWorkerQueue();

  // Queue-confined.
  std::optional<double> m_lastAppInstanceIDUpdateTimestamp;
  uint64_t m_appleConsentStatus = 0;
  std::optional<std::string> m_resettableDeviceID;
  bool m_limitedAdTracking = false;
  const std::shared_ptr<APMPersistedConfig> m_persistedConfig;
  const std::shared_ptr<APMDefaultIdentitySupport> m_identitySupport;
  std::optional<std::string> m_appIDFromVOD;
  std::optional<platform::Value> m_isIDFVCollectionEnabledNumber;
  std::optional<std::string> m_sessionStitchingToken;
  int64_t m_lastSessionNumber = 0;
  bool m_lastIsSessionExpired = false;
  std::optional<double> m_sessionStitchingTokenExpirationTime;
  std::optional<std::string> m_ephemeralAppInstanceID;
  const platform::SerialQueue m_queue;

  mutable std::mutex m_installationMutex;
  std::optional<std::string> m_ririvuduInstallationID;

  // Set once at creation.
  std::string m_appID;
  std::optional<std::string> m_appVersion;
  std::optional<int32_t> m_appVersionMajor;
  std::optional<int32_t> m_appVersionMinor;
  std::optional<int32_t> m_appVersionRelease;
};

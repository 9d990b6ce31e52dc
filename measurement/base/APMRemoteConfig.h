// APMRemoteConfig: the measurement engine's view of its server-side
// configuration (a MeasurementConfig message): 72 typed settings with their
// defaults and bounds (APMRemoteConfigSettings.h), per-event configuration,
// upload and configuration endpoints, the server-side tag-manager (sZTM)
// upload, consent defaults, delegations, regional defaults and core platform
// services, data controls, and the event-editing programs it hands to the
// script runtime. It also registers the measurement library with the
// experiment manager and keeps three experiment flags that override settings.
//
// The engine makes one instance per configured app; defaultInstance() has no
// app, database or configuration and answers every setting with its default.
//
// Getter rule: a setting is looked up in the value cache; nothing there gives
// (and caches) the default; a cached number is returned as it is; a cached
// configuration string is parsed with one fixed rule whatever the user's
// locale (an optional sign, decimal digits, optionally "." and more digits,
// nothing else), converted (durations: milliseconds to seconds), and replaced
// by the default when unparsable or outside the bounds (no clamping); the
// result is cached.
//
// Endpoints are configuration: the upload service (and its second host) and
// the configuration service have default base addresses, overridable by the
// options file and the Info dictionary (kUploadServiceURLKey, ...);
// "<subdomain>." goes in front of the host, then APP_SERVICES_URL replaces the
// origin (platform::ServiceAddress), so loopback tests reach their fakes.
//
// Thread safety: getters may be called from any thread (thread-safe caches,
// the rest under the object's lock). updateMeasurementConfig and
// measurementConfigFromDatabase belong on the engine's worker queue and log
// 30001 on the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "measurement/base/APMEventEditing.h"
#include "measurement/base/APMExperimentManager.h"
#include "measurement/base/APMRemoteConfigSettings.h"
#include "measurement/base/APMRemoteConfigStorage.h"
#include "measurement/messages/APMPBMessage.h"
#include "platform/values/Value.h"
#include "sdk/utilities/ZULMutableDictionary.h"

class APMPersistedConfig;

enum class APMSettingKind { Int, Int64, Bool, Time, TimeInt };

struct APMSettingDescriptor {
  const char* getter;
  const char* key;
  APMSettingKind kind;
  double defaultValue;
  double minimum;
  double maximum;
};

class APMRemoteConfig : public APMEExperimentObserverDelegate, public std::enable_shared_from_this<APMRemoteConfig> {
 public:
  static constexpr const char* kDefaultUploadServiceURL = "https://app-measurement.ririvudu.com";
  static constexpr const char* kDefaultSecondUploadServiceURL = "https://app-measurement-ads.ririvudu.com";
  static constexpr const char* kDefaultConfigServiceURL = "https://app-measurement-config.ririvudu.com";
  static constexpr const char* kUploadServiceURLKey = "MEASUREMENT_UPLOAD_SERVICE_URL";
  static constexpr const char* kSecondUploadServiceURLKey = "MEASUREMENT_UPLOAD_SECOND_SERVICE_URL";
  static constexpr const char* kConfigServiceURLKey = "MEASUREMENT_CONFIG_SERVICE_URL";
  static constexpr const char* kSZTMUploadEnabledInfoKey = "ZORUVU_ANALYTICS_SZTM_UPLOAD_ENABLED";
  static constexpr const char* kSZTMHeaderName = "x-sztm-server-info";
  static constexpr const char* kExperimentPropertyName = "app_measurement";

  // The 72 rows, in table order.
  static const std::vector<APMSettingDescriptor>& settingDescriptors();
  static const APMSettingDescriptor* settingDescriptorForGetter(const std::string& getter);

  static std::shared_ptr<APMRemoteConfig> defaultInstance();
  // The designated initializer; any argument may be empty.
  static std::shared_ptr<APMRemoteConfig> initWithAppID(const std::optional<std::string>& appID,
                                                        std::weak_ptr<APMRemoteConfigStorage> database,
                                                        std::shared_ptr<APMPBMeasurementConfig> measurementConfig,
                                                        std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                        std::shared_ptr<APMExperimentManager> experimentManager);
  // Requires an app ID (29000) and a database (29001); no configuration given.
  static std::shared_ptr<APMRemoteConfig> initWithAppIDPersistedConfig(
      const std::optional<std::string>& appID, std::weak_ptr<APMRemoteConfigStorage> database,
      std::shared_ptr<APMPersistedConfig> persistedConfig, std::shared_ptr<APMExperimentManager> experimentManager);

  bool isDefaultInstance() const { return m_isDefaultInstance; }
  const std::optional<std::string>& appID() const { return m_appID; }

  // --- configuration ---------------------------------------------------------------
  bool updateMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config);
  std::shared_ptr<APMPBMeasurementConfig> measurementConfigFromDatabase();
  void parseRemoteConfigFromMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config);
  void reset();
  // The configuration in force; none before one was stored.
  std::shared_ptr<APMPBMeasurementConfig> measurementConfig() const;
  // Puts back the configuration that was in force before a storing
  // transaction rolled back (the database already holds it again): the
  // cached values follow it, and none forgets every configured value. The
  // experiment flags stay.
  void restoreMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& previous);
  int64_t version();
  bool isExpired();
  double lastRemoteConfigUpdateTimestamp();
  std::optional<std::string> remoteConfigURLWithPlatform(const std::optional<std::string>& platform, int64_t SDKVersion,
                                                         int64_t runtimeVersion);

  // --- typed access --------------------------------------------------------------------
#define APM_DECLARE_SETTING_Int(getter) int32_t getter();
#define APM_DECLARE_SETTING_Int64(getter) int64_t getter();
#define APM_DECLARE_SETTING_Bool(getter) bool getter();
#define APM_DECLARE_SETTING_Time(getter) double getter();
#define APM_DECLARE_SETTING_TimeInt(getter) int32_t getter();
#define APM_DECLARE_SETTING(getter, key, kind, defaultValue, minimum, maximum, how) APM_DECLARE_SETTING_##kind(getter)
  APM_REMOTE_CONFIG_SETTINGS(APM_DECLARE_SETTING)
#undef APM_DECLARE_SETTING
#undef APM_DECLARE_SETTING_Int
#undef APM_DECLARE_SETTING_Int64
#undef APM_DECLARE_SETTING_Bool
#undef APM_DECLARE_SETTING_Time
#undef APM_DECLARE_SETTING_TimeInt

  // Not a setting of its own: the larger of the public limit and 256.
  int32_t maxInternalEventParameterValueLength();
  // A setting's value by its table getter name, as the getter answers it
  // (bools as bools, counts as integers, durations as seconds); none for an
  // unknown name.
  std::optional<platform::Value> settingValueForGetter(const std::string& getter);

  using NumberBlock = std::function<std::optional<platform::Value>(const platform::Value&)>;
  std::optional<platform::Value> numberFromCacheWithKey(const std::string& key, const platform::Value& defaultValue,
                                                        const std::optional<platform::Value>& maxValue,
                                                        const std::optional<platform::Value>& minValue,
                                                        const NumberBlock& block = {});
  int32_t intValueFromCacheWithKey(const std::string& key, int32_t defaultValue, int32_t maxValue, int32_t minValue);
  int64_t int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue, int64_t maxValue, int64_t minValue);
  int64_t int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue);
  double timeIntervalInSecondsFromCacheWithKey(const std::string& key, double defaultValue, double maxValue,
                                               double minValue);
  bool boolValueFromCacheWithKey(const std::string& key, bool defaultValue);
  // The fixed rule above; none when the text does not follow it.
  static std::optional<platform::Value> numberFromString(const platform::Value& value);
  // The cached value, or none when value or key is missing (29019).
  std::optional<platform::Value> cacheValue(const std::optional<platform::Value>& value, const std::string& key);

  // --- events ------------------------------------------------------------------------------
  std::shared_ptr<APMPBEventConfig> eventConfigWithName(const std::string& name);
  bool isEventBlocklisted(const std::string& name);
  bool isEventCustomConversion(const std::string& name);
  bool eventHasSamplingRate(const std::string& name);
  int32_t samplingRateForEvent(const std::string& name);

  // --- upload, sZTM and consent -------------------------------------------------------------
  std::optional<std::string> uploadSubdomain();
  std::string uploadURL();
  bool SZTMUploadEnabled();
  std::optional<std::string> SZTMUploadURL();
  std::optional<platform::Dictionary> SZTMUploadHTTPHeaders();
  std::vector<std::string> dataControls();
  platform::Dictionary consentDefaults();
  platform::Dictionary consentDelegations();
  platform::Dictionary regionalDefaults();
  std::set<std::string> corePlatformServices();
  bool isDMARegion();
  std::vector<int64_t> experimentIDs();
  std::shared_ptr<APMEventEditing> eventEditing();

  // The endpoint base addresses: options file, then Info dictionary, then the
  // defaults (before APP_SERVICES_URL).
  static std::string uploadServiceBaseURL();
  static std::string secondUploadServiceBaseURL();
  static std::string configServiceBaseURL();
  // The sZTM rollout hash: FNV-1a 64-bit over the UTF-8 bytes.
  static uint64_t rolloutHash(const std::string& text);

  // --- experiments ---------------------------------------------------------------------------
  void clientDidReceiveNewSnapshot(APMExperimentClient& client) override;
  void clientDidReceiveFetchError(APMExperimentClient& client, const std::optional<platform::Error>& error) override;
  bool shouldFetchExperimentsForClient(APMExperimentClient& client) override;
  bool activateNewSnapshot();
  void updateCachedExperimentFlags();

 private:
  APMRemoteConfig(const std::optional<std::string>& appID, std::weak_ptr<APMRemoteConfigStorage> database,
                  std::shared_ptr<APMPersistedConfig> persistedConfig,
                  std::shared_ptr<APMExperimentManager> experimentManager);
  void startUp(const std::shared_ptr<APMPBMeasurementConfig>& measurementConfig);
  std::shared_ptr<APMPBMeasurementConfig> config() const;
  void clearConfiguredValues();
  bool settingBool(const char* key, double defaultValue);
  std::optional<bool> experimentFlag(const char* name);
  bool appDataConsentIsAuthorized() const;
  std::string serviceURL(const std::string& base, const std::string& path) const;

  const bool m_isDefaultInstance;
  const std::optional<std::string> m_appID;
  const std::weak_ptr<APMRemoteConfigStorage> m_database;
  const std::shared_ptr<APMPersistedConfig> m_persistedConfig;
  ZULMutableDictionary m_cachedValueByRemoteConfigKeys;
  ZULMutableDictionary m_cachedEventConfigByEventName;
  std::shared_ptr<APMExperimentClient> m_experimentClient;
  const std::shared_ptr<APMExperimentManager> m_experimentManager;
  ZULMutableDictionary m_cachedExperimentFlags;
  ZULMutableDictionary m_cachedConsentDefaults;
  ZULMutableDictionary m_cachedConsentDelegations;
  ZULMutableDictionary m_cachedRegionalDefaults;

  mutable std::mutex m_lock;  // guards everything below
  std::shared_ptr<APMPBMeasurementConfig> m_remoteConfigProto;
  bool m_hasNewSnapshot = false;
  std::vector<std::string> m_cachedDataControls;
  std::set<std::string> m_cachedCorePlatformServices;
  bool m_isDMARegion = true;
  std::shared_ptr<APMEventEditing> m_eventEditing;
};

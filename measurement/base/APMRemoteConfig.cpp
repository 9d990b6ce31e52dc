#include "measurement/base/APMRemoteConfig.h"

#include <cmath>

#include "measurement/base/APMConsentNames.h"
#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDefaultIdentitySupport.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMNameTables.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/APMZoruvuServiceFileUtil.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/net/ServiceAddress.h"
#include "platform/text/NumberText.h"
#include "platform/text/PercentEncoding.h"
#include "platform/text/Url.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULBundleAccess.h"

namespace {

constexpr const char* kCustomerTypeFlag = "customer_type_enabled";
constexpr const char* kPSMSessionStartFlag = "psm_session_start_enabled";
constexpr const char* kPSMGroupIDFlag = "psm_group_id_enabled";

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

bool isLess(const platform::Value& a, const platform::Value& b) {
  return platform::Value::compareNumbers(a, b) == std::partial_ordering::less;
}

// A configured base address: a text with a scheme.
std::optional<std::string> configuredAddress(const platform::Value& value) {
  const std::string* text = value.asString();
  if (text == nullptr || text->find("://") == std::string::npos) return std::nullopt;
  std::string address = *text;
  while (!address.empty() && address.back() == '/') address.pop_back();
  return address;
}

std::string baseAddress(const char* key, const char* fallback) {
  std::optional<platform::Dictionary> options = APMZoruvuServiceFileUtil::dictionaryFromZoruvuServiceInfoPlist();
  if (options) {
    if (auto address = configuredAddress(options->get(key))) return *address;
  }
  if (auto address = configuredAddress(ZULBundleAccess::infoDictionary().get(key))) return *address;
  return fallback;
}

// `base` with "<subdomain>." in front of its host.
std::string withSubdomain(const std::string& base, const std::optional<std::string>& subdomain) {
  if (!subdomain || subdomain->empty()) return base;
  const size_t hostStart = base.find("://");
  if (hostStart == std::string::npos) return base;
  return base.substr(0, hostStart + 3) + *subdomain + "." + base.substr(hostStart + 3);
}

}  // namespace

// --- the table -------------------------------------------------------------------------

const std::vector<APMSettingDescriptor>& APMRemoteConfig::settingDescriptors() {
  static const std::vector<APMSettingDescriptor> rows = {
#define APM_DESCRIBE_SETTING(getter, key, kind, defaultValue, minimum, maximum, how) \
  {#getter, key, APMSettingKind::kind, defaultValue, minimum, maximum},
      APM_REMOTE_CONFIG_SETTINGS(APM_DESCRIBE_SETTING)
#undef APM_DESCRIBE_SETTING
  };
  return rows;
}

const APMSettingDescriptor* APMRemoteConfig::settingDescriptorForGetter(const std::string& getter) {
  for (const APMSettingDescriptor& row : settingDescriptors()) {
    if (getter == row.getter) return &row;
  }
  return nullptr;
}

#define APM_DEFINE_SETTING_Int(getter, key, defaultValue, minimum, maximum) \
  int32_t APMRemoteConfig::getter() { return intValueFromCacheWithKey(key, defaultValue, maximum, minimum); }
#define APM_DEFINE_SETTING_Int64(getter, key, defaultValue, minimum, maximum) \
  int64_t APMRemoteConfig::getter() { return int64ValueFromCacheWithKey(key, defaultValue, maximum, minimum); }
#define APM_DEFINE_SETTING_Bool(getter, key, defaultValue, minimum, maximum) \
  bool APMRemoteConfig::getter() { return boolValueFromCacheWithKey(key, defaultValue != 0); }
#define APM_DEFINE_SETTING_Time(getter, key, defaultValue, minimum, maximum) \
  double APMRemoteConfig::getter() { return timeIntervalInSecondsFromCacheWithKey(key, defaultValue, maximum, minimum); }
#define APM_DEFINE_SETTING_TimeInt(getter, key, defaultValue, minimum, maximum)                                   \
  int32_t APMRemoteConfig::getter() {                                                                             \
    return platform::Value(timeIntervalInSecondsFromCacheWithKey(key, defaultValue, maximum, minimum))            \
        .numberAs<int32_t>();                                                                                     \
  }
#define APM_DEFINE_SETTING_Plain(getter, key, kind, defaultValue, minimum, maximum) \
  APM_DEFINE_SETTING_##kind(getter, key, defaultValue, minimum, maximum)
#define APM_DEFINE_SETTING_Custom(getter, key, kind, defaultValue, minimum, maximum)
#define APM_DEFINE_SETTING(getter, key, kind, defaultValue, minimum, maximum, how) \
  APM_DEFINE_SETTING_##how(getter, key, kind, defaultValue, minimum, maximum)
APM_REMOTE_CONFIG_SETTINGS(APM_DEFINE_SETTING)
#undef APM_DEFINE_SETTING

bool APMRemoteConfig::settingBool(const char* key, double defaultValue) {
  return boolValueFromCacheWithKey(key, defaultValue != 0);
}

std::optional<bool> APMRemoteConfig::experimentFlag(const char* name) {
  std::optional<platform::Value> flag = m_cachedExperimentFlags.objectForKey(platform::Value(name));
  if (!flag) return std::nullopt;
  return flag->boolValue();
}

bool APMRemoteConfig::customerTypeEnabled() {
  if (std::optional<bool> flag = experimentFlag(kCustomerTypeFlag)) return *flag;
  return settingBool("measurement.customer_type_enabled", 1);
}

bool APMRemoteConfig::PSMGroupIDEnabled() {
  if (std::optional<bool> flag = experimentFlag(kPSMGroupIDFlag)) return *flag;
  return settingBool("measurement.psm_group_id_enabled", 1);
}

bool APMRemoteConfig::PSMSessionStartEnabled() {
  if (std::optional<bool> flag = experimentFlag(kPSMSessionStartFlag)) return *flag;
  return settingBool("measurement.psm_session_start_enabled", 1);
}

int32_t APMRemoteConfig::maxPSMStartCount() {
  if (monitor()->isDebugModeEnabled()) return 10;
  return intValueFromCacheWithKey("measurement.psm_start_count", 3, 10, 0);
}

int32_t APMRemoteConfig::maxInternalEventParameterValueLength() {
  return std::max<int32_t>(maxPublicEventParameterValueLength(), 256);
}

std::optional<platform::Value> APMRemoteConfig::settingValueForGetter(const std::string& getter) {
#define APM_READ_SETTING(name, key, kind, defaultValue, minimum, maximum, how) \
  if (getter == #name) return platform::Value(name());
  APM_REMOTE_CONFIG_SETTINGS(APM_READ_SETTING)
#undef APM_READ_SETTING
  if (getter == "maxInternalEventParameterValueLength") return platform::Value(maxInternalEventParameterValueLength());
  return std::nullopt;
}

// --- creation ---------------------------------------------------------------------------

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::defaultInstance() {
  // Kept for the whole process (never destroyed while queued work may use it).
  static const std::shared_ptr<APMRemoteConfig>* const shared =
      new std::shared_ptr<APMRemoteConfig>(initWithAppID(std::nullopt, {}, nullptr, nullptr, nullptr));
  return *shared;
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppID(
    const std::optional<std::string>& appID, std::weak_ptr<APMRemoteConfigStorage> database,
    std::shared_ptr<APMPBMeasurementConfig> measurementConfig, std::shared_ptr<APMPersistedConfig> persistedConfig,
    std::shared_ptr<APMExperimentManager> experimentManager) {
  std::shared_ptr<APMRemoteConfig> config(
      new APMRemoteConfig(appID, std::move(database), std::move(persistedConfig), std::move(experimentManager)));
  config->startUp(measurementConfig);
  return config;
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppIDPersistedConfig(
    const std::optional<std::string>& appID, std::weak_ptr<APMRemoteConfigStorage> database,
    std::shared_ptr<APMPersistedConfig> persistedConfig, std::shared_ptr<APMExperimentManager> experimentManager) {
  if (!appID || appID->empty()) {
    monitor()->logWithLevel(1, 29000, "Cannot init remote configuration without valid Zoruvu App ID");
    return nullptr;
  }
  if (database.expired()) {
    monitor()->logWithLevel(1, 29001, "Cannot init remote configuration without valid database");
    return nullptr;
  }
  return initWithAppID(appID, std::move(database), nullptr, std::move(persistedConfig), std::move(experimentManager));
}

APMRemoteConfig::APMRemoteConfig(const std::optional<std::string>& appID,
                                 std::weak_ptr<APMRemoteConfigStorage> database,
                                 std::shared_ptr<APMPersistedConfig> persistedConfig,
                                 std::shared_ptr<APMExperimentManager> experimentManager)
    : m_isDefaultInstance(!appID && database.expired()),
      m_appID(appID),
      m_database(std::move(database)),
      m_persistedConfig(std::move(persistedConfig)),
      m_experimentManager(std::move(experimentManager)) {}

void APMRemoteConfig::startUp(const std::shared_ptr<APMPBMeasurementConfig>& measurementConfig) {
  if (!m_isDefaultInstance) {
    if (measurementConfig) {
      updateMeasurementConfig(measurementConfig);
    } else if (std::shared_ptr<APMPBMeasurementConfig> stored = measurementConfigFromDatabase()) {
      {
        std::lock_guard lock(m_lock);
        m_remoteConfigProto = stored;
      }
      parseRemoteConfigFromMeasurementConfig(stored);
    }
  }
  if (m_experimentManager) {
    m_experimentClient = m_experimentManager->registerSDKProperty(
        APMESDKProperty{kExperimentPropertyName, APMEngineServices::kMeasurementLibraryVersion}, platform::Dictionary());
    if (m_experimentClient) m_experimentClient->setDelegate(weak_from_this());
  }
  if (m_experimentClient) {
    platform::Error error;
    error.code = 0;
    if (!m_experimentClient->activateLatestSnapshot(&error) && !error.domain.empty()) {
      monitor()->logWithLevel(2, 29023, "Cannot activate stale snapshot. Error", error);
    }
    updateCachedExperimentFlags();
  }
}

std::shared_ptr<APMPBMeasurementConfig> APMRemoteConfig::config() const {
  std::lock_guard lock(m_lock);
  return m_remoteConfigProto;
}

// --- configuration ----------------------------------------------------------------------

bool APMRemoteConfig::updateMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("updateMeasurementConfig:");
  if (m_isDefaultInstance) {
    monitor()->logWithLevel(2, 29002, "Cannot update the default measurement configuration");
    return false;
  }
  if (!config) {
    monitor()->logWithLevel(5, 29003, "Cannot set empty measurement config to database");
    return false;
  }
  if (APMPBGetString(config.get(), APMPBMeasurementConfigSlot::kAppID) != m_appID) {
    monitor()->logWithLevel(2, 29004, "Cannot set measurement config when Zoruvu App ID does not match");
    return false;
  }
  platform::Error error;
  bool stored = false;
  if (std::shared_ptr<APMRemoteConfigStorage> database = m_database.lock()) {
    stored = database->updateRemoteConfig(*config, &error);
  }
  if (!stored && !error.domain.empty()) {
    monitor()->logWithLevel(1, 29005, "Cannot store config into the database", error);
    return false;
  }
  {
    std::lock_guard lock(m_lock);
    m_remoteConfigProto = config;
  }
  parseRemoteConfigFromMeasurementConfig(config);
  return true;
}

std::shared_ptr<APMPBMeasurementConfig> APMRemoteConfig::measurementConfigFromDatabase() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("measurementConfigFromDatabase");
  if (m_isDefaultInstance) {
    monitor()->logWithLevel(2, 29015,
                            "Cannot retrieve a measurement configuration from the database for the default instance");
    return nullptr;
  }
  platform::Error error;
  std::shared_ptr<APMPBMeasurementConfig> config;
  if (std::shared_ptr<APMRemoteConfigStorage> database = m_database.lock()) {
    config = database->queryMeasurementConfigWithError(&error);
  }
  if (config) return config;
  if (!error.domain.empty()) {
    monitor()->logWithLevel(2, 29016, "Cannot retrieve configuration data from database. Error", error);
  } else {
    monitor()->logWithLevel(7, 29017,
                            "Configuration was not found in database. The configuration will be fetched from the "
                            "network when necessary");
  }
  return nullptr;
}

void APMRemoteConfig::parseRemoteConfigFromMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config) {
  if (!config) {
    monitor()->logWithLevel(2, 29012, "Cannot parse empty measurement config. Using default values");
    return;
  }
  if (APMPBGetString(config.get(), APMPBMeasurementConfigSlot::kAppID) != m_appID) return;

  // Settings.
  m_cachedValueByRemoteConfigKeys.removeAllObjects();
  if (std::optional<platform::Array> settings =
          APMPBGetArray<APMPBSetting>(config.get(), APMPBMeasurementConfigSlot::kSettings)) {
    for (const platform::Value& item : *settings) {
      std::shared_ptr<APMPBSetting> setting = APMPBObjectFromValue<APMPBSetting>(item);
      if (!setting) continue;
      std::optional<std::string> value = APMPBGetString(setting.get(), APMPBSettingSlot::kValue);
      cacheValue(value ? std::optional<platform::Value>(platform::Value(*value)) : std::nullopt,
                 APMPBGetString(setting.get(), APMPBSettingSlot::kName).value_or(""));
    }
  }

  // Event configurations, under their internal names.
  m_cachedEventConfigByEventName.removeAllObjects();
  if (std::optional<platform::Array> events =
          APMPBGetArray<APMPBEventConfig>(config.get(), APMPBMeasurementConfigSlot::kEventConfig)) {
    for (const platform::Value& item : *events) {
      std::shared_ptr<APMPBEventConfig> event = APMPBObjectFromValue<APMPBEventConfig>(item);
      if (!event) continue;
      std::string name = APMPBGetString(event.get(), APMPBEventConfigSlot::kName).value_or("");
      if (name.empty()) {
        monitor()->logWithLevel(5, 29013, "Cannot cache event configuration with an empty configuration name");
        continue;
      }
      auto internal = APMEventNameMap().find(name);
      if (internal != APMEventNameMap().end()) name = internal->second;
      m_cachedEventConfigByEventName.setObject(APMPBObjectValue(event), platform::Value(name));
    }
  }

  if (APMPBHasField(config.get(), APMPBMeasurementConfigSlot::kVersion)) {
    monitor()->logWithLevel(
        7, 29014, "Successfully parsed a configuration. Version",
        platform::Value(static_cast<long long>(APMPBGetInt64(config.get(), APMPBMeasurementConfigSlot::kVersion))));
  }

  // Event-editing programs: the first one is loaded into a new engine.
  std::optional<platform::Array> programs =
      APMPBGetArray<APMPBProgram>(config.get(), APMPBMeasurementConfigSlot::kDynamicEventEditing);
  if (programs && !programs->empty()) {
    std::shared_ptr<APMEventEditing> editing = APMEngineServices::makeEventEditing();
    std::weak_ptr<APMRemoteConfig> weak = weak_from_this();
    editing->setModuleCreator(
        [weak]() -> APMEventEditingModule {
          return APMEventEditingKeyValueStore{
              "internal.remoteConfig", [weak](const std::string& key) -> std::optional<std::string> {
                std::shared_ptr<APMRemoteConfig> strong = weak.lock();
                if (!strong) return std::nullopt;
                std::optional<platform::Value> value =
                    strong->m_cachedValueByRemoteConfigKeys.objectForKey(platform::Value(key));
                if (!value) return std::nullopt;
                if (const std::string* text = value->asString()) return *text;
                return value->stringValue();
              }};
        },
        "internal.remoteConfig");
    editing->setModuleCreator(
        []() -> APMEventEditingModule {
          return APMEventEditingObjectProvider{"internal.appMetadata", [] {
                                                 platform::Dictionary metadata{
                                                     {"platform", "macos"},
                                                     {"package_name", ZULBundleAccess::bundleIdentifier()},
                                                     {"vod_version", static_cast<long long>(
                                                                         APMEngineServices::kMeasurementLibraryVersion)}};
                                                 if (std::shared_ptr<APMIdentity> identity =
                                                         APMEngineServices::identity()) {
                                                   if (std::optional<std::string> version = identity->appVersion()) {
                                                     metadata.set("app_version", *version);
                                                   }
                                                 }
                                                 return platform::Value(metadata);
                                               }};
        },
        "internal.appMetadata");
    editing->setModuleCreator([]() -> APMEventEditingModule { return APMEventEditingMessageLogger{}; },
                              "internal.logger");
    std::shared_ptr<APMPBProgram> program = APMPBObjectFromValue<APMPBProgram>((*programs)[0]);
    platform::Error error;
    if (!program || !editing->loadProgram(*program, &error)) {
      monitor()->logWithLevel(1, 29026, "Failed to initiate event editing instance");
      std::lock_guard lock(m_lock);
      m_eventEditing.reset();
      return;
    }
    {
      std::lock_guard lock(m_lock);
      m_eventEditing = editing;
    }
    monitor()->logWithLevel(7, 29027, "Loading Event Modification and Creation programs",
                            platform::Value(static_cast<long long>(programs->size())));
  }

  // Data controls and consent.
  std::vector<std::string> dataControls;
  if (std::optional<platform::Array> controls =
          APMPBGetArray<APMPBDataControl>(config.get(), APMPBMeasurementConfigSlot::kDataControls)) {
    for (const platform::Value& item : *controls) {
      std::shared_ptr<APMPBDataControl> control = APMPBObjectFromValue<APMPBDataControl>(item);
      if (!control) continue;
      if (std::optional<std::string> name = APMPBGetString(control.get(), APMPBDataControlSlot::kName))
        dataControls.push_back(*name);
    }
  }
  m_cachedConsentDefaults.removeAllObjects();
  m_cachedConsentDelegations.removeAllObjects();
  m_cachedRegionalDefaults.removeAllObjects();
  std::set<std::string> services;
  std::optional<bool> dmaRegion;
  if (std::shared_ptr<APMPBConsentConfig> consent =
          APMPBGetMessage<APMPBConsentConfig>(config.get(), APMPBMeasurementConfigSlot::kConsentConfig)) {
    dmaRegion = APMPBGetBool(consent.get(), APMPBConsentConfigSlot::kDMARegion);
    auto defaults = [&](int32_t slot, ZULMutableDictionary& into) {
      std::optional<platform::Array> entries = APMPBGetArray<APMPBConsentDefaultEntry>(consent.get(), slot);
      if (!entries) return;
      for (const platform::Value& item : *entries) {
        std::shared_ptr<APMPBConsentDefaultEntry> entry = APMPBObjectFromValue<APMPBConsentDefaultEntry>(item);
        if (!entry) continue;
        const int32_t status = APMPBGetInt32(entry.get(), APMPBConsentDefaultEntrySlot::kStatus);
        const int32_t type = APMPBGetInt32(entry.get(), APMPBConsentDefaultEntrySlot::kType);
        into.setObject(platform::Value(APMConsentStatusName(static_cast<uint32_t>(status))),
                       platform::Value(APMConsentTypeName(static_cast<uint32_t>(type))));
      }
    };
    defaults(APMPBConsentConfigSlot::kDefaults, m_cachedConsentDefaults);
    if (std::optional<platform::Array> entries =
            APMPBGetArray<APMPBConsentDelegationEntry>(consent.get(), APMPBConsentConfigSlot::kDelegations)) {
      for (const platform::Value& item : *entries) {
        std::shared_ptr<APMPBConsentDelegationEntry> entry = APMPBObjectFromValue<APMPBConsentDelegationEntry>(item);
        if (!entry) continue;
        const int32_t delegate = APMPBGetInt32(entry.get(), APMPBConsentDelegationEntrySlot::kDelegateType);
        const int32_t type = APMPBGetInt32(entry.get(), APMPBConsentDelegationEntrySlot::kType);
        m_cachedConsentDelegations.setObject(platform::Value(APMConsentTypeName(static_cast<uint32_t>(delegate))),
                                             platform::Value(APMConsentTypeName(static_cast<uint32_t>(type))));
      }
    }
    if (std::optional<platform::Array> entries = APMPBGetArray<APMPBCorePlatformServiceEntry>(
            consent.get(), APMPBConsentConfigSlot::kCorePlatformServices)) {
      for (const platform::Value& item : *entries) {
        std::shared_ptr<APMPBCorePlatformServiceEntry> entry =
            APMPBObjectFromValue<APMPBCorePlatformServiceEntry>(item);
        if (!entry) continue;
        if (std::optional<std::string> service = APMPBGetString(entry.get(), APMPBCorePlatformServiceEntrySlot::kName))
          services.insert(*service);
      }
    }
    defaults(APMPBConsentConfigSlot::kEnforcedDefaults, m_cachedRegionalDefaults);
  }
  {
    std::lock_guard lock(m_lock);
    m_cachedDataControls = std::move(dataControls);
    m_cachedCorePlatformServices = std::move(services);
    if (dmaRegion) m_isDMARegion = *dmaRegion;
  }

  // PSM values bypass the settings' bounds: they are cached as numbers.
  if (std::shared_ptr<APMPBPsmSetting> psm =
          APMPBGetMessage<APMPBPsmSetting>(config.get(), APMPBMeasurementConfigSlot::kPsmSetting)) {
    const std::pair<int32_t, const char*> keys[] = {
        {APMPBPsmSettingSlot::kPrefixEmail, "measurement.psm_prefix_email"},
        {APMPBPsmSettingSlot::kPrefixPhone, "measurement.psm_prefix_phone"},
        {APMPBPsmSettingSlot::kSignInDelay, "measurement.psm_signin_delay"}};
    for (const auto& [slot, key] : keys) {
      if (!APMPBHasField(psm.get(), slot)) continue;
      m_cachedValueByRemoteConfigKeys.setObject(platform::Value(APMPBGetInt32(psm.get(), slot)), platform::Value(key));
    }
  }
}

void APMRemoteConfig::clearConfiguredValues() {
  m_cachedValueByRemoteConfigKeys.removeAllObjects();
  m_cachedEventConfigByEventName.removeAllObjects();
  m_cachedConsentDefaults.removeAllObjects();
  m_cachedConsentDelegations.removeAllObjects();
  m_cachedRegionalDefaults.removeAllObjects();
  std::lock_guard lock(m_lock);
  m_cachedDataControls.clear();
  m_cachedCorePlatformServices.clear();
  m_isDMARegion = true;
}

void APMRemoteConfig::reset() {
  clearConfiguredValues();
  m_cachedExperimentFlags.removeAllObjects();
  {
    std::lock_guard lock(m_lock);
    if (!m_isDefaultInstance) m_remoteConfigProto.reset();
  }
  if (m_experimentManager) m_experimentManager->reset();
}

std::shared_ptr<APMPBMeasurementConfig> APMRemoteConfig::measurementConfig() const { return config(); }

void APMRemoteConfig::restoreMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& previous) {
  if (m_isDefaultInstance) return;
  if (previous) {
    {
      std::lock_guard lock(m_lock);
      m_remoteConfigProto = previous;
    }
    parseRemoteConfigFromMeasurementConfig(previous);
    return;
  }
  clearConfiguredValues();
  std::lock_guard lock(m_lock);
  m_remoteConfigProto.reset();
  m_eventEditing.reset();
}

int64_t APMRemoteConfig::version() {
  std::shared_ptr<APMPBMeasurementConfig> current = config();
  if (!current || !APMPBHasField(current.get(), APMPBMeasurementConfigSlot::kVersion)) return -1;
  return APMPBGetInt64(current.get(), APMPBMeasurementConfigSlot::kVersion);
}

bool APMRemoteConfig::isExpired() {
  if (m_isDefaultInstance) {
    monitor()->logWithLevel(2, 29007, "Cannot fetch the last update timestamp from the default configuration");
    return false;
  }
  const double age = std::fabs(platform::Clock::current()->now() - lastRemoteConfigUpdateTimestamp());
  return age >= remoteConfigCacheTimeInterval();
}

double APMRemoteConfig::lastRemoteConfigUpdateTimestamp() {
  if (m_isDefaultInstance) {
    monitor()->logWithLevel(2, 29008, "Cannot fetch the last configuration update timestamp from the default instance");
    return 0;
  }
  std::shared_ptr<APMRemoteConfigStorage> database = m_database.lock();
  if (!database) return 0;
  platform::Error error;
  std::optional<double> timestamp = database->lastRemoteConfigUpdateTimestamp(&error);
  if (!timestamp && !error.domain.empty()) {
    monitor()->logWithLevel(4, 29009, "Failed to query last configuration update timestamp. Error", error);
  }
  return timestamp.value_or(0);
}

std::optional<std::string> APMRemoteConfig::remoteConfigURLWithPlatform(const std::optional<std::string>& platform,
                                                                         int64_t SDKVersion, int64_t runtimeVersion) {
  if (!m_appID || m_appID->empty()) {
    monitor()->logWithLevel(2, 29021, "Cannot create a URL to fetch a configuration with empty app ID");
    return std::nullopt;
  }
  if (!platform) {
    monitor()->logWithLevel(2, 29010, "Cannot create a URL to fetch a configuration with empty platform");
    return std::nullopt;
  }
  platform::Dictionary query{{"platform", *platform},
                             {"runtime_version", static_cast<long long>(runtimeVersion)},
                             {"vod_version", static_cast<long long>(SDKVersion)}};
  return platform::ServiceAddress::resolve(configServiceBaseURL() + "/config/app/" +
                                           platform::PercentEncoding::encodePath(*m_appID) + "?" +
                                           apm_queryString(query));
}

// --- typed access -------------------------------------------------------------------------

std::optional<platform::Value> APMRemoteConfig::numberFromString(const platform::Value& value) {
  const std::string* text = value.asString();
  if (text == nullptr) {
    monitor()->logWithLevel(2, 29018, "Cannot parse number from non-string", value);
    return std::nullopt;
  }
  // One fixed rule whatever the user's locale: [+-]digits[.digits].
  size_t position = 0;
  if (position < text->size() && ((*text)[position] == '+' || (*text)[position] == '-')) ++position;
  const size_t integerStart = position;
  while (position < text->size() && std::isdigit(static_cast<unsigned char>((*text)[position]))) ++position;
  if (position == integerStart) return std::nullopt;
  bool fraction = false;
  if (position < text->size() && (*text)[position] == '.') {
    const size_t fractionStart = ++position;
    while (position < text->size() && std::isdigit(static_cast<unsigned char>((*text)[position]))) ++position;
    if (position == fractionStart) return std::nullopt;
    fraction = true;
  }
  if (position != text->size()) return std::nullopt;
  if (!fraction) {
    const std::string digits = (*text)[0] == '+' ? text->substr(1) : *text;
    if (std::optional<int64_t> integer = platform::NumberText::parseInt64(digits)) {
      return platform::Value(static_cast<long long>(*integer));
    }
  }
  const std::string digits = (*text)[0] == '+' ? text->substr(1) : *text;
  std::optional<double> number = platform::NumberText::parseDouble(digits);
  if (!number || !std::isfinite(*number)) return std::nullopt;
  return platform::Value(*number);
}

std::optional<platform::Value> APMRemoteConfig::cacheValue(const std::optional<platform::Value>& value,
                                                           const std::string& key) {
  if (!value || key.empty()) {
    monitor()->logWithLevel(5, 29019, "Cannot cache empty configuration value");
    return std::nullopt;
  }
  m_cachedValueByRemoteConfigKeys.setObject(*value, platform::Value(key));
  return value;
}

std::optional<platform::Value> APMRemoteConfig::numberFromCacheWithKey(const std::string& key,
                                                                       const platform::Value& defaultValue,
                                                                       const std::optional<platform::Value>& maxValue,
                                                                       const std::optional<platform::Value>& minValue,
                                                                       const NumberBlock& block) {
  if (key.empty()) {
    monitor()->logWithLevel(7, 29020, "Cannot get setting with empty key from cache");
    return std::nullopt;
  }
  const platform::Value cacheKey(key);
  std::optional<platform::Value> cached = m_cachedValueByRemoteConfigKeys.objectForKey(cacheKey);
  if (!cached) {
    m_cachedValueByRemoteConfigKeys.setObject(defaultValue, cacheKey);
    return defaultValue;
  }
  if (cached->isNumeric()) return cached;
  std::optional<platform::Value> number = numberFromString(*cached);
  if (number && block) number = block(*number);
  if (!number || (minValue && isLess(*number, *minValue)) || (maxValue && isLess(*maxValue, *number))) {
    number = defaultValue;
  }
  m_cachedValueByRemoteConfigKeys.setObject(*number, cacheKey);
  return number;
}

int32_t APMRemoteConfig::intValueFromCacheWithKey(const std::string& key, int32_t defaultValue, int32_t maxValue,
                                                  int32_t minValue) {
  std::optional<platform::Value> number = numberFromCacheWithKey(key, platform::Value(defaultValue),
                                                                 platform::Value(maxValue), platform::Value(minValue));
  return number ? number->numberAs<int32_t>() : 0;
}

int64_t APMRemoteConfig::int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue, int64_t maxValue,
                                                    int64_t minValue) {
  std::optional<platform::Value> number =
      numberFromCacheWithKey(key, platform::Value(static_cast<long long>(defaultValue)),
                             platform::Value(static_cast<long long>(maxValue)),
                             platform::Value(static_cast<long long>(minValue)));
  return number ? number->numberAs<int64_t>() : 0;
}

int64_t APMRemoteConfig::int64ValueFromCacheWithKey(const std::string& key, int64_t defaultValue) {
  std::optional<platform::Value> number =
      numberFromCacheWithKey(key, platform::Value(static_cast<long long>(defaultValue)), std::nullopt, std::nullopt);
  return number ? number->numberAs<int64_t>() : 0;
}

double APMRemoteConfig::timeIntervalInSecondsFromCacheWithKey(const std::string& key, double defaultValue,
                                                              double maxValue, double minValue) {
  std::optional<platform::Value> number =
      numberFromCacheWithKey(key, platform::Value(defaultValue), platform::Value(maxValue), platform::Value(minValue),
                             [](const platform::Value& milliseconds) -> std::optional<platform::Value> {
                               return platform::Value(static_cast<double>(milliseconds.longLongValue()) / 1000.0);
                             });
  return number ? number->doubleValue() : 0;
}

bool APMRemoteConfig::boolValueFromCacheWithKey(const std::string& key, bool defaultValue) {
  return intValueFromCacheWithKey(key, defaultValue ? 1 : 0, 1, 0) == 1;
}

// --- events --------------------------------------------------------------------------------

std::shared_ptr<APMPBEventConfig> APMRemoteConfig::eventConfigWithName(const std::string& name) {
  if (name.empty()) {
    monitor()->logWithLevel(5, 29006, "Cannot find event config with empty event name");
    return nullptr;
  }
  std::optional<platform::Value> stored = m_cachedEventConfigByEventName.objectForKey(platform::Value(name));
  return stored ? APMPBObjectFromValue<APMPBEventConfig>(*stored) : nullptr;
}

bool APMRemoteConfig::isEventBlocklisted(const std::string& name) {
  std::shared_ptr<APMPBEventConfig> event = eventConfigWithName(name);
  if (event && APMPBHasField(event.get(), APMPBEventConfigSlot::kBlocklisted) &&
      APMPBGetBool(event.get(), APMPBEventConfigSlot::kBlocklisted))
    return true;
  return !name.empty() && name[0] != '_' ? blocklistPublic() : blocklistInternal();
}

bool APMRemoteConfig::isEventCustomConversion(const std::string& name) {
  std::shared_ptr<APMPBEventConfig> event = eventConfigWithName(name);
  return event && APMPBHasField(event.get(), APMPBEventConfigSlot::kCustomConversion) &&
         APMPBGetBool(event.get(), APMPBEventConfigSlot::kCustomConversion);
}

bool APMRemoteConfig::eventHasSamplingRate(const std::string& name) {
  std::shared_ptr<APMPBEventConfig> event = eventConfigWithName(name);
  return event && APMPBHasField(event.get(), APMPBEventConfigSlot::kSamplingRate);
}

int32_t APMRemoteConfig::samplingRateForEvent(const std::string& name) {
  std::shared_ptr<APMPBEventConfig> event = eventConfigWithName(name);
  if (!event || !APMPBHasField(event.get(), APMPBEventConfigSlot::kSamplingRate)) return 1;
  const int32_t rate = APMPBGetInt32(event.get(), APMPBEventConfigSlot::kSamplingRate);
  return rate >= 2 && rate <= 65535 ? rate : 1;
}

// --- upload, sZTM and consent -----------------------------------------------------------------

std::string APMRemoteConfig::uploadServiceBaseURL() {
  return baseAddress(kUploadServiceURLKey, kDefaultUploadServiceURL);
}

std::string APMRemoteConfig::secondUploadServiceBaseURL() {
  return baseAddress(kSecondUploadServiceURLKey, kDefaultSecondUploadServiceURL);
}

std::string APMRemoteConfig::configServiceBaseURL() {
  return baseAddress(kConfigServiceURLKey, kDefaultConfigServiceURL);
}

bool APMRemoteConfig::appDataConsentIsAuthorized() const {
  return APMDefaultIdentitySupport::sharedInstance()->appDataConsentStatus() == 3;
}

std::optional<std::string> APMRemoteConfig::uploadSubdomain() {
  std::shared_ptr<APMPBMeasurementConfig> current = config();
  if (!current) return std::nullopt;
  return APMPBGetString(current.get(), APMPBMeasurementConfigSlot::kUploadSubdomain);
}

std::string APMRemoteConfig::uploadURL() {
  const std::string base = appDataConsentIsAuthorized() ? secondUploadServiceBaseURL() : uploadServiceBaseURL();
  return platform::ServiceAddress::resolve(withSubdomain(base, uploadSubdomain()) + "/a");
}

uint64_t APMRemoteConfig::rolloutHash(const std::string& text) {
  uint64_t hash = 14695981039346656037ULL;
  for (unsigned char byte : text) {
    hash ^= byte;
    hash *= 1099511628211ULL;
  }
  return hash;
}

bool APMRemoteConfig::SZTMUploadEnabled() {
  if (!SZTMUploadEnabledSetting()) return false;
  const platform::Value info = ZULBundleAccess::infoDictionary().get(kSZTMUploadEnabledInfoKey);
  if (!info.isNumeric() || !info.boolValue()) return false;
  std::shared_ptr<APMPBMeasurementConfig> current = config();
  std::shared_ptr<APMPBSztmSetting> sztm =
      current ? APMPBGetMessage<APMPBSztmSetting>(current.get(), APMPBMeasurementConfigSlot::kSztmSetting) : nullptr;
  if (!sztm || APMPBGetString(sztm.get(), APMPBSztmSettingSlot::kUploadURL).value_or("").empty()) return false;
  if (APMEngineServices::SZTMPreviewHeaders()) return true;
  const int32_t percentage = APMPBGetInt32(sztm.get(), APMPBSztmSettingSlot::kRolloutPercentage);
  const std::string appInstanceID =
      m_persistedConfig ? m_persistedConfig->appInstanceID().value_or("") : std::string();
  if (appInstanceID.empty() && percentage < 100) return false;
  return static_cast<int64_t>(rolloutHash(appInstanceID) % 100) < percentage;
}

std::optional<std::string> APMRemoteConfig::SZTMUploadURL() {
  std::shared_ptr<APMPBMeasurementConfig> current = config();
  std::shared_ptr<APMPBSztmSetting> sztm =
      current ? APMPBGetMessage<APMPBSztmSetting>(current.get(), APMPBMeasurementConfigSlot::kSztmSetting) : nullptr;
  if (!sztm) return std::nullopt;
  auto urlFrom = [&](int32_t slot) -> std::optional<std::string> {
    std::optional<std::string> text = APMPBGetString(sztm.get(), slot);
    if (!text || !platform::Url::parse(*text)) return std::nullopt;
    return platform::ServiceAddress::resolve(*text);
  };
  if (appDataConsentIsAuthorized()) {
    if (std::optional<std::string> url = urlFrom(APMPBSztmSettingSlot::kConsentUploadURL)) return url;
  }
  return urlFrom(APMPBSztmSettingSlot::kUploadURL);
}

std::optional<platform::Dictionary> APMRemoteConfig::SZTMUploadHTTPHeaders() {
  std::shared_ptr<APMPBMeasurementConfig> current = config();
  std::shared_ptr<APMPBSztmSetting> sztm =
      current ? APMPBGetMessage<APMPBSztmSetting>(current.get(), APMPBMeasurementConfigSlot::kSztmSetting) : nullptr;
  if (!sztm) return std::nullopt;
  std::optional<std::string> header = APMPBGetString(sztm.get(), APMPBSztmSettingSlot::kServerInfoHeader);
  if (!header || header->empty()) return std::nullopt;
  return platform::Dictionary{{kSZTMHeaderName, *header}};
}

std::vector<std::string> APMRemoteConfig::dataControls() {
  std::lock_guard lock(m_lock);
  return m_cachedDataControls;
}

namespace {

platform::Dictionary sortedCopy(const ZULMutableDictionary& cache) {
  std::map<std::string, platform::Value> sorted;
  for (const auto& [key, value] : cache.dictionary()) {
    if (const std::string* text = key.asString()) sorted[*text] = value;
  }
  platform::Dictionary copy;
  for (auto& [key, value] : sorted) copy.set(key, value);
  return copy;
}

}  // namespace

platform::Dictionary APMRemoteConfig::consentDefaults() { return sortedCopy(m_cachedConsentDefaults); }

platform::Dictionary APMRemoteConfig::consentDelegations() { return sortedCopy(m_cachedConsentDelegations); }

platform::Dictionary APMRemoteConfig::regionalDefaults() { return sortedCopy(m_cachedRegionalDefaults); }

std::set<std::string> APMRemoteConfig::corePlatformServices() {
  std::lock_guard lock(m_lock);
  return m_cachedCorePlatformServices;
}

bool APMRemoteConfig::isDMARegion() {
  std::lock_guard lock(m_lock);
  return m_isDMARegion;
}

std::vector<int64_t> APMRemoteConfig::experimentIDs() {
  return m_experimentManager ? m_experimentManager->experimentIDs() : std::vector<int64_t>();
}

std::shared_ptr<APMEventEditing> APMRemoteConfig::eventEditing() {
  std::lock_guard lock(m_lock);
  return m_eventEditing;
}

// --- experiments ---------------------------------------------------------------------------------

void APMRemoteConfig::clientDidReceiveNewSnapshot(APMExperimentClient&) {
  std::lock_guard lock(m_lock);
  m_hasNewSnapshot = true;
}

void APMRemoteConfig::clientDidReceiveFetchError(APMExperimentClient&, const std::optional<platform::Error>& error) {
  if (error) monitor()->logWithLevel(2, 29025, "Cannot fetch experiment. Error", *error);
}

bool APMRemoteConfig::shouldFetchExperimentsForClient(APMExperimentClient&) {
  return APMEngineServices::hasSharedInstance() && APMEngineServices::isEnabled();
}

bool APMRemoteConfig::activateNewSnapshot() {
  {
    std::lock_guard lock(m_lock);
    if (!m_hasNewSnapshot) return false;
  }
  if (!m_experimentClient) return false;
  platform::Error error;
  if (!m_experimentClient->activateLatestSnapshot(&error)) {
    monitor()->logWithLevel(2, 29024, "Cannot activate snapshot. Error", error);
    return false;
  }
  updateCachedExperimentFlags();
  std::lock_guard lock(m_lock);
  m_hasNewSnapshot = false;
  return true;
}

void APMRemoteConfig::updateCachedExperimentFlags() {
  if (!m_experimentClient) return;
  for (const char* name : {kCustomerTypeFlag, kPSMSessionStartFlag, kPSMGroupIDFlag}) {
    m_cachedExperimentFlags.setObjectForKeyedSubscript(m_experimentClient->flag(name), platform::Value(name));
  }
}

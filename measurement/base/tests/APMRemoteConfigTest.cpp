#include "measurement/base/APMRemoteConfig.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <tuple>

#include "measurement/base/APMConsentNames.h"
#include "measurement/base/APMDefaultIdentitySupport.h"
#include "measurement/base/APMEventEditing.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/base/tests/RemoteConfigTestSupport.h"
#include "platform/runtime/ClassRegistry.h"
#include "testing/VirtualClockFixture.h"

namespace {

using measurementtest::configuration;
using measurementtest::eventConfig;
using measurementtest::FakeConfigStorage;
using measurementtest::FakeExperimentManager;
using measurementtest::items;
using measurementtest::MeasurementTestEnvironment;
using measurementtest::message;

constexpr const char* kAppID = MeasurementTestEnvironment::kAppID;

std::shared_ptr<APMRemoteConfig> settingsWith(std::shared_ptr<APMPBMeasurementConfig> config,
                                              std::shared_ptr<APMPersistedConfig> persisted = nullptr,
                                              std::shared_ptr<APMExperimentManager> manager = nullptr) {
  return APMRemoteConfig::initWithAppID(kAppID, {}, std::move(config), std::move(persisted), std::move(manager));
}

// The getter's answer for a number in the row's own units.
platform::Value expected(const APMSettingDescriptor& row, double value) {
  switch (row.kind) {
    case APMSettingKind::Bool:
      return platform::Value(value == 1);
    case APMSettingKind::Int:
    case APMSettingKind::TimeInt:
      return platform::Value(static_cast<int32_t>(value));
    case APMSettingKind::Int64:
      return platform::Value(static_cast<long long>(value));
    case APMSettingKind::Time:
      return platform::Value(value);
  }
  return platform::Value();
}

// The configured text for a number in the row's units (durations in ms).
std::string configured(const APMSettingDescriptor& row, double value) {
  const bool time = row.kind == APMSettingKind::Time || row.kind == APMSettingKind::TimeInt;
  return std::to_string(static_cast<long long>(time ? value * 1000 : value));
}

// One configuration per case, holding every setting at once: the case's text
// for each row (none: not configured), then every getter checked against
// the expected answer.
void checkEverySetting() {
  const std::vector<APMSettingDescriptor>& rows = APMRemoteConfig::settingDescriptors();
  ASSERT_EQ(rows.size(), 72u);
  using Text = std::function<std::optional<std::string>(const APMSettingDescriptor&)>;
  using Answer = std::function<platform::Value(const APMSettingDescriptor&)>;
  auto fallback = [](const APMSettingDescriptor& row) { return expected(row, row.defaultValue); };
  std::vector<std::tuple<std::string, Text, Answer>> cases = {
      {"absent", [](const APMSettingDescriptor&) { return std::nullopt; }, fallback},
      {"minimum - 1", [](const APMSettingDescriptor& row) { return configured(row, row.minimum - 1); }, fallback},
      {"minimum", [](const APMSettingDescriptor& row) { return configured(row, row.minimum); },
       [](const APMSettingDescriptor& row) { return expected(row, row.minimum); }},
      {"maximum", [](const APMSettingDescriptor& row) { return configured(row, row.maximum); },
       [](const APMSettingDescriptor& row) { return expected(row, row.maximum); }},
      {"maximum + 1", [](const APMSettingDescriptor& row) { return configured(row, row.maximum + 1); }, fallback},
  };
  for (const char* unparsable : {"abc", "1,000", "1e3", " 5", "5 ", "+", "1.", ".5", "0x10"}) {
    cases.push_back({unparsable, [unparsable](const APMSettingDescriptor&) { return std::string(unparsable); },
                     fallback});
  }
  for (const auto& [name, text, answer] : cases) {
    SCOPED_TRACE(name);
    std::vector<std::pair<std::string, std::string>> settings;
    for (const APMSettingDescriptor& row : rows) {
      if (std::optional<std::string> value = text(row)) settings.push_back({row.key, *value});
    }
    std::shared_ptr<APMRemoteConfig> config = settingsWith(configuration(kAppID, settings));
    for (const APMSettingDescriptor& row : rows) {
      EXPECT_EQ(*config->settingValueForGetter(row.getter), answer(row)) << row.getter;
    }
  }
}

TEST(APMRemoteConfigSettingsTest, EverySettingAtItsBoundsAndWithBadText) {
  MeasurementTestEnvironment env;
  checkEverySetting();
}

TEST(APMRemoteConfigSettingsTest, TheSameUnderAGermanLocale) {
  MeasurementTestEnvironment env;
  // The machine may lack the German locale data; the environment says German
  // either way, and parsing must not look at it.
  const char* previous = std::getenv("LC_ALL");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  const std::string cLocale = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  checkEverySetting();
  std::setlocale(LC_ALL, cLocale.c_str());
  if (previous != nullptr) {
    ::setenv("LC_ALL", saved.c_str(), 1);
  } else {
    ::unsetenv("LC_ALL");
  }
}

TEST(APMRemoteConfigSettingsTest, ConversionsAndOverrides) {
  MeasurementTestEnvironment env;
  std::shared_ptr<APMRemoteConfig> config = settingsWith(configuration(
      kAppID, {{"measurement.upload.interval", "60000"},
               {"measurement.upload.max_bundles", "0"},
               {"measurement.upload.max_bundles_created_per_iteration", "5000"},
               {"measurement.upload.retry_time", "90500.9"},
               {"measurement.quality.checksum", "2"},
               {"measurement.ddl.enabled", "0"},
               {"measurement.event_sampling_enabled", "1"},
               {"measurement.upload.max_event_parameter_value_length", "100"},
               {"measurement.upload.max_batch_size", "-0"}}));
  EXPECT_EQ(config->uploadingInterval(), 60);
  EXPECT_EQ(config->uploadMaxBundlesLimit(), 100);
  EXPECT_EQ(config->maxBundlesCreatedPerIteration(), 5);
  EXPECT_EQ(config->uploadingRetryInterval(), 90.5);
  EXPECT_FALSE(config->checksumEnabled());
  EXPECT_FALSE(config->isDeferredDeepLinkEnabled());
  EXPECT_TRUE(config->isEventSamplingEnabled());
  EXPECT_EQ(config->maxPublicEventParameterValueLength(), 100);
  EXPECT_EQ(config->maxInternalEventParameterValueLength(), 256);
  EXPECT_EQ(config->uploadMaxSizeLimitBytes(), 0);
  EXPECT_EQ(settingsWith(configuration(kAppID, {{"measurement.upload.max_bundles_created_per_iteration", "100"}}))
                ->maxBundlesCreatedPerIteration(),
            100);
  EXPECT_EQ(config->version(), -1);

  // Debug mode raises the PSM start count.
  std::shared_ptr<APMMonitor> monitor = APMEngineServices::monitor();
  monitor->monitorQueue().sync([] {});
  monitor->setDebugModeEnabled(true);
  EXPECT_EQ(config->maxPSMStartCount(), 10);
  monitor->setDebugModeEnabled(false);
  EXPECT_EQ(config->maxPSMStartCount(), 3);

  // The default instance answers defaults and refuses configurations.
  std::shared_ptr<APMRemoteConfig> defaults = APMRemoteConfig::defaultInstance();
  EXPECT_TRUE(defaults->isDefaultInstance());
  EXPECT_EQ(defaults->uploadingInterval(), 3600);
  EXPECT_FALSE(defaults->updateMeasurementConfig(configuration("")));
  EXPECT_FALSE(defaults->isExpired());
  EXPECT_EQ(APMEngineServices::remoteConfig(), defaults);
  APMEngineServices::setRemoteConfigProvider([config] { return config; });
  EXPECT_EQ(APMEngineServices::remoteConfig(), config);
}

TEST(APMRemoteConfigSettingsTest, ExperimentFlagsOverrideTheirSettings) {
  MeasurementTestEnvironment env;
  auto manager = std::make_shared<FakeExperimentManager>();
  manager->client->setSnapshot({{"customer_type_enabled", false}, {"psm_group_id_enabled", 0}});
  std::shared_ptr<APMRemoteConfig> config = settingsWith(
      configuration(kAppID, {{"measurement.psm_session_start_enabled", "0"}}), nullptr, manager);
  ASSERT_EQ(manager->registered.size(), 1u);
  EXPECT_EQ(manager->registered[0].name, "app_measurement");
  EXPECT_EQ(manager->registered[0].version, 120500);
  EXPECT_EQ(manager->client->delegate(), config);
  EXPECT_FALSE(config->customerTypeEnabled());
  EXPECT_FALSE(config->PSMGroupIDEnabled());
  EXPECT_FALSE(config->PSMSessionStartEnabled());

  // A new snapshot is activated only after the client reported one.
  manager->client->setSnapshot({{"psm_session_start_enabled", true}});
  EXPECT_FALSE(config->activateNewSnapshot());
  config->clientDidReceiveNewSnapshot(*manager->client);
  EXPECT_TRUE(config->activateNewSnapshot());
  EXPECT_TRUE(config->customerTypeEnabled());
  EXPECT_TRUE(config->PSMSessionStartEnabled());
  EXPECT_FALSE(config->activateNewSnapshot());

  manager->client->failActivations(platform::Error("APMEErrorDomain", 3));
  config->clientDidReceiveNewSnapshot(*manager->client);
  EXPECT_FALSE(config->activateNewSnapshot());
  config->clientDidReceiveFetchError(*manager->client, platform::Error("APMEErrorDomain", 4));
  EXPECT_FALSE(config->shouldFetchExperimentsForClient(*manager->client));
  APMEngineServices::setHasSharedInstanceProvider([] { return true; });
  APMEngineServices::setIsEnabledProvider([] { return true; });
  EXPECT_TRUE(config->shouldFetchExperimentsForClient(*manager->client));
  EXPECT_EQ(config->experimentIDs(), (std::vector<int64_t>{11, 12}));
  config->reset();
  EXPECT_EQ(manager->resets, 1);
}

TEST(APMRemoteConfigSettingsTest, EventConfigurations) {
  MeasurementTestEnvironment env;
  auto config = configuration(kAppID, {{"measurement.upload.blacklist_public", "1"}});
  APMPBSetArray(config.get(), APMPBMeasurementConfigSlot::kEventConfig,
                items<APMPBEventConfig>({eventConfig("screen_view", true, true, 1), eventConfig("", true, {}, {}),
                                         eventConfig("_a", {}, {}, 0), eventConfig("_b", false, {}, 70000),
                                         eventConfig("_c", {}, false, 5), eventConfig("_d", {}, {}, 65535)}));
  std::shared_ptr<APMRemoteConfig> settings = settingsWith(config);
  EXPECT_TRUE(settings->isEventBlocklisted("_vs"));
  EXPECT_TRUE(settings->isEventCustomConversion("_vs"));
  EXPECT_FALSE(settings->eventConfigWithName("screen_view"));
  EXPECT_TRUE(settings->eventHasSamplingRate("_vs"));
  EXPECT_EQ(settings->samplingRateForEvent("_vs"), 1);
  EXPECT_EQ(settings->samplingRateForEvent("_a"), 1);
  EXPECT_EQ(settings->samplingRateForEvent("_b"), 1);
  EXPECT_EQ(settings->samplingRateForEvent("_c"), 5);
  EXPECT_EQ(settings->samplingRateForEvent("_d"), 65535);
  EXPECT_EQ(settings->samplingRateForEvent("_none"), 1);
  EXPECT_FALSE(settings->eventHasSamplingRate("_none"));
  // Without a configuration the blocklist settings decide: public names here.
  EXPECT_FALSE(settings->isEventBlocklisted("_b"));
  EXPECT_FALSE(settings->isEventBlocklisted("_none"));
  EXPECT_TRUE(settings->isEventBlocklisted("custom_event"));
  EXPECT_FALSE(settings->eventConfigWithName(""));
}

TEST(APMRemoteConfigSettingsTest, ConsentDataControlsAndPsm) {
  MeasurementTestEnvironment env;
  EXPECT_EQ(APMConsentTypeName(2), "analytics_storage");
  EXPECT_EQ(APMConsentTypeName(5), "");
  EXPECT_EQ(APMConsentStatusName(2), "denied");
  EXPECT_EQ(APMConsentStatusName(0), "");

  auto consentEntry = [](int32_t type, int32_t status) {
    auto entry = message<APMPBConsentDefaultEntry>();
    APMPBSetInt32(entry.get(), APMPBConsentDefaultEntrySlot::kType, type);
    APMPBSetInt32(entry.get(), APMPBConsentDefaultEntrySlot::kStatus, status);
    return entry;
  };
  auto delegation = message<APMPBConsentDelegationEntry>();
  APMPBSetInt32(delegation.get(), APMPBConsentDelegationEntrySlot::kType, 3);
  APMPBSetInt32(delegation.get(), APMPBConsentDelegationEntrySlot::kDelegateType, 1);
  auto service = message<APMPBCorePlatformServiceEntry>();
  APMPBSetString(service.get(), APMPBCorePlatformServiceEntrySlot::kName, "svc");
  auto consent = message<APMPBConsentConfig>();
  APMPBSetArray(consent.get(), APMPBConsentConfigSlot::kDefaults,
                items<APMPBConsentDefaultEntry>({consentEntry(1, 1), consentEntry(5, 2)}));
  APMPBSetArray(consent.get(), APMPBConsentConfigSlot::kDelegations, items<APMPBConsentDelegationEntry>({delegation}));
  APMPBSetArray(consent.get(), APMPBConsentConfigSlot::kCorePlatformServices,
                items<APMPBCorePlatformServiceEntry>({service}));
  APMPBSetBool(consent.get(), APMPBConsentConfigSlot::kDMARegion, false);
  APMPBSetArray(consent.get(), APMPBConsentConfigSlot::kEnforcedDefaults,
                items<APMPBConsentDefaultEntry>({consentEntry(2, 2)}));
  auto control = message<APMPBDataControl>();
  APMPBSetString(control.get(), APMPBDataControlSlot::kName, "no_ads");
  auto psm = message<APMPBPsmSetting>();
  APMPBSetInt32(psm.get(), APMPBPsmSettingSlot::kPrefixEmail, 99);
  APMPBSetInt32(psm.get(), APMPBPsmSettingSlot::kSignInDelay, 1);
  auto config = configuration(kAppID, {{"measurement.psm_prefix_phone", "99"}});
  APMPBSetMessage(config.get(), APMPBMeasurementConfigSlot::kConsentConfig, consent.get());
  APMPBSetArray(config.get(), APMPBMeasurementConfigSlot::kDataControls, items<APMPBDataControl>({control}));
  APMPBSetMessage(config.get(), APMPBMeasurementConfigSlot::kPsmSetting, psm.get());

  std::shared_ptr<APMRemoteConfig> settings = settingsWith(config);
  EXPECT_EQ(platform::Value(settings->consentDefaults()),
            platform::Value::dict({{"", "denied"}, {"ad_storage", "granted"}}));
  EXPECT_EQ(platform::Value(settings->consentDelegations()), platform::Value::dict({{"ad_user_data", "ad_storage"}}));
  EXPECT_EQ(settings->corePlatformServices(), (std::set<std::string>{"svc"}));
  EXPECT_EQ(platform::Value(settings->regionalDefaults()), platform::Value::dict({{"analytics_storage", "denied"}}));
  EXPECT_FALSE(settings->isDMARegion());
  EXPECT_EQ(settings->dataControls(), (std::vector<std::string>{"no_ads"}));
  // PSM values of the configuration bypass the bounds; absent slots leave the setting.
  EXPECT_EQ(settings->hashPrefixBitLengthEmail(), 99);
  EXPECT_EQ(settings->maxSignInDelayInDays(), 1);
  EXPECT_EQ(settings->hashPrefixBitLengthPhone(), 11);

  settings->reset();
  EXPECT_TRUE(settings->isDMARegion());
  EXPECT_TRUE(settings->dataControls().empty());
  EXPECT_EQ(settings->hashPrefixBitLengthEmail(), 14);
  EXPECT_EQ(settings->version(), -1);
}

TEST(APMRemoteConfigSettingsTest, AnotherAppIDChangesNothing) {
  MeasurementTestEnvironment env;
  std::shared_ptr<APMRemoteConfig> settings =
      settingsWith(configuration(kAppID, {{"measurement.upload.interval", "60000"}}));
  auto other = configuration("1:999:ios:ffff", {{"measurement.upload.interval", "120000"}});
  APMPBSetInt64(other.get(), APMPBMeasurementConfigSlot::kVersion, 9);
  EXPECT_FALSE(settings->updateMeasurementConfig(other));
  settings->parseRemoteConfigFromMeasurementConfig(other);
  EXPECT_EQ(settings->uploadingInterval(), 60);
  EXPECT_EQ(settings->version(), -1);
  EXPECT_FALSE(settings->updateMeasurementConfig(nullptr));
}

TEST(APMRemoteConfigSettingsTest, AFailingProgramKeepsTheOldCaches) {
  MeasurementTestEnvironment env;
  auto editing = std::make_shared<APMRecordingEventEditing>();
  APMEngineServices::setEventEditingFactory([editing] { return editing; });
  auto control = [](const std::string& name) {
    auto made = message<APMPBDataControl>();
    APMPBSetString(made.get(), APMPBDataControlSlot::kName, name);
    return made;
  };
  auto first = configuration(kAppID, {{"measurement.upload.interval", "60000"}});
  APMPBSetArray(first.get(), APMPBMeasurementConfigSlot::kDataControls, items<APMPBDataControl>({control("first")}));
  APMPBSetArray(first.get(), APMPBMeasurementConfigSlot::kDynamicEventEditing,
                items<APMPBProgram>({message<APMPBProgram>(), message<APMPBProgram>()}));
  std::shared_ptr<APMRemoteConfig> settings = settingsWith(first);
  EXPECT_EQ(settings->eventEditing(), editing);
  EXPECT_EQ(editing->loadedPrograms(), 1);
  EXPECT_EQ(editing->moduleNames(),
            (std::vector<std::string>{"internal.appMetadata", "internal.logger", "internal.remoteConfig"}));

  // The key-value module reads the settings cache at look-up time.
  std::optional<APMEventEditingModule> store = editing->makeModule("internal.remoteConfig");
  ASSERT_TRUE(store);
  auto* keyValues = std::get_if<APMEventEditingKeyValueStore>(&*store);
  ASSERT_NE(keyValues, nullptr);
  EXPECT_EQ(keyValues->functionName, "internal.remoteConfig");
  EXPECT_EQ(keyValues->valueForKey("measurement.upload.interval"), "60000");
  EXPECT_EQ(settings->uploadingInterval(), 60);
  EXPECT_EQ(keyValues->valueForKey("measurement.upload.interval"), "60");
  EXPECT_EQ(keyValues->valueForKey("missing"), std::nullopt);
  std::optional<APMEventEditingModule> metadata = editing->makeModule("internal.appMetadata");
  auto* provider = std::get_if<APMEventEditingObjectProvider>(&*metadata);
  ASSERT_NE(provider, nullptr);
  EXPECT_EQ(provider->object(),
            platform::Value::dict({{"platform", "macos"}, {"package_name", "com.tavix.app"}, {"vod_version", 120500}}));

  // A program that fails to load ends the parse before data controls and consent.
  editing->setLoadError(platform::Error("APMPErrorDomain", 1));
  auto second = configuration(kAppID, {{"measurement.upload.interval", "120000"}});
  APMPBSetArray(second.get(), APMPBMeasurementConfigSlot::kDataControls, items<APMPBDataControl>({control("second")}));
  APMPBSetArray(second.get(), APMPBMeasurementConfigSlot::kDynamicEventEditing,
                items<APMPBProgram>({message<APMPBProgram>()}));
  EXPECT_TRUE(settings->updateMeasurementConfig(second));
  EXPECT_EQ(settings->uploadingInterval(), 120);
  EXPECT_EQ(settings->dataControls(), (std::vector<std::string>{"first"}));
  EXPECT_EQ(settings->eventEditing(), nullptr);
  EXPECT_TRUE(env.logged("[I-ACS029026] Failed to initiate event editing instance"));
}

class APMRemoteConfigStorageTest : public testkit::VirtualClockFixture {
 protected:
  MeasurementTestEnvironment env;
  std::shared_ptr<FakeConfigStorage> storage = std::make_shared<FakeConfigStorage>();
};

TEST_F(APMRemoteConfigStorageTest, StoredLoadedAndExpired) {
  // Creation reads the stored configuration.
  auto stored = configuration(kAppID, {{"measurement.config.cache_time", "120000"}});
  APMPBSetInt64(stored.get(), APMPBMeasurementConfigSlot::kVersion, 42);
  storage->store(stored, clock->now());
  std::shared_ptr<APMRemoteConfig> settings =
      APMRemoteConfig::initWithAppIDPersistedConfig(kAppID, storage, nullptr, nullptr);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->version(), 42);
  EXPECT_EQ(settings->remoteConfigCacheTimeInterval(), 120);
  EXPECT_FALSE(settings->isExpired());
  clock->advance(119);
  EXPECT_FALSE(settings->isExpired());
  clock->advance(1);
  EXPECT_TRUE(settings->isExpired());

  // An update is stored with its time.
  auto next = configuration(kAppID);
  APMPBSetInt64(next.get(), APMPBMeasurementConfigSlot::kVersion, 43);
  EXPECT_TRUE(settings->updateMeasurementConfig(next));
  EXPECT_EQ(APMPBGetInt64(storage->stored().get(), APMPBMeasurementConfigSlot::kVersion), 43);
  EXPECT_FALSE(settings->isExpired());
  EXPECT_EQ(settings->lastRemoteConfigUpdateTimestamp(), clock->now());

  // A storage failure with an error refuses the update.
  storage->failWith(platform::Error("com.zoruvu.vod.measurement.ErrorDomain", 3, {}));
  auto refused = configuration(kAppID);
  APMPBSetInt64(refused.get(), APMPBMeasurementConfigSlot::kVersion, 44);
  EXPECT_FALSE(settings->updateMeasurementConfig(refused));
  EXPECT_EQ(settings->version(), 43);
  EXPECT_TRUE(env.logged("[I-ACS029005] Cannot store config into the database"));

  EXPECT_EQ(APMRemoteConfig::initWithAppIDPersistedConfig(std::nullopt, storage, nullptr, nullptr), nullptr);
  EXPECT_EQ(APMRemoteConfig::initWithAppIDPersistedConfig(kAppID, {}, nullptr, nullptr), nullptr);
  EXPECT_TRUE(env.logged("[I-ACS029001] Cannot init remote configuration without valid database"));
}

// A platform identity component that reports authorized tracking.
class AuthorizedTracking : public APMIdentitySupport {
 public:
  bool hasAppDataConsentStatus() override { return true; }
  uint64_t appDataConsentStatus() override { return 3; }
  bool hasLimitedAdTracking() override { return true; }
  bool limitedAdTracking() override { return false; }
  std::optional<std::string> resettableDeviceID() override { return std::nullopt; }
};

TEST(APMRemoteConfigEndpointsTest, UploadAndConfigurationAddresses) {
  MeasurementTestEnvironment env;
  ::unsetenv("APP_SERVICES_URL");
  auto config = configuration(kAppID);
  APMPBSetString(config.get(), APMPBMeasurementConfigSlot::kUploadSubdomain, "sub");
  std::shared_ptr<APMRemoteConfig> settings = settingsWith(config);
  EXPECT_EQ(settings->uploadSubdomain(), "sub");
  EXPECT_EQ(settings->uploadURL(), "https://sub.app-measurement.ririvudu.com/a");
  EXPECT_EQ(settingsWith(configuration(kAppID))->uploadURL(), "https://app-measurement.ririvudu.com/a");
  EXPECT_EQ(settings->remoteConfigURLWithPlatform("ios", 120500, 17),
            "https://app-measurement-config.ririvudu.com/config/app/1:123456789012:ios:0123abcdef?platform=ios&"
            "runtime_version=17&vod_version=120500");
  EXPECT_EQ(settings->remoteConfigURLWithPlatform(std::nullopt, 1, 1), std::nullopt);
  EXPECT_EQ(APMRemoteConfig::defaultInstance()->remoteConfigURLWithPlatform("ios", 1, 1), std::nullopt);

  // The second host once tracking is authorized.
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  ASSERT_TRUE(registry.registerClass(APMDefaultIdentitySupport::kPlatformClassName));
  registry.addMethod(
      APMDefaultIdentitySupport::kPlatformClassName, "sharedInstance",
      [](platform::Object*, const platform::Arguments&) -> std::any {
        return std::shared_ptr<APMIdentitySupport>(std::make_shared<AuthorizedTracking>());
      },
      platform::MethodKind::Class);
  APMDefaultIdentitySupport::setSharedInstanceForTesting(std::make_shared<APMDefaultIdentitySupport>());
  registry.removeClass(APMDefaultIdentitySupport::kPlatformClassName);
  EXPECT_EQ(settings->uploadURL(), "https://sub.app-measurement-ads.ririvudu.com/a");

  // Options file and Info dictionary override the defaults; APP_SERVICES_URL the origin.
  env.writeInfo({{"MEASUREMENT_UPLOAD_SECOND_SERVICE_URL", "https://second.example.org/"}});
  env.writeOptions(platform::Dictionary{{"MEASUREMENT_CONFIG_SERVICE_URL", "http://config.example.org/base"}});
  EXPECT_EQ(settings->uploadURL(), "https://sub.second.example.org/a");
  EXPECT_EQ(settings->remoteConfigURLWithPlatform("ios", 1, 2),
            "http://config.example.org/base/config/app/1:123456789012:ios:0123abcdef?platform=ios&runtime_version=2&"
            "vod_version=1");
  ::setenv("APP_SERVICES_URL", "http://127.0.0.1:8080", 1);
  EXPECT_EQ(settings->uploadURL(), "http://127.0.0.1:8080/a");
  ::unsetenv("APP_SERVICES_URL");
}

TEST(APMRemoteConfigEndpointsTest, SztmUploadRollout) {
  MeasurementTestEnvironment env;
  ::unsetenv("APP_SERVICES_URL");
  std::shared_ptr<APMPersistedConfig> persisted = APMPersistedConfig::initWithSuiteName("com.zoruvu.test.sztm");
  persisted->setAppInstanceID("0123456789ABCDEF0123456789ABCDEF");
  const int32_t bucket = static_cast<int32_t>(APMRemoteConfig::rolloutHash("0123456789ABCDEF0123456789ABCDEF") % 100);
  auto sztmConfig = [&](int32_t percentage, const std::string& url) {
    auto sztm = message<APMPBSztmSetting>();
    APMPBSetString(sztm.get(), APMPBSztmSettingSlot::kUploadURL, url);
    APMPBSetString(sztm.get(), APMPBSztmSettingSlot::kServerInfoHeader, "preview-info");
    APMPBSetString(sztm.get(), APMPBSztmSettingSlot::kConsentUploadURL, "https://consented.example.org/g");
    APMPBSetInt32(sztm.get(), APMPBSztmSettingSlot::kRolloutPercentage, percentage);
    auto config = configuration(kAppID);
    APMPBSetMessage(config.get(), APMPBMeasurementConfigSlot::kSztmSetting, sztm.get());
    return settingsWith(config, persisted);
  };
  EXPECT_FALSE(sztmConfig(100, "https://sztm.example.org/g")->SZTMUploadEnabled());  // no Info switch
  env.writeInfo({{"ZORUVU_ANALYTICS_SZTM_UPLOAD_ENABLED", true}});
  EXPECT_FALSE(sztmConfig(bucket, "https://sztm.example.org/g")->SZTMUploadEnabled());
  EXPECT_TRUE(sztmConfig(bucket + 1, "https://sztm.example.org/g")->SZTMUploadEnabled());
  EXPECT_FALSE(sztmConfig(100, "")->SZTMUploadEnabled());
  EXPECT_FALSE(settingsWith(configuration(kAppID, {{"measurement.sztm_upload_enabled", "0"}}), persisted)
                   ->SZTMUploadEnabled());
  // Preview headers make it go whatever the rollout.
  APMEngineServices::setSZTMPreviewHeadersProvider([] { return platform::Dictionary{{"x", "y"}}; });
  EXPECT_TRUE(sztmConfig(0, "https://sztm.example.org/g")->SZTMUploadEnabled());
  APMEngineServices::setSZTMPreviewHeadersProvider({});
  // Without an app instance ID only a full rollout goes.
  persisted->setAppInstanceID(std::nullopt);
  EXPECT_FALSE(sztmConfig(99, "https://sztm.example.org/g")->SZTMUploadEnabled());
  EXPECT_EQ(sztmConfig(100, "https://sztm.example.org/g")->SZTMUploadEnabled(),
            static_cast<int32_t>(APMRemoteConfig::rolloutHash("") % 100) < 100);
  env.writeInfo({{"ZORUVU_ANALYTICS_SZTM_UPLOAD_ENABLED", 1}});
  EXPECT_TRUE(sztmConfig(100, "https://sztm.example.org/g")->SZTMUploadEnabled());

  std::shared_ptr<APMRemoteConfig> settings = sztmConfig(50, "https://sztm.example.org/g");
  EXPECT_EQ(settings->SZTMUploadURL(), "https://sztm.example.org/g");
  EXPECT_EQ(platform::Value(*settings->SZTMUploadHTTPHeaders()),
            platform::Value::dict({{"x-sztm-server-info", "preview-info"}}));
  EXPECT_EQ(settingsWith(configuration(kAppID))->SZTMUploadURL(), std::nullopt);
  EXPECT_EQ(settingsWith(configuration(kAppID))->SZTMUploadHTTPHeaders(), std::nullopt);
}

}  // namespace

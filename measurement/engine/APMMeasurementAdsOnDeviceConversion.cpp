// On-device conversion measurement by its second protocol: an outside
// conversion service, found by class name, is told the first launch time and
// asked for measurement information after every configuration fetch; what it
// answers becomes "_psmvalue_gads" with a real-time "_fx". Switched by the
// Info dictionary, the ads-feature setting and ad-storage consent; without the
// service it stays off.
#include <any>
#include <cstdio>
#include <exception>

#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/ODCConversionService.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "platform/app/Bundle.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/time/Clock.h"

using platform::Value;

namespace {

constexpr const char* kPlistKey = "ZORUVU_ADS_ON_DEVICE_CONVERSION_EVENT_DATA_ENABLED";
constexpr const char* kDeprecatedExceptionName = "MeasurementDeprecatedOnDeviceConversionException";
constexpr const char* kDeprecatedExceptionReason =
    "ZoruvuRedIveduruvezaOnDeviceConversion (deprecated) framework and ZoruvuAdsOnDeviceConversion framework are "
    "both linked into the app. Remove the ZoruvuRedIveduruvezaOnDeviceConversion (deprecated) framework, which is no "
    "longer recommended for new development.";

}  // namespace

std::optional<std::string> APMMeasurement::conversionServiceClass() {
  if (!platform::ClassRegistry::shared().exists(ODCConversionService::kClassName)) return std::nullopt;
  return std::string(ODCConversionService::kClassName);
}

bool APMMeasurement::isAdsOnDeviceConversionLinked() { return conversionServiceClass().has_value(); }

std::shared_ptr<ODCConversionService> APMMeasurement::conversionServiceFromReflection() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  const std::optional<std::string> className = conversionServiceClass();
  if (!className || !registry.respondsTo(*className, ODCConversionService::kSharedInstance)) return nullptr;
  std::any shared = registry.sendClass(*className, ODCConversionService::kSharedInstance);
  auto* service = std::any_cast<std::shared_ptr<ODCConversionService>>(&shared);
  if (!service || !*service || !registry.conformsTo(**service, ODCConversionService::kProtocolName)) return nullptr;
  return *service;
}

bool APMMeasurement::isZoruvuAdsOnDeviceConversionLinked() {
  if (!m_conversionService) m_conversionService = conversionServiceFromReflection();
  return m_conversionService && m_conversionService->versionNumber() > ODCConversionService::kDeprecatedVersionLimit;
}

bool APMMeasurement::isAlphaAppAdsOnDeviceConversionLinked() {
  if (!m_conversionService) m_conversionService = conversionServiceFromReflection();
  return m_conversionService && m_conversionService->versionNumber() <= ODCConversionService::kDeprecatedVersionLimit;
}

bool APMMeasurement::isODM2EnabledInPlist() {
  const Value enabled = platform::Bundle::main()->objectForInfoDictionaryKey(kPlistKey);
  return !enabled.isNumeric() || enabled.boolValue();
}

bool APMMeasurement::isAdsOnDeviceConversionEnabled() {
  if (!isODM2EnabledInPlist()) {
    monitor()->logWithLevel(4, 23295, "Conversion service disabled from Info.plist.");
    return false;
  }
  if (!isAdsOnDeviceConversionLinked()) return false;
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (!settings || !settings->adsOnDeviceConversionFeatureEnabled()) {
    monitor()->logWithLevel(7, 23275,
                            "Conversion service disabled. Remote config disabled. Check ads account linked to Zoruvu "
                            "Analytics.");
    return false;
  }
  if (APMConsentSettingsUtil::isAdStorageDenied()) {
    monitor()->logWithLevel(7, 23276, "Conversion service disabled. Ad storage consent is denied.");
    return false;
  }
  monitor()->logWithLevel(7, 23277, "Conversion service enabled");
  return true;
}

std::optional<double> APMMeasurement::firstLaunchDate() {
  const int64_t milliseconds = m_persistedConfig->firstOpenTimestampMilliseconds();
  if (milliseconds == 0) return std::nullopt;
  return milliseconds / 1000.0;
}

void APMMeasurement::raiseDeprecatedOnDeviceConversionException() {
  std::fprintf(stderr, "%s: %s\n", kDeprecatedExceptionName, kDeprecatedExceptionReason);
  std::fflush(stderr);
  std::terminate();
}

void APMMeasurement::checkODM2DependencyOnWorkerQueue() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("checkODM2DependencyOnWorkerQueue");
  if (isAdsOnDeviceConversionLinked()) {
    if (isZoruvuAdsOnDeviceConversionLinked() && isAPMPrivateSetMembershipClientLinked()) {
      // A build-configuration error: the application stops.
      platform::mainQueue().async([] { raiseDeprecatedOnDeviceConversionException(); });
    }
    monitor()->logWithLevel(7, 23278, "Conversion service ZoruvuAdsOnDeviceConversion framework is linked");
  } else {
    monitor()->logWithLevel(7, 23279,
                            "Conversion service disabled. ZoruvuAdsOnDeviceConversion framework is not linked.");
    if (isAPMPrivateSetMembershipClientLinked()) {
      monitor()->logWithLevel(4, 23292,
                              "ZoruvuRedIveduruvezaOnDeviceConversion (deprecated) framework is linked. Use the "
                              "ZoruvuAdsOnDeviceConversion framework instead.");
    }
  }
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (settings && !settings->isExpired()) {
    monitor()->logWithLevel(7, 23280, "Conversion service will not attempt a fetch");
  }
}

void APMMeasurement::updateAdsOnDeviceConversionMeasurement() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("updateAdsOnDeviceConversionMeasurement");
  if (!isAdsOnDeviceConversionEnabled()) {
    handleAdsOnDeviceConversionValue(std::nullopt, std::nullopt);
    return;
  }
  if (!m_conversionService) m_conversionService = conversionServiceFromReflection();
  const std::shared_ptr<ODCConversionService> service = m_conversionService;
  if (!service) {
    monitor()->logWithLevel(1, 23268, "Failed to get the compatible conversion service.");
    handleAdsOnDeviceConversionValue(std::nullopt, std::nullopt);
    return;
  }
  service->setFirstLaunchTime(firstLaunchDate());
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  std::weak_ptr<APMScheduler> weakScheduler = m_scheduler;
  service->fetchMeasurementInfoForInteraction(
      std::nullopt, [weak, weakScheduler](const std::optional<std::string>& value,
                                          const std::optional<platform::Error>& error) {
        std::shared_ptr<APMScheduler> scheduler = weakScheduler.lock();
        if (!scheduler) return;
        scheduler->scheduleOnWorkerQueueBlockID("APMMeasurement:200", [weak, value, error] {
          if (std::shared_ptr<APMMeasurement> engine = weak.lock()) engine->handleAdsOnDeviceConversionValue(value, error);
        });
      });
}

void APMMeasurement::handleAdsOnDeviceConversionValue(const std::optional<std::string>& value,
                                                      const std::optional<platform::Error>& error) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("handleAdsOnDeviceConversionValue:error:");
  if (error) {
    monitor()->logWithLevel(1, 23269, "Conversion service failed to fetch measurement info.", *error);
    return;
  }
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  std::shared_ptr<APMUserAttribute> current = db->userAttributeWithName("_psmvalue_gads", nullptr);
  const std::optional<std::string> currentValue =
      current && current->value() ? current->value()->stringValue() : std::nullopt;
  if (value && !value->empty()) {
    if (currentValue && *currentValue == *value) {
      monitor()->logWithLevel(7, 23282, "Conversion service returned the same value", Value("_psmvalue_gads"),
                              Value(*value));
      return;
    }
    platform::Error storeError;
    if (!db->updateODMValue(*value, "odm2_value", platform::Clock::current()->now(), &storeError)) {
      monitor()->logWithLevel(1, 23290, "Failed to update ODM2 value. Error", storeError);
    }
    setInternalUserPropertyOnWorkerQueue("_psmvalue_gads", APMValue::initWithString(Value(*value)));
    writeOnDeviceConversionEventOnWorkerQueue("psm_gads");
    return;
  }
  if (current) db->deleteUserAttributeWithName("_psmvalue_gads", nullptr);
  db->deleteODMValueWithName("odm2_value", nullptr);
  monitor()->logWithLevel(7, 23281, "Conversion service returned empty value");
}

#include "measurement/engine/APMBundleIdentifiers.h"

#include <algorithm>

#include "measurement/base/APMRemoteConfig.h"
#include "measurement/messages/APMPBSlots.h"
#include "measurement/messages/APMPBFieldAccess.h"


namespace {

constexpr uint64_t kTrackingStatusNotReported = 6;
constexpr uint64_t kTrackingStatusAuthorized = 3;
constexpr const char* kNPAName = "_npa";

bool isDeniedCharacter(char c) { return c == '0' || c == 'd' || c == 'D'; }

// The storage states a signals text says (a short text denies nothing).
struct StorageDenials {
  bool ad = false;
  bool analytics = false;
};

StorageDenials denialsOf(const std::string& signals) {
  StorageDenials denials;
  if (signals.size() > 3) {
    denials.ad = isDeniedCharacter(signals[2]);
    denials.analytics = isDeniedCharacter(signals[3]);
  }
  return denials;
}

bool isPresent(const std::optional<std::string>& text) { return text && !text->empty(); }

std::optional<std::string> userAttributeName(const platform::Value& item) {
  return APMPBGetString(APMPBObjectFromValue(item).get(), APMPBUserAttributeSlot::kName);
}

platform::Array userAttributes(const APMPBMeasurementBundle& bundle) {
  return APMPBGetArray<APMPBUserAttribute>(&bundle, APMPBMeasurementBundleSlot::kUserAttributes).value_or(platform::Array());
}

}  // namespace

void APMApplyIdentifiersUnderConsent(APMPBMeasurementBundle& bundle, const std::string& consentSignals,
                                     bool gateOnTrackingAuthorization, APMIdentityValues& identity, bool overwrite) {
  StorageDenials denied;
  if (consentSignals.size() < 4) {
    if (consentSignals.empty() && APMPBHasField(&bundle, APMPBMeasurementBundleSlot::kConsentSignals)) {
      APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kConsentSignals);
    }
  } else if (!overwrite && APMPBHasField(&bundle, APMPBMeasurementBundleSlot::kConsentSignals)) {
    denied = denialsOf(APMPBGetString(&bundle, APMPBMeasurementBundleSlot::kConsentSignals).value_or(""));
  } else {
    APMPBSetString(&bundle, APMPBMeasurementBundleSlot::kConsentSignals, consentSignals);
    denied = denialsOf(consentSignals);
  }

  bool gated = false;
  if (identity.hasTrackingAuthorization()) {
    const uint64_t status = identity.trackingAuthorizationStatus();
    if (status != kTrackingStatusNotReported) {
      APMPBSetInt32(&bundle, APMPBMeasurementBundleSlot::kTrackingAuthorizationStatus, static_cast<int32_t>(status));
    }
    gated = status != kTrackingStatusAuthorized && gateOnTrackingAuthorization;
  }

  const bool knowsLimitedAdTracking = identity.hasLimitedAdTracking();
  const std::optional<std::string> advertisingID = identity.resettableDeviceID();
  if (knowsLimitedAdTracking && !denied.ad && !gated && isPresent(advertisingID)) {
    if (!APMPBHasField(&bundle, APMPBMeasurementBundleSlot::kResettableDeviceID)) {
      APMPBSetString(&bundle, APMPBMeasurementBundleSlot::kResettableDeviceID, *advertisingID);
    }
    APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kVendorID);
  } else if (std::optional<std::string> vendorID = identity.identifierForVendor();
             !denied.analytics && isPresent(vendorID)) {
    if (!APMPBHasField(&bundle, APMPBMeasurementBundleSlot::kVendorID)) APMPBSetString(&bundle, APMPBMeasurementBundleSlot::kVendorID, *vendorID);
    APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kResettableDeviceID);
  } else {
    APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kResettableDeviceID);
    APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kVendorID);
  }

  if (!denied.analytics) {
    std::optional<std::string> appInstanceID = identity.appInstanceID();
    if (isPresent(appInstanceID) && !APMPBHasField(&bundle, APMPBMeasurementBundleSlot::kAppInstanceID)) {
      APMPBSetString(&bundle, APMPBMeasurementBundleSlot::kAppInstanceID, *appInstanceID);
    }
  }
  if (denied.ad) APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kResettableDeviceID);
  if (denied.analytics) {
    for (int32_t slot : {APMPBMeasurementBundleSlot::kVendorID, APMPBMeasurementBundleSlot::kAppInstanceID, APMPBMeasurementBundleSlot::kSessionStitchingToken,
                         APMPBMeasurementBundleSlot::kAudienceEvaluationResults}) {
      APMPBClearField(&bundle, slot);
    }
  }
  if (knowsLimitedAdTracking) APMPBSetBool(&bundle, APMPBMeasurementBundleSlot::kLimitedAdTracking, identity.limitedAdTracking());
}

void APMApplyConsentExtras(APMPBMeasurementBundle& bundle, const std::string& consentDiagnostics,
                           bool adUserDataDenied, const std::shared_ptr<APMPBUserAttribute>& npaUserAttribute,
                           APMRemoteConfig& settings, bool overwrite) {
  if (overwrite || !APMPBHasField(&bundle, APMPBMeasurementBundleSlot::kConsentDiagnostics)) {
    APMPBSetString(&bundle, APMPBMeasurementBundleSlot::kConsentDiagnostics, consentDiagnostics);
  }
  if (overwrite || !APMPBHasField(&bundle, APMPBMeasurementBundleSlot::kDMARegion)) {
    APMPBSetBool(&bundle, APMPBMeasurementBundleSlot::kDMARegion, settings.isDMARegion());
  }
  if (overwrite || !APMPBHasField(&bundle, APMPBMeasurementBundleSlot::kCorePlatformServices)) {
    const std::set<std::string> services = settings.corePlatformServices();  // sorted ascending
    if (adUserDataDenied || services.empty()) {
      APMPBSetString(&bundle, APMPBMeasurementBundleSlot::kCorePlatformServices, std::string("-"));
    } else if (!settings.isDMARegion()) {
      APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kCorePlatformServices);
    } else if (APMPBGetBool(&bundle, APMPBMeasurementBundleSlot::kDMARegion)) {
      std::string joined;
      for (const std::string& service : services) joined += service;
      APMPBSetString(&bundle, APMPBMeasurementBundleSlot::kCorePlatformServices, joined);
    }
  }
  if (!npaUserAttribute) return;
  platform::Array attributes = userAttributes(bundle);
  for (size_t index = 0; index < attributes.size(); ++index) {
    if (userAttributeName(attributes[index]) != kNPAName) continue;
    if (!overwrite) return;
    attributes.set(index, APMPBObjectValue(npaUserAttribute));
    APMPBSetArray(&bundle, APMPBMeasurementBundleSlot::kUserAttributes, attributes);
    return;
  }
  attributes.append(APMPBObjectValue(npaUserAttribute));
  APMPBSetArray(&bundle, APMPBMeasurementBundleSlot::kUserAttributes, attributes);
}

bool APMBundleHasFirstOpenEvent(const APMPBMeasurementBundle& bundle) {
  const platform::Array events = APMPBGetArray<APMPBEvent>(&bundle, APMPBMeasurementBundleSlot::kEvents).value_or(platform::Array());
  return std::any_of(events.begin(), events.end(), [](const platform::Value& event) {
    return APMPBGetString(APMPBObjectFromValue(event).get(), APMPBEventSlot::kName) == "_f";
  });
}

std::shared_ptr<APMPBUserAttribute> APMNPAUserAttributeOfBundle(const APMPBMeasurementBundle& bundle) {
  for (const platform::Value& item : userAttributes(bundle)) {
    if (userAttributeName(item) == kNPAName) return APMPBObjectFromValue<APMPBUserAttribute>(item);
  }
  return nullptr;
}

bool APMBundlesHaveSameConsent(const APMPBMeasurementBundle* bundle, const APMPBMeasurementBundle* other) {
  if (bundle == nullptr || other == nullptr) return false;
  for (int32_t slot : {APMPBMeasurementBundleSlot::kConsentSignals, APMPBMeasurementBundleSlot::kConsentDiagnostics, APMPBMeasurementBundleSlot::kCorePlatformServices}) {
    if (APMPBGetString(bundle, slot) != APMPBGetString(other, slot)) return false;
  }
  if (APMPBGetBool(bundle, APMPBMeasurementBundleSlot::kDMARegion) != APMPBGetBool(other, APMPBMeasurementBundleSlot::kDMARegion)) return false;
  std::shared_ptr<APMPBUserAttribute> npa = APMNPAUserAttributeOfBundle(*bundle);
  std::shared_ptr<APMPBUserAttribute> otherNPA = APMNPAUserAttributeOfBundle(*other);
  if (npa || otherNPA) {
    // A bundle without the property reads as value 0.
    return APMPBGetInt64(npa.get(), APMPBUserAttributeSlot::kIntValue) == APMPBGetInt64(otherNPA.get(), APMPBUserAttributeSlot::kIntValue);
  }
  return true;
}

void APMRedactBundleFields(APMPBMeasurementBundle& bundle, const std::vector<std::string>& dataControls,
                           APMIdentityValues& identity) {
  auto named = [&dataControls](std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&dataControls](const char* name) {
      return std::find(dataControls.begin(), dataControls.end(), name) != dataControls.end();
    });
  };
  if (named({"app_instance_id"})) {
    APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kAppInstanceID);
    if (APMIsAnalyticsStorageDeniedSignal(APMPBGetString(&bundle, APMPBMeasurementBundleSlot::kConsentSignals).value_or(""))) {
      APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kEphemeralAppInstanceID);
    } else {
      APMPBSetString(&bundle, APMPBMeasurementBundleSlot::kEphemeralAppInstanceID, identity.ephemeralAppInstanceID());
    }
  }
  if (named({"user_id"})) {
    platform::Array kept;
    for (const platform::Value& item : userAttributes(bundle)) {
      if (userAttributeName(item) != "_id") kept.append(item);
    }
    APMPBSetArray(&bundle, APMPBMeasurementBundleSlot::kUserAttributes, kept);
  }
  if (named({"os_version", "device_info"})) {
    if (std::optional<std::string> version = APMPBGetString(&bundle, APMPBMeasurementBundleSlot::kOSVersion)) {
      const size_t dot = version->find('.');
      if (dot != std::string::npos) APMPBSetString(&bundle, APMPBMeasurementBundleSlot::kOSVersion, version->substr(0, dot));
    }
  }
  if (named({"device_model", "device_info"})) APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kDeviceModel);
  if (named({"enhanced_user_id"})) APMPBClearField(&bundle, APMPBMeasurementBundleSlot::kSessionStitchingToken);
  if (!dataControls.empty()) {
    platform::Array names;
    for (const std::string& name : dataControls) names.append(name);
    APMPBSetArray(&bundle, APMPBMeasurementBundleSlot::kRedactedFields, names);
  }
}

bool APMIsAnalyticsStorageDeniedSignal(const std::string& consentSignals) {
  return consentSignals.size() > 3 && isDeniedCharacter(consentSignals[3]);
}

// The device identifiers and consent fields of a measurement bundle, written
// after the consent state, the comparison of two bundles' consent, and the
// blanking of fields that the configuration's data controls name. The event
// write applies them to raw-event metadata; the upload pass applies them again
// to queued bundles, so a bundle leaves the device under the consent in force
// at upload time.
//
//   APMApplyIdentifiersUnderConsent  consent signals (stored unless
//       overwritten; "0", "d" or "D" at index 2 denies ad storage, at index 3
//       analytics storage), the tracking authorization status (never 6),
//       the advertising ID (only with a known limited-ad-tracking state, ad
//       storage allowed and tracking not gated) or else the vendor ID, the app
//       instance ID, and what a denial clears.
//   APMApplyConsentExtras  consent diagnostics, the DMA-region flag and the
//       core platform services ("-" when ad user data is denied or none are
//       configured), each only with overwrite or when absent; the "_npa" user
//       property (kept without overwrite, replaced with it, else appended).
//   APMBundlesHaveSameConsent  signals, diagnostics, services, DMA flag and,
//       when either has one, the "_npa" value agree.
//   APMRedactBundleFields  by data-control name: "app_instance_id",
//       "user_id", "os_version", "device_model", "device_info",
//       "enhanced_user_id"; the names given are recorded in the bundle.
//
// Stateless; the bundle is used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "measurement/engine/APMIdentityValues.h"
#include "measurement/messages/APMPBMessage.h"

class APMRemoteConfig;

void APMApplyIdentifiersUnderConsent(APMPBMeasurementBundle& bundle, const std::string& consentSignals,
                                     bool gateOnTrackingAuthorization, APMIdentityValues& identity, bool overwrite);
void APMApplyConsentExtras(APMPBMeasurementBundle& bundle, const std::string& consentDiagnostics,
                           bool adUserDataDenied, const std::shared_ptr<APMPBUserAttribute>& npaUserAttribute,
                           APMRemoteConfig& settings, bool overwrite);
bool APMBundleHasFirstOpenEvent(const APMPBMeasurementBundle& bundle);
bool APMBundlesHaveSameConsent(const APMPBMeasurementBundle* bundle, const APMPBMeasurementBundle* other);
std::shared_ptr<APMPBUserAttribute> APMNPAUserAttributeOfBundle(const APMPBMeasurementBundle& bundle);
void APMRedactBundleFields(APMPBMeasurementBundle& bundle, const std::vector<std::string>& dataControls,
                           APMIdentityValues& identity);
// Longer than 3 characters and the fourth is "0", "d" or "D".
bool APMIsAnalyticsStorageDeniedSignal(const std::string& consentSignals);

// APMTCFData: the IAB TCF (version 2) values a consent-management platform
// wrote into the application's standard user defaults, and the purpose rules
// that turn them into consent for "ad_storage", "ad_personalization" and
// "ad_user_data".
//
// Values (absent until read; numbers keep their kind, strings are bit
// strings of "0"/"1" where the character at index i is purpose i + 1 or
// vendor i + 1; the measuring vendor is at index 754):
//   isTCFDataEnabled  Info.plist "ZORUVU_ANALYTICS_TCF_DATA_ENABLED": absent
//                     YES, a number its Boolean value, anything else NO
//   publisherRestrictions  per purpose 1..10 the character at index 754 of
//                     "IABTCF_PublisherRestrictions<p>" when it is that long,
//                     else ""
//   the others under their "IABTCF_..." keys (kKeys).
//
// Rules (purpose p, restriction r = 0 not allowed, 1 consent required, 2
// legitimate interest required, 3 none):
//   legal basis: r = 0 -> 0; consent purpose: r = 2 -> 3 if flexible else 1,
//   else 2; legitimate-interest purpose: r = 1 -> 2 if flexible else 1, else
//   3; other purposes 0 (0 none, 1 blocked, 2 consent, 3 legitimate interest).
//   consent reason (1 = granted): see consentReason...; ad storage = purpose 1
//   granted; ad personalization = purposes 3 and 4; ad user data = policy
//   version above 3 and purposes 1 and 7.
//
// A plain value; any thread once made.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "measurement/base/APMConfigStore.h"
#include "platform/values/Value.h"

class APMTCFData {
 public:
  static constexpr const char* kTCFDataEnabledKey = "ZORUVU_ANALYTICS_TCF_DATA_ENABLED";
  static constexpr const char* kAdvertiserConsentModeKey = "IABTCF_EnableAdvertiserConsentMode";
  static constexpr const char* kVendorConsentsKey = "IABTCF_VendorConsents";
  static constexpr const char* kVendorLegitimateInterestsKey = "IABTCF_VendorLegitimateInterests";
  static constexpr const char* kCmpSDKIDKey = "IABTCF_CmpSdkID";
  static constexpr const char* kGdprAppliesKey = "IABTCF_gdprApplies";
  static constexpr const char* kPolicyVersionKey = "IABTCF_PolicyVersion";
  static constexpr const char* kPurposeConsentsKey = "IABTCF_PurposeConsents";
  static constexpr const char* kPurposeLegitimateInterestsKey = "IABTCF_PurposeLegitimateInterests";
  static constexpr const char* kPublisherRestrictionsKey = "IABTCF_PublisherRestrictions";
  static constexpr const char* kPurposeOneTreatmentKey = "IABTCF_PurposeOneTreatment";
  static constexpr const char* kPublisherCCKey = "IABTCF_PublisherCC";
  static constexpr int kVendorIndex = 754;
  static constexpr int kPurposeCount = 10;
  static constexpr const char* kAlphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-_";

  // The twelve values; every field but the first is absent until read.
  struct Values {
    bool isTCFDataEnabled = true;
    std::optional<platform::Value> isAdvertiserConsentModeEnabled;
    std::optional<std::string> vendorConsents;
    std::optional<std::string> vendorLegitimateInterests;
    std::optional<platform::Value> cmpSDKID;
    std::optional<platform::Value> gdprApplies;
    std::optional<platform::Value> policyVersion;
    std::optional<std::string> purposeConsents;
    std::optional<std::string> purposeLegitimateInterests;
    std::optional<std::array<std::string, kPurposeCount>> publisherRestrictions;
    std::optional<platform::Value> isPurposeOneTreatmentEnabled;
    std::optional<std::string> publisherCC;
  };

  APMTCFData() = default;
  explicit APMTCFData(Values values) : m_values(std::move(values)) {}

  // Reads the values of the standard user defaults and the Info dictionary.
  static APMTCFData readTCFData(APMConfigStore& standardDefaults, const platform::Dictionary& info);
  // The Info dictionary's switch: absent YES, a number its Boolean value, else NO.
  static bool isTCFDataEnabledFromInfo(const platform::Value* value);

  const Values& values() const { return m_values; }

  // 0..3 as above; 3 for a purpose beyond the restrictions read.
  int publisherRestrictionForPurposeID(int purposeID) const;
  int legalBasisCheckFromPurposeID(int purposeID) const;
  int consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(int purposeID) const;
  bool isPurposeOneSpecialTreatment() const;
  bool isAdStorageGranted() const;
  bool isAdPersonalizationGranted() const;
  bool isAdUserDataGranted() const;
  bool shouldApplyTCFData() const;
  bool hasVendorInVendorConsents() const;
  // {"ad_storage", "ad_personalization", "ad_user_data"} -> "granted" / "denied".
  platform::Dictionary consent() const;

  // "_v_=2,isTCFDataEnabled=1,..." with only the values present.
  std::string stringRepresentationFromTCFData() const;
  // The five characters of "_tcfd".
  std::string tcfBundleParameterValue(bool isDMARegion) const;
  // "2" and the consent reasons of purposes 1, 3, 4 and 7 ("_tcfd2").
  std::string tcfd2ParamValue() const;

 private:
  Values m_values;
};

#include "measurement/features/APMTCFDataGenerator.h"

APMTCFDataGenerator APMTCFDataGenerator::fromStoredValues(APMConfigStore& store) {
  APMTCFDataGenerator generator;
  APMTCFData::Values& v = generator.values;
  v.isTCFDataEnabled = store.boolForKey(APMTCFData::kTCFDataEnabledKey);
  v.isAdvertiserConsentModeEnabled = store.numberForKey(APMTCFData::kAdvertiserConsentModeKey);
  v.vendorConsents = store.stringForKey(APMTCFData::kVendorConsentsKey);
  v.vendorLegitimateInterests = store.stringForKey(APMTCFData::kVendorLegitimateInterestsKey);
  v.cmpSDKID = store.numberForKey(APMTCFData::kCmpSDKIDKey);
  v.gdprApplies = store.numberForKey(APMTCFData::kGdprAppliesKey);
  v.policyVersion = store.numberForKey(APMTCFData::kPolicyVersionKey);
  v.purposeConsents = store.stringForKey(APMTCFData::kPurposeConsentsKey);
  v.purposeLegitimateInterests = store.stringForKey(APMTCFData::kPurposeLegitimateInterestsKey);
  if (std::optional<platform::Array> stored = store.arrayForKey(APMTCFData::kPublisherRestrictionsKey)) {
    std::array<std::string, APMTCFData::kPurposeCount> restrictions;
    for (size_t i = 0; i < restrictions.size() && i < stored->size(); ++i) {
      if (const std::string* restriction = (*stored)[i].asString()) restrictions[i] = *restriction;
    }
    v.publisherRestrictions = restrictions;
  }
  v.isPurposeOneTreatmentEnabled = store.numberForKey(APMTCFData::kPurposeOneTreatmentKey);
  v.publisherCC = store.stringForKey(APMTCFData::kPublisherCCKey);
  return generator;
}

#include "measurement/features/APMTCFClient.h"

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/features/APMTCFDataGenerator.h"
#include "sdk/utilities/ZULBundleAccess.h"

namespace {

using platform::Value;

Value orNull(const std::optional<Value>& value) { return value ? *value : Value(); }
Value orNull(const std::optional<std::string>& value) { return value ? Value(*value) : Value(); }

}  // namespace

APMTCFClient::APMTCFClient(ConsentSetter setConsent, std::shared_ptr<APMConfigStore> standardDefaults,
                           std::shared_ptr<APMConfigStore> userDefaults)
    : m_setConsent(std::move(setConsent)),
      m_standardDefaults(standardDefaults ? std::move(standardDefaults) : APMUserDefaults::sharedUserDefaults()),
      m_userDefaults(userDefaults ? std::move(userDefaults) : std::make_shared<APMUserDefaults>(kSuiteName)) {}

void APMTCFClient::readTCFData() {
  m_tcfData = APMTCFData::readTCFData(*m_standardDefaults, ZULBundleAccess::infoDictionary());
}

std::optional<std::string> APMTCFClient::storedStringRepresentation() {
  return m_userDefaults->stringForKey(kStringRepresentationKey);
}

void APMTCFClient::setConsentFromTCFData() {
  readTCFData();
  const std::string representation = m_tcfData.stringRepresentationFromTCFData();
  if (representation == kNothingToRead) return;
  if (storedStringRepresentation() == representation) return;

  const platform::Dictionary consent = m_tcfData.consent();
  const bool oneTimeFix = shouldApplyOneTimeTCFVendorFix();
  const bool consentChanged = Value(previousConsent()) != Value(consent);
  APMEngineServices::logInternalEvent(
      kEventOrigin, kEventName,
      {{"_tcfd", tcfBundleParameterValue()},
       {"_tcfd2", tcfd2ParamValue()},
       {"_tcfm", tcfdMigrationParamValueForMigrationDidOccur(oneTimeFix, consentChanged)}});
  storeCurrentData();
  if ((oneTimeFix || m_tcfData.shouldApplyTCFData()) && m_setConsent) m_setConsent(consent, kConsentKey);
}

std::string APMTCFClient::tcfdMigrationParamValueForMigrationDidOccur(bool migrationDidOccur,
                                                                     bool didMigrationChangeConsent) {
  return std::string(migrationDidOccur ? "1" : "0") + (didMigrationChangeConsent ? "1" : "0");
}

bool APMTCFClient::shouldApplyOneTimeTCFVendorFix() {
  const std::optional<std::string> stored = storedStringRepresentation();
  if (stored && stored->find("_v_=2") != std::string::npos) return false;
  return m_tcfData.shouldApplyTCFData() && !m_tcfData.hasVendorInVendorConsents();
}

platform::Dictionary APMTCFClient::previousConsent() {
  return APMTCFDataGenerator::fromStoredValues(*m_userDefaults).generateData().consent();
}

void APMTCFClient::storeCurrentData() {
  const APMTCFData::Values& v = m_tcfData.values();
  m_userDefaults->setBool(v.isTCFDataEnabled, APMTCFData::kTCFDataEnabledKey);
  m_userDefaults->setObject(orNull(v.isAdvertiserConsentModeEnabled), APMTCFData::kAdvertiserConsentModeKey);
  m_userDefaults->setObject(orNull(v.vendorConsents), APMTCFData::kVendorConsentsKey);
  m_userDefaults->setObject(orNull(v.vendorLegitimateInterests), APMTCFData::kVendorLegitimateInterestsKey);
  m_userDefaults->setObject(orNull(v.cmpSDKID), APMTCFData::kCmpSDKIDKey);
  m_userDefaults->setObject(orNull(v.gdprApplies), APMTCFData::kGdprAppliesKey);
  m_userDefaults->setObject(orNull(v.policyVersion), APMTCFData::kPolicyVersionKey);
  m_userDefaults->setObject(orNull(v.purposeConsents), APMTCFData::kPurposeConsentsKey);
  m_userDefaults->setObject(orNull(v.purposeLegitimateInterests), APMTCFData::kPurposeLegitimateInterestsKey);
  Value restrictions;
  if (v.publisherRestrictions) {
    platform::Array items;
    for (const std::string& restriction : *v.publisherRestrictions) items.append(restriction);
    restrictions = Value(items);
  }
  m_userDefaults->setObject(restrictions, APMTCFData::kPublisherRestrictionsKey);
  m_userDefaults->setObject(orNull(v.isPurposeOneTreatmentEnabled), APMTCFData::kPurposeOneTreatmentKey);
  m_userDefaults->setObject(orNull(v.publisherCC), APMTCFData::kPublisherCCKey);
  // Last: the representation marks the values above as applied.
  m_userDefaults->setObject(Value(m_tcfData.stringRepresentationFromTCFData()), kStringRepresentationKey);
}

void APMTCFClient::clearPersistedValues() { m_userDefaults->clearAllData(); }

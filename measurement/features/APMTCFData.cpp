#include "measurement/features/APMTCFData.h"

#include "measurement/base/APMDataUtil.h"
#include "measurement/features/APMTCFRegistration.h"

namespace {

using platform::Value;

bool isTrue(const std::optional<Value>& value) { return value && value->isNumeric() && value->boolValue(); }

int64_t integerOf(const std::optional<Value>& value) { return value ? value->longLongValue() : 0; }

bool bit(const std::optional<std::string>& bits, int64_t index) { return bits && isBitEnabledAtIndex(*bits, index); }

// The character at a UTF-16 index, as UTF-8; "" when the index is beyond the
// text or falls inside a character.
std::string characterAtUTF16Index(const std::string& text, size_t index) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (units == index) return text.substr(i, length);
    units += length == 4 ? 2 : 1;
    if (units > index) return "";
    i += length;
  }
  return "";
}

std::string text(const std::optional<Value>& value) { return value ? value->stringValue() : std::string(); }

}  // namespace

bool APMTCFData::isTCFDataEnabledFromInfo(const Value* value) {
  if (value == nullptr) return true;
  return value->isNumeric() && value->boolValue();
}

APMTCFData APMTCFData::readTCFData(APMConfigStore& defaults, const platform::Dictionary& info) {
  Values values;
  values.isTCFDataEnabled = isTCFDataEnabledFromInfo(info.find(kTCFDataEnabledKey));
  values.isAdvertiserConsentModeEnabled = defaults.numberForKey(kAdvertiserConsentModeKey);
  values.vendorConsents = defaults.stringForKey(kVendorConsentsKey);
  values.vendorLegitimateInterests = defaults.stringForKey(kVendorLegitimateInterestsKey);
  values.cmpSDKID = defaults.numberForKey(kCmpSDKIDKey);
  values.gdprApplies = defaults.numberForKey(kGdprAppliesKey);
  values.policyVersion = defaults.numberForKey(kPolicyVersionKey);
  values.purposeConsents = defaults.stringForKey(kPurposeConsentsKey);
  values.purposeLegitimateInterests = defaults.stringForKey(kPurposeLegitimateInterestsKey);
  std::array<std::string, kPurposeCount> restrictions;
  for (int purpose = 1; purpose <= kPurposeCount; ++purpose) {
    std::optional<std::string> bits = defaults.stringForKey(kPublisherRestrictionsKey + std::to_string(purpose));
    if (bits && Value::utf16Length(*bits) > static_cast<size_t>(kVendorIndex)) {
      restrictions[purpose - 1] = characterAtUTF16Index(*bits, kVendorIndex);
    }
  }
  values.publisherRestrictions = restrictions;
  values.isPurposeOneTreatmentEnabled = defaults.numberForKey(kPurposeOneTreatmentKey);
  values.publisherCC = defaults.stringForKey(kPublisherCCKey);
  return APMTCFData(std::move(values));
}

// --- purpose rules ---------------------------------------------------------------------------

int APMTCFData::publisherRestrictionForPurposeID(int purposeID) const {
  if (!m_values.publisherRestrictions || purposeID < 1 || purposeID > kPurposeCount) return 3;
  const std::string& restriction = (*m_values.publisherRestrictions)[purposeID - 1];
  if (restriction == "0") return 0;
  if (restriction == "1") return 1;
  if (restriction == "2") return 2;
  return 3;
}

int APMTCFData::legalBasisCheckFromPurposeID(int purposeID) const {
  const APMTCFRegistration& registration = APMTCFRegistration::sharedInstance();
  const int restriction = publisherRestrictionForPurposeID(purposeID);
  const bool flexible = registration.hasFlexibleLegitimateInterestForPurposeID(purposeID);
  if (restriction == 0) return 0;
  if (registration.hasConsentForPurposeID(purposeID)) {
    if (restriction == 2) return flexible ? 3 : 1;
    return 2;
  }
  if (registration.hasLegitimateInterestForPurposeID(purposeID)) {
    if (restriction == 1) return flexible ? 2 : 1;
    return 3;
  }
  return 0;
}

bool APMTCFData::isPurposeOneSpecialTreatment() const {
  return isTrue(m_values.isPurposeOneTreatmentEnabled) && m_values.publisherCC == "CH";
}

bool APMTCFData::hasVendorInVendorConsents() const { return bit(m_values.vendorConsents, kVendorIndex); }

int APMTCFData::consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(int purposeID) const {
  switch (legalBasisCheckFromPurposeID(purposeID)) {
    case 3:
      if (!bit(m_values.vendorLegitimateInterests, kVendorIndex)) return 5;
      return bit(m_values.purposeLegitimateInterests, purposeID - 1) ? 1 : 7;
    case 2:
      if (purposeID == 1 && isPurposeOneSpecialTreatment() && hasVendorInVendorConsents()) return 1;
      if (!hasVendorInVendorConsents()) return 4;
      return bit(m_values.purposeConsents, purposeID - 1) ? 1 : 6;
    case 1:
      return 8;
    default:
      return 3;
  }
}

bool APMTCFData::isAdStorageGranted() const {
  return consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1) == 1;
}

bool APMTCFData::isAdPersonalizationGranted() const {
  return consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(3) == 1 &&
         consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(4) == 1;
}

bool APMTCFData::isAdUserDataGranted() const {
  return m_values.policyVersion && m_values.policyVersion->isNumeric() && m_values.policyVersion->doubleValue() > 3 &&
         consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(1) == 1 &&
         consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(7) == 1;
}

bool APMTCFData::shouldApplyTCFData() const {
  return m_values.isTCFDataEnabled && isTrue(m_values.isAdvertiserConsentModeEnabled) && isTrue(m_values.gdprApplies);
}

platform::Dictionary APMTCFData::consent() const {
  auto status = [](bool granted) { return granted ? "granted" : "denied"; };
  return {{"ad_storage", status(isAdStorageGranted())},
          {"ad_personalization", status(isAdPersonalizationGranted())},
          {"ad_user_data", status(isAdUserDataGranted())}};
}

// --- texts ---------------------------------------------------------------------------------

std::string APMTCFData::stringRepresentationFromTCFData() const {
  const Values& v = m_values;
  std::string out = "_v_=2,isTCFDataEnabled=" + std::to_string(v.isTCFDataEnabled ? 1 : 0);
  auto add = [&out](const std::string& name, const std::string& value) { out += "," + name + "=" + value; };
  auto number = [](const std::optional<Value>& value) { return std::to_string(value->intValue()); };
  if (v.isAdvertiserConsentModeEnabled) add("isAdvertiserConsentModeEnabled", number(v.isAdvertiserConsentModeEnabled));
  if (v.cmpSDKID) add("cmpSDKID", number(v.cmpSDKID));
  if (v.vendorConsents) add("hasZoruvuInVendorConsents", hasVendorInVendorConsents() ? "1" : "0");
  if (v.vendorLegitimateInterests) {
    add("hasZoruvuInVendorLegitimateInterests", bit(v.vendorLegitimateInterests, kVendorIndex) ? "1" : "0");
  }
  if (v.gdprApplies) add("gdprApplies", number(v.gdprApplies));
  if (v.policyVersion) add("policyVersion", number(v.policyVersion));
  if (v.purposeConsents) add("purposeConsents", *v.purposeConsents);
  if (v.purposeLegitimateInterests) add("purposeLegitimateInterests", *v.purposeLegitimateInterests);
  if (v.publisherRestrictions) {
    std::string joined;
    bool any = false;
    for (size_t i = 0; i < v.publisherRestrictions->size(); ++i) {
      if (i > 0) joined += "|";
      joined += (*v.publisherRestrictions)[i];
      any = any || !(*v.publisherRestrictions)[i].empty();
    }
    if (any) add("publisherRestrictions", joined);
  }
  if (v.isPurposeOneTreatmentEnabled) add("isPurposeOneTreatmentEnabled", text(v.isPurposeOneTreatmentEnabled));
  if (v.publisherCC) add("publisherCC", *v.publisherCC);
  return out;
}

std::string APMTCFData::tcfBundleParameterValue(bool isDMARegion) const {
  std::string out = "1";
  const int64_t cmp = integerOf(m_values.cmpSDKID);
  if (cmp >= 0 && cmp <= 4095) {
    out += kAlphabet[(cmp >> 6) & 63];
    out += kAlphabet[cmp & 63];
  } else {
    out += "00";
  }
  const int64_t policy = integerOf(m_values.policyVersion);
  out += policy >= 0 && policy <= 63 ? kAlphabet[policy] : '0';
  const int flags = (isDMARegion ? 1 : 0) | (isTrue(m_values.gdprApplies) ? 2 : 0) |
                    (m_values.isTCFDataEnabled ? 4 : 0) | (isTrue(m_values.isAdvertiserConsentModeEnabled) ? 8 : 0);
  out += kAlphabet[flags];
  return out;
}

std::string APMTCFData::tcfd2ParamValue() const {
  std::string out = "2";
  for (int purpose : {1, 3, 4, 7}) {
    out += std::to_string(consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(purpose));
  }
  return out;
}

// TCF consent data: the purpose rules as tables, the "_tcfd" boundaries, the
// representation, and the client's workflow against real user defaults.
#include "measurement/features/APMTCFClient.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/features/APMTCFDataGenerator.h"
#include "measurement/features/APMTCFRegistration.h"

namespace {

using platform::Dictionary;
using platform::Value;

// A bit string of `length` characters with "1" at the given zero-based indexes.
std::string bits(std::set<int> ones, size_t length = 755) {
  std::string text(length, '0');
  for (int index : ones) text[index] = '1';
  return text;
}

// A publisher restriction string whose vendor character is `code`.
std::string restriction(char code, size_t length = 755) {
  std::string text(length, '3');
  if (length > 754) text[754] = code;
  return text;
}

APMTCFData::Values allGranted() {
  APMTCFData::Values v;
  v.isAdvertiserConsentModeEnabled = Value(1);
  v.gdprApplies = Value(1);
  v.policyVersion = Value(4);
  v.cmpSDKID = Value(300);
  v.vendorConsents = bits({754});
  v.vendorLegitimateInterests = bits({754});
  v.purposeConsents = bits({0, 1, 2, 3, 6}, 11);
  v.purposeLegitimateInterests = bits({1, 6, 8, 9}, 11);
  v.publisherRestrictions.emplace();
  return v;
}

TEST(TCFRulesTest, LegalBasisFollowsThePurposeKindAndItsRestriction) {
  struct Case {
    int purpose;
    std::string restriction;
    int basis;
  };
  const Case cases[] = {
      {1, "", 2},  {1, "1", 2}, {1, "0", 0}, {1, "2", 1},   // consent purpose, not flexible
      {2, "", 3},  {2, "2", 3}, {2, "1", 2}, {2, "0", 0},   // legitimate interest, flexible
      {7, "1", 2}, {9, "x", 3}, {5, "", 0},  {11, "", 0},   // 5: neither kind; 11: beyond the list
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.purpose) + " '" + c.restriction + "'");
    APMTCFData::Values v;
    v.publisherRestrictions.emplace();
    if (c.purpose <= 10) (*v.publisherRestrictions)[c.purpose - 1] = c.restriction;
    EXPECT_EQ(APMTCFData(v).legalBasisCheckFromPurposeID(c.purpose), c.basis);
  }
  const APMTCFRegistration& registration = APMTCFRegistration::sharedInstance();
  EXPECT_TRUE(registration.hasConsentForPurposeID(4));
  EXPECT_FALSE(registration.hasFlexibleLegitimateInterestForPurposeID(1));
}

TEST(TCFRulesTest, ConsentReasonsPerLegalBasis) {
  struct Case {
    const char* name;
    int purpose;
    std::function<void(APMTCFData::Values&)> change;
    int reason;
  };
  const Case cases[] = {
      {"consent given", 1, [](auto&) {}, 1},
      {"consent purpose bit unset", 3, [](auto& v) { v.purposeConsents = bits({0}, 11); }, 6},
      {"vendor without consent", 1, [](auto& v) { v.vendorConsents = bits({}); }, 4},
      {"vendor consent string too short", 1, [](auto& v) { v.vendorConsents = bits({}, 754); }, 4},
      {"purpose one treatment in CH needs no purpose bit", 1,
       [](auto& v) {
         v.purposeConsents = bits({}, 11);
         v.isPurposeOneTreatmentEnabled = Value(true);
         v.publisherCC = "CH";
       },
       1},
      {"purpose one treatment elsewhere", 1,
       [](auto& v) {
         v.purposeConsents = bits({}, 11);
         v.isPurposeOneTreatmentEnabled = Value(1);
         v.publisherCC = "DE";
       },
       6},
      {"legitimate interest given", 7, [](auto&) {}, 1},
      {"legitimate interest bit unset", 7, [](auto& v) { v.purposeLegitimateInterests = bits({}, 11); }, 7},
      {"vendor without legitimate interest", 7, [](auto& v) { v.vendorLegitimateInterests.reset(); }, 5},
      {"blocked by restriction", 1, [](auto& v) { (*v.publisherRestrictions)[0] = "2"; }, 8},
      {"not allowed", 4, [](auto& v) { (*v.publisherRestrictions)[3] = "0"; }, 3},
      {"flexible purpose switched to consent", 7, [](auto& v) { (*v.publisherRestrictions)[6] = "1"; }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    APMTCFData::Values v = allGranted();
    c.change(v);
    EXPECT_EQ(APMTCFData(v).consentReasonForPurposeGrantedWithRestrictionCheckForPurposeID(c.purpose), c.reason);
  }
}

TEST(TCFRulesTest, AdUserDataNeedsPolicyVersionFour) {
  APMTCFData::Values v = allGranted();
  EXPECT_EQ(Value(APMTCFData(v).consent()),
            Value(Dictionary{{"ad_storage", "granted"}, {"ad_personalization", "granted"}, {"ad_user_data", "granted"}}));
  v.policyVersion = Value(3);
  EXPECT_EQ(APMTCFData(v).consent().get("ad_user_data"), Value("denied"));
  v.policyVersion.reset();
  EXPECT_EQ(APMTCFData(v).consent().get("ad_user_data"), Value("denied"));
  v = allGranted();
  v.purposeConsents = bits({0, 2}, 11);  // purpose 4 missing
  EXPECT_EQ(APMTCFData(v).consent().get("ad_personalization"), Value("denied"));
  EXPECT_EQ(APMTCFData(v).consent().get("ad_storage"), Value("granted"));
}

TEST(TCFRulesTest, BundleParameterEncodesCmpPolicyAndFlags) {
  struct Case {
    std::optional<Value> cmp;
    std::optional<Value> policy;
    bool dma;
    std::string expected;
  };
  const Case cases[] = {
      {Value(4095), Value(63), false, "1___0"},  // the largest CMP and version that fit
      {Value(4096), Value(64), false, "10000"},
      {Value(-1), Value(4), true, "10041"},
      {std::nullopt, std::nullopt, false, "10000"},
      {Value(64), Value(2), false, "11020"},
  };
  for (const Case& c : cases) {
    APMTCFData::Values v;
    v.cmpSDKID = c.cmp;
    v.policyVersion = c.policy;
    v.isTCFDataEnabled = false;
    EXPECT_EQ(APMTCFData(v).tcfBundleParameterValue(c.dma), c.expected);
  }
  APMTCFData::Values flags = allGranted();
  EXPECT_EQ(APMTCFData(flags).tcfBundleParameterValue(true), "14I4f");  // 300 = 4*64+44; version 4; bits 1|2|4|8
}

TEST(TCFRulesTest, RepresentationListsOnlyWhatIsPresent) {
  EXPECT_EQ(APMTCFData().stringRepresentationFromTCFData(), "_v_=2,isTCFDataEnabled=1");
  APMTCFData::Values v = allGranted();
  v.isTCFDataEnabled = false;
  (*v.publisherRestrictions)[2] = "1";
  v.isPurposeOneTreatmentEnabled = Value(1);
  v.publisherCC = "FR";
  EXPECT_EQ(APMTCFData(v).stringRepresentationFromTCFData(),
            "_v_=2,isTCFDataEnabled=0,isAdvertiserConsentModeEnabled=1,cmpSDKID=300,hasZoruvuInVendorConsents=1,"
            "hasZoruvuInVendorLegitimateInterests=1,gdprApplies=1,policyVersion=4,purposeConsents=11110010000,"
            "purposeLegitimateInterests=01000010110,publisherRestrictions=||1|||||||,isPurposeOneTreatmentEnabled=1,"
            "publisherCC=FR");
  EXPECT_EQ(APMTCFData(v).tcfd2ParamValue(), "21111");
}

class TCFClientTest : public ::testing::Test {
 protected:
  TCFClientTest() {
    APMEngineServices::setInternalEventLogger(
        [this](const std::string& origin, const std::string& name, const Dictionary& parameters) {
          std::lock_guard lock(m_mutex);
          events.push_back({origin + " " + name, parameters});
        });
  }

  APMTCFClient makeClient() {
    return APMTCFClient([this](const Dictionary& consent, const std::string& key) {
      std::lock_guard lock(m_mutex);
      applied.push_back({key, consent});
    });
  }
  void write(const Dictionary& values) {
    for (const auto& [key, value] : values) standard->setObject(value, key);
  }
  void writeGranted() {
    write({{"IABTCF_EnableAdvertiserConsentMode", 1},
           {"IABTCF_gdprApplies", 1},
           {"IABTCF_PolicyVersion", 4},
           {"IABTCF_CmpSdkID", 300},
           {"IABTCF_VendorConsents", bits({754})},
           {"IABTCF_VendorLegitimateInterests", bits({754})},
           {"IABTCF_PurposeConsents", bits({0, 2, 3, 6}, 11)},
           {"IABTCF_PurposeLegitimateInterests", bits({6}, 11)}});
  }

  measurementtest::MeasurementTestEnvironment env;
  std::shared_ptr<APMUserDefaults> standard = APMUserDefaults::sharedUserDefaults();
  APMUserDefaults suite{APMTCFClient::kSuiteName};
  std::vector<std::pair<std::string, Dictionary>> events;
  std::vector<std::pair<std::string, Dictionary>> applied;

 private:
  std::mutex m_mutex;
};

TEST_F(TCFClientTest, WithoutDataNothingIsLoggedOrApplied) {
  APMTCFClient client = makeClient();
  client.setConsentFromTCFData();
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(applied.empty());
  EXPECT_EQ(client.storedStringRepresentation(), std::nullopt);
}

TEST_F(TCFClientTest, DisabledDataIsLoggedOnceAndStoredButNotApplied) {
  env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"}, {APMTCFData::kTCFDataEnabledKey, false}});
  APMTCFClient client = makeClient();
  client.setConsentFromTCFData();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, "auto _tcf");
  EXPECT_EQ(events[0].second.get("_tcfd"), Value("10001"));  // DMA region until told otherwise
  EXPECT_EQ(events[0].second.get("_tcfm"), Value("00"));     // all denied before and now
  EXPECT_EQ(client.storedStringRepresentation(), "_v_=2,isTCFDataEnabled=0");
  EXPECT_TRUE(applied.empty());
  makeClient().setConsentFromTCFData();  // unchanged: nothing more
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(TCFClientTest, AppliedDataIsStoredAndOnlyAChangeIsReportedAgain) {
  writeGranted();
  APMTCFClient client = makeClient();
  client.setIsDMARegion(false);
  client.setConsentFromTCFData();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second.get("_tcfd"), Value("14I4e"));
  EXPECT_EQ(events[0].second.get("_tcfd2"), Value("21111"));
  EXPECT_EQ(events[0].second.get("_tcfm"), Value("01"));
  ASSERT_EQ(applied.size(), 1u);
  EXPECT_EQ(applied[0].first, "consent_settings_tcf");
  EXPECT_EQ(Value(applied[0].second),
            Value(Dictionary{{"ad_storage", "granted"}, {"ad_personalization", "granted"}, {"ad_user_data", "granted"}}));
  EXPECT_EQ(suite.integerForKey("IABTCF_CmpSdkID"), 300);
  EXPECT_EQ(suite.arrayForKey("IABTCF_PublisherRestrictions")->size(), 10u);

  client.setConsentFromTCFData();
  EXPECT_EQ(events.size(), 1u);

  // Policy version 3: ad user data turns denied, which the migration digit shows.
  write({{"IABTCF_PolicyVersion", 3}});
  client.setConsentFromTCFData();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].second.get("_tcfm"), Value("01"));
  EXPECT_EQ(applied.back().second.get("ad_user_data"), Value("denied"));
  EXPECT_EQ(APMTCFDataGenerator::fromStoredValues(suite).generateData().consent().get("ad_user_data"),
            Value("denied"));
}

TEST_F(TCFClientTest, TheOneTimeVendorFixAppliesWhenTheVendorHasNoConsentAndNothingNewWasStored) {
  writeGranted();
  write({{"IABTCF_VendorConsents", bits({})}});
  suite.setObject(Value("isTCFDataEnabled=1,gdprApplies=1"), APMTCFClient::kStringRepresentationKey);
  APMTCFClient client = makeClient();
  client.readTCFData();
  EXPECT_TRUE(client.shouldApplyOneTimeTCFVendorFix());
  client.setConsentFromTCFData();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second.get("_tcfm").stringValue().substr(0, 1), "1");
  ASSERT_EQ(applied.size(), 1u);
  EXPECT_EQ(applied[0].second.get("ad_storage"), Value("denied"));
  // Once the new representation is stored, the fix is done.
  EXPECT_FALSE(client.shouldApplyOneTimeTCFVendorFix());
}

TEST_F(TCFClientTest, RestrictionsAreReadAtTheVendorsCharacterOnly) {
  writeGranted();
  write({{"IABTCF_PublisherRestrictions1", restriction('2', 754)},   // too short: no restriction
         {"IABTCF_PublisherRestrictions3", restriction('0')},        // purpose 3 not allowed
         {"IABTCF_PublisherRestrictions7", Value(1)}});             // not a string
  APMTCFClient client = makeClient();
  client.readTCFData();
  const APMTCFData& data = client.tcfData();
  EXPECT_EQ(data.publisherRestrictionForPurposeID(1), 3);
  EXPECT_EQ(data.publisherRestrictionForPurposeID(3), 0);
  EXPECT_EQ(data.publisherRestrictionForPurposeID(7), 3);
  EXPECT_EQ(data.consent().get("ad_personalization"), Value("denied"));
  EXPECT_NE(data.stringRepresentationFromTCFData().find("publisherRestrictions=||0|||||||"), std::string::npos);

  client.setConsentFromTCFData();
  client.clearPersistedValues();
  EXPECT_EQ(client.storedStringRepresentation(), std::nullopt);
}

}  // namespace

// The process-wide consent state: priorities of sources, the effective
// advertising consents (EU policy, delegation, defaults), the two upload
// texts and the Info.plist defaults.
#include "measurement/features/APMConsentSettingsUtil.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "measurement/base/tests/MeasurementTestEnvironment.h"

namespace {

using platform::Dictionary;
using platform::Value;
using Util = APMConsentSettingsUtil;

class ConsentSettingsUtilTest : public ::testing::Test {
 protected:
  ConsentSettingsUtilTest() { Util::resetForTesting(); }
  ~ConsentSettingsUtilTest() override { Util::resetForTesting(); }
};

TEST_F(ConsentSettingsUtilTest, AFreshProcessKnowsNothing) {
  EXPECT_EQ(Util::consentSource(), 100);
  EXPECT_EQ(Util::version(), 1);
  EXPECT_EQ(Util::consentSignals(), "G1--");
  EXPECT_EQ(Util::consentDiagnostics(), "19999");
  EXPECT_FALSE(Util::isAdStorageDenied());
  EXPECT_FALSE(Util::isAnalyticsStorageDenied());
  EXPECT_FALSE(Util::isAdUserDataDenied());
  EXPECT_EQ(Util::adPersonalization(), std::nullopt);
  EXPECT_FALSE(Util::consentSettings().has_value());
  EXPECT_EQ(Util::description(), "ad_storage is granted. analytics_storage is granted.");
}

TEST_F(ConsentSettingsUtilTest, OnlyVersionsOneAndTwoAreAccepted) {
  for (int64_t version : {0, 3, -1}) Util::setVersion(version);
  EXPECT_EQ(Util::version(), 1);
  Util::setVersion(2);
  EXPECT_EQ(Util::version(), 2);
}

TEST_F(ConsentSettingsUtilTest, SourcesRankByNumberWithTCFAndThirdPartyAsPeers) {
  struct Case {
    int64_t current;
    int64_t proposed;
    bool higher;
    bool equal;
  };
  const Case cases[] = {
      {10, 5, true, true},   {5, 10, true, true},   {5, 30, false, false}, {30, 10, true, false},
      {100, 5, true, false}, {100, 40, true, false}, {20, 20, true, true},  {20, 30, false, false},
      {40, 30, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.current) + " <- " + std::to_string(c.proposed));
    Util::setConsentSource(c.current);
    EXPECT_EQ(Util::isConsentSourceHigherPriority(c.proposed), c.higher);
    EXPECT_EQ(Util::isConsentSourceEqualPriority(c.proposed), c.equal);
  }
}

TEST_F(ConsentSettingsUtilTest, EffectiveAdUserDataFollowsPolicyDelegationAndDefaults) {
  struct Case {
    const char* name;
    Dictionary settings;
    std::optional<Dictionary> delegated;
    std::optional<Dictionary> defaults;
    std::optional<Dictionary> regional;
    bool denied;
    char digit;  // the diagnostic digit of ad_user_data after the settings came from the application
  };
  const Case cases[] = {
      {"EU policy in capitals, no regional defaults", {{"ad_user_data", "EU_CONSENT_POLICY"}}, {}, {}, {}, true, '8'},
      {"EU policy with a granting region",
       {{"ad_user_data", "eu_consent_policy"}},
       {},
       {},
       Dictionary{{"ad_user_data", "granted"}},
       false,
       '8'},
      {"delegated to granted ad storage", {{"ad_storage", "granted"}}, Dictionary{{"ad_user_data", "ad_storage"}}, {}, {},
       false, '2'},
      {"delegated to denied ad storage", {{"ad_storage", "Denied"}}, Dictionary{{"ad_user_data", "ad_storage"}}, {}, {},
       true, '2'},
      {"delegated to an unset type falls to the defaults",
       {{"ad_storage", "granted"}},
       Dictionary{{"ad_user_data", "analytics_storage"}},
       Dictionary{{"ad_user_data", "denied"}},
       {},
       true,
       '2'},
      {"default only", {{"ad_storage", "granted"}}, {}, Dictionary{{"ad_user_data", "denied"}}, {}, true, '1'},
      {"set value wins over the default", {{"ad_user_data", "granted"}}, {}, Dictionary{{"ad_user_data", "denied"}}, {},
       false, '5'},
      {"a non-string value counts as none", {{"ad_user_data", 2}}, {}, {}, {}, false, '5'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Util::clearAllSettings();
    Util::setDelegatedSettings(c.delegated);
    Util::setDefaultSettings(c.defaults);
    Util::setRegionalDefaults(c.regional);
    Util::updateSettingsConsentSource(c.settings, Util::kSourceApplication);
    EXPECT_EQ(Util::isAdUserDataDenied(), c.denied);
    EXPECT_EQ(Util::consentDiagnostics()[3], c.digit);
    EXPECT_EQ(Util::didAdUserDataConsentChange(!c.denied), true);
  }
}

TEST_F(ConsentSettingsUtilTest, TheApplicationSettingAllFourTypes) {
  Util::updateSettingsConsentSource({{"ad_storage", "denied"},
                                     {"analytics_storage", "granted"},
                                     {"ad_user_data", "eu_consent_policy"},
                                     {"ad_personalization", "GRANTED"}},
                                    Util::kSourceApplication);
  EXPECT_EQ(Util::consentSource(), 30);
  EXPECT_EQ(Util::consentSignals(), "G101");
  // Every merged type took the application's digit; the EU policy shows as 8.
  EXPECT_EQ(Util::consentDiagnostics(), "15585");
  EXPECT_TRUE(Util::isAdStorageDenied());
  EXPECT_FALSE(Util::isAnalyticsStorageDenied());
  EXPECT_TRUE(Util::isAdUserDataDenied());
  EXPECT_EQ(Util::adPersonalization(), 1);
  EXPECT_EQ(Util::description(),
            "ad_storage is denied. analytics_storage is granted. ad_user_data is denied (eu_consent_policy). "
            "ad_personalization is GRANTED.");
}

TEST_F(ConsentSettingsUtilTest, DiagnosticDigitsFollowTheSource) {
  const std::pair<int64_t, const char*> cases[] = {
      {5, "17799"}, {10, "15599"}, {20, "13399"}, {30, "15599"}, {40, "14499"}, {100, "10099"}};
  for (const auto& [source, diagnostics] : cases) {
    SCOPED_TRACE(source);
    Util::clearAllSettings();
    Util::setConsentSettings(Dictionary{{"ad_storage", "granted"}, {"analytics_storage", "denied"}});
    Util::setConsentSource(source);
    EXPECT_EQ(Util::consentDiagnostics(), diagnostics);
    EXPECT_EQ(Util::consentSignals(), "G110");
  }
  // Clearing the settings also forgets the source.
  Util::setConsentSettings(std::nullopt);
  EXPECT_EQ(Util::consentSource(), 100);
  EXPECT_EQ(Util::consentDiagnostics(), "19999");
}

TEST_F(ConsentSettingsUtilTest, DefaultsGiveTheirOwnDigits) {
  Util::setDefaultSettings(
      Dictionary{{"ad_storage", "denied"}, {"ad_user_data", "granted"}, {"ad_personalization", "denied"}});
  EXPECT_EQ(Util::consentDiagnostics(), "19911");
  EXPECT_EQ(Util::adPersonalization(), 0);
  EXPECT_FALSE(Util::isAdStorageDenied());  // defaults are not consulted for storage
}

TEST_F(ConsentSettingsUtilTest, UnsettingAdPersonalizationOnlyTouchesASetValue) {
  Util::unsetAdPersonalization();
  EXPECT_FALSE(Util::consentSettings().has_value());
  Util::updateSettingsConsentSource({{"ad_personalization", "denied"}}, Util::kSourceThirdParty);
  EXPECT_EQ(Util::adPersonalization(), 0);
  Util::unsetAdPersonalization();
  EXPECT_EQ(Util::adPersonalization(), std::nullopt);
  EXPECT_EQ(Util::consentSettings()->size(), 0u);
}

TEST_F(ConsentSettingsUtilTest, ReadsAreCopiesAndClearingForgetsEverything) {
  Dictionary given{{"ad_storage", "granted"}};
  Util::setConsentSettings(given);
  given.set("ad_storage", "denied");
  std::optional<Dictionary> read = Util::consentSettings();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->get("ad_storage"), Value("granted"));
  read->set("analytics_storage", "denied");
  EXPECT_FALSE(Util::isAnalyticsStorageDenied());

  Util::setDefaultSettings(Dictionary{{"ad_storage", "denied"}});
  Util::setConsentSource(10);
  Util::clearAllSettings();
  EXPECT_EQ(Util::consentSource(), 100);
  EXPECT_FALSE(Util::consentSettings().has_value());
  EXPECT_FALSE(Util::defaultSettings().has_value());
  EXPECT_EQ(Util::consentDiagnostics(), "19999");
}

TEST_F(ConsentSettingsUtilTest, OnlyTheFourTypesAreTakenFromADictionary) {
  const Dictionary taken = Util::consentSettingsFromDictionary(
      {{"ad_storage", "denied"}, {"ad_personalization", 7}, {"other", "granted"}, {"analytics", "granted"}});
  EXPECT_EQ(Value(taken), Value(Dictionary{{"ad_storage", "denied"}, {"ad_personalization", 7}}));
}

TEST(ConsentSettingsPlistTest, InfoDefaultsConvertPerType) {
  struct Case {
    const char* name;
    Dictionary info;
    Dictionary expected;
  };
  const Case cases[] = {
      {"booleans and numbers", {{Util::kPlistAdStorageKey, false}, {Util::kPlistAnalyticsStorageKey, 1}},
       {{"ad_storage", "denied"}, {"analytics_storage", "granted"}}},
      {"strings answer their Boolean value", {{Util::kPlistAdUserDataKey, "YES"}, {Util::kPlistAdStorageKey, "no"}},
       {{"ad_user_data", "granted"}, {"ad_storage", "denied"}}},
      {"ad personalization from a string only",
       {{Util::kPlistAdPersonalizationKey, true}},
       {}},
      {"ad personalization string", {{Util::kPlistAdPersonalizationKey, "YES"}}, {{"ad_personalization", "granted"}}},
      {"EU policy for advertising types only",
       {{Util::kPlistAdUserDataKey, "EU_consent_policy"}, {Util::kPlistAdStorageKey, "eu_consent_policy"}},
       {{"ad_user_data", "eu_consent_policy"}}},
      {"other objects give nothing", {{Util::kPlistAdStorageKey, Value::data(platform::Bytes{1})}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    measurementtest::MeasurementTestEnvironment env;
    Dictionary info{{"CFBundleIdentifier", "com.tavix.app"}};
    for (const auto& [key, value] : c.info) info.set(key, value);
    env.writeInfo(info);
    EXPECT_EQ(Value(Util::consentSettingsFromPlist()), Value(c.expected));
  }
}

TEST(ConsentNamesTest, TypesStatusesAndSourceDigitsConvertBothWays) {
  EXPECT_EQ(APMConsentTypeFromName("ad_storage"), 1);
  EXPECT_EQ(APMConsentTypeFromName("ad_personalization"), 4);
  EXPECT_EQ(APMConsentTypeFromName("Ad_storage"), 0);
  EXPECT_EQ(APMConsentStatusFromName("denied"), 2);
  EXPECT_EQ(APMConsentStatusFromName(""), 0);
  EXPECT_EQ(APMConsentRegionalValue("ad_storage", std::nullopt), "granted");
  EXPECT_EQ(APMConsentRegionalValue("ad_personalization", std::nullopt), "denied");
  EXPECT_EQ(APMConsentRegionalValue("ad_storage", Dictionary{{"ad_storage", "denied"}}), "denied");
}

}  // namespace

// The identifiers and consent fields of a bundle under each consent state,
// the same-consent comparison and redaction by data control.
#include "measurement/engine/APMBundleIdentifiers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/base/tests/RemoteConfigTestSupport.h"
#include "measurement/messages/APMPBSlots.h"
#include "measurement/messages/APMPBFieldAccess.h"

namespace {


struct ScriptedIdentity : APMIdentityValues {
  std::optional<uint64_t> trackingStatus;  // none: no tracking authorization on the system
  std::optional<bool> limitedAdTracking_;
  std::optional<std::string> advertisingID;
  std::optional<std::string> vendorID;
  std::optional<std::string> instanceID;
  std::string ephemeralID = "EPHEMERAL";

  bool hasTrackingAuthorization() override { return trackingStatus.has_value(); }
  uint64_t trackingAuthorizationStatus() override { return trackingStatus.value_or(0); }
  bool hasLimitedAdTracking() override { return limitedAdTracking_.has_value(); }
  bool limitedAdTracking() override { return limitedAdTracking_.value_or(false); }
  std::optional<std::string> resettableDeviceID() override { return advertisingID; }
  std::optional<std::string> identifierForVendor() override { return vendorID; }
  std::optional<std::string> appInstanceID() override { return instanceID; }
  std::string ephemeralAppInstanceID() override { return ephemeralID; }
};

std::shared_ptr<APMPBMeasurementBundle> bundleWithAudienceResults(size_t count) {
  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  platform::Array results;
  for (size_t index = 0; index < count; ++index) {
    results.append(APMPBObjectValue(APMPBAudienceLeafFilterResult::initWithMessageInfo(nullptr)));
  }
  APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kAudienceEvaluationResults, results);
  APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kSessionStitchingToken, std::string("token"));
  return bundle;
}

std::string text(const APMPBMeasurementBundle& bundle, int32_t slot) {
  return APMPBGetString(&bundle, slot).value_or("-");
}

std::shared_ptr<APMPBUserAttribute> userAttribute(const std::string& name, int64_t value) {
  auto attribute = APMPBUserAttribute::initWithMessageInfo(nullptr);
  APMPBSetString(attribute.get(), APMPBUserAttributeSlot::kName, name);
  APMPBSetInt64(attribute.get(), APMPBUserAttributeSlot::kIntValue, value);
  return attribute;
}

TEST(BundleIdentifiersTest, IdentifiersFollowTheConsentSignalsAndTrackingState) {
  struct Case {
    const char* name;
    std::string signals;
    bool gate;
    std::optional<uint64_t> tracking;
    std::optional<bool> limitedAdTracking;
    std::string advertisingID;  // slot 19, "-" absent
    std::string vendorID;       // slot 20
    std::string instanceID;     // slot 22
    std::string token;          // slot 43
    size_t audienceResults;
    std::string trackingSlot;   // slot 41
  };
  const Case cases[] = {
      {"all granted", "G111", false, 3, false, "ADID", "-", "INSTANCE", "token", 2, "3"},
      {"limited ad tracking unknown: the vendor ID", "G111", false, 3, std::nullopt, "-", "VENDOR", "INSTANCE",
       "token", 2, "3"},
      {"ad storage denied", "G10d", false, 3, false, "-", "-", "-", "-", 0, "3"},
      {"analytics denied, vendor ID present", "G11D", false, 3, false, "ADID", "-", "-", "-", 0, "3"},
      {"ad storage denied only", "G101", false, 3, false, "-", "VENDOR", "INSTANCE", "token", 2, "3"},
      {"status 6 is not written", "G111", false, 6, false, "ADID", "-", "INSTANCE", "token", 2, "-"},
      {"authorized status passes the gate", "G111", true, 3, false, "ADID", "-", "INSTANCE", "token", 2, "3"},
      {"a gated status falls back to the vendor ID", "G111", true, 2, false, "-", "VENDOR", "INSTANCE", "token", 2,
       "2"},
      {"short signals deny nothing", "G1", false, std::nullopt, true, "ADID", "-", "INSTANCE", "token", 2, "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedIdentity identity;
    identity.trackingStatus = c.tracking;
    identity.limitedAdTracking_ = c.limitedAdTracking;
    identity.advertisingID = "ADID";
    identity.vendorID = "VENDOR";
    identity.instanceID = "INSTANCE";
    std::shared_ptr<APMPBMeasurementBundle> bundle = bundleWithAudienceResults(2);
    APMApplyIdentifiersUnderConsent(*bundle, c.signals, c.gate, identity, true);
    EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kResettableDeviceID), c.advertisingID);
    EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kVendorID), c.vendorID);
    EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kAppInstanceID), c.instanceID);
    EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kSessionStitchingToken), c.token);
    EXPECT_EQ(APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kAudienceEvaluationResults)->size(), c.audienceResults);
    EXPECT_EQ(APMPBHasField(bundle.get(), APMPBMeasurementBundleSlot::kTrackingAuthorizationStatus)
                  ? std::to_string(APMPBGetInt32(bundle.get(), APMPBMeasurementBundleSlot::kTrackingAuthorizationStatus))
                  : "-",
              c.trackingSlot);
    EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kConsentSignals), c.signals.size() < 4 ? "-" : c.signals);
    EXPECT_EQ(APMPBHasField(bundle.get(), APMPBMeasurementBundleSlot::kLimitedAdTracking), c.limitedAdTracking.has_value());
  }
}

TEST(BundleIdentifiersTest, StoredSignalsWinWithoutOverwriteAndEmptySignalsClearThem) {
  ScriptedIdentity identity;
  identity.limitedAdTracking_ = false;
  identity.advertisingID = "ADID";
  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kConsentSignals, std::string("G10-"));
  APMApplyIdentifiersUnderConsent(*bundle, "G11-", false, identity, false);
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kConsentSignals), "G10-");
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kResettableDeviceID), "-");  // the stored denial holds
  APMApplyIdentifiersUnderConsent(*bundle, "G11-", false, identity, true);
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kResettableDeviceID), "ADID");
  APMApplyIdentifiersUnderConsent(*bundle, "", false, identity, false);
  EXPECT_FALSE(APMPBHasField(bundle.get(), APMPBMeasurementBundleSlot::kConsentSignals));
}

TEST(BundleIdentifiersTest, ConsentExtrasAndTheNPAProperty) {
  measurementtest::MeasurementTestEnvironment env;
  struct Case {
    const char* name;
    bool dma;
    std::vector<std::string> services;
    bool adUserDataDenied;
    std::string expected;  // slot 49, "-" also when absent
    bool present;
  };
  const Case cases[] = {
      {"DMA region with services", true, {"b_service", "a_service"}, false, "a_serviceb_service", true},
      {"ad user data denied", true, {"a_service"}, true, "-", true},
      {"no services", true, {}, false, "-", true},
      {"outside the DMA region", false, {"a_service"}, false, "-", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto config = measurementtest::configuration(measurementtest::MeasurementTestEnvironment::kAppID);
    auto consent = APMPBConsentConfig::initWithMessageInfo(nullptr);
    APMPBSetBool(consent.get(), APMPBConsentConfigSlot::kDMARegion, c.dma);
    platform::Array services;
    for (const std::string& service : c.services) {
      auto entry = APMPBCorePlatformServiceEntry::initWithMessageInfo(nullptr);
      APMPBSetString(entry.get(), APMPBCorePlatformServiceEntrySlot::kName, service);
      services.append(APMPBObjectValue(entry));
    }
    APMPBSetArray(consent.get(), APMPBConsentConfigSlot::kCorePlatformServices, services);
    APMPBSetMessage(config.get(), APMPBMeasurementConfigSlot::kConsentConfig, consent.get());
    std::shared_ptr<APMRemoteConfig> settings =
        APMRemoteConfig::initWithAppID(measurementtest::MeasurementTestEnvironment::kAppID, {}, config, nullptr, nullptr);
    ASSERT_EQ(settings->isDMARegion(), c.dma);
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMApplyConsentExtras(*bundle, "15555", c.adUserDataDenied, userAttribute("_npa", 1), *settings, true);
    EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kConsentDiagnostics), "15555");
    EXPECT_EQ(APMPBGetBool(bundle.get(), APMPBMeasurementBundleSlot::kDMARegion), c.dma);
    EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kCorePlatformServices), c.expected);
    EXPECT_EQ(APMPBHasField(bundle.get(), APMPBMeasurementBundleSlot::kCorePlatformServices), c.present);
    ASSERT_TRUE(APMNPAUserAttributeOfBundle(*bundle));
    // Without overwrite the stored "_npa" stays; with it, it is replaced.
    APMApplyConsentExtras(*bundle, "19999", false, userAttribute("_npa", 0), *settings, false);
    EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kConsentDiagnostics), "15555");
    EXPECT_EQ(APMPBGetInt64(APMNPAUserAttributeOfBundle(*bundle).get(), APMPBUserAttributeSlot::kIntValue), 1);
    APMApplyConsentExtras(*bundle, "19999", false, userAttribute("_npa", 0), *settings, true);
    EXPECT_EQ(APMPBGetInt64(APMNPAUserAttributeOfBundle(*bundle).get(), APMPBUserAttributeSlot::kIntValue), 0);
    EXPECT_EQ(APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kUserAttributes)->size(), 1u);
  }
}

TEST(BundleIdentifiersTest, SameConsentComparesSignalsExtrasAndTheNPAValue) {
  auto make = [](const std::string& signals, std::optional<int64_t> npa) {
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kConsentSignals, signals);
    APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kConsentDiagnostics, std::string("15555"));
    if (npa) APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kUserAttributes, platform::Array{APMPBObjectValue(userAttribute("_npa", *npa))});
    return bundle;
  };
  EXPECT_TRUE(APMBundlesHaveSameConsent(make("G111", 1).get(), make("G111", 1).get()));
  EXPECT_FALSE(APMBundlesHaveSameConsent(make("G111", 1).get(), make("G111", 0).get()));
  EXPECT_FALSE(APMBundlesHaveSameConsent(make("G111", std::nullopt).get(), make("G110", std::nullopt).get()));
  EXPECT_TRUE(APMBundlesHaveSameConsent(make("G111", std::nullopt).get(), make("G111", std::nullopt).get()));
  EXPECT_FALSE(APMBundlesHaveSameConsent(make("G111", 1).get(), nullptr));
}

TEST(BundleIdentifiersTest, RedactionBlanksTheNamedFieldsAndRecordsTheNames) {
  ScriptedIdentity identity;
  auto make = [](const std::string& signals) {
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kConsentSignals, signals);
    APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kAppInstanceID, std::string("INSTANCE"));
    APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kOSVersion, std::string("14.2.1"));
    APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kDeviceModel, std::string("Workstation1,1"));
    APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kSessionStitchingToken, std::string("token"));
    APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kUserAttributes,
                  platform::Array{APMPBObjectValue(userAttribute("_id", 1)), APMPBObjectValue(userAttribute("_npa", 0))});
    return bundle;
  };
  auto bundle = make("G111");
  APMRedactBundleFields(*bundle, {"app_instance_id", "user_id", "os_version", "enhanced_user_id"}, identity);
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kAppInstanceID), "-");
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kEphemeralAppInstanceID), "EPHEMERAL");
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kOSVersion), "14");
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kDeviceModel), "Workstation1,1");
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kSessionStitchingToken), "-");
  EXPECT_EQ(APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kUserAttributes)->size(), 1u);
  EXPECT_EQ(APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kRedactedFields)->size(), 4u);

  bundle = make("G110");
  APMRedactBundleFields(*bundle, {"app_instance_id", "device_info"}, identity);
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kEphemeralAppInstanceID), "-");  // analytics storage denied
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kOSVersion), "14");
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kDeviceModel), "-");

  bundle = make("G111");
  APMRedactBundleFields(*bundle, {}, identity);
  EXPECT_FALSE(APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kRedactedFields)->size());
  EXPECT_EQ(text(*bundle, APMPBMeasurementBundleSlot::kOSVersion), "14.2.1");
  EXPECT_TRUE(APMIsAnalyticsStorageDeniedSignal("G1-d"));
  EXPECT_FALSE(APMIsAnalyticsStorageDeniedSignal("G1d"));
}

}  // namespace

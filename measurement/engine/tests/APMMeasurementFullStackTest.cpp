// The whole road of a first open, from the SDK's configuration at launch to
// the bytes at the fake services: no configuration is stored, so 15 s after
// the event the configuration is fetched, and at once the first batch goes
// out, checked field by field. TCF values the consent tool left before the
// start are in force by then: their "_tcf" event and consent are in it.
#include <gtest/gtest.h>

#include <string>

#include "measurement/base/APMUserDefaults.h"
#include "measurement/engine/tests/BundleTestSupport.h"
#include "testing/fakes/measurement/FakeMeasurementConfigService.h"
#include "testing/fakes/measurement/FakeMeasurementUploadService.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using measurementtest::MeasurementTestEnvironment;
using Bundle = APMPBMeasurementBundleSlot;

TEST(MeasurementFullStackTest, AFirstOpenReachesTheUploadServiceAfterTheConfiguration) {
  MeasurementEngineWorld world;
  testkit::FakeMeasurementConfigService configs(world.services);
  testkit::FakeMeasurementUploadService uploads(world.services);
  world.configureApp();
  ASSERT_TRUE(world.engine());

  // The engine reports the first open itself at its start.
  const double firstOpen = world.clock()->now();
  world.advance(14.9);
  EXPECT_EQ(configs.fetchCount(), 0u);
  EXPECT_EQ(uploads.uploadCount(), 0u);
  world.advance(0.1);
  ASSERT_EQ(configs.fetchCount(), 1u);
  EXPECT_EQ(configs.fetches()[0].appID, MeasurementTestEnvironment::kAppID);
  ASSERT_EQ(uploads.uploadCount(), 1u);

  const std::vector<testkit::UploadedBatch> batches = uploads.batches();
  ASSERT_TRUE(batches[0].message);
  // "_f" and its "_e" share a bundle unless their metadata rows differ, which
  // depends on what start-up has settled when each is stored: the first bundle
  // is the one that holds the first open.
  ASSERT_FALSE(batches[0].bundles.empty());
  const testkit::UploadedBundle& bundle = batches[0].bundles[0];
  const APMPBMeasurementBundle* message = bundle.message.get();
  const auto milliseconds = [](double seconds) { return static_cast<int64_t>(seconds * 1000); };
  EXPECT_EQ(APMPBGetInt32(message, Bundle::kProtocolVersion), 1);
  EXPECT_EQ(APMPBGetString(message, Bundle::kPlatform), "macos");
  EXPECT_EQ(APMPBGetString(message, Bundle::kInstallSource), "manual_install");
  EXPECT_EQ(APMPBGetString(message, Bundle::kAppID), "com.tavix.app");
  EXPECT_EQ(APMPBGetInt64(message, Bundle::kMetadataLibraryVersion), 120500);
  EXPECT_EQ(APMPBGetInt64(message, Bundle::kUploadLibraryVersion), 120500);
  EXPECT_EQ(APMPBGetString(message, Bundle::kMeasurementAppID), MeasurementTestEnvironment::kAppID);
  EXPECT_EQ(APMPBGetInt64(message, Bundle::kUploadTimestamp), milliseconds(firstOpen + 15));
  EXPECT_EQ(APMPBGetInt64(message, Bundle::kStartTimestamp), milliseconds(firstOpen));
  EXPECT_EQ(APMPBGetInt64(message, Bundle::kEndTimestamp), milliseconds(firstOpen));
  EXPECT_EQ(APMPBGetInt32(message, Bundle::kLastBundleIndex), static_cast<int32_t>(bundle.events.size()));
  EXPECT_EQ(APMPBGetInt32(message, Bundle::kLastDeliveryIndex), 1);
  EXPECT_EQ(APMPBGetString(message, Bundle::kConsentSignals), "G1--");
  EXPECT_FALSE(APMPBGetString(message, Bundle::kConsentDiagnostics).value_or("").empty());

  const std::vector<testkit::UploadedEvent> firstOpens = bundle.eventsNamed("_f");
  ASSERT_EQ(firstOpens.size(), 1u);
  EXPECT_EQ(firstOpens[0].timestampMs, milliseconds(firstOpen));
  EXPECT_EQ(firstOpens[0].eltValue, milliseconds(firstOpen));
  EXPECT_FALSE(firstOpens[0].hasParam("_elt"));
  EXPECT_EQ(firstOpens[0].params.get("_o"), platform::Value("auto"));

  // Uploaded bundles leave the queue; the next upload waits for new data.
  EXPECT_EQ(measurementtest::rawDatabase()->count("queue"), 0);
  EXPECT_EQ(measurementtest::rawDatabase()->count("raw_events"), 0);
}

TEST(MeasurementFullStackTest, TCFDataFoundAtTheStartIsInTheFirstUpload) {
  MeasurementEngineWorld world;
  testkit::FakeMeasurementConfigService configs(world.services);
  testkit::FakeMeasurementUploadService uploads(world.services);
  // What a consent tool writes: the vendor (index 754) and the purposes for
  // ad storage, personalisation and ad user data consented, policy version 4.
  std::string vendors(755, '0');
  vendors[754] = '1';
  const platform::Dictionary values{{"IABTCF_EnableAdvertiserConsentMode", 1},
                                    {"IABTCF_gdprApplies", 1},
                                    {"IABTCF_PolicyVersion", 4},
                                    {"IABTCF_CmpSdkID", 300},
                                    {"IABTCF_VendorConsents", vendors},
                                    {"IABTCF_VendorLegitimateInterests", vendors},
                                    {"IABTCF_PurposeConsents", "10110010000"},
                                    {"IABTCF_PurposeLegitimateInterests", "00000010000"}};
  for (const auto& [key, value] : values) APMUserDefaults::sharedUserDefaults()->setObject(value, key);
  world.configureApp();
  ASSERT_TRUE(world.engine());

  ROZAdavurudo::logEventWithName("tap", platform::Dictionary());
  world.settle();
  world.advance(15);
  ASSERT_EQ(configs.fetchCount(), 1u);
  ASSERT_EQ(uploads.uploadCount(), 1u);
  const std::vector<testkit::UploadedBatch> batches = uploads.batches();
  std::vector<testkit::UploadedEvent> tcf;
  std::vector<testkit::UploadedEvent> taps;
  for (const testkit::UploadedBundle& bundle : batches[0].bundles) {
    for (const testkit::UploadedEvent& event : bundle.eventsNamed("_tcf")) tcf.push_back(event);
    for (const testkit::UploadedEvent& event : bundle.eventsNamed("tap")) taps.push_back(event);
    // Ad storage, ad user data and personalisation granted by the TCF data
    // (diagnostic digit 7), analytics storage not said (9).
    EXPECT_EQ(APMPBGetString(bundle.message.get(), Bundle::kConsentSignals), "G11-");
    EXPECT_EQ(APMPBGetString(bundle.message.get(), Bundle::kConsentDiagnostics), "17977");
  }
  ASSERT_EQ(tcf.size(), 1u);
  EXPECT_EQ(tcf[0].params.get("_o"), platform::Value("auto"));
  EXPECT_EQ(tcf[0].params.get("_tcfm"), platform::Value("01"));
  EXPECT_TRUE(tcf[0].hasParam("_tcfd"));
  EXPECT_TRUE(tcf[0].hasParam("_tcfd2"));
  EXPECT_EQ(taps.size(), 1u);
}

}  // namespace

// The whole road of a first open, from the SDK's configuration at launch to
// the bytes at the fake services: no configuration is stored, so 15 s after
// the event the configuration is fetched, and at once the first batch goes
// out, checked field by field.
#include <gtest/gtest.h>

#include <string>

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
  ASSERT_EQ(batches[0].bundles.size(), 1u);
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

}  // namespace

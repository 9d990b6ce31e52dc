// The upload batch: one batch of fixed bundles on a fixed clock and identity,
// compared byte for byte, and the checksum it carries recomputed from the
// bundle it was taken over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measurement/base/APMDataUtil.h"
#include "measurement/engine/APMUploadBatch.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/crypto/Digest.h"

namespace {

using Bundle = APMPBMeasurementBundleSlot;

class FixedIdentity : public APMIdentityValues {
 public:
  bool hasTrackingAuthorization() override { return false; }
  uint64_t trackingAuthorizationStatus() override { return 0; }
  bool hasLimitedAdTracking() override { return false; }
  bool limitedAdTracking() override { return false; }
  std::optional<std::string> resettableDeviceID() override { return std::nullopt; }
  std::optional<std::string> identifierForVendor() override { return "vendor-1"; }
  std::optional<std::string> appInstanceID() override { return "instance-1"; }
  std::string ephemeralAppInstanceID() override { return "ephemeral-1"; }
};

std::shared_ptr<APMPBMeasurementBundle> fixedBundle(int32_t index, const std::string& signals) {
  auto param = APMPBEventParam::initWithMessageInfo(nullptr);
  APMPBSetString(param.get(), APMPBEventParamSlot::kName, "_o");
  APMPBSetString(param.get(), APMPBEventParamSlot::kStringValue, "auto");
  auto event = APMPBEvent::initWithMessageInfo(nullptr);
  APMPBSetArray(event.get(), APMPBEventSlot::kParams, platform::Array{APMPBObjectValue(param)});
  APMPBSetString(event.get(), APMPBEventSlot::kName, "_f");
  APMPBSetInt64(event.get(), APMPBEventSlot::kTimestamp, 1709251260000);
  APMPBSetInt64(event.get(), APMPBEventSlot::kEltValue, 5);
  auto attribute = APMPBUserAttribute::initWithMessageInfo(nullptr);
  APMPBSetInt64(attribute.get(), APMPBUserAttributeSlot::kSetTimestamp, 1709251260000);
  APMPBSetString(attribute.get(), APMPBUserAttributeSlot::kName, "_lte");
  APMPBSetInt64(attribute.get(), APMPBUserAttributeSlot::kIntValue, 42);

  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  APMPBSetInt32(bundle.get(), Bundle::kProtocolVersion, 1);
  APMPBSetArray(bundle.get(), Bundle::kEvents, platform::Array{APMPBObjectValue(event)});
  APMPBSetArray(bundle.get(), Bundle::kUserAttributes, platform::Array{APMPBObjectValue(attribute)});
  APMPBSetInt64(bundle.get(), Bundle::kStartTimestamp, 1709251260000);
  APMPBSetInt64(bundle.get(), Bundle::kEndTimestamp, 1709251261000);
  APMPBSetInt64(bundle.get(), Bundle::kPreviousBundleStartTimestamp, 1709251000000);
  APMPBSetInt64(bundle.get(), Bundle::kPreviousBundleEndTimestamp, 1709251100000);
  APMPBSetString(bundle.get(), Bundle::kPlatform, "macos");
  APMPBSetString(bundle.get(), Bundle::kOSVersion, "14.2.1");
  APMPBSetString(bundle.get(), Bundle::kAppID, "com.tavix.app");
  APMPBSetInt64(bundle.get(), Bundle::kMetadataLibraryVersion, 120500);
  APMPBSetString(bundle.get(), Bundle::kAppInstanceID, "instance-1");
  APMPBSetInt32(bundle.get(), Bundle::kLastBundleIndex, index);
  APMPBSetString(bundle.get(), Bundle::kMeasurementAppID, "1:123456789012:ios:0123abcdef");
  APMPBSetArray(bundle.get(), Bundle::kExperimentIDs, platform::Array{platform::Value(7u), platform::Value(300u)});
  APMPBSetString(bundle.get(), Bundle::kConsentSignals, signals);
  APMPBSetString(bundle.get(), Bundle::kConsentDiagnostics, "19911");
  APMPBSetInt32(bundle.get(), Bundle::kLastDeliveryIndex, index);
  return bundle;
}

TEST(APMUploadBatchTest, OneBatchOnAFixedClockAndIdentityHasTheseBytes) {
  FixedIdentity identity;
  std::vector<std::pair<std::shared_ptr<APMPBMeasurementBundle>, int64_t>> bundles = {
      {fixedBundle(1, "G1--"), 11}, {fixedBundle(2, "G1--"), 12}, {fixedBundle(3, "G111"), 13}};
  APMUploadBatch batch = APMComposeUploadBatch(bundles, 1709251275000, 120500, {"os_version"}, true, &identity, "eu");
  // The third bundle's consent differs: it waits for another batch.
  EXPECT_EQ(batch.rowIDs, (std::vector<int64_t>{11, 12}));
  ASSERT_TRUE(batch.payload);
  // Bundles (tag 1), each: 1, events, user properties, 4 upload time, 5, 6,
  // 7 previous end, 8, 9 cut by the data control, 14, 17, 18, 21, 23, 25,
  // 26 previous start, 45 twice, 47 checksum, 52, 64, 71, 77; subdomain (tag 8).
  EXPECT_EQ(platform::Digest::hex(*batch.payload),
            "0ad801080112190a0a0a025f6f12046175746f12025f6618e0dcc1badf3130051a0f08e0dcc1badf3112"
            "045f6c746520"
            "2a20f8d1c2badf3128e0dcc1badf3130c8e4c1badf3138e0fab7badf3142056d61636f734a023134720d"
            "636f6d2e7461"
            "7669782e6170708801b4ad079001b4ad07aa010a696e7374616e63652d31b80101ca011d313a31323334"
            "353637383930"
            "31323a696f733a30313233616263646566d001c0edb1badf31e80207e802ac02f802918bad9498d38d81"
            "f601a2030447"
            "312d2d82040a6f735f76657273696f6eba04053139393131e804010ad801080112190a0a0a025f6f1204"
            "6175746f1202"
            "5f6618e0dcc1badf3130051a0f08e0dcc1badf3112045f6c7465202a20f8d1c2badf3128e0dcc1badf31"
            "30c8e4c1badf"
            "3138e0fab7badf3142056d61636f734a023134720d636f6d2e74617669782e6170708801b4ad079001b4"
            "ad07aa010a69"
            "6e7374616e63652d31b80102ca011d313a3132333435363738393031323a696f733a3031323361626364"
            "6566d001c0ed"
            "b1badf31e80207e802ac02f802cea8f191c9a4d6d1da01a2030447312d2d82040a6f735f76657273696f"
            "6eba04053139"
            "393131e8040242026575");
}

TEST(APMUploadBatchTest, TheChecksumCoversTheBundleAsUploaded) {
  FixedIdentity identity;
  std::vector<std::pair<std::shared_ptr<APMPBMeasurementBundle>, int64_t>> bundles = {{fixedBundle(1, "G1--"), 1}};
  APMUploadBatch batch = APMComposeUploadBatch(bundles, 1709251275000, 120500, {}, true, &identity, std::nullopt);
  auto decoded = APMPBMeasurementBatch::initWithBuffer(*batch.payload);
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(APMPBHasField(decoded.get(), APMPBMeasurementBatchSlot::kUploadSubdomain));
  auto uploaded = APMPBObjectFromValue<APMPBMeasurementBundle>(
      APMPBGetArray<APMPBMeasurementBundle>(decoded.get(), APMPBMeasurementBatchSlot::kBundles)->at(0));
  const int64_t checksum = APMPBGetInt64(uploaded.get(), Bundle::kChecksum);
  EXPECT_EQ(APMPBGetInt64(uploaded.get(), Bundle::kUploadTimestamp), 1709251275000);
  EXPECT_EQ(APMPBGetInt64(uploaded.get(), Bundle::kUploadLibraryVersion), 120500);
  APMPBClearField(uploaded.get(), Bundle::kChecksum);
  EXPECT_EQ(checksum, apm_64LSBMD5(*uploaded->protoBuffer()));
  EXPECT_NE(checksum, 0);
}

}  // namespace

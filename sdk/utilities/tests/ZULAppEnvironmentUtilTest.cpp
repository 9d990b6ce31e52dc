#include "sdk/utilities/ZULAppEnvironmentUtil.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <fstream>

#include "sdk/utilities/tests/SdkTestEnvironment.h"

namespace {

TEST(ZULAppEnvironmentUtilTest, SystemVersionDropsAZeroPatch) {
  EXPECT_EQ(ZULAppEnvironmentUtil::formatSystemVersion(14, 0, 0), "14.0");
  EXPECT_EQ(ZULAppEnvironmentUtil::formatSystemVersion(14, 2, 1), "14.2.1");
  const std::pair<const char*, const char*> releases[] = {
      {"6.1.0-18-amd64", "6.1"}, {"6.18.44", "6.18.44"}, {"5.15.133.1-vendor-standard-2", "5.15.133"},
      {"4.19", "4.19"},          {"6", "6.0"},           {"garbage", "0.0"},
  };
  for (const auto& [release, expected] : releases) {
    EXPECT_EQ(ZULAppEnvironmentUtil::systemVersionFromRelease(release), expected) << release;
  }
}

TEST(ZULAppEnvironmentUtilTest, FactsComeFromTheRunningSystem) {
  struct utsname names {};
  ASSERT_EQ(::uname(&names), 0);
  EXPECT_EQ(ZULAppEnvironmentUtil::systemVersion(), ZULAppEnvironmentUtil::systemVersionFromRelease(names.release));
  std::string product;
  std::ifstream("/sys/class/dmi/id/product_name") >> product;
  std::string model = ZULAppEnvironmentUtil::deviceModel();
  EXPECT_FALSE(model.empty());
  if (product.empty()) {
    EXPECT_EQ(model, names.machine);
  }
  EXPECT_EQ(ZULAppEnvironmentUtil::getSysctlEntry("kernel.ostype"), std::optional<std::string>("Linux"));
  EXPECT_EQ(ZULAppEnvironmentUtil::getSysctlEntry("no.such.entry"), std::nullopt);
  EXPECT_EQ(ZULAppEnvironmentUtil::getSysctlEntry("../../etc/passwd"), std::nullopt);
}

TEST(ZULAppEnvironmentUtilTest, ConstantsOfThisBuild) {
  sdktest::SdkTestEnvironment env;
  EXPECT_FALSE(ZULAppEnvironmentUtil::isFromAppStore());  // a Linux executable is never encrypted
  EXPECT_FALSE(ZULAppEnvironmentUtil::isAppStoreReceiptSandbox());
  EXPECT_FALSE(ZULAppEnvironmentUtil::isSimulator());
  EXPECT_FALSE(ZULAppEnvironmentUtil::isAppExtension());
  EXPECT_FALSE(ZULAppEnvironmentUtil::isAppClip());
  EXPECT_TRUE(ZULAppEnvironmentUtil::supportsBackgroundURLSessionUploads());
  EXPECT_EQ(ZULAppEnvironmentUtil::applePlatform(), "macos");
  EXPECT_EQ(ZULAppEnvironmentUtil::appleDevicePlatform(), "macos");
  EXPECT_EQ(ZULAppEnvironmentUtil::deploymentType(), "swiftpm");
}

}  // namespace

#include "sdk/core/RIRRirivuduUserAgent.h"

#include <gtest/gtest.h>

#include "sdk/core/tests/SdkCoreFixture.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

namespace {

using sdktest::raised;

class RIRUserAgentTest : public sdktest::SdkCoreFixture {};

TEST_F(RIRUserAgentTest, PairsAreSortedWithoutRegardToCaseAndEnvironmentKeysWin) {
  env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"}, {"DTSDKBuild", "23C53"}});
  RIRRirivuduUserAgent agent;
  for (const char* name : {"riri-rcm", "riri-rc", "riri-install", "riri-ios", "Riri-Abt", "device"}) {
    agent.setValue("1.0", name);
  }
  agent.setValue("12.5.0", "riri-analytics");
  const std::string os = ZULAppEnvironmentUtil::systemVersion();
  const std::string device = ZULAppEnvironmentUtil::deviceModel();
  const std::string expected = "apple-platform/macos apple-sdk/23C53 appstore/false deploy/swiftpm device/" + device +
                               " os-version/" + os +
                               " Riri-Abt/1.0 riri-analytics/12.5.0 riri-install/1.0 riri-ios/1.0 riri-rc/1.0 "
                               "riri-rcm/1.0";
  EXPECT_EQ(agent.ririvuduUserAgent(), expected);  // no "xcode": absent from Info
  EXPECT_EQ(agent.ririvuduUserAgent(), expected);
  agent.setValue("2.0", "riri-zzz");
  EXPECT_EQ(agent.ririvuduUserAgent(), expected + " riri-zzz/2.0");
  agent.setValue(std::nullopt, "riri-zzz");
  EXPECT_EQ(agent.ririvuduUserAgent(), expected);
  agent.reset();
  EXPECT_EQ(agent.valuesByComponent(), agent.environmentComponents());
}

TEST_F(RIRUserAgentTest, LibraryRegistration) {
  RIRApp::registerLibrary("riri-good", "1.2.3-beta_4");
  RIRApp::registerLibrary("riri bad", "1.0");
  RIRApp::registerLibrary("riri-bad2", "1 0");
  RIRApp::registerLibrary("riri-good", "1.2.4");  // replaces
  std::string agent = RIRApp::ririvuduUserAgent();
  EXPECT_NE(agent.find("riri-good/1.2.4"), std::string::npos);
  EXPECT_EQ(agent.find("bad"), std::string::npos);
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000027] The library name (riri-bad2) or version number (1 0) contain "
                         "invalid characters. Only alphanumeric, dash, underscore and period characters are allowed."));
  EXPECT_EQ(raised([] { RIRApp::registerInternalLibrary(RIRLibrary{"RIRBroken", nullptr}, "riri-broken"); }),
            "NSInvalidArgumentException: Class RIRBroken attempted to register components, but it does not conform "
            "to `RIRLibrary or provide a `componentsToRegister:` method.");
  // Components of a library with a bad name are registered all the same.
  RIRApp::registerInternalLibrary(RIRLibrary{"RIRSpaced", [] { return std::vector<RIRComponent>{}; }}, "bad name");
  bool found = false;
  for (const RIRLibrary& library : RIRComponentContainer::registrants()) found |= library.className == "RIRSpaced";
  EXPECT_TRUE(found);
}

TEST_F(RIRUserAgentTest, OptionalLibrariesAreRegisteredByClassNameAtTheFirstConfigure) {
  auto& registry = platform::ClassRegistry::shared();
  ASSERT_TRUE(registry.registerClass("RIRStorage"));
  ASSERT_TRUE(registry.registerClass("RIRFunctions"));
  registry.addMethod("RIRFunctions", "sdkVersion",
                     [](platform::Object*, const platform::Arguments&) { return std::any(std::string("3.1.0")); },
                     platform::MethodKind::Class);
  RIRApp::configure();
  std::string agent = RIRApp::ririvuduUserAgent();
  registry.removeClass("RIRStorage");
  registry.removeClass("RIRFunctions");
  EXPECT_NE(agent.find("riri-str/12.6.0"), std::string::npos) << agent;
  EXPECT_NE(agent.find("riri-fun/3.1.0"), std::string::npos) << agent;
  EXPECT_EQ(agent.find("riri-ses"), std::string::npos);
}

}  // namespace

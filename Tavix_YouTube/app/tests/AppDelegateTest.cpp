// The application delegate at launch: the SDK is configured before
// "app_launch" is logged, and a broken options file leaves the application
// running without the SDK.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "Tavix_YouTube/app/AppDelegate.h"
#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
#include "measurement/engine/tests/MeasurementEngineWorld.h"
#include "testing/Quiescence.h"
#include "platform/notifications/Notification.h"
#include "sdk/core/RIRApp.h"
#include "sdk/registration/RIRRegistration.h"
#include "sdk/utilities/tests/SdkTestEnvironment.h"

namespace {

struct LaunchCase {
  const char* name;
  bool validOptions;
};
// Printed by name, so that the listed test names stay the same from run to run.
void PrintTo(const LaunchCase& c, std::ostream* out) { *out << c.name; }

class AppDelegateLaunchTest : public ::testing::TestWithParam<LaunchCase> {
 protected:
  void SetUp() override {
    RIRRegisterAll();
    measurementtest::MeasurementEngineWorld::resetProcessState();
  }
  void TearDown() override {
    // The engine's start-up and writes finish in this home, not the next test's.
    EXPECT_TRUE(testkit::waitForQuiescence());
    MyAnalytics::setSink(nullptr);
    RIRApp::resetForTesting();
    measurementtest::MeasurementEngineWorld::resetProcessState();
  }
  sdktest::SdkTestEnvironment env;
};

TEST_P(AppDelegateLaunchTest, ConfiguresThenLogsLaunch) {
  if (GetParam().validOptions) {
    env.writeOptions(sdktest::SdkTestEnvironment::validOptions());
  } else {
    env.writeOptionsText("this is not a property list");
  }
  std::vector<std::pair<std::string, bool>> events;  // name, SDK configured when logged
  MyAnalytics::setSink([&](const std::string& name, const platform::Dictionary&) {
    events.emplace_back(name, RIRApp::isDefaultAppConfigured());
  });

  AppDelegate delegate;
  EXPECT_NO_THROW(delegate.applicationDidFinishLaunching(platform::Notification{}));

  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, "app_launch");
  EXPECT_EQ(events[0].second, GetParam().validOptions);
  EXPECT_EQ(RIRApp::isDefaultAppConfigured(), GetParam().validOptions);
  EXPECT_EQ(env.logged("SDK not started: "), !GetParam().validOptions);
}

INSTANTIATE_TEST_SUITE_P(Options, AppDelegateLaunchTest,
                         ::testing::Values(LaunchCase{"Valid", true}, LaunchCase{"Broken", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

#include "platform/app/Application.h"
#include "sdk/utilities/ZULAppDelegateSwizzler.h"

namespace {

// The SDK's application-delegate proxy takes over the application's own
// delegate unless the Info dictionary switches it off.
TEST(AppDelegateProxyTest, TheApplicationsDelegateIsProxiedWhenTheSwitchesAllowIt) {
  for (bool enabled : {true, false}) {
    SCOPED_TRACE(enabled);
    sdktest::SdkTestEnvironment env;
    env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"}, {"RirivuduAppDelegateProxyEnabled", enabled}});
    platform::Application::setShared(std::make_shared<platform::Application>());
    std::shared_ptr<AppDelegate> delegate = AppDelegate::make();
    platform::Application::shared()->setDelegate(delegate);
    ZULAppDelegateSwizzler::resetProxyOriginalDelegateOnceToken();

    ZULAppDelegateSwizzler::proxyOriginalDelegate();

    const std::string proxied = std::string("ZUL_") + AppDelegate::kClassName + "-";
    EXPECT_EQ(delegate->className().rfind(proxied, 0) == 0, enabled) << delegate->className();
    EXPECT_EQ(platform::Application::shared()->delegate(), delegate);
  }
}

}  // namespace


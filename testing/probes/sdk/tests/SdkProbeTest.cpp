// Runs the sdk-probe program as the tests of other engineers and the CI do.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

namespace {

struct ProbeRun : testkit::ProgramRun {
  std::string err;
};

class SdkProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The probe sits beside this test program in <build>/bin; the bundle is <build>/resources.
    m_probe = testkit::builtProgram("sdk-probe");
    m_resources = testkit::binFolder() + "/../resources";
  }

  ProbeRun run(const std::string& arguments, const std::string& resources = {}) {
    std::string errPath = home.file("stderr.txt");
    std::string command = "APP_RESOURCES='" + (resources.empty() ? m_resources : resources) + "' '" + m_probe + "' " +
                          arguments + " 2>'" + errPath + "'";
    ProbeRun result;
    static_cast<testkit::ProgramRun&>(result) = testkit::runCommand(command);
    std::ifstream in(errPath);
    result.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return result;
  }

  testkit::TempHome home;
  std::string m_probe;
  std::string m_resources;
};

TEST_F(SdkProbeTest, ValueSubcommands) {
  ProbeRun r = run("libversion appid 1:123:ios:abc appid 1:123:ios:abcx appid 2:x timestamp 0 5 timestamp -1 999999999");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> 120600000\n=> YES\n=> NO\n=> YES\n=> 1970-01-01T00:00:00.000000005Z\n"
            "=> 1969-12-31T23:59:59.999999999Z\n");
  r = run("timestamp 253402300800 0");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "=> exception Invalid timestamp: Timestamp seconds out of range: 253402300800\n");
  r = run("timestamp 0 -1");
  EXPECT_EQ(r.out, "=> exception Invalid timestamp: Timestamp nanoseconds out of range: -1\n");
}

TEST_F(SdkProbeTest, UserAgentOfTheApplicationBundle) {
  ProbeRun r = run("useragent");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("=> apple-platform/macos apple-sdk/", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(" appstore/false deploy/swiftpm device/"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" riri-ios/12.6.0 riri-rc/12.6.0 riri-rcm/12.6.0 xcode/"), std::string::npos) << r.out;
}

TEST_F(SdkProbeTest, ConfigureOnceTwiceAndWithoutAnOptionsFile) {
  ProbeRun r = run("configure");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> configured __RIRAPP_DEFAULT\n");
  r = run("configure configure");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "=> configured __RIRAPP_DEFAULT\n"
            "=> exception com.ririvudu.core: Default app has already been configured.\n");
  r = run("configure", home.path());  // a bundle folder without the options file
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "=> exception com.ririvudu.core: `RirivuduApp.configure()` could not find a valid "
            "ZoruvuService-Info.plist in your project. Please download one from "
            "https://console.ririvudu.zoruvu.com/.\n");
  EXPECT_NE(r.err.find("12.6.0 - [RirivuduCore][I-COR000012] Could not locate configuration file: "
                       "'ZoruvuService-Info.plist'.\n"),
            std::string::npos)
      << r.err;
}

TEST_F(SdkProbeTest, DebugModeSwitchPersistsBetweenRuns) {
  const std::string line = "12.6.0 - [RirivuduCore][I-COR000001] Configuring the default app.";
  EXPECT_EQ(run("configure").err.find(line), std::string::npos);
  EXPECT_NE(run("-RIRDebugEnabled configure").err.find(line), std::string::npos);
  EXPECT_NE(run("configure").err.find(line), std::string::npos);
  EXPECT_EQ(run("configure -RIRDebugDisabled").err.find(line), std::string::npos);
  EXPECT_EQ(run("configure").err.find(line), std::string::npos);
}

TEST_F(SdkProbeTest, UsageErrors) {
  EXPECT_EQ(run("").status, 2);
  EXPECT_EQ(run("nosuchcommand").status, 2);
  EXPECT_EQ(run("appid").status, 2);
  EXPECT_EQ(run("timestamp x 1").status, 2);
}

}  // namespace

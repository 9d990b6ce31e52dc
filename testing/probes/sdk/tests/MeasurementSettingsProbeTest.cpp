// sdk-probe's measurement settings, persisted configuration, identity and
// product subcommands, run as the CI runs them, on a bundle of the test's own.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

namespace {

constexpr const char* kAppID = "1:123456789012:ios:0123abcdef";

struct ProbeRun : testkit::ProgramRun {
  std::string err;
};

class MeasurementSettingsProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bundle = home.file("Bundle");
    ASSERT_FALSE(platform::fs::createDirectory(bundle));
    writeInfo(platform::Dictionary{{"CFBundleIdentifier", "com.tavix.app"},
                                   {"CFBundleShortVersionString", "4.2"},
                                   {"CFBundleVersion", "10.3"},
                                   {"ZORUVU_ANALYTICS_SZTM_UPLOAD_ENABLED", true}});
    ASSERT_FALSE(platform::PropertyList::writeFile(bundle + "/ZoruvuService-Info.plist",
                                                   platform::Value::dict({{"ZORUVU_APP_ID", kAppID}})));
  }
  void writeInfo(const platform::Dictionary& info) {
    ASSERT_FALSE(platform::PropertyList::writeFile(bundle + "/Info.plist", platform::Value(info)));
  }

  ProbeRun run(const std::string& arguments) {
    const std::string errPath = home.file("stderr.txt");
    const std::string command = "APP_RESOURCES='" + bundle + "' APP_SERVICES_URL= APP_REACHABILITY=unreachable " +
                                "APP_KEYCHAIN_ROOT='" + home.file("keychain") + "' '" +
                                testkit::builtProgram("sdk-probe") + "' " + arguments + " 2>'" + errPath + "'";
    ProbeRun result;
    static_cast<testkit::ProgramRun&>(result) = testkit::runCommand(command);
    std::ifstream in(errPath);
    result.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return result;
  }

  testkit::TempHome home;
  std::string bundle;
};

TEST_F(MeasurementSettingsProbeTest, SettingsFromAConfiguration) {
  const std::string spec = std::string("'{\"0\":7,\"1\":\"") + kAppID +
                           "\",\"3\":[{\"0\":\"measurement.upload.interval\",\"1\":\"60000\"},"
                           "{\"0\":\"measurement.upload.max_bundles\",\"1\":\"0\"},"
                           "{\"0\":\"measurement.upload.max_bundles_created_per_iteration\",\"1\":\"5000\"},"
                           "{\"0\":\"measurement.quality.checksum\",\"1\":\"1\"}],"
                           "\"4\":[{\"0\":\"screen_view\",\"1\":true,\"3\":5},{\"0\":\"_x\",\"3\":70000}],"
                           "\"9\":[{\"0\":\"no_ads\"}],\"10\":\"eu\","
                           "\"12\":{\"0\":[{\"0\":2,\"1\":2},{\"0\":5,\"1\":1}],\"1\":[{\"0\":3,\"1\":1}],"
                           "\"2\":[{\"0\":\"b\"},{\"0\":\"a\"}],\"3\":false,\"4\":[{\"0\":1,\"1\":1}]},"
                           "\"13\":{\"0\":99},"
                           "\"14\":{\"0\":\"https://sztm.example.org/g\",\"1\":\"info\",\"3\":100}}'";
  ProbeRun r = run("settings-config " + spec +
                   " setting version setting uploadingInterval setting uploadMaxBundlesLimit"
                   " setting maxBundlesCreatedPerIteration setting checksumEnabled setting hashPrefixBitLengthEmail"
                   " setting uploadingRetryInterval event-config _vs event-config _x event-config other consent"
                   " data-controls config-url ios 120500 3 sztm");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "=> settings version 7\n=> 7\n=> 60\n=> 100\n=> 5\n=> YES\n=> 99\n=> 1800\n"
            "=> blocklisted=YES conversion=NO has_rate=YES rate=5\n"
            "=> blocklisted=NO conversion=NO has_rate=YES rate=1\n"
            "=> blocklisted=NO conversion=NO has_rate=NO rate=1\n"
            "=> defaults {\"\":\"granted\",\"analytics_storage\":\"denied\"}\n"
            "=> delegations {\"ad_user_data\":\"ad_storage\"}\n=> services [\"a\",\"b\"]\n"
            "=> regional {\"ad_storage\":\"granted\"}\n=> dma NO\n=> [\"no_ads\"]\n"
            "=> https://app-measurement-config.ririvudu.com/config/app/1:123456789012:ios:0123abcdef?platform=ios&"
            "runtime_version=3&vod_version=120500\n"
            "=> enabled=YES url=https://sztm.example.org/g headers={\"x-sztm-server-info\":\"info\"}\n");

  // Without a configuration every setting is its default.
  r = run("setting version setting uploadingInterval setting customerTypeEnabled sztm setting nosuch");
  EXPECT_EQ(r.out, "=> -1\n=> 3600\n=> YES\n=> enabled=NO url=nil headers=nil\n=> error: unknown setting nosuch\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(run("settings-config '{\"1\":5}'").out.rfind("=> error bad spec: ", 0), 0u);
}

TEST_F(MeasurementSettingsProbeTest, PersistedConfigurationAcrossRuns) {
  ProbeRun r = run(
      "clock 1700000000 persisted-set /k/a '\"text\"' advance 0.5 persisted-set /k/b 7 persisted-writes "
      "advance 0.49 persisted-writes advance 0.01 persisted-writes persisted-set /k/c 2.5 "
      "persisted-set /k/d '{\"x\":1}' persisted-get midnight");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::regex expected(
      "=> clock 1700000000\n=> ok\n=> at 1700000000.5\n=> ok\n=> writes 0\n=> at 1700000000.99\n=> writes 0\n"
      "=> at 1700000001\n=> writes 1\n=> ok\n=> ok\n=> ([0-9.]+)\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(r.out, match, expected)) << r.out;
  const std::string midnight = match[1];
  // The pending write was made at exit: everything is back in the next run.
  r = run("persisted-get /k/a persisted-get /k/b persisted-get /k/c persisted-get /k/d persisted-get /k/none "
          "persisted-get midnight persisted-writes");
  EXPECT_EQ(r.out, "=> \"text\"\n=> 7\n=> 2.5\n=> {\"x\":1}\n=> nil\n=> " + midnight + "\n=> writes 0\n");
  EXPECT_EQ(run("persisted-set /k/e '[1]'").status, 2);
}

TEST_F(MeasurementSettingsProbeTest, IdentityValues) {
  ProbeRun r = run("identity");
  const std::regex expected(
      "=> appInstanceID=([0-9A-F]{32}) status=6 appIDFromVOD=1:123456789012:ios:0123abcdef appVersion=4.2 "
      "major=10 minor=3 release=none diversionKey=([0-9A-F]{5})\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(r.out, match, expected)) << r.out;
  const std::string appInstanceID = match[1];
  const std::string diversionKey = match[2];
  EXPECT_NE(r.err.find("[I-ACS044003]"), std::string::npos) << r.err;
  // Kept across runs.
  EXPECT_EQ(run("identity").out, r.out);

  r = run("version-fields 1.2b3 version-fields 10.3 session-token 5 0 0 session-token 5 0 0 session-token 6 0 0 "
          "ad-event-id ad-event-id products b,a,b");
  const std::regex more(
      "=> \\[1,23\\]\n=> \\[10,3\\]\n=> ([0-9A-F]{32})\n=> ([0-9A-F]{32})\n=> ([0-9A-F]{32})\n=> (-?[0-9]+)\n"
      "=> (-?[0-9]+)\n=> products none invalid a,b\n");
  ASSERT_TRUE(std::regex_match(r.out, match, more)) << r.out;
  EXPECT_EQ(match[1], match[2]);
  EXPECT_NE(match[2], match[3]);
  EXPECT_EQ(std::stoll(match[5]), std::stoll(match[4]) + 1);
  EXPECT_EQ(run("session-token 5 2 0").status, 2);
}

}  // namespace

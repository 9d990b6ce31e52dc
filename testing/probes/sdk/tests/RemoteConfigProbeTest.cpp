// sdk-probe's remote configuration subcommands, each run with an environment
// of its own (temporary home and XDG folders, the built bundle, German
// locale, Berlin time, a loopback services address).
#include <gtest/gtest.h>

#include <string>

#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

namespace {

class RemoteConfigProbeTest : public ::testing::Test {
 protected:
  testkit::ProgramRun run(const std::string& arguments) {
    const std::string command = "env -i PATH=/usr/bin:/bin HOME='" + home.path() + "' XDG_DATA_HOME='" +
                                home.dataHome() + "' XDG_CONFIG_HOME='" + home.configHome() + "' XDG_CACHE_HOME='" +
                                home.cacheHome() + "' APP_RESOURCES='" + testkit::binFolder() +
                                "/../resources' APP_SERVICES_URL=http://127.0.0.1:9 LANG=de_DE.UTF-8 "
                                "TZ=Europe/Berlin '" +
                                testkit::builtProgram("sdk-probe") + "' " + arguments + " 2>/dev/null";
    return testkit::runCommand(command);
  }
  std::string databasePath() const {
    return home.dataHome() + "/com.tavix.app/Zoruvu/RemoteConfig/RemoteConfig.sqlite3";
  }

  testkit::TempHome home;
};

TEST_F(RemoteConfigProbeTest, ValueViews) {
  struct Case {
    std::string text;
    std::string out;
  };
  const Case cases[] = {
      {"' 3.5abc'", "=> string \" 3.5abc\"\n=> number 3.5\n=> bool YES\n=> json nil\n"},
      {"'[1, {\"b\": 2, \"a\": \"x\"}]'",
       "=> string \"[1, {\\\"b\\\": 2, \\\"a\\\": \\\"x\\\"}]\"\n=> number 0\n=> bool NO\n=> json [1,{\"a\":\"x\",\"b\":2}]\n"},
      {"' -007'", "=> string \" -007\"\n=> number -7\n=> bool YES\n=> json nil\n"},
      {"\"$(printf 'a\\377')\"", "=> string \"\"\n=> number 0\n=> bool NO\n=> json nil\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(run("rc-value " + c.text).out, c.out) << c.text;
}

TEST_F(RemoteConfigProbeTest, DatabaseContextAndBody) {
  testkit::ProgramRun r = run("rc-db-open rc-device-context");
  EXPECT_EQ(r.status, 0);
  const std::string first = r.out.substr(0, r.out.find('\n') + 1);
  EXPECT_EQ(first, "=> ok " + databasePath() + " new=YES\n");
  EXPECT_NE(r.out.find("=> {\"VOD_project_Identifier\":\"1:470815926123:ios:5b2c7f9a0d3e41a6\",\"app_build\":\"1\","
                       "\"app_version\":\"1.0\",\"device_locale\":\"de_DE\",\"os_version\":\""),
            std::string::npos);
  EXPECT_NE(r.out.find("\n=> preferred de_DE\n=> country de\n=> timezone Europe/Berlin\n"), std::string::npos);
  EXPECT_EQ(run("rc-db-open").out, "=> ok " + databasePath() + " new=NO\n");

  r = run("rc-body \"it's\" 'to\\ken' '{\"_fot\": 1700000000123}' rc-body id token '{}'");
  const std::string body = r.out.substr(0, r.out.find('\n'));
  EXPECT_EQ(body.rfind("=> {app_instance_id:'it\\'s', app_instance_id_token:'to\\\\ken', "
                       "app_id:'1:470815926123:ios:5b2c7f9a0d3e41a6', country_code:'de', language_code:'de_DE', "
                       "platform_version:'",
                       0),
            0u)
      << body;
  EXPECT_NE(body.find("', time_zone:'Europe/Berlin', package_name:'com.tavix.app', app_version:'1.0', app_build:'1', "
                      "sdk_version:'12.6.0', first_open_time:'2023-11-14T22:13:20Z'}"),
            std::string::npos)
      << body;
  EXPECT_NE(r.out.find("sdk_version:'12.6.0'}\n"), std::string::npos);
}

TEST_F(RemoteConfigProbeTest, BackoffOnAVirtualClock) {
  testkit::ProgramRun r = run("clock 1700000000 random 1 rc-backoff 8 random 0 rc-backoff 2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> clock 1700000000\n=> random 1\n"
            "=> interval 120 end +180\n=> interval 240 end +360\n=> interval 480 end +720\n"
            "=> interval 960 end +1440\n=> interval 1920 end +2880\n=> interval 3840 end +5760\n"
            "=> interval 7680 end +11520\n=> interval 7680 end +11520\n"
            "=> random 0\n=> interval 120 end +60\n=> interval 240 end +120\n");
}

TEST_F(RemoteConfigProbeTest, UserDefaultsStore) {
  testkit::ProgramRun r = run(
      "rc-ud-get ririvudu templateVersion rc-ud-get ririvudu lastETag "
      "rc-ud-set ririvudu lastETag '\"e-1\"' rc-ud-set ririvudu realtimeRetryCount 6 "
      "rc-ud-set other.ns customSignals '{\"a\":\"1\"}' rc-ud-get ririvudu lastETag rc-ud-get other.ns customSignals");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> \"0\"\n=> nil\n=> ok\n=> ok\n=> ok\n=> \"e-1\"\n=> {\"a\":\"1\"}\n");
  // Kept for the next run; nothing given keeps the old value.
  r = run("rc-ud-set ririvudu lastETag null rc-ud-get ririvudu lastETag rc-ud-get ririvudu realtimeRetryCount");
  EXPECT_EQ(r.out, "=> ok\n=> \"e-1\"\n=> 6\n");
  r = run("rc-ud-set ririvudu realtimeRetryCount '\"six\"'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "=> usage: a value of another kind for 'realtimeRetryCount'\n");
  EXPECT_EQ(run("rc-ud-get ririvudu nothing").out, "=> usage: unknown key 'nothing'\n");
}

}  // namespace

// sdk-probe's remote-config facade and A/B subcommands against the loopback
// fake installations and config fetch services, each run with an
// environment of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testing/ProgramRun.h"
#include "testing/TempHome.h"
#include "testing/fakes/installations/FakeInstallationsService.h"
#include "testing/fakes/remote-config/FakeRealtimeService.h"
#include "testing/fakes/remote-config/FakeRemoteConfigService.h"

namespace {

using testkit::Answer;
using testkit::FakeRemoteConfigService;

class RemoteConfigFacadeProbeTest : public ::testing::Test {
 protected:
  testkit::ProgramRun run(const std::string& arguments, const std::string& extraEnvironment = "") {
    const std::string command = "env -i PATH=/usr/bin:/bin HOME='" + home.path() + "' XDG_DATA_HOME='" +
                                home.dataHome() + "' XDG_CONFIG_HOME='" + home.configHome() + "' XDG_CACHE_HOME='" +
                                home.cacheHome() + "' XDG_STATE_HOME='" + home.stateHome() + "' APP_RESOURCES='" +
                                testkit::binFolder() + "/../resources' APP_SERVICES_URL=" + installations.url() +
                                " APP_KEYCHAIN_ROOT='" + home.file("keychain") +
                                "' APP_REACHABILITY=reachable LANG=de_DE.UTF-8 TZ=Europe/Berlin " + extraEnvironment +
                                " '" + testkit::builtProgram("sdk-probe") + "' " + arguments + " 2>/dev/null";
    return testkit::runCommand(command);
  }

  testkit::TempHome home;
  testkit::FakeInstallationsService installations;
  FakeRemoteConfigService service{installations.server()};
};

TEST_F(RemoteConfigFacadeProbeTest, LaunchRegistersWithoutStartingAnything) {
  testkit::ProgramRun r = run("configure useragent");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(" riri-abt/12.6.0 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" riri-rc/12.6.0 "), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(home.dataHome() + "/com.tavix.app/Zoruvu/RemoteConfig"));
  EXPECT_EQ(service.fetchCount(), 0u);
}

TEST_F(RemoteConfigFacadeProbeTest, FetchActivateAndRead) {
  service.script({FakeRemoteConfigService::update(R"({"a":"1","b":"two"})"), Answer::json(200, R"({"state":"NO_CHANGE"})"),
                  Answer::json(503, "{}")});
  testkit::ProgramRun r =
      run("clock 1700000000 random 1 rc-settings rc-defaults '{\"d\":\"x\",\"a\":\"0\"}' rc-keys 1 rc-get a "
          "rc-fetch 0 rc-activate rc-activate rc-get a rc-get d rc-get zz rc-keys 0 "
          "rc-signals '{\"k\":5}' rc-signals '{\"k\":[1]}' advance 1 rc-fetch 0 advance 1 rc-fetch 0");
  EXPECT_EQ(r.status, 1);  // the failed signals
  EXPECT_EQ(r.out,
            "=> clock 1700000000\n=> random 1\n"
            "=> minimumFetchInterval=43200 fetchTimeout=60\n=> ok\n=> [\"a\",\"d\"]\n=> source=1 string=\"0\"\n"
            "=> status=1 error=none\n=> changed=YES error=none\n=> changed=NO error=none\n"
            "=> source=0 string=\"1\"\n=> source=1 string=\"x\"\n=> source=2 string=\"\"\n=> [\"a\",\"b\"]\n"
            "=> ok\n=> error com.zoruvu.remoteconfig.customsignals.ErrorDomain:8102 Invalid value type. Must be "
            "NSString, NSNumber or NSNull\n"
            "=> at 1700000001\n=> status=1 error=none\n"
            "=> at 1700000002\n=> status=3 error=com.zoruvu.remoteconfig.ErrorDomain:8002 throttle_end=1700000182\n");
  ASSERT_EQ(service.fetchCount(), 3u);
  EXPECT_NE(service.fetches()[1].body.find(", custom_signals:{\"k\":\"5\"}}"), std::string::npos);
}

TEST_F(RemoteConfigFacadeProbeTest, ExperimentsThroughTheFakeConnector) {
  const std::string experiments =
      R"("experimentDescriptions":[)"
      R"({"experimentId":"e1","variantId":"v1","experimentStartTime":"2023-11-14T22:13:20.678Z","triggerEvent":"",)"
      R"("triggerTimeoutMillis":"15000","timeToLiveMillis":60000,"overflowPolicy":"DISCARD_OLDEST"},)"
      R"({"experimentId":"e2","variantId":"v1","experimentStartTimeMillis":1700000001000,"triggerEvent":"go"},)"
      R"({"experimentId":"e3","variantId":"v9","experimentStartTimeMillis":1700000002000,"overflowPolicy":"IGNORE_NEWEST"}])";
  service.script({FakeRemoteConfigService::update(R"({"a":"1"})", "1", experiments),
                  FakeRemoteConfigService::update(R"({"a":"2"})", "2", R"("experimentDescriptions":[])")});
  testkit::ProgramRun r = run(
      "clock 1700000100 connector-user-properties '{\"up\":\"1\"}' rc-fetch 0 rc-activate abt-state",
      "SDK_PROBE_FAKE_CONNECTOR=2");
  EXPECT_EQ(r.status, 0);
  const std::string event = R"("name":"%s","origin":"rrc","parameters":{"%e":"%v"},"timestamp":1700000100.0})";
  auto record = [&](const std::string& name, const std::string& experiment, const std::string& variant) {
    std::string text = "{" + event;
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"%s", name}, {"%e", experiment}, {"%v", variant}}) {
      text.replace(text.find(from), from.size(), to);
    }
    return text;
  };
  const std::string expected =
      "=> clock 1700000100\n=> ok\n=> status=1 error=none\n=> changed=YES error=none\n"
      "=> set {\"creationTimestamp\":1700000000,\"expiredEvent\":" + record("_exp_expire", "e1", "v1") +
      ",\"name\":\"e1\",\"origin\":\"rrc\",\"timeToLive\":60,\"timedOutEvent\":" + record("_exp_timeout", "e1", "v1") +
      ",\"triggerTimeout\":15,\"triggeredEvent\":" + record("_exp_activate", "e1", "v1") + ",\"value\":\"v1\"}\n"
      "=> log rrc _exp_set {\"e1\":\"v1\"}\n"
      "=> set {\"creationTimestamp\":1700000001,\"expiredEvent\":" + record("_exp_expire", "e2", "v1") +
      ",\"name\":\"e2\",\"origin\":\"rrc\",\"timeToLive\":0,\"timedOutEvent\":" + record("_exp_timeout", "e2", "v1") +
      ",\"triggerEventName\":\"go\",\"triggerTimeout\":0,\"triggeredEvent\":" + record("_exp_activate", "e2", "v1") +
      ",\"value\":\"v1\"}\n"
      "=> log rrc _exp_set {\"e2\":\"v1\"}\n"
      "=> cups rrc e1=v1,e2=v1\n";
  EXPECT_EQ(r.out, expected);
  ASSERT_EQ(service.fetchCount(), 1u);
  EXPECT_NE(service.fetches()[0].body.find(", analytics_user_properties:{\"up\":\"1\"}"), std::string::npos)
      << service.fetches()[0].body;

  // The next template has no experiments: every "rrc" experiment is cleared.
  r = run("clock 1700000200 rc-fetch 0 rc-activate abt-state", "SDK_PROBE_FAKE_CONNECTOR=2");
  EXPECT_EQ(r.out, "=> clock 1700000200\n=> status=1 error=none\n=> changed=YES error=none\n=> cups none\n");
}

TEST_F(RemoteConfigFacadeProbeTest, ListenForUpdates) {
  testkit::FakeRealtimeService stream{installations.server()};
  stream.script({testkit::FakeRealtimeService::streaming({testkit::FakeRealtimeService::message(2)}),
                 testkit::FakeRealtimeService::streaming({"{\"featureDisabled\": 1}"})});
  service.script({FakeRemoteConfigService::update(R"({"a":"1"})", "1"),
                  FakeRemoteConfigService::update(R"({"a":"2","b":"3"})", "2")});
  testkit::ProgramRun r = run("rc-fetch 0 random 0 rc-listen 1 20 rc-listen 1 20");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "=> status=1 error=none\n=> random 0\n=> update a,b\n=> calls 1\n"
            "=> error com.zoruvu.remoteconfig.update.ErrorDomain:8004 The server is temporarily unavailable. Try "
            "again in a few minutes.\n=> calls 1\n");
  EXPECT_EQ(stream.connectionCount(), 2u);
}

}  // namespace

// sdk-probe's analytics connector and conditional user properties in the
// analytics session, against the loopback fake installations and config
// fetch services: the remote configuration's experiments reach analytics
// through the real connector.
#include <gtest/gtest.h>

#include <string>

#include "testing/ProgramRun.h"
#include "testing/TempHome.h"
#include "testing/fakes/installations/FakeInstallationsService.h"
#include "testing/fakes/remote-config/FakeRemoteConfigService.h"

namespace {

using testkit::FakeRemoteConfigService;

class ConnectorProbeTest : public ::testing::Test {
 protected:
  testkit::ProgramRun run(const std::string& arguments) {
    const std::string command = "env -i PATH=/usr/bin:/bin HOME='" + home.path() + "' XDG_DATA_HOME='" +
                                home.dataHome() + "' XDG_CONFIG_HOME='" + home.configHome() + "' XDG_CACHE_HOME='" +
                                home.cacheHome() + "' XDG_STATE_HOME='" + home.stateHome() + "' APP_RESOURCES='" +
                                testkit::binFolder() + "/../resources' APP_SERVICES_URL=" + installations.url() +
                                " APP_KEYCHAIN_ROOT='" + home.file("keychain") +
                                "' APP_REACHABILITY=reachable LANG=C TZ=UTC '" + testkit::builtProgram("sdk-probe") +
                                "' " + arguments + " 2>/dev/null";
    return testkit::runCommand(command);
  }

  // The probe's output from the analytics session's start line on.
  static std::string afterStart(const std::string& out) {
    const std::string marker = "=> analytics started enabled=YES\n";
    const size_t found = out.find(marker);
    return found == std::string::npos ? out : out.substr(found + marker.size());
  }

  testkit::TempHome home;
  testkit::FakeInstallationsService installations;
  FakeRemoteConfigService service{installations.server()};
};

TEST_F(ConnectorProbeTest, FetchedExperimentsBecomeConditionalUserPropertiesOfTheRemoteConfiguration) {
  service.script({FakeRemoteConfigService::update(
      R"({"a":"1"})", "1",
      R"("experimentDescriptions":[)"
      R"({"experimentId":"e1","variantId":"v1","experimentStartTimeMillis":1700000000000,)"
      R"("triggerTimeoutMillis":"15000","timeToLiveMillis":60000},)"
      R"({"experimentId":"e2","variantId":"v2","experimentStartTimeMillis":1700000001000,"triggerEvent":"go",)"
      R"("triggerTimeoutMillis":60000,"timeToLiveMillis":600000}])")});
  testkit::ProgramRun r = run("analytics-start 1700000100 rc-fetch 0 rc-activate cup-list - rrc connector-props");
  EXPECT_EQ(r.status, 0) << r.out;
  // e1 has no trigger event: active at once, so its user property is set too.
  EXPECT_EQ(afterStart(r.out),
            "=> status=1 error=none\n=> changed=YES error=none\n"
            // The session prints the fetch when it next waits for the queues.
            "=> http POST /v1/projects/tavix-downloader/namespaces/ririvudu:fetch at=+0.000 status=200\n"
            "=> cup e1=v1 active=1 origin=rrc\n=> cup e2=v2 active=0 origin=rrc\n"
            "=> uprop _fot=1700002800000\n=> uprop e1=\"v1\"\n");
}

TEST_F(ConnectorProbeTest, TheConnectorLibraryIsInTheUserAgent) {
  testkit::ProgramRun r = run("configure useragent");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(" riri-analytics/12.5.0 "), std::string::npos) << r.out;
}

TEST_F(ConnectorProbeTest, ConnectorSubcommands) {
  testkit::ProgramRun r = run(
      "analytics-start 1700000100 "
      "connector-listen crash connector-listen rrc "
      R"(cup-set '{"name":"plan","origin":"rcm","value":"gold","triggerEventName":"go","triggerTimeout":60,"timeToLive":600}' )"
      R"(cup-set '{"name":"tier","origin":"rcm","value":7,"triggerTimeout":60,"timeToLive":600}' )"
      "cup-list - - cup-list pl rcm "
      R"(connector-log rcm go '{"n":1}' connector-log app dropped '{}' )"
      "cup-list - rcm "
      R"(cup-clear plan rcm _exp_clear '{"plan":"gold"}' cup-list - - )"
      "connector-prop rrc color blue connector-prop rrc _id blocked connector-props "
      "connector-max rrc connector-heard "
      R"(analytics-log tap '{"k":"v"}' connector-heard)");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(afterStart(r.out),
            "=> ok\n=> ok\n=> ok\n=> ok\n"
            "=> cup plan=gold active=0 origin=rcm\n=> cup tier=7 active=1 origin=rcm\n"
            "=> cup plan=gold active=0 origin=rcm\n"
            "=> ok\n=> ok\n"
            "=> cup plan=gold active=1 origin=rcm\n=> cup tier=7 active=1 origin=rcm\n"
            "=> ok\n=> cup tier=7 active=1 origin=rcm\n"
            "=> ok\n=> ok\n=> uprop _fot=1700002800000\n=> uprop color=\"blue\"\n=> uprop tier=7\n"
            "=> 25\n=> heard none\n"
            "=> logged tap\n=> heard crash tap {\"_o\":\"app\",\"k\":\"v\"}\n");
}

}  // namespace

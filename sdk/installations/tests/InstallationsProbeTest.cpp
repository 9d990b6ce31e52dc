// sdk-probe's installations subcommands against the fake service, from a
// fresh home folder, as CI runs them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "testing/ProgramRun.h"
#include "testing/TempHome.h"
#include "testing/fakes/installations/FakeInstallationsService.h"

namespace {

using Kind = testkit::FakeInstallationsService::Kind;

using ProbeRun = testkit::ProgramRun;

class InstallationsProbeTest : public ::testing::Test {
 protected:
  ProbeRun run(const std::string& arguments) {
    // The installations alone: without analytics, which asks for the
    // identifier (and so registers) whenever the SDK is configured.
    return testkit::runCommand("SDK_PROBE_WITHOUT_ANALYTICS=1 APP_SERVICES_URL='" + service.url() + "' APP_RESOURCES='" + testkit::binFolder() +
                               "/../resources' '" + testkit::builtProgram("sdk-probe") + "' " + arguments + " 2>>'" +
                               home.file("stderr.txt") + "'");
  }

  testkit::TempHome home;
  testkit::FakeInstallationsService service;
};

TEST_F(InstallationsProbeTest, RegistersFromAFreshHomeAndKeepsTheIdentifier) {
  ProbeRun first = run("installation-id");
  ASSERT_EQ(first.status, 0) << first.out;
  ASSERT_EQ(first.out.rfind("=> ", 0), 0u);
  std::string fid = first.out.substr(3, first.out.size() - 4);
  EXPECT_EQ(fid.size(), 22u) << first.out;
  // The identifier alone also registered the installation in the background.
  ASSERT_EQ(service.count(Kind::Create), 1u);
  EXPECT_EQ(service.installations().count(fid), 1u);
  testkit::RecordedRequest create = service.requests(Kind::Create).at(0);
  EXPECT_EQ(create.path, "/v1/projects/tavix-downloader/installations/");
  EXPECT_EQ(create.header("X-Zoruvu-Api-Key"), "ATavixLocalApiKey0123456789abcdefghijkl");

  ProbeRun again = run("installation-id auth-token auth-token --force auth-token");
  EXPECT_EQ(again.status, 0);
  const std::string token = "=> " + service.installations().at(fid).authToken;
  EXPECT_EQ(again.out, "=> " + fid + "\n=> token-1\n" + token + "\n" + token + "\n");
  EXPECT_EQ(service.count(Kind::Create), 1u);
  EXPECT_EQ(service.count(Kind::GenerateToken), 1u);
  // A launch argument between the subcommand and its flag still forces.
  ProbeRun forced = run("auth-token -RIRDebugEnabled --force");
  EXPECT_EQ(forced.out, "=> " + service.installations().at(fid).authToken + "\n");
  EXPECT_EQ(service.count(Kind::GenerateToken), 2u);

  EXPECT_EQ(run("delete").out, "=> ok\n");
  EXPECT_TRUE(service.installations().empty());
  ProbeRun after = run("delete");
  EXPECT_EQ(after.status, 1);
  EXPECT_EQ(after.out.rfind("=> error com.ririvudu.installations 0 Installation for appID ", 0), 0u) << after.out;
}

TEST_F(InstallationsProbeTest, TokenErrorsAndBackoffIntervals) {
  service.script(Kind::Create, {testkit::Answer::json(403, R"({"error":"denied"})")});
  ProbeRun denied = run("auth-token auth-token");
  EXPECT_EQ(denied.status, 1);
  EXPECT_EQ(denied.out.rfind("=> error com.ririvudu.installations 0 The server responded with an error: \\n - URL: ", 0),
            0u)
      << denied.out;
  // The second request of the same run is refused by the 24-hour back-off.
  EXPECT_NE(denied.out.find("\n=> error com.ririvudu.installations 2 Too many server requests.\n"), std::string::npos)
      << denied.out;

  struct Case {
    const char* events;
    const char* out;
  };
  for (const Case& c : {Case{"ok", "=> 0.000\n"}, Case{"unrecoverable", "=> 86400.000\n"},
                        Case{"recoverable,recoverable,recoverable,recoverable,recoverable,recoverable,recoverable,"
                             "recoverable,recoverable,recoverable,recoverable",
                             "=> 1800.000\n"},
                        Case{"unrecoverable,ok", "=> 0.000\n"}}) {
    EXPECT_EQ(run(std::string("backoff --events ") + c.events).out, c.out) << c.events;
  }
  ProbeRun recoverable = run("backoff --events unrecoverable,recoverable");
  EXPECT_EQ(recoverable.out.rfind("=> 2.", 0), 0u) << recoverable.out;
  EXPECT_EQ(run("backoff --events sometimes").status, 2);
}

}  // namespace

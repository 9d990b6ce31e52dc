// sdk-probe's messaging subcommands against the fake messaging service, from
// a fresh home folder, as CI runs them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "platform/process/Task.h"
#include "testing/ProgramRun.h"
#include "testing/TempHome.h"
#include "testing/fakes/installations/FakeInstallationsService.h"
#include "testing/fakes/messaging/FakeMessagingService.h"

namespace {

using Kind = testkit::FakeMessagingService::Kind;

class MessagingProbeTest : public ::testing::Test {
 protected:
  std::string environment() const {
    return "APP_SERVICES_URL='" + service.url() + "' APP_RESOURCES='" + testkit::binFolder() +
           "/../resources' APP_KEYCHAIN_ROOT='" + home.file("keychain") +
           "' APP_REACHABILITY=reachable LANGUAGE=en_US LC_ALL= LANG= TZ=UTC";
  }
  testkit::ProgramRun run(const std::string& arguments) {
    return testkit::runCommand(environment() + " '" + testkit::builtProgram("sdk-probe") + "' " + arguments + " 2>>'" +
                               home.file("stderr.txt") + "'");
  }

  testkit::TempHome home;
  testkit::FakeInstallationsService installations;
  testkit::FakeMessagingService service{installations.server()};
};

TEST_F(MessagingProbeTest, ChecksInOnceAndShowsWhatItStored) {
  EXPECT_EQ(run("checkin-stored").out, "=> keychain=\n");

  testkit::ProgramRun first = run("checkin --device-token-hex 01ab checkin");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, "=> ok 3987654321012345678\n=> ok 3987654321012345678\n");
  EXPECT_EQ(service.count(Kind::Checkin), 1u);

  testkit::ProgramRun stored = run("checkin-stored");
  EXPECT_EQ(stored.status, 0);
  EXPECT_EQ(stored.out.substr(0, stored.out.find("=> ZMSInstanceIDLastCheckinTimestampKey=")),
            "=> keychain=3987654321012345678|8123456789012345678\n"
            "=> ZMSInstanceIDDeviceDataVersion=ddv-1\n"
            "=> ZMSInstanceIDDigestKey=digest-1\n");
  EXPECT_NE(stored.out.find("\n=> ZMSInstanceIDVersionInfo=vi-1\n=> ZMSInstanceIDZServicesData={\"shared_key\":\"1\"}\n"),
            std::string::npos)
      << stored.out;

  // A later run uses the stored check-in; --force makes a new device.
  EXPECT_EQ(run("checkin").out, "=> ok 3987654321012345678\n");
  EXPECT_EQ(service.count(Kind::Checkin), 1u);
  EXPECT_EQ(run("checkin --force").out, "=> ok 3987654321012345679\n");
  EXPECT_EQ(service.count(Kind::Checkin), 2u);
  EXPECT_EQ(run("checkin-stored").out.substr(0, 52), "=> keychain=3987654321012345679|8123456789012345679\n");
}

TEST_F(MessagingProbeTest, ErrorsAndArgumentMistakes) {
  service.script(Kind::Checkin, {testkit::Answer::json(200, R"({"security_token":1})"),
                                 testkit::Answer::text(200, "<html>busy</html>")});
  testkit::ProgramRun failed = run("checkin checkin");
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "=> error com.zoruvu.rcm 7\n=> error NSCocoaErrorDomain 3840\n");
  EXPECT_EQ(run("checkin --device-token-hex xyz").status, 2);
  EXPECT_EQ(run("checkin --device-token-hex").status, 2);
}

}  // namespace

namespace {

TEST_F(MessagingProbeTest, TokensAreFetchedReusedAndDeleted) {
  testkit::ProgramRun refused = run("token");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "=> error 505 No APNS token specified before fetching RCM Token\n");

  testkit::ProgramRun fetched = run("token --device-token-hex 01ab token --device-token-hex 01ab");
  ASSERT_EQ(fetched.status, 0) << fetched.out;
  ASSERT_EQ(installations.installations().size(), 1u);
  const std::string fid = installations.installations().begin()->first;
  const std::string line = "=> token=" + fid + ":APA91b-1\n";
  EXPECT_EQ(fetched.out, line + line);
  EXPECT_EQ(service.count(Kind::Register), 1u);  // the second one was fresh
  EXPECT_NE(service.requests(Kind::Register).at(0).body.find("&sender=470815926123&"), std::string::npos);

  EXPECT_EQ(run("token --sender 42 --device-token-hex 01ab").out, "=> token=" + fid + ":APA91b-2\n");
  EXPECT_EQ(run("token --delete").out, "=> token=\n");
  EXPECT_EQ(service.tokens().size(), 1u);

  service.script(Kind::Register, {testkit::Answer::text(200, "Error=RST")});
  testkit::ProgramRun reset = run("token --device-token-hex 02");
  EXPECT_EQ(reset.status, 1);
  EXPECT_EQ(reset.out, "=> error 2001 Identity is invalid. Server request identity reset.\n");
  EXPECT_EQ(run("token --device-token-hex 0").status, 2);
}

// Each launch starts messaging, which re-caches the stored default token
// before the push token is handed over: one token for all three.
TEST_F(MessagingProbeTest, ThreeLaunchesRegisterOnce) {
  std::string first;
  for (int launch = 0; launch < 3; ++launch) {
    testkit::ProgramRun fetched = run("token --device-token-hex 01ab");
    ASSERT_EQ(fetched.status, 0) << fetched.out;
    if (launch == 0) first = fetched.out;
    EXPECT_EQ(fetched.out, first);
  }
  EXPECT_EQ(service.count(Kind::Register), 1u);
}

// A subscription that was answered is off the saved list when the run ends:
// the next launch does not send it again.
TEST_F(MessagingProbeTest, EachTopicChangeReachesTheServiceOnceAcrossRelaunches) {
  EXPECT_EQ(run("subscribe news").out, "=> ok\n");
  EXPECT_EQ(run("pending-topics").out, "");
  EXPECT_EQ(run("subscribe weather").out, "=> ok\n");
  std::map<std::string, int> sent;
  for (const testkit::RecordedRequest& request : service.requests(Kind::Topic)) {
    ++sent[testkit::FakeMessagingService::formItems(request.body)["X-zcm.topic"]];
  }
  EXPECT_EQ(sent, (std::map<std::string, int>{{"/topics/news", 1}, {"/topics/weather", 1}}));
}

TEST_F(MessagingProbeTest, PendingTopicsWithoutAnyAreEmpty) {
  testkit::ProgramRun empty = run("pending-topics");
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
}

}  // namespace

TEST_F(MessagingProbeTest, StartUpTopicsAndIncomingMessages) {
  testkit::ProgramRun started = run("messaging-start");
  EXPECT_EQ(started.status, 0);
  EXPECT_EQ(started.out,
            "=> Zoruvu/RirivuduInstanceID\n=> Zoruvu/RirivuduMessaging\n=> Zoruvu/RirivuduMessaging/rmq2.sqlite\n");

  testkit::ProgramRun topics = run("subscribe news unsubscribe 'bad topic!'");
  EXPECT_EQ(topics.out, "=> ok\n=> error 8 Cannot parse topic name: 'bad topic!'. Will not unsubscribe.\n");
  bool subscribed = false;
  for (const auto& [token, names] : service.subscriptions()) subscribed |= names.count("/topics/news") > 0;
  EXPECT_TRUE(subscribed);

  testkit::ProgramRun received =
      run("message-receive --user-info '{}' message-receive --user-info '{\"zcm.message_id\":\"m1\"}'");
  EXPECT_EQ(received.out, "=> status=0\n=> status=1\n");
  testkit::ProgramRun wrong = run("message-receive --user-info '[1]'");
  EXPECT_EQ(wrong.status, 2);
  EXPECT_EQ(wrong.out, "=> error: --user-info needs a JSON object\n");
}

TEST_F(MessagingProbeTest, DeliveryMetricsPrintTheLoggedPayload) {
  testkit::ProgramRun metrics = run(
      "delivery-metrics --user-info '{\"zoruvu.c.sender.id\":\"123\",\"zcm.message_id\":\"m\",\"zoruvu.c.fid\":\"f\","
      "\"aps\":{\"content-available\":1}}' --bundle-id com.x.y");
  EXPECT_EQ(metrics.status, 0);
  EXPECT_EQ(metrics.out, "=> 0a17087b12016d1a0166200128023207636f6d2e782e796001\n");
  testkit::ProgramRun missing = run("delivery-metrics --user-info '{\"zcm.message_id\":\"m\"}'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "=> error not sent\n");
}

// Children that rewrite the check-in file are killed at random points; the
// next process finds no temporary copy beside it, neither theirs nor one
// that an earlier crash left.
TEST_F(MessagingProbeTest, KilledCheckinWritesLeaveNoTemporaryFiles) {
  ASSERT_EQ(run("checkin").status, 0);
  const std::filesystem::path folder = home.dataHome() + "/com.tavix.app/Zoruvu/RirivuduInstanceID";
  ASSERT_TRUE(std::filesystem::exists(folder / "g-checkin.plist"));
  const std::filesystem::path leftover = folder / ".g-checkin.plist.Ab12Cd";
  std::ofstream(leftover) << "half a check-in";
  std::filesystem::last_write_time(leftover, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));

  std::mt19937 random(35);
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    platform::Task child;
    child.setExecutablePath("/bin/sh");
    std::string rewrites;
    for (int index = 0; index < 40; ++index) rewrites += " checkin --force";
    child.setArguments({"-c", environment() + " exec '" + testkit::builtProgram("sdk-probe") + "'" + rewrites});
    child.setStandardOutput(platform::Task::Output::discard);
    child.setStandardError(platform::Task::Output::discard);
    // Killed once it has sent 1 to 8 check-ins: while it writes, or about to.
    const size_t killAt = service.server().requestCount() + 1 + random() % 8;
    ASSERT_FALSE(child.launch());
    EXPECT_TRUE(service.server().waitForRequests(killAt, 60));
    child.kill();
    child.waitUntilExit();
  }

  testkit::ProgramRun started = run("messaging-start");
  EXPECT_EQ(started.status, 0);
  EXPECT_EQ(started.out.find("/.g-checkin.plist."), std::string::npos) << started.out;
  EXPECT_FALSE(std::filesystem::exists(leftover));
}

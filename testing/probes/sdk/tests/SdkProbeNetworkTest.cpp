// sdk-probe's network subcommands (reach, get, post) against a loopback server.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "testing/LoopbackServer.h"
#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

namespace {

using ProbeRun = testkit::ProgramRun;

ProbeRun runProbe(const std::string& arguments) {
  return testkit::runCommand("APP_REACHABILITY=reachable '" + testkit::builtProgram("sdk-probe") + "' " + arguments +
                             " 2>/dev/null");
}

TEST(SdkProbeNetworkTest, ReachDerivesTheStatusFromTheFlagsWord) {
  // reachable 0x2; connection required 0x4 without on-demand/on-traffic 0x28 is not reachable.
  ProbeRun r = runProbe("reach 0x2 reach 0 reach 0x6 reach 0x2E reach 2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=> 2\n=> 1\n=> 1\n=> 2\n=> 2\n");
}

TEST(SdkProbeNetworkTest, GetAndPostReportStatusBytesAndErrors) {
  testkit::TempHome home;
  testkit::LoopbackServer server;
  server.on("GET", "/hello", testkit::Answer::text(200, "hello"));
  server.on("GET", "/moved", testkit::Answer::redirect(307, "/hello"));
  server.on("POST", "/upload", testkit::Answer::text(201, "ok"));
  const std::string body = home.file("body.txt");
  std::ofstream(body) << "payload";

  const struct {
    std::string arguments;
    std::string out;
    int status;
  } cases[] = {
      {"get " + server.url("/hello"), "=> status=200 bytes=5\n", 0},
      {"get " + server.url("/moved"), "=> status=307 bytes=0\n", 0},  // 307 is not followed
      {"post " + server.url("/upload") + " " + body, "=> status=201 bytes=2\n", 0},
      {"get ftp://127.0.0.1/x", "=> status=0 bytes=0\n=> error com.zul.network.ErrorDomain 1\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    ProbeRun r = runProbe(c.arguments);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
  }
  // The POST body went out gzip-compressed and arrived whole.
  ASSERT_EQ(server.requests("/upload").size(), 1u);
  EXPECT_EQ(server.requests("/upload")[0].body, "payload");
  EXPECT_EQ(server.requests("/upload")[0].header("Content-Encoding"), "gzip");
}

}  // namespace

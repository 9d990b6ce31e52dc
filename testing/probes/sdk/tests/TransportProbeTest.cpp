// sdk-probe's transport subcommands: events logged through a transport, the
// state folder's layout, argument errors, wire encodings, and uploads to the
// fake collector (in process and as the fake-collector program).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/crypto/Digest.h"
#include "platform/storage/FileSystem.h"
#include "testing/ProgramRun.h"
#include "testing/TempHome.h"
#include "testing/fakes/transport/FakeCollector.h"
#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

struct ProbeRun {
  int status = -1;
  std::vector<std::string> lines;
};

// Runs sdk-probe in `home` with nothing reachable outside this machine.
ProbeRun runProbe(const testkit::TempHome& home, const std::string& arguments) {
  const testkit::ProgramRun run = testkit::runCommand(
      "APP_RESOURCES='" + testkit::binFolder() + "/../resources' APP_KEYCHAIN_ROOT='" + home.file("keychain") +
      "' APP_SERVICES_URL=http://127.0.0.1:9 APP_REACHABILITY=unreachable '" + testkit::builtProgram("sdk-probe") +
      "' " + arguments + " 2>/dev/null");
  ProbeRun result;
  result.status = run.status;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) result.lines.push_back(line);
  return result;
}

TEST(TransportProbeTest, LoggedEventsAreStoredUnderTheirTargetAndShowInTheState) {
  testkit::TempHome home;
  ProbeRun logged = runProbe(home, "transport-log --target 1000 --mapping '12 49' --qos 4 --payload-hex 0a0B "
                                   "--product-data 7 --count 2");
  ASSERT_EQ(logged.status, 0);
  ASSERT_EQ(logged.lines.size(), 2u);
  const std::regex name("=> ([0-9A-F]{32})-4-([0-9]+)-12%2049");
  for (const std::string& line : logged.lines) EXPECT_TRUE(std::regex_match(line, name)) << line;
  EXPECT_NE(logged.lines[0], logged.lines[1]);

  ProbeRun state = runProbe(home, "transport-state");
  ASSERT_EQ(state.status, 0);
  // Folders, then the two event files with their sizes, sorted by path.
  ASSERT_GE(state.lines.size(), 5u);
  EXPECT_EQ(state.lines[0], "=> ZDTCORFlatFileStorage");
  std::vector<std::string> files;
  const std::string prefix = "=> ZDTCORFlatFileStorage/zdt_event_data/1000/";
  for (const std::string& line : state.lines) {
    if (line.rfind(prefix, 0) == 0) files.push_back(line.substr(prefix.size()));
  }
  std::vector<std::string> expected;
  for (const std::string& line : logged.lines) expected.push_back(line.substr(3));
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(files.size(), 2u);
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_TRUE(std::regex_match(files[i], std::regex(expected[i] + " [0-9]+"))) << files[i];
  }
  EXPECT_TRUE(std::is_sorted(state.lines.begin(), state.lines.end()));
}

TEST(TransportProbeTest, BadArgumentsAndUnknownTargetsFailWithAnError) {
  testkit::TempHome home;
  const struct {
    std::string arguments;
    std::string line;
    int status;
  } cases[] = {
      {"transport-log --target 1000 --qos 3", "=> error: missing --mapping", 2},
      {"transport-log --target x --mapping 1 --qos 3", "=> error: --target needs an integer, not 'x'", 2},
      {"transport-log --target 1000 --mapping 1 --qos 3 --payload-hex abc",
       "=> error: --payload-hex needs pairs of hexadecimal digits", 2},
      {"transport-log --target 1000 --mapping 1 --qos 3 --colour red", "=> error: unexpected option --colour", 2},
      {"transport-log --target 5 --mapping 1 --qos 3", "=> error: no storage for target 5", 1},
      {"transport-log --target 0 --mapping 1 --qos 3", "=> error: no storage for target 0", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    ProbeRun run = runProbe(home, c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.lines, std::vector<std::string>{c.line});
  }
}

}  // namespace

namespace {

class TransportKillProbeTest : public sdkprobetest::SdkProbeFixture {
 protected:
  std::string eventFolder() const {
    return home.cacheHome() + "/com.tavix.app/zoruvu-sdks-events/ZDTCORFlatFileStorage/zdt_event_data/1000";
  }
  // Event files (visible) and temporary files of atomic writes (".NAME.XXXXXX").
  std::pair<size_t, size_t> counts() const {
    size_t files = 0, temporary = 0;
    for (const std::string& name : platform::fs::contentsOfDirectory(eventFolder()).valueOr({})) {
      if (name[0] != '.') {
        ++files;
      } else if (name.size() > 8 && name[name.size() - 7] == '.') {
        ++temporary;
      }
    }
    return {files, temporary};
  }
};

// Writers killed at random points of storing events leave temporary files
// behind; the next process to open the storage removes them, and what it
// stores and counts is unaffected.
TEST_F(TransportKillProbeTest, TheNextProcessRemovesWhatKilledWritersLeft) {
  std::mt19937 random(std::random_device{}());
  int kills = 0;
  while (kills < 60 && (kills < 10 || counts().second == 0)) {
    const size_t before = counts().first;
    const pid_t writer = start("transport-log --target 1000 --mapping 1249 --qos 3 --count 100000");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (counts().first <= before && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GT(counts().first, before) << "the writer stored nothing";
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(random)));
    testkit::killAndReap(writer);
    ++kills;
  }
  const auto [files, leftovers] = counts();
  ASSERT_GT(leftovers, 0u) << kills << " kills left no temporary file";
  // Temporary files count as a crash's only once they are older than the
  // process that looks (with a second of slack).
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));

  const sdkprobetest::ProbeRun next = run("transport-log --target 1000 --mapping 1249 --qos 3 --count 1");
  ASSERT_EQ(next.status, 0) << next.out << next.err;
  EXPECT_EQ(counts(), std::make_pair(files + 1, size_t(0)));
}

class TransportUploadProbeTest : public sdkprobetest::SdkProbeFixture {
 protected:
  // The transport alone: without analytics, whose request for the
  // installation ID at configuration would reach the collector's address too.
  TransportUploadProbeTest() {
    servicesURL = collector.url();
    environment = "SDK_PROBE_WITHOUT_ANALYTICS=1 ";
  }

  // Lines of standard output.
  static std::vector<std::string> lines(const std::string& out) {
    std::vector<std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
  // The seconds of a "=> next=N" line (-1 when it is not one).
  static long nextSeconds(const std::string& line) {
    return line.rfind("=> next=", 0) == 0 && line != "=> next=none" ? std::stol(line.substr(8)) : -1;
  }

  testkit::FakeCollector collector;
};

TEST_F(TransportUploadProbeTest, EncodingsOfAnEventAndOfAClientMetricsReport) {
  const struct {
    std::string arguments;
    std::string out;
    int status;
  } cases[] = {
      {"transport-encode-event --time-ms 1700000000123 --tz-offset-s -18000 --uptime-ns 98765432100 "
       "--payload-hex 0a0b",
       "=> 08fbd095ffbc3132020a0b789f99028801cd8306\n", 0},
      {"transport-encode-event --time-ms 1700000000123 --tz-offset-s -18000 --uptime-ns 98765432100 "
       "--payload-hex 0a0b --product-data 7 --event-code 42",
       "=> 08fbd095ffbc3132020a0b582a789f99028801cd83068a02080a04120268071005\n", 0},
      // A window from 12.9 s to 20.2 s after 1970 goes as 12000 and 20000 ms.
      {"transport-metrics-encode --window-start-ms 12900 --window-end-ms 20200 --source 1249 --reason 1 --count 3 "
       "--current-bytes 4096 --max-bytes 20000000 --bundle-id com.tavix.app",
       "=> 0a0708e05d10a09c01120c0a04313234391204080318011a0a0a080880201080dac409220d636f6d2e74617669782e617070\n", 0},
      {"transport-metrics-encode --window-start-ms 0 --window-end-ms 0 --source x --reason 9 --count 2 "
       "--current-bytes 0 --max-bytes 0 --bundle-id ''",
       "=> 12070a0178120208022200\n", 0},
      {"transport-metrics-encode --window-start-ms 0 --window-end-ms 0 --source x --reason 1 --count 2",
       "=> error: missing --bundle-id\n", 2},
      {"transport-encode-event --time-ms x --tz-offset-s 0 --uptime-ns 0",
       "=> error: --time-ms needs an integer, not 'x'\n", 2},
      {"transport-upload --target 999", "=> error: no uploader for target 999\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    sdkprobetest::ProbeRun probe = run(c.arguments);
    EXPECT_EQ(probe.status, c.status);
    EXPECT_EQ(probe.out, c.out);
  }
}

TEST_F(TransportUploadProbeTest, LoggedEventsReachTheCollectorWhichSteersTheNextUpload) {
  collector.script({{429, {}, {{"Retry-After", "5"}}, {}}, {200, 60000, {}, {}}});
  sdkprobetest::ProbeRun first = run(
      "transport-log --target 1000 --mapping 1249 --qos 3 --payload-hex 0a0b --count 2 transport-upload --target 1000");
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  std::vector<std::string> out = lines(first.out);
  ASSERT_EQ(out.size(), 4u) << first.out;
  EXPECT_EQ(out[2], "=> status=429 events=2");
  EXPECT_GE(nextSeconds(out[3]), 0);
  EXPECT_LE(nextSeconds(out[3]), 5);

  // The events stayed for the next try.
  sdkprobetest::ProbeRun second = run("transport-upload --target 1000");
  out = lines(second.out);
  ASSERT_EQ(out.size(), 2u) << second.out;
  EXPECT_EQ(out[0], "=> status=200 events=2");
  EXPECT_GE(nextSeconds(out[1]), 50);
  EXPECT_LE(nextSeconds(out[1]), 60);
  EXPECT_EQ(run("transport-upload --target 1000").out, "=> status=0 events=0\n=> next=none\n");

  std::vector<testkit::CollectedRequest> requests = collector.requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const testkit::CollectedRequest& request : requests) {
    EXPECT_EQ(request.raw.path, "/v1/cct/batchlog");
    ASSERT_EQ(request.sources.size(), 1u);
    EXPECT_EQ(request.sources[0].sourceID, 1249);
    EXPECT_EQ(request.sources[0].clientKind, 15u);
    EXPECT_EQ(request.sources[0].desktop.at("app_id"), "com.tavix.app");
    ASSERT_EQ(request.sources[0].events.size(), 2u);
    for (const testkit::CollectedEvent& event : request.sources[0].events) EXPECT_EQ(event.payload, "\x0a\x0b");
  }
}

TEST_F(TransportUploadProbeTest, MessagingDeliveryMetricsReachTheCollector) {
  // The application's telemetry client: messaging's delivery metrics, logged
  // through the transport (tier 4; without a network it waits in storage).
  sdkprobetest::ProbeRun probe = run(
      "delivery-metrics --user-info '{\"zoruvu.c.sender.id\":\"123\",\"zcm.message_id\":\"m\","
      "\"zoruvu.c.fid\":\"f\",\"zoruvu.product_id\":77}' transport-upload --target 1000");
  ASSERT_EQ(probe.status, 0) << probe.out << probe.err;
  std::vector<std::string> out = lines(probe.out);
  ASSERT_EQ(out.size(), 3u) << probe.out;
  EXPECT_EQ(out[1], "=> status=200 events=1");
  const std::vector<testkit::CollectedRequest> requests = collector.requests();
  ASSERT_EQ(requests.size(), 1u);
  const testkit::CollectedLogSource* source = requests[0].source(1249);
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(source->events.size(), 1u);
  const testkit::CollectedEvent& event = source->events[0];
  EXPECT_EQ("=> " + platform::Digest::hex(std::vector<uint8_t>(event.payload->begin(), event.payload->end())), out[0]);
  EXPECT_EQ(event.productID, 77);
  EXPECT_EQ(event.productIDOrigin, 5u);
}

TEST_F(TransportUploadProbeTest, EndpointsAndKeyComeFromTheInfoDictionary) {
  // A bundle whose Info dictionary names its own endpoint and key.
  const std::string bundle = home.file("bundle");
  ASSERT_EQ(testkit::runCommand("mkdir -p '" + bundle + "' && cp '" + resources + "/ZoruvuService-Info.plist' '" +
                                bundle + "/'").status, 0);
  write("bundle/Info.plist",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>CFBundleIdentifier</key><string>com.tavix.app</string>"
        "<key>ZDTCOREndpointUploadURLs</key><dict><key>1001</key><string>https://collector.example/own/path</string>"
        "</dict><key>ZDTCOREndpointAPIKey</key><string>own-key</string></dict></plist>\n");
  resources = bundle;
  const sdkprobetest::ProbeRun ran = run("transport-log --target 1001 --mapping 1249 --qos 3 transport-upload --target 1001");
  ASSERT_EQ(ran.status, 0) << ran.out;
  const std::vector<testkit::CollectedRequest> requests = collector.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw.path, "/own/path");
  EXPECT_EQ(requests[0].raw.header("X-Zoruvu-Api-Key"), "own-key");
}

TEST_F(TransportUploadProbeTest, TheFakeCollectorProgramLogsWhatItReceives) {
  const std::string script = write("script.txt", "# a redirect, then success\n302 Location: /moved\n200\n");
  const std::string log = home.file("collector.log");
  const std::string collector = testkit::builtProgram("fake-collector");
  servicesURL = "http://127.0.0.1:$port";  // the program's port, read by the script below
  // Starts the program, waits for its port line, runs the probe against it,
  // ends it and shows its log.
  const std::string command =
      "'" + collector + "' --port 0 --script '" + script + "' > '" + log + "' 2>&1 & pid=$!; "
      "for i in $(seq 300); do grep -q '^port ' '" + log + "' && break; sleep 0.1; done; "
      "port=$(sed -n 's/^port //p' '" + log + "'); " +
      probeCommand("transport-log --target 1001 --mapping 1249 --qos 3 --payload-hex 0a0b transport-upload --target 1001") +
      " >/dev/null 2>&1; kill $pid; wait $pid; cat '" + log + "'";
  const testkit::ProgramRun ran = testkit::runCommand(command);
  const std::vector<std::string> out = lines(ran.out);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0].rfind("port ", 0), 0u);
  auto has = [&](const std::string& fragment) {
    return std::any_of(out.begin(), out.end(), [&](const std::string& line) { return line.find(fragment) != std::string::npos; });
  };
  EXPECT_TRUE(has("POST /v1/fll/batchlog")) << ran.out;
  EXPECT_TRUE(has("POST /moved")) << ran.out;
  EXPECT_TRUE(has("  header User-Agent: datatransport/0.0.1 fllsupport/0.0.1 apple/")) << ran.out;
  EXPECT_TRUE(has("  header X-Zoruvu-Api-Key: ")) << ran.out;
  EXPECT_TRUE(has("  source source_id=1249 client_kind=15 ")) << ran.out;
  EXPECT_TRUE(has(" payload=0a0b")) << ran.out;

  // Mistakes in the arguments or the script.
  const std::string bad = write("bad.txt", "200\nOK\n");
  const testkit::ProgramRun badScript =
      testkit::runCommand("'" + collector + "' --port 0 --script '" + bad + "' 2>&1");
  EXPECT_EQ(badScript.status, 1);
  EXPECT_NE(badScript.out.find("line 2: 'OK' is no status"), std::string::npos) << badScript.out;
  EXPECT_EQ(testkit::runCommand("'" + collector + "' --port 0 2>/dev/null").status, 2);
}

}  // namespace

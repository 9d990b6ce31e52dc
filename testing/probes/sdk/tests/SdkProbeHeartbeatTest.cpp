// sdk-probe's heartbeat subcommand: logs on a virtual clock, the header value
// (decoded back to its JSON), today's code, and the store kept between runs.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/crypto/Gzip.h"
#include "platform/text/Base64.h"
#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

namespace {

struct ProbeRun {
  int status = -1;
  std::vector<std::string> lines;  // standard output, one entry per line
};

ProbeRun runProbe(const std::string& arguments) {
  const testkit::ProgramRun run = testkit::runCommand("APP_RESOURCES='" + testkit::binFolder() + "/../resources' '" +
                                                      testkit::builtProgram("sdk-probe") + "' " + arguments +
                                                      " 2>/dev/null");
  ProbeRun result;
  result.status = run.status;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) result.lines.push_back(line);
  return result;
}

// The JSON inside a header value (base64url without padding over gzip); "" when it is not one.
std::string headerJson(const std::string& value) {
  using platform::Base64;
  const auto compressed = Base64::decode(value, Base64::Alphabet::Url, Base64::Padding::Optional);
  if (!compressed) return {};
  const platform::Gzip::Output plain = platform::Gzip::inflate(*compressed);
  if (!plain || !plain.value()) return {};
  return std::string(plain.value()->begin(), plain.value()->end());
}

// A probe output line as the test compares it: "=> " + a header value becomes
// "=> json " + its JSON, normalised; other lines stay as they are.
std::string readable(const std::string& line) {
  if (line.rfind("=> ", 0) != 0) return line;
  std::string json = headerJson(line.substr(3));
  if (json.empty() || !nlohmann::json::accept(json)) return line;
  return "=> json " + nlohmann::json::parse(json).dump();
}

std::string json(const std::string& text) { return "=> json " + nlohmann::json::parse(text).dump(); }

TEST(SdkProbeHeartbeatTest, LogsHeaderAndCodeOnAVirtualClock) {
  const std::string id = "heartbeat --id 1:123:ios:abc ";
  struct Case {
    const char* name;
    std::vector<std::string> runs;  // in one home, one after the other; the last one is checked
    std::vector<std::string> out;
    int status;
  };
  const Case cases[] = {
      {"nothing stored", {id + "--header --code"}, {"=> nil", "=> 0"}, 0},
      {"one per UTC day, clock set back records nothing, grouped by agent",
       {id + "--log A@2024-05-01 --log B@2024-05-01 --log B@2024-05-02 --log A@2024-05-03 --log C@2024-05-02 --header"},
       {json(R"({"heartbeats":[{"agent":"A","dates":["2024-05-01","2024-05-03"]},)"
             R"({"agent":"B","dates":["2024-05-02"]}],"version":2})")},
       0},
      {"the code takes today's heartbeat out; a flush empties the store",
       {id + "--log riri@1@2024-05-01 --log riri@1@2024-05-02 --code --code --header --header"},
       {"=> 2", "=> 0", json(R"({"heartbeats":[{"agent":"riri@1","dates":["2024-05-01"]}],"version":2})"),
        "=> nil"},
       0},
      {"the store outlives the run", {id + "--log A@2024-05-01", id + "--log B@2024-05-01 --header"},
       {json(R"({"heartbeats":[{"agent":"A","dates":["2024-05-01"]}],"version":2})")}, 0},
      {"another app ID has its own store", {id + "--log A@2024-05-01", "heartbeat --id 1:999:ios:def --header"},
       {"=> nil"}, 0},
      {"flags before the app ID", {"--log A@2024-05-01"}, {"=> error: heartbeat --id APPID must come first"}, 2},
      {"a date that is not one", {id + "--log A@2024-13-01"}, {"=> error: expected AGENT@YYYY-MM-DD"}, 2},
      {"no @", {id + "--log A"}, {"=> error: expected AGENT@YYYY-MM-DD"}, 2},
      {"no --id", {"heartbeat --name x"}, {"=> error: expected --id APPID"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::TempHome home;
    ProbeRun last;
    for (const std::string& arguments : c.runs) last = runProbe(arguments);
    std::vector<std::string> out;
    for (const std::string& line : last.lines) out.push_back(readable(line));
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(last.status, c.status);
  }
}

}  // namespace

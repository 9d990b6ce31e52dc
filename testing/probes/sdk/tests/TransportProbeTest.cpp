// sdk-probe's transport subcommands: events logged through a transport, the
// state folder's layout, argument errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

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

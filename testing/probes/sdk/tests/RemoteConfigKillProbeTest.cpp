// The config database under SIGKILL: sdk-probe fetches and activates a new
// template of 3,000 keys (values, personalization, rollouts and experiments
// all marked with the round) and is killed at a random moment. The next
// process finds every table whole and of one round, the active tables never
// ahead of the fetched ones, nothing the killed process reported done
// missing, and no ETag stored for rows that are not there.
//
// TAVIX_RC_KILL_ROUNDS sets the number of kills (default 6; scripts/rc-kill
// runs 50), TAVIX_RC_KILL_SEED the seed of the kill moments.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "testing/ProgramRun.h"
#include "testing/TempHome.h"
#include "testing/fakes/installations/FakeInstallationsService.h"
#include "testing/fakes/remote-config/FakeRemoteConfigService.h"

namespace {

using testkit::Answer;

constexpr int kKeys = 3000;
constexpr long long kStartTime = 1700000000;

int environmentNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The template of round `round`: every stored piece carries "round-N".
Answer templateOfRound(int round) {
  const std::string mark = "round-" + std::to_string(round);
  std::string body = R"({"state":"UPDATE","templateVersion":")" + std::to_string(round) + R"(","entries":{)";
  for (int index = 0; index < kKeys; ++index) {
    body += (index ? ",\"k" : "\"k") + std::to_string(index) + "\":\"" + mark + "\"";
  }
  body += R"(},"personalizationMetadata":{"k0":{"choiceId":")" + mark +
          R"(","personalizationId":"p","armIndex":0,"group":"BASELINE"}},)"
          R"("rolloutMetadata":[{"rolloutId":")" + mark + R"(","variantId":"v","affectedParameterKeys":["k0"]}],)"
          R"("experimentDescriptions":[{"experimentId":")" + mark +
          R"(","variantId":"v","experimentStartTimeMillis":1700000000000,"triggerTimeoutMillis":"0",)"
          R"("timeToLiveMillis":"0"}]})";
  return Answer::json(200, body).withHeader("etag", "etag-" + mark);
}

class RemoteConfigKillProbeTest : public ::testing::Test {
 protected:
  std::string command(const std::string& arguments) const {
    return "exec env -i PATH=/usr/bin:/bin HOME='" + home.path() + "' XDG_DATA_HOME='" + home.dataHome() +
           "' XDG_CONFIG_HOME='" + home.configHome() + "' XDG_CACHE_HOME='" + home.cacheHome() +
           "' XDG_STATE_HOME='" + home.stateHome() + "' APP_RESOURCES='" + testkit::binFolder() +
           "/../resources' APP_SERVICES_URL=" + installations.url() + " APP_KEYCHAIN_ROOT='" +
           home.file("keychain") + "' APP_REACHABILITY=reachable '" + testkit::builtProgram("sdk-probe") + "' " +
           arguments;
  }
  // Runs the probe in the background, its standard output in `outPath`.
  pid_t start(const std::string& arguments, const std::string& outPath) const {
    return testkit::startCommand(command(arguments) + " >'" + outPath + "' 2>/dev/null");
  }
  // The probe's fetch and activation of round `round`, at its own time.
  std::string fetchAndActivate(int round) const {
    return "clock " + std::to_string(kStartTime + 100 * round) + " rc-fetch 0 rc-activate";
  }

  testkit::TempHome home;
  testkit::FakeInstallationsService installations;
  testkit::FakeRemoteConfigService service{installations.server()};
};

// What the next process finds, by table and name: the rounds marked in the
// values and the number of rows.
struct Found {
  std::set<int> rounds;
  size_t rows = 0;
};

std::map<std::string, Found> parseRows(const std::string& out) {
  std::map<std::string, Found> found;
  static const std::regex line(R"(^=> (\S+) (\S+) rows=(\d+) values=(.*)$)");
  static const std::regex mark(R"(round-(\d+))");
  std::istringstream lines(out);
  for (std::string text; std::getline(lines, text);) {
    std::smatch match;
    if (!std::regex_match(text, match, line)) continue;
    Found& entry = found[match[1].str() + " " + match[2].str()];
    entry.rows = std::stoul(match[3].str());
    const std::string values = match[4].str();
    for (std::sregex_iterator it(values.begin(), values.end(), mark), end; it != end; ++it) {
      entry.rounds.insert(std::stoi((*it)[1].str()));
    }
  }
  return found;
}

TEST_F(RemoteConfigKillProbeTest, KilledFetchesAndActivationsLeaveWholeTables) {
  const int rounds = environmentNumber("TAVIX_RC_KILL_ROUNDS", 6);
  std::mt19937 random(static_cast<uint32_t>(environmentNumber("TAVIX_RC_KILL_SEED", 34)));

  // Round 0 runs to its end: the state to come back to, and how long a run takes.
  service.setDefaultAnswer(templateOfRound(0));
  const auto begin = std::chrono::steady_clock::now();
  testkit::ProgramRun first = testkit::runCommand(command(fetchAndActivate(0)) + " 2>/dev/null");
  const double runSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  ASSERT_EQ(first.out, "=> clock 1700000000\n=> status=1 error=none\n=> changed=YES error=none\n");

  const std::string fetched = "main ririvudu:__RIRAPP_DEFAULT";
  const std::string active = "main_active ririvudu:__RIRAPP_DEFAULT";
  const std::vector<std::string> fetchedGroup = {fetched, "personalization 2", "rollout fetched_rollout_metadata",
                                                 "experiment experiment_payload"};
  const std::vector<std::string> activeGroup = {active, "personalization 0", "rollout active_rollout_metadata",
                                                "experiment experiment_active_payload"};
  int killedInside = 0;
  int lastFetched = 0;
  int lastActive = 0;
  for (int round = 1; round <= rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    service.setDefaultAnswer(templateOfRound(round));
    const std::string outPath = home.file("round.txt");
    const pid_t child = start(fetchAndActivate(round), outPath);
    const double delay = std::uniform_real_distribution<double>(0, runSeconds * 1.1)(random);
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    testkit::killAndReap(child);
    const std::string said = readFile(outPath);
    const bool fetchDone = said.find("=> status=1 error=none") != std::string::npos;
    const bool activationDone = said.find("=> changed=YES") != std::string::npos;

    testkit::ProgramRun next = testkit::runCommand(command("rc-db-rows rc-ud-get ririvudu lastETag") + " 2>/dev/null");
    ASSERT_EQ(next.status, 0) << next.out;
    std::map<std::string, Found> found = parseRows(next.out);
    auto roundOf = [&](const std::vector<std::string>& group) {
      // One round for every table of the group, the config rows complete.
      std::set<int> seen;
      for (const std::string& name : group) {
        EXPECT_EQ(found[name].rounds.size(), 1u) << name << "\n" << next.out;
        seen.insert(found[name].rounds.begin(), found[name].rounds.end());
      }
      EXPECT_EQ(seen.size(), 1u) << next.out;
      EXPECT_EQ(found[group.front()].rows, size_t(kKeys)) << next.out;
      return seen.empty() ? -1 : *seen.rbegin();
    };
    const int fetchedRound = roundOf(fetchedGroup);
    const int activeRound = roundOf(activeGroup);
    // Each table holds what it held or the whole of this round.
    EXPECT_TRUE(fetchedRound == round || fetchedRound == lastFetched) << fetchedRound;
    EXPECT_TRUE(activeRound == lastActive || (activeRound == round && fetchedRound == round)) << activeRound;
    lastFetched = fetchedRound;
    lastActive = activeRound;
    if (fetchDone) {
      EXPECT_EQ(fetchedRound, round) << said;
    }
    if (activationDone) {
      EXPECT_EQ(activeRound, round) << said;
    }
    // An ETag is stored only for rows that are there.
    std::smatch etag;
    const std::regex etagLine(R"re(=> "etag-round-(\d+)")re");
    if (std::regex_search(next.out, etag, etagLine)) {
      EXPECT_LE(std::stoi(etag[1].str()), fetchedRound) << next.out;
    }
    killedInside += !fetchDone && fetchedRound == round;
    if (::testing::Test::HasFailure()) break;
  }
  RecordProperty("kills_between_commit_and_report", killedInside);
}

}  // namespace

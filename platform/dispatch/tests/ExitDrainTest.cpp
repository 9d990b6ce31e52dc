#include "platform/dispatch/ExitDrain.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/tests/ProblemCapture.h"
#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

namespace platform {
namespace {

constexpr double kGenerous = 60;

// Work that moves back and forth between two queues `hops` times, each hop
// queued by the one before, and then marks itself done.
void pingPong(const SerialQueue& here, const SerialQueue& there, int hops, const std::shared_ptr<std::atomic<bool>>& done) {
  here.async([here, there, hops, done] {
    if (hops == 0) {
      done->store(true);
      return;
    }
    pingPong(there, here, hops - 1, done);
  });
}

TEST(ExitDrainTest, WaitsForQueuedWorkAndForWhatItHandsOn) {
  SerialQueue first("test.drain.first");
  SerialQueue second("test.drain.second");
  ExitDrain::registerQueue(first);
  ExitDrain::registerQueue(second);
  auto done = std::make_shared<std::atomic<bool>>(false);
  // At any moment one hop is queued behind or ahead of a round's markers, so
  // a drain that looked once would return in the middle.
  pingPong(first, second, 2000, done);
  EXPECT_TRUE(ExitDrain::drain(kGenerous));
  EXPECT_TRUE(done->load());
}

TEST(ExitDrainTest, GivesUpAtTheTimeLimitAndNamesTheBusyQueue) {
  testing_support::ProblemCapture problems;
  SerialQueue stuck("test.drain.stuck");
  SerialQueue idle("test.drain.idle");
  ExitDrain::registerQueue(stuck);
  ExitDrain::registerQueue(idle);
  Semaphore gate;
  stuck.async([gate] { (void)gate.wait(kGenerous); });
  EXPECT_FALSE(ExitDrain::drain(0.05));
  EXPECT_THAT(problems.joined(), ::testing::HasSubstr("still busy: \"test.drain.stuck\"\n"));
  gate.signal();
  EXPECT_TRUE(ExitDrain::drain(kGenerous));
}

TEST(ExitDrainTest, ADrainOnARegisteredQueueDoesNotWaitForItself) {
  SerialQueue store("test.drain.self");
  ExitDrain::registerQueue(store);
  SerialQueue onTarget("test.drain.on-target", store);
  ExitDrain::registerQueue(onTarget);
  EXPECT_TRUE(store.sync([] { return ExitDrain::drain(kGenerous); }));
  // A queue running on the registered one's threads runs inside its task.
  EXPECT_TRUE(onTarget.sync([] { return ExitDrain::drain(kGenerous); }));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The child queues a write that takes a while and ends at once, as a program
// that is done ends: the file is there afterwards.
TEST(ExitDrainTest, AWriteQueuedJustBeforeTheExitIsOnDiskAfterIt) {
  testkit::TempHome home;
  const std::string path = home.file("written.txt");
  testkit::ProgramRun run = testkit::runCommand("'" + testkit::builtProgram("exit-drain-child") + "' '" + path + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(readFile(path), "written");
}

}  // namespace
}  // namespace platform

// The built-in reachability backend (forced and real evaluation), the flags
// provider, and the fake table of the test kit.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/net/ReachabilityApi.h"
#include "platform/net/ReachabilityFlagsProvider.h"
#include "testing/FakeReachability.h"
#include "testing/MainQueuePump.h"
#include "testing/ScopedEnvironment.h"

namespace platform {
namespace {

struct Reports {
  std::vector<ReachabilityFlags> flags;
  bool onMain = true;
  static void callback(ReachabilityRef, ReachabilityFlags flags, void* info) {
    auto* self = static_cast<Reports*>(info);
    self->onMain = self->onMain && isMainThread();
    self->flags.push_back(flags);
  }
};

class ReachabilityTest : public testkit::MainQueuePump {
 protected:
  testkit::ScopedEnvironment environment;
  // Schedules `host` on the built-in table and waits for the first report.
  Reports firstReport(const char* host) {
    const ReachabilityApi& api = ReachabilityApi::builtIn();
    Reports reports;
    ReachabilityRef ref = api.createWithName(host);
    EXPECT_NE(ref, nullptr);
    EXPECT_TRUE(api.setCallback(ref, &Reports::callback, &reports));
    EXPECT_TRUE(api.scheduleWithMainLoop(ref));
    EXPECT_TRUE(runUntil([&] { return !reports.flags.empty(); }));
    EXPECT_TRUE(api.unscheduleFromMainLoop(ref));
    api.release(ref);
    return reports;
  }
};

TEST_F(ReachabilityTest, ForcedModeOverridesTheNetwork) {
  struct Case {
    const char* mode;
    const char* host;
    ReachabilityFlags expected;
  };
  for (Case c : {Case{"reachable", "host.that.does.not.resolve.invalid", kReachabilityFlagReachable},
                 Case{"unreachable", "127.0.0.1", 0}}) {
    SCOPED_TRACE(c.mode);
    environment.set(reachability::kForceVariable, c.mode);
    Reports reports = firstReport(c.host);
    EXPECT_EQ(reports.flags, std::vector<ReachabilityFlags>{c.expected});
    EXPECT_TRUE(reports.onMain);
  }
}

TEST_F(ReachabilityTest, LoopbackHostIsReachableAndReportedPromptly) {
  environment.unset(reachability::kForceVariable);
  Reports reports = firstReport("127.0.0.1");
  ASSERT_EQ(reports.flags.size(), 1u);
  EXPECT_EQ(reports.flags[0], kReachabilityFlagReachable);
  EXPECT_TRUE(reports.onMain);
  EXPECT_EQ(ReachabilityApi::builtIn().createWithName(""), nullptr);
}

TEST_F(ReachabilityTest, NoCallbackAfterUnschedule) {
  environment.set(reachability::kForceVariable, "reachable");
  const ReachabilityApi& api = ReachabilityApi::builtIn();
  Reports reports;
  ReachabilityRef ref = api.createWithName("127.0.0.1");
  api.setCallback(ref, &Reports::callback, &reports);
  api.scheduleWithMainLoop(ref);
  api.unscheduleFromMainLoop(ref);  // before the evaluation could be delivered
  runFor(0.3);
  EXPECT_TRUE(reports.flags.empty());
  // Scheduling again reports again.
  api.scheduleWithMainLoop(ref);
  EXPECT_TRUE(runUntil([&] { return reports.flags.size() == 1; }));
  api.release(ref);
}

TEST_F(ReachabilityTest, FlagsProviderReadsOnceAndReportsOnItsQueue) {
  environment.set(reachability::kForceVariable, "reachable");
  SerialQueue queue("net.test.reachability");
  std::mutex mutex;
  std::vector<ReachabilityFlags> changes;
  std::atomic<bool> onQueue{true};
  {
    ReachabilityFlagsProvider provider(queue, [&](ReachabilityFlags flags) {
      onQueue = onQueue && queue.isCurrent();
      std::lock_guard<std::mutex> lock(mutex);
      changes.push_back(flags);
    });
    EXPECT_EQ(provider.initialFlags(), kReachabilityFlagReachable);
    EXPECT_TRUE(runUntil([&] {
      std::lock_guard<std::mutex> lock(mutex);
      return !changes.empty();
    }));
  }
  EXPECT_TRUE(onQueue);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(changes, std::vector<ReachabilityFlags>{kReachabilityFlagReachable});
}

TEST_F(ReachabilityTest, FakeTableStandsInAndReportsOnMain) {
  EXPECT_EQ(ReachabilityApi::current(), &ReachabilityApi::builtIn());
  {
    testkit::FakeReachability fake;
    const ReachabilityApi* api = ReachabilityApi::current();
    ASSERT_EQ(api, &testkit::FakeReachability::api());
    Reports reports;
    ReachabilityRef ref = api->createWithName("svc.example");
    ASSERT_TRUE(api->setCallback(ref, &Reports::callback, &reports));
    ASSERT_TRUE(api->scheduleWithMainLoop(ref));
    fake.setFlags("svc.example", 0x6);
    fake.setFlags("other.example", 0x2);
    EXPECT_TRUE(runUntil([&] { return !reports.flags.empty(); }));
    runFor(0.05);
    EXPECT_EQ(reports.flags, std::vector<ReachabilityFlags>{0x6});
    EXPECT_TRUE(reports.onMain);
    api->unscheduleFromMainLoop(ref);
    api->release(ref);
    EXPECT_EQ(fake.releaseCount(), 1);
    fake.failCreate = true;
    EXPECT_EQ(api->createWithName("svc.example"), nullptr);
  }
  EXPECT_EQ(ReachabilityApi::current(), &ReachabilityApi::builtIn());
}

}  // namespace
}  // namespace platform

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/tests/ProblemCapture.h"
#include "platform/values/Exception.h"

namespace platform {
namespace {

using testing_support::ProblemCapture;
using ::testing::HasSubstr;

constexpr double kGenerous = 30;  // seconds; only reached when something hangs

struct TargetCase {
  const char* name;
  std::function<std::optional<DispatchQueue>()> target;
};

class SerialOrderTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(SerialOrderTest, FifoAndOneAtATimeUnderConcurrentProducers) {
  SerialQueue queue("test.fifo", GetParam().target());
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 2000;
  std::vector<std::pair<int, int>> seen;  // touched only on the queue
  std::atomic<int> inFlight{0};
  std::atomic<bool> overlapped{false};

  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        queue.async([&, p, i] {
          if (inFlight.fetch_add(1) != 0) overlapped = true;
          seen.emplace_back(p, i);
          inFlight.fetch_sub(1);
        });
      }
    });
  }
  for (auto& t : producers) t.join();
  size_t total = queue.sync([&] { return seen.size(); });

  EXPECT_EQ(total, size_t{kProducers * kPerProducer});
  EXPECT_FALSE(overlapped);
  std::vector<int> next(kProducers, 0);
  for (auto [p, i] : seen) {
    ASSERT_EQ(i, next[p]) << "producer " << p << " out of order";
    ++next[p];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, SerialOrderTest,
    ::testing::Values(TargetCase{"none", [] { return std::optional<DispatchQueue>(); }},
                      TargetCase{"global", [] { return std::optional<DispatchQueue>(globalQueue(Qos::Background)); }},
                      TargetCase{"concurrent", [] { return std::optional<DispatchQueue>(ConcurrentQueue("test.c")); }},
                      TargetCase{"serial", [] { return std::optional<DispatchQueue>(SerialQueue("test.t")); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialQueueTest, PendingTasksCountUntilTheyFinish) {
  SerialQueue queue("pending-count");
  const size_t before = pendingTaskCount();  // other tests' work, if any
  std::mutex gate;
  std::unique_lock held(gate);
  std::atomic<bool> started{false};
  queue.async([&] {
    started = true;
    std::lock_guard wait(gate);
  });
  queue.async([] {});
  while (!started) std::this_thread::yield();
  EXPECT_GE(pendingTaskCount(), 2u);
  held.unlock();
  queue.sync([] {});
  // Both counted tasks are done once the count is back where it was.
  for (int tries = 0; tries < 5000 && pendingTaskCount() > before; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_LE(pendingTaskCount(), before);
}

TEST(SerialQueueTest, SyncSeesPriorAsyncsReturnsValueAndRethrows) {
  SerialQueue queue("test.sync");
  int counter = 0;  // only touched on the queue
  for (int i = 0; i < 500; ++i) queue.async([&] { ++counter; });
  EXPECT_EQ(queue.sync([&] { return counter; }), 500);
  EXPECT_EQ(queue.label(), "test.sync");

  EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
  EXPECT_EQ(queue.sync([&] { return counter; }), 500);  // still alive
}

TEST(SerialQueueTest, EscapingExceptionsAreReportedAndTheQueueGoesOn) {
  ProblemCapture problems;
  SerialQueue queue("test.throwing");
  std::vector<int> ran;
  queue.async([] { throw Exception("com.example.bad", "bad options"); });
  queue.async([&] { ran.push_back(1); });
  queue.async([] { throw std::runtime_error("plain failure"); });
  queue.async([] { throw 42; });
  queue.async([&] { ran.push_back(2); });
  queue.sync([] {});

  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  std::string all = problems.joined();
  EXPECT_THAT(all, HasSubstr("com.example.bad"));
  EXPECT_THAT(all, HasSubstr("bad options"));
  EXPECT_THAT(all, HasSubstr("plain failure"));
  EXPECT_THAT(all, HasSubstr("test.throwing"));
  EXPECT_EQ(problems.lines().size(), 3u);
}

// Runs `body` as a task of `on` and returns the exception a deadlocking sync
// inside it threw (empty reason when none was thrown).
std::string syncFailureInside(const DispatchQueue& on, const std::function<void()>& body) {
  std::string reason = "<no exception>";
  Semaphore done;
  on.async([&] {
    try {
      body();
    } catch (const Exception& e) {
      EXPECT_EQ(e.name, kSyncDeadlockException);
      reason = e.reason;
    }
    done.signal();
  });
  EXPECT_FALSE(done.wait(kGenerous)) << "deadlocked";
  return reason;
}

TEST(SerialQueueTest, SyncThatWouldDeadlockIsReportedByLabel) {
  ProblemCapture problems;
  SerialQueue outer("test.outer");
  SerialQueue inner("test.inner", outer);  // runs on outer
  SerialQueue other("test.other");

  struct Case {
    const char* what;
    DispatchQueue on;
    std::function<void()> body;
    const char* expected;
  };
  const Case cases[] = {
      {"onto itself", inner, [&] { inner.sync([] {}); }, "\"test.inner\""},
      {"onto the target it runs on", inner, [&] { outer.sync([] {}); }, "\"test.outer\""},
      {"onto a queue targeting the caller", outer, [&] { inner.sync([] {}); }, "target queue \"test.outer\""},
      {"back through another queue's sync", other,
       [&] { inner.sync([&] { other.sync([] {}); }); }, "\"test.other\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THAT(syncFailureInside(c.on, c.body), HasSubstr(c.expected));
  }
  EXPECT_THAT(problems.joined(), HasSubstr("would deadlock"));
  EXPECT_EQ(problems.lines().size(), std::size(cases));
  // The queues still work.
  EXPECT_EQ(inner.sync([] { return 7; }), 7);
}

TEST(SerialQueueTest, SyncOntoSerialQueueTargetingConcurrentOneIsFine) {
  ConcurrentQueue pool("test.pool");
  SerialQueue serial("test.onpool", pool);
  EXPECT_EQ(syncFailureInside(pool, [&] { serial.sync([] {}); }), "<no exception>");
}

TEST(SerialQueueTest, CurrentQueueLabelFollowsTargets) {
  SerialQueue outer("test.label.outer");
  SerialQueue inner("test.label.inner", outer);
  auto seen = inner.sync([&] {
    return std::make_tuple(currentQueueLabel(), inner.isCurrent(), outer.isCurrent());
  });
  EXPECT_EQ(seen, std::make_tuple(std::string("test.label.inner"), true, true));
  EXPECT_EQ(outer.sync([&] { return inner.isCurrent(); }), false);
  std::string offQueue;
  std::thread([&] { offQueue = currentQueueLabel(); }).join();
  EXPECT_EQ(offQueue, "");
}

TEST(ConcurrentQueueTest, TasksOverlap) {
  // Each task waits for the other: only possible when both run at once.
  ConcurrentQueue queue("test.concurrent");
  Semaphore first, second;
  std::atomic<int> met{0};
  Group group;
  group.async(queue, [&] { first.signal(); if (!second.wait(kGenerous)) ++met; });
  group.async(queue, [&] { second.signal(); if (!first.wait(kGenerous)) ++met; });
  EXPECT_FALSE(group.wait(kGenerous));
  EXPECT_EQ(met, 2);
}

TEST(WeakTaskTest, DoesNothingOnceTargetIsGone) {
  auto target = std::make_shared<int>(0);
  auto task = weakTask(target, [](std::shared_ptr<int> self, int add) { *self += add; });
  task(2);
  EXPECT_EQ(*target, 2);
  std::weak_ptr<int> watch = target;
  target.reset();
  task(3);  // no crash, no resurrection
  EXPECT_TRUE(watch.expired());
}

class MainQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MainQueue::drain();  // this thread is now the main thread
  }
  void TearDown() override {
    MainQueue::setDriver(nullptr);
    MainQueue::drain();
  }
};

TEST_F(MainQueueTest, PumpRunsPostedWorkOnThisThreadNeverInline) {
  std::vector<std::string> log;
  bool onMain = false;
  mainQueue().async([&] {
    onMain = isMainThread() && currentQueueLabel() == MainQueue::kLabel;
    log.push_back("first");
    mainQueue().async([&] { log.push_back("posted from main"); });
    log.push_back("first done");
  });
  EXPECT_TRUE(log.empty());  // nothing runs inside async
  EXPECT_EQ(MainQueue::drain(), 1);  // the nested post waits for the next turn
  EXPECT_EQ(log, (std::vector<std::string>{"first", "first done"}));
  EXPECT_TRUE(onMain);
  EXPECT_EQ(MainQueue::drain(), 1);
  EXPECT_EQ(log.back(), "posted from main");

  int chain = 0;
  std::function<void()> step = [&] {
    if (++chain < 5) mainQueue().async(step);
  };
  mainQueue().async(step);
  EXPECT_TRUE(MainQueue::runUntilIdle());
  EXPECT_EQ(chain, 5);

  bool workerIsMain = true;
  std::atomic<bool> delivered{false};
  std::thread worker([&] {
    workerIsMain = isMainThread();
    mainQueue().async([&] { delivered = true; });
  });
  EXPECT_TRUE(MainQueue::runUntil([&] { return delivered.load(); }, kGenerous));
  worker.join();
  EXPECT_FALSE(workerIsMain);
  EXPECT_FALSE(MainQueue::runUntil([] { return false; }, 0.01));  // times out, returns
}

// Waiting for main-queue work sleeps instead of polling: a long wait with
// nothing to do takes no wake-ups, and work from another thread ends it.
TEST_F(MainQueueTest, RunUntilAfterWorkSleepsUntilWorkArrives) {
  auto switches = [] {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
  };
  const long before = switches();
  EXPECT_FALSE(MainQueue::runUntilAfterWork([] { return false; }, 0.3));
  EXPECT_LT(switches() - before, 20) << "woke up to poll";  // runUntil would wake about 150 times

  int steps = 0;
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    mainQueue().async([&] { mainQueue().async([&] { ++steps; }); ++steps; });
  });
  EXPECT_TRUE(MainQueue::runUntilAfterWork([&] { return steps == 2; }, kGenerous));
  worker.join();
}

TEST_F(MainQueueTest, SyncFromWorkerIsServedByThePumpAndFromMainIsReported) {
  ProblemCapture problems;
  std::atomic<int> result{0};
  std::thread worker([&] { result = mainQueue().sync([] { return isMainThread() ? 1 : 2; }); });
  EXPECT_TRUE(MainQueue::runUntil([&] { return result.load() != 0; }, kGenerous));
  worker.join();
  EXPECT_EQ(result, 1);

  EXPECT_THROW(mainQueue().sync([] {}), Exception);
  EXPECT_THAT(problems.joined(), HasSubstr("\"main\""));
}

TEST_F(MainQueueTest, DriverIsWokenOncePerBatch) {
  struct CountingDriver : MainQueueDriver {
    std::atomic<int> wakes{0};
    void wakeUp() override { ++wakes; }
  };
  auto driver = std::make_shared<CountingDriver>();
  MainQueue::setDriver(driver);
  int ran = 0;
  mainQueue().async([&] { ++ran; });
  mainQueue().async([&] { ++ran; });
  EXPECT_EQ(driver->wakes, 1);
  MainQueue::drain();
  EXPECT_EQ(ran, 2);
  mainQueue().async([&] { ++ran; });
  EXPECT_EQ(driver->wakes, 2);
  MainQueue::drain();
  EXPECT_EQ(ran, 3);
}

}  // namespace
}  // namespace platform

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <limits>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/TimerWork.h"
#include "platform/dispatch/internal/TimerScheduler.h"
#include "platform/time/Clock.h"

namespace platform {
namespace {

constexpr double kGenerous = 30;

// Every test runs on a fresh virtual clock; work lands on `queue`, whose
// state the test reads through sync (which also waits for fired tasks).
class VirtualTimeTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::setCurrent(m_clock); }
  void TearDown() override { Clock::setCurrent(nullptr); }

  std::vector<std::string> events() {
    return queue.sync([this] { return m_events; });
  }
  Block record(std::string what) {
    return [this, what] { m_events.push_back(what); };
  }

  std::shared_ptr<VirtualClock> m_clock = std::make_shared<VirtualClock>();
  SerialQueue queue{"test.timers"};
  std::vector<std::string> m_events;  // touched only on queue
};

TEST_F(VirtualTimeTest, HourLongDelaysFireOnlyWhenTimeReachesThemInOrder) {
  queue.after(7200, record("2h"));
  queue.after(3600, record("1h"));
  queue.after(5400, record("1.5h"));
  m_clock->advance(3599.5);
  EXPECT_TRUE(events().empty());
  m_clock->advance(0.5);
  EXPECT_EQ(events(), (std::vector<std::string>{"1h"}));
  m_clock->advance(86400);
  EXPECT_EQ(events(), (std::vector<std::string>{"1h", "1.5h", "2h"}));
}

TEST_F(VirtualTimeTest, CancelledAfterNeverRunsAndZeroDelayDoesNotWaitForTheClock) {
  CancelHandle cancelled = queue.after(10, record("cancelled"));
  queue.after(20, record("kept"));
  queue.after(-5, record("negative delay"));
  cancelled.cancel();
  EXPECT_TRUE(cancelled.isCancelled());
  EXPECT_EQ(events(), (std::vector<std::string>{"negative delay"}));
  m_clock->advance(60);
  EXPECT_EQ(events(), (std::vector<std::string>{"negative delay", "kept"}));
}

TEST_F(VirtualTimeTest, RepeatingTimerFiresOncePerIntervalUntilCancelledAndRestartsFromStartDelay) {
  int fired = 0;  // touched only on queue
  Timer timer(queue, 0.5, 30, [&] { ++fired; }, 5);
  EXPECT_FALSE(timer.isValid());
  timer.start();
  EXPECT_TRUE(timer.isValid());

  m_clock->advance(0.5 + 30 * 9);  // the first fire plus nine intervals
  EXPECT_EQ(queue.sync([&] { return fired; }), 10);
  m_clock->advance(29);
  EXPECT_EQ(queue.sync([&] { return fired; }), 10);

  timer.cancel();
  EXPECT_FALSE(timer.isValid());
  m_clock->advance(3600);
  EXPECT_EQ(queue.sync([&] { return fired; }), 10);

  timer.start();  // a restart fires after the start delay again
  m_clock->advance(0.4);
  EXPECT_EQ(queue.sync([&] { return fired; }), 10);
  m_clock->advance(0.1);
  EXPECT_EQ(queue.sync([&] { return fired; }), 11);
  m_clock->advance(30);
  EXPECT_EQ(queue.sync([&] { return fired; }), 12);
}

TEST_F(VirtualTimeTest, OneShotTimerBecomesInvalidAndCanCancelItselfFromItsHandler) {
  std::unique_ptr<Timer> timer;
  bool validInHandler = true;
  timer = Timer::oneShot(queue, 3600, [&] {
    validInHandler = timer->isValid();
    timer->cancel();
  });
  EXPECT_TRUE(timer->isValid());
  m_clock->advance(3600);
  queue.sync([] {});
  EXPECT_FALSE(validInHandler);
  EXPECT_FALSE(timer->isValid());
}

TEST_F(VirtualTimeTest, DestroyedTimerNeverFiresAndReleasesItsHandler) {
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  {
    auto timer = Timer::repeating(queue, 1, 1, [captured] { ++*captured; });
    captured.reset();
  }
  EXPECT_TRUE(watch.expired());
  m_clock->advance(10);
  queue.sync([] {});
}

TEST_F(VirtualTimeTest, TimersOnTheMainQueueRunWhenPumped) {
  MainQueue::drain();
  bool ran = false;
  mainQueue().after(43200, [&] { ran = true; });
  m_clock->advance(43200);
  EXPECT_FALSE(ran);  // queued, not run inside advance
  EXPECT_TRUE(MainQueue::runUntil([&] { return ran; }, kGenerous));
}

TEST(TimerSchedulerTest, DelaysAreTruncatedToWholeNanoseconds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double seconds;
    int64_t nanoseconds;
  } cases[] = {
      {1.5, 1500000000}, {2.9e-9, 2}, {0.1, 100000000}, {3600, 3600000000000},
      {0, 0},           {-1, 0},     {nan, 0},
      {1e300, static_cast<int64_t>(dispatch_internal::TimerScheduler::kMaxDelaySeconds * 1e9)},  // clamped
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dispatch_internal::TimerScheduler::toNanoseconds(c.seconds), c.nanoseconds) << c.seconds;
  }
}

TEST(RealTimeTest, AfterAndTimersFireOnSteadyTime) {
  Clock::setCurrent(nullptr);
  SerialQueue queue("test.realtime");
  Semaphore fired;
  queue.after(0.01, [&] { fired.signal(); });
  EXPECT_FALSE(fired.wait(kGenerous));

  Semaphore ticks;
  auto timer = Timer::repeating(queue, 0, 0.005, [&] { ticks.signal(); });
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(ticks.wait(kGenerous));
  timer->cancel();
}

TEST_F(VirtualTimeTest, WaitingForTimerWorkCoversWhatTheFiredTasksQueued) {
  SerialQueue other("test.timers.other");
  std::atomic<int> slow{0};
  queue.after(5, [&] {
    // A fired task that takes a while and releases a zero-delay task elsewhere.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    slow = 1;  // before the release: the task on `other` may run at once
    other.after(0, [&] { slow = 2; });
  });
  int mainFired = 0;  // main thread only
  Timer timer(mainQueue(), 5, 0, [&] { ++mainFired; });
  timer.start();
  m_clock->advance(5);
  EXPECT_TRUE(waitForTimerWork(kGenerous));
  EXPECT_EQ(slow.load(), 2);
  EXPECT_EQ(mainFired, 1);
  // Nothing fed since: returns at once.
  EXPECT_TRUE(waitForTimerWork(0));
}

}  // namespace
}  // namespace platform

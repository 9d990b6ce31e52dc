#include "platform/time/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <thread>

namespace platform {
namespace {

// A minimal timer set: one-shot and repeating entries on the monotonic axis,
// recording (name, fire time, wall time at fire) in order.
class FakeTimers : public VirtualClock::Sleeper {
 public:
  explicit FakeTimers(VirtualClock& clock) : m_clock(clock) {}

  void add(std::string name, double deadline, double repeat = 0) {
    std::lock_guard lock(m_mutex);
    m_entries.emplace(deadline, Entry{std::move(name), repeat});
  }

  std::optional<double> nextDeadline() override {
    std::lock_guard lock(m_mutex);
    if (m_entries.empty()) return std::nullopt;
    return m_entries.begin()->first;
  }

  void fireDue(double now) override {
    std::vector<std::pair<double, Entry>> due;
    {
      std::lock_guard lock(m_mutex);
      while (!m_entries.empty() && m_entries.begin()->first <= now) {
        due.emplace_back(*m_entries.begin());
        m_entries.erase(m_entries.begin());
      }
    }
    for (auto& [deadline, entry] : due) {
      fired.push_back({entry.name, now, m_clock.now(), m_clock.monotonic()});
      if (entry.repeat > 0) add(entry.name, deadline + entry.repeat, entry.repeat);
    }
  }

  struct Firing {
    std::string name;
    double at;
    double wall;
    double monotonic;
  };
  std::vector<Firing> fired;

 private:
  struct Entry {
    std::string name;
    double repeat;
  };
  VirtualClock& m_clock;
  std::mutex m_mutex;
  std::multimap<double, Entry> m_entries;
};

TEST(SystemClockTest, AxesAreSaneAndMicrosecondResolution) {
  SystemClock clock;
  double now = clock.now();
  EXPECT_GT(now, 1.6e9);  // after 2020
  double micros = now * 1e6;
  EXPECT_NEAR(micros, std::round(micros), 1.0);
  double a = clock.monotonic();
  double b = clock.monotonic();
  EXPECT_LE(a, b);
  double boot = clock.sinceBoot();
  EXPECT_GT(boot, 0);  // CLOCK_BOOTTIME exists on every Linux this runs on
  EXPECT_NEAR(clock.bootTime(), now - boot, 5.0);
  // The kernel's boot time is whole seconds and the same on every read.
  int64_t kernelBoot = clock.kernelBootTime();
  EXPECT_NEAR(static_cast<double>(kernelBoot), now - boot, 5.0);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(clock.kernelBootTime(), kernelBoot);
}

TEST(ClockTest, CurrentIsInjectableAndNullRestoresSystem) {
  auto virtualClock = std::make_shared<VirtualClock>(1234.5);
  Clock::setCurrent(virtualClock);
  EXPECT_EQ(Clock::current(), virtualClock);
  EXPECT_EQ(Clock::current()->now(), 1234.5);
  EXPECT_EQ(Clock::current()->nowSeconds(), 1234);
  EXPECT_EQ(Clock::current()->nowMilliseconds(), 1234500);
  Clock::setCurrent(nullptr);
  EXPECT_EQ(Clock::current(), Clock::system());
  EXPECT_GT(Clock::current()->now(), 1.6e9);
}

TEST(ClockTest, WholeSecondVariantsFloorNegativeTimes) {
  VirtualClock clock(-0.25);
  EXPECT_EQ(clock.nowSeconds(), -1);
  EXPECT_EQ(clock.nowMilliseconds(), -250);
}

TEST(VirtualClockTest, AdvanceStepsThroughDeadlinesInOrderMovingBothAxes) {
  VirtualClock clock(1000000.0, 10.0);
  FakeTimers timers(clock);
  clock.attach(&timers);
  timers.add("late", 40.0);
  timers.add("early", 15.0);
  timers.add("beyond", 200.0);
  clock.advance(60.0);
  ASSERT_EQ(timers.fired.size(), 2u);
  EXPECT_EQ(timers.fired[0].name, "early");
  EXPECT_EQ(timers.fired[0].at, 15.0);
  EXPECT_EQ(timers.fired[0].monotonic, 15.0);
  EXPECT_EQ(timers.fired[0].wall, 1000005.0);
  EXPECT_EQ(timers.fired[1].name, "late");
  EXPECT_EQ(timers.fired[1].wall, 1000030.0);
  EXPECT_EQ(clock.monotonic(), 70.0);
  EXPECT_EQ(clock.now(), 1000060.0);
  // A deadline exactly at the target fires; the one beyond stays pending.
  clock.advance(130.0);
  ASSERT_EQ(timers.fired.size(), 3u);
  EXPECT_EQ(timers.fired[2].name, "beyond");
  EXPECT_EQ(timers.fired[2].at, 200.0);
  clock.detach(&timers);
}

TEST(VirtualClockTest, NextDeadlineIsTheEarliestOfTheSleepers) {
  VirtualClock clock(1000000.0, 10.0);
  FakeTimers first(clock);
  FakeTimers second(clock);
  EXPECT_EQ(clock.nextDeadline(), std::nullopt);
  clock.attach(&first);
  clock.attach(&second);
  EXPECT_EQ(clock.nextDeadline(), std::nullopt);
  first.add("first", 40.0);
  second.add("second", 25.0);
  EXPECT_EQ(clock.nextDeadline(), 25.0);
  clock.advance(20.0);
  EXPECT_EQ(clock.nextDeadline(), 40.0);
  clock.advance(20.0);
  EXPECT_EQ(clock.nextDeadline(), std::nullopt);
  clock.detach(&first);
  clock.detach(&second);
}

TEST(VirtualClockTest, RepeatingSleeperReArmsWithinOneAdvance) {
  VirtualClock clock(0.0, 0.0);
  FakeTimers timers(clock);
  clock.attach(&timers);
  timers.add("tick", 3600.0, 3600.0);
  timers.add("once", 5000.0);
  clock.advance(4 * 3600.0);  // an hour-long period, four times, instantly
  std::vector<std::string> names;
  std::vector<double> times;
  for (auto& f : timers.fired) {
    names.push_back(f.name);
    times.push_back(f.at);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"tick", "once", "tick", "tick", "tick"}));
  EXPECT_EQ(times, (std::vector<double>{3600, 5000, 7200, 10800, 14400}));
  EXPECT_EQ(timers.nextDeadline(), 18000.0);
  clock.detach(&timers);
}

TEST(VirtualClockTest, OverdueDeadlineFiresAtCurrentTimeWithoutGoingBack) {
  VirtualClock clock(0.0, 100.0);
  FakeTimers timers(clock);
  clock.attach(&timers);
  timers.add("overdue", 50.0);
  clock.fireDue();
  ASSERT_EQ(timers.fired.size(), 1u);
  EXPECT_EQ(timers.fired[0].at, 100.0);
  EXPECT_EQ(clock.monotonic(), 100.0);
  clock.detach(&timers);
}

TEST(VirtualClockTest, NegativeOrNanAdvanceDoesNotMoveTime) {
  VirtualClock clock(5.0, 5.0);
  clock.advance(-3);
  clock.advance(std::nan(""));
  EXPECT_EQ(clock.now(), 5.0);
  EXPECT_EQ(clock.monotonic(), 5.0);
}

TEST(VirtualClockTest, SleeperThatNeverClearsItsDeadlineCannotHangAdvance) {
  struct Stuck : VirtualClock::Sleeper {
    std::optional<double> nextDeadline() override { return 1.0; }
    void fireDue(double) override { ++calls; }
    int64_t calls = 0;
  } stuck;
  VirtualClock clock(0.0, 0.0);
  clock.attach(&stuck);
  clock.advance(10);
  EXPECT_EQ(stuck.calls, VirtualClock::kMaxStepsPerAdvance);
  EXPECT_EQ(clock.monotonic(), 10.0);
  clock.detach(&stuck);
}

TEST(VirtualClockTest, SetNowMovesWallOnlyAndBootTimeCanBeUnknown) {
  VirtualClock clock;
  EXPECT_EQ(clock.sinceBoot(), VirtualClock::kDefaultSinceBoot);
  clock.setNow(42.0);
  clock.advance(1.5);
  EXPECT_EQ(clock.now(), 43.5);
  EXPECT_EQ(clock.monotonic(), VirtualClock::kDefaultMonotonic + 1.5);
  EXPECT_EQ(clock.sinceBoot(), VirtualClock::kDefaultSinceBoot + 1.5);
  clock.setSinceBoot(-1);
  EXPECT_EQ(clock.sinceBoot(), -1);
  EXPECT_EQ(clock.bootTime(), -1);
  EXPECT_EQ(clock.kernelBootTime(), -1);
  clock.setSinceBoot(10);
  EXPECT_EQ(clock.bootTime(), 33.5);
  EXPECT_EQ(clock.kernelBootTime(), 34);  // rounded; stays put while time advances
  clock.advance(0.25);
  EXPECT_EQ(clock.kernelBootTime(), 34);
}

TEST(VirtualClockTest, SleeperMayDetachItselfAndAttachOthersWhileFiring) {
  VirtualClock clock(0.0, 0.0);
  FakeTimers second(clock);
  second.add("second", 20.0);
  struct SelfRemoving : VirtualClock::Sleeper {
    VirtualClock* clock;
    VirtualClock::Sleeper* other;
    int calls = 0;
    std::optional<double> nextDeadline() override { return calls == 0 ? std::optional(10.0) : std::nullopt; }
    void fireDue(double) override {
      ++calls;
      clock->attach(other);
      clock->detach(this);
    }
  } first;
  first.clock = &clock;
  first.other = &second;
  clock.attach(&first);
  clock.advance(30);
  EXPECT_EQ(first.calls, 1);
  ASSERT_EQ(second.fired.size(), 1u);
  EXPECT_EQ(second.fired[0].at, 20.0);
  clock.detach(&second);
}

TEST(VirtualClockTest, ConcurrentReadersAndDetachDuringAdvance) {
  VirtualClock clock(0.0, 0.0);
  auto timers = std::make_unique<FakeTimers>(clock);
  clock.attach(timers.get());
  timers->add("tick", 1.0, 1.0);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    double last = 0;
    while (!stop) {
      double m = clock.monotonic();
      EXPECT_GE(m, last);
      last = m;
    }
  });
  std::thread advancer([&] {
    for (int i = 0; i < 200; ++i) clock.advance(5);
  });
  std::this_thread::yield();
  clock.detach(timers.get());
  timers.reset();  // safe: detach waited for any running callback
  advancer.join();
  stop = true;
  reader.join();
  EXPECT_EQ(clock.monotonic(), 1000.0);
}

}  // namespace
}  // namespace platform

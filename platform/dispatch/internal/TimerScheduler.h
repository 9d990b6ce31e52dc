// TimerScheduler: the one scheduler behind `after` and Timer.
//
// schedule(delay, interval, cancelled, fire) calls fire() once `delay`
// seconds (truncated to whole nanoseconds) have passed, then every `interval`
// seconds when interval > 0, until *cancelled is set. A zero delay calls
// fire() at once, inside schedule(). fire() must be quick
// (it queues a task); it runs on the scheduler's thread in real time, or on
// the thread advancing the clock when the process clock was a VirtualClock
// at schedule time: the entry then belongs to that clock and fires only as it
// is advanced (the scheduler is attached to it as a Sleeper). A repeating
// entry re-arms at its previous deadline + interval (missed periods in real
// time are skipped). Cancelled entries are dropped lazily.
//
// Thread safety: schedule() from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace platform::dispatch_internal {

class TimerScheduler {
 public:
  static constexpr double kMaxDelaySeconds = 1e9;  // about 31 years; 10^18 ns fits int64

  static TimerScheduler& shared();

  void schedule(double delaySeconds, double intervalSeconds, std::shared_ptr<std::atomic<bool>> cancelled,
                std::function<void()> fire);

  // Nanoseconds of a delay: seconds × 10^9 truncated, 0 for negative or NaN.
  static int64_t toNanoseconds(double seconds);

 private:
  TimerScheduler();
  struct Impl;
  Impl* m_impl;
};

}  // namespace platform::dispatch_internal

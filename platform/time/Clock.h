// Clock: the one source of "now" for the whole process.
//
// Three axes: wall time (seconds since 1970 as a double with microsecond
// resolution), monotonic time (steady seconds from an arbitrary origin; use it
// for deadlines and intervals) and time since boot (seconds, -1 when the
// system cannot tell). `Clock::current()` is the process-wide clock;
// `Clock::setCurrent()` injects another one (tests install a `VirtualClock`),
// `setCurrent(nullptr)` restores the system clock.
//
// `VirtualClock` never moves on its own: `advance(seconds)` steps through the
// deadlines of the attached `Sleeper`s (the dispatch layer's timer scheduler
// is one) in time order. At each step monotonic and wall time jump to that
// deadline and the sleeper's `fireDue` runs; a sleeper may add deadlines while
// it fires (a repeating timer re-arms) and those inside the advanced range are
// honoured too. Finally both clocks stand at the target time.
//
// Thread safety: every member of every clock may be called from any thread.
// `Sleeper` callbacks run on the thread that calls `advance()`, without any
// clock lock held, so a sleeper may read the clock, attach, detach or even
// advance from inside `fireDue`. `detach()` called from another thread waits
// until a callback into that sleeper has returned, so a sleeper may be
// destroyed right after it is detached (a sleeper must therefore not hold a
// lock that its own callbacks take while it calls `detach()`).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;

  // Wall time: seconds since 1970-01-01T00:00:00Z, microsecond resolution.
  virtual double now() const = 0;
  // Steady seconds from an arbitrary origin; never goes backwards.
  virtual double monotonic() const = 0;
  // Seconds since the machine booted (suspend included), -1 when unknown.
  virtual double sinceBoot() const = 0;

  // Wall time of the boot (now() - sinceBoot()), -1 when unknown.
  double bootTime() const;
  // The kernel's boot time in whole seconds since 1970, the same value on
  // every call (unlike bootTime(), which is the difference of two clocks
  // read one after the other); -1 when unknown. The system clock reads the
  // kernel's own record; other clocks round bootTime().
  virtual int64_t kernelBootTime() const;
  // Wall time in whole seconds (truncated toward negative infinity).
  int64_t nowSeconds() const;
  // Wall time in milliseconds, truncated.
  int64_t nowMilliseconds() const;

  // The process-wide clock (the system clock unless replaced).
  static std::shared_ptr<Clock> current();
  // Replaces the process-wide clock; nullptr restores the system clock.
  static void setCurrent(std::shared_ptr<Clock> clock);
  // The shared system clock instance.
  static std::shared_ptr<Clock> system();
};

// The real clocks: CLOCK_REALTIME, CLOCK_MONOTONIC and CLOCK_BOOTTIME.
class SystemClock final : public Clock {
 public:
  double now() const override;
  double monotonic() const override;
  double sinceBoot() const override;
  // The "btime" line of /proc/stat.
  int64_t kernelBootTime() const override;
};

class VirtualClock final : public Clock {
 public:
  // Something holding deadlines on the monotonic axis.
  struct Sleeper {
    virtual ~Sleeper() = default;
    // Earliest pending deadline (monotonic seconds), none when idle.
    virtual std::optional<double> nextDeadline() = 0;
    // Runs whatever is due at `monotonicNow`.
    virtual void fireDue(double monotonicNow) = 0;
  };

  // Defaults: a fixed, recognisable wall time (2023-11-14T22:13:20Z), a
  // monotonic origin of 1000 s and a boot 3600 s before that origin.
  static constexpr double kDefaultWall = 1700000000.0;
  static constexpr double kDefaultMonotonic = 1000.0;
  static constexpr double kDefaultSinceBoot = 4600.0;
  // advance() stops stepping after this many firings in one call (a sleeper
  // that never clears a due deadline would otherwise spin forever).
  static constexpr int kMaxStepsPerAdvance = 1000000;

  explicit VirtualClock(double wallSeconds = kDefaultWall,
                        double monotonicSeconds = kDefaultMonotonic);

  double now() const override;
  double monotonic() const override;
  double sinceBoot() const override;

  void attach(Sleeper* sleeper);
  void detach(Sleeper* sleeper);

  // Moves time forward by `seconds` (negative or NaN counts as 0), firing the
  // attached sleepers' deadlines in order on the way.
  void advance(double seconds);
  // Fires whatever is due now without moving time.
  void fireDue() { advance(0); }
  // The earliest deadline of the attached sleepers (monotonic seconds; it may
  // lie in the past when overdue), none when they are idle.
  std::optional<double> nextDeadline();
  // Sets the wall time only (monotonic time is unaffected, as when the
  // system clock is adjusted).
  void setNow(double wallSeconds);
  // Sets the time since boot reported now; -1 makes boot time unknown.
  void setSinceBoot(double seconds);

  // Number of sleeper firings so far (diagnostics for tests).
  int64_t firedCount() const;

 private:
  // Calls fn(sleeper) with the sleeper marked busy, unless it was detached.
  template <typename Fn>
  bool callSleeper(Sleeper* sleeper, Fn&& fn);

  bool isBusyElsewhere(Sleeper* sleeper) const;

  mutable std::mutex m_mutex;
  std::condition_variable m_idle;
  double m_monotonic;
  double m_wallOffset;  // now = monotonic + offset (no drift from repeated steps)
  double m_bootOffset;  // sinceBoot = monotonic + offset
  bool m_bootKnown = true;
  std::vector<Sleeper*> m_sleepers;
  std::vector<std::pair<Sleeper*, std::thread::id>> m_busy;  // callbacks running now
  int64_t m_fired = 0;
  std::recursive_mutex m_advanceMutex;  // one advance() at a time
};

}  // namespace platform

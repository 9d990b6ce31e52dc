// Timer: fires a handler on a queue after a start delay, then (when repeating)
// every interval, until cancelled.
//
// start() arms the timer (or re-arms it: the first fire comes `startDelay`
// after the restart, earlier schedules are dropped). cancel() stops it; a fire
// already queued but not yet run is dropped too. isValid() is true while armed
// and not cancelled; a one-shot timer becomes invalid as its handler starts.
// An interval <= 0 makes a one-shot timer. Leeway is accepted and ignored.
// Time comes from Clock::current() (a VirtualClock fires only when advanced);
// delays are truncated to whole nanoseconds. Destroying the timer cancels it.
//
// Thread safety: every member may be called from any thread, the handler
// included (a handler may cancel or restart its own timer).
#pragma once

#include <memory>
#include <mutex>

#include "platform/dispatch/DispatchQueue.h"

namespace platform {

class Timer {
 public:
  Timer(DispatchQueue queue, double startDelay, double interval, Block handler, double leeway = 0);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void start();
  void cancel();
  bool isValid() const;

  // A started one-shot timer.
  static std::unique_ptr<Timer> oneShot(DispatchQueue queue, double delay, Block handler);
  // A started repeating timer.
  static std::unique_ptr<Timer> repeating(DispatchQueue queue, double startDelay, double interval, Block handler);

 private:
  struct Arm;

  DispatchQueue m_queue;
  double m_startDelay;
  double m_interval;
  std::shared_ptr<Block> m_handler;
  mutable std::mutex m_mutex;
  std::shared_ptr<Arm> m_arm;
};

}  // namespace platform

// MainQueue: the queue of the main thread, serial and FIFO.
//
// Tasks are only ever run by drain(), and the thread that drains is "the main
// thread" (isMainThread()). Nothing runs inside the call that posted it.
// Who drains is pluggable: the application installs a MainQueueDriver whose
// wakeUp() asks its event loop to call drain() on its thread soon. Without a
// driver (tests) the test thread pumps with runUntil / runFor / drain. Their
// timeouts are real time; a VirtualClock is not advanced by them.
//
// drain() runs the tasks that were queued when it started (tasks they post
// wait for the next drain) and returns how many ran. runUntil(pred, timeout)
// pumps until pred() holds (true) or timeout real seconds passed (false).
// runFor(seconds) pumps for that long. runUntilIdle(timeout) drains until the
// queue is empty, tasks posted by tasks included (false when still busy at
// the timeout).
//
// Thread safety: async/sync/after from any thread; drain/runUntil/runFor from
// the thread that is to be the main thread; setDriver from any thread.
// wakeUp() is called from any thread, possibly under a dispatch lock: it must
// only schedule the drain (post an event), never wait for the main thread.
#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/DispatchQueue.h"

namespace platform {

class MainQueueDriver {
 public:
  virtual ~MainQueueDriver() = default;
  // There is work: call MainQueue::drain() on the main thread soon.
  virtual void wakeUp() = 0;
};

class MainQueue : public DispatchQueue {
 public:
  static constexpr const char* kLabel = "main";

  // Returns the previous driver; nullptr means "pumped by hand".
  static std::shared_ptr<MainQueueDriver> setDriver(std::shared_ptr<MainQueueDriver> driver);

  static int drain();
  static bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds);
  // Like runUntil for a predicate that only main-queue tasks change: it is
  // checked after each drain, and between them the thread sleeps until work
  // arrives (runUntil also wakes every few milliseconds to look at state
  // other threads change), so a long wait costs no CPU.
  static bool runUntilAfterWork(const std::function<bool()>& predicate, double timeoutSeconds);
  static void runFor(double seconds);
  static bool runUntilIdle(double timeoutSeconds = 10);
  // Number of tasks waiting.
  static size_t pendingCount();

 private:
  friend MainQueue mainQueue();
  explicit MainQueue(std::shared_ptr<dispatch_internal::QueueImpl> impl) : DispatchQueue(std::move(impl)) {}
};

MainQueue mainQueue();

}  // namespace platform

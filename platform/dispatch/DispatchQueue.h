// DispatchQueue: a handle on an executor that runs tasks (std::function<void()>).
//
// The concrete kinds are SerialQueue (FIFO, one task at a time), ConcurrentQueue
// (tasks may overlap; the global queues are concurrent) and MainQueue (drained
// by whichever thread pumps it, "the main thread"). A handle is a cheap value:
// copies refer to the same queue, and a queue stays alive while it has work.
//
//   async(fn)        queues fn and returns at once.
//   sync(fn)         queues fn, blocks until it ran, returns its result; an
//                    exception thrown by fn is rethrown in the caller. It sees
//                    every task queued before it. A sync that would deadlock
//                    (the caller runs on the queue, on a serial queue in its
//                    target chain, or waits in a sync the queue is serving)
//                    is reported by label through reportInternalProblem and
//                    throws platform::Exception (kSyncDeadlockException)
//                    instead of blocking.
//   after(delay, fn) queues fn once `delay` seconds have passed on the
//                    process clock (Clock::current(); a VirtualClock fires it
//                    only when advanced). Returns a handle that cancels it.
//
// An exception escaping an async task is caught by the runner, reported (name
// and reason of a platform::Exception, what() otherwise) through
// reportInternalProblem("dispatch", ...) and the queue goes on.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/dispatch/CancelHandle.h"

namespace platform {

namespace dispatch_internal {
class QueueImpl;
}

using Block = std::function<void()>;

// Quality-of-service classes of the global queues (a hint only).
enum class Qos { Background, Utility, Default, UserInitiated };

// Name of the exception thrown by a sync that would deadlock.
inline constexpr const char* kSyncDeadlockException = "NSInternalInconsistencyException";

class DispatchQueue {
 public:
  void async(Block task) const;

  // Returns fn's result by value (a reference result is copied).
  template <typename F>
  auto sync(F&& fn) const -> std::decay_t<std::invoke_result_t<F&>> {
    using R = std::decay_t<std::invoke_result_t<F&>>;
    if constexpr (std::is_void_v<R>) {
      syncTask([&fn] { fn(); });
    } else {
      std::optional<R> result;
      syncTask([&fn, &result] { result.emplace(fn()); });
      return std::move(*result);
    }
  }

  CancelHandle after(double delaySeconds, Block task) const;

  const std::string& label() const;
  bool isSerial() const;
  // Whether the calling thread is running a task of this queue, directly or
  // through a queue that targets it.
  bool isCurrent() const;

  bool operator==(const DispatchQueue& other) const { return m_impl == other.m_impl; }

  // For the dispatch sources only.
  const std::shared_ptr<dispatch_internal::QueueImpl>& impl() const { return m_impl; }

 protected:
  explicit DispatchQueue(std::shared_ptr<dispatch_internal::QueueImpl> impl);

 private:
  // Runs task on the queue and waits; rethrows what task threw.
  void syncTask(const Block& task) const;

  std::shared_ptr<dispatch_internal::QueueImpl> m_impl;
};

// Label of the queue whose task the calling thread runs (the innermost one
// when queues target others); the main queue's label on the main thread
// outside any task; "" elsewhere.
std::string currentQueueLabel();

// Whether the calling thread is the main thread: the thread that drains the
// main queue (until something drains it, the thread that started the process).
bool isMainThread();

// Tasks queued on serial and concurrent queues (not the main queue) that
// have not finished yet, the task calling it included. Whoever drives a
// virtual clock or waits for a quiet process reads it; it never blocks.
size_t pendingTaskCount();

}  // namespace platform

#include "platform/dispatch/DispatchQueue.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/internal/QueueImpl.h"
#include "platform/dispatch/internal/TimerScheduler.h"
#include "platform/dispatch/internal/TimerWorkLog.h"
#include "platform/log/InternalProblem.h"
#include "platform/values/Exception.h"

namespace platform {
namespace dispatch_internal {

namespace {

thread_local const Frame* t_current = nullptr;

constexpr std::string_view kComponent = "dispatch";
constexpr auto kIdleThreadLifetime = std::chrono::seconds(10);

// Whether `queue` is on this thread's stack, or on the stack of a thread
// blocked in a sync that this thread is serving (transitively).
bool onStack(const Frame* frame, const QueueImpl* queue) {
  for (; frame; frame = frame->parent) {
    if (frame->queue == queue) return true;
    if (frame->waiter && onStack(frame->waiter, queue)) return true;
  }
  return false;
}

}  // namespace

ScopedFrame::ScopedFrame(const QueueImpl* queue, const Frame* waiter) : m_frame{queue, t_current, waiter} {
  t_current = &m_frame;
}

ScopedFrame::~ScopedFrame() { t_current = m_frame.parent; }

const Frame* currentFrame() { return t_current; }

void reportCurrentException(std::string_view context) {
  std::string text = "Uncaught exception in ";
  text += context;
  text += ": ";
  try {
    throw;
  } catch (const Exception& e) {
    text += e.name + ", reason: " + e.reason;
  } catch (const std::exception& e) {
    text += e.what();
  } catch (...) {
    text += "unknown exception";
  }
  reportInternalProblem(kComponent, text);
}

void runGuarded(std::string_view queueLabel, const Block& task) {
  try {
    task();
  } catch (...) {
    reportCurrentException("a task on queue \"" + std::string(queueLabel) + "\"");
  }
}

ThreadPool& ThreadPool::shared() {
  static ThreadPool* pool = new ThreadPool;
  return *pool;
}

void ThreadPool::submit(Block job) {
  std::unique_lock lock(m_mutex);
  m_jobs.push_back(std::move(job));
  if (m_jobs.size() > m_idle) {
    lock.unlock();
    std::thread([this] { work(); }).detach();
  } else {
    m_wake.notify_one();
  }
}

void ThreadPool::work() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    if (m_jobs.empty()) {
      ++m_idle;
      bool woken = m_wake.wait_for(lock, kIdleThreadLifetime, [this] { return !m_jobs.empty(); });
      --m_idle;
      if (!woken) return;
    }
    Block job = std::move(m_jobs.front());
    m_jobs.pop_front();
    lock.unlock();
    job();  // jobs catch their own exceptions
    job = nullptr;
    lock.lock();
  }
}

namespace {

// Tasks queued on serial and concurrent queues and not yet finished.
std::atomic<size_t> g_pendingTasks{0};

class SerialImpl final : public QueueImpl {
 public:
  SerialImpl(std::string label, std::shared_ptr<QueueImpl> target)
      : QueueImpl(std::move(label), true), m_target(std::move(target)) {}

  void enqueue(Block task) override {
    g_pendingTasks.fetch_add(1);
    {
      std::lock_guard lock(m_mutex);
      countEnqueued();  // with the push, so that the count never runs ahead of the order
      m_tasks.push_back(std::move(task));
      if (m_scheduled) return;
      m_scheduled = true;
    }
    scheduleDrain();
  }

  QueueImpl* target() const override { return m_target.get(); }

 private:
  // On a target, give the target's other work a turn after this many tasks.
  static constexpr int kBatchOnTarget = 64;

  void scheduleDrain() {
    Block job = [self = std::static_pointer_cast<SerialImpl>(shared_from_this())] { self->drain(); };
    if (m_target) {
      m_target->enqueue(std::move(job));
    } else {
      ThreadPool::shared().submit(std::move(job));
    }
  }

  void drain() {
    {
      ScopedFrame frame(this);
      for (int ran = 0;; ++ran) {
        Block task;
        {
          std::lock_guard lock(m_mutex);
          if (m_tasks.empty()) {
            m_scheduled = false;
            return;
          }
          if (m_target && ran >= kBatchOnTarget) break;
          task = std::move(m_tasks.front());
          m_tasks.pop_front();
        }
        runGuarded(label(), task);
        task = nullptr;
        g_pendingTasks.fetch_sub(1);
      }
    }
    scheduleDrain();
  }

  const std::shared_ptr<QueueImpl> m_target;
  std::mutex m_mutex;
  std::deque<Block> m_tasks;
  bool m_scheduled = false;
};

class ConcurrentImpl final : public QueueImpl {
 public:
  explicit ConcurrentImpl(std::string label) : QueueImpl(std::move(label), false) {}

  void enqueue(Block task) override {
    g_pendingTasks.fetch_add(1);
    {
      std::lock_guard lock(m_mutex);
      m_tasks.push_back(std::move(task));
      if (m_workers >= ConcurrentQueue::kMaxWidth) return;
      ++m_workers;
    }
    ThreadPool::shared().submit([self = std::static_pointer_cast<ConcurrentImpl>(shared_from_this())] { self->work(); });
  }

 private:
  void work() {
    ScopedFrame frame(this);
    for (;;) {
      Block task;
      {
        std::lock_guard lock(m_mutex);
        if (m_tasks.empty()) {
          --m_workers;
          return;
        }
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
      }
      runGuarded(label(), task);
      task = nullptr;
      g_pendingTasks.fetch_sub(1);
    }
  }

  std::mutex m_mutex;
  std::deque<Block> m_tasks;
  int m_workers = 0;
};

// The sync that would deadlock, if any: a serial queue of the destination's
// target chain that the calling thread runs on (or waits for), or the main
// queue when called on the main thread.
std::string syncDeadlockReason(const QueueImpl& destination) {
  for (const QueueImpl* queue = &destination; queue; queue = queue->target()) {
    if (!queue->isSerial()) continue;
    if (onStack(t_current, queue) || (queue->isMain() && isMainThread())) {
      std::string reason = "sync onto queue \"" + destination.label() + "\" would deadlock: ";
      if (queue == &destination) {
        reason += "the caller is running on it";
      } else {
        reason += "the caller is running on its target queue \"" + queue->label() + "\"";
      }
      return reason;
    }
  }
  return {};
}

double sanitizedDelay(double seconds) {
  if (!(seconds > 0)) return 0;  // negative and NaN
  return std::min(seconds, TimerScheduler::kMaxDelaySeconds);
}

}  // namespace

std::shared_ptr<QueueImpl> makeSerial(std::string label, std::shared_ptr<QueueImpl> target) {
  return std::make_shared<SerialImpl>(std::move(label), std::move(target));
}

std::shared_ptr<QueueImpl> makeConcurrent(std::string label) {
  return std::make_shared<ConcurrentImpl>(std::move(label));
}

}  // namespace dispatch_internal

using namespace dispatch_internal;

DispatchQueue::DispatchQueue(std::shared_ptr<QueueImpl> impl) : m_impl(std::move(impl)) {}

void DispatchQueue::async(Block task) const { m_impl->enqueue(std::move(task)); }

void DispatchQueue::syncTask(const Block& task) const {
  std::string deadlock = syncDeadlockReason(*m_impl);
  if (!deadlock.empty()) {
    reportInternalProblem(kComponent, deadlock);
    throw Exception(kSyncDeadlockException, deadlock);
  }
  struct Waiter {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::exception_ptr error;
  } waiter;
  const Frame* caller = t_current;
  m_impl->enqueue([&waiter, &task, caller] {
    {
      ScopedFrame frame(nullptr, caller);
      try {
        task();
      } catch (...) {
        waiter.error = std::current_exception();
      }
    }
    std::lock_guard lock(waiter.mutex);
    waiter.finished = true;
    waiter.done.notify_one();  // under the lock: the waiter may return right after
  });
  std::unique_lock lock(waiter.mutex);
  waiter.done.wait(lock, [&waiter] { return waiter.finished; });
  if (waiter.error) std::rethrow_exception(waiter.error);
}

CancelHandle DispatchQueue::after(double delaySeconds, Block task) const {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  TimerScheduler::shared().schedule(
      sanitizedDelay(delaySeconds), 0, cancelled,
      [queue = m_impl, cancelled, task = std::move(task)]() {
        noteTimerFed(queue);
        queue->enqueue([cancelled, task] {
          if (!cancelled->load()) task();
        });
      });
  return CancelHandle(cancelled);
}

size_t pendingTaskCount() { return g_pendingTasks.load(); }

const std::string& DispatchQueue::label() const { return m_impl->label(); }

bool DispatchQueue::isSerial() const { return m_impl->isSerial(); }

bool DispatchQueue::isCurrent() const {
  for (const Frame* frame = t_current; frame; frame = frame->parent) {
    if (frame->queue == m_impl.get()) return true;
  }
  return m_impl->isMain() && t_current == nullptr && isMainThread();
}

std::string currentQueueLabel() {
  for (const Frame* frame = t_current; frame; frame = frame->parent) {
    if (frame->queue) return frame->queue->label();
  }
  return isMainThread() ? MainQueue::kLabel : "";
}

SerialQueue::SerialQueue(std::string label, std::optional<DispatchQueue> target)
    : DispatchQueue(makeSerial(std::move(label), target ? target->impl() : nullptr)) {}

ConcurrentQueue::ConcurrentQueue(std::string label) : DispatchQueue(makeConcurrent(std::move(label))) {}

ConcurrentQueue globalQueue(Qos qos) {
  static const auto* queues = new std::shared_ptr<QueueImpl>[4]{
      makeConcurrent("global.background"),
      makeConcurrent("global.utility"),
      makeConcurrent("global.default"),
      makeConcurrent("global.user-initiated"),
  };
  return ConcurrentQueue(queues[static_cast<int>(qos)]);
}

}  // namespace platform

// Internals shared by the dispatch sources: the queue implementations' base,
// the per-thread stack of queues being run (for sync deadlock detection and
// the current-queue label), the exception-catching runner and the elastic
// thread pool. Not part of the public surface.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"

namespace platform::dispatch_internal {

class QueueImpl : public std::enable_shared_from_this<QueueImpl> {
 public:
  QueueImpl(std::string label, bool serial, bool main = false)
      : m_label(std::move(label)), m_serial(serial), m_main(main) {}
  virtual ~QueueImpl() = default;

  // Queues the task; never runs it inside this call.
  virtual void enqueue(Block task) = 0;
  // The queue this one runs its work on, if any.
  virtual QueueImpl* target() const { return nullptr; }

  const std::string& label() const { return m_label; }
  bool isSerial() const { return m_serial; }
  bool isMain() const { return m_main; }
  // Tasks queued so far on a serial queue, counted under the queue's lock
  // together with the task's place in it (the exit drain compares it across a
  // round to see that no work arrived).
  uint64_t enqueuedCount() const { return m_enqueued.load(); }

 protected:
  void countEnqueued() { m_enqueued.fetch_add(1); }

 private:
  std::atomic<uint64_t> m_enqueued{0};
  const std::string m_label;
  const bool m_serial;
  const bool m_main;
};

// One entry of the calling thread's stack of running queues. `queue` is null
// for the frame of a sync task, whose `waiter` is the frame of the thread
// blocked in that sync (alive as long as the sync task runs).
struct Frame {
  const QueueImpl* queue = nullptr;
  const Frame* parent = nullptr;
  const Frame* waiter = nullptr;
};

class ScopedFrame {
 public:
  explicit ScopedFrame(const QueueImpl* queue, const Frame* waiter = nullptr);
  ~ScopedFrame();
  ScopedFrame(const ScopedFrame&) = delete;
  ScopedFrame& operator=(const ScopedFrame&) = delete;

 private:
  Frame m_frame;
};

const Frame* currentFrame();

// Runs task, catching and reporting whatever escapes it (`what` names the
// runner in the report, e.g. the queue label).
void runGuarded(std::string_view queueLabel, const Block& task);
// Reports the exception being handled (call inside a catch block).
void reportCurrentException(std::string_view context);

// Elastic pool: a job never waits for a busy thread (a new thread starts when
// none is idle); idle threads end after a while. Leaked on purpose so that it
// outlives every static.
class ThreadPool {
 public:
  static ThreadPool& shared();
  void submit(Block job);

 private:
  void work();

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Block> m_jobs;
  size_t m_idle = 0;
};

}  // namespace platform::dispatch_internal

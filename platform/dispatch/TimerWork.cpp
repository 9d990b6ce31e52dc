#include "platform/dispatch/TimerWork.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/internal/QueueImpl.h"
#include "platform/dispatch/internal/TimerWorkLog.h"

namespace platform {

namespace dispatch_internal {

namespace {

struct FedQueues {
  std::mutex mutex;
  std::vector<std::weak_ptr<QueueImpl>> queues;
};

FedQueues& fedQueues() {
  static FedQueues* const shared = new FedQueues();
  return *shared;
}

}  // namespace

void noteTimerFed(const std::shared_ptr<QueueImpl>& queue) {
  FedQueues& fed = fedQueues();
  std::lock_guard lock(fed.mutex);
  for (const std::weak_ptr<QueueImpl>& known : fed.queues) {
    if (known.lock() == queue) return;
  }
  fed.queues.push_back(queue);
}

}  // namespace dispatch_internal

namespace {

// Waits until the queue has run what was queued before the marker.
bool waitForQueue(const std::shared_ptr<dispatch_internal::QueueImpl>& queue,
                  std::chrono::steady_clock::time_point deadline) {
  if (queue->isMain() && isMainThread()) {
    const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    return MainQueue::runUntilIdle(left > 0 ? left : 0);
  }
  struct Marker {
    std::mutex mutex;
    std::condition_variable reached;
    bool done = false;
  };
  auto marker = std::make_shared<Marker>();
  queue->enqueue([marker] {
    std::lock_guard lock(marker->mutex);
    marker->done = true;
    marker->reached.notify_all();
  });
  std::unique_lock lock(marker->mutex);
  return marker->reached.wait_until(lock, deadline, [&] { return marker->done; });
}

}  // namespace

bool waitForTimerWork(double timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(timeoutSeconds > 0 ? timeoutSeconds : 0));
  dispatch_internal::FedQueues& fed = dispatch_internal::fedQueues();
  while (true) {
    std::vector<std::weak_ptr<dispatch_internal::QueueImpl>> queues;
    {
      std::lock_guard lock(fed.mutex);
      queues.swap(fed.queues);
    }
    if (queues.empty()) return true;
    for (const std::weak_ptr<dispatch_internal::QueueImpl>& weak : queues) {
      std::shared_ptr<dispatch_internal::QueueImpl> queue = weak.lock();
      if (queue && !waitForQueue(queue, deadline)) return false;
    }
  }
}

}  // namespace platform

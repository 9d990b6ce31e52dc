#include "platform/dispatch/ExitDrain.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/internal/QueueImpl.h"
#include "platform/log/InternalProblem.h"

namespace platform {

namespace {

using dispatch_internal::QueueImpl;

struct Registry {
  std::mutex mutex;
  std::vector<std::weak_ptr<QueueImpl>> queues;
};

Registry& registry() {
  static auto* const shared = new Registry;  // used until the process ends
  return *shared;
}

// The registered queues still alive; forgets the others.
std::vector<std::shared_ptr<QueueImpl>> liveQueues() {
  Registry& shared = registry();
  std::lock_guard lock(shared.mutex);
  std::vector<std::shared_ptr<QueueImpl>> live;
  std::vector<std::weak_ptr<QueueImpl>> kept;
  for (const std::weak_ptr<QueueImpl>& weak : shared.queues) {
    if (std::shared_ptr<QueueImpl> queue = weak.lock()) {
      live.push_back(queue);
      kept.push_back(weak);
    }
  }
  shared.queues = std::move(kept);
  return live;
}

// Whether the calling thread runs a task of `queue` or of a queue it runs its
// work on (its target chain): waiting for it there would wait for ourselves.
bool blockedByCaller(const QueueImpl* queue) {
  for (const QueueImpl* runner = queue; runner; runner = runner->target()) {
    for (const dispatch_internal::Frame* frame = dispatch_internal::currentFrame(); frame; frame = frame->parent) {
      if (frame->queue == runner) return true;
    }
  }
  return false;
}

// One round's markers: which have run.
struct Round {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<bool> ran;
  size_t remaining = 0;
};

}  // namespace

void ExitDrain::registerQueue(const SerialQueue& queue) {
  Registry& shared = registry();
  std::lock_guard lock(shared.mutex);
  // Forget the queues of stores that went away, so the list stays as long as
  // the live ones.
  std::erase_if(shared.queues, [](const std::weak_ptr<QueueImpl>& weak) { return weak.expired(); });
  shared.queues.push_back(queue.impl());
}

bool ExitDrain::drain(double timeoutSeconds) {
  using Clock = std::chrono::steady_clock;
  const double timeout = timeoutSeconds > 0 ? std::min(timeoutSeconds, 1e9) : 0;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  for (;;) {
    std::vector<std::shared_ptr<QueueImpl>> queues = liveQueues();
    std::erase_if(queues, [](const std::shared_ptr<QueueImpl>& queue) { return blockedByCaller(queue.get()); });
    auto round = std::make_shared<Round>();
    round->ran.assign(queues.size(), false);
    round->remaining = queues.size();
    std::vector<uint64_t> before(queues.size());
    for (size_t index = 0; index < queues.size(); ++index) {
      before[index] = queues[index]->enqueuedCount();
      queues[index]->enqueue([round, index] {
        std::lock_guard lock(round->mutex);
        round->ran[index] = true;
        --round->remaining;
        round->changed.notify_all();
      });
    }
    {
      std::unique_lock lock(round->mutex);
      if (!round->changed.wait_until(lock, deadline, [&] { return round->remaining == 0; })) {
        std::string busy;
        for (size_t index = 0; index < queues.size(); ++index) {
          if (!round->ran[index]) busy += (busy.empty() ? "\"" : ", \"") + queues[index]->label() + "\"";
        }
        lock.unlock();
        reportInternalProblem("dispatch", "Queued writes not finished before the exit; still busy: " + busy);
        return false;
      }
    }
    // Only the marker arrived on each queue since the round began: nothing is
    // left to wait for.
    bool quiet = true;
    for (size_t index = 0; index < queues.size(); ++index) {
      quiet = quiet && queues[index]->enqueuedCount() == before[index] + 1;
    }
    if (quiet) return true;
  }
}

}  // namespace platform

#include "platform/dispatch/Group.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/log/InternalProblem.h"

namespace platform {

struct Group::State {
  std::mutex mutex;
  std::condition_variable empty;
  long count = 0;
  std::vector<std::pair<DispatchQueue, Block>> notifications;

  void leave() {
    std::unique_lock lock(mutex);
    if (count == 0) {
      lock.unlock();
      reportInternalProblem("dispatch", "Group leave() without a matching enter(); ignored");
      return;
    }
    if (--count > 0) return;
    // Queued under the lock: a waiter that wakes, or a later notify(), comes
    // strictly after these notifications are on their queues.
    for (auto& [queue, task] : notifications) queue.async(std::move(task));
    notifications.clear();
    empty.notify_all();
  }
};

Group::Group() : m_state(std::make_shared<State>()) {}

void Group::enter() const {
  std::lock_guard lock(m_state->mutex);
  ++m_state->count;
}

void Group::leave() const { m_state->leave(); }

void Group::async(const DispatchQueue& queue, Block task) const {
  enter();
  queue.async([state = m_state, task = std::move(task)] {
    struct Leave {
      State& state;
      ~Leave() { state.leave(); }
    } leave{*state};
    task();
  });
}

void Group::notify(const DispatchQueue& queue, Block task) const {
  {
    std::lock_guard lock(m_state->mutex);
    if (m_state->count > 0) {
      m_state->notifications.emplace_back(queue, std::move(task));
      return;
    }
  }
  queue.async(std::move(task));
}

void Group::wait() const {
  std::unique_lock lock(m_state->mutex);
  m_state->empty.wait(lock, [this] { return m_state->count == 0; });
}

bool Group::wait(double timeoutSeconds) const {
  const double timeout = timeoutSeconds > 0 ? std::min(timeoutSeconds, 1e9) : 0;
  std::unique_lock lock(m_state->mutex);
  return !m_state->empty.wait_for(lock, std::chrono::duration<double>(timeout),
                                  [this] { return m_state->count == 0; });
}

}  // namespace platform

#include "platform/dispatch/Semaphore.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct Semaphore::State {
  std::mutex mutex;
  std::condition_variable available;
  long count = 0;
};

Semaphore::Semaphore(long initial) : m_state(std::make_shared<State>()) { m_state->count = initial; }

void Semaphore::signal() const {
  std::lock_guard lock(m_state->mutex);
  ++m_state->count;
  m_state->available.notify_one();
}

void Semaphore::wait() const {
  std::unique_lock lock(m_state->mutex);
  m_state->available.wait(lock, [this] { return m_state->count > 0; });
  --m_state->count;
}

bool Semaphore::wait(double timeoutSeconds) const {
  const double timeout = timeoutSeconds > 0 ? std::min(timeoutSeconds, 1e9) : 0;
  std::unique_lock lock(m_state->mutex);
  if (!m_state->available.wait_for(lock, std::chrono::duration<double>(timeout),
                                   [this] { return m_state->count > 0; })) {
    return true;
  }
  --m_state->count;
  return false;
}

}  // namespace platform

#include "platform/dispatch/Timer.h"

#include <atomic>

#include "platform/dispatch/internal/QueueImpl.h"
#include "platform/dispatch/internal/TimerScheduler.h"
#include "platform/dispatch/internal/TimerWorkLog.h"

namespace platform {

// One arming of the timer; a restart or cancel retires it.
struct Timer::Arm {
  std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> spent{false};  // a one-shot that fired
};

Timer::Timer(DispatchQueue queue, double startDelay, double interval, Block handler, double /*leeway*/)
    : m_queue(std::move(queue)),
      m_startDelay(startDelay),
      m_interval(interval),
      m_handler(std::make_shared<Block>(std::move(handler))) {}

Timer::~Timer() { cancel(); }

void Timer::start() {
  auto arm = std::make_shared<Arm>();
  {
    std::lock_guard lock(m_mutex);
    if (m_arm) m_arm->cancelled->store(true);
    m_arm = arm;
  }
  const bool oneShot = !(m_interval > 0);
  // Weak: destroying the timer releases the handler even while entries wait.
  std::weak_ptr<Block> handler = m_handler;
  dispatch_internal::TimerScheduler::shared().schedule(
      m_startDelay, oneShot ? 0 : m_interval, arm->cancelled,
      [queue = m_queue.impl(), handler, arm, oneShot] {
        dispatch_internal::noteTimerFed(queue);
        queue->enqueue([handler, arm, oneShot] {
          if (arm->cancelled->load()) return;
          std::shared_ptr<Block> run = handler.lock();
          if (!run) return;
          if (oneShot) arm->spent.store(true);
          (*run)();
        });
      });
}

void Timer::cancel() {
  std::lock_guard lock(m_mutex);
  if (m_arm) m_arm->cancelled->store(true);
}

bool Timer::isValid() const {
  std::lock_guard lock(m_mutex);
  return m_arm && !m_arm->cancelled->load() && !m_arm->spent.load();
}

std::unique_ptr<Timer> Timer::oneShot(DispatchQueue queue, double delay, Block handler) {
  auto timer = std::make_unique<Timer>(std::move(queue), delay, 0, std::move(handler));
  timer->start();
  return timer;
}

std::unique_ptr<Timer> Timer::repeating(DispatchQueue queue, double startDelay, double interval, Block handler) {
  auto timer = std::make_unique<Timer>(std::move(queue), startDelay, interval, std::move(handler));
  timer->start();
  return timer;
}

}  // namespace platform

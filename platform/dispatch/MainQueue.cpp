#include "platform/dispatch/MainQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/dispatch/internal/QueueImpl.h"

namespace platform {
namespace {

using namespace dispatch_internal;

// The thread that started the process until something drains the main queue.
std::atomic<std::thread::id> g_mainThread{std::this_thread::get_id()};

class MainImpl final : public QueueImpl {
 public:
  MainImpl() : QueueImpl(MainQueue::kLabel, true, true) {}

  void enqueue(Block task) override {
    std::shared_ptr<MainQueueDriver> wake;
    {
      std::lock_guard lock(m_mutex);
      m_tasks.push_back(std::move(task));
      if (m_driver && !m_wakePending) {
        m_wakePending = true;
        wake = m_driver;
      }
      m_changed.notify_all();
    }
    if (wake) wake->wakeUp();
  }

  std::shared_ptr<MainQueueDriver> setDriver(std::shared_ptr<MainQueueDriver> driver) {
    std::shared_ptr<MainQueueDriver> wake;
    std::shared_ptr<MainQueueDriver> previous;
    {
      std::lock_guard lock(m_mutex);
      previous = std::exchange(m_driver, driver);
      m_wakePending = driver && !m_tasks.empty();
      if (m_wakePending) wake = driver;
    }
    if (wake) wake->wakeUp();
    return previous;
  }

  int drain() {
    g_mainThread.store(std::this_thread::get_id());
    size_t count;
    {
      std::lock_guard lock(m_mutex);
      m_wakePending = false;  // what is posted from now on asks for another drain
      count = m_tasks.size();
    }
    ScopedFrame frame(this);
    int ran = 0;
    for (; static_cast<size_t>(ran) < count; ++ran) {
      Block task;
      {
        std::lock_guard lock(m_mutex);
        if (m_tasks.empty()) break;  // a nested drain took them
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
      }
      runGuarded(label(), task);
    }
    return ran;
  }

  // Waits until a task is queued or the deadline passes.
  void waitForWork(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_until(lock, deadline, [this] { return !m_tasks.empty(); });
  }

  size_t pending() {
    std::lock_guard lock(m_mutex);
    return m_tasks.size();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<Block> m_tasks;
  std::shared_ptr<MainQueueDriver> m_driver;
  bool m_wakePending = false;
};

MainImpl& mainImpl();

const std::shared_ptr<MainImpl>& mainImplPtr() {
  static const auto* impl = new std::shared_ptr<MainImpl>(std::make_shared<MainImpl>());  // outlives statics
  return *impl;
}

MainImpl& mainImpl() { return *mainImplPtr(); }

// Predicates may depend on work of other threads that never posts to main.
constexpr auto kPollSlice = std::chrono::milliseconds(2);

}  // namespace

bool isMainThread() { return g_mainThread.load() == std::this_thread::get_id(); }

MainQueue mainQueue() { return MainQueue(mainImplPtr()); }

std::shared_ptr<MainQueueDriver> MainQueue::setDriver(std::shared_ptr<MainQueueDriver> driver) {
  return mainImpl().setDriver(std::move(driver));
}

int MainQueue::drain() { return mainImpl().drain(); }

namespace {
// Pumps until `predicate` holds or the timeout passed; between drains the
// thread sleeps until work arrives, at most `slice` when one is given.
bool pumpUntil(const std::function<bool()>& predicate, double timeoutSeconds,
               std::optional<std::chrono::steady_clock::duration> slice) {
  using Clock = std::chrono::steady_clock;
  const double timeout = timeoutSeconds > 0 ? std::min(timeoutSeconds, 1e9) : 0;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  for (;;) {
    if (predicate && predicate()) return true;
    mainImpl().drain();
    if (predicate && predicate()) return true;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    mainImpl().waitForWork(slice ? std::min(deadline, now + *slice) : deadline);
  }
}
}  // namespace

bool MainQueue::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
  return pumpUntil(predicate, timeoutSeconds, kPollSlice);
}

bool MainQueue::runUntilAfterWork(const std::function<bool()>& predicate, double timeoutSeconds) {
  return pumpUntil(predicate, timeoutSeconds, std::nullopt);
}

void MainQueue::runFor(double seconds) { runUntil(nullptr, seconds); }

bool MainQueue::runUntilIdle(double timeoutSeconds) {
  return runUntil([] { return mainImpl().pending() == 0; }, timeoutSeconds);
}

size_t MainQueue::pendingCount() { return mainImpl().pending(); }

}  // namespace platform

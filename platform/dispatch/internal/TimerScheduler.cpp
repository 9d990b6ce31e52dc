#include "platform/dispatch/internal/TimerScheduler.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/time/Clock.h"

namespace platform::dispatch_internal {

namespace {

struct Entry {
  double due = 0;  // monotonic seconds of the entry's time axis
  uint64_t sequence = 0;
  double interval = 0;
  std::shared_ptr<std::atomic<bool>> cancelled;
  std::shared_ptr<std::function<void()>> fire;
};

struct Later {
  bool operator()(const Entry& a, const Entry& b) const {
    return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
  }
};

// A min-heap of entries on one time axis. Not locked: its owner locks.
class EntryHeap {
 public:
  void push(Entry entry) {
    entry.sequence = m_nextSequence++;
    m_entries.push_back(std::move(entry));
    std::push_heap(m_entries.begin(), m_entries.end(), Later());
    if (m_entries.size() >= m_purgeAt) purge();
  }

  // Earliest live deadline, dropping cancelled entries on top.
  std::optional<double> next() {
    while (!m_entries.empty() && m_entries.front().cancelled->load()) pop();
    if (m_entries.empty()) return std::nullopt;
    return m_entries.front().due;
  }

  // Takes the fire callbacks due at `now`, re-arming repeating entries.
  std::vector<std::shared_ptr<std::function<void()>>> takeDue(double now) {
    std::vector<std::shared_ptr<std::function<void()>>> due;
    while (auto deadline = next()) {
      if (*deadline > now) break;
      Entry entry = pop();
      due.push_back(entry.fire);
      if (entry.interval > 0) {
        entry.due += entry.interval;
        if (entry.due <= now) {
          entry.due += std::ceil((now - entry.due) / entry.interval) * entry.interval;
          if (entry.due <= now) entry.due += entry.interval;
        }
        push(std::move(entry));
      }
    }
    return due;
  }

 private:
  Entry pop() {
    std::pop_heap(m_entries.begin(), m_entries.end(), Later());
    Entry entry = std::move(m_entries.back());
    m_entries.pop_back();
    return entry;
  }

  // Drops cancelled entries so that a stream of cancelled far-off tasks
  // cannot grow the heap without bound.
  void purge() {
    std::erase_if(m_entries, [](const Entry& e) { return e.cancelled->load(); });
    std::make_heap(m_entries.begin(), m_entries.end(), Later());
    m_purgeAt = std::max<size_t>(kMinPurge, m_entries.size() * 2);
  }

  static constexpr size_t kMinPurge = 256;
  std::vector<Entry> m_entries;
  uint64_t m_nextSequence = 0;
  size_t m_purgeAt = kMinPurge;
};

void fireAll(const std::vector<std::shared_ptr<std::function<void()>>>& due) {
  for (const auto& fire : due) (*fire)();
}

// Entries scheduled while a VirtualClock was current; attached to that clock.
class VirtualDomain final : public VirtualClock::Sleeper {
 public:
  std::optional<double> nextDeadline() override {
    std::lock_guard lock(m_mutex);
    return m_heap.next();
  }

  void fireDue(double monotonicNow) override {
    std::vector<std::shared_ptr<std::function<void()>>> due;
    {
      std::lock_guard lock(m_mutex);
      due = m_heap.takeDue(monotonicNow);
    }
    fireAll(due);
  }

  void push(Entry entry) {
    std::lock_guard lock(m_mutex);
    m_heap.push(std::move(entry));
  }

 private:
  std::mutex m_mutex;
  EntryHeap m_heap;
};

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct TimerScheduler::Impl {
  // Real time: one thread waiting for the earliest deadline.
  std::mutex mutex;
  std::condition_variable changed;
  EntryHeap heap;
  bool threadStarted = false;

  // One domain per virtual clock seen; dropped once its clock is gone.
  std::mutex domainsMutex;
  std::map<const VirtualClock*, std::pair<std::weak_ptr<VirtualClock>, std::shared_ptr<VirtualDomain>>> domains;

  std::shared_ptr<VirtualDomain> domainFor(const std::shared_ptr<VirtualClock>& clock) {
    std::lock_guard lock(domainsMutex);
    std::erase_if(domains, [](const auto& item) { return item.second.first.expired(); });
    auto& slot = domains[clock.get()];
    if (!slot.second) {
      slot = {clock, std::make_shared<VirtualDomain>()};
      clock->attach(slot.second.get());  // callbacks never take domainsMutex
    }
    return slot.second;
  }

  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      std::optional<double> next = heap.next();
      if (!next) {
        changed.wait(lock);
        continue;
      }
      double now = steadySeconds();
      if (*next > now) {
        changed.wait_for(lock, std::chrono::duration<double>(*next - now));
        continue;
      }
      auto due = heap.takeDue(now);
      lock.unlock();
      fireAll(due);
      due.clear();
      lock.lock();
    }
  }
};

TimerScheduler::TimerScheduler() : m_impl(new Impl) {}

TimerScheduler& TimerScheduler::shared() {
  static TimerScheduler* scheduler = new TimerScheduler;  // outlives every static
  return *scheduler;
}

int64_t TimerScheduler::toNanoseconds(double seconds) {
  if (!(seconds > 0)) return 0;
  return static_cast<int64_t>(std::min(seconds, kMaxDelaySeconds) * 1e9);
}

void TimerScheduler::schedule(double delaySeconds, double intervalSeconds,
                              std::shared_ptr<std::atomic<bool>> cancelled, std::function<void()> fire) {
  Entry entry;
  entry.interval = static_cast<double>(toNanoseconds(intervalSeconds)) / 1e9;
  entry.cancelled = std::move(cancelled);
  entry.fire = std::make_shared<std::function<void()>>(std::move(fire));
  double delay = static_cast<double>(toNanoseconds(delaySeconds)) / 1e9;
  if (delay == 0) {
    // Due now: queue it at once rather than waiting for a virtual clock to move.
    if (entry.cancelled->load()) return;
    (*entry.fire)();
    if (!(entry.interval > 0)) return;
    delay = entry.interval;
  }

  if (auto virtualClock = std::dynamic_pointer_cast<VirtualClock>(Clock::current())) {
    std::shared_ptr<VirtualDomain> domain = m_impl->domainFor(virtualClock);
    entry.due = virtualClock->monotonic() + delay;
    domain->push(std::move(entry));
    return;
  }

  entry.due = steadySeconds() + delay;
  std::lock_guard lock(m_impl->mutex);
  m_impl->heap.push(std::move(entry));
  if (!m_impl->threadStarted) {
    m_impl->threadStarted = true;
    std::thread([impl = m_impl] { impl->run(); }).detach();
  }
  m_impl->changed.notify_one();
}

}  // namespace platform::dispatch_internal

#include "platform/time/Clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace platform {

namespace {

// Process-wide objects here are never destroyed: work still running while the
// process exits (queued blocks, destructors of other statics) may use them.

std::mutex& currentMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::shared_ptr<Clock>& currentSlot() {
  static auto* const slot = new std::shared_ptr<Clock>();
  return *slot;
}

// Reads a POSIX clock as seconds truncated to whole microseconds; -1 on failure.
double readClock(clockid_t id) {
  timespec ts{};
  if (clock_gettime(id, &ts) != 0) return -1;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec / 1000) / 1e6;
}

}  // namespace

double Clock::bootTime() const {
  double boot = sinceBoot();
  if (boot < 0) return -1;
  return now() - boot;
}

int64_t Clock::kernelBootTime() const {
  double boot = bootTime();
  if (boot < 0) return -1;
  return static_cast<int64_t>(std::llround(boot));
}

int64_t Clock::nowSeconds() const {
  return static_cast<int64_t>(std::floor(now()));
}

int64_t Clock::nowMilliseconds() const {
  return static_cast<int64_t>(std::floor(now() * 1000.0));
}

std::shared_ptr<Clock> Clock::system() {
  static const auto* const systemClock = new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
  return *systemClock;
}

std::shared_ptr<Clock> Clock::current() {
  {
    std::lock_guard lock(currentMutex());
    if (currentSlot()) return currentSlot();
  }
  return system();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
  std::lock_guard lock(currentMutex());
  currentSlot() = std::move(clock);
}

double SystemClock::now() const { return readClock(CLOCK_REALTIME); }

double SystemClock::monotonic() const { return readClock(CLOCK_MONOTONIC); }

double SystemClock::sinceBoot() const { return readClock(CLOCK_BOOTTIME); }

int64_t SystemClock::kernelBootTime() const {
  std::FILE* file = std::fopen("/proc/stat", "re");
  if (file == nullptr) return Clock::kernelBootTime();
  char line[512];
  long long seconds = -1;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::sscanf(line, "btime %lld", &seconds) == 1) break;
  }
  std::fclose(file);
  return seconds >= 0 ? static_cast<int64_t>(seconds) : Clock::kernelBootTime();
}

VirtualClock::VirtualClock(double wallSeconds, double monotonicSeconds)
    : m_monotonic(monotonicSeconds),
      m_wallOffset(wallSeconds - monotonicSeconds),
      m_bootOffset(kDefaultSinceBoot - kDefaultMonotonic) {}

double VirtualClock::now() const {
  std::lock_guard lock(m_mutex);
  return m_monotonic + m_wallOffset;
}

double VirtualClock::monotonic() const {
  std::lock_guard lock(m_mutex);
  return m_monotonic;
}

double VirtualClock::sinceBoot() const {
  std::lock_guard lock(m_mutex);
  return m_bootKnown ? m_monotonic + m_bootOffset : -1;
}

void VirtualClock::setNow(double wallSeconds) {
  std::lock_guard lock(m_mutex);
  m_wallOffset = wallSeconds - m_monotonic;
}

void VirtualClock::setSinceBoot(double seconds) {
  std::lock_guard lock(m_mutex);
  m_bootKnown = seconds >= 0;
  if (m_bootKnown) m_bootOffset = seconds - m_monotonic;
}

int64_t VirtualClock::firedCount() const {
  std::lock_guard lock(m_mutex);
  return m_fired;
}

void VirtualClock::attach(Sleeper* sleeper) {
  if (!sleeper) return;
  std::lock_guard lock(m_mutex);
  if (std::find(m_sleepers.begin(), m_sleepers.end(), sleeper) == m_sleepers.end()) {
    m_sleepers.push_back(sleeper);
  }
}

bool VirtualClock::isBusyElsewhere(Sleeper* sleeper) const {
  const auto self = std::this_thread::get_id();
  return std::any_of(m_busy.begin(), m_busy.end(), [&](const auto& entry) {
    return entry.first == sleeper && entry.second != self;
  });
}

void VirtualClock::detach(Sleeper* sleeper) {
  std::unique_lock lock(m_mutex);
  m_sleepers.erase(std::remove(m_sleepers.begin(), m_sleepers.end(), sleeper), m_sleepers.end());
  // A callback into it may be running on the advancing thread: wait for it.
  m_idle.wait(lock, [&] { return !isBusyElsewhere(sleeper); });
}

template <typename Fn>
bool VirtualClock::callSleeper(Sleeper* sleeper, Fn&& fn) {
  const auto self = std::this_thread::get_id();
  {
    std::lock_guard lock(m_mutex);
    if (std::find(m_sleepers.begin(), m_sleepers.end(), sleeper) == m_sleepers.end()) return false;
    m_busy.emplace_back(sleeper, self);
  }
  struct Release {
    VirtualClock* clock;
    Sleeper* sleeper;
    std::thread::id self;
    ~Release() {
      std::lock_guard lock(clock->m_mutex);
      auto it = std::find(clock->m_busy.begin(), clock->m_busy.end(), std::make_pair(sleeper, self));
      if (it != clock->m_busy.end()) clock->m_busy.erase(it);
      clock->m_idle.notify_all();
    }
  } release{this, sleeper, self};
  fn(sleeper);
  return true;
}

std::optional<double> VirtualClock::nextDeadline() {
  std::vector<Sleeper*> sleepers;
  {
    std::lock_guard lock(m_mutex);
    sleepers = m_sleepers;
  }
  std::optional<double> earliest;
  for (Sleeper* sleeper : sleepers) {
    std::optional<double> deadline;
    if (!callSleeper(sleeper, [&](Sleeper* s) { deadline = s->nextDeadline(); })) continue;
    if (deadline && (!earliest || *deadline < *earliest)) earliest = deadline;
  }
  return earliest;
}

void VirtualClock::advance(double seconds) {
  std::lock_guard advancing(m_advanceMutex);
  if (!(seconds > 0)) seconds = 0;  // also catches NaN
  double target;
  {
    std::lock_guard lock(m_mutex);
    target = m_monotonic + seconds;
  }
  for (int steps = 0; steps < kMaxStepsPerAdvance; ++steps) {
    std::vector<Sleeper*> sleepers;
    {
      std::lock_guard lock(m_mutex);
      sleepers = m_sleepers;
    }
    Sleeper* earliest = nullptr;
    double when = std::numeric_limits<double>::infinity();
    for (Sleeper* sleeper : sleepers) {
      std::optional<double> deadline;
      if (!callSleeper(sleeper, [&](Sleeper* s) { deadline = s->nextDeadline(); })) continue;
      if (deadline && *deadline <= target && *deadline < when) {
        when = *deadline;
        earliest = sleeper;
      }
    }
    if (!earliest) break;
    double at;
    {
      std::lock_guard lock(m_mutex);
      if (when > m_monotonic) m_monotonic = when;  // overdue deadlines fire "now"
      at = m_monotonic;
      ++m_fired;
    }
    callSleeper(earliest, [&](Sleeper* s) { s->fireDue(at); });
  }
  std::lock_guard lock(m_mutex);
  if (target > m_monotonic) m_monotonic = target;
}

}  // namespace platform

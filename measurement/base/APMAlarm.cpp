#include "measurement/base/APMAlarm.h"

#include "measurement/base/APMEngineServices.h"
#include "platform/time/Clock.h"

namespace {

APMMonitor& monitor() { return *APMEngineServices::monitor(); }

}  // namespace

std::shared_ptr<APMAlarm> APMAlarm::initWithDispatchQueue(platform::DispatchQueue queue, const std::string& name) {
  return std::shared_ptr<APMAlarm>(new APMAlarm(std::move(queue), name.empty() ? std::string("Timer") : name));
}

APMAlarm::APMAlarm(platform::DispatchQueue queue, std::string name)
    : m_queue(std::move(queue)), m_name(std::move(name)) {}

APMAlarm::~APMAlarm() { cancel(); }

void APMAlarm::runAfterDelay(double delay, std::function<void()> block) {
  if (!block) {
    monitor().logWithLevel(1, 2000, m_name + " tried to schedule an empty block");
    return;
  }
  cancel();
  std::weak_ptr<APMAlarm> weak = weak_from_this();
  auto timer = std::make_unique<platform::Timer>(m_queue, delay, 0, [weak, block = std::move(block)] {
    // The alarm stays alive until its block has run.
    if (std::shared_ptr<APMAlarm> alarm = weak.lock()) alarm->fire(block);
  });
  {
    std::lock_guard lock(m_mutex);
    m_scheduledTimestamp = platform::Clock::current()->now() + delay;
    m_timer = std::move(timer);
    m_timer->start();
  }
  monitor().logWithLevel(7, 2002, m_name + " scheduled to fire in approx. (s)", delay);
}

void APMAlarm::fire(const std::function<void()>& block) {
  monitor().logWithLevel(7, 2001, m_name + " fired");
  cancel();
  block();
}

void APMAlarm::cancel() {
  std::unique_ptr<platform::Timer> timer;
  {
    std::lock_guard lock(m_mutex);
    if (!m_scheduledTimestamp) return;
    m_scheduledTimestamp.reset();
    timer = std::move(m_timer);
  }
  monitor().logWithLevel(7, 2003, m_name + " canceled");
  if (timer) {
    timer->cancel();
  } else {
    monitor().logWithLevel(4, 2004, m_name + " is not active");
  }
}

bool APMAlarm::hasActiveTimer() const {
  std::lock_guard lock(m_mutex);
  return m_timer != nullptr;
}

std::optional<double> APMAlarm::scheduledTimestamp() const {
  std::lock_guard lock(m_mutex);
  return m_scheduledTimestamp;
}

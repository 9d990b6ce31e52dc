#include "sdk/installations/RIRInstallationsBackoffController.h"

#include <algorithm>
#include <cmath>

#include "platform/crypto/RandomSource.h"
#include "platform/time/Clock.h"

namespace {

constexpr double kMaxRecoverableBackoff = 30 * 60;
constexpr double kUnrecoverableBackoff = 24 * 60 * 60;

}  // namespace

RIRInstallationsBackoffEventData::RIRInstallationsBackoffEventData(RIRInstallationsBackoffEventType eventType,
                                                                   double lastEventDate, int64_t eventCount)
    : m_eventType(eventType),
      m_lastEventDate(lastEventDate),
      m_eventCount(eventCount),
      m_backoffTimeInterval(backoffTimeIntervalWithEvent(eventType, eventCount)) {}

double RIRInstallationsBackoffEventData::backoffTimeIntervalWithEvent(RIRInstallationsBackoffEventType eventType,
                                                                      int64_t eventCount) {
  switch (eventType) {
    case RIRInstallationsBackoffEventSuccess:
      return 0;
    case RIRInstallationsBackoffEventRecoverableFailure:
      return recoverableErrorBackoffTimeForAttemptNumber(eventCount);
    case RIRInstallationsBackoffEventUnrecoverableFailure:
      return kUnrecoverableBackoff;
  }
  return 0;
}

double RIRInstallationsBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(int64_t attemptNumber) {
  // 2^n grows past the cap long before it could overflow a double's exponent.
  double exponential = std::pow(2.0, static_cast<double>(std::min<int64_t>(attemptNumber, 64)));
  return std::min(exponential + randomMilliseconds(), kMaxRecoverableBackoff);
}

double RIRInstallationsBackoffEventData::randomMilliseconds() {
  uint32_t random = platform::RandomSource::current()->uint32();
  return static_cast<double>(random % 1000) * 0.001;
}

RIRInstallationsBackoffController::RIRInstallationsBackoffController()
    : RIRInstallationsBackoffController([] { return platform::Clock::current()->now(); }) {}

RIRInstallationsBackoffController::RIRInstallationsBackoffController(DateProvider currentDateProvider)
    : m_currentDateProvider(std::move(currentDateProvider)) {}

void RIRInstallationsBackoffController::registerEvent(RIRInstallationsBackoffEventType eventType) {
  std::lock_guard lock(m_mutex);
  double now = m_currentDateProvider();
  int64_t count = 1;
  if (m_lastEventData && m_lastEventData->eventType() == eventType) count = m_lastEventData->eventCount() + 1;
  m_lastEventData = std::make_shared<RIRInstallationsBackoffEventData>(eventType, now, count);
}

bool RIRInstallationsBackoffController::isNextRequestAllowed() {
  std::lock_guard lock(m_mutex);
  if (!m_lastEventData) return true;
  double elapsed = m_currentDateProvider() - m_lastEventData->lastEventDate();
  return elapsed >= m_lastEventData->backoffTimeInterval();
}

std::shared_ptr<const RIRInstallationsBackoffEventData> RIRInstallationsBackoffController::lastEventData() const {
  std::lock_guard lock(m_mutex);
  return m_lastEventData;
}

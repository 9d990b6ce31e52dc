#include "measurement/base/APMEventAggregates.h"

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMEngineServices.h"

namespace {

void incremented(int32_t& count, int64_t code, const char* message) {
  if (count == INT32_MAX) {
    count = 0;
    APMEngineServices::monitor()->logWithLevel(5, code, message);
    return;
  }
  ++count;
}

}  // namespace

std::shared_ptr<APMEventAggregates> APMEventAggregates::initWithName(const std::string& name, int32_t lifetimeCount,
                                                                     int32_t currentBundleCount,
                                                                     int32_t currentSessionCount,
                                                                     double lastFireTimestamp) {
  if (!APMDataTypeValidator::isValidInternalEventName(platform::Value(name))) return nullptr;
  if (lifetimeCount < 0 || currentBundleCount < 0 || currentSessionCount < 0) {
    APMEngineServices::monitor()->logWithLevel(5, 17000,
                                               "Failed to create event aggregates object. Received negative count.");
    return nullptr;
  }
  auto aggregates = std::make_shared<APMEventAggregates>();
  aggregates->m_name = name;
  aggregates->m_lifetimeCount = lifetimeCount;
  aggregates->m_currentBundleCount = currentBundleCount;
  aggregates->m_currentSessionCount = currentSessionCount;
  aggregates->m_lastFireTimestamp = lastFireTimestamp;
  return aggregates;
}

void APMEventAggregates::incrementLifetimeCount() {
  incremented(m_lifetimeCount, 17001, "Lifetime count overflow. Lifetime count reset to 0.");
}

void APMEventAggregates::incrementCurrentBundleCount() {
  incremented(m_currentBundleCount, 17002, "Bundle count overflow. Bundle count reset to 0.");
}

void APMEventAggregates::incrementCurrentSessionCount() {
  incremented(m_currentSessionCount, 17003, "Session count overflow. Session count reset to 0.");
}

#include "measurement/base/APMDailyCounts.h"

namespace {

// Counters wrap like the platform's 32-bit arithmetic (no undefined overflow).
int32_t added(int32_t value, int32_t increment) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(increment));
}

}  // namespace

std::shared_ptr<APMDailyCounts> APMDailyCounts::initWithDay(int32_t day, int32_t conversionsCount,
                                                            int32_t allEventsCount, int32_t publicEventsCount,
                                                            int32_t errorEventsCount, int32_t realtimeCount,
                                                            int32_t dcuRealtimeCount) {
  auto counts = std::make_shared<APMDailyCounts>();
  counts->m_day = day;
  counts->m_conversionsCount = conversionsCount;
  counts->m_allEventsCount = allEventsCount;
  counts->m_publicEventsCount = publicEventsCount;
  counts->m_errorEventsCount = errorEventsCount;
  counts->m_realtimeCount = realtimeCount;
  counts->m_dcuRealtimeCount = dcuRealtimeCount;
  return counts;
}

void APMDailyCounts::resetWithNewDay(int32_t day) {
  m_day = day;
  m_conversionsCount = m_allEventsCount = m_publicEventsCount = m_errorEventsCount = m_realtimeCount =
      m_dcuRealtimeCount = 0;
}

void APMDailyCounts::dayChanged(int32_t day) {
  if (day != m_day) resetWithNewDay(day);
}

void APMDailyCounts::incrementCountsForCurrentDay(int32_t day, bool isPublicEvent, bool isConversion,
                                                  int32_t effectiveEventCount) {
  dayChanged(day);
  if (isConversion) m_conversionsCount = added(m_conversionsCount, 1);
  m_allEventsCount = added(m_allEventsCount, effectiveEventCount);
  if (isPublicEvent) m_publicEventsCount = added(m_publicEventsCount, effectiveEventCount);
}

void APMDailyCounts::incrementErrorEventsCountForCurrentDay(int32_t day) {
  dayChanged(day);
  m_errorEventsCount = added(m_errorEventsCount, 1);
  m_allEventsCount = added(m_allEventsCount, 1);
}

void APMDailyCounts::incrementRealtimeCountsForCurrentDay(int32_t day) {
  dayChanged(day);
  m_realtimeCount = added(m_realtimeCount, 1);
}

void APMDailyCounts::incrementDCURealtimeCountsForCurrentDay(int32_t day) {
  dayChanged(day);
  m_dcuRealtimeCount = added(m_dcuRealtimeCount, 1);
}

void APMDailyCounts::decrementAllEventsCount() { m_allEventsCount = m_allEventsCount <= 1 ? 0 : m_allEventsCount - 1; }

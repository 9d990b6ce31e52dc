// APMDailyCounts: the counters of one day (day number of the database).
// Incrementing for another day restarts the counters first. No overflow
// checks (int32 wraps as unsigned arithmetic would). Owned by the worker queue.
#pragma once

#include <cstdint>
#include <memory>

class APMDailyCounts {
 public:
  static std::shared_ptr<APMDailyCounts> initWithDay(int32_t day, int32_t conversionsCount, int32_t allEventsCount,
                                                     int32_t publicEventsCount, int32_t errorEventsCount,
                                                     int32_t realtimeCount, int32_t dcuRealtimeCount);

  void resetWithNewDay(int32_t day);
  void incrementCountsForCurrentDay(int32_t day, bool isPublicEvent, bool isConversion,
                                    int32_t effectiveEventCount = 1);
  void incrementErrorEventsCountForCurrentDay(int32_t day);
  void incrementRealtimeCountsForCurrentDay(int32_t day);
  void incrementDCURealtimeCountsForCurrentDay(int32_t day);
  void decrementAllEventsCount();

  int32_t day() const { return m_day; }
  int32_t conversionsCount() const { return m_conversionsCount; }
  int32_t allEventsCount() const { return m_allEventsCount; }
  int32_t publicEventsCount() const { return m_publicEventsCount; }
  int32_t errorEventsCount() const { return m_errorEventsCount; }
  int32_t realtimeCount() const { return m_realtimeCount; }
  int32_t dcuRealtimeCount() const { return m_dcuRealtimeCount; }

 private:
  void dayChanged(int32_t day);

  int32_t m_day = 0;
  int32_t m_conversionsCount = 0;
  int32_t m_allEventsCount = 0;
  int32_t m_publicEventsCount = 0;
  int32_t m_errorEventsCount = 0;
  int32_t m_realtimeCount = 0;
  int32_t m_dcuRealtimeCount = 0;
};

// APMEventAggregates: the counters of one event name (a row of events).
// Counts at 2147483647 wrap to 0 with a monitor report (17001-17003).
// Owned by the worker queue.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class APMEventAggregates {
 public:
  // Nullptr for an invalid internal event name, or a negative count (17000).
  static std::shared_ptr<APMEventAggregates> initWithName(const std::string& name, int32_t lifetimeCount,
                                                          int32_t currentBundleCount, int32_t currentSessionCount,
                                                          double lastFireTimestamp);

  const std::string& name() const { return m_name; }
  int32_t lifetimeCount() const { return m_lifetimeCount; }
  int32_t currentBundleCount() const { return m_currentBundleCount; }
  int32_t currentSessionCount() const { return m_currentSessionCount; }
  double lastFireTimestamp() const { return m_lastFireTimestamp; }
  void setLastFireTimestamp(double value) { m_lastFireTimestamp = value; }
  double lastBundledTimestamp() const { return m_lastBundledTimestamp; }
  void setLastBundledTimestamp(double value) { m_lastBundledTimestamp = value; }
  std::optional<int64_t> lastSampledComplexEventID() const { return m_lastSampledComplexEventID; }
  void setLastSampledComplexEventID(std::optional<int64_t> value) { m_lastSampledComplexEventID = value; }
  int32_t lastSamplingRate() const { return m_lastSamplingRate; }
  void setLastSamplingRate(int32_t value) { m_lastSamplingRate = value; }
  bool lastExemptFromSampling() const { return m_lastExemptFromSampling; }
  void setLastExemptFromSampling(bool value) { m_lastExemptFromSampling = value; }
  int32_t lastBundledDay() const { return m_lastBundledDay; }
  void setLastBundledDay(int32_t value) { m_lastBundledDay = value; }

  void incrementLifetimeCount();
  void incrementCurrentBundleCount();
  void incrementCurrentSessionCount();

 private:
  std::string m_name;
  int32_t m_lifetimeCount = 0;
  int32_t m_currentBundleCount = 0;
  int32_t m_currentSessionCount = 0;
  double m_lastFireTimestamp = 0;
  double m_lastBundledTimestamp = 0;
  std::optional<int64_t> m_lastSampledComplexEventID;
  int32_t m_lastSamplingRate = 1;
  bool m_lastExemptFromSampling = false;
  int32_t m_lastBundledDay = 0;
};

// APMAppMetadata: row 1 of app_metadata: the last bundle and delivery
// indexes and the last bundle's time span (seconds). Indexes wrap instead of
// overflowing, with a monitor report (4001, 4002). Owned by the worker queue.
#pragma once

#include <cstdint>
#include <memory>

class APMAppMetadata {
 public:
  // Nullptr (and 4000) for a negative bundle index.
  static std::shared_ptr<APMAppMetadata> initWithLastBundleIndex(int32_t lastBundleIndex, int32_t lastDeliveryIndex,
                                                                 double lastBundleStartTimestamp,
                                                                 double lastBundleEndTimestamp);
  static std::shared_ptr<APMAppMetadata> initWithLastBundleIndex(int32_t lastBundleIndex,
                                                                 double lastBundleStartTimestamp,
                                                                 double lastBundleEndTimestamp);

  int32_t lastBundleIndex() const { return m_lastBundleIndex; }
  int32_t lastDeliveryIndex() const { return m_lastDeliveryIndex; }
  double lastBundleStartTimestamp() const { return m_lastBundleStartTimestamp; }
  void setLastBundleStartTimestamp(double timestamp) { m_lastBundleStartTimestamp = timestamp; }
  double lastBundleEndTimestamp() const { return m_lastBundleEndTimestamp; }
  void setLastBundleEndTimestamp(double timestamp) { m_lastBundleEndTimestamp = timestamp; }

  // index + count below 2^31, else a wrap to count - 1 (the new bundles take 0 .. count - 1).
  void increaseLastBundleIndex(uint64_t count);
  void incrementLastDeliveryIndex();

 private:
  int32_t m_lastBundleIndex = 0;
  int32_t m_lastDeliveryIndex = 0;
  double m_lastBundleStartTimestamp = 0;
  double m_lastBundleEndTimestamp = 0;
};

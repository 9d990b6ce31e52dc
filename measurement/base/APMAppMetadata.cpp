#include "measurement/base/APMAppMetadata.h"

#include "measurement/base/APMEngineServices.h"

std::shared_ptr<APMAppMetadata> APMAppMetadata::initWithLastBundleIndex(int32_t lastBundleIndex,
                                                                        int32_t lastDeliveryIndex,
                                                                        double lastBundleStartTimestamp,
                                                                        double lastBundleEndTimestamp) {
  if (lastBundleIndex < 0) {
    APMEngineServices::monitor()->logWithLevel(
        2, 4000, "Failed to create app metadata object. Received negative last bundle index.");
    return nullptr;
  }
  auto metadata = std::make_shared<APMAppMetadata>();
  metadata->m_lastBundleIndex = lastBundleIndex;
  metadata->m_lastDeliveryIndex = lastDeliveryIndex;
  metadata->m_lastBundleStartTimestamp = lastBundleStartTimestamp;
  metadata->m_lastBundleEndTimestamp = lastBundleEndTimestamp;
  return metadata;
}

std::shared_ptr<APMAppMetadata> APMAppMetadata::initWithLastBundleIndex(int32_t lastBundleIndex,
                                                                        double lastBundleStartTimestamp,
                                                                        double lastBundleEndTimestamp) {
  return initWithLastBundleIndex(lastBundleIndex, 0, lastBundleStartTimestamp, lastBundleEndTimestamp);
}

void APMAppMetadata::increaseLastBundleIndex(uint64_t count) {
  const uint64_t sum = static_cast<uint64_t>(static_cast<uint32_t>(m_lastBundleIndex)) + count;
  if (sum < (uint64_t{1} << 31)) {
    m_lastBundleIndex = static_cast<int32_t>(sum);
    return;
  }
  APMEngineServices::monitor()->logWithLevel(5, 4001, "Bundle index overflow. Bundle index wraparound.");
  m_lastBundleIndex = static_cast<int32_t>(count - 1);
}

void APMAppMetadata::incrementLastDeliveryIndex() {
  m_lastDeliveryIndex = m_lastDeliveryIndex == INT32_MAX ? 0 : m_lastDeliveryIndex + 1;
  if (m_lastDeliveryIndex == 0) {
    APMEngineServices::monitor()->logWithLevel(5, 4002, "Delivery index overflow. Delivery index reset to 0.");
  }
}

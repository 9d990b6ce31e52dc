#include "measurement/base/APMRawEventData.h"

#include "measurement/base/APMEngineServices.h"

std::shared_ptr<APMRawEventData> APMRawEventData::initWithRawEvent(std::shared_ptr<APMEvent> rawEvent, int64_t rowID,
                                                                   int64_t metadataFingerprint) {
  if (!rawEvent) {
    APMEngineServices::monitor()->logWithLevel(4, 28000, "Failed to create raw event data. Received invalid raw event.");
    return nullptr;
  }
  if (rowID < 0) {
    APMEngineServices::monitor()->logWithLevel(
        4, 28001, "Failed to create raw event data. Received invalid row ID. Row ID", static_cast<long long>(rowID));
    return nullptr;
  }
  auto data = std::make_shared<APMRawEventData>();
  data->m_rawEvent = std::move(rawEvent);
  data->m_rowID = rowID;
  data->m_metadataFingerprint = metadataFingerprint;
  return data;
}

#include "sdk/transport/ZDTCORMetricsMetadata.h"

#include "platform/storage/KeyedArchiver.h"

using platform::KeyedArchiver;

void ZDTCORMetricsMetadata::encodeWith(KeyedArchiver& archiver) const {
  archiver.encodeObject(kCollectionStartDateKey, platform::Value::date(m_collectionStartDate));
  archiver.encodeObject(kLogSourceMetricsKey, *m_logSourceMetrics);
}

std::shared_ptr<ZDTCORMetricsMetadata> ZDTCORMetricsMetadata::initWithCoder(platform::KeyedUnarchiver& coder) {
  platform::Result<platform::Value> start = coder.decodeObject(kCollectionStartDateKey, {KeyedArchiver::kDateClass});
  if (!start || !start->asDate()) return nullptr;
  auto metrics = coder.decodeObjectOfClass<ZDTCORLogSourceMetrics>(kLogSourceMetricsKey, ZDTCORLogSourceMetrics::kClassName);
  if (!metrics || !metrics.value()) return nullptr;
  return std::make_shared<ZDTCORMetricsMetadata>(*start->asDate(), metrics.value());
}

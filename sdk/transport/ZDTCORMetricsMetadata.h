// ZDTCORMetricsMetadata: the persisted client-metrics window: when it
// started and the drops counted since.
//
// Archived as "ZDTCORMetricsMetadata" with "collectionStartDate" (a date)
// and "logSourceMetrics" (a ZDTCORLogSourceMetrics); both must decode with
// their class or decoding fails.
//
// Thread safety: an immutable value.
#pragma once

#include <memory>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "sdk/transport/ZDTCORLogSourceMetrics.h"

class ZDTCORMetricsMetadata : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "ZDTCORMetricsMetadata";
  static constexpr const char* kCollectionStartDateKey = "collectionStartDate";
  static constexpr const char* kLogSourceMetricsKey = "logSourceMetrics";

  // Start as seconds since 1970.
  ZDTCORMetricsMetadata(double collectionStartDate, std::shared_ptr<const ZDTCORLogSourceMetrics> logSourceMetrics)
      : m_collectionStartDate(collectionStartDate),
        m_logSourceMetrics(logSourceMetrics ? std::move(logSourceMetrics) : ZDTCORLogSourceMetrics::metrics()) {}
  static std::shared_ptr<ZDTCORMetricsMetadata> metadataWithCollectionStartDate(
      double collectionStartDate, std::shared_ptr<const ZDTCORLogSourceMetrics> logSourceMetrics) {
    return std::make_shared<ZDTCORMetricsMetadata>(collectionStartDate, std::move(logSourceMetrics));
  }

  double collectionStartDate() const { return m_collectionStartDate; }
  const std::shared_ptr<const ZDTCORLogSourceMetrics>& logSourceMetrics() const { return m_logSourceMetrics; }

  bool isEqualToMetricsMetadata(const ZDTCORMetricsMetadata& other) const {
    return m_collectionStartDate == other.m_collectionStartDate && *m_logSourceMetrics == *other.m_logSourceMetrics;
  }
  bool operator==(const ZDTCORMetricsMetadata& other) const { return isEqualToMetricsMetadata(other); }
  size_t hash() const { return std::hash<double>()(m_collectionStartDate) ^ m_logSourceMetrics->hash(); }

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;
  static std::shared_ptr<ZDTCORMetricsMetadata> initWithCoder(platform::KeyedUnarchiver& coder);

 private:
  double m_collectionStartDate;
  std::shared_ptr<const ZDTCORLogSourceMetrics> m_logSourceMetrics;
};

// ZDTCORMetrics: one client-metrics report: the drops counted over a
// collection window and the storage's size, sent as the payload of an event
// of mapping ID "1710" in an upload of target 1001 or 1002.
//
// transportBytes() is the zdt_client_metrics.ClientMetrics message (proto3:
// zero scalars and all-default sub-messages are not written): the window as
// whole seconds since 1970 (fraction cut off) times 1000, one LogSourceMetrics
// per mapping ID with one LogEventDropped per reason (reasons 1 to 6 as they
// are, any other as 0), the storage's current and maximum bytes, and the
// bundle identifier as app_id (always written, "" without one). A report the
// 16-bit limits of the nanopb library cannot hold (ZDTCORNanopbBuilder.h)
// logs code 1005 at level 4 and gives no bytes.
//
// Thread safety: an immutable value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sdk/transport/ZDTCOREventDataObject.h"
#include "sdk/transport/ZDTCORLogSourceMetrics.h"
#include "sdk/transport/ZDTCORMetricsMetadata.h"
#include "sdk/transport/ZDTCORStorageMetadata.h"

inline constexpr const char* kZDTCORMetricsMappingID = "1710";

class ZDTCORMetrics : public ZDTCOREventDataObject {
 public:
  // Dates as seconds since 1970.
  ZDTCORMetrics(double collectionStartDate, double collectionEndDate,
                std::shared_ptr<const ZDTCORLogSourceMetrics> logSourceMetrics, uint64_t currentCacheSize,
                uint64_t maxCacheSize, std::string bundleID);

  // The window and counts of the metadata, ending now, with the storage's
  // sizes and the main bundle's identifier.
  static std::shared_ptr<ZDTCORMetrics> metricsWithMetricsMetadata(const ZDTCORMetricsMetadata& metricsMetadata,
                                                                   const ZDTCORStorageMetadata& storageMetadata);

  double collectionStartDate() const { return m_collectionStartDate; }
  double collectionEndDate() const { return m_collectionEndDate; }
  const std::shared_ptr<const ZDTCORLogSourceMetrics>& logSourceMetrics() const { return m_logSourceMetrics; }
  uint64_t currentCacheSize() const { return m_currentCacheSize; }
  uint64_t maxCacheSize() const { return m_maxCacheSize; }
  const std::string& bundleID() const { return m_bundleID; }

  bool isEqualToMetrics(const ZDTCORMetrics& other) const;
  bool operator==(const ZDTCORMetrics& other) const { return isEqualToMetrics(other); }
  size_t hash() const;
  std::string description() const;

  platform::Bytes transportBytes() const override;

 private:
  double m_collectionStartDate;
  double m_collectionEndDate;
  std::shared_ptr<const ZDTCORLogSourceMetrics> m_logSourceMetrics;
  uint64_t m_currentCacheSize;
  uint64_t m_maxCacheSize;
  std::string m_bundleID;
};

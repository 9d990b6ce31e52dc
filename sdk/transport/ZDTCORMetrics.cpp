#include "sdk/transport/ZDTCORMetrics.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "platform/time/Clock.h"
#include "sdk/transport/ZDTCCTNanopbHelpers.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCOREvent.h"
#include "sdk/transport/internal/ZDTCORNanopbBuilder.h"
#include "zdt_client_metrics.pb.h"

namespace {

// Whole seconds (fraction cut off) times 1000, saturated to 64 bits.
int64_t wholeSecondsInMillis(double seconds) {
  if (std::isnan(seconds)) return 0;
  constexpr double kLimit = static_cast<double>(std::numeric_limits<int64_t>::max() / 1000);
  const double whole = std::trunc(std::fmax(-kLimit, std::fmin(kLimit, seconds)));
  return static_cast<int64_t>(whole) * 1000;
}

int64_t asInt64(uint64_t value) {
  return value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                             : static_cast<int64_t>(value);
}

uint32_t wireReason(int64_t reason) { return reason >= 1 && reason <= 6 ? static_cast<uint32_t>(reason) : 0; }

}  // namespace

ZDTCORMetrics::ZDTCORMetrics(double collectionStartDate, double collectionEndDate,
                             std::shared_ptr<const ZDTCORLogSourceMetrics> logSourceMetrics,
                             uint64_t currentCacheSize, uint64_t maxCacheSize, std::string bundleID)
    : m_collectionStartDate(collectionStartDate),
      m_collectionEndDate(collectionEndDate),
      m_logSourceMetrics(logSourceMetrics ? std::move(logSourceMetrics) : ZDTCORLogSourceMetrics::metrics()),
      m_currentCacheSize(currentCacheSize),
      m_maxCacheSize(maxCacheSize),
      m_bundleID(std::move(bundleID)) {}

std::shared_ptr<ZDTCORMetrics> ZDTCORMetrics::metricsWithMetricsMetadata(const ZDTCORMetricsMetadata& metricsMetadata,
                                                                         const ZDTCORStorageMetadata& storageMetadata) {
  return std::make_shared<ZDTCORMetrics>(metricsMetadata.collectionStartDate(), platform::Clock::current()->now(),
                                         metricsMetadata.logSourceMetrics(), storageMetadata.currentCacheSize(),
                                         storageMetadata.maxCacheSize(),
                                         ZDTCCTCurrentClientFacts().appID.value_or(""));
}

bool ZDTCORMetrics::isEqualToMetrics(const ZDTCORMetrics& other) const {
  return m_collectionStartDate == other.m_collectionStartDate && m_collectionEndDate == other.m_collectionEndDate &&
         *m_logSourceMetrics == *other.m_logSourceMetrics && m_currentCacheSize == other.m_currentCacheSize &&
         m_maxCacheSize == other.m_maxCacheSize && m_bundleID == other.m_bundleID;
}

size_t ZDTCORMetrics::hash() const {
  std::hash<double> date;
  std::hash<uint64_t> size;
  return date(m_collectionStartDate) ^ date(m_collectionEndDate) ^ m_logSourceMetrics->hash() ^
         std::hash<std::string>()(m_bundleID) ^ size(m_currentCacheSize) ^ size(m_maxCacheSize);
}

std::string ZDTCORMetrics::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return std::string("<ZDTCORMetrics: ") + address + "> {\n\tcollectionStartDate: " +
         std::to_string(m_collectionStartDate) + ",\n\tcollectionEndDate: " + std::to_string(m_collectionEndDate) +
         ",\n\tcurrentCacheSize: " + std::to_string(m_currentCacheSize) +
         ",\n\tmaxCacheSize: " + std::to_string(m_maxCacheSize) + ",\n\tbundleID: " + m_bundleID +
         ",\n\tlogSourceMetrics: " + m_logSourceMetrics->description() + "}\n";
}

platform::Bytes ZDTCORMetrics::transportBytes() const {
  zdtcor_internal::NanopbBuilder builder;
  zdt_client_metrics_ClientMetrics message = zdt_client_metrics_ClientMetrics_init_zero;
  message.window.start_ms = wholeSecondsInMillis(m_collectionStartDate);
  message.window.end_ms = wholeSecondsInMillis(m_collectionEndDate);
  message.has_window = message.window.start_ms != 0 || message.window.end_ms != 0;

  const ZDTCORLogSourceMetrics::Counts& counts = m_logSourceMetrics->droppedEventCounterByLogSource();
  message.source_drops = builder.array<zdt_client_metrics_LogSourceMetrics>(
      counts.size(), &message.source_drops_count, "source_drops");
  size_t index = 0;
  for (const auto& [mappingID, reasons] : counts) {
    if (message.source_drops == nullptr || builder.failure()) break;
    zdt_client_metrics_LogSourceMetrics& source = message.source_drops[index++];
    source.source_id = builder.bytes(mappingID, "source_id");
    source.drops = builder.array<zdt_client_metrics_LogEventDropped>(reasons.size(), &source.drops_count, "drops");
    size_t reasonIndex = 0;
    for (const auto& [reason, count] : reasons) {
      if (source.drops == nullptr) break;
      source.drops[reasonIndex].count = count;
      source.drops[reasonIndex].reason = wireReason(reason);
      ++reasonIndex;
    }
  }

  message.global.storage.current_cache_bytes = asInt64(m_currentCacheSize);
  message.global.storage.max_cache_bytes = asInt64(m_maxCacheSize);
  message.global.has_storage =
      message.global.storage.current_cache_bytes != 0 || message.global.storage.max_cache_bytes != 0;
  message.has_global = message.global.has_storage;
  message.app_id = builder.bytes(m_bundleID, "app_id");

  zdtcor_internal::NanopbEncoding encoding =
      zdtcor_internal::encodeAndRelease(builder, zdt_client_metrics_ClientMetrics_fields, &message);
  if (!encoding.bytes) {
    ZDTCORLog(ZDTCORMCEClientMetricsEncodingFailed, ZDTCORLoggingLevelErrors,
              "Error in nanopb encoding for size: " + (encoding.message.empty() ? std::string("(none)") : encoding.message));
    return {};
  }
  return std::move(*encoding.bytes);
}

std::shared_ptr<ZDTCOREvent> ZDTCOREvent::eventWithMetrics(std::shared_ptr<ZDTCORMetrics> metrics, int64_t target) {
  std::shared_ptr<ZDTCOREvent> event = initWithMappingID(kZDTCORMetricsMappingID, target);
  if (event) event->setDataObject(std::move(metrics));
  return event;
}

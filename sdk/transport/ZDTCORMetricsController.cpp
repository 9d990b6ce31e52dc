#include "sdk/transport/ZDTCORMetricsController.h"

#include "platform/time/Clock.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORFlatFileStorage.h"
#include "sdk/transport/ZDTCORRegistrar.h"

using platform::Value;
using MetadataPtr = std::shared_ptr<ZDTCORMetricsMetadata>;

namespace {

double now() { return platform::Clock::current()->now(); }

void logFetchError(const std::optional<platform::Error>& error) {
  ZDTCORLogDebug("Error fetching metrics metadata: " + (error ? error->description() : std::string("(none)")));
}

// Start times are compared as seconds since 1970.
bool startsNoLaterThan(double start, double other) { return start <= other; }

}  // namespace

void ZDTCORMetricsController::load() {
  for (int64_t target : kTargets) ZDTCORRegistrar::sharedInstance()->registerMetricsController(sharedInstance(), target);
}

std::shared_ptr<ZDTCORMetricsController> ZDTCORMetricsController::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ZDTCORMetricsController>(
      std::make_shared<ZDTCORMetricsController>(ZDTCORFlatFileStorage::sharedInstance()));
  return *shared;
}

ZDTCORMetricsController::ZDTCORMetricsController(std::shared_ptr<ZDTCORStoragePromiseProtocol> storage)
    : m_storage(std::move(storage)) {}

RBLPromisePtr ZDTCORMetricsController::logEventsDroppedForReason(int64_t reason, const ZDTCOREventSet& events) {
  if (events.empty()) return RBLPromise::resolvedWith(Value());
  std::shared_ptr<ZDTCORLogSourceMetrics> dropped = ZDTCORLogSourceMetrics::metricsWithEvents(events, reason);
  return m_storage->fetchAndUpdateMetricsWithHandler(
      [dropped](MetadataPtr stored, std::optional<platform::Error> error) -> MetadataPtr {
        if (stored) {
          return ZDTCORMetricsMetadata::metadataWithCollectionStartDate(
              stored->collectionStartDate(), stored->logSourceMetrics()->logSourceMetricsByMergingWithLogSourceMetrics(*dropped));
        }
        logFetchError(error);
        return ZDTCORMetricsMetadata::metadataWithCollectionStartDate(now(), dropped);
      });
}

RBLPromisePtr ZDTCORMetricsController::getAndResetMetrics() {
  auto previous = std::make_shared<MetadataPtr>();
  std::shared_ptr<ZDTCORStoragePromiseProtocol> storage = m_storage;
  return m_storage
      ->fetchAndUpdateMetricsWithHandler([previous](MetadataPtr stored, std::optional<platform::Error> error) {
        if (!stored) logFetchError(error);
        *previous = std::move(stored);
        return ZDTCORMetricsMetadata::metadataWithCollectionStartDate(now(), ZDTCORLogSourceMetrics::metrics());
      })
      ->then([previous, storage](const Value&) -> RBLResolution {
        if (!*previous) {
          return ZDTCORFlatFileStorage::genericRejectedPromiseErrorWithReason("There was no metrics metadata.");
        }
        return storage->fetchStorageMetadata();
      })
      ->then([previous](const Value& value) -> RBLResolution {
        std::shared_ptr<ZDTCORStorageMetadata> storageMetadata = value.asOpaque<ZDTCORStorageMetadata>();
        if (!storageMetadata) {
          return ZDTCORFlatFileStorage::genericRejectedPromiseErrorWithReason("There was no storage metadata.");
        }
        return ZDTCORMetrics::metricsWithMetricsMetadata(**previous, *storageMetadata);
      });
}

RBLPromisePtr ZDTCORMetricsController::offerMetrics(std::shared_ptr<ZDTCORMetrics> metrics) {
  if (!metrics) return RBLPromise::resolvedWith(Value());
  return m_storage->fetchAndUpdateMetricsWithHandler(
      [metrics](MetadataPtr stored, std::optional<platform::Error> error) -> MetadataPtr {
        if (stored) {
          if (!startsNoLaterThan(metrics->collectionStartDate(), stored->collectionStartDate())) return stored;
          return ZDTCORMetricsMetadata::metadataWithCollectionStartDate(
              metrics->collectionStartDate(),
              stored->logSourceMetrics()->logSourceMetricsByMergingWithLogSourceMetrics(*metrics->logSourceMetrics()));
        }
        logFetchError(error);
        const double current = now();
        if (startsNoLaterThan(metrics->collectionStartDate(), current)) {
          return ZDTCORMetricsMetadata::metadataWithCollectionStartDate(metrics->collectionStartDate(),
                                                                       metrics->logSourceMetrics());
        }
        return ZDTCORMetricsMetadata::metadataWithCollectionStartDate(current, ZDTCORLogSourceMetrics::metrics());
      });
}

void ZDTCORMetricsController::storageDidDropEvent(ZDTCORStorageProtocol&, const std::shared_ptr<ZDTCOREvent>& event) {
  if (event) logEventsDroppedForReason(ZDTCOREventDropReasonStorageFull, {event});
}

void ZDTCORMetricsController::storageDidRemoveExpiredEvents(ZDTCORStorageProtocol&, const ZDTCOREventSet& events) {
  logEventsDroppedForReason(ZDTCOREventDropReasonMessageTooOld, events);
}

// ZDTCORStoragePromiseProtocol: the storage operations the upload side and
// the metrics controller use, as promises (RBLPromise) settled on the
// storage's queue. Values travel as platform::Value: a set of batch IDs as a
// Value set of numbers, a flag as a bool, objects (ZDTCORUploadBatch,
// ZDTCORStorageMetadata) as opaque payloads.
//
// Thread safety: every operation may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/values/Error.h"
#include "sdk/promises/RBLPromise.h"
#include "sdk/transport/ZDTCORMetricsMetadata.h"
#include "sdk/transport/ZDTCORStorageEventSelector.h"
#include "sdk/transport/ZDTCORStorageProtocol.h"

class ZDTCORStoragePromiseProtocol {
 public:
  using MetricsUpdateHandler = std::function<std::shared_ptr<ZDTCORMetricsMetadata>(
      std::shared_ptr<ZDTCORMetricsMetadata> stored, std::optional<platform::Error> fetchError)>;

  virtual ~ZDTCORStoragePromiseProtocol() = default;

  // Fulfilled with a Value set of the target's batch IDs, or null.
  virtual RBLPromisePtr batchIDsForTarget(int64_t target) = 0;
  // Fulfilled with null once removed.
  virtual RBLPromisePtr removeBatchWithID(int64_t batchID, bool deleteEvents) = 0;
  virtual RBLPromisePtr removeBatchesWithIDs(ZDTCORBatchIDs batchIDs, bool deleteEvents) = 0;
  virtual RBLPromisePtr removeAllBatchesForTarget(int64_t target, bool deleteEvents) = 0;
  // Fulfilled with a bool.
  virtual RBLPromisePtr hasEventsForTarget(int64_t target) = 0;
  // Fulfilled with a ZDTCORUploadBatch; rejected when no event was taken.
  virtual RBLPromisePtr batchWithEventSelector(ZDTCORStorageEventSelector selector, double batchExpiration) = 0;
  // Reads the stored metrics metadata, stores what the handler answers.
  virtual RBLPromisePtr fetchAndUpdateMetricsWithHandler(MetricsUpdateHandler handler) = 0;
  // Fulfilled with a ZDTCORStorageMetadata.
  virtual RBLPromisePtr fetchStorageMetadata() = 0;
};

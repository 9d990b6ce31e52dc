// ZDTCORFlatFileStorage: the promise forms of the storage operations.
#include "platform/storage/FileSystem.h"
#include "sdk/transport/ZDTCORFlatFileStorage.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "sdk/transport/ZDTCORStorageMetadata.h"
#include "sdk/transport/ZDTCORUploadBatch.h"

using platform::Error;
using platform::Value;

Error ZDTCORFlatFileStorage::genericRejectedPromiseErrorWithReason(const std::string& reason) {
  Error error(kErrorDomain, -1);
  error.setFailureReason(reason);
  return error;
}

RBLPromisePtr ZDTCORFlatFileStorage::batchIDsForTarget(int64_t target) {
  RBLPromisePtr promise = RBLPromise::pendingPromise();
  batchIDsForTarget(target, [promise](std::optional<ZDTCORBatchIDs> batchIDs) {
    if (!batchIDs) {
      promise->fulfill(Value());
      return;
    }
    platform::Set set;
    for (int64_t batchID : *batchIDs) set.insert(Value(batchID));
    promise->fulfill(Value(set));
  });
  return promise;
}

RBLPromisePtr ZDTCORFlatFileStorage::removeBatchWithID(int64_t batchID, bool deleteEvents) {
  RBLPromisePtr promise = RBLPromise::pendingPromise();
  removeBatchWithID(batchID, deleteEvents, [promise] { promise->fulfill(Value()); });
  return promise;
}

RBLPromisePtr ZDTCORFlatFileStorage::removeBatchesWithIDs(ZDTCORBatchIDs batchIDs, bool deleteEvents) {
  RBLResolutions removals;
  for (int64_t batchID : batchIDs) removals.emplace_back(removeBatchWithID(batchID, deleteEvents));
  return RBLPromise::onQueueAll(m_queue, std::move(removals))->onQueueThen(m_queue, [](const Value&) {
    return RBLResolution(Value());
  });
}

RBLPromisePtr ZDTCORFlatFileStorage::removeAllBatchesForTarget(int64_t target, bool deleteEvents) {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  return batchIDsForTarget(target)->onQueueThen(m_queue, [weak, deleteEvents](const Value& value) -> RBLResolution {
    auto self = weak.lock();
    std::optional<platform::Set> stored = value.asSet();
    if (!self || !stored || stored->empty()) return Value();
    ZDTCORBatchIDs batchIDs;
    for (const Value& batchID : *stored) batchIDs.insert(batchID.numberAs<int64_t>());
    return self->removeBatchesWithIDs(std::move(batchIDs), deleteEvents);
  });
}

RBLPromisePtr ZDTCORFlatFileStorage::hasEventsForTarget(int64_t target) {
  RBLPromisePtr promise = RBLPromise::pendingPromise();
  hasEventsForTarget(target, [promise](bool hasEvents) { promise->fulfill(Value(hasEvents)); });
  return promise;
}

RBLPromisePtr ZDTCORFlatFileStorage::batchWithEventSelector(ZDTCORStorageEventSelector selector,
                                                            double batchExpiration) {
  RBLPromisePtr promise = RBLPromise::pendingPromise();
  batchWithEventSelector(std::move(selector), batchExpiration,
                         [promise](std::optional<int64_t> batchID, ZDTCOREventSet events) {
                           if (batchID && !events.empty()) {
                             promise->fulfill(std::make_shared<ZDTCORUploadBatch>(*batchID, std::move(events)));
                           } else {
                             promise->reject(genericRejectedPromiseErrorWithReason("There are no events for the selector."));
                           }
                         });
  return promise;
}

RBLPromisePtr ZDTCORFlatFileStorage::fetchAndUpdateMetricsWithHandler(MetricsUpdateHandler handler) {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  return RBLPromise::onQueueAsync(m_queue, [weak, handler = std::move(handler)](RBLFulfillCallback fulfill,
                                                                                 RBLRejectCallback reject) {
    if (!weak.lock()) {
      reject(genericRejectedPromiseErrorWithReason("The storage is gone."));
      return;
    }
    const std::string path = libraryDataStoragePath() + "/" + kMetricsMetadataKey;
    auto decoded = ZDTCORDecodeArchiveAtPathAs<ZDTCORMetricsMetadata>(path);
    std::shared_ptr<ZDTCORMetricsMetadata> stored = decoded ? decoded.value() : nullptr;
    std::shared_ptr<ZDTCORMetricsMetadata> updated = handler ? handler(stored, decoded.errorOrNone()) : nullptr;
    if (updated && !(stored && *updated == *stored)) {
      ZDTCORArchiveResult written = ZDTCOREncodeArchive(*updated, path);
      if (written.error) {
        reject(*written.error);
        return;
      }
    }
    fulfill(Value());
  });
}

RBLPromisePtr ZDTCORFlatFileStorage::fetchStorageMetadata() {
  RBLPromisePtr promise = RBLPromise::pendingPromise();
  storageSizeWithCallback([promise](uint64_t size) {
    promise->fulfill(ZDTCORStorageMetadata::metadataWithCurrentCacheSize(size, kSizeLimit));
  });
  return promise;
}

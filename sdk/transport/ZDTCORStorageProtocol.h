// ZDTCORStorageProtocol: what a transport storage offers (the flat-file
// storage is the one implementation), and ZDTCORStorageDelegate, which hears
// of events the storage refused or let expire (the metrics controller).
//
// Every operation is asynchronous on the storage's serial queue and its
// completion runs there. A batch identifier is handed out once per batch; a
// batch's events are invisible to selection until the batch is removed.
//
// Thread safety: every operation may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/values/Error.h"
#include "sdk/transport/ZDTCOREvent.h"
#include "sdk/transport/ZDTCOREventTransformer.h"
#include "sdk/transport/ZDTCORLifecycle.h"
#include "sdk/transport/ZDTCORStorageEventSelector.h"

class ZDTCORStorageProtocol;

class ZDTCORStorageDelegate {
 public:
  virtual ~ZDTCORStorageDelegate() = default;
  // The storage refused the event (its size limit was reached).
  virtual void storageDidDropEvent(ZDTCORStorageProtocol& storage, const std::shared_ptr<ZDTCOREvent>& event) = 0;
  // The expiry sweep deleted these events.
  virtual void storageDidRemoveExpiredEvents(ZDTCORStorageProtocol& storage, const ZDTCOREventSet& events) = 0;
};

using ZDTCORBatchIDs = std::set<int64_t>;

class ZDTCORStorageProtocol : public ZDTCORLifecycleProtocol {
 public:
  using HasEventsCompletion = std::function<void(bool hasEvents)>;
  using BatchCompletion = std::function<void(std::optional<int64_t> batchID, ZDTCOREventSet events)>;
  using BatchIDsCompletion = std::function<void(std::optional<ZDTCORBatchIDs> batchIDs)>;
  using LibraryDataFetch = std::function<void(std::optional<platform::Bytes> data, std::optional<platform::Error> error)>;
  using LibraryDataNewValue = std::function<std::optional<platform::Bytes>()>;
  using ErrorCompletion = std::function<void(std::optional<platform::Error> error)>;
  using SizeCallback = std::function<void(uint64_t size)>;

  virtual void storeEvent(std::shared_ptr<ZDTCOREvent> event, ZDTCOREventCompletion onComplete) = 0;
  virtual void hasEventsForTarget(int64_t target, HasEventsCompletion onComplete) = 0;
  virtual void batchWithEventSelector(ZDTCORStorageEventSelector selector, double batchExpiration,
                                      BatchCompletion onComplete) = 0;
  virtual void removeBatchWithID(int64_t batchID, bool deleteEvents, std::function<void()> onComplete) = 0;
  virtual void batchIDsForTarget(int64_t target, BatchIDsCompletion onComplete) = 0;
  virtual void libraryDataForKey(std::string key, LibraryDataFetch onFetchComplete,
                                 LibraryDataNewValue setNewValue) = 0;
  virtual void storeLibraryData(platform::Bytes data, std::string key, ErrorCompletion onComplete) = 0;
  virtual void removeLibraryDataForKey(std::string key, ErrorCompletion onComplete) = 0;
  virtual void storageSizeWithCallback(SizeCallback onComplete) = 0;
  virtual void checkForExpirations() = 0;

  // Held weakly.
  virtual void setDelegate(std::weak_ptr<ZDTCORStorageDelegate> delegate) = 0;
  virtual std::shared_ptr<ZDTCORStorageDelegate> delegate() const = 0;
};

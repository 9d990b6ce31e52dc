// ZDTCORFlatFileStorage: the transport's storage. Every event is one archive
// file; the upload side takes events out in batches.
//
// Layout below the state directory (ZDTCORPlatform.h):
//   ZDTCORFlatFileStorage/zdt_event_data/<target>/<eventID>-<tier>-<expiration>-<mapping>
//   ZDTCORFlatFileStorage/zdt_batch_data/<target>-<batchID>-<expiration>/<event files>
//   ZDTCORFlatFileStorage/zdt_library_data/<key>
// where <expiration> is whole seconds since 1970 and <mapping> the mapping
// ID percent-encoded except ASCII letters, digits and "-". Nothing is loaded
// at start: the files are the state.
//
// Storing refuses an event without payload bytes (error
// "NSInternalInconsistencyException" -1) and an event that would take
// everything the transport keeps on disk above 20,000,000 bytes (error
// "ZDTCORFlatFileStorage" 0, "Storage size limit has been reached."; the
// delegate hears of the drop). A stored event of tier 4 forces an upload of
// its target through the upload coordinator.
//
// Batches: a batch takes the next batch ID (a 4-byte counter in the library
// data; any stored record other than 4 bytes holding a value >= 0 counts as
// none, so IDs run 0, 1, 2, ... and are never negative) and moves the
// target's matching event files, oldest expiration first and at most
// kMaxEventsPerBatch of them, into a batch folder. Only events whose files
// were moved belong to the batch, so nothing is uploaded twice; files that
// do not decode, or hold more than kMaxEventPayloadBytes, are deleted.
// Removing a batch deletes its events or moves them back under their target.
//
// Expiry sweep: expired batches give their events back, then expired event
// files are deleted and reported to the delegate.
//
// Library data: one file per key holding raw bytes ("ZDTCORFlatFileStorage
// BatchIDCounter", "metrics_metadata").
//
// Opening the folders (at registration, and whenever the storage first
// works on a state directory) removes the hidden temporary files that writes
// interrupted by a crash left anywhere below ZDTCORFlatFileStorage; those of
// writes that may still be running (newer than this process) stay, and makes
// the state directory private (0700; it is created so). Hidden files never
// count toward the size limit.
//
// Every operation runs on the serial queue "com.zoruvu.ZDTCORFlatFileStorage";
// completions and promise settlements run there. The `syncThreadUnsafe`
// operations and the size tracker belong to that queue.
//
// Thread safety: the public asynchronous operations may be called from any
// thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "sdk/transport/ZDTCORApplication.h"
#include "sdk/transport/ZDTCORDirectorySizeTracker.h"
#include "sdk/transport/ZDTCORStoragePromiseProtocol.h"
#include "sdk/transport/ZDTCORStorageProtocol.h"

class ZDTCORUploadCoordinator;

// Parts of an event file's name.
struct ZDTCOREventComponents {
  std::string eventID;
  int64_t qosTier = 0;
  double expiration = 0;  // seconds since 1970
  std::string mappingID;  // still percent-encoded
};

// Parts of a batch folder's name.
struct ZDTCORBatchComponents {
  int64_t target = 0;
  int64_t batchID = 0;
  double expiration = 0;  // seconds since 1970
};

class ZDTCORFlatFileStorage : public ZDTCORStorageProtocol,
                              public ZDTCORStoragePromiseProtocol,
                              public std::enable_shared_from_this<ZDTCORFlatFileStorage> {
 public:
  static constexpr uint64_t kSizeLimit = 20000000;
  static constexpr const char* kErrorDomain = "ZDTCORFlatFileStorage";
  static constexpr const char* kInternalInconsistencyDomain = "NSInternalInconsistencyException";
  static constexpr const char* kBatchIDCounterKey = "ZDTCORFlatFileStorageBatchIDCounter";
  static constexpr const char* kMetricsMetadataKey = "metrics_metadata";
  // The most events one batch takes: the upload messages count repeated
  // fields in 16 bits. The rest stay for the next batch.
  static constexpr size_t kMaxEventsPerBatch = 65535;
  // The largest payload an upload can carry (lengths are counted in 16 bits
  // as well). A larger event could never leave: it is refused when stored
  // (error "ZDTCORFlatFileStorage" 1) and deleted when found while batching,
  // so it cannot hold up its target's uploads until it expires.
  static constexpr size_t kMaxEventPayloadBytes = 65535;
  static bool payloadTooLargeForAnUpload(const ZDTCOREvent& event) {
    return event.serializedDataObjectBytes() && event.serializedDataObjectBytes()->size() > kMaxEventPayloadBytes;
  }
  // The targets the storage serves, in registration order.
  static constexpr int64_t kTargets[] = {999, 1000, 1001, 1002, 1003};

  // Registers the shared storage for targets 999 to 1003 (registration).
  static void load();
  static std::shared_ptr<ZDTCORFlatFileStorage> sharedInstance();

  // The shared storage uses the shared coordinator and adapter; tests pass
  // their own (a null coordinator forces no uploads).
  ZDTCORFlatFileStorage(std::shared_ptr<ZDTCORUploadCoordinator> coordinator,
                        std::shared_ptr<ZDTCORApplicationProtocol> application);

  // Folders (created by every call) and file paths.
  static std::string eventDataStoragePath();
  static std::string batchDataStoragePath();
  static std::string libraryDataStoragePath();
  static std::string pathForTarget(int64_t target, const std::string& eventID, int64_t qosTier,
                                   std::optional<double> expirationDate, const std::string& mappingID);
  static std::string batchPathForTarget(int64_t target, int64_t batchID, double expirationDate);
  static std::optional<ZDTCOREventComponents> eventComponentsFromFilename(const std::string& fileName);
  static std::optional<ZDTCORBatchComponents> batchComponentsFromFilename(const std::string& fileName);

  // --- ZDTCORStorageProtocol ---
  void storeEvent(std::shared_ptr<ZDTCOREvent> event, ZDTCOREventCompletion onComplete) override;
  void hasEventsForTarget(int64_t target, HasEventsCompletion onComplete) override;
  void batchWithEventSelector(ZDTCORStorageEventSelector selector, double batchExpiration,
                              BatchCompletion onComplete) override;
  void removeBatchWithID(int64_t batchID, bool deleteEvents, std::function<void()> onComplete) override;
  void batchIDsForTarget(int64_t target, BatchIDsCompletion onComplete) override;
  void libraryDataForKey(std::string key, LibraryDataFetch onFetchComplete, LibraryDataNewValue setNewValue) override;
  void storeLibraryData(platform::Bytes data, std::string key, ErrorCompletion onComplete) override;
  void removeLibraryDataForKey(std::string key, ErrorCompletion onComplete) override;
  void storageSizeWithCallback(SizeCallback onComplete) override;
  void checkForExpirations() override;
  void setDelegate(std::weak_ptr<ZDTCORStorageDelegate> delegate) override;
  std::shared_ptr<ZDTCORStorageDelegate> delegate() const override;

  void appWillBackground(ZDTCORApplicationProtocol& application) override;

  // Selected event files (full paths) of a target; empty or absent sets do
  // not filter.
  void pathsForTarget(int64_t target, std::optional<std::set<std::string>> eventIDs,
                      std::optional<std::set<int64_t>> qosTiers, std::optional<std::set<std::string>> mappingIDs,
                      std::function<void(std::set<std::string> paths)> onComplete);
  void nextBatchID(std::function<void(std::optional<int64_t> batchID)> onComplete);

  // --- on the storage queue only ---
  void syncThreadUnsafeRemoveBatchWithID(int64_t batchID, bool deleteEvents);
  platform::Result<std::vector<std::string>> batchDirPathsForBatchID(int64_t batchID);
  static bool moveContentsOfDirectoryAtPath(const std::string& from, const std::string& to,
                                            std::optional<platform::Error>* error);
  ZDTCORDirectorySizeTracker& sizeTracker();

  // --- ZDTCORStoragePromiseProtocol ---
  RBLPromisePtr batchIDsForTarget(int64_t target) override;
  RBLPromisePtr removeBatchWithID(int64_t batchID, bool deleteEvents) override;
  RBLPromisePtr removeBatchesWithIDs(ZDTCORBatchIDs batchIDs, bool deleteEvents) override;
  RBLPromisePtr removeAllBatchesForTarget(int64_t target, bool deleteEvents) override;
  RBLPromisePtr hasEventsForTarget(int64_t target) override;
  RBLPromisePtr batchWithEventSelector(ZDTCORStorageEventSelector selector, double batchExpiration) override;
  RBLPromisePtr fetchAndUpdateMetricsWithHandler(MetricsUpdateHandler handler) override;
  RBLPromisePtr fetchStorageMetadata() override;
  static platform::Error genericRejectedPromiseErrorWithReason(const std::string& reason);

  // The cap of events per batch (kMaxEventsPerBatch unless changed, for
  // tests: a value of 0 counts as 1).
  void setMaxEventsPerBatch(size_t count) { m_maxEventsPerBatch.store(count == 0 ? 1 : count); }
  size_t maxEventsPerBatch() const { return m_maxEventsPerBatch.load(); }

  const platform::SerialQueue& storageQueue() const { return m_queue; }
  const std::shared_ptr<ZDTCORUploadCoordinator>& uploadCoordinator() const { return m_uploadCoordinator; }

 private:
  void storeEventOnQueue(const std::shared_ptr<ZDTCOREvent>& event, const ZDTCOREventCompletion& completion,
                         const std::shared_ptr<ZDTCORBackgroundIdentifier>& task);
  std::set<std::string> selectPaths(int64_t target, const std::optional<std::set<std::string>>& eventIDs,
                                    const std::optional<std::set<int64_t>>& qosTiers,
                                    const std::optional<std::set<std::string>>& mappingIDs);
  void makeBatch(const ZDTCORStorageEventSelector& selector, double batchExpiration, int64_t batchID,
                 const BatchCompletion& onComplete);
  void checkForExpirationsOnQueue();
  static void removeCrashLeftovers(const std::string& folder);

  platform::SerialQueue m_queue;
  std::shared_ptr<ZDTCORUploadCoordinator> m_uploadCoordinator;
  std::shared_ptr<ZDTCORApplicationProtocol> m_application;
  // Touched only on m_queue.
  std::unique_ptr<ZDTCORDirectorySizeTracker> m_sizeTracker;
  std::atomic<size_t> m_maxEventsPerBatch{kMaxEventsPerBatch};
  mutable std::mutex m_delegateMutex;
  std::weak_ptr<ZDTCORStorageDelegate> m_delegate;
};

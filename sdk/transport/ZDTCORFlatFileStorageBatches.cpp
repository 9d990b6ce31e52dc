// ZDTCORFlatFileStorage: batches, library data, the metrics record and the
// expiry sweep.
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/storage/FileSystem.h"
#include "platform/time/Clock.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORFlatFileStorage.h"
#include "sdk/transport/ZDTCORPlatform.h"

namespace fs = platform::fs;
using platform::Bytes;
using platform::Error;

namespace {

// The counter record: exactly 4 bytes in the processor's byte order holding
// a value >= 0; anything else counts as no record.
int32_t storedCounter(const std::optional<Bytes>& record) {
  int32_t value = 0;
  if (!record || record->size() != sizeof value) return 0;
  std::memcpy(&value, record->data(), sizeof value);
  return value >= 0 ? value : 0;
}

Bytes counterRecord(int32_t value) {
  Bytes record(sizeof value);
  std::memcpy(record.data(), &value, sizeof value);
  return record;
}

}  // namespace

void ZDTCORFlatFileStorage::nextBatchID(std::function<void(std::optional<int64_t> batchID)> onComplete) {
  auto counter = std::make_shared<std::optional<int32_t>>();
  libraryDataForKey(
      kBatchIDCounterKey,
      [counter, onComplete](std::optional<Bytes> data, std::optional<Error>) {
        *counter = storedCounter(data);
        if (onComplete) onComplete(**counter);
      },
      [counter]() -> std::optional<Bytes> {
        if (!*counter) return std::nullopt;
        const int32_t next = **counter == std::numeric_limits<int32_t>::max() ? 0 : **counter + 1;
        return counterRecord(next);
      });
}

void ZDTCORFlatFileStorage::batchWithEventSelector(ZDTCORStorageEventSelector selector, double batchExpiration,
                                                   BatchCompletion onComplete) {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  nextBatchID([weak, selector = std::move(selector), batchExpiration,
               onComplete = std::move(onComplete)](std::optional<int64_t> batchID) {
    auto self = weak.lock();
    if (!self) return;
    if (!batchID) {
      if (onComplete) onComplete(std::nullopt, {});
      return;
    }
    self->m_queue.async([weak, selector, batchExpiration, onComplete, id = *batchID] {
      if (auto storage = weak.lock()) storage->makeBatch(selector, batchExpiration, id, onComplete);
    });
  });
}

void ZDTCORFlatFileStorage::makeBatch(const ZDTCORStorageEventSelector& selector, double batchExpiration,
                                      int64_t batchID, const BatchCompletion& onComplete) {
  std::set<std::string> selected = selectPaths(selector.selectedTarget(), selector.selectedEventIDs(),
                                               selector.selectedQosTiers(), selector.selectedMappingIDs());
  // Oldest expiration first, so that a capped batch takes the events that
  // would expire soonest.
  struct Candidate {
    double expiration;
    std::string path;
  };
  std::vector<Candidate> candidates;
  for (const std::string& path : selected) {
    std::optional<ZDTCOREventComponents> components = eventComponentsFromFilename(fs::lastPathComponent(path));
    candidates.push_back({components ? components->expiration : std::numeric_limits<double>::infinity(), path});
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.expiration != b.expiration ? a.expiration < b.expiration : a.path < b.path;
  });

  ZDTCOREventSet events;
  const std::string batchDirectory = batchPathForTarget(selector.selectedTarget(), batchID, batchExpiration);
  for (const Candidate& candidate : candidates) {
    if (events.size() >= maxEventsPerBatch()) break;
    auto decoded = ZDTCORDecodeArchiveAtPathAs<ZDTCOREvent>(candidate.path);
    const bool oversized = decoded && decoded.value() && payloadTooLargeForAnUpload(*decoded.value());
    if (!decoded || !decoded.value() || oversized) {
      ZDTCORLogDebug(oversized ? std::string("Deleting an event whose payload is larger than an upload can carry.")
                               : "Error deserializing event: " +
                                     (decoded ? std::string("(null)") : decoded.error().description()));
      const uint64_t size = ZDTCORDirectorySizeTracker::fileSizeAtURL(candidate.path);
      const bool deleted = !fs::removeItem(candidate.path);
      if (deleted) sizeTracker().fileWasRemovedAtPath(candidate.path, size);
      continue;
    }
    std::optional<Error> error = fs::createDirectory(batchDirectory, true);
    if (!error) error = fs::moveItem(candidate.path, batchDirectory + "/" + fs::lastPathComponent(candidate.path));
    if (error) {
      // The file stays where it is, so the event is not part of this batch.
      ZDTCORLogDebug("An event file wasn't moveable into the batch directory: " + error->description());
      continue;
    }
    events.push_back(decoded.value());
  }
  if (!onComplete) return;
  if (events.empty()) {
    onComplete(std::nullopt, {});
  } else {
    onComplete(batchID, std::move(events));
  }
}

void ZDTCORFlatFileStorage::batchIDsForTarget(int64_t target, BatchIDsCompletion onComplete) {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak, target, onComplete = std::move(onComplete)] {
    if (!weak.lock() || !onComplete) return;
    platform::Result<std::vector<std::string>> names = fs::contentsOfDirectory(batchDataStoragePath());
    if (!names || names->empty()) {
      onComplete(std::nullopt);
      return;
    }
    ZDTCORBatchIDs batchIDs;
    for (const std::string& name : names.value()) {
      std::optional<ZDTCORBatchComponents> components = batchComponentsFromFilename(name);
      if (components && static_cast<int32_t>(components->target) == static_cast<int32_t>(target)) {
        batchIDs.insert(components->batchID);
      }
    }
    onComplete(std::move(batchIDs));
  });
}

void ZDTCORFlatFileStorage::removeBatchWithID(int64_t batchID, bool deleteEvents, std::function<void()> onComplete) {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak, batchID, deleteEvents, onComplete = std::move(onComplete)] {
    auto self = weak.lock();
    if (!self) return;
    self->syncThreadUnsafeRemoveBatchWithID(batchID, deleteEvents);
    if (onComplete) onComplete();
  });
}

platform::Result<std::vector<std::string>> ZDTCORFlatFileStorage::batchDirPathsForBatchID(int64_t batchID) {
  const std::string directory = batchDataStoragePath();
  platform::Result<std::vector<std::string>> names = fs::contentsOfDirectory(directory);
  if (!names) return names.error();
  std::vector<std::string> paths;
  for (const std::string& name : names.value()) {
    std::optional<ZDTCORBatchComponents> components = batchComponentsFromFilename(name);
    if (components && components->batchID == batchID) paths.push_back(directory + "/" + name);
  }
  return paths;
}

void ZDTCORFlatFileStorage::syncThreadUnsafeRemoveBatchWithID(int64_t batchID, bool deleteEvents) {
  platform::Result<std::vector<std::string>> directories = batchDirPathsForBatchID(batchID);
  if (!directories) {
    ZDTCORLogDebug("Failed to find event file paths for batchID: " + std::to_string(batchID) +
                   ", error: " + directories.error().description());
    return;
  }
  for (const std::string& directory : directories.value()) {
    std::optional<Error> removal;
    if (deleteEvents) {
      removal = fs::removeItem(directory);
    } else {
      std::optional<ZDTCORBatchComponents> components = batchComponentsFromFilename(fs::lastPathComponent(directory));
      std::optional<Error> moveError;
      bool moved = false;
      if (components) {
        const std::string destination = eventDataStoragePath() + "/" + std::to_string(components->target);
        moveError = fs::createDirectory(destination, true);
        moved = !moveError && moveContentsOfDirectoryAtPath(directory, destination, &moveError);
        if (moved) ZDTCORLogDebug("Batched events at path: " + directory + " moved back to the storage: " + destination);
      }
      if (!moved) {
        ZDTCORLogDebug("Error encountered whilst moving events back: " +
                       (moveError ? moveError->description() : std::string("no target in ") + directory));
        // The folder keeps its events; a later removal or sweep tries again.
        removal = moveError ? *moveError : Error(kErrorDomain, -1);
      } else {
        removal = fs::removeItem(directory);
      }
    }
    ZDTCORLogDebug((removal ? "Failed to remove batch at path: " : "Batch removed at path: ") + directory);
  }
  sizeTracker().resetCachedSize();
}

bool ZDTCORFlatFileStorage::moveContentsOfDirectoryAtPath(const std::string& from, const std::string& to,
                                                          std::optional<Error>* error) {
  platform::Result<std::vector<std::string>> names = fs::contentsOfDirectory(from);
  if (!names) {
    if (error != nullptr) *error = names.error();
    return false;
  }
  std::vector<Error> failures;
  for (const std::string& name : names.value()) {
    if (std::optional<Error> failure = fs::moveItem(from + "/" + name, to + "/" + name)) {
      failures.push_back(std::move(*failure));
    }
  }
  if (failures.empty()) return true;
  if (error != nullptr) {
    Error combined(kErrorDomain, -1);
    combined.setUnderlying(failures.front());
    platform::Array descriptions;
    for (const Error& failure : failures) descriptions.append(platform::Value(failure.description()));
    combined.setUserInfo("NSMultipleUnderlyingErrorsKey", platform::Value(descriptions));
    *error = combined;
  }
  return false;
}

void ZDTCORFlatFileStorage::libraryDataForKey(std::string key, LibraryDataFetch onFetchComplete,
                                              LibraryDataNewValue setNewValue) {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak, key = std::move(key), onFetchComplete = std::move(onFetchComplete),
                 setNewValue = std::move(setNewValue)] {
    auto self = weak.lock();
    if (!self) return;
    const std::string path = libraryDataStoragePath() + "/" + key;
    platform::Result<Bytes> stored = fs::readFile(path);
    if (onFetchComplete) {
      onFetchComplete(stored ? std::optional<Bytes>(stored.value()) : std::nullopt, stored.errorOrNone());
    }
    if (!setNewValue) return;
    std::optional<Bytes> newValue = setNewValue();
    if (!newValue || newValue->empty()) return;
    if (std::optional<Error> error = fs::writeFileAtomically(path, *newValue)) {
      ZDTCORLogDebug("Error writing new value in libraryDataForKey: " + error->description());
      return;
    }
    ZDTCORDirectorySizeTracker& tracker = self->sizeTracker();
    tracker.fileWasRemovedAtPath(path, stored ? stored->size() : 0);
    tracker.fileWasAddedAtPath(path, newValue->size());
  });
}

void ZDTCORFlatFileStorage::storeLibraryData(Bytes data, std::string key, ErrorCompletion onComplete) {
  if (data.empty()) {
    if (onComplete) onComplete(Error(kInternalInconsistencyDomain, -1));
    return;
  }
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak, data = std::move(data), key = std::move(key), onComplete = std::move(onComplete)] {
    auto self = weak.lock();
    if (!self) return;
    const std::string path = libraryDataStoragePath() + "/" + key;
    std::optional<Error> error = fs::writeFileAtomically(path, data);
    if (!error) self->sizeTracker().fileWasAddedAtPath(path, data.size());
    if (onComplete) onComplete(error);
  });
}

void ZDTCORFlatFileStorage::removeLibraryDataForKey(std::string key, ErrorCompletion onComplete) {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak, key = std::move(key), onComplete = std::move(onComplete)] {
    auto self = weak.lock();
    if (!self) return;
    const std::string path = libraryDataStoragePath() + "/" + key;
    std::optional<Error> error;
    if (fs::exists(path)) {
      const uint64_t size = ZDTCORDirectorySizeTracker::fileSizeAtURL(path);
      error = fs::removeItem(path);
      if (!error) self->sizeTracker().fileWasRemovedAtPath(path, size);
    }
    // Also called for a key that had no record: there is nothing to wait for.
    if (onComplete) onComplete(error);
  });
}

void ZDTCORFlatFileStorage::checkForExpirations() {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak] {
    if (auto self = weak.lock()) self->checkForExpirationsOnQueue();
  });
}

void ZDTCORFlatFileStorage::checkForExpirationsOnQueue() {
  ZDTCORLogDebug("Checking for expired events and batches");
  const double now = platform::Clock::current()->now();

  platform::Result<std::vector<std::string>> batches = fs::contentsOfDirectory(batchDataStoragePath());
  if (batches) {
    for (const std::string& name : batches.value()) {
      std::optional<ZDTCORBatchComponents> components = batchComponentsFromFilename(name);
      if (components && components->expiration < now) syncThreadUnsafeRemoveBatchWithID(components->batchID, false);
    }
  }

  ZDTCOREventSet removed;
  std::vector<std::string> expired;
  fs::walk(eventDataStoragePath(), [&expired, now](const fs::WalkEntry& entry) {
    if (!entry.isRegularFile) return;
    std::optional<ZDTCOREventComponents> components =
        eventComponentsFromFilename(fs::lastPathComponent(entry.path));
    if (components && components->expiration < now) expired.push_back(entry.path);
  });
  for (const std::string& path : expired) {
    auto decoded = ZDTCORDecodeArchiveAtPathAs<ZDTCOREvent>(path);
    if (!decoded) {
      ZDTCORLogDebug("Error deserializing event while checking for expired events: " + decoded.error().description());
    }
    if (std::optional<Error> error = fs::removeItem(path)) {
      ZDTCORLogDebug("There was an error deleting an expired item: " + error->description());
      continue;
    }
    ZDTCORLogDebug("Item deleted because it expired: " + path);
    if (decoded && decoded.value()) removed.push_back(decoded.value());
  }

  std::shared_ptr<ZDTCORStorageDelegate> listener = delegate();
  if (listener && !removed.empty()) {
    ZDTCORLogDebug("Delegate notified that " + std::to_string(removed.size()) + " events were dropped.");
    listener->storageDidRemoveExpiredEvents(*this, removed);
  }
  sizeTracker().resetCachedSize();
}

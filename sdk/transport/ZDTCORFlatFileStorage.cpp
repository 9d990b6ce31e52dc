#include "sdk/transport/ZDTCORFlatFileStorage.h"

#include <cmath>
#include <limits>

#include "platform/dispatch/ExitDrain.h"
#include "platform/storage/FileSystem.h"
#include "platform/text/NumberText.h"
#include "platform/text/PercentEncoding.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "sdk/transport/ZDTCORRegistrar.h"
#include "sdk/transport/ZDTCORUploadCoordinator.h"

namespace fs = platform::fs;
using platform::Bytes;
using platform::Error;

namespace {

constexpr const char* kStorageFolder = "ZDTCORFlatFileStorage";

std::string storagePath(const char* leaf) { return ZDTCORRootDirectory() + "/" + kStorageFolder + "/" + leaf; }

// Whole seconds since 1970 as written in file names (0 for dates before).
uint64_t fileNameSeconds(double seconds) {
  if (!(seconds > 0)) return 0;
  if (seconds >= 18446744073709551615.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(seconds);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    size_t found = text.find(separator, start);
    pieces.push_back(text.substr(start, found == std::string::npos ? std::string::npos : found - start));
    if (found == std::string::npos) break;
    start = found + 1;
  }
  return pieces;
}

}  // namespace

void ZDTCORFlatFileStorage::load() {
  // The state directory is resolved here, on the registering thread, so no
  // queue of the transport ever reads the environment.
  ZDTCORResolveRootDirectory();
  std::shared_ptr<ZDTCORFlatFileStorage> storage = sharedInstance();
  for (int64_t target : kTargets) ZDTCORRegistrar::sharedInstance()->registerStorage(storage, target);
  // Opens the folders (crash leftovers go) before any other work of the queue.
  storage->m_queue.async([storage] { storage->sizeTracker(); });
}

std::shared_ptr<ZDTCORFlatFileStorage> ZDTCORFlatFileStorage::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ZDTCORFlatFileStorage>(std::make_shared<ZDTCORFlatFileStorage>(
      ZDTCORUploadCoordinator::sharedInstance(), ZDTCORApplication::sharedApplication()));
  return *shared;
}

ZDTCORFlatFileStorage::ZDTCORFlatFileStorage(std::shared_ptr<ZDTCORUploadCoordinator> coordinator,
                                             std::shared_ptr<ZDTCORApplicationProtocol> application)
    : m_queue("com.zoruvu.ZDTCORFlatFileStorage"),
      m_uploadCoordinator(std::move(coordinator)),
      m_application(application ? std::move(application) : ZDTCORApplication::sharedApplication()) {
  platform::ExitDrain::registerQueue(m_queue);
}

std::string ZDTCORFlatFileStorage::eventDataStoragePath() {
  std::string path = storagePath("zdt_event_data");
  if (std::optional<Error> error = fs::createDirectory(path, true)) ZDTCORAssert(false, error->description());
  return path;
}

std::string ZDTCORFlatFileStorage::batchDataStoragePath() {
  std::string path = storagePath("zdt_batch_data");
  if (std::optional<Error> error = fs::createDirectory(path, true)) {
    ZDTCORAssert(false, "Creating the batch data path failed: " + error->description());
  }
  return path;
}

std::string ZDTCORFlatFileStorage::libraryDataStoragePath() {
  std::string path = storagePath("zdt_library_data");
  if (std::optional<Error> error = fs::createDirectory(path, true)) {
    ZDTCORAssert(false, "Creating the library data path failed: " + error->description());
  }
  return path;
}

std::string ZDTCORFlatFileStorage::pathForTarget(int64_t target, const std::string& eventID, int64_t qosTier,
                                                 std::optional<double> expirationDate, const std::string& mappingID) {
  return eventDataStoragePath() + "/" + std::to_string(target) + "/" + eventID + "-" + std::to_string(qosTier) + "-" +
         std::to_string(fileNameSeconds(expirationDate.value_or(0))) + "-" +
         platform::PercentEncoding::encodeAlphanumericDash(mappingID);
}

std::string ZDTCORFlatFileStorage::batchPathForTarget(int64_t target, int64_t batchID, double expirationDate) {
  return batchDataStoragePath() + "/" + std::to_string(target) + "-" + std::to_string(batchID) + "-" +
         std::to_string(fileNameSeconds(expirationDate));
}

std::optional<ZDTCOREventComponents> ZDTCORFlatFileStorage::eventComponentsFromFilename(const std::string& fileName) {
  std::vector<std::string> pieces = split(fileName, '-');
  if (pieces.size() < 4) {
    ZDTCORLogDebug("The event filename could not be split: " + fileName);
    return std::nullopt;
  }
  ZDTCOREventComponents components;
  components.eventID = pieces[0];
  components.qosTier = platform::NumberText::scanInt64(pieces[1]);
  components.expiration = static_cast<double>(platform::NumberText::scanInt64(pieces[2]));
  for (size_t index = 3; index < pieces.size(); ++index) {
    if (index > 3) components.mappingID += "-";
    components.mappingID += pieces[index];
  }
  return components;
}

std::optional<ZDTCORBatchComponents> ZDTCORFlatFileStorage::batchComponentsFromFilename(const std::string& fileName) {
  std::vector<std::string> pieces = split(fileName, '-');
  if (pieces.size() != 3) {
    ZDTCORLogDebug("The batch filename could not be split: " + fileName);
    return std::nullopt;
  }
  ZDTCORBatchComponents components;
  components.target = platform::NumberText::scanInt64(pieces[0]);
  components.batchID = platform::NumberText::scanInt64(pieces[1]);
  components.expiration = platform::NumberText::scanDouble(pieces[2]);
  return components;
}

ZDTCORDirectorySizeTracker& ZDTCORFlatFileStorage::sizeTracker() {
  const std::string root = ZDTCORRootDirectory();
  if (!m_sizeTracker || m_sizeTracker->directoryPath() != root) {
    // Events carry identifiers: the state directory is the user's alone.
    if (std::optional<Error> error = fs::restrictToOwner(root)) ZDTCORLogDebug(error->description());
    removeCrashLeftovers(root + "/" + kStorageFolder);
    m_sizeTracker = std::make_unique<ZDTCORDirectorySizeTracker>(root);
  }
  return *m_sizeTracker;
}

void ZDTCORFlatFileStorage::removeCrashLeftovers(const std::string& folder) {
  // Every file below the storage's folder is its own, so any hidden
  // temporary file there that predates this process is a leftover.
  auto anyName = [](std::string_view) { return true; };
  size_t removed = fs::removeStaleTemporaryFiles(folder, anyName);
  fs::walk(folder, [&](const fs::WalkEntry& entry) {
    if (entry.isDirectory) removed += fs::removeStaleTemporaryFiles(entry.path, anyName);
  });
  if (removed > 0) {
    ZDTCORLogDebug("Removed " + std::to_string(removed) + " temporary files of interrupted writes from " + folder);
  }
}

void ZDTCORFlatFileStorage::setDelegate(std::weak_ptr<ZDTCORStorageDelegate> delegate) {
  std::lock_guard lock(m_delegateMutex);
  m_delegate = std::move(delegate);
}

std::shared_ptr<ZDTCORStorageDelegate> ZDTCORFlatFileStorage::delegate() const {
  std::lock_guard lock(m_delegateMutex);
  return m_delegate.lock();
}

void ZDTCORFlatFileStorage::storeEvent(std::shared_ptr<ZDTCOREvent> event, ZDTCOREventCompletion onComplete) {
  ZDTCORLogDebug("Saving event: " + (event ? event->description() : std::string("(null)")));
  if (!event || !event->serializedDataObjectBytes()) {
    ZDTCORLogDebug("The event was nil, so it was not saved.");
    if (onComplete) onComplete(false, Error(kInternalInconsistencyDomain, -1));
    return;
  }
  if (!onComplete) {
    onComplete = [event](bool wasWritten, std::optional<Error> error) {
      ZDTCORLogDebug("event " + event->description() + " stored. success:" + (wasWritten ? "YES" : "NO") +
                     " error:" + (error ? error->description() : std::string("(null)")));
    };
  }
  // The task's identifier is only touched on the storage queue.
  auto task = std::make_shared<ZDTCORBackgroundIdentifier>(ZDTCORBackgroundIdentifierInvalid);
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  std::shared_ptr<ZDTCORApplicationProtocol> application = m_application;
  ZDTCORBackgroundIdentifier granted =
      application->beginBackgroundTaskWithName("ZDTStorage", [weak, task, application] {
        if (auto self = weak.lock()) {
          self->m_queue.async([task, application] {
            application->endBackgroundTask(*task);
            *task = ZDTCORBackgroundIdentifierInvalid;
          });
        }
      });
  m_queue.async([weak, event, onComplete, task, granted] {
    auto self = weak.lock();
    if (!self) return;
    *task = granted;
    self->storeEventOnQueue(event, onComplete, task);
  });
}

void ZDTCORFlatFileStorage::storeEventOnQueue(const std::shared_ptr<ZDTCOREvent>& event,
                                              const ZDTCOREventCompletion& completion,
                                              const std::shared_ptr<ZDTCORBackgroundIdentifier>& task) {
  if (payloadTooLargeForAnUpload(*event)) {
    ZDTCORLogDebug("The event's payload is larger than an upload can carry, so it was not saved.");
    Error error(kErrorDomain, 1);
    error.setFailureReason("The event's payload is larger than an upload can carry.");
    completion(false, error);
    return;
  }
  const std::string path = pathForTarget(event->target(), event->eventID(), event->qosTier(), event->expirationDate(),
                                         event->mappingID());
  ZDTCORArchiveResult archive = ZDTCOREncodeArchive(*event);
  if (archive.error || !archive.data) {
    completion(false, archive.error);
    return;
  }
  const uint64_t length = archive.data->size();
  ZDTCORDirectorySizeTracker& tracker = sizeTracker();
  const uint64_t current = tracker.directoryContentSize();
  if (length > kSizeLimit || current > kSizeLimit - length) {
    Error error(kErrorDomain, 0);
    error.setFailureReason("Storage size limit has been reached.");
    if (std::shared_ptr<ZDTCORStorageDelegate> listener = delegate()) {
      ZDTCORLogDebug("Delegate notified that event with mapping ID " + event->mappingID() + " was dropped.");
      listener->storageDidDropEvent(*this, event);
    }
    completion(false, error);
    return;
  }
  std::optional<Error> writeError;
  if (!ZDTCORWriteDataToFile(*archive.data, path, &writeError)) {
    completion(false, writeError);
    return;
  }
  completion(true, std::nullopt);
  tracker.fileWasAddedAtPath(path, length);
  if (event->qosTier() == ZDTCOREventQoSFast && m_uploadCoordinator) {
    m_uploadCoordinator->forceUploadForTarget(event->target());
  }
  m_application->endBackgroundTask(*task);
  *task = ZDTCORBackgroundIdentifierInvalid;
}

void ZDTCORFlatFileStorage::hasEventsForTarget(int64_t target, HasEventsCompletion onComplete) {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak, target, onComplete = std::move(onComplete)] {
    if (!weak.lock()) return;
    const std::string directory = eventDataStoragePath() + "/" + std::to_string(target);
    fs::createDirectory(directory, true);
    bool found = false;
    fs::walk(directory, [&found](const fs::WalkEntry&) { found = true; });
    if (onComplete) onComplete(found);
  });
}

std::set<std::string> ZDTCORFlatFileStorage::selectPaths(int64_t target,
                                                         const std::optional<std::set<std::string>>& eventIDs,
                                                         const std::optional<std::set<int64_t>>& qosTiers,
                                                         const std::optional<std::set<std::string>>& mappingIDs) {
  std::set<std::string> paths;
  const std::string directory = eventDataStoragePath() + "/" + std::to_string(target);
  fs::createDirectory(directory, true);
  platform::Result<std::vector<std::string>> names = fs::contentsOfDirectory(directory);
  if (!names) {
    ZDTCORLogDebug("There was an error reading the contents of the target path: " + names.error().description());
    return paths;
  }
  const bool filterIDs = eventIDs && !eventIDs->empty();
  const bool filterTiers = qosTiers && !qosTiers->empty();
  const bool filterMappings = mappingIDs && !mappingIDs->empty();
  for (const std::string& name : names.value()) {
    if (name.empty() || name[0] == '.') continue;
    const std::string path = directory + "/" + name;
    if (!filterIDs && !filterTiers && !filterMappings) {
      paths.insert(path);
      continue;
    }
    std::optional<ZDTCOREventComponents> components = eventComponentsFromFilename(name);
    if (!components) {
      ZDTCORLogDebug("There was an error reading the filename components: " + name);
      continue;
    }
    if (filterIDs && !eventIDs->contains(components->eventID)) continue;
    if (filterTiers && !qosTiers->contains(components->qosTier)) continue;
    if (filterMappings) {
      std::optional<std::string> mappingID = platform::PercentEncoding::decode(components->mappingID);
      if (!mappingID || !mappingIDs->contains(*mappingID)) continue;
    }
    paths.insert(path);
  }
  return paths;
}

void ZDTCORFlatFileStorage::pathsForTarget(int64_t target, std::optional<std::set<std::string>> eventIDs,
                                           std::optional<std::set<int64_t>> qosTiers,
                                           std::optional<std::set<std::string>> mappingIDs,
                                           std::function<void(std::set<std::string> paths)> onComplete) {
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak, target, eventIDs = std::move(eventIDs), qosTiers = std::move(qosTiers),
                 mappingIDs = std::move(mappingIDs), onComplete = std::move(onComplete)] {
    auto self = weak.lock();
    if (!self) return;
    std::set<std::string> paths = self->selectPaths(target, eventIDs, qosTiers, mappingIDs);
    if (onComplete) onComplete(std::move(paths));
  });
}

void ZDTCORFlatFileStorage::storageSizeWithCallback(SizeCallback onComplete) {
  if (!onComplete) return;
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak, onComplete = std::move(onComplete)] {
    if (auto self = weak.lock()) onComplete(self->sizeTracker().directoryContentSize());
  });
}

void ZDTCORFlatFileStorage::appWillBackground(ZDTCORApplicationProtocol&) {
  // Taking a task on the queue waits for the work queued before it. The
  // storage's own adapter takes it: the caller's object need not outlive
  // this call.
  std::weak_ptr<ZDTCORFlatFileStorage> weak = weak_from_this();
  m_queue.async([weak] {
    auto self = weak.lock();
    if (!self) return;
    ZDTCORBackgroundIdentifier identifier = self->m_application->beginBackgroundTaskWithName("ZDTStorage", nullptr);
    self->m_application->endBackgroundTask(identifier);
  });
}

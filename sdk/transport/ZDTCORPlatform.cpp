#include "sdk/transport/ZDTCORPlatform.h"

#include <mutex>

#include "platform/storage/ArchiveClassRegistry.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/StandardFolders.h"
#include "sdk/transport/ZDTCORClock.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCOREvent.h"
#include "sdk/transport/ZDTCORLogSourceMetrics.h"
#include "sdk/transport/ZDTCORMetricsMetadata.h"
#include "sdk/transport/ZDTCORProductData.h"
#include "sdk/transport/ZDTCORReachability.h"

namespace fs = platform::fs;
using platform::Bytes;
using platform::Error;

namespace {

struct RootState {
  std::mutex mutex;
  std::optional<std::string> resolved;
  std::optional<std::string> testing;
};

RootState& rootState() {
  static auto* const state = new RootState();
  return *state;
}

// Creates the parent folder of `path`; logs and answers the error on failure.
std::optional<Error> createParentDirectory(const std::string& path) {
  const std::string parent = fs::parentPath(path);
  std::optional<Error> error = fs::createDirectory(parent, true);
  if (error) ZDTCORLogDebug("Attempt to create directory failed: path:" + parent + " error:" + error->description());
  return error;
}

// Writes atomically and logs the outcome.
std::optional<Error> writeAtomically(const Bytes& data, const std::string& path) {
  std::optional<Error> error = fs::writeFileAtomically(path, data);
  if (error) {
    ZDTCORLogDebug("Attempt to write archive failed: path:" + path + " error:" + error->description());
  } else {
    ZDTCORLogDebug("Writing archive succeeded: " + path);
  }
  return error;
}

}  // namespace

std::string ZDTCORResolveRootDirectory() {
  RootState& state = rootState();
  std::lock_guard lock(state.mutex);
  if (state.testing) return *state.testing;
  if (!state.resolved) {
    state.resolved = platform::StandardFolders::expandTilde(platform::StandardFolders::caches()) + "/" +
                     kZDTCORStateDirectoryName;
    ZDTCORLogDebug("ZDT's state will be saved to: " + *state.resolved);
  }
  return *state.resolved;
}

std::string ZDTCORRootDirectory() {
  std::string path = ZDTCORResolveRootDirectory();
  std::optional<Error> error = fs::createDirectory(path, true, 0700);
  ZDTCORAssert(!error, "There was an error creating ZDT's path");
  return path;
}

void ZDTCORSetRootDirectoryForTesting(std::optional<std::string> path) {
  RootState& state = rootState();
  std::lock_guard lock(state.mutex);
  state.testing = std::move(path);
}

ZDTCORArchiveResult ZDTCOREncodeArchive(const platform::Archivable& object, const std::string& path) {
  ZDTCORArchiveResult result;
  if (!path.empty()) {
    if (std::optional<Error> error = createParentDirectory(path)) {
      result.error = std::move(error);
      return result;
    }
  }
  platform::Result<Bytes> data = platform::KeyedArchiver::archivedData(object);
  if (!data || data->empty()) {
    result.error = data ? Error::make(platform::KeyedArchiver::kErrorDomain, platform::KeyedArchiver::kInvalidValueError,
                                      "The archive is empty.")
                        : data.error();
    ZDTCORLogDebug("Encoding an object failed: " + result.error->description());
    return result;
  }
  result.data = std::move(data.value());
  if (!path.empty()) result.error = writeAtomically(*result.data, path);
  return result;
}

platform::Result<std::shared_ptr<platform::Archivable>> ZDTCORDecodeArchive(const std::string& className,
                                                                           const Bytes& data) {
  ZDTCORRegisterArchivedClasses();
  platform::Result<platform::Value> root = platform::KeyedUnarchiver::unarchivedObject({className}, data);
  if (!root) return root.error();
  std::shared_ptr<platform::Archivable> object = platform::KeyedArchiver::unwrap(root.value());
  if (!object || object->className() != className) {
    return platform::KeyedUnarchiver::makeError("the archive holds no object of class '" + className + "'");
  }
  return object;
}

platform::Result<std::shared_ptr<platform::Archivable>> ZDTCORDecodeArchiveAtPath(const std::string& className,
                                                                                 const std::string& path) {
  platform::Result<Bytes> data = fs::readFile(path);
  if (!data) return data.error();
  return ZDTCORDecodeArchive(className, data.value());
}

bool ZDTCORWriteDataToFile(const Bytes& data, const std::string& path, std::optional<Error>* error) {
  if (path.empty()) return false;
  std::optional<Error> failure = createParentDirectory(path);
  if (!failure) failure = writeAtomically(data, path);
  if (error != nullptr) *error = failure;
  return !failure;
}

void ZDTCORRegisterArchivedClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    using platform::ArchiveClassRegistry;
    ArchiveClassRegistry::registerClass(ZDTCORClock::kClassName, &ZDTCORClock::initWithCoder);
    ArchiveClassRegistry::registerClass(ZDTCORProductData::kClassName, &ZDTCORProductData::initWithCoder);
    ArchiveClassRegistry::registerClass(ZDTCOREvent::kClassName, &ZDTCOREvent::initWithCoder);
    ArchiveClassRegistry::registerClass(ZDTCORLogSourceMetrics::kClassName, &ZDTCORLogSourceMetrics::initWithCoder);
    ArchiveClassRegistry::registerClass(ZDTCORMetricsMetadata::kClassName, &ZDTCORMetricsMetadata::initWithCoder);
  });
}

bool ZDTCORReachabilityFlagsReachable(platform::ReachabilityFlags flags) {
  return (flags & (platform::kReachabilityFlagReachable | platform::kReachabilityFlagConnectionRequired)) ==
         platform::kReachabilityFlagReachable;
}

bool ZDTCORReachabilityFlagsContainWWAN(platform::ReachabilityFlags) { return false; }

int32_t ZDTCORNetworkTypeMessage() {
  return (ZDTCORReachability::currentFlags() & platform::kReachabilityFlagReachable) != 0 ? 1 : 0;
}

int32_t ZDTCORNetworkMobileSubTypeMessage() { return 0; }

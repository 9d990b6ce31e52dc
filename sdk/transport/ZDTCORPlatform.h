// ZDTCORPlatform: what the transport needs of the platform, as plain
// functions callable from any queue.
//
// State directory: "<Caches>/zoruvu-sdks-events", where <Caches> is the
// application's caches folder (platform::StandardFolders::caches()). The
// path is resolved once per process (ZDTCORResolveRootDirectory, called by
// the transport's registration on the main thread, so that no background
// queue reads the environment) and logged; ZDTCORRootDirectory() creates the
// folder on every call and reports a failure as an assertion. Tests point it
// elsewhere with ZDTCORSetRootDirectoryForTesting.
//
// Archives are the platform's keyed archives (platform::KeyedArchiver) of
// the transport's archivable classes, whose decoders are registered on first
// use. Files are written atomically, their folder created first.
//
// Reachability: flags are reachable when the reachable bit (2) is set and
// the connection-required bit (4) is clear; there is no mobile network on
// this platform.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/ReachabilityApi.h"
#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"

inline constexpr const char* kZDTCORStateDirectoryName = "zoruvu-sdks-events";

// Resolves (once) and returns the state directory's path without creating it.
std::string ZDTCORResolveRootDirectory();
// The state directory's path; creates the folder (with its parents).
std::string ZDTCORRootDirectory();
// Tests: use `path` as the state directory; none goes back to the resolved one.
void ZDTCORSetRootDirectoryForTesting(std::optional<std::string> path);

// Result of archiving: the bytes (present also when only the write failed)
// and the first error.
struct ZDTCORArchiveResult {
  std::optional<platform::Bytes> data;
  std::optional<platform::Error> error;
};

// Archives `object`; with a non-empty path also writes it there atomically.
ZDTCORArchiveResult ZDTCOREncodeArchive(const platform::Archivable& object, const std::string& path = {});

// Decodes an object of exactly `className` from bytes or from a file.
platform::Result<std::shared_ptr<platform::Archivable>> ZDTCORDecodeArchive(const std::string& className,
                                                                           const platform::Bytes& data);
platform::Result<std::shared_ptr<platform::Archivable>> ZDTCORDecodeArchiveAtPath(const std::string& className,
                                                                                 const std::string& path);
template <typename T>
platform::Result<std::shared_ptr<T>> ZDTCORDecodeArchiveAtPathAs(const std::string& path) {
  auto object = ZDTCORDecodeArchiveAtPath(T::kClassName, path);
  if (!object) return object.error();
  auto typed = std::dynamic_pointer_cast<T>(object.value());
  if (!typed) return platform::KeyedUnarchiver::makeError(std::string("the archive holds no ") + T::kClassName);
  return typed;
}

// Writes bytes atomically (folder created first). An empty path writes
// nothing and answers false.
bool ZDTCORWriteDataToFile(const platform::Bytes& data, const std::string& path,
                           std::optional<platform::Error>* error = nullptr);

// Registers the decoders of the transport's archived classes (once).
void ZDTCORRegisterArchivedClasses();

bool ZDTCORReachabilityFlagsReachable(platform::ReachabilityFlags flags);
bool ZDTCORReachabilityFlagsContainWWAN(platform::ReachabilityFlags flags);
// 1 when the current reachability flags show the network reachable, else 0.
int32_t ZDTCORNetworkTypeMessage();
// Always 0: no mobile subtype on this platform.
int32_t ZDTCORNetworkMobileSubTypeMessage();

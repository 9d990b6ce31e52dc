#include "measurement/base/APMFileLocations.h"

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMError.h"
#include "measurement/base/APMMonitor.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Preferences.h"
#include "platform/storage/StandardFolders.h"

namespace {

constexpr const char* kMeasurementFolder = "Zoruvu/Measurement";

bool storeError(const std::optional<platform::Error>& failure, platform::Error* error) {
  if (!failure) return true;
  if (error != nullptr) *error = *failure;
  return false;
}

}  // namespace

std::string APMPreferencesPlistPath(const std::string& name) {
  if (name.empty()) return "";
  const std::string library = platform::StandardFolders::library();
  if (library.empty()) {
    APMEngineServices::monitor()->logWithLevel(2, 19000, "NSSearchPath for Library directory is empty");
    return "";
  }
  return platform::fs::joinPath(platform::fs::joinPath(library, "Preferences"),
                                platform::fs::appendingPathExtension(name, "plist"));
}

std::string APMApplicationSupportPath(const std::string& fileName) {
  const std::string support = platform::StandardFolders::applicationSupport();
  if (support.empty()) {
    APMEngineServices::monitor()->logWithLevel(2, 19001, "NSSearchPath for ApplicationSupport directory is empty");
    return "";
  }
  return platform::fs::joinPath(platform::fs::joinPath(support, kMeasurementFolder), fileName);
}

std::string APMMeasurementPlistPath(const std::string& name) {
  const std::string fileName =
      platform::fs::pathExtension(name) == "plist" ? name : platform::fs::appendingPathExtension(name, "plist");
  return APMApplicationSupportPath(fileName);
}

bool APMExcludeFromBackup(const std::string& path, platform::Error* error) {
  return storeError(platform::fs::excludeFromBackup(path), error);
}

bool APMDeleteFile(const std::string& path, platform::Error* error) {
  if (path.empty()) {
    APMSetError(error, 1, "Received empty path for deleting file");
    return false;
  }
  return storeError(platform::fs::removeItem(path), error);
}

bool APMMigratePlistToApplicationSupport(const std::string& name) {
  if (name.empty()) return false;
  const std::string oldPath = APMPreferencesPlistPath(name);
  const std::string newPath = APMMeasurementPlistPath(name);
  if (oldPath.empty() || newPath.empty()) return false;
  if (platform::fs::exists(oldPath)) {
    if (platform::fs::isDirectory(oldPath)) return false;
    platform::Result<platform::fs::FileAttributes> existing = platform::fs::attributes(newPath);
    if (existing.ok()) {
      if (platform::fs::isDirectory(newPath)) return false;
      if (!APMDeleteFile(oldPath, nullptr)) return false;
    } else {
      if (platform::fs::createDirectory(platform::fs::parentPath(newPath), true)) return false;
      if (platform::fs::moveItem(oldPath, newPath)) return false;
    }
  }
  platform::Preferences::removeSuiteFromApp(name);
  return true;
}

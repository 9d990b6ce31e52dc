#include "sdk/messaging/RIRMessagingBackupExcludedPlist.h"

#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingUtilities.h"

namespace {

constexpr long kCodeWriteFailed = 26000;
constexpr long kCodeExcludeFailed = 26001;

}  // namespace

RIRMessagingBackupExcludedPlist::RIRMessagingBackupExcludedPlist(std::string fileName, std::string subDirectory)
    : m_fileName(std::move(fileName)), m_subDirectoryName(std::move(subDirectory)) {
  // What a write interrupted by a crash left beside the file.
  platform::fs::removeStaleTemporaryFilesOf(plistPathInDirectory());
}

std::string RIRMessagingBackupExcludedPlist::plistPathInDirectory() const {
  return platform::fs::joinPath(platform::fs::joinPath(RIRMessagingSupportedDirectory(), m_subDirectoryName),
                                m_fileName + ".plist");
}

bool RIRMessagingBackupExcludedPlist::doesFileExist() const { return platform::fs::exists(plistPathInDirectory()); }

std::optional<platform::Error> RIRMessagingBackupExcludedPlist::writeDictionary(const platform::Dictionary& dictionary) {
  const std::string path = plistPathInDirectory();
  platform::fs::restrictToOwner(path);  // an atomic replace keeps the old file's mode
  if (std::optional<platform::Error> error = platform::PropertyList::writeFile(
          path, platform::Value(dictionary), platform::PropertyListFormat::Xml, 0600)) {
    RIRMessagingSharedLogger().logFuncError(kCodeWriteFailed, "Failed to write to " + m_fileName + ".plist");
    return error;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cachedPlistContents = dictionary.copy();
  }
  if (std::optional<platform::Error> error = platform::fs::excludeFromBackup(path)) {
    RIRMessagingSharedLogger().logFuncError(kCodeExcludeFailed, "Error excluding " + platform::fs::lastPathComponent(path) +
                                                                    " from backup, " + error->description());
    return error;
  }
  return std::nullopt;
}

std::optional<platform::Error> RIRMessagingBackupExcludedPlist::deleteFile() {
  std::optional<platform::Error> error;
  const std::string path = plistPathInDirectory();
  if (platform::fs::exists(path)) error = platform::fs::removeItem(path);
  std::lock_guard<std::mutex> lock(m_mutex);
  m_cachedPlistContents.reset();
  return error;
}

std::optional<platform::Dictionary> RIRMessagingBackupExcludedPlist::contentAsDictionary() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_cachedPlistContents) {
    const std::string path = plistPathInDirectory();
    if (!platform::fs::exists(path)) return std::nullopt;
    platform::fs::restrictToOwner(path);  // credentials: never readable by others
    platform::Result<platform::Dictionary> read = platform::PropertyList::readDictionary(path);
    if (!read) return std::nullopt;
    m_cachedPlistContents = std::move(read.value());
  }
  return m_cachedPlistContents->copy();
}

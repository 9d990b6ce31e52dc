#include "sdk/core/HeartbeatStorageBackend.h"

#include <algorithm>

#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"
#include "platform/storage/UserDefaults.h"

namespace RirivuduCoreInternal {

std::string FileStorage::pathForID(const std::string& id) {
  std::string sanitized = id;
  std::replace(sanitized.begin(), sanitized.end(), ':', '_');
  // A "/" would lead out of the folder; app IDs never hold one.
  std::replace(sanitized.begin(), sanitized.end(), '/', '_');
  std::string support = platform::StandardFolders::applicationSupport();
  if (support.empty()) return {};  // no home: nothing is read or written
  return platform::fs::joinPath(platform::fs::joinPath(support, kDirectoryName),
      kFilePrefix + sanitized);
}

std::unique_ptr<Storage> FileStorage::makeForID(const std::string& id) {
  return std::make_unique<FileStorage>(pathForID(id));
}

std::variant<platform::Bytes, StorageError> FileStorage::readData() {
  if (m_url.empty()) return StorageError::readError;
  platform::fs::removeStaleTemporaryFilesOf(m_url);
  platform::Result<platform::Bytes> bytes = platform::fs::readFile(m_url);
  if (!bytes) return StorageError::readError;
  return std::move(bytes).value();
}

std::optional<StorageError> FileStorage::writeData(const std::optional<platform::Bytes>& data) {
  if (m_url.empty()) return StorageError::writeError;
  platform::fs::removeStaleTemporaryFilesOf(m_url);
  // An existing folder is fine; an existing file in its place fails the write below.
  std::optional<platform::Error> folderError = platform::fs::createDirectory(platform::fs::parentPath(m_url));
  if (folderError && folderError->code != 516) return StorageError::writeError;
  if (platform::fs::writeFileAtomically(m_url, data ? *data : platform::Bytes())) return StorageError::writeError;
  return std::nullopt;
}

std::variant<platform::Bytes, StorageError> UserDefaultsStorage::readData() {
  std::optional<platform::Bytes> data = platform::UserDefaults::suite(m_suiteName)->data(m_key);
  if (!data) return StorageError::readError;
  return std::move(*data);
}

std::optional<StorageError> UserDefaultsStorage::writeData(const std::optional<platform::Bytes>& data) {
  if (!platform::UserDefaults::suite(m_suiteName)->set(m_key, data ? platform::Value::data(*data) : platform::Value())) {
    return StorageError::writeError;
  }
  return std::nullopt;
}

}  // namespace RirivuduCoreInternal

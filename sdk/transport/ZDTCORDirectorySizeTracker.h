// ZDTCORDirectorySizeTracker: the byte size of everything below a folder
// (regular files, hidden ones skipped), walked from disk only when no size is
// cached; added and removed files adjust the cached size by their length.
// A removal never takes the size below 0.
//
// Thread safety: none; the storage uses it on its queue only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class ZDTCORDirectorySizeTracker {
 public:
  explicit ZDTCORDirectorySizeTracker(std::string directoryPath) : m_directoryPath(std::move(directoryPath)) {}

  const std::string& directoryPath() const { return m_directoryPath; }
  const std::optional<uint64_t>& cachedSizeBytes() const { return m_cachedSizeBytes; }

  uint64_t directoryContentSize();
  // Only paths inside the tracked folder count.
  void fileWasAddedAtPath(const std::string& path, uint64_t size);
  void fileWasRemovedAtPath(const std::string& path, uint64_t size);
  void resetCachedSize() { m_cachedSizeBytes.reset(); }
  uint64_t calculateDirectoryContentSize() const;
  static uint64_t fileSizeAtURL(const std::string& path);

 private:
  bool contains(const std::string& path) const;

  std::string m_directoryPath;
  std::optional<uint64_t> m_cachedSizeBytes;
};

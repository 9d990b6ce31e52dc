#include "sdk/transport/ZDTCORDirectorySizeTracker.h"

#include <limits>

#include "platform/storage/FileSystem.h"

uint64_t ZDTCORDirectorySizeTracker::directoryContentSize() {
  if (!m_cachedSizeBytes) m_cachedSizeBytes = calculateDirectoryContentSize();
  return *m_cachedSizeBytes;
}

bool ZDTCORDirectorySizeTracker::contains(const std::string& path) const {
  return path.compare(0, m_directoryPath.size(), m_directoryPath) == 0;
}

void ZDTCORDirectorySizeTracker::fileWasAddedAtPath(const std::string& path, uint64_t size) {
  if (!contains(path)) return;
  const uint64_t current = directoryContentSize();
  m_cachedSizeBytes = size > std::numeric_limits<uint64_t>::max() - current ? std::numeric_limits<uint64_t>::max()
                                                                           : current + size;
}

void ZDTCORDirectorySizeTracker::fileWasRemovedAtPath(const std::string& path, uint64_t size) {
  if (!contains(path)) return;
  const uint64_t current = directoryContentSize();
  m_cachedSizeBytes = size > current ? 0 : current - size;
}

uint64_t ZDTCORDirectorySizeTracker::calculateDirectoryContentSize() const {
  uint64_t total = 0;
  platform::fs::walk(m_directoryPath, [&total](const platform::fs::WalkEntry& entry) {
    if (entry.isRegularFile) total += entry.size;
  });
  return total;
}

uint64_t ZDTCORDirectorySizeTracker::fileSizeAtURL(const std::string& path) {
  return platform::fs::fileSize(path).valueOr(0);
}

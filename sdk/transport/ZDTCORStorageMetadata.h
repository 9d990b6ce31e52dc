// ZDTCORStorageMetadata: the bytes the transport keeps on disk and its limit.
//
// Thread safety: an immutable value.
#pragma once

#include <cstdint>
#include <memory>

class ZDTCORStorageMetadata {
 public:
  ZDTCORStorageMetadata(uint64_t currentCacheSize, uint64_t maxCacheSize)
      : m_currentCacheSize(currentCacheSize), m_maxCacheSize(maxCacheSize) {}
  static std::shared_ptr<ZDTCORStorageMetadata> metadataWithCurrentCacheSize(uint64_t currentCacheSize,
                                                                             uint64_t maxCacheSize) {
    return std::make_shared<ZDTCORStorageMetadata>(currentCacheSize, maxCacheSize);
  }

  uint64_t currentCacheSize() const { return m_currentCacheSize; }
  uint64_t maxCacheSize() const { return m_maxCacheSize; }

 private:
  uint64_t m_currentCacheSize;
  uint64_t m_maxCacheSize;
};

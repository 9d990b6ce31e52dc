// ZULKeychainCache: a small in-memory cache of key -> object with a count
// limit; past the limit the least recently used entries are dropped. A
// limit of 0 means no limit.
//
// Thread safety: every member may be called from any thread (one mutex).
#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/values/Value.h"

class ZULKeychainCache {
 public:
  explicit ZULKeychainCache(size_t countLimit = 0) : m_countLimit(countLimit) {}

  size_t countLimit() const {
    std::lock_guard lock(m_mutex);
    return m_countLimit;
  }
  void setCountLimit(size_t limit) {
    std::lock_guard lock(m_mutex);
    m_countLimit = limit;
    trim();
  }

  std::optional<platform::Value> objectForKey(const std::string& key) {
    std::lock_guard lock(m_mutex);
    auto found = m_index.find(key);
    if (found == m_index.end()) return std::nullopt;
    m_order.splice(m_order.begin(), m_order, found->second);
    return found->second->second;
  }
  void setObject(platform::Value object, const std::string& key) {
    std::lock_guard lock(m_mutex);
    auto found = m_index.find(key);
    if (found != m_index.end()) {
      found->second->second = std::move(object);
      m_order.splice(m_order.begin(), m_order, found->second);
      return;
    }
    m_order.emplace_front(key, std::move(object));
    m_index[key] = m_order.begin();
    trim();
  }
  void removeObjectForKey(const std::string& key) {
    std::lock_guard lock(m_mutex);
    auto found = m_index.find(key);
    if (found == m_index.end()) return;
    m_order.erase(found->second);
    m_index.erase(found);
  }
  void removeAllObjects() {
    std::lock_guard lock(m_mutex);
    m_order.clear();
    m_index.clear();
  }
  size_t count() const {
    std::lock_guard lock(m_mutex);
    return m_order.size();
  }

 private:
  using Entry = std::pair<std::string, platform::Value>;

  void trim() {
    while (m_countLimit > 0 && m_order.size() > m_countLimit) {
      m_index.erase(m_order.back().first);
      m_order.pop_back();
    }
  }

  mutable std::mutex m_mutex;
  size_t m_countLimit;
  std::list<Entry> m_order;  // most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> m_index;
};

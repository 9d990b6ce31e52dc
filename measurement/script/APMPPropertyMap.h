// APMPPropertyMap: names to runtime values, for scope contents and for the
// named properties of maps, arrays and functions.
//
// Names keep the order in which they were first stored (allNames), so loops
// over properties run in a fixed order. A name can be made immutable
// (setImmutableValue) and the whole map too (makeImmutable): stores and
// removals on them are then silently ignored. Look-up is by hash once a map
// holds more than a few names, by a short scan before.
//
// Thread safety: one thread at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "measurement/script/APMPRuntimeValue.h"

class APMPPropertyMap {
 public:
  APMPPropertyMap() = default;
  ~APMPPropertyMap();
  APMPPropertyMap(const APMPPropertyMap&) = delete;
  APMPPropertyMap& operator=(const APMPPropertyMap&) = delete;

  bool hasName(const std::u16string& name) const { return find(name) != nullptr; }
  // The stored value, nullptr when absent.
  const APMPValuePtr* find(const std::u16string& name) const;
  // The stored value, undefined when absent.
  APMPValuePtr valueForName(const std::u16string& name) const;
  // Ignored when the map or the name is immutable.
  void setValue(APMPValuePtr value, const std::u16string& name);
  // As setValue, and the name becomes immutable.
  void setImmutableValue(APMPValuePtr value, const std::u16string& name);
  void removeValueForName(const std::u16string& name);
  void makeImmutable() { m_immutable = true; }
  bool isImmutable() const { return m_immutable; }

  size_t size() const { return m_entries.size(); }
  bool empty() const { return m_entries.empty(); }
  std::vector<std::u16string> allNames() const;
  // Every entry in order; fn(name, value).
  template <typename Fn>
  void forEach(Fn&& fn) const {
    for (const Entry& entry : m_entries) fn(entry.name, entry.value);
  }

  // Hands every value to the marker.
  void markValues(APMPMarker& marker) const;
  // Forgets everything, immutable names included (used when swept).
  void clear();

 private:
  struct Entry {
    std::u16string name;
    APMPValuePtr value;
    bool immutable = false;
  };
  static constexpr size_t kIndexThreshold = 8;

  Entry* findEntry(const std::u16string& name);
  const Entry* findEntry(const std::u16string& name) const;
  void store(APMPValuePtr value, const std::u16string& name, bool immutable);
  void rebuildIndex();

  std::vector<Entry> m_entries;
  std::unordered_map<std::u16string, size_t> m_index;  // filled above kIndexThreshold entries
  bool m_immutable = false;
};

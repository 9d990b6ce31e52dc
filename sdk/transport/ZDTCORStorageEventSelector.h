// ZDTCORStorageEventSelector: which stored events of a target a batch takes.
// An absent or empty set does not filter.
//
// Thread safety: an immutable value.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

class ZDTCORStorageEventSelector {
 public:
  ZDTCORStorageEventSelector(int64_t target, std::optional<std::set<std::string>> eventIDs,
                             std::optional<std::set<std::string>> mappingIDs, std::optional<std::set<int64_t>> qosTiers)
      : m_target(target),
        m_eventIDs(std::move(eventIDs)),
        m_mappingIDs(std::move(mappingIDs)),
        m_qosTiers(std::move(qosTiers)) {}

  // Every event of the target.
  static ZDTCORStorageEventSelector eventSelectorForTarget(int64_t target) {
    return ZDTCORStorageEventSelector(target, std::nullopt, std::nullopt, std::nullopt);
  }

  int64_t selectedTarget() const { return m_target; }
  const std::optional<std::set<std::string>>& selectedEventIDs() const { return m_eventIDs; }
  const std::optional<std::set<std::string>>& selectedMappingIDs() const { return m_mappingIDs; }
  const std::optional<std::set<int64_t>>& selectedQosTiers() const { return m_qosTiers; }

 private:
  int64_t m_target;
  std::optional<std::set<std::string>> m_eventIDs;
  std::optional<std::set<std::string>> m_mappingIDs;
  std::optional<std::set<int64_t>> m_qosTiers;
};

// RCNConfigDBWrites: changes to the config database that belong together
// (the rows of one fetch answer, of one activation, of one set of defaults)
// and are committed as one SQLite transaction by
// RCNConfigDBManager::commitWrites: after a kill, an exit or a failed
// statement the database holds all of them or none.
//
// Each operation records one step; the values are copied when recorded, so
// the caller may change its own afterwards. Steps run in the order recorded.
//
// Thread safety: none; one set is filled by one thread, then handed over.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/values/Value.h"
#include "sdk/remote-config/RCNConstants.h"

class RCNConfigDBManager;

// (key, value bytes) of one namespace's configuration.
using RCNConfigRows = std::vector<std::pair<std::string, platform::Bytes>>;

class RCNConfigDBWrites {
 public:
  // The namespace's rows of `source` become exactly these (none: emptied).
  void replaceMainRows(const std::string& bundleIdentifier, const std::string& ririvuduNamespace,
                       RCNDBSource source, RCNConfigRows rows);
  // The personalization row of `source` (active or fetched), as pretty JSON.
  void replacePersonalization(const platform::Dictionary& config, RCNDBSource source);
  // The rollout row of the key, as pretty JSON.
  void replaceRollout(const std::string& key, const platform::Array& metadata);
  // Every experiment row of the key ("experiment_payload",
  // "experiment_active_payload") becomes these values, in order.
  void replaceExperimentRows(const std::string& key, std::vector<platform::Bytes> values);
  // The one "experiment_metadata" row.
  void replaceExperimentMetadata(platform::Bytes value);
  // One metadata column update (RCNConfigDBManager::updateMetadataWithOption).
  void updateMetadata(RCNUpdateOption option, const std::string& ririvuduNamespace, const platform::Array& values);

  bool empty() const { return m_steps.empty(); }
  size_t size() const { return m_steps.size(); }

 private:
  friend class RCNConfigDBManager;
  using Step = std::function<bool(RCNConfigDBManager&)>;
  std::vector<Step> m_steps;
};

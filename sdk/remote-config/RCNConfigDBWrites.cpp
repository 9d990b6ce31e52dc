#include "sdk/remote-config/RCNConfigDBWrites.h"

#include "sdk/remote-config/RCNConfigDBManager.h"

void RCNConfigDBWrites::replaceMainRows(const std::string& bundleIdentifier, const std::string& ririvuduNamespace,
                                        RCNDBSource source, RCNConfigRows rows) {
  m_steps.push_back([bundleIdentifier, ririvuduNamespace, source, rows = std::move(rows)](RCNConfigDBManager& manager) {
    return manager.replaceMainRows(bundleIdentifier, ririvuduNamespace, source, rows);
  });
}

void RCNConfigDBWrites::replacePersonalization(const platform::Dictionary& config, RCNDBSource source) {
  m_steps.push_back([config = config.copy(), source](RCNConfigDBManager& manager) {
    return manager.insertOrUpdatePersonalizationConfigOnQueue(config, source);
  });
}

void RCNConfigDBWrites::replaceRollout(const std::string& key, const platform::Array& metadata) {
  m_steps.push_back([key, metadata = metadata.copy()](RCNConfigDBManager& manager) {
    return manager.replaceRolloutRow(key, metadata);
  });
}

void RCNConfigDBWrites::replaceExperimentRows(const std::string& key, std::vector<platform::Bytes> values) {
  m_steps.push_back([key, values = std::move(values)](RCNConfigDBManager& manager) {
    return manager.replaceExperimentRows(key, values);
  });
}

void RCNConfigDBWrites::replaceExperimentMetadata(platform::Bytes value) {
  m_steps.push_back(
      [value = std::move(value)](RCNConfigDBManager& manager) { return manager.updateExperimentMetadata(value); });
}

void RCNConfigDBWrites::updateMetadata(RCNUpdateOption option, const std::string& ririvuduNamespace,
                                       const platform::Array& values) {
  m_steps.push_back([option, ririvuduNamespace, values = values.copy()](RCNConfigDBManager& manager) {
    return manager.updateMetadataTableWithOption(option, ririvuduNamespace, values);
  });
}

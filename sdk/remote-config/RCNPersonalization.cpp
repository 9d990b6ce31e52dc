#include "sdk/remote-config/RCNPersonalization.h"

using platform::Value;

void RCNPersonalization::logArmActive(const std::string& key, const RCNConfigAndMetadata& config) {
  const platform::Dictionary& metadataByKey = config.personalizationMetadata;
  if (metadataByKey.empty() || config.entries.empty() || !m_analytics) return;
  auto entry = config.entries.find(key);
  std::optional<platform::Dictionary> metadata = metadataByKey.get(key).asDictionary();
  if (entry == config.entries.end() || !entry->second || !metadata || !metadata->contains("choiceId")) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto logged = m_loggedChoiceIds.find(key);
    if (logged != m_loggedChoiceIds.end() && logged->second.sameStorage(*metadata)) return;
    m_loggedChoiceIds[key] = *metadata;
  }
  platform::Dictionary assignment{{"arm_key", Value(key)}, {"arm_value", Value(entry->second->stringValue())}};
  const std::pair<const char*, const char*> optional[] = {
      {"personalization_id", "personalizationId"}, {"arm_index", "armIndex"}, {"group", "group"}};
  for (const auto& [parameter, field] : optional) {
    if (const Value* value = metadata->find(field)) assignment.set(parameter, *value);
  }
  m_analytics->logEventWithOrigin("rp", "personalization_assignment", assignment);
  m_analytics->logEventWithOrigin("rp", "_fpc", platform::Dictionary{{"_fpid", metadata->get("choiceId")}});
}

#include "sdk/remote-config/RCNConfigContent.h"

#include "platform/app/Bundle.h"
#include "platform/storage/Json.h"
#include "platform/time/DateFormatter.h"
#include "sdk/core/RIRLogger.h"

using platform::Value;

namespace {

std::mutex& sharedMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::shared_ptr<RCNConfigContent>& sharedSlot() {
  static auto* const content = new std::shared_ptr<RCNConfigContent>();
  return *content;
}

constexpr const char* kStateNoChange = "NO_CHANGE";
constexpr const char* kStateEmptyConfig = "EMPTY_CONFIG";
constexpr const char* kStateNoTemplate = "NO_TEMPLATE";
constexpr const char* kStateUpdate = "UPDATE";

platform::Bytes bytesOf(const std::string& text) { return platform::Bytes(text.begin(), text.end()); }

// A default item as bytes; none for a kind that has no byte form.
std::optional<platform::Bytes> defaultBytes(const std::string& key, const Value& item) {
  if (const platform::Bytes* bytes = item.asData()) return *bytes;
  if (const std::string* text = item.asString()) return bytesOf(*text);
  if (item.isNumeric()) return bytesOf(item.stringValue());
  if (std::optional<double> date = item.asDate()) {
    return bytesOf(platform::DateFormatter::local("yyyy-MM-dd HH:mm:ss").format(*date));
  }
  if (item.isArray() || item.isDictionary()) {
    platform::Result<platform::Bytes> json = platform::Json::serializeData(item);
    if (!json.ok()) {
      RIRLogEmitError(kRCNLogService, item.isArray() ? "I-RCN000076" : "I-RCN000077",
                      std::string(item.isArray() ? "Invalid array value for key '" : "Invalid dictionary value for key '") +
                          key + "'");
      return std::nullopt;
    }
    return json.value();
  }
  return std::nullopt;
}

}  // namespace

std::shared_ptr<RCNConfigContent> RCNConfigContent::sharedInstance() {
  std::lock_guard<std::mutex> lock(sharedMutex());
  if (!sharedSlot()) sharedSlot() = initWithDBManager(RCNConfigDBManager::sharedInstance());
  return sharedSlot();
}

void RCNConfigContent::resetSharedInstanceForTesting() {
  std::shared_ptr<RCNConfigContent> content;
  {
    std::lock_guard<std::mutex> lock(sharedMutex());
    content = std::move(sharedSlot());
  }
  if (content) content->checkAndWaitForInitialDatabaseLoad();
}

std::shared_ptr<RCNConfigContent> RCNConfigContent::initWithDBManager(std::shared_ptr<RCNConfigDBManager> manager,
                                                                      double loadTimeout) {
  auto content = std::make_shared<RCNConfigContent>(PrivateTag{}, std::move(manager), loadTimeout);
  content->loadConfigFromMainTable();
  return content;
}

RCNConfigContent::RCNConfigContent(PrivateTag, std::shared_ptr<RCNConfigDBManager> manager, double loadTimeout)
    : m_DBManager(std::move(manager)), m_loadTimeout(loadTimeout) {
  std::optional<std::string> bundleIdentifier = platform::Bundle::main()->bundleIdentifier();
  if (!bundleIdentifier) {
    RIRLogEmitNotice(kRCNLogService, "I-RCN000038",
                     "Main bundle identifier is missing. Remote Config might not work properly.");
  }
  m_bundleIdentifier = bundleIdentifier.value_or("");
}

void RCNConfigContent::loadConfigFromMainTable() {
  if (!m_DBManager) return;
  std::shared_ptr<RCNConfigContent> self = shared_from_this();
  m_dispatchGroup.enter();
  m_DBManager->loadMainWithBundleIdentifier(
      m_bundleIdentifier, [self](bool, RCNNamespaceConfigs fetched, RCNNamespaceConfigs active,
                                 RCNNamespaceConfigs defaults, platform::Dictionary rollouts) {
        {
          std::lock_guard<std::mutex> lock(self->m_mutex);
          self->m_fetchedConfig = std::move(fetched);
          self->m_activeConfig = std::move(active);
          self->m_defaultConfig = std::move(defaults);
          auto list = [&](const char* key) {
            std::optional<platform::Array> array = rollouts.get(key).asArray();
            return array ? array->copy() : platform::Array();
          };
          self->m_fetchedRolloutMetadata = list(RCNRolloutTableKeyFetchedMetadata);
          self->m_activeRolloutMetadata = list(RCNRolloutTableKeyActiveMetadata);
        }
        self->m_dispatchGroup.leave();
      });
  m_dispatchGroup.enter();
  m_DBManager->loadPersonalizationWithCompletionHandler(
      [self](bool, platform::Dictionary fetched, platform::Dictionary active) {
        {
          std::lock_guard<std::mutex> lock(self->m_mutex);
          self->m_fetchedPersonalization = fetched.copy();
          self->m_activePersonalization = active.copy();
        }
        self->m_dispatchGroup.leave();
      });
}

bool RCNConfigContent::checkAndWaitForInitialDatabaseLoad() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_isConfigLoadFromDBCompleted) return true;
  }
  if (m_dispatchGroup.wait(m_loadTimeout)) {
    RIRLogEmitError(kRCNLogService, "I-RCN000048", "Timed out waiting for fetched config to be loaded from DB");
    return false;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_isConfigLoadFromDBCompleted = true;
  return true;
}

RCNNamespaceConfigs RCNConfigContent::fetchedConfig() {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_fetchedConfig;
}

RCNNamespaceConfigs RCNConfigContent::activeConfig() {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_activeConfig;
}

RCNNamespaceConfigs RCNConfigContent::defaultConfig() {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_defaultConfig;
}

platform::Dictionary RCNConfigContent::activePersonalization() {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_activePersonalization.copy();
}

platform::Array RCNConfigContent::activeRolloutMetadata() {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_activeRolloutMetadata.copy();
}

void RCNConfigContent::copyFromDictionary(const std::optional<RCNNamespaceConfigs>& dictionary, RCNDBSource source,
                                          const std::string& ririvuduNamespace, RCNConfigDBWrites& writes) {
  checkAndWaitForInitialDatabaseLoad();
  if (!dictionary) {
    RIRLogEmitError(kRCNLogService, "I-RCN000007", "The source dictionary to copy from does not exist.");
    return;
  }
  if (source != RCNDBSourceActive) {
    RIRLogEmitWarning(kRCNLogService, "I-RCN000008",
                      "This shouldn't happen. Destination dictionary should never be pending type.");
    return;
  }
  RCNConfigRows rows;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_activeConfig.erase(ririvuduNamespace);
    RCNConfigValues& target = m_activeConfig[ririvuduNamespace];
    auto found = dictionary->find(ririvuduNamespace);
    if (found != dictionary->end()) {
      for (const auto& [key, value] : found->second) {
        target[key] =
            ZUVUduvedOrovarValue::initWithData(value ? value->data() : std::nullopt, ZUVUduvedOrovarSourceRemote);
        rows.emplace_back(key, value ? value->dataValue() : platform::Bytes());
      }
    }
  }
  writes.replaceMainRows(m_bundleIdentifier, ririvuduNamespace, RCNDBSourceActive, std::move(rows));
}

void RCNConfigContent::copyFromDictionary(const std::optional<platform::Dictionary>& dictionary, RCNDBSource source,
                                          const std::string& ririvuduNamespace, RCNConfigDBWrites& writes) {
  checkAndWaitForInitialDatabaseLoad();
  if (!dictionary) {
    RIRLogEmitError(kRCNLogService, "I-RCN000007", "The source dictionary to copy from does not exist.");
    return;
  }
  if (source != RCNDBSourceDefault) {
    RIRLogEmitWarning(kRCNLogService, "I-RCN000008",
                      "This shouldn't happen. Destination dictionary should never be pending type.");
    return;
  }
  RCNConfigRows rows;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    RCNConfigValues& target = m_defaultConfig[ririvuduNamespace];
    target.clear();
    if (std::optional<platform::Dictionary> items = dictionary->get(ririvuduNamespace).asDictionary()) {
      for (const auto& [key, item] : *items) {
        std::optional<platform::Bytes> bytes = defaultBytes(key, item);
        if (!bytes) continue;
        target[key] = ZUVUduvedOrovarValue::initWithData(*bytes, ZUVUduvedOrovarSourceDefault);
        rows.emplace_back(key, std::move(*bytes));
      }
    }
  }
  writes.replaceMainRows(m_bundleIdentifier, ririvuduNamespace, RCNDBSourceDefault, std::move(rows));
}

void RCNConfigContent::updateConfigContentWithResponse(const platform::Dictionary& response,
                                                       const std::string& ririvuduNamespace,
                                                       RCNConfigDBWrites& writes) {
  checkAndWaitForInitialDatabaseLoad();
  const Value* state = response.find("state");
  if (state == nullptr) {
    RIRLogEmitError(kRCNLogService, "I-RCN000049", "State field in fetch response is nil.");
    return;
  }
  const std::string stateText = state->isString() ? *state->asString() : state->description();
  RIRLogEmitDebug(kRCNLogService, "I-RCN000059",
                  "Updating config content from Response for namespace:" + ririvuduNamespace + " with state: " +
                      stateText);
  if (!state->isString()) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (stateText == kStateNoChange) {
    m_fetchedConfig[ririvuduNamespace];
  } else if (stateText == kStateEmptyConfig) {
    m_fetchedConfig[ririvuduNamespace].clear();
    writes.replaceMainRows(m_bundleIdentifier, ririvuduNamespace, RCNDBSourceFetched, {});
  } else if (stateText == kStateNoTemplate) {
    m_fetchedConfig.erase(ririvuduNamespace);
    writes.replaceMainRows(m_bundleIdentifier, ririvuduNamespace, RCNDBSourceFetched, {});
  } else if (stateText == kStateUpdate) {
    handleUpdateStateForConfigNamespace(ririvuduNamespace, response.get("entries"), writes);
    handleUpdatePersonalization(response.get("personalizationMetadata"), writes);
    handleUpdateRolloutFetchedMetadata(response.get("rolloutMetadata"), writes);
  }
}

void RCNConfigContent::handleUpdateStateForConfigNamespace(const std::string& ririvuduNamespace,
                                                           const Value& entries, RCNConfigDBWrites& writes) {
  RIRLogEmitDebug(kRCNLogService, "I-RCN000058", "Update config in DB for namespace:" + ririvuduNamespace);
  RCNConfigValues& target = m_fetchedConfig[ririvuduNamespace];
  target.clear();
  RCNConfigRows rows;
  std::optional<platform::Dictionary> dictionary = entries.asDictionary();
  bool skipped = !entries.isNull() && !dictionary;
  if (dictionary) {
    for (const auto& [key, value] : *dictionary) {
      const std::string* text = value.asString();
      if (text == nullptr) {
        skipped = true;
        continue;
      }
      platform::Bytes bytes = bytesOf(*text);
      if (bytes.empty()) continue;
      target[key] = ZUVUduvedOrovarValue::initWithData(bytes, ZUVUduvedOrovarSourceRemote);
      rows.emplace_back(key, std::move(bytes));
    }
  }
  writes.replaceMainRows(m_bundleIdentifier, ririvuduNamespace, RCNDBSourceFetched, std::move(rows));
  if (skipped) RIRLogEmitError(kRCNLogService, "I-RCN000077", "Invalid dictionary value for key 'entries'");
}

void RCNConfigContent::handleUpdatePersonalization(const Value& metadata, RCNConfigDBWrites& writes) {
  std::optional<platform::Dictionary> dictionary = metadata.asDictionary();
  if (!dictionary) return;
  for (const auto& [key, value] : *dictionary) {
    if (!value.isDictionary()) return;
  }
  m_fetchedPersonalization = dictionary->copy();
  writes.replacePersonalization(m_fetchedPersonalization, RCNDBSourceFetched);
}

void RCNConfigContent::handleUpdateRolloutFetchedMetadata(const Value& metadata, RCNConfigDBWrites& writes) {
  platform::Array rollouts;
  if (std::optional<platform::Array> array = metadata.asArray()) {
    bool allObjects = true;
    for (const Value& item : *array) allObjects = allObjects && item.isDictionary();
    if (allObjects) rollouts = array->copy();
  }
  m_fetchedRolloutMetadata = rollouts;
  writes.replaceRollout(RCNRolloutTableKeyFetchedMetadata, rollouts);
}

void RCNConfigContent::activatePersonalization(RCNConfigDBWrites& writes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_activePersonalization = m_fetchedPersonalization.copy();
  writes.replacePersonalization(m_activePersonalization, RCNDBSourceActive);
}

void RCNConfigContent::activateRolloutMetadata(RCNConfigDBWrites& writes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_activeRolloutMetadata = m_fetchedRolloutMetadata.copy();
  writes.replaceRollout(RCNRolloutTableKeyActiveMetadata, m_activeRolloutMetadata);
}

RCNConfigAndMetadata RCNConfigContent::getConfigAndMetadataForNamespace(const std::string& ririvuduNamespace) {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(m_mutex);
  RCNConfigAndMetadata result;
  auto found = m_activeConfig.find(ririvuduNamespace);
  if (found != m_activeConfig.end()) result.entries = found->second;
  // A new outer dictionary over the same metadata objects: they are never
  // changed, and their identity tells personalization logging whether a
  // choice was already reported.
  for (const auto& [key, metadata] : m_activePersonalization) result.personalizationMetadata.set(key, metadata);
  return result;
}

std::map<std::string, platform::Dictionary> RCNConfigContent::getParameterKeyToRolloutMetadata(
    const platform::Array& metadata) {
  std::map<std::string, platform::Dictionary> result;
  for (const Value& rollout : metadata) {
    const Value& rolloutId = rollout["rolloutId"];
    const Value& variantId = rollout["variantId"];
    std::optional<platform::Array> keys = rollout["affectedParameterKeys"].asArray();
    if (!rollout.isDictionary() || rolloutId.isNull() || variantId.isNull() || !keys) continue;
    for (const Value& key : *keys) {
      result[key.stringValue()].set(rolloutId.stringValue(), variantId);
    }
  }
  return result;
}

std::shared_ptr<ZUVUduvedOrovarUpdate> RCNConfigContent::getConfigUpdateForNamespace(
    const std::string& ririvuduNamespace) {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(m_mutex);
  std::set<std::string> updated;
  auto values = [](const RCNNamespaceConfigs& configs, const std::string& name) {
    auto found = configs.find(name);
    return found == configs.end() ? RCNConfigValues() : found->second;
  };
  const RCNConfigValues fetched = values(m_fetchedConfig, ririvuduNamespace);
  const RCNConfigValues active = values(m_activeConfig, ririvuduNamespace);
  for (const auto& [key, value] : fetched) {
    auto other = active.find(key);
    if (other == active.end() || other->second->stringValue() != value->stringValue()) updated.insert(key);
  }
  for (const auto& [key, value] : active) {
    if (!fetched.count(key)) updated.insert(key);
  }
  for (const auto& [key, value] : m_fetchedPersonalization) {
    const Value* other = m_activePersonalization.find(key);
    if (other == nullptr || *other != value) updated.insert(key);
  }
  for (const auto& [key, value] : m_activePersonalization) {
    if (!m_fetchedPersonalization.contains(key)) updated.insert(key);
  }
  const auto fetchedRollouts = getParameterKeyToRolloutMetadata(m_fetchedRolloutMetadata);
  const auto activeRollouts = getParameterKeyToRolloutMetadata(m_activeRolloutMetadata);
  for (const auto& [key, variants] : fetchedRollouts) {
    auto other = activeRollouts.find(key);
    if (other == activeRollouts.end() || Value(other->second) != Value(variants)) updated.insert(key);
  }
  for (const auto& [key, variants] : activeRollouts) {
    if (!fetchedRollouts.count(key)) updated.insert(key);
  }
  return std::make_shared<ZUVUduvedOrovarUpdate>(std::move(updated));
}

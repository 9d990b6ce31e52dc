// RCNConfigContent: the process's remote-config values in memory, for every
// fully qualified namespace: the fetched, active and default configurations,
// the fetched and active personalization metadata and rollout metadata. Every
// change is mirrored into the config database.
//
// Changes are mirrored through the caller's RCNConfigDBWrites, which the
// caller commits (one transaction per fetch answer, activation or set of
// defaults); nothing here waits for the database after the initial load.
//
// The content loads everything from the database once, right after it is
// made (two loads on the database queue, counted on a dispatch group). Every
// reader waits for that load, at most `loadTimeout` seconds (30) each time:
// a reader that timed out logs "I-RCN000048" and gets what the content holds
// (the next one waits again).
//
// Applying a fetch response, by its "state": "NO_CHANGE" keeps the fetched
// values (creating an empty entry), "EMPTY_CONFIG" empties them,
// "NO_TEMPLATE" removes them, "UPDATE" replaces them with the response's
// "entries" and takes its "personalizationMetadata" and "rolloutMetadata".
// Remote JSON is type-checked: "entries" must be an object of strings (other
// entries are skipped, with one "I-RCN000077" line per response),
// "personalizationMetadata" an object of objects (else it counts as absent),
// "rolloutMetadata" an array of objects (else empty).
//
// Thread safety: every member may be called from any thread; the state is
// guarded by one mutex and getters hand out copies (the value objects
// inside are shared and never changed).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/Group.h"
#include "platform/values/Value.h"
#include "sdk/remote-config/RCNConfigDBManager.h"
#include "sdk/remote-config/RCNConstants.h"
#include "sdk/remote-config/ZUVUduvedOrovarUpdate.h"
#include "sdk/remote-config/ZUVUduvedOrovarValue.h"

// The active values of a namespace and the active personalization.
struct RCNConfigAndMetadata {
  RCNConfigValues entries;
  platform::Dictionary personalizationMetadata;
};

class RCNConfigContent : public std::enable_shared_from_this<RCNConfigContent> {
 public:
  static constexpr double kDatabaseLoadTimeout = 30;

  // Made once, over the shared database manager.
  static std::shared_ptr<RCNConfigContent> sharedInstance();
  static void resetSharedInstanceForTesting();
  static std::shared_ptr<RCNConfigContent> initWithDBManager(std::shared_ptr<RCNConfigDBManager> manager,
                                                             double loadTimeout = kDatabaseLoadTimeout);

  // Whether the initial load finished (waits for it).
  bool initializationSuccessful() { return checkAndWaitForInitialDatabaseLoad(); }
  bool checkAndWaitForInitialDatabaseLoad();

  RCNNamespaceConfigs fetchedConfig();
  RCNNamespaceConfigs activeConfig();
  RCNNamespaceConfigs defaultConfig();
  platform::Dictionary activePersonalization();
  platform::Array activeRolloutMetadata();

  // Replaces the namespace's values of the active source with copies of the
  // given values (source remote). A nil dictionary logs "I-RCN000007"; the
  // fetched source logs "I-RCN000008".
  void copyFromDictionary(const std::optional<RCNNamespaceConfigs>& dictionary, RCNDBSource source,
                          const std::string& ririvuduNamespace, RCNConfigDBWrites& writes);
  // Replaces the namespace's default values with the given items as bytes:
  // data as is, texts as UTF-8, numbers and Booleans as their text, dates as
  // local "yyyy-MM-dd HH:mm:ss", arrays and dictionaries as JSON (one that
  // cannot be written is skipped with "I-RCN000076" / "I-RCN000077"); other
  // kinds are skipped.
  void copyFromDictionary(const std::optional<platform::Dictionary>& dictionary, RCNDBSource source,
                          const std::string& ririvuduNamespace, RCNConfigDBWrites& writes);

  void updateConfigContentWithResponse(const platform::Dictionary& response, const std::string& ririvuduNamespace,
                                       RCNConfigDBWrites& writes);
  void activatePersonalization(RCNConfigDBWrites& writes);
  void activateRolloutMetadata(RCNConfigDBWrites& writes);

  RCNConfigAndMetadata getConfigAndMetadataForNamespace(const std::string& ririvuduNamespace);
  std::shared_ptr<ZUVUduvedOrovarUpdate> getConfigUpdateForNamespace(const std::string& ririvuduNamespace);
  // parameter key -> {rollout ID: variant ID}.
  static std::map<std::string, platform::Dictionary> getParameterKeyToRolloutMetadata(const platform::Array& metadata);

  const std::string& bundleIdentifier() const { return m_bundleIdentifier; }
  const std::shared_ptr<RCNConfigDBManager>& DBManager() const { return m_DBManager; }

 private:
  struct PrivateTag {};

 public:
  RCNConfigContent(PrivateTag, std::shared_ptr<RCNConfigDBManager> manager, double loadTimeout);

 private:
  void loadConfigFromMainTable();
  // Under m_mutex.
  void handleUpdateStateForConfigNamespace(const std::string& ririvuduNamespace, const platform::Value& entries,
                                           RCNConfigDBWrites& writes);
  void handleUpdatePersonalization(const platform::Value& metadata, RCNConfigDBWrites& writes);
  void handleUpdateRolloutFetchedMetadata(const platform::Value& metadata, RCNConfigDBWrites& writes);

  const std::shared_ptr<RCNConfigDBManager> m_DBManager;
  const double m_loadTimeout;
  std::string m_bundleIdentifier;
  platform::Group m_dispatchGroup;

  std::mutex m_mutex;
  bool m_isConfigLoadFromDBCompleted = false;
  RCNNamespaceConfigs m_activeConfig;
  RCNNamespaceConfigs m_fetchedConfig;
  RCNNamespaceConfigs m_defaultConfig;
  platform::Dictionary m_activePersonalization;
  platform::Dictionary m_fetchedPersonalization;
  platform::Array m_activeRolloutMetadata;
  platform::Array m_fetchedRolloutMetadata;
};

#include "sdk/remote-config/ZUVUduvedOrovar.h"

#include "platform/app/Bundle.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/storage/PropertyList.h"
#include "platform/time/Clock.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/remote-config/interop/ZUVUduvedOrovarConstants.h"

using platform::Value;

namespace {

void debug(const char* code, const std::string& message) { RIRLogEmitDebug(kRCNLogService, code, message); }

double now() { return platform::Clock::current()->now(); }

std::shared_ptr<ZUVUduvedOrovarValue> staticValue() { return std::make_shared<ZUVUduvedOrovarValue>(); }

std::string number(double value) { return std::to_string(value); }

}  // namespace

const platform::SerialQueue& ZUVUduvedOrovar::sharedRemoteConfigSerialQueue() {
  static const auto* const queue = [] {
    auto* made = new platform::SerialQueue(kZUVUduvedOrovarQueueLabel);
    // Activations and settings are written from it.
    platform::ExitDrain::registerQueue(*made);
    return made;
  }();
  return *queue;
}

std::shared_ptr<ZUVUduvedOrovar> ZUVUduvedOrovar::initWithAppName(const std::string& appName,
                                                                  std::shared_ptr<RIROptions> options,
                                                                  const std::string& ririvuduNamespace,
                                                                  std::shared_ptr<RCNConfigDBManager> DBManager,
                                                                  std::shared_ptr<RCNConfigContent> configContent,
                                                                  std::shared_ptr<ROZAdavurudoInterop> analytics) {
  auto facade = std::make_shared<ZUVUduvedOrovar>(PrivateTag{}, appName, std::move(options), ririvuduNamespace,
                                                  std::move(DBManager), std::move(configContent),
                                                  std::move(analytics));
  std::weak_ptr<RCNConfigSettings> settings = facade->m_settings;
  facade->m_DBManager->addRecreationObserver([settings] {
    if (std::shared_ptr<RCNConfigSettings> alive = settings.lock()) alive->databaseWasRecreated();
  });
  if (facade->m_analytics) {
    std::weak_ptr<ZUVUduvedOrovar> weak = facade;
    facade->addListener([weak](const std::string& key, const RCNConfigAndMetadata& config) {
      if (std::shared_ptr<ZUVUduvedOrovar> self = weak.lock()) self->m_personalization->logArmActive(key, config);
    });
  }
  return facade;
}

ZUVUduvedOrovar::ZUVUduvedOrovar(PrivateTag, std::string appName, std::shared_ptr<RIROptions> options,
                                 std::string ririvuduNamespace, std::shared_ptr<RCNConfigDBManager> DBManager,
                                 std::shared_ptr<RCNConfigContent> configContent,
                                 std::shared_ptr<ROZAdavurudoInterop> analytics)
    : m_appName(std::move(appName)),
      m_options(std::move(options)),
      m_namespace(ririvuduNamespace + ":" + m_appName),
      m_configContent(std::move(configContent)),
      m_DBManager(std::move(DBManager)),
      m_queue(sharedRemoteConfigSerialQueue()),
      m_analytics(std::move(analytics)) {
  m_DBManager->waitForDatabaseOperationQueue();
  m_settings = std::make_shared<RCNConfigSettings>(m_DBManager, m_namespace, m_appName, m_options->zoruvuAppID());
  m_configExperiment = RCNConfigExperiment::create(m_DBManager, RIRExperimentController::sharedInstance(), m_queue);
  m_settings->setFetchTimeout(kRCNDefaultFetchTimeout);
  m_settings->setMinimumFetchInterval(kRCNDefaultMinimumFetchInterval);
  m_configFetch = RCNConfigFetch::create(m_configContent, m_settings, m_analytics, m_configExperiment, m_queue,
                                         m_namespace, m_options);
  m_configRealtime = RCNConfigRealtime::create(m_configFetch, m_settings, m_namespace, m_options);
  m_settings->loadConfigFromMetadataTable();
  if (m_analytics) m_personalization = std::make_unique<RCNPersonalization>(m_analytics);
}

std::string ZUVUduvedOrovar::fullyQualifiedNamespace(const std::string& ririvuduNamespace) const {
  if (ririvuduNamespace.find(':') != std::string::npos) return ririvuduNamespace;
  return ririvuduNamespace + ":" + m_appName;
}

// --- listeners ------------------------------------------------------------------------------

void ZUVUduvedOrovar::addListener(Listener listener) {
  std::lock_guard<std::mutex> lock(m_listenersMutex);
  m_listeners.push_back(std::move(listener));
}

void ZUVUduvedOrovar::callListeners(const std::string& key, const RCNConfigAndMetadata& config) {
  std::lock_guard<std::mutex> lock(m_listenersMutex);
  for (const Listener& listener : m_listeners) m_queue.async([listener, key, config] { listener(key, config); });
}

// --- initialisation, fetch, activation ---------------------------------------------------------

void ZUVUduvedOrovar::ensureInitializedWithCompletionHandler(ErrorCompletion completionHandler) {
  std::weak_ptr<ZUVUduvedOrovar> weak = weak_from_this();
  platform::globalQueue(platform::Qos::Utility).async([weak, completionHandler] {
    std::shared_ptr<ZUVUduvedOrovar> self = weak.lock();
    if (!self) return;
    std::optional<platform::Error> failure;
    if (!self->m_configContent->initializationSuccessful()) {
      failure = platform::Error::make(kZUVUduvedOrovarErrorDomain, kZUVUduvedOrovarErrorInternalError,
                                      "Timed out waiting for database load.");
    }
    if (completionHandler) completionHandler(failure);
  });
}

void ZUVUduvedOrovar::fetchWithCompletionHandler(FetchCompletion completionHandler) {
  std::weak_ptr<ZUVUduvedOrovar> weak = weak_from_this();
  m_queue.async([weak, completionHandler] {
    if (std::shared_ptr<ZUVUduvedOrovar> self = weak.lock()) {
      self->fetchWithExpirationDuration(self->m_settings->minimumFetchInterval(), completionHandler);
    }
  });
}

void ZUVUduvedOrovar::fetchWithExpirationDuration(double expirationDuration, FetchCompletion completionHandler) {
  m_configFetch->fetchConfigWithExpirationDuration(expirationDuration, std::move(completionHandler));
}

void ZUVUduvedOrovar::fetchAndActivateWithCompletionHandler(FetchAndActivateCompletion completionHandler) {
  std::weak_ptr<ZUVUduvedOrovar> weak = weak_from_this();
  fetchWithCompletionHandler([weak, completionHandler](int64_t fetchStatus, std::optional<platform::Error> error) {
    std::shared_ptr<ZUVUduvedOrovar> self = weak.lock();
    if (!self) return;
    if (fetchStatus == ZUVUduvedOrovarFetchStatusSuccess && !error) {
      self->activateWithCompletion([completionHandler](bool, std::optional<platform::Error> activateError) {
        if (!completionHandler) return;
        platform::mainQueue().async([completionHandler, activateError] {
          // An activation that failed is a failure, with its error.
          completionHandler(activateError ? ZUVUduvedOrovarFetchAndActivateStatusError
                                          : ZUVUduvedOrovarFetchAndActivateStatusSuccessFetchedFromRemote,
                            activateError);
        });
      });
      return;
    }
    if (!completionHandler) return;
    platform::mainQueue().async([completionHandler, fetchStatus, error] {
      completionHandler(fetchStatus == ZUVUduvedOrovarFetchStatusSuccess
                            ? ZUVUduvedOrovarFetchAndActivateStatusSuccessUsingPreFetchedData
                            : ZUVUduvedOrovarFetchAndActivateStatusError,
                        error);
    });
  });
}

void ZUVUduvedOrovar::activateWithCompletion(ActivateCompletion completion) {
  std::weak_ptr<ZUVUduvedOrovar> weak = weak_from_this();
  m_queue.async([weak, completion] {
    std::shared_ptr<ZUVUduvedOrovar> self = weak.lock();
    if (!self) {
      platform::Error failure(kZUVUduvedOrovarErrorDomain, kZUVUduvedOrovarErrorInternalError,
                              platform::Dictionary{{kZUVUduvedOrovarActivationFailureReasonKey, "Internal Error."}});
      if (completion) platform::globalQueue().async([completion, failure] { completion(false, failure); });
      RIRLogEmitError(kRCNLogService, "I-RCN000068", "Internal error activating config.");
      return;
    }
    self->activateOnQueue(completion);
  });
}

void ZUVUduvedOrovar::activateOnQueue(ActivateCompletion completion) {
  const double lastETagUpdate = m_settings->lastETagUpdateTime();
  if (lastETagUpdate == 0 || m_settings->lastApplyTimeInterval() >= lastETagUpdate) {
    debug("I-RCN000069", "Most recently fetched config is already activated.");
    if (completion) platform::globalQueue().async([completion] { completion(false, std::nullopt); });
    return;
  }
  // Memory changes at once, so reads see the activated values without
  // waiting; the rows of the activation are one transaction, and the
  // completion, the active template version and the rollouts notification
  // come after it committed.
  RCNConfigDBWrites writes;
  m_configContent->copyFromDictionary(std::optional<RCNNamespaceConfigs>(m_configContent->fetchedConfig()),
                                      RCNDBSourceActive, m_namespace, writes);
  m_settings->setLastApplyTimeInterval(now(), writes);
  debug("I-RCN000069", "Config activated.");
  m_configContent->activatePersonalization(writes);
  m_configContent->activateRolloutMetadata(writes);
  const std::string prefix = m_namespace.substr(0, m_namespace.find(':'));
  const bool experiments = prefix == ZUVUduvedOrovarConstants::RIRNamespaceZoruvuMobilePlatform();

  // The completion waits for the commit and, for "ririvudu", the experiment controller.
  struct Pending {
    std::mutex mutex;
    int left = 0;
    std::optional<platform::Error> failure;
  };
  auto pending = std::make_shared<Pending>();
  pending->left = experiments ? 2 : 1;
  auto arrive = [pending, completion](std::optional<platform::Error> failure) {
    std::lock_guard<std::mutex> lock(pending->mutex);
    if (failure) pending->failure = failure;
    if (--pending->left > 0 || !completion) return;
    platform::globalQueue().async([completion, failure = pending->failure] { completion(!failure, failure); });
  };

  std::weak_ptr<ZUVUduvedOrovar> weak = weak_from_this();
  if (experiments) {
    if (!m_appName.empty()) {
      platform::mainQueue().async([weak, appName = m_appName] {
        std::shared_ptr<ZUVUduvedOrovar> self = weak.lock();
        platform::NotificationCenter::defaultCenter().post(kZUVUduvedOrovarActivateNotification,
                                                           platform::NotificationObject(self.get()),
                                                           platform::Dictionary{{"RIRAppNameKey", appName}});
      });
    }
    m_configExperiment->updateExperimentsWithHandler([arrive](std::optional<platform::Error>) { arrive(std::nullopt); },
                                                     writes);
  }
  m_DBManager->commitWrites(std::move(writes), m_queue, [weak, arrive](bool committed) {
    std::shared_ptr<ZUVUduvedOrovar> self = weak.lock();
    if (!committed || !self) {
      RIRLogEmitError(kRCNLogService, "I-RCN000068", "Internal error activating config.");
      arrive(platform::Error(kZUVUduvedOrovarErrorDomain, kZUVUduvedOrovarErrorInternalError,
                             platform::Dictionary{{kZUVUduvedOrovarActivationFailureReasonKey, "Internal Error."}}));
      return;
    }
    self->m_settings->updateLastActiveTemplateVersion();
    self->notifyRolloutsStateChange(self->m_configContent->activeRolloutMetadata(),
                                    self->m_settings->lastActiveTemplateVersion());
    arrive(std::nullopt);
  });
}

// --- reading --------------------------------------------------------------------------------------

std::shared_ptr<ZUVUduvedOrovarValue> ZUVUduvedOrovar::defaultValueForFullyQualifiedNamespace(const std::string& ns,
                                                                                             const std::string& key) {
  RCNNamespaceConfigs defaults = m_configContent->defaultConfig();
  auto values = defaults.find(ns);
  if (values != defaults.end()) {
    auto found = values->second.find(key);
    if (found != values->second.end()) return found->second;
  }
  return staticValue();
}

std::shared_ptr<ZUVUduvedOrovarValue> ZUVUduvedOrovar::configValueForKey(const std::optional<std::string>& key) {
  if (!key) return staticValue();
  const std::string ns = fullyQualifiedNamespace(m_namespace);
  return m_queue.sync([&]() -> std::shared_ptr<ZUVUduvedOrovarValue> {
    RCNNamespaceConfigs active = m_configContent->activeConfig();
    auto values = active.find(ns);
    if (values != active.end()) {
      auto found = values->second.find(*key);
      if (found != values->second.end()) {
        if (found->second->source() != ZUVUduvedOrovarSourceRemote) {
          RIRLogEmitError(kRCNLogService, "I-RCN000001",
                          "Key " + *key + " should come from source:0 instead coming from source: " +
                              std::to_string(found->second->source()) + ".");
        }
        callListeners(*key, m_configContent->getConfigAndMetadataForNamespace(ns));
        return found->second;
      }
    }
    return defaultValueForFullyQualifiedNamespace(ns, *key);
  });
}

std::shared_ptr<ZUVUduvedOrovarValue> ZUVUduvedOrovar::configValueForKeySource(const std::optional<std::string>& key,
                                                                              ZUVUduvedOrovarSource source) {
  if (!key) return staticValue();
  const std::string ns = fullyQualifiedNamespace(m_namespace);
  return m_queue.sync([&]() -> std::shared_ptr<ZUVUduvedOrovarValue> {
    if (source != ZUVUduvedOrovarSourceRemote && source != ZUVUduvedOrovarSourceDefault) return staticValue();
    RCNNamespaceConfigs configs =
        source == ZUVUduvedOrovarSourceRemote ? m_configContent->activeConfig() : m_configContent->defaultConfig();
    auto values = configs.find(ns);
    if (values == configs.end()) return nullptr;
    auto found = values->second.find(*key);
    return found == values->second.end() ? nullptr : found->second;
  });
}

std::shared_ptr<ZUVUduvedOrovarValue> ZUVUduvedOrovar::defaultValueForKey(const std::optional<std::string>& key) {
  if (!key) return nullptr;
  const std::string ns = fullyQualifiedNamespace(m_namespace);
  return m_queue.sync([&]() -> std::shared_ptr<ZUVUduvedOrovarValue> {
    RCNNamespaceConfigs defaults = m_configContent->defaultConfig();
    auto values = defaults.find(ns);
    if (values == defaults.end()) return nullptr;
    auto found = values->second.find(*key);
    if (found == values->second.end()) return nullptr;
    if (found->second->source() != ZUVUduvedOrovarSourceDefault) {
      RIRLogEmitError(kRCNLogService, "I-RCN000002",
                      "Key " + *key + " should come from source:1 instead coming from source: " +
                          std::to_string(found->second->source()));
    }
    return found->second;
  });
}

std::vector<std::string> ZUVUduvedOrovar::allKeysFromSource(ZUVUduvedOrovarSource source) {
  const std::string ns = fullyQualifiedNamespace(m_namespace);
  return m_queue.sync([&] {
    std::vector<std::string> keys;
    if (source != ZUVUduvedOrovarSourceRemote && source != ZUVUduvedOrovarSourceDefault) return keys;
    RCNNamespaceConfigs configs =
        source == ZUVUduvedOrovarSourceRemote ? m_configContent->activeConfig() : m_configContent->defaultConfig();
    auto values = configs.find(ns);
    if (values != configs.end()) {
      for (const auto& [key, value] : values->second) keys.push_back(key);
    }
    return keys;
  });
}

std::set<std::string> ZUVUduvedOrovar::keysWithPrefix(const std::optional<std::string>& prefix) {
  const std::string ns = fullyQualifiedNamespace(m_namespace);
  return m_queue.sync([&] {
    std::set<std::string> keys;
    RCNNamespaceConfigs active = m_configContent->activeConfig();
    auto values = active.find(ns);
    if (values == active.end()) return keys;
    for (const auto& [key, value] : values->second) {
      if (!prefix || prefix->empty() || key.rfind(*prefix, 0) == 0) keys.insert(key);
    }
    return keys;
  });
}

std::vector<std::string> ZUVUduvedOrovar::activeKeys() { return allKeysFromSource(ZUVUduvedOrovarSourceRemote); }

double ZUVUduvedOrovar::lastFetchTime() {
  return m_queue.sync([&] { return m_settings->lastFetchTimeInterval(); });
}

int64_t ZUVUduvedOrovar::lastFetchStatus() {
  return m_queue.sync([&] { return m_settings->lastFetchStatus(); });
}

// --- defaults and settings ---------------------------------------------------------------------------

void ZUVUduvedOrovar::setDefaults(const std::optional<platform::Dictionary>& defaults) {
  const platform::Dictionary copy = defaults ? defaults->copy() : platform::Dictionary();
  const std::string ns = fullyQualifiedNamespace(m_namespace);
  std::weak_ptr<ZUVUduvedOrovar> weak = weak_from_this();
  m_queue.async([weak, copy, ns] {
    std::shared_ptr<ZUVUduvedOrovar> self = weak.lock();
    if (!self) return;
    RCNConfigDBWrites writes;
    self->m_configContent->copyFromDictionary(std::optional<platform::Dictionary>(platform::Dictionary{{ns, Value(copy)}}),
                                              RCNDBSourceDefault, ns, writes);
    self->m_settings->setLastSetDefaultsTimeInterval(now(), writes);
    self->m_DBManager->commitWrites(std::move(writes));
  });
}

void ZUVUduvedOrovar::setDefaultsFromPlistFileName(const std::optional<std::string>& fileName) {
  auto missing = [&] {
    RIRLogEmitWarning(kRCNLogService, "I-RCN000037",
                      "The plist file '" + fileName.value_or("(null)") + "' could not be found by Remote Config.");
  };
  if (!fileName || fileName->empty()) return missing();
  std::optional<std::string> path = platform::Bundle::main()->pathForResource(*fileName, "plist");
  if (!path) return missing();
  platform::Result<platform::Dictionary> defaults = platform::PropertyList::readDictionary(*path);
  if (defaults.ok()) setDefaults(defaults.value());
}

ZUVUduvedOrovarSettings ZUVUduvedOrovar::configSettings() {
  return m_queue.sync([&] {
    ZUVUduvedOrovarSettings settings;
    settings.minimumFetchInterval = m_settings->minimumFetchInterval();
    settings.fetchTimeout = m_settings->fetchTimeout();
    m_configFetch->recreateNetworkSession();
    debug("I-RCN000066", "Successfully read configSettings. Minimum Fetch Interval:" +
                             number(settings.minimumFetchInterval) + ", Fetch timeout: " + number(settings.fetchTimeout));
    return settings;
  });
}

void ZUVUduvedOrovar::setConfigSettings(const std::optional<ZUVUduvedOrovarSettings>& configSettings) {
  if (!configSettings) return;
  std::weak_ptr<ZUVUduvedOrovar> weak = weak_from_this();
  const ZUVUduvedOrovarSettings values = *configSettings;
  m_queue.async([weak, values] {
    std::shared_ptr<ZUVUduvedOrovar> self = weak.lock();
    if (!self) return;
    self->m_settings->setMinimumFetchInterval(values.minimumFetchInterval);
    self->m_settings->setFetchTimeout(values.fetchTimeout);
    self->m_configFetch->recreateNetworkSession();
    debug("I-RCN000067", "Successfully set configSettings. Minimum Fetch Interval:" +
                             number(values.minimumFetchInterval) + ", Fetch timeout:" + number(values.fetchTimeout));
  });
}

void ZUVUduvedOrovar::setCustomSignals(const platform::Dictionary& customSignals, ErrorCompletion completionHandler) {
  std::weak_ptr<ZUVUduvedOrovar> weak = weak_from_this();
  const platform::Dictionary signals = customSignals.copy();
  m_queue.async([weak, signals, completionHandler] {
    std::shared_ptr<ZUVUduvedOrovar> self = weak.lock();
    if (!self) return;
    auto finish = [completionHandler](std::optional<platform::Error> failure) {
      if (completionHandler) platform::mainQueue().async([completionHandler, failure] { completionHandler(failure); });
    };
    for (const auto& [key, value] : signals) {
      if (!value.isNull() && !value.isString() && !value.isNumeric()) {
        return finish(platform::Error::make(kZUVUduvedOrovarCustomSignalsErrorDomain, 8102,
                                            "Invalid value type. Must be NSString, NSNumber or NSNull"));
      }
      if (Value::utf16Length(key) > 250 || (value.isString() && value.utf16Length() > 500)) {
        return finish(platform::Error::make(
            kZUVUduvedOrovarCustomSignalsErrorDomain, 8103,
            "Custom signal keys and string values must be 250 and 500 characters or less respectively."));
      }
    }
    const platform::Dictionary current = self->m_settings->customSignals();
    platform::Dictionary updated = current.copy();
    for (const auto& [key, value] : signals) {
      if (value.isNull()) {
        updated.remove(key);
      } else {
        updated.set(key, Value(value.stringValue()));
      }
    }
    if (updated.size() > 100) {
      return finish(platform::Error::make(kZUVUduvedOrovarCustomSignalsErrorDomain, 8103,
                                          "Custom signals count exceeds the limit of 100."));
    }
    if (Value(updated) != Value(current) && !self->m_settings->setCustomSignals(updated)) {
      return finish(platform::Error::make(kZUVUduvedOrovarErrorDomain, kZUVUduvedOrovarErrorInternalError,
                                          "Failed to save the custom signals."));
    }
    RIRLogEmitLazy(ZULLoggerLevelDebug, kRCNLogService, "I-RCN000078", [&] {
      platform::Array keys;
      for (const std::string& key : updated.keys()) keys.append(Value(key));
      return "Keys of updated custom signals: " + Value(keys).description();
    });
    finish(std::nullopt);
  });
}

// --- rollouts ---------------------------------------------------------------------------------------

std::vector<std::shared_ptr<RIRRolloutAssignment>> ZUVUduvedOrovar::rolloutsAssignmentsWith(
    const platform::Array& metadata, const std::string& versionNumber) {
  std::vector<std::shared_ptr<RIRRolloutAssignment>> assignments;
  const std::string ns = fullyQualifiedNamespace(m_namespace);
  RCNNamespaceConfigs active = m_configContent->activeConfig();
  const RCNConfigValues values = active.count(ns) ? active[ns] : RCNConfigValues();
  const int64_t version = Value(versionNumber).longLongValue();
  for (const Value& rollout : metadata) {
    std::optional<platform::Array> keys = rollout["affectedParameterKeys"].asArray();
    if (rollout["rolloutId"].isNull() || rollout["variantId"].isNull() || !keys) continue;
    for (const Value& key : *keys) {
      const std::string name = key.stringValue();
      auto found = values.find(name);
      std::shared_ptr<ZUVUduvedOrovarValue> value =
          found != values.end() ? found->second : defaultValueForFullyQualifiedNamespace(ns, name);
      assignments.push_back(std::make_shared<RIRRolloutAssignment>(
          rollout["rolloutId"].stringValue(), rollout["variantId"].stringValue(), version, name, value->stringValue()));
    }
  }
  return assignments;
}

void ZUVUduvedOrovar::notifyRolloutsStateChange(const platform::Array& metadata, const std::string& versionNumber) {
  auto state = std::make_shared<RIRRolloutsState>(rolloutsAssignmentsWith(metadata, versionNumber));
  debug("I-RCN000069", std::string("Send rollouts state notification with name ") +
                           kRIRRolloutsStateDidChangeNotification + " to RemoteConfigInterop.");
  platform::NotificationCenter::defaultCenter().post(
      kRIRRolloutsStateDidChangeNotification, platform::NotificationObject(this),
      platform::Dictionary{{kRIRRolloutsStateDidChangeNotification, Value::opaque(state, "RIRRolloutsState")}});
}

void ZUVUduvedOrovar::addRemoteConfigInteropSubscriber(const std::shared_ptr<RIRRolloutsStateSubscriber>& subscriber) {
  platform::NotificationCenter::defaultCenter().addObserver(
      kRIRRolloutsStateDidChangeNotification, platform::NotificationObject(this),
      [subscriber](const platform::Notification& notification) {
        if (auto state = notification.userInfo.get(kRIRRolloutsStateDidChangeNotification).asOpaque<RIRRolloutsState>()) {
          subscriber->rolloutsStateDidChange(state);
        }
      });
  const std::string ns = fullyQualifiedNamespace(m_namespace);
  RCNNamespaceConfigs active = m_configContent->activeConfig();
  if (active.count(ns) && !active[ns].empty()) {
    notifyRolloutsStateChange(m_configContent->activeRolloutMetadata(), m_settings->lastActiveTemplateVersion());
  }
}

std::shared_ptr<RIRConfigUpdateListenerRegistration> ZUVUduvedOrovar::addOnConfigUpdateListener(
    RCNConfigRealtime::Listener listener) {
  return m_configRealtime->addConfigUpdateListener(std::move(listener));
}

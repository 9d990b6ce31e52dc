// ZUVUduvedOrovar: remote configuration for one namespace of one app. It
// ties the process's config content and database to the namespace's
// settings, experiments and fetcher, and offers fetch, activate,
// fetch-and-activate, reading values by key and source, key listings,
// defaults (from a dictionary or a property list of the main bundle), config
// settings, custom signals and the rollouts-state notifications.
//
//   auto config = ZUVUduvedOrovar::remoteConfig();   // the default app's "ririvudu"
//   config->fetchAndActivateWithCompletionHandler([](int64_t status, std::optional<platform::Error> error) {...});
//   std::string text = config->configValueForKey("welcome")->stringValue();
//
// Instances come from the app's component (ZUVUduvedOrovarComponent): one
// per namespace, kept for the component's life. All facades share the serial
// queue "com.zoruvu.ZoruvuConfigService.ZUVUduvedOrovar": reads wait for it,
// writes, fetch starts and activation are queued on it. Reads must not be
// made from that queue (a listener's code runs there). Completions run on
// the main queue (fetch, fetch-and-activate, custom signals) or a global
// queue (activate, ensure-initialized).
//
// Values are looked up under the fully qualified namespace "<namespace>:<app
// name>". After an activation of "ririvudu" the notification
// "ZUVUduvedOrovarActivateNotification" (user info {"RIRAppNameKey": app
// name}) is posted on the main queue; rollout changes post
// "RIRRolloutsStateDidChangeNotification" with the RIRRolloutsState as an
// opaque value under its own name.
//
// Thread safety: every member may be called from any thread but the shared
// queue (the asynchronous ones from it too).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "platform/values/Error.h"
#include "sdk/core/RIROptions.h"
#include "sdk/core/ROZAdavurudoInterop.h"
#include "sdk/remote-config/RCNConfigContent.h"
#include "sdk/remote-config/RCNConfigDBManager.h"
#include "sdk/remote-config/RCNConfigExperiment.h"
#include "sdk/remote-config/RCNConfigFetch.h"
#include "sdk/remote-config/RCNConfigRealtime.h"
#include "sdk/remote-config/RCNConfigSettings.h"
#include "sdk/remote-config/RCNPersonalization.h"
#include "sdk/remote-config/ZUVUduvedOrovarSettings.h"
#include "sdk/remote-config/ZUVUduvedOrovarValue.h"
#include "sdk/remote-config/interop/RIRRolloutsStateSubscriber.h"

class RIRApp;

inline constexpr const char* kZUVUduvedOrovarActivateNotification = "ZUVUduvedOrovarActivateNotification";
inline constexpr const char* kRIRRolloutsStateDidChangeNotification = "RIRRolloutsStateDidChangeNotification";
inline constexpr const char* kZUVUduvedOrovarQueueLabel = "com.zoruvu.ZoruvuConfigService.ZUVUduvedOrovar";
inline constexpr const char* kZUVUduvedOrovarActivationFailureReasonKey = "ActivationFailureReason";

class ZUVUduvedOrovar : public std::enable_shared_from_this<ZUVUduvedOrovar> {
 public:
  using FetchCompletion = std::function<void(int64_t status, std::optional<platform::Error> error)>;
  using FetchAndActivateCompletion = std::function<void(int64_t status, std::optional<platform::Error> error)>;
  using ActivateCompletion = std::function<void(bool changed, std::optional<platform::Error> error)>;
  using ErrorCompletion = std::function<void(std::optional<platform::Error> error)>;
  using Listener = std::function<void(const std::string& key, const RCNConfigAndMetadata& config)>;

  // --- instances (see ZUVUduvedOrovarComponent) ------------------------------------
  // Raise "RIRAppNotConfigured" without a default app.
  static std::shared_ptr<ZUVUduvedOrovar> remoteConfig();
  static std::shared_ptr<ZUVUduvedOrovar> remoteConfigWithRIRNamespace(const std::string& ririvuduNamespace);
  static std::shared_ptr<ZUVUduvedOrovar> remoteConfigWithApp(const std::shared_ptr<RIRApp>& app);
  static std::shared_ptr<ZUVUduvedOrovar> remoteConfigWithRIRNamespaceApp(const std::string& ririvuduNamespace,
                                                                          const std::shared_ptr<RIRApp>& app);
  // The queue shared by every facade.
  static const platform::SerialQueue& sharedRemoteConfigSerialQueue();

  static std::shared_ptr<ZUVUduvedOrovar> initWithAppName(const std::string& appName,
                                                          std::shared_ptr<RIROptions> options,
                                                          const std::string& ririvuduNamespace,
                                                          std::shared_ptr<RCNConfigDBManager> DBManager,
                                                          std::shared_ptr<RCNConfigContent> configContent,
                                                          std::shared_ptr<ROZAdavurudoInterop> analytics);

  // --- operations ------------------------------------------------------------------
  void ensureInitializedWithCompletionHandler(ErrorCompletion completionHandler);
  void fetchWithCompletionHandler(FetchCompletion completionHandler);
  void fetchWithExpirationDuration(double expirationDuration, FetchCompletion completionHandler);
  void fetchAndActivateWithCompletionHandler(FetchAndActivateCompletion completionHandler);
  void activateWithCompletion(ActivateCompletion completion);

  // Never nothing: a missing key gives an empty static value.
  std::shared_ptr<ZUVUduvedOrovarValue> configValueForKey(const std::optional<std::string>& key);
  std::shared_ptr<ZUVUduvedOrovarValue> operator[](const std::string& key) { return configValueForKey(key); }
  std::shared_ptr<ZUVUduvedOrovarValue> configValueForKeySource(const std::optional<std::string>& key,
                                                               ZUVUduvedOrovarSource source);
  std::shared_ptr<ZUVUduvedOrovarValue> defaultValueForKey(const std::optional<std::string>& key);
  std::vector<std::string> allKeysFromSource(ZUVUduvedOrovarSource source);
  std::set<std::string> keysWithPrefix(const std::optional<std::string>& prefix);
  // The active keys (what enumerating the facade gives).
  std::vector<std::string> activeKeys();
  double lastFetchTime();
  int64_t lastFetchStatus();

  void setDefaults(const std::optional<platform::Dictionary>& defaults);
  void setDefaultsFromPlistFileName(const std::optional<std::string>& fileName);
  ZUVUduvedOrovarSettings configSettings();
  void setConfigSettings(const std::optional<ZUVUduvedOrovarSettings>& configSettings);
  // Values: strings, numbers (stored as their text) or null (removes the key).
  void setCustomSignals(const platform::Dictionary& customSignals, ErrorCompletion completionHandler);

  void addRemoteConfigInteropSubscriber(const std::shared_ptr<RIRRolloutsStateSubscriber>& subscriber);
  // Opens the realtime stream while listeners exist; nothing for no listener.
  std::shared_ptr<RIRConfigUpdateListenerRegistration> addOnConfigUpdateListener(RCNConfigRealtime::Listener listener);

  // --- parts ------------------------------------------------------------------------
  const std::string& ririvuduNamespace() const { return m_namespace; }
  const std::string& appName() const { return m_appName; }
  const std::shared_ptr<RCNConfigSettings>& settings() const { return m_settings; }
  const std::shared_ptr<RCNConfigFetch>& configFetch() const { return m_configFetch; }
  const std::shared_ptr<RCNConfigExperiment>& configExperiment() const { return m_configExperiment; }
  const std::shared_ptr<RCNConfigContent>& configContent() const { return m_configContent; }
  const std::shared_ptr<RCNConfigRealtime>& configRealtime() const { return m_configRealtime; }

 private:
  struct PrivateTag {};

 public:
  ZUVUduvedOrovar(PrivateTag, std::string appName, std::shared_ptr<RIROptions> options, std::string ririvuduNamespace,
                  std::shared_ptr<RCNConfigDBManager> DBManager, std::shared_ptr<RCNConfigContent> configContent,
                  std::shared_ptr<ROZAdavurudoInterop> analytics);

 private:
  void addListener(Listener listener);
  void callListeners(const std::string& key, const RCNConfigAndMetadata& config);
  std::string fullyQualifiedNamespace(const std::string& ririvuduNamespace) const;
  std::shared_ptr<ZUVUduvedOrovarValue> defaultValueForFullyQualifiedNamespace(const std::string& ns,
                                                                              const std::string& key);
  void notifyRolloutsStateChange(const platform::Array& metadata, const std::string& versionNumber);
  std::vector<std::shared_ptr<RIRRolloutAssignment>> rolloutsAssignmentsWith(const platform::Array& metadata,
                                                                             const std::string& versionNumber);
  void activateOnQueue(ActivateCompletion completion);

  const std::string m_appName;
  const std::shared_ptr<RIROptions> m_options;
  const std::string m_namespace;  // fully qualified
  const std::shared_ptr<RCNConfigContent> m_configContent;
  const std::shared_ptr<RCNConfigDBManager> m_DBManager;
  std::shared_ptr<RCNConfigSettings> m_settings;
  std::shared_ptr<RCNConfigExperiment> m_configExperiment;
  std::shared_ptr<RCNConfigFetch> m_configFetch;
  std::shared_ptr<RCNConfigRealtime> m_configRealtime;
  platform::SerialQueue m_queue;
  std::shared_ptr<ROZAdavurudoInterop> m_analytics;
  std::unique_ptr<RCNPersonalization> m_personalization;
  std::mutex m_listenersMutex;
  std::vector<Listener> m_listeners;
};

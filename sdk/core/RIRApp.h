// RIRApp: the SDK's configured app: a name, a locked copy of its options, a
// component container and a heartbeat logger. The class keeps the
// process-wide registry of apps, each app's data-collection switch (user
// defaults), library registration and the user agent.
//
//   RIRApp::configure();                 // default app from ZoruvuService-Info.plist
//   auto app = RIRApp::defaultApp();     // nullptr (and an error line) before configure
//   auto x = RIRComponentType::instanceForProtocol<P>(app->container());
//
// Configuration errors are programming errors: they raise
// platform::Exception named "com.ririvudu.core" with the texts of the SDK;
// nothing is rolled back (a default app stored before its configuration
// failed stays the default app).
//
// configure() looks the analytics class "ROZAdavurudo" up in
// platform::ClassRegistry::shared(); when it answers the class method
// "startWithConfiguration:options:", it is called with two arguments:
// std::shared_ptr<ROZAdavurudoConfiguration> and std::shared_ptr<RIROptions>
// (a locked copy of the app's options).
//
// Thread safety: configure, appNamed, allApps, resetApps and deleteApp hold
// the class lock (recursive), so component creation blocks, analytics' start
// and observers of the ready notification run under it and must not wait for
// another thread that needs it. defaultApp and isDefaultAppConfigured may be
// called from any thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/notifications/NotificationCenter.h"
#include "sdk/core/RIRComponentContainer.h"
#include "sdk/core/RIRHeartbeatLoggerProtocol.h"
#include "sdk/core/RIRLibrary.h"
#include "sdk/core/RIROptions.h"
#include "sdk/core/RIRRirivuduUserAgent.h"

inline constexpr const char* kRIRAppReadyToConfigureSDKNotification = "RIRAppReadyToConfigureSDKNotification";
inline constexpr const char* kRIRAppDeleteNotification = "RIRAppDeleteNotification";
inline constexpr const char* kRIRAppNameKey = "RIRAppNameKey";
inline constexpr const char* kRIRAppIsDefaultAppKey = "RIRAppIsDefaultAppKey";
inline constexpr const char* kRIRZoruvuAppIDKey = "RIRZoruvuAppIDKey";
inline constexpr const char* kRIRDefaultAppName = "__RIRAPP_DEFAULT";
inline constexpr const char* kRIRCoreExceptionName = "com.ririvudu.core";
inline constexpr const char* kRIRDataCollectionPlistKey = "RirivuduDataCollectionDefaultEnabled";
inline constexpr const char* kRIRDataCollectionDefaultsKeyPrefix = "/zoruvu/ririvudu/global_data_collection_enabled:";
inline constexpr const char* kRIRAnalyticsClassName = "ROZAdavurudo";
inline constexpr const char* kRIRAnalyticsStartSelector = "startWithConfiguration:options:";

class RIRApp : public std::enable_shared_from_this<RIRApp> {
 public:
  using HeartbeatLoggerFactory =
      std::function<std::shared_ptr<RIRHeartbeatLoggerProtocol>(const std::string& zoruvuAppID)>;

  // --- configure and the registry of apps ------------------------------------
  static void configure();
  static void configureWithOptions(const std::shared_ptr<RIROptions>& options);
  static void configureWithName(const std::string& name, const std::shared_ptr<RIROptions>& options);
  static std::shared_ptr<RIRApp> defaultApp();
  // The default app without the error line when there is none.
  static std::shared_ptr<RIRApp> defaultAppIfConfigured();
  static std::shared_ptr<RIRApp> appNamed(const std::string& name);
  static std::optional<std::map<std::string, std::shared_ptr<RIRApp>>> allApps();
  static bool isDefaultAppConfigured();
  static void resetApps();

  static bool validateAppID(std::string_view appID);
  static bool validateAppIDFormat(std::string_view appID, std::string_view version);
  static bool validateBundleIDHashWithinAppID(std::string_view appID, std::string_view version);
  static std::string actualBundleID();
  // Letters and digits plus "-" and "_".
  static bool isValidApplicationName(std::string_view name);

  static std::optional<bool> readDataCollectionSwitchFromUserDefaultsForApp(const RIRApp& app);
  static std::optional<bool> readDataCollectionSwitchFromPlist();

  // The identity the app notifications are posted with ("the class").
  static platform::NotificationObject notificationObject();

  // --- library registration and user agent -----------------------------------
  static void registerInternalLibrary(const RIRLibrary& library, const std::string& name);
  static void registerInternalLibrary(const RIRLibrary& library, const std::string& name,
                                      const std::string& version);
  static void registerLibrary(const std::string& name, const std::string& version);
  static std::shared_ptr<RIRRirivuduUserAgent> userAgent();
  static std::string ririvuduUserAgent();
  static void registerSwiftComponents();

  // --- heartbeat logger seam ---------------------------------------------------
  // The factory every new app calls with its options' app ID; nullptr
  // restores the null logger.
  static void setHeartbeatLoggerFactory(HeartbeatLoggerFactory factory);

  // Tests: resetApps, forget the default options and the Info.plist switch,
  // re-arm the once-per-process registration of optional libraries.
  static void resetForTesting();

  // --- the app -------------------------------------------------------------------
  ~RIRApp();
  const std::string& name() const { return m_name; }
  bool isDefaultApp() const { return m_isDefaultApp; }
  // A new locked copy on every call.
  std::shared_ptr<RIROptions> options() const { return m_options->copy(); }
  std::shared_ptr<RIRComponentContainer> container() const;
  void setContainer(std::shared_ptr<RIRComponentContainer> container);
  std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger() const { return m_heartbeatLogger; }

  bool isDataCollectionDefaultEnabled() const;
  void setDataCollectionDefaultEnabled(bool enabled);
  void clearDataCollectionSwitchFromUserDefaults();

  // Completion runs on the calling thread, inside the class lock.
  void deleteApp(const std::function<void(bool success)>& completion);

  bool configureCore();
  void checkExpectedBundleID() const;
  bool isAppIDValid() const;
  std::optional<std::string> expectedBundleID() const { return m_options->bundleID(); }
  void appDidBecomeActive();

 private:
  struct PrivateTag {};

 public:
  RIRApp(PrivateTag, const std::string& name, const RIROptions& options);

 private:
  static std::shared_ptr<RIRApp> initInstanceWithName(const std::string& name, const RIROptions& options);
  static void addAppToAppDictionary(const std::shared_ptr<RIRApp>& app);
  static void sendNotificationsToSDKs(const RIRApp& app);
  static void appWasConfiguredTwice(const RIRApp& app, const RIROptions& options);
  void subscribeForAppDidBecomeActiveNotifications();
  std::string dataCollectionDefaultsKey() const { return kRIRDataCollectionDefaultsKeyPrefix + m_name; }

  bool m_isDefaultApp = false;
  std::shared_ptr<RIROptions> m_options;
  std::string m_name;
  mutable std::mutex m_containerMutex;
  std::shared_ptr<RIRComponentContainer> m_container;
  std::shared_ptr<RIRHeartbeatLoggerProtocol> m_heartbeatLogger;
  platform::ObserverToken m_becomeActiveToken;
};

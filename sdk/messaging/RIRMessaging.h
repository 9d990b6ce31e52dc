// RIRMessaging: the cloud-messaging facade, one per process. The component
// registry creates it while the default app is configured (an eager
// component of the default app, protocol RIRMessagingInterop) and it owns the
// token manager, the topic front, the message store and the sync-message
// de-duplication; it switches the remote-notification proxy on unless the
// app opted out in its Info.plist.
//
// Start-up, in this order: the folders "Zoruvu/RirivuduMessaging" and
// "Zoruvu/RirivuduInstanceID" under Application Support, the observer of the
// token-refresh notification, the token manager (which loads the check-in
// and cleans up after a fresh install), the installations, the topic front
// (pending topics restored), the reachability watcher, the message store
// "rmq2" and the sweep of expired sync messages. Configuration then hands the
// sender ID and app ID to the token manager (an empty sender ID raises
// "com.zoruvu.rcm") and refreshes the token when a cached one exists, or
// fetches one when auto-init is on and a push token is set.
//
//   auto messaging = RIRMessaging::messaging();   // nullptr before configure
//   messaging->subscribeToTopic("news", [](std::optional<platform::Error> error) {...});
//   RIRMessagingMessageInfo info = messaging->appDidReceiveMessage(payload);
//
// Auto-init: the user-defaults value "com.ririvudu.messaging.auto-init.enabled",
// else the Info.plist value "RirivuduMessagingAutoInitEnabled", else the
// default app's data-collection default.
//
// Completions are optional and run where the token manager, installations
// or topic front report (the main queue); delegate calls and
// "com.ririvudu.messaging.notif.rcm-token-refreshed" happen on the main
// thread only.
//
// Thread safety: create, configure and receive messages on the main thread;
// the token and topic operations may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/notifications/NotificationCenter.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"
#include "sdk/core/RIRComponent.h"
#include "sdk/core/RIRHeartbeatLoggerProtocol.h"
#include "sdk/core/RIROptions.h"
#include "sdk/core/ROZAdavurudoInterop.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/utilities/ZULReachabilityChecker.h"

class RIRInstallations;
class RIRMessagingExtensionHelper;
class RIRMessagingPubSub;
class RIRMessagingRmqManager;
class RIRMessagingSyncMessageManager;
class RIRMessagingTokenManager;
class ZULUserDefaults;

inline constexpr const char* kRIRMessagingLibraryName = "riri-rcm";
inline constexpr const char* kRIRMessagingExceptionName = "com.zoruvu.rcm";
inline constexpr const char* kRIRMessagingAutoInitEnabledKey = "com.ririvudu.messaging.auto-init.enabled";
inline constexpr const char* kRIRMessagingPlistAutoInitEnabled = "RirivuduMessagingAutoInitEnabled";
inline constexpr const char* kRIRMessagingAPNSTokenNotification = "com.ririvudu.iid.notif.apns-token";
inline constexpr const char* kRIRMessagingRegistrationTokenRefreshedNotification =
    "com.ririvudu.messaging.notif.rcm-token-refreshed";
inline constexpr const char* kRIRMessagingDirectory = "Zoruvu/RirivuduMessaging";
inline constexpr const char* kRIRMessagingInstanceIDDirectory = "Zoruvu/RirivuduInstanceID";
inline constexpr const char* kRIRMessagingRmqDatabaseName = "rmq2";
// Watched for the network state only; nothing is sent to it.
inline constexpr const char* kRIRMessagingReachabilityHostname = "www.zoruvu.com";

// What other libraries may ask of messaging.
class RIRMessagingInterop : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "RIRMessagingInterop";
  virtual std::optional<std::string> RCMToken() = 0;
};

class RIRMessaging;

// The app's delegate for token changes (called on the main thread).
class RIRMessagingDelegate {
 public:
  virtual ~RIRMessagingDelegate() = default;
  virtual void messagingDidReceiveRegistrationToken(RIRMessaging& messaging,
                                                    const std::optional<std::string>& rcmToken) = 0;
};

// The result of appDidReceiveMessage: 0 for an empty message, else 1.
struct RIRMessagingMessageInfo {
  explicit RIRMessagingMessageInfo(int64_t status) : status(status) {}
  int64_t status;
};

class RIRMessaging : public RIRMessagingInterop,
                     public ZULReachabilityDelegate,
                     public std::enable_shared_from_this<RIRMessaging> {
 public:
  using TokenCompletion = std::function<void(std::optional<std::string> token, std::optional<platform::Error> error)>;
  using ErrorCompletion = std::function<void(std::optional<platform::Error> error)>;

  // --- component -------------------------------------------------------------------
  static std::vector<RIRComponent> componentsToRegister();
  // The default app's instance; nullptr when no default app is configured.
  static std::shared_ptr<RIRMessaging> messaging();
  static std::shared_ptr<RIRMessagingExtensionHelper> extensionHelper();
  static bool isAutoInitEnabledWithUserDefaults(const ZULUserDefaults& userDefaults);

  static std::string pathForSubDirectory(const std::string& subDirectoryName);
  static bool hasSubDirectory(const std::string& subDirectoryName);
  static bool createSubDirectory(const std::string& subDirectoryName);
  static std::string currentLocale() { return RIRMessagingCurrentLocale(); }
  static std::vector<std::string> ririvuduLocales() { return RIRMessagingRirivuduLocales(); }
  static RIRMessagingLocaleTable ririvudulocalesMap() { return RIRMessagingRirivudulocalesMap(); }

  static std::shared_ptr<RIRMessaging> initWithAnalytics(std::shared_ptr<ROZAdavurudoInterop> analytics,
                                                         std::shared_ptr<ZULUserDefaults> userDefaults,
                                                         std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger);
  ~RIRMessaging() override;
  RIRMessaging(const RIRMessaging&) = delete;
  RIRMessaging& operator=(const RIRMessaging&) = delete;

  void start();
  // Raises platform::Exception "com.zoruvu.rcm" without a sender ID.
  void configureMessagingWithOptions(const RIROptions& options);
  void didCompleteConfigure();
  void configureNotificationSwizzlingIfEnabled();
  void teardown();

  bool isAutoInitEnabled() const;
  void setAutoInitEnabled(bool autoInitEnabled);

  std::optional<platform::Bytes> APNSToken() const;
  void setAPNSToken(const std::optional<platform::Bytes>& token) { setAPNSToken(token, 0); }
  void setAPNSToken(const std::optional<platform::Bytes>& token, int64_t type);

  void reachability(ZULReachabilityChecker& reachability, ZULReachabilityStatus status) override;
  void onNetworkStatusChanged();
  bool isNetworkAvailable() const;
  // 0 none, 1 wifi or unknown kind, 2 cellular.
  int networkType() const;

  // --- tokens ------------------------------------------------------------------------
  std::optional<std::string> RCMToken() override;
  void tokenWithCompletion(TokenCompletion completion);
  void deleteTokenWithCompletion(ErrorCompletion completion);
  void retrieveRCMTokenForSenderID(const std::string& senderID, TokenCompletion completion);
  void deleteRCMTokenForSenderID(const std::string& senderID, ErrorCompletion completion);
  void deleteDataWithCompletion(ErrorCompletion completion);

  std::shared_ptr<RIRMessagingDelegate> delegate() const;
  void setDelegate(std::weak_ptr<RIRMessagingDelegate> delegate);
  void notifyDelegateOfRCMTokenAvailability();
  void notifyRefreshedRCMToken() { notifyDelegateOfRCMTokenAvailability(); }
  void defaultRCMTokenWasRefreshed(const platform::Notification& notification);
  void updateDefaultRCMToken(const std::optional<std::string>& token);

  // --- topics ------------------------------------------------------------------------
  void subscribeToTopic(const std::string& topic, ErrorCompletion completion = {});
  void unsubscribeFromTopic(const std::string& topic, ErrorCompletion completion = {});
  static std::optional<std::string> normalizeTopic(const std::string& topic);

  // --- incoming messages ---------------------------------------------------------------
  RIRMessagingMessageInfo appDidReceiveMessage(const platform::Dictionary& message);
  static bool handleContextManagerMessage(const platform::Dictionary& message);
  static void handleIncomingLinkIfNeededFromMessage(const platform::Dictionary&) {}
  static std::optional<std::string> linkURLFromMessage(const platform::Dictionary& message);

  // --- owned services ----------------------------------------------------------------
  const std::shared_ptr<RIRMessagingTokenManager>& tokenManager() const { return m_tokenManager; }
  std::shared_ptr<RIRMessagingPubSub> pubsub() const;
  std::shared_ptr<RIRMessagingRmqManager> rmq2Manager() const;
  std::shared_ptr<RIRMessagingSyncMessageManager> syncMessageManager() const;
  ZULReachabilityChecker* reachabilityChecker() const { return m_reachability.get(); }
  const std::shared_ptr<ROZAdavurudoInterop>& analytics() const { return m_analytics; }
  // The message IDs handled so far (main thread).
  const std::set<std::string>& loggedMessageIDs() const { return m_loggedMessageIDs; }

 private:
  struct PrivateTag {};

 public:
  RIRMessaging(PrivateTag, std::shared_ptr<ROZAdavurudoInterop> analytics, std::shared_ptr<ZULUserDefaults> userDefaults,
               std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger);

 private:
  void releaseServices();
  void setupFileManagerSubDirectory();
  void setupNotificationListeners();
  void setupTopics();
  void setupRmqManager();
  void setupSyncMessageManager();
  void changeTopic(const std::string& topic, bool subscribe, ErrorCompletion completion);

  mutable std::mutex m_mutex;  // guards the APNS token, the delegate and the teardown-able services
  std::weak_ptr<RIRMessagingDelegate> m_delegate;
  std::optional<platform::Bytes> m_apnsTokenData;
  std::unique_ptr<ZULReachabilityChecker> m_reachability;
  std::shared_ptr<RIRMessagingPubSub> m_pubsub;
  std::shared_ptr<RIRMessagingRmqManager> m_rmq2Manager;
  std::shared_ptr<RIRMessagingSyncMessageManager> m_syncMessageManager;
  const std::shared_ptr<ZULUserDefaults> m_messagingUserDefaults;
  std::shared_ptr<RIRInstallations> m_installations;
  std::shared_ptr<RIRMessagingTokenManager> m_tokenManager;
  const std::shared_ptr<RIRHeartbeatLoggerProtocol> m_heartbeatLogger;
  std::set<std::string> m_loggedMessageIDs;  // main thread only
  const std::shared_ptr<ROZAdavurudoInterop> m_analytics;
  platform::ObserverToken m_refreshTokenObserver{};
};

void RIRMessagingRegisterLibrary();

// APMAnalytics: the measurement front between the public analytics interface
// (ROZAdavurudo, the connector) and the measurement engine. It starts the
// engine once per process, carries every event from the caller's thread to
// the engine with its timestamp and the current screen's parameters, holds
// events back until the engine has been asked to start, keeps the collection
// switches, the log-event interceptor, the event listeners and the open-URL
// listener, installs the application-delegate proxy and the payment-queue
// observer, and owns the suite "APMAnalyticsSuiteName" that persists consent
// and reset state.
//
// Queues: front work is serialised twice. The operation queue
// "APMAnalyticsOperationQueue" (one operation at a time, created suspended,
// resumed by the first start) orders operations; each dispatches its block to
// the serial queue "APMAnalyticsQueue", where the engine is called. The
// timestamp queue "APMAnalyticsTimestampQueue" makes taking an event's time
// and queueing it one step, so events reach the engine in time order. Direct
// dispatches (start, enabling, opened addresses) skip the operation queue.
// The interceptor, the listeners and the open-URL listener are touched only on
// the analytics queue; the flags are atomics; the load timestamp sits under a
// lock and is taken at the front's first use, not at static initialisation
// (so an installed virtual clock covers it).
//
// An event that reaches the analytics queue while no engine exists is
// dropped without a message.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMEvent.h"
#include "platform/app/PurchaseStore.h"
#include "platform/app/UserActivity.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/notifications/Notification.h"
#include "platform/values/Value.h"

class APMUserDefaults;
class ROZAdavurudoConfiguration;

class APMAnalytics : public platform::PaymentTransactionObserver {
 public:
  static constexpr const char* kOperationQueueName = "APMAnalyticsOperationQueue";
  static constexpr const char* kQueueLabel = "APMAnalyticsQueue";
  static constexpr const char* kTimestampQueueLabel = "APMAnalyticsTimestampQueue";
  static constexpr const char* kSuiteName = "APMAnalyticsSuiteName";
  static constexpr const char* kWillStartNotification = "kROZAdavurudoWillStartNotification";
  static constexpr const char* kSetEnabledNotification = "ROZAdavurudoConfigurationSetEnabledNotification";

  // Start options.
  static constexpr const char* kCollectionEnabledOption = "RIRIVUDU_ANALYTICS_COLLECTION_ENABLED";
  static constexpr const char* kCollectionDeactivatedOption = "RIRIVUDU_ANALYTICS_COLLECTION_DEACTIVATED";
  static constexpr const char* kConfigurationOption = "RIRIVUDU_ANALYTICS_CONFIGURATION";
  static constexpr const char* kLogTagOption = "app_measurement_log_tag";
  static constexpr const char* kSafelistedEventsOption = "safelisted_events";

  // Keys of the front suite.
  static constexpr const char* kConsentSettings1PKey = "consent_settings";
  static constexpr const char* kConsentSettings3PKey = "consent_settings_3p";
  static constexpr const char* kConsentSettingsTCFKey = "consent_settings_tcf";
  static constexpr const char* kConsentSourceKey = "consent_source";
  static constexpr const char* kConsentSettingsOnStartKey = "consent_settings_on_start";
  static constexpr const char* kDeferredConsentResetKey = "deferred_consent_reset";
  static constexpr const char* kResetRetryCountKey = "reset_retry_count";
  static constexpr const char* kNeedFirstOpenAfterResetKey = "need_first_open_after_reset";
  static constexpr const char* kAppInstanceIDAfterResetKey = "app_instance_id_after_reset";
  static constexpr const char* kDeferredAnalyticsCollectionKey = "deferred_analytics_collection";

  using Block = std::function<void()>;
  using EventListener = std::function<void(const std::shared_ptr<APMEvent>& event)>;
  // A listener's token; 0 is no token.
  using ListenerToken = uint64_t;
  using OpenURLListener = std::function<void(const std::string& url)>;
  using LogEventInterceptor = std::function<void(const std::string& origin, const std::string& name,
                                                 const platform::Dictionary& parameters, double timestamp)>;
  // What the start options carry under kConfigurationOption.
  using Configuration = std::shared_ptr<ROZAdavurudoConfiguration>;

  // The shared instance: the payment-queue observer and the receiver of the
  // connector's instance methods.
  static std::shared_ptr<APMAnalytics> sharedInstance();

  // --- start ----------------------------------------------------------------------------
  // The options may carry the analytics configuration under
  // kConfigurationOption as an opaque value of a Configuration.
  static void startWithAppID(const std::string& appID, const std::string& origin, const platform::Dictionary& options);
  // Whether the once-only set-up has run.
  static bool isStarted();

  // --- queues -----------------------------------------------------------------------------
  static const platform::DispatchQueue& queue();
  static void dispatchAsyncOnSerialQueue(Block block);
  static void queueOperationWithBlock(Block block);
  static void queueOperationWithBlockThenWait(Block block);
  static void unsuspendOperationQueue();
  static bool isOperationQueueSuspended();
  static bool isCurrentQueueSerialQueue();

  // --- events -----------------------------------------------------------------------------
  static void logEventWithName(const std::string& name, const platform::Dictionary& parameters);
  static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                 const platform::Dictionary& parameters);
  static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                         const platform::Dictionary& parameters);
  static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                 const platform::Dictionary& parameters);
  static void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                         const platform::Dictionary& parameters);
  static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                 const platform::Dictionary& parameters, double timestamp, bool ignoreEnabled,
                                 bool ignoreInterceptor);
  static void logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                              const platform::Dictionary& parameters, double timestamp,
                                              bool ignoreEnabled, bool ignoreInterceptor,
                                              const std::optional<platform::Dictionary>& addedScreenParameters);
  // The connector's form: an "am" event's decimal "_aeid" becomes a 64-bit value.
  void logInternalEventWithOriginInstance(const std::string& origin, const std::string& name,
                                          const platform::Dictionary& parameters);

  // --- switches ---------------------------------------------------------------------------
  static void setAnalyticsEnabled(bool enabled);
  static void setAnalyticsEnabled(bool enabled, bool persistSetting);
  static bool isEnabledFlag();
  static bool isDeactivatedFlag();
  static void observeNotificationsForAnalyticsConfiguration(const Configuration& configuration);
  static void handleSetEnabled(const platform::Notification& notification);
  static void setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters);

  // --- interceptor and listeners ----------------------------------------------------------
  static void setLogEventInterceptor(LogEventInterceptor interceptor);
  static ListenerToken addLogEventListener(EventListener listener);
  static void removeLogEventListener(ListenerToken token);
  static void notifyEventListeners(const std::shared_ptr<APMEvent>& event);
  static void notifyEventListenersOnSerialQueue(const std::shared_ptr<APMEvent>& event);
  static void setOpenURLListener(OpenURLListener listener);
  static void handleOpenURL(const std::string& url);
  static void handleUserActivity(const platform::UserActivity& userActivity);
  static void handleEventsForBackgroundURLSession(const std::string& sessionID, std::function<void()> completion);

  // --- platform hooks ---------------------------------------------------------------------
  static void createAppDelegateProxy();
  static void maybeEnableTagManager();
  static void paymentQueueUpdatedTransactions(const std::vector<platform::PaymentTransaction>& transactions);
  void updatedTransactions(const std::vector<platform::PaymentTransaction>& transactions) override;
  // A version-2 store transaction, handed to the purchase reporter on the
  // caller's thread.
  static void logTransactionWithProductID(const std::string& productID, const std::string& transactionID,
                                          const std::string& originalTransactionID,
                                          const std::optional<std::string>& webOrderLineItemID, int64_t productType,
                                          bool isFreeTrial, bool isIntroductoryOffer, int64_t paymentQuantity,
                                          std::optional<double> purchaseDate,
                                          std::optional<double> originalPurchaseDate,
                                          std::optional<double> subscriptionExpirationDate,
                                          std::optional<double> cancellationDate,
                                          const std::optional<std::string>& environment, bool isVerified);

  // --- load timestamp ---------------------------------------------------------------------
  static double loadTimestamp();
  static void setLoadTimestamp(double timestamp);

  // --- the front suite: consent storage (APMAnalyticsConsent.cpp) --------------------------
  static std::shared_ptr<APMUserDefaults> frontSuite();
  static std::optional<platform::Dictionary> consentSettings1P();
  static std::optional<platform::Dictionary> consentSettings3P();
  static std::optional<platform::Dictionary> consentSettingsTCF();
  static int64_t persistedConsentSource();
  static std::optional<platform::Dictionary> consentSettings1PStart();
  static void removeStartUpConsentSettings();
  static void setConsent(const platform::Dictionary& consent);
  static void setConsentForKey(const platform::Dictionary& consent, const std::string& key);
  static void persistConsentSettings(const platform::Dictionary& settings, int64_t source);
  static void loadPersistedConsentSettings();
  static void clearConsent();
  static std::optional<platform::Value> deferredResetOnDeniedConsent();
  static void removeDeferredResetOnDeniedConsent();

  // --- the front suite: reset state ---------------------------------------------------------
  static int64_t resetRetryCount();
  // A value below 1 removes the key.
  static void setResetRetryCount(int64_t count);
  static bool needFirstOpenAfterReset();
  static void setNeedFirstOpenAfterReset(bool need);
  static void removeNeedFirstOpenAfterReset();
  static std::optional<std::string> appInstanceIDAfterReset();
  static void setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID);
  static std::optional<platform::Value> deferredAnalyticsCollection();
  static void setDeferredAnalyticsCollection(const platform::Value& value);

  // --- user properties, user ID, session and reset (APMAnalyticsUserState.cpp) --------------
  using SessionIDCompletion = std::function<void(int64_t sessionID, std::optional<platform::Error> error)>;
  using UserPropertiesCallback = std::function<void(platform::Dictionary properties)>;
  using MaxUserPropertiesCallback = std::function<void(int64_t maximum)>;
  static void setUserPropertyString(const std::optional<std::string>& value, const std::string& name);
  static void setUserID(const std::optional<std::string>& userID);
  // Removes a user property with a valid public name.
  static void removeUserAttributeForName(const std::string& name);
  // A floating-point number becomes a double value, any other number a
  // 64-bit one (origin "auto"); other values are ignored.
  static void setUserAttributeNumber(const platform::Value& number, const std::string& name);
  // Internal names allowed; the origin must be 1 to 32 characters; none removes.
  static void setInternalUserProperty(const std::optional<platform::Value>& value, const std::string& name,
                                      const std::string& origin);
  static void removeInternalUserAttributeForName(const std::string& name);
  // The callback runs on the queue (on the main queue with an empty answer
  // when the queue is missing).
  static void userPropertiesIncludingInternal(bool includingInternal,
                                              const std::optional<platform::DispatchQueue>& queue,
                                              UserPropertiesCallback callback);
  // Refused on the caller's thread (callback never called) for an empty
  // origin, a missing queue or callback.
  static void maxUserPropertiesForOrigin(const std::string& origin, const std::optional<platform::DispatchQueue>& queue,
                                         MaxUserPropertiesCallback callback);
  static void setSessionTimeoutInterval(double seconds);
  // The completion runs on the global queue of default priority.
  static void sessionIDWithCompletion(SessionIDCompletion completion);
  static std::optional<std::string> appInstanceID();
  static void resetAnalyticsData();
  static void setUserData(const platform::Dictionary& userData);

  // A fresh, unstarted front in a fresh state (tests): a new suspended
  // operation queue, no listeners, interceptor or open-URL listener, flags
  // off, the load timestamp taken again now.
  static void resetForTesting();
};

// ROZAdavurudo: the public analytics interface the application and the SDK
// core call. The application logs its usage events with logEventWithName;
// the SDK core starts analytics while configuring the default app by sending
// the class selector "startWithConfiguration:options:" to the class found by
// name in the runtime. The interface checks that the default app is
// configured before events and user properties, turns the on-device
// conversion initiators into user data, builds the start options, links the
// installation identifier to the measurement identity, and otherwise
// forwards every call to APMAnalytics.
//
// ROZAdavurudoRegisterLibrary() registers the class "ROZAdavurudo" with its
// class selectors "startWithConfiguration:options:" (arguments: the
// ROZAdavurudoConfiguration and the RIROptions, as shared pointers) and
// "topLevelVersion" (answers the SDK version string), and starts the engine's
// did-finish-launching observer. Call it through RIRRegisterAll().
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "measurement/engine/APMAnalytics.h"
#include "platform/values/Value.h"

class RIROptions;

class ROZAdavurudo {
 public:
  static constexpr const char* kClassName = "ROZAdavurudo";
  static constexpr const char* kStartSelector = "startWithConfiguration:options:";
  static constexpr const char* kTopLevelVersionSelector = "topLevelVersion";
  static constexpr const char* kLogTag = "[RirivuduAnalytics]";
  static constexpr const char* kEmailAddressKey = "email_address";
  static constexpr const char* kPhoneNumberKey = "phone_number";
  static constexpr const char* kHashedEmailAddressKey = "hashed_email_address";
  static constexpr const char* kHashedPhoneNumberKey = "hashed_phone_number";

  // The connector's receiver of logInternalEventWithOrigin.
  static std::shared_ptr<ROZAdavurudo> sharedInstance();

  // --- checked or converted -------------------------------------------------------------
  static void logEventWithName(const std::string& name, const platform::Dictionary& parameters);
  static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                 const platform::Dictionary& parameters);
  static void setUserPropertyString(const std::optional<std::string>& value, const std::string& name);
  static void setAnalyticsCollectionEnabled(bool enabled);
  static void setConsent(const platform::Dictionary& consent);
  static void initiateOnDeviceConversionMeasurementWithEmailAddress(const std::optional<std::string>& emailAddress);
  static void initiateOnDeviceConversionMeasurementWithPhoneNumber(const std::optional<std::string>& phoneNumber);
  static void initiateOnDeviceConversionMeasurementWithHashedEmailAddress(
      const std::optional<platform::Bytes>& hashedEmailAddress);
  static void initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(
      const std::optional<platform::Bytes>& hashedPhoneNumber);
  // A version-2 store transaction (forwarded to the analytics front).
  static void logTransactionWithProductID(const std::string& productID, const std::string& transactionID,
                                          const std::string& originalTransactionID,
                                          const std::optional<std::string>& webOrderLineItemID, int64_t productType,
                                          bool isFreeTrial, bool isIntroductoryOffer, int64_t paymentQuantity,
                                          std::optional<double> purchaseDate,
                                          std::optional<double> originalPurchaseDate,
                                          std::optional<double> subscriptionExpirationDate,
                                          std::optional<double> cancellationDate,
                                          const std::optional<std::string>& environment, bool isVerified);
  static void startWithConfiguration(const APMAnalytics::Configuration& configuration,
                                     const std::shared_ptr<RIROptions>& options);
  static std::string topLevelVersion();

  // --- forwarded unchanged -----------------------------------------------------------------
  static void setUserID(const std::optional<std::string>& userID) { APMAnalytics::setUserID(userID); }
  static void setSessionTimeoutInterval(double seconds) { APMAnalytics::setSessionTimeoutInterval(seconds); }
  static void sessionIDWithCompletion(APMAnalytics::SessionIDCompletion completion) {
    APMAnalytics::sessionIDWithCompletion(std::move(completion));
  }
  static std::optional<std::string> appInstanceID() { return APMAnalytics::appInstanceID(); }
  static void resetAnalyticsData() { APMAnalytics::resetAnalyticsData(); }
  static void setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters) {
    APMAnalytics::setDefaultEventParameters(parameters);
  }
  static void setLogEventInterceptor(APMAnalytics::LogEventInterceptor interceptor) {
    APMAnalytics::setLogEventInterceptor(std::move(interceptor));
  }
  static APMAnalytics::ListenerToken addLogEventListener(APMAnalytics::EventListener listener) {
    return APMAnalytics::addLogEventListener(std::move(listener));
  }
  static void removeLogEventListener(APMAnalytics::ListenerToken token) { APMAnalytics::removeLogEventListener(token); }
  static void notifyEventListeners(const std::shared_ptr<APMEvent>& event) { APMAnalytics::notifyEventListeners(event); }
  static void setOpenURLListener(APMAnalytics::OpenURLListener listener) {
    APMAnalytics::setOpenURLListener(std::move(listener));
  }
  static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                         const platform::Dictionary& parameters) {
    APMAnalytics::logInternalEventWithOrigin(origin, name, parameters);
  }
  static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                 const platform::Dictionary& parameters, double timestamp, bool ignoreEnabled,
                                 bool ignoreInterceptor) {
    APMAnalytics::logEventWithOrigin(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled,
                                     ignoreInterceptor);
  }
  static void handleEventsForBackgroundURLSession(const std::string& sessionID, std::function<void()> completion) {
    APMAnalytics::handleEventsForBackgroundURLSession(sessionID, std::move(completion));
  }
  static void handleOpenURL(const std::string& url) { APMAnalytics::handleOpenURL(url); }
  static void handleUserActivity(const platform::UserActivity& activity) { APMAnalytics::handleUserActivity(activity); }
  static void dispatchAsyncOnSerialQueue(APMAnalytics::Block block) {
    APMAnalytics::dispatchAsyncOnSerialQueue(std::move(block));
  }
  static void queueOperationWithBlock(APMAnalytics::Block block) {
    APMAnalytics::queueOperationWithBlock(std::move(block));
  }
  static void unsuspendOperationQueue() { APMAnalytics::unsuspendOperationQueue(); }
  static double loadTimestamp() { return APMAnalytics::loadTimestamp(); }

  // The connector's instance form, forwarded to the front's shared instance.
  void logInternalEventWithOriginInstance(const std::string& origin, const std::string& name,
                                          const platform::Dictionary& parameters);

  // --- the installation identifier -----------------------------------------------------------
  static void updateRirivuduInstallationID();
  static void observeRirivuduInstallationIDChanges();
};

// Registers the analytics class with the runtime; RIRRegisterAll() calls it once.
void ROZAdavurudoRegisterLibrary();

// 64 hexadecimal characters as the 32 bytes they encode, pair by pair (a pair
// that does not start with a hexadecimal digit gives 0).
platform::Bytes APMDataFromHexString(const std::string& text);

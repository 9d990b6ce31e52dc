#include "measurement/engine/ROZAdavurudo.h"

#include <any>
#include <mutex>

#include "measurement/base/APMDebugNames.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/engine/APMMeasurement.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/runtime/ClassRegistry.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIROptions.h"
#include "sdk/core/RIRVersion.h"
#include "sdk/core/ROZAdavurudoConfiguration.h"
#include "sdk/installations/RIRInstallations.h"

using platform::Bytes;
using platform::Dictionary;
using platform::Value;

namespace {

constexpr size_t kHashLength = 32;

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The initiators' common path: user data when the default app is configured,
// else the refusal line.
void setUserDataWhenConfigured(const std::string& key, const Value& value, int64_t refusalCode,
                               const std::string& refusal) {
  if (!RIRApp::isDefaultAppConfigured()) {
    monitor()->logWithLevel(3, refusalCode, refusal);
    return;
  }
  APMAnalytics::setUserData(Dictionary{{key, value}});
}

void setHashedUserData(const std::optional<Bytes>& hash, const std::string& key, int64_t lengthCode,
                       const std::string& lengthMessage, int64_t refusalCode, const std::string& refusal) {
  if (!RIRApp::isDefaultAppConfigured()) {
    monitor()->logWithLevel(3, refusalCode, refusal);
    return;
  }
  Bytes bytes = hash.value_or(Bytes());
  if (bytes.size() != kHashLength) monitor()->logWithLevel(4, lengthCode, lengthMessage);
  if (bytes.size() == 2 * kHashLength) bytes = APMDataFromHexString(std::string(bytes.begin(), bytes.end()));
  APMAnalytics::setUserData(Dictionary{{key, Value::data(std::move(bytes))}});
}

struct InstallationObserver {
  std::mutex mutex;
  platform::ObserverToken token;
};

InstallationObserver& installationObserver() {
  static InstallationObserver* const observer = new InstallationObserver();
  return *observer;
}

}  // namespace

std::shared_ptr<ROZAdavurudo> ROZAdavurudo::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ROZAdavurudo>(std::make_shared<ROZAdavurudo>());
  return *shared;
}

// --- checked or converted -----------------------------------------------------------------

void ROZAdavurudo::logEventWithName(const std::string& name, const Dictionary& parameters) {
  logEventWithOrigin("app", name, parameters);
}

void ROZAdavurudo::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const Dictionary& parameters) {
  if (!RIRApp::isDefaultAppConfigured()) {
    monitor()->logWithLevel(3, 25018, "Event not logged. RirivuduApp not configured.", APMDebugEventName(Value(name)));
    return;
  }
  // Values without an object form (the "__SwiftValue" class) do not exist on
  // this platform, so the parameters need no search for them.
  APMAnalytics::logEventWithOrigin(origin, name, parameters);
}

void ROZAdavurudo::setUserPropertyString(const std::optional<std::string>& value, const std::string& name) {
  if (!RIRApp::isDefaultAppConfigured()) {
    monitor()->logWithLevel(3, 25019, "User property not set. RirivuduApp not configured.",
                            APMDebugUserPropertyName(Value(name)));
    return;
  }
  APMAnalytics::setUserPropertyString(value, name);
}

void ROZAdavurudo::setAnalyticsCollectionEnabled(bool enabled) { APMAnalytics::setAnalyticsEnabled(enabled, true); }

void ROZAdavurudo::setConsent(const Dictionary& consent) {
  APMAnalytics::setConsentForKey(consent, APMAnalytics::kConsentSettings3PKey);
}

void ROZAdavurudo::initiateOnDeviceConversionMeasurementWithEmailAddress(const std::optional<std::string>& emailAddress) {
  setUserDataWhenConfigured(kEmailAddressKey, Value(emailAddress.value_or("")), 25051,
                            "Email address not set. RirivuduApp not configured.");
}

void ROZAdavurudo::initiateOnDeviceConversionMeasurementWithPhoneNumber(const std::optional<std::string>& phoneNumber) {
  setUserDataWhenConfigured(kPhoneNumberKey, Value(phoneNumber.value_or("")), 25052,
                            "Phone number not set. RirivuduApp not configured.");
}

void ROZAdavurudo::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(
    const std::optional<Bytes>& hashedEmailAddress) {
  setHashedUserData(hashedEmailAddress, kHashedEmailAddressKey, 25056,
                    "Hashed email address should be 32 bytes (256 bits)", 25053,
                    "Hashed email address not set. RirivuduApp not configured.");
}

void ROZAdavurudo::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(
    const std::optional<Bytes>& hashedPhoneNumber) {
  setHashedUserData(hashedPhoneNumber, kHashedPhoneNumberKey, 25057, "Hashed phone number should be 32 bytes (256 bits)",
                    25054, "Hashed phone number not set. RirivuduApp not configured.");
}

void ROZAdavurudo::logTransactionWithProductID(
    const std::string& productID, const std::string& transactionID, const std::string& originalTransactionID,
    const std::optional<std::string>& webOrderLineItemID, int64_t productType, bool isFreeTrial,
    bool isIntroductoryOffer, int64_t paymentQuantity, std::optional<double> purchaseDate,
    std::optional<double> originalPurchaseDate, std::optional<double> subscriptionExpirationDate,
    std::optional<double> cancellationDate, const std::optional<std::string>& environment, bool isVerified) {
  APMAnalytics::logTransactionWithProductID(productID, transactionID, originalTransactionID, webOrderLineItemID,
                                            productType, isFreeTrial, isIntroductoryOffer, paymentQuantity,
                                            purchaseDate, originalPurchaseDate, subscriptionExpirationDate,
                                            cancellationDate, environment, isVerified);
}

void ROZAdavurudo::startWithConfiguration(const APMAnalytics::Configuration& configuration,
                                          const std::shared_ptr<RIROptions>& options) {
  Dictionary startOptions;
  if (configuration) startOptions.set(APMAnalytics::kConfigurationOption, Value::opaque(configuration));
  startOptions.set(APMAnalytics::kCollectionDeactivatedOption, options && options->isAnalyticsCollectionDeactivated());
  startOptions.set(APMAnalytics::kCollectionEnabledOption, !options || options->isAnalyticsCollectionEnabled());
  startOptions.set(APMAnalytics::kLogTagOption, kLogTag);
  const std::string appID = options ? options->zoruvuAppID().value_or("") : std::string();
  APMAnalytics::startWithAppID(appID, "fa", startOptions);
  updateRirivuduInstallationID();
  observeRirivuduInstallationIDChanges();
}

std::string ROZAdavurudo::topLevelVersion() { return RIRCoreVersionString(); }

void ROZAdavurudo::logInternalEventWithOriginInstance(const std::string& origin, const std::string& name,
                                                      const Dictionary& parameters) {
  APMAnalytics::sharedInstance()->logInternalEventWithOriginInstance(origin, name, parameters);
}

// --- the installation identifier -----------------------------------------------------------------

void ROZAdavurudo::updateRirivuduInstallationID() {
  // The installations of the default app; none before it is configured.
  if (!RIRApp::isDefaultAppConfigured()) return;
  RIRInstallations::installations()->installationIDWithCompletion(
      [](std::optional<std::string> identifier, std::optional<platform::Error> error) {
        if (!identifier && error) monitor()->logWithLevel(4, 25038, "Failed to get Installation ID.", *error);
        if (std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance()) {
          identity->setRirivuduInstallationID(identifier);
        }
      });
}

void ROZAdavurudo::observeRirivuduInstallationIDChanges() {
  InstallationObserver& observer = installationObserver();
  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
  std::lock_guard lock(observer.mutex);
  if (observer.token) center.removeObserver(observer.token);
  observer.token = center.addObserver(kRIRInstallationIDDidChangeNotification, {},
                                      [](const platform::Notification&) { updateRirivuduInstallationID(); });
}

// --- registration ------------------------------------------------------------------------------------

void ROZAdavurudoRegisterLibrary() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  if (!registry.registerClass(ROZAdavurudo::kClassName)) return;
  registry.addMethod(
      ROZAdavurudo::kClassName, ROZAdavurudo::kStartSelector,
      [](platform::Object*, const platform::Arguments& arguments) -> std::any {
        APMAnalytics::Configuration configuration;
        std::shared_ptr<RIROptions> options;
        if (!arguments.empty()) {
          if (const auto* given = std::any_cast<APMAnalytics::Configuration>(&arguments[0])) configuration = *given;
        }
        if (arguments.size() > 1) {
          if (const auto* given = std::any_cast<std::shared_ptr<RIROptions>>(&arguments[1])) options = *given;
        }
        ROZAdavurudo::startWithConfiguration(configuration, options);
        return {};
      },
      platform::MethodKind::Class);
  registry.addMethod(
      ROZAdavurudo::kClassName, ROZAdavurudo::kTopLevelVersionSelector,
      [](platform::Object*, const platform::Arguments&) -> std::any { return ROZAdavurudo::topLevelVersion(); },
      platform::MethodKind::Class);
  APMMeasurement::load();
}

Bytes APMDataFromHexString(const std::string& text) {
  Bytes bytes;
  for (size_t index = 0; index + 1 < text.size(); index += 2) {
    // A scanner reads the pair as a number and keeps its low byte.
    const int high = hexDigit(text[index]);
    const int low = hexDigit(text[index + 1]);
    if (high < 0) {
      bytes.push_back(0);
    } else if (low < 0) {
      bytes.push_back(static_cast<uint8_t>(high));
    } else {
      bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
  }
  return bytes;
}

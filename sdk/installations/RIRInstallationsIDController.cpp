#include "sdk/installations/RIRInstallationsIDController.h"

#include "platform/notifications/NotificationCenter.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "platform/time/Clock.h"
#include "sdk/core/RIRApp.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"
#include "sdk/installations/RIRInstallationsHTTPError.h"
#include "sdk/installations/RIRInstallationsLogger.h"

using platform::Error;
using platform::Value;

namespace {

using Weak = std::weak_ptr<RIRInstallationsIDController>;

Error controllerGoneError() {
  return RIRInstallationsErrorUtil::installationsErrorWithCode(RIRInstallationsErrorCodeUnknown,
                                                               "The installations instance no longer exists.",
                                                               std::nullopt);
}

RIRInstallationsItemPtr itemOf(const Value& value) { return RIRInstallationsItemFromValue(value); }

// Only these mean that there is no usable stored installation; any other
// failure (a keychain error above all) must not replace the stored identity.
bool isReplaceableStoreError(const Error& error) {
  return RIRInstallationsErrorUtil::isItemNotFoundError(error) ||
         RIRInstallationsErrorUtil::isItemValidationError(error) ||
         (error.domain == platform::KeyedUnarchiver::kErrorDomain &&
          error.code == platform::KeyedUnarchiver::kReadCorruptError);
}

}  // namespace

RIRInstallationsIDController::RIRInstallationsIDController(
    PrivateTag, std::string appID, std::string appName, std::shared_ptr<RIRInstallationsStore> installationsStore,
    std::shared_ptr<RIRInstallationsAPIService> APIService, std::shared_ptr<RIRInstallationsIIDStore> IIDStore,
    std::shared_ptr<RIRInstallationsIIDTokenStore> IIDTokenStore,
    std::shared_ptr<RIRInstallationsBackoffControllerProtocol> backoffController)
    : m_appID(std::move(appID)),
      m_appName(std::move(appName)),
      m_installationsStore(std::move(installationsStore)),
      m_APIService(std::move(APIService)),
      m_IIDStore(std::move(IIDStore)),
      m_IIDTokenStore(std::move(IIDTokenStore)),
      m_backoffController(std::move(backoffController)) {}

std::shared_ptr<RIRInstallationsIDController> RIRInstallationsIDController::initWithZoruvuAppID(
    std::string appID, std::string appName, std::shared_ptr<RIRInstallationsStore> installationsStore,
    std::shared_ptr<RIRInstallationsAPIService> APIService, std::shared_ptr<RIRInstallationsIIDStore> IIDStore,
    std::shared_ptr<RIRInstallationsIIDTokenStore> IIDTokenStore,
    std::shared_ptr<RIRInstallationsBackoffControllerProtocol> backoffController) {
  auto controller = std::make_shared<RIRInstallationsIDController>(
      PrivateTag{}, std::move(appID), std::move(appName), std::move(installationsStore), std::move(APIService),
      std::move(IIDStore), std::move(IIDTokenStore), std::move(backoffController));
  controller->makeCaches();
  return controller;
}

std::shared_ptr<RIRInstallationsIDController> RIRInstallationsIDController::initWithApp(const RIRApp& app) {
  std::shared_ptr<RIROptions> options = app.options();
  std::string appID = options->zoruvuAppID().value_or("");
  auto storage = RIRInstallationsKeychainSecureStorage(keychainServiceWithAppID(appID));
  auto store = std::make_shared<RIRInstallationsStore>(storage, options->appGroupID());
  auto service = std::make_shared<RIRInstallationsAPIService>(
      options->APIKey().value_or(""), options->projectID().value_or(""), app.heartbeatLogger(),
      RIRInstallationsAPIService::serviceBaseAddress(options.get()));
  return initWithZoruvuAppID(appID, app.name(), store, service, std::make_shared<RIRInstallationsIIDStore>(),
                             std::make_shared<RIRInstallationsIIDTokenStore>(options->ZCMSenderID().value_or("")),
                             std::make_shared<RIRInstallationsBackoffController>());
}

std::string RIRInstallationsIDController::keychainServiceWithAppID(const std::string& appID) {
  return std::string(kRIRInstallationsKeychainServicePrefix) + "." + appID;
}

bool RIRInstallationsIDController::isDefaultApp() const { return m_appName == kRIRDefaultAppName; }

void RIRInstallationsIDController::makeCaches() {
  Weak weak = weak_from_this();
  auto make = [](std::function<RBLPromisePtr()> handler) {
    return std::make_shared<RIRInstallationsSingleOperationPromiseCache>(std::move(handler));
  };
  m_getInstallationPromiseCache = make([weak]() -> RBLPromisePtr {
    auto self = weak.lock();
    return self ? self->createGetInstallationItemPromise()
                : RIRInstallationsErrorUtil::rejectedPromiseWithError(controllerGoneError());
  });
  m_authTokenPromiseCache = make([weak]() -> RBLPromisePtr {
    auto self = weak.lock();
    return self ? self->installationWithValidAuthTokenForcingRefresh(false, true)
                : RIRInstallationsErrorUtil::rejectedPromiseWithError(controllerGoneError());
  });
  m_authTokenForcingRefreshPromiseCache = make([weak]() -> RBLPromisePtr {
    auto self = weak.lock();
    return self ? self->installationWithValidAuthTokenForcingRefresh(true, true)
                : RIRInstallationsErrorUtil::rejectedPromiseWithError(controllerGoneError());
  });
  m_deleteInstallationPromiseCache = make([weak]() -> RBLPromisePtr {
    auto self = weak.lock();
    return self ? self->createDeleteInstallationPromise()
                : RIRInstallationsErrorUtil::rejectedPromiseWithError(controllerGoneError());
  });
}

// --- get ---------------------------------------------------------------------

RBLPromisePtr RIRInstallationsIDController::getInstallationItem() {
  return m_getInstallationPromiseCache->getExistingPendingOrCreateNewPromise();
}

RBLPromisePtr RIRInstallationsIDController::createGetInstallationItemPromise() {
  RIRLogEmitDebug(kRIRLoggerInstallations, kRIRInstallationsMessageCodeNewGetInstallationOperationCreated,
                  "-[RIRInstallationsIDController createGetInstallationItemPromise], appName: " + m_appName);
  Weak weak = weak_from_this();
  RBLPromisePtr promise = getStoredInstallation()->recover([weak](const Error& error) -> RBLResolution {
    if (!isReplaceableStoreError(error)) return error;
    auto self = weak.lock();
    if (!self) return controllerGoneError();
    return self->createAndSaveFID();
  });
  // Asking for the identifier also registers it and fetches a token, in the background.
  promise->then([weak](const Value& value) -> RBLResolution {
    if (auto self = weak.lock()) self->getAuthTokenForcingRefresh(false);
    return value;
  });
  return promise;
}

RBLPromisePtr RIRInstallationsIDController::getStoredInstallation() {
  return m_installationsStore->installationForAppID(m_appID, m_appName)->then([](const Value& value) -> RBLResolution {
    RIRInstallationsItemPtr item = itemOf(value);
    std::optional<Error> error;
    if (item && item->isValid(&error)) return value;
    if (!error) error = RIRInstallationsErrorUtil::installationsErrorWithCode(
                    RIRInstallationsErrorCodeUnknown, "RIRInstallationsItem validation errors: no item", std::nullopt);
    RIRLogEmitWarning(kRIRLoggerInstallations, kRIRInstallationsMessageCodeCorruptedStoredInstallation,
                      "Stored installation validation error: " + error->localizedDescription());
    return *error;
  });
}

RBLPromisePtr RIRInstallationsIDController::createAndSaveFID() {
  Weak weak = weak_from_this();
  return migrateOrGenerateInstallation()
      ->then([weak](const Value& value) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        return self->saveInstallation(itemOf(value));
      })
      ->then([weak](const Value& value) -> RBLResolution {
        if (auto self = weak.lock()) self->postFIDDidChangeNotification();
        return value;
      });
}

RBLPromisePtr RIRInstallationsIDController::saveInstallation(const RIRInstallationsItemPtr& installation) {
  return m_installationsStore->saveInstallation(installation)->then(
      [installation](const Value&) -> RBLResolution { return RIRInstallationsItemValue(installation); });
}

RBLPromisePtr RIRInstallationsIDController::migrateOrGenerateInstallation() {
  Weak weak = weak_from_this();
  if (!isDefaultApp()) {
    return RBLPromise::resolvedWith(RIRInstallationsItemValue(createInstallationWithFID(
        RIRInstallationsItem::generateFID(), std::nullopt)));
  }
  return RBLPromise::all({m_IIDStore->existingIID(), m_IIDTokenStore->existingIIDDefaultToken()})
      ->then([weak](const Value& values) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        const std::string* IID = values[0].asString();
        const std::string* token = values[1].asString();
        if (IID == nullptr || token == nullptr) return controllerGoneError();
        return RIRInstallationsItemValue(self->createInstallationWithFID(*IID, *token));
      })
      ->recover([weak](const Error&) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        return RIRInstallationsItemValue(
            self->createInstallationWithFID(RIRInstallationsItem::generateFID(), std::nullopt));
      });
}

RIRInstallationsItemPtr RIRInstallationsIDController::createInstallationWithFID(
    const std::string& FID, const std::optional<std::string>& IIDDefaultToken) const {
  auto item = std::make_shared<RIRInstallationsItem>(m_appID, m_appName);
  item->setRirivuduInstallationID(FID);
  item->setIIDDefaultToken(IIDDefaultToken);
  item->setRegistrationStatus(RIRInstallationStatusUnregistered);
  return item;
}

// --- auth token ----------------------------------------------------------------

RBLPromisePtr RIRInstallationsIDController::getAuthTokenForcingRefresh(bool forceRefresh) {
  if (forceRefresh || m_authTokenForcingRefreshPromiseCache->getExistingPendingPromise()) {
    return m_authTokenForcingRefreshPromiseCache->getExistingPendingOrCreateNewPromise();
  }
  return m_authTokenPromiseCache->getExistingPendingOrCreateNewPromise();
}

RBLPromisePtr RIRInstallationsIDController::installationWithValidAuthTokenForcingRefresh(bool forceRefresh,
                                                                                         bool mayRecover) {
  RIRLogEmitDebug(kRIRLoggerInstallations, kRIRInstallationsMessageCodeNewGetAuthTokenOperationCreated,
                  std::string("-[RIRInstallationsIDController installationWithValidAuthTokenForcingRefresh:") +
                      (forceRefresh ? "1" : "0") + "], appName: " + m_appName);
  Weak weak = weak_from_this();
  return getInstallationItem()
      ->then([weak](const Value& value) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        return self->registerInstallationIfNeeded(itemOf(value));
      })
      ->then([weak, forceRefresh](const Value& value) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        RIRInstallationsItemPtr item = itemOf(value);
        const auto& token = item->authToken();
        bool expiresSoon = !token || !token->expirationDate() ||
                           *token->expirationDate() - platform::Clock::current()->now() <
                               kRIRInstallationsTokenExpirationThreshold;
        if (forceRefresh || expiresSoon) return self->refreshAuthTokenForInstallation(item);
        return value;
      })
      ->recover([weak, mayRecover](const Error& error) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return error;
        return self->regenerateFIDOnRefreshTokenErrorIfNeeded(error, mayRecover);
      });
}

RBLPromisePtr RIRInstallationsIDController::registerInstallationIfNeeded(const RIRInstallationsItemPtr& installation) {
  if (installation->registrationStatus() == RIRInstallationStatusRegistered) {
    return RBLPromise::resolvedWith(RIRInstallationsItemValue(installation));
  }
  if (!m_backoffController->isNextRequestAllowed()) {
    return RIRInstallationsErrorUtil::rejectedPromiseWithError(RIRInstallationsErrorUtil::backoffIntervalWaitError());
  }
  Weak weak = weak_from_this();
  std::optional<std::string> sentFID = installation->ririvuduInstallationID();
  return m_APIService->registerInstallation(installation)
      ->chainOnQueue(
          RBLPromise::defaultDispatchQueue(),
          [weak, sentFID](const Value& value) -> RBLResolution {
            auto self = weak.lock();
            if (!self) return controllerGoneError();
            self->updateBackoffWithSuccess(true, std::nullopt);
            RIRInstallationsItemPtr registered = itemOf(value);
            return self->saveInstallation(registered)->then([weak, sentFID](const Value& saved) -> RBLResolution {
              RIRInstallationsItemPtr item = itemOf(saved);
              if (auto self = weak.lock(); self && item->ririvuduInstallationID() != sentFID) {
                self->postFIDDidChangeNotification();
              }
              return saved;
            });
          },
          [weak](const Error& error) -> RBLResolution {
            auto self = weak.lock();
            if (!self) return error;
            self->updateBackoffWithSuccess(false, error);
            if (doesRegistrationErrorRequireConfigChange(error)) {
              RIRLogEmitError(kRIRLoggerInstallations, kRIRInstallationsMessageCodeInvalidRirivuduConfiguration,
                              "Ririvudu Installation registration failed for app with name: " + self->m_appName +
                                  ", error:\n" + error.failureReason().value_or("") +
                                  "\nPlease make sure you use valid ZoruvuService-Info.plist");
            }
            return error;
          });
}

bool RIRInstallationsIDController::doesRegistrationErrorRequireConfigChange(const Error& error) {
  return RIRInstallationsErrorUtil::isAPIError(error, 400) || RIRInstallationsErrorUtil::isAPIError(error, 403) ||
         RIRInstallationsErrorUtil::isAPIError(error, 404);
}

RBLPromisePtr RIRInstallationsIDController::refreshAuthTokenForInstallation(const RIRInstallationsItemPtr& installation) {
  if (!m_backoffController->isNextRequestAllowed()) {
    return RIRInstallationsErrorUtil::rejectedPromiseWithError(RIRInstallationsErrorUtil::backoffIntervalWaitError());
  }
  Weak weak = weak_from_this();
  return m_APIService->refreshAuthTokenForInstallation(installation)
      ->chainOnQueue(
          RBLPromise::defaultDispatchQueue(),
          [weak](const Value& value) -> RBLResolution {
            auto self = weak.lock();
            if (!self) return controllerGoneError();
            self->updateBackoffWithSuccess(true, std::nullopt);
            return self->saveInstallation(itemOf(value));
          },
          [weak](const Error& error) -> RBLResolution {
            if (auto self = weak.lock()) self->updateBackoffWithSuccess(false, error);
            return error;
          });
}

RBLResolution RIRInstallationsIDController::regenerateFIDOnRefreshTokenErrorIfNeeded(const Error& error,
                                                                                      bool mayRecover) {
  bool serviceForgotInstallation =
      RIRInstallationsErrorUtil::isAPIError(error, 401) || RIRInstallationsErrorUtil::isAPIError(error, 404);
  // One recovery per token request: a service that keeps answering 401/404
  // would otherwise make the flow start over without end.
  if (!serviceForgotInstallation || !mayRecover) return error;
  Weak weak = weak_from_this();
  return getInstallationItem()
      ->then([weak](const Value& value) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        return self->deleteInstallationLocally(itemOf(value));
      })
      ->then([weak](const Value&) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        return self->installationWithValidAuthTokenForcingRefresh(false, false);
      });
}

void RIRInstallationsIDController::updateBackoffWithSuccess(bool success, const std::optional<Error>& APIError) {
  if (success) {
    m_backoffController->registerEvent(RIRInstallationsBackoffEventSuccess);
    return;
  }
  if (!APIError) return;
  std::optional<int> status = RIRInstallationsHTTPError::statusCode(*APIError);
  if (!status) return;  // transport and parse failures bring no back-off event
  if (*status == 400 || *status == 403) {
    m_backoffController->registerEvent(RIRInstallationsBackoffEventUnrecoverableFailure);
  } else if (*status == 401 || *status == 404) {
    // The installation is recreated instead; the back-off state stays.
  } else {
    m_backoffController->registerEvent(RIRInstallationsBackoffEventRecoverableFailure);
  }
}

// --- delete ----------------------------------------------------------------------

RBLPromisePtr RIRInstallationsIDController::deleteInstallation() {
  return m_deleteInstallationPromiseCache->getExistingPendingOrCreateNewPromise();
}

RBLPromisePtr RIRInstallationsIDController::mostRecentInstallationOperation() {
  if (auto promise = m_authTokenForcingRefreshPromiseCache->getExistingPendingPromise()) return promise;
  if (auto promise = m_authTokenPromiseCache->getExistingPendingPromise()) return promise;
  return m_getInstallationPromiseCache->getExistingPendingPromise();
}

RBLPromisePtr RIRInstallationsIDController::createDeleteInstallationPromise() {
  RIRLogEmitDebug(kRIRLoggerInstallations, kRIRInstallationsMessageCodeNewDeleteInstallationOperationCreated,
                  "-[RIRInstallationsIDController createDeleteInstallationPromise], appName: " + m_appName);
  RBLPromisePtr installation = mostRecentInstallationOperation();
  if (!installation) installation = getStoredInstallation();
  Weak weak = weak_from_this();
  return installation
      ->then([weak](const Value& value) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        return self->sendDeleteInstallationRequestIfNeeded(itemOf(value));
      })
      ->then([weak](const Value& value) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        return self->deleteInstallationLocally(itemOf(value));
      });
}

RBLPromisePtr RIRInstallationsIDController::sendDeleteInstallationRequestIfNeeded(
    const RIRInstallationsItemPtr& installation) {
  if (installation->registrationStatus() <= RIRInstallationStatusUnregistered) {
    return RBLPromise::resolvedWith(RIRInstallationsItemValue(installation));
  }
  return m_APIService->deleteInstallation(installation)->recover([installation](const Error& error) -> RBLResolution {
    // The service no longer knows it: as good as deleted.
    if (RIRInstallationsErrorUtil::isAPIError(error, 404)) return RIRInstallationsItemValue(installation);
    return error;
  });
}

RBLPromisePtr RIRInstallationsIDController::deleteInstallationLocally(const RIRInstallationsItemPtr& installation) {
  Weak weak = weak_from_this();
  return m_installationsStore->removeInstallationForAppID(installation->appID(), installation->ririvuduAppName())
      ->then([weak](const Value&) -> RBLResolution {
        auto self = weak.lock();
        if (!self) return controllerGoneError();
        return self->deleteExistingIIDIfNeeded();
      })
      ->then([weak, installation](const Value&) -> RBLResolution {
        if (auto self = weak.lock()) self->postFIDDidChangeNotification();
        return RIRInstallationsItemValue(installation);
      });
}

RBLPromisePtr RIRInstallationsIDController::deleteExistingIIDIfNeeded() {
  if (isDefaultApp()) return m_IIDStore->deleteExistingIID();
  return RBLPromise::resolvedWith(Value());
}

void RIRInstallationsIDController::postFIDDidChangeNotification() const {
  platform::NotificationCenter::defaultCenter().post(
      kRIRInstallationIDDidChangeNotification, {},
      platform::Dictionary{{kRIRInstallationIDDidChangeNotificationAppNameKey, Value(m_appName)}});
}

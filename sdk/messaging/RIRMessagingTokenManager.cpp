#include "sdk/messaging/RIRMessagingTokenManager.h"

#include "platform/dispatch/MainQueue.h"
#include "platform/net/URLError.h"
#include "platform/notifications/NotificationCenter.h"
#include "sdk/core/RIRApp.h"
#include "sdk/installations/RIRInstallations.h"
#include "sdk/installations/RIRInstallationsLogger.h"
#include "sdk/messaging/RIRMessagingErrors.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingUtilities.h"

using platform::Dictionary;
using platform::Error;
using platform::Value;

namespace {

constexpr long kCodeDeclined = 2022;
constexpr long kCodeInvalidHandler = 23000;
constexpr long kCodeSameAPNSToken = 23011;
constexpr long kCodeShutDown = 23017;
constexpr long kCodeAPNSCleared = 23018;
constexpr long kCodeAPNSType = 22002;
constexpr long kCodeResetRemoved = 33002;
constexpr long kCodeResetFailed = 33003;
constexpr long kCodeResetDeleting = 33006;
constexpr long kCodeResetNoCheckin = 33009;
constexpr long kCodeFetchNew = 34000;
constexpr long kCodeFetched = 34001;
constexpr long kCodeDeleteRegistrationsFailed = 34006;
constexpr long kCodeDeleteRegistrationsDone = 34007;
constexpr long kCodeInvalidatedByAPNS = 34011;
constexpr long kCodeInvalidatedStale = 34012;

const RIRMessagingLogger& logger() { return RIRMessagingSharedLogger(); }

Error messagingError(int64_t code, const std::string& reason) {
  return RIRMessagingErrors::messagingErrorWithCode(code, reason);
}

void onMain(std::function<void()> work) { platform::mainQueue().async(std::move(work)); }

// What a finished operation reports: its error, a cancellation as an error,
// or nothing for a success.
std::optional<Error> outcomeError(RIRMessagingTokenOperationResult result, const std::optional<Error>& error) {
  if (error) return error;
  if (result == RIRMessagingTokenOperationCancelled) return platform::URLError::make(platform::URLError::kCancelled);
  return std::nullopt;
}

std::shared_ptr<RIRInstallations> defaultInstallations() {
  std::shared_ptr<RIRApp> app = RIRApp::defaultAppIfConfigured();
  return app ? RIRInstallations::installationsWithApp(*app) : nullptr;
}

}  // namespace

std::shared_ptr<RIRMessagingTokenManager> RIRMessagingTokenManager::initWithHeartbeatLogger(
    std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger) {
  std::shared_ptr<RIRMessagingTokenManager> manager(new RIRMessagingTokenManager(std::move(heartbeatLogger)));
  manager->resetCredentialsIfNeeded();
  return manager;
}

RIRMessagingTokenManager::RIRMessagingTokenManager(std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger)
    : m_tokenStore(std::make_unique<RIRMessagingTokenStore>()),
      m_authService(RIRMessagingAuthService::create()),
      m_tokenOperations(std::make_unique<platform::OperationQueue>(1, false, platform::Qos::Utility)),
      m_installations(defaultInstallations()),
      m_heartbeatLogger(heartbeatLogger ? std::move(heartbeatLogger) : std::make_shared<RIRNullHeartbeatLogger>()) {}

RIRMessagingTokenManager::~RIRMessagingTokenManager() { stopAllTokenOperations(); }

void RIRMessagingTokenManager::stopAllTokenOperations() {
  m_authService->stopCheckinRequest();
  m_tokenOperations->cancelAll();
}

// --- fields ------------------------------------------------------------------------

std::optional<std::string> RIRMessagingTokenManager::defaultRCMToken() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_defaultRCMToken;
}

void RIRMessagingTokenManager::setDefaultRCMToken(std::optional<std::string> token) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_defaultRCMToken = std::move(token);
}

std::string RIRMessagingTokenManager::rcmSenderID() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_rcmSenderID;
}

void RIRMessagingTokenManager::setRcmSenderID(std::string senderID) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_rcmSenderID = std::move(senderID);
}

std::optional<std::string> RIRMessagingTokenManager::ririvuduAppID() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_ririvuduAppID;
}

void RIRMessagingTokenManager::setRirivuduAppID(std::optional<std::string> appID) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_ririvuduAppID = std::move(appID);
}

std::shared_ptr<RIRMessagingAPNSInfo> RIRMessagingTokenManager::currentAPNSInfo() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_currentAPNSInfo;
}

Dictionary RIRMessagingTokenManager::tokenOptions() const {
  std::shared_ptr<RIRMessagingAPNSInfo> info = currentAPNSInfo();
  if (!info) return Dictionary();
  return Dictionary{{kRIRMessagingTokenOptionsAPNSKey, Value::data(info->deviceToken())},
                    {kRIRMessagingTokenOptionsAPNSIsSandboxKey, Value(info->isSandbox())}};
}

std::string RIRMessagingTokenManager::deviceAuthID() const {
  std::shared_ptr<RIRMessagingCheckinPreferences> checkin = m_authService->checkinPreferences();
  return checkin ? checkin->deviceID() : std::string();
}

std::string RIRMessagingTokenManager::secretToken() const {
  std::shared_ptr<RIRMessagingCheckinPreferences> checkin = m_authService->checkinPreferences();
  return checkin ? checkin->secretToken() : std::string();
}

std::string RIRMessagingTokenManager::versionInfo() const {
  std::shared_ptr<RIRMessagingCheckinPreferences> checkin = m_authService->checkinPreferences();
  return checkin ? checkin->versionInfo() : std::string();
}

bool RIRMessagingTokenManager::hasValidCheckinInfo() const {
  std::shared_ptr<RIRMessagingCheckinPreferences> checkin = m_authService->checkinPreferences();
  return checkin && checkin->hasValidCheckinInfo();
}

bool RIRMessagingTokenManager::isDefaultTokenWithAuthorizedEntity(const std::string& authorizedEntity,
                                                                  const std::string& scope) const {
  return authorizedEntity == rcmSenderID() && scope == kRIRMessagingDefaultTokenScope;
}

bool RIRMessagingTokenManager::hasTokenChangedFromOldToken(const std::optional<std::string>& oldToken,
                                                           const std::optional<std::string>& newToken) {
  const std::string before = oldToken.value_or("");
  const std::string after = newToken.value_or("");
  if (before.size() != after.size()) return true;
  return !before.empty() && !after.empty() && before != after;
}

// --- the default token -------------------------------------------------------------

std::optional<std::string> RIRMessagingTokenManager::tokenAndRequestIfNotExist() {
  const std::string senderID = rcmSenderID();
  if (senderID.empty()) return std::nullopt;
  if (std::optional<std::string> token = defaultRCMToken(); token && !token->empty()) return token;
  if (std::shared_ptr<RIRMessagingTokenInfo> cached =
          cachedTokenInfoWithAuthorizedEntity(senderID, kRIRMessagingDefaultTokenScope);
      cached && !cached->token().empty()) {
    return cached->token();
  }
  tokenWithAuthorizedEntity(senderID, kRIRMessagingDefaultTokenScope, tokenOptions(),
                            [](std::optional<std::string>, std::optional<Error>) {});
  return std::nullopt;
}

void RIRMessagingTokenManager::postTokenRefreshNotificationWithDefaultRCMToken(const std::optional<std::string>& token) {
  platform::NotificationObject object;
  if (token) object = platform::NotificationObject(std::make_shared<Value>(*token));
  platform::NotificationCenter::defaultCenter().post(kRIRMessagingRefreshTokenNotification, object);
}

void RIRMessagingTokenManager::saveDefaultTokenInfoInKeychain(const std::string& token) {
  if (!hasTokenChangedFromOldToken(defaultRCMToken(), token)) return;
  setDefaultRCMToken(token);
  auto info = std::make_shared<RIRMessagingTokenInfo>(rcmSenderID(), kRIRMessagingDefaultTokenScope, token,
                                                      RIRMessagingCurrentAppVersion(), ririvuduAppID());
  std::shared_ptr<RIRMessagingAPNSInfo> apnsInfo = RIRMessagingAPNSInfo::initWithTokenOptionsDictionary(tokenOptions());
  if (!apnsInfo) {
    // At launch no push token is known yet: the stored record of this token
    // keeps the one it was issued for, else the next request with that push
    // token would see it as changed and register again.
    std::shared_ptr<RIRMessagingTokenInfo> stored =
        cachedTokenInfoWithAuthorizedEntity(info->authorizedEntity(), kRIRMessagingDefaultTokenScope);
    if (stored && stored->token() == token) apnsInfo = stored->APNSInfo();
  }
  info->setAPNSInfo(apnsInfo);
  m_tokenStore->saveTokenInfoInCache(info);
}

// --- fetching ----------------------------------------------------------------------

std::shared_ptr<RIRMessagingTokenInfo> RIRMessagingTokenManager::cachedTokenInfoWithAuthorizedEntity(
    const std::string& authorizedEntity, const std::string& scope) {
  return m_tokenStore->tokenInfoWithAuthorizedEntity(authorizedEntity, scope);
}

void RIRMessagingTokenManager::tokenWithAuthorizedEntity(const std::string& authorizedEntity, const std::string& scope,
                                                         const std::optional<Dictionary>& options,
                                                         TokenHandler handler) {
  if (!handler) {
    logger().logFuncError(kCodeInvalidHandler, "Invalid nil handler");
    return;
  }
  Dictionary tokenOptions = options ? options->copy() : Dictionary();
  if (!tokenOptions.contains(kRIRMessagingTokenOptionsAPNSKey)) {
    logger().logFuncWarning(kCodeDeclined, "Declining request for RCM Token since no APNS Token specified");
    onMain([handler] {
      handler(std::nullopt, messagingError(kRIRMessagingErrorCodeMissingDeviceToken,
                                           "No APNS token specified before fetching RCM Token"));
    });
    return;
  }
  if (!tokenOptions.contains(kRIRMessagingTokenOptionsAPNSIsSandboxKey)) {
    tokenOptions.set(kRIRMessagingTokenOptionsAPNSIsSandboxKey, Value(RIRMessagingIsSandboxApp()));
  }
  if (std::optional<std::string> appID = ririvuduAppID()) {
    tokenOptions.set(kRIRMessagingTokenOptionsAppIDKey, Value(*appID));
  }
  auto fail = [handler](Error error) { onMain([handler, error] { handler(std::nullopt, error); }); };
  const char* missing = "Failed to send token request, missing critical info.";
  if (authorizedEntity.empty()) return fail(messagingError(kRIRMessagingErrorCodeMissingAuthorizedEntity, missing));
  if (scope.empty()) return fail(messagingError(kRIRMessagingErrorCodeMissingScope, missing));
  if (!m_installations) return fail(messagingError(kRIRMessagingErrorCodeMissingInstallations, missing));

  std::weak_ptr<RIRMessagingTokenManager> weakSelf = weak_from_this();
  m_authService->fetchCheckinInfoWithHandler([weakSelf, authorizedEntity, scope, tokenOptions, handler, fail](
                                                 std::shared_ptr<RIRMessagingCheckinPreferences>,
                                                 std::optional<Error> checkinError) {
    if (checkinError) return fail(*checkinError);
    std::shared_ptr<RIRMessagingTokenManager> self = weakSelf.lock();
    if (!self) {
      handler(std::nullopt, messagingError(kRIRMessagingErrorCodeInternal,
                                           "Unable to fetch token. Lost Reference to TokenManager"));
      return;
    }
    self->m_installations->installationIDWithCompletion(
        [weakSelf, authorizedEntity, scope, tokenOptions, handler, fail](std::optional<std::string> identifier,
                                                                        std::optional<Error> error) {
          if (error) return fail(*error);
          std::shared_ptr<RIRMessagingTokenManager> self = weakSelf.lock();
          if (!self) {
            return fail(messagingError(kRIRMessagingErrorCodeInternal, "Lost Reference to TokenManager"));
          }
          std::shared_ptr<RIRMessagingTokenInfo> cached =
              self->cachedTokenInfoWithAuthorizedEntity(authorizedEntity, scope);
          std::shared_ptr<RIRMessagingAPNSInfo> optionsInfo =
              RIRMessagingAPNSInfo::initWithTokenOptionsDictionary(tokenOptions);
          const std::shared_ptr<RIRMessagingAPNSInfo> cachedInfo = cached ? cached->APNSInfo() : nullptr;
          const bool apnsChanged = (optionsInfo || cachedInfo) && !(cachedInfo && cachedInfo->isEqualToAPNSInfo(optionsInfo));
          if (!apnsChanged && cached && cached->isFreshWithIID(identifier)) {
            const std::string token = cached->token();
            onMain([handler, token] { handler(token, std::nullopt); });
            return;
          }
          self->fetchNewTokenWithAuthorizedEntity(authorizedEntity, scope, identifier, tokenOptions, handler);
        });
  });
}

std::shared_ptr<RIRMessagingTokenFetchOperation> RIRMessagingTokenManager::createFetchOperationWithAuthorizedEntity(
    const std::string& authorizedEntity, const std::string& scope, const Dictionary& options,
    const std::optional<std::string>& instanceID) {
  return std::make_shared<RIRMessagingTokenFetchOperation>(authorizedEntity, scope, options,
                                                           m_authService->checkinPreferences(), instanceID,
                                                           m_heartbeatLogger);
}

std::shared_ptr<RIRMessagingTokenDeleteOperation> RIRMessagingTokenManager::createDeleteOperationWithAuthorizedEntity(
    const std::string& authorizedEntity, const std::string& scope,
    const std::shared_ptr<RIRMessagingCheckinPreferences>& checkinPreferences,
    const std::optional<std::string>& instanceID, RIRMessagingTokenAction action) {
  return std::make_shared<RIRMessagingTokenDeleteOperation>(authorizedEntity, scope, checkinPreferences, instanceID,
                                                            action, m_heartbeatLogger);
}

void RIRMessagingTokenManager::fetchNewTokenWithAuthorizedEntity(const std::string& authorizedEntity,
                                                                 const std::string& scope,
                                                                 const std::optional<std::string>& instanceID,
                                                                 const Dictionary& options, TokenHandler handler) {
  logger().logFuncDebug(kCodeFetchNew,
                        "Fetch new token for authorizedEntity: " + authorizedEntity + ", scope: " + scope);
  std::shared_ptr<RIRMessagingTokenFetchOperation> operation =
      createFetchOperationWithAuthorizedEntity(authorizedEntity, scope, options, instanceID);
  std::weak_ptr<RIRMessagingTokenManager> weakSelf = weak_from_this();
  operation->addCompletionHandler([weakSelf, authorizedEntity, scope, options, handler](
                                      RIRMessagingTokenOperationResult result, std::optional<std::string> token,
                                      std::optional<Error> error) {
    onMain([weakSelf, authorizedEntity, scope, options, handler, result, token, error] {
      std::shared_ptr<RIRMessagingTokenManager> self = weakSelf.lock();
      if (error) {
        if (handler) handler(std::nullopt, error);
        return;
      }
      if (!self) {
        if (handler) handler(std::nullopt, messagingError(kRIRMessagingErrorCodeInternal, "Lost Reference to TokenManager"));
        return;
      }
      // A cancelled fetch is a failure: nothing is saved or announced.
      if (std::optional<Error> failure = outcomeError(result, error); failure || !token) {
        if (handler) {
          handler(std::nullopt, failure ? *failure : messagingError(kRIRMessagingErrorCodeUnknown, "Empty response."));
        }
        return;
      }
      if (self->isDefaultTokenWithAuthorizedEntity(authorizedEntity, scope)) {
        self->postTokenRefreshNotificationWithDefaultRCMToken(token);
      }
      const Value& appID = options[kRIRMessagingTokenOptionsAppIDKey];
      auto info = std::make_shared<RIRMessagingTokenInfo>(
          authorizedEntity, scope, *token, RIRMessagingCurrentAppVersion(),
          appID.isString() ? std::optional<std::string>(*appID.asString()) : std::nullopt);
      info->setAPNSInfo(RIRMessagingAPNSInfo::initWithTokenOptionsDictionary(options));
      self->m_tokenStore->saveTokenInfo(info, [handler, token, authorizedEntity, scope](std::optional<Error> saveError) {
        if (saveError) {
          if (handler) handler(std::nullopt, saveError);
          return;
        }
        logger().logFuncDebug(kCodeFetched, std::string("Token fetch successful, token: ") + kRIRInstallationsRedacted +
                                                ", authorizedEntity: " + authorizedEntity + ", scope:" + scope);
        if (handler) handler(token, std::nullopt);
      });
    });
  });
  m_tokenOperations->add(operation);
}

// --- deleting ----------------------------------------------------------------------

void RIRMessagingTokenManager::deleteTokenWithAuthorizedEntity(const std::string& authorizedEntity,
                                                               const std::string& scope,
                                                               const std::optional<std::string>& instanceID,
                                                               ErrorHandler handler) {
  if (m_tokenStore->tokenInfoWithAuthorizedEntity(authorizedEntity, scope)) {
    m_tokenStore->removeTokenWithAuthorizedEntity(authorizedEntity, scope);
  }
  std::shared_ptr<RIRMessagingTokenDeleteOperation> operation = createDeleteOperationWithAuthorizedEntity(
      authorizedEntity, scope, m_authService->checkinPreferences(), instanceID, RIRMessagingTokenActionDeleteToken);
  if (handler) {
    std::weak_ptr<RIRMessagingTokenManager> weakSelf = weak_from_this();
    const bool isDefault = isDefaultTokenWithAuthorizedEntity(authorizedEntity, scope);
    operation->addCompletionHandler(
        [weakSelf, isDefault, handler](RIRMessagingTokenOperationResult result, std::optional<std::string>,
                                       std::optional<Error> error) {
          std::optional<Error> failure = outcomeError(result, error);
          if (isDefault) {
            if (std::shared_ptr<RIRMessagingTokenManager> self = weakSelf.lock()) {
              self->postTokenRefreshNotificationWithDefaultRCMToken(std::nullopt);
            }
          }
          onMain([handler, failure] { handler(failure); });
        });
  }
  m_tokenOperations->add(operation);
}

void RIRMessagingTokenManager::deleteAllTokensWithHandler(ErrorHandler handler) {
  if (!m_installations) {
    if (handler) {
      onMain([handler] {
        handler(messagingError(kRIRMessagingErrorCodeMissingInstallations,
                               "Failed to send token request, missing critical info."));
      });
    }
    return;
  }
  std::weak_ptr<RIRMessagingTokenManager> weakSelf = weak_from_this();
  m_installations->installationIDWithCompletion([weakSelf, handler](std::optional<std::string> identifier,
                                                                    std::optional<Error> error) {
    if (error) {
      if (handler) onMain([handler, error] { handler(error); });
      return;
    }
    std::shared_ptr<RIRMessagingTokenManager> self = weakSelf.lock();
    if (!self) {
      if (handler) {
        onMain([handler] {
          handler(messagingError(kRIRMessagingErrorCodeInternal, "Cannot delete token. Lost reference to TokenManager"));
        });
      }
      return;
    }
    std::shared_ptr<RIRMessagingCheckinPreferences> checkin = self->m_authService->checkinPreferences();
    if (!checkin) {
      if (handler) onMain([handler] { handler(std::nullopt); });
      return;
    }
    std::shared_ptr<RIRMessagingTokenDeleteOperation> operation = self->createDeleteOperationWithAuthorizedEntity(
        "*", "*", checkin, identifier, RIRMessagingTokenActionDeleteTokenAndIID);
    if (handler) {
      operation->addCompletionHandler([weakSelf, handler](RIRMessagingTokenOperationResult result,
                                                          std::optional<std::string>, std::optional<Error> error) {
        std::optional<Error> failure = outcomeError(result, error);
        if (std::shared_ptr<RIRMessagingTokenManager> manager = weakSelf.lock()) manager->setDefaultRCMToken(std::nullopt);
        onMain([handler, failure] { handler(failure); });
      });
    }
    self->m_tokenOperations->add(operation);
  });
}

void RIRMessagingTokenManager::deleteAllTokensLocallyWithHandler(ErrorHandler handler) {
  m_tokenStore->removeAllTokensWithHandler(std::move(handler));
}

void RIRMessagingTokenManager::deleteWithHandler(ErrorHandler handler) {
  std::weak_ptr<RIRMessagingTokenManager> weakSelf = weak_from_this();
  deleteAllTokensWithHandler([weakSelf, handler](std::optional<Error> error) {
    auto reply = [handler](std::optional<Error> result) {
      if (handler) handler(std::move(result));
    };
    if (error) return reply(error);
    std::shared_ptr<RIRMessagingTokenManager> self = weakSelf.lock();
    if (!self) {
      return reply(messagingError(kRIRMessagingErrorCodeInternal, "Cannot delete token. Lost reference to TokenManager"));
    }
    self->deleteAllTokensLocallyWithHandler([weakSelf, reply](std::optional<Error> localError) {
      std::shared_ptr<RIRMessagingTokenManager> manager = weakSelf.lock();
      if (manager) {
        manager->postTokenRefreshNotificationWithDefaultRCMToken(std::nullopt);
        manager->setDefaultRCMToken(std::nullopt);
      }
      if (localError) return reply(localError);
      if (!manager) {
        return reply(messagingError(kRIRMessagingErrorCodeInternal, "Cannot delete token. Lost reference to TokenManager"));
      }
      manager->m_authService->resetCheckinWithHandler(reply);
    });
  });
}

// --- fresh install -----------------------------------------------------------------

void RIRMessagingTokenManager::resetCredentialsIfNeeded() {
  if (m_authService->hasCheckinPlist()) return;
  std::shared_ptr<RIRMessagingCheckinPreferences> old = m_authService->checkinPreferences();
  if (!old) {
    logger().logFuncDebug(kCodeResetNoCheckin, "App reset detected but no valid checkin auth preferences found. Will "
                                               "not delete server token registrations.");
    return;
  }
  std::weak_ptr<RIRMessagingTokenManager> weakSelf = weak_from_this();
  m_authService->resetCheckinWithHandler([weakSelf, old](std::optional<Error> error) {
    if (error) {
      logger().logFuncError(kCodeResetFailed, "Couldn't remove cached checkin preferences for a fresh install. Error: " +
                                                  error->description());
    } else {
      logger().logFuncDebug(kCodeResetRemoved,
                            "Removed cached checkin preferences from Keychain because this is a fresh install.");
    }
    if (old->deviceID().empty() || old->secretToken().empty()) return;
    logger().logFuncDebug(kCodeResetDeleting, "Resetting old checkin and deleting server token registrations.");
    if (std::shared_ptr<RIRMessagingTokenManager> self = weakSelf.lock()) self->didDeleteRCMScopedTokensForCheckin(old);
  });
}

void RIRMessagingTokenManager::didDeleteRCMScopedTokensForCheckin(
    const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin) {
  const std::optional<std::string> noInstanceID;
  std::shared_ptr<RIRMessagingTokenDeleteOperation> operation =
      createDeleteOperationWithAuthorizedEntity("", "", checkin, noInstanceID, RIRMessagingTokenActionDeleteToken);
  operation->addCompletionHandler(
      [](RIRMessagingTokenOperationResult result, std::optional<std::string>, std::optional<Error> error) {
        if (outcomeError(result, error)) {
          logger().logFuncDebug(kCodeDeleteRegistrationsFailed, "Failed to delete ZCM server registrations on app reset.");
        } else {
          logger().logFuncDebug(kCodeDeleteRegistrationsDone, "Successfully deleted ZCM server registrations on app reset");
        }
      });
  m_tokenOperations->add(operation);
}

// --- refresh policy and push tokens ------------------------------------------------

bool RIRMessagingTokenManager::checkTokenRefreshPolicyWithIID(const std::optional<std::string>& IID) {
  bool defaultStale = false;
  std::vector<std::shared_ptr<RIRMessagingTokenInfo>> stale;
  for (const std::shared_ptr<RIRMessagingTokenInfo>& info : m_tokenStore->cachedTokenInfos()) {
    if (info->isFreshWithIID(IID)) continue;
    logger().logFuncDebug(kCodeInvalidatedStale, "Invalidating cached token for " + info->authorizedEntity() + " (" +
                                                     info->scope() + ") due to token is no longer fresh.");
    if (info->isDefaultToken()) {
      defaultStale = true;
    } else {
      stale.push_back(info);
    }
  }
  for (const auto& info : stale) m_tokenStore->removeTokenWithAuthorizedEntity(info->authorizedEntity(), info->scope());
  return defaultStale;
}

std::vector<std::shared_ptr<RIRMessagingTokenInfo>> RIRMessagingTokenManager::updateTokensToAPNSDeviceToken(
    const platform::Bytes& deviceToken, bool isSandbox) {
  auto info = std::make_shared<RIRMessagingAPNSInfo>(deviceToken, isSandbox);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_currentAPNSInfo && m_currentAPNSInfo->isEqualToAPNSInfo(info)) return {};
    m_currentAPNSInfo = info;
  }
  std::vector<std::shared_ptr<RIRMessagingTokenInfo>> invalidated;
  for (const std::shared_ptr<RIRMessagingTokenInfo>& cached : m_tokenStore->cachedTokenInfos()) {
    if (cached->APNSInfo() && cached->APNSInfo()->isEqualToAPNSInfo(info)) continue;
    invalidated.push_back(cached);
  }
  for (const auto& cached : invalidated) {
    logger().logFuncDebug(kCodeInvalidatedByAPNS, "Invalidating cached token for " + cached->authorizedEntity() + " (" +
                                                      cached->scope() + ") due to APNs token change.");
    m_tokenStore->removeTokenWithAuthorizedEntity(cached->authorizedEntity(), cached->scope());
  }
  return invalidated;
}

void RIRMessagingTokenManager::setAPNSToken(const std::optional<platform::Bytes>& token, const Dictionary& userInfo) {
  if (!token) {
    logger().logFuncDebug(kCodeAPNSType, "Empty APNS token type");
    return;
  }
  if (std::shared_ptr<RIRMessagingAPNSInfo> current = currentAPNSInfo(); current && current->deviceToken() == *token) {
    logger().logFuncDebug(kCodeSameAPNSToken, "Trying to reset APNS token to the same value. Will return");
    return;
  }
  const int64_t type = userInfo[kRIRMessagingAPNSTokenTypeKey].longLongValue();
  const bool sandbox = type == 0 ? RIRMessagingIsSandboxApp() : type == 1;

  std::vector<std::shared_ptr<RIRMessagingTokenInfo>> invalidated = updateTokensToAPNSDeviceToken(*token, sandbox);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_currentAPNSInfo = std::make_shared<RIRMessagingAPNSInfo>(*token, sandbox);
  }
  if (invalidated.empty() && !m_tokenStore->cachedTokenInfos().empty()) return;
  if (!m_installations) return;
  std::weak_ptr<RIRMessagingTokenManager> weakSelf = weak_from_this();
  m_installations->installationIDWithCompletion(
      [weakSelf, invalidated, sandbox](std::optional<std::string> identifier, std::optional<Error>) {
        std::shared_ptr<RIRMessagingTokenManager> self = weakSelf.lock();
        if (!self) {
          logger().logFuncError(kCodeShutDown, "Instance ID shut down during token reset. Aborting");
          return;
        }
        std::shared_ptr<RIRMessagingAPNSInfo> current = self->currentAPNSInfo();
        if (!current) {
          logger().logFuncError(kCodeAPNSCleared, "apnsTokenData was set to nil during token reset. Aborting");
          return;
        }
        Dictionary options{{kRIRMessagingTokenOptionsAPNSKey, Value::data(current->deviceToken())},
                           {kRIRMessagingTokenOptionsAPNSIsSandboxKey, Value(sandbox)}};
        if (std::optional<std::string> appID = self->ririvuduAppID()) {
          options.set(kRIRMessagingTokenOptionsAppIDKey, Value(*appID));
        }
        auto ignore = [](std::optional<std::string>, std::optional<Error>) {};
        for (const auto& info : invalidated) {
          self->fetchNewTokenWithAuthorizedEntity(info->authorizedEntity(), info->scope(), identifier, options, ignore);
        }
        if (self->m_tokenStore->cachedTokenInfos().empty()) {
          self->tokenWithAuthorizedEntity(self->rcmSenderID(), kRIRMessagingDefaultTokenScope, options, ignore);
        }
      });
}

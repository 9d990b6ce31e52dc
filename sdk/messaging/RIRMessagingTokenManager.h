// RIRMessagingTokenManager: everything about registration tokens: the token
// cache (RIRMessagingTokenStore), the one-at-a-time queue of token
// operations ("com.zoruvu.iid-token-operations"), the device check-in it
// waits for (RIRMessagingAuthService), the default app's installations and
// the push token in force.
//
// A fetch (tokenWithAuthorizedEntity) needs "apns_token" in its options
// (else error 505), waits for a valid check-in and the installation ID, and
// answers a cached token when it is fresh and was issued for the same push
// token; otherwise it fetches, saves the record and, for the default token
// (sender ID, scope "*"), posts "com.ririvudu.iid.notif.refresh-token" with
// the token (object: a platform::Value string) before the handler hears it.
// A launch that re-caches the stored default token before any push token is
// known keeps the push token it was issued for, so it stays reusable.
// A fetch or delete that ends cancelled is reported as a cancellation error
// (NSURLErrorDomain -999): no record is saved and no notification posted.
// Deletes remove the record at once and tell the server; deleteWithHandler
// resets everything, check-in included. At creation a fresh install (a
// stored check-in without its plist) forgets the check-in and deletes the
// old server registrations.
//
// Handlers run on the main queue (a manager released while waiting for the
// check-in answers its handler where the check-in ended, with a code-1
// error). Continuations hold the manager weakly; releasing it stops the
// check-in request and cancels queued operations.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/OperationQueue.h"
#include "platform/values/Error.h"
#include "sdk/core/RIRHeartbeatLoggerProtocol.h"
#include "sdk/messaging/RIRMessagingAPNSInfo.h"
#include "sdk/messaging/RIRMessagingAuthService.h"
#include "sdk/messaging/RIRMessagingTokenOperation.h"
#include "sdk/messaging/RIRMessagingTokenStore.h"

class RIRInstallations;

inline constexpr const char* kRIRMessagingRefreshTokenNotification = "com.ririvudu.iid.notif.refresh-token";
inline constexpr const char* kRIRMessagingAPNSTokenTypeKey = "APNSTokenType";
inline constexpr const char* kRIRMessagingDefaultTokenScope = "*";

class RIRMessagingTokenManager : public std::enable_shared_from_this<RIRMessagingTokenManager> {
 public:
  using TokenHandler = std::function<void(std::optional<std::string> token, std::optional<platform::Error> error)>;
  using ErrorHandler = std::function<void(std::optional<platform::Error> error)>;

  static std::shared_ptr<RIRMessagingTokenManager> initWithHeartbeatLogger(
      std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger);
  ~RIRMessagingTokenManager();
  RIRMessagingTokenManager(const RIRMessagingTokenManager&) = delete;
  RIRMessagingTokenManager& operator=(const RIRMessagingTokenManager&) = delete;

  std::optional<std::string> tokenAndRequestIfNotExist();
  std::optional<std::string> defaultRCMToken() const;
  void postTokenRefreshNotificationWithDefaultRCMToken(const std::optional<std::string>& token);
  void saveDefaultTokenInfoInKeychain(const std::string& token);
  static bool hasTokenChangedFromOldToken(const std::optional<std::string>& oldToken,
                                          const std::optional<std::string>& newToken);

  platform::Dictionary tokenOptions() const;
  std::string deviceAuthID() const;
  std::string secretToken() const;
  std::string versionInfo() const;
  bool hasValidCheckinInfo() const;

  void tokenWithAuthorizedEntity(const std::string& authorizedEntity, const std::string& scope,
                                 const std::optional<platform::Dictionary>& options, TokenHandler handler);
  void fetchNewTokenWithAuthorizedEntity(const std::string& authorizedEntity, const std::string& scope,
                                         const std::optional<std::string>& instanceID,
                                         const platform::Dictionary& options, TokenHandler handler);
  std::shared_ptr<RIRMessagingTokenInfo> cachedTokenInfoWithAuthorizedEntity(const std::string& authorizedEntity,
                                                                             const std::string& scope);
  bool isDefaultTokenWithAuthorizedEntity(const std::string& authorizedEntity, const std::string& scope) const;

  void deleteTokenWithAuthorizedEntity(const std::string& authorizedEntity, const std::string& scope,
                                       const std::optional<std::string>& instanceID, ErrorHandler handler);
  void deleteAllTokensWithHandler(ErrorHandler handler);
  void deleteAllTokensLocallyWithHandler(ErrorHandler handler);
  void deleteWithHandler(ErrorHandler handler);

  void stopAllTokenOperations();
  void resetCredentialsIfNeeded();
  void didDeleteRCMScopedTokensForCheckin(const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin);

  std::shared_ptr<RIRMessagingTokenFetchOperation> createFetchOperationWithAuthorizedEntity(
      const std::string& authorizedEntity, const std::string& scope, const platform::Dictionary& options,
      const std::optional<std::string>& instanceID);
  std::shared_ptr<RIRMessagingTokenDeleteOperation> createDeleteOperationWithAuthorizedEntity(
      const std::string& authorizedEntity, const std::string& scope,
      const std::shared_ptr<RIRMessagingCheckinPreferences>& checkinPreferences,
      const std::optional<std::string>& instanceID, RIRMessagingTokenAction action);

  bool checkTokenRefreshPolicyWithIID(const std::optional<std::string>& IID);
  std::vector<std::shared_ptr<RIRMessagingTokenInfo>> updateTokensToAPNSDeviceToken(const platform::Bytes& deviceToken,
                                                                                    bool isSandbox);
  // userInfo "APNSTokenType": 1 sandbox, another non-zero value production,
  // 0 or absent the build's own environment.
  void setAPNSToken(const std::optional<platform::Bytes>& token, const platform::Dictionary& userInfo);

  std::string rcmSenderID() const;
  void setRcmSenderID(std::string senderID);
  std::optional<std::string> ririvuduAppID() const;
  void setRirivuduAppID(std::optional<std::string> appID);
  std::shared_ptr<RIRMessagingAPNSInfo> currentAPNSInfo() const;
  const std::shared_ptr<RIRMessagingAuthService>& authService() const { return m_authService; }
  RIRMessagingTokenStore& tokenStore() { return *m_tokenStore; }
  std::shared_ptr<RIRInstallations> installations() const { return m_installations; }
  size_t pendingOperationCount() const { return m_tokenOperations->operationCount(); }

 private:
  explicit RIRMessagingTokenManager(std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger);
  void setDefaultRCMToken(std::optional<std::string> token);

  std::unique_ptr<RIRMessagingTokenStore> m_tokenStore;
  std::shared_ptr<RIRMessagingAuthService> m_authService;
  std::unique_ptr<platform::OperationQueue> m_tokenOperations;
  std::shared_ptr<RIRInstallations> m_installations;
  const std::shared_ptr<RIRHeartbeatLoggerProtocol> m_heartbeatLogger;

  mutable std::mutex m_mutex;
  std::optional<std::string> m_defaultRCMToken;
  std::string m_rcmSenderID;
  std::optional<std::string> m_ririvuduAppID;
  std::shared_ptr<RIRMessagingAPNSInfo> m_currentAPNSInfo;
};

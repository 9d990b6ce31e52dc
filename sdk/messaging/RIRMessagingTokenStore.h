// RIRMessagingTokenStore: the registration-token cache in the keychain, one
// item per (authorized entity, scope): generic "com.zoruvu.iid-tokens",
// service "<entity>:<scope>", account the bundle identifier, data the
// archived RIRMessagingTokenInfo. A record read in the older raw form is
// written back at once in the current form. Undecodable items read as
// absent (debug I-RCM035015) and are left in place.
//
// Thread safety: every member may be called from any thread; keychain order
// is the gateway's (RIRMessagingKeychain). Write handlers run on the main
// queue.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Error.h"
#include "sdk/messaging/RIRMessagingAuthKeychain.h"
#include "sdk/messaging/RIRMessagingTokenInfo.h"

inline constexpr const char* kRIRMessagingTokenKeychainGeneric = "com.zoruvu.iid-tokens";

class RIRMessagingTokenStore {
 public:
  using Handler = std::function<void(std::optional<platform::Error> error)>;

  RIRMessagingTokenStore();

  static std::string serviceKeyForAuthorizedEntity(const std::string& authorizedEntity, const std::string& scope);
  static std::shared_ptr<RIRMessagingTokenInfo> tokenInfoFromKeychainItem(const std::optional<platform::Bytes>& item);
  // The archive of a record, as the store writes it.
  static platform::Result<platform::Bytes> archivedTokenInfo(const RIRMessagingTokenInfo& info);

  std::shared_ptr<RIRMessagingTokenInfo> tokenInfoWithAuthorizedEntity(const std::string& authorizedEntity,
                                                                       const std::string& scope);
  std::vector<std::shared_ptr<RIRMessagingTokenInfo>> cachedTokenInfos();
  // Stamps the record's cache time with now, then writes it.
  void saveTokenInfo(const std::shared_ptr<RIRMessagingTokenInfo>& info, Handler handler);
  // The same, into the in-memory cache only.
  void saveTokenInfoInCache(const std::shared_ptr<RIRMessagingTokenInfo>& info);
  void removeTokenWithAuthorizedEntity(const std::string& authorizedEntity, const std::string& scope);
  void removeAllTokensWithHandler(Handler handler);

 private:
  RIRMessagingAuthKeychain m_keychain;
};

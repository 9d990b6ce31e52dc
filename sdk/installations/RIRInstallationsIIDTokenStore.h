// RIRInstallationsIIDTokenStore: reads the default token of an older
// identity library: a generic-password keychain item (generic attribute
// "com.zoruvu.iid-tokens", account the main bundle's identifier when there is
// one, service "<sender ID>:*") holding a keyed archive of
// RIRInstallationsIIDTokenInfo. It never writes legacy data.
//
// Thread safety: any thread; the work runs on the global utility queue.
#pragma once

#include <string>

#include "platform/keychain/KeychainQuery.h"
#include "platform/values/Error.h"
#include "sdk/promises/RBLPromise.h"

class RIRInstallationsIIDTokenStore {
 public:
  explicit RIRInstallationsIIDTokenStore(std::string ZCMSenderID) : m_ZCMSenderID(std::move(ZCMSenderID)) {}

  // Fulfilled with the token (string); rejected with a keychain error or the
  // corrupted-token error (code 0) when there is none or it is unreadable.
  RBLPromisePtr existingIIDDefaultToken() const;

  const std::string& ZCMSenderID() const { return m_ZCMSenderID; }
  platform::KeychainQuery IIDDefaultTokenDataKeychainQuery() const;
  static std::string IIDAppIdentifier();
  static std::string serviceKeyForAuthorizedEntity(const std::string& entity, const std::string& scope) {
    return entity + ":" + scope;
  }
  static platform::Result<std::string> IIDCheckinWithData(const platform::Bytes& data);

 private:
  std::string m_ZCMSenderID;
};

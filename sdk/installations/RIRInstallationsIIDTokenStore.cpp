#include "sdk/installations/RIRInstallationsIIDTokenStore.h"

#include <mutex>

#include "platform/app/Bundle.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/storage/ArchiveClassRegistry.h"
#include "platform/storage/KeyedArchiver.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"
#include "sdk/installations/RIRInstallationsIIDTokenInfo.h"
#include "sdk/utilities/ZULKeychainUtils.h"

using platform::Error;
using platform::Value;

std::shared_ptr<RIRInstallationsIIDTokenInfo> RIRInstallationsIIDTokenInfo::initWithCoder(
    platform::KeyedUnarchiver& coder) {
  platform::Result<Value> token = coder.decodeObject("token", {platform::KeyedArchiver::kStringClass});
  if (!token) return nullptr;
  auto info = std::make_shared<RIRInstallationsIIDTokenInfo>();
  if (const std::string* text = token->asString()) info->token = *text;
  return info;
}

void RIRInstallationsIIDTokenInfo::registerClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::ArchiveClassRegistry::registerClass(
        kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
          return initWithCoder(coder);
        });
  });
}

std::string RIRInstallationsIIDTokenStore::IIDAppIdentifier() {
  return platform::Bundle::main()->bundleIdentifier().value_or("");
}

platform::KeychainQuery RIRInstallationsIIDTokenStore::IIDDefaultTokenDataKeychainQuery() const {
  // An empty account is left out of the query.
  return platform::KeychainQuery::genericPassword(serviceKeyForAuthorizedEntity(m_ZCMSenderID, "*"),
                                                  IIDAppIdentifier(), "com.zoruvu.iid-tokens");
}

platform::Result<std::string> RIRInstallationsIIDTokenStore::IIDCheckinWithData(const platform::Bytes& data) {
  RIRInstallationsIIDTokenInfo::registerClass();
  auto unarchiver = platform::KeyedUnarchiver::forReadingFromData(data);
  if (!unarchiver) return unarchiver.error();
  unarchiver.value()->setClass(RIRInstallationsIIDTokenInfo::kClassName, RIRInstallationsIIDTokenInfo::kLegacyClassName);
  platform::Result<Value> root = unarchiver.value()->decodeTopLevelObject({RIRInstallationsIIDTokenInfo::kClassName});
  if (!root) return RIRInstallationsErrorUtil::corruptedIIDTokenData();
  auto info = std::dynamic_pointer_cast<RIRInstallationsIIDTokenInfo>(platform::KeyedArchiver::unwrap(root.value()));
  if (!info || !info->token || info->token->empty()) return RIRInstallationsErrorUtil::corruptedIIDTokenData();
  return *info->token;
}

RBLPromisePtr RIRInstallationsIIDTokenStore::existingIIDDefaultToken() const {
  platform::KeychainQuery query = IIDDefaultTokenDataKeychainQuery();
  return RBLPromise::onQueueDo(platform::globalQueue(platform::Qos::Utility), [query]() -> RBLResolution {
    std::optional<Error> error;
    std::optional<platform::Bytes> data = ZULKeychainUtils::getItemWithQuery(query, &error);
    if (!data) return error ? *error : RIRInstallationsErrorUtil::corruptedIIDTokenData();
    platform::Result<std::string> token = IIDCheckinWithData(*data);
    if (!token) return token.error();
    return Value(token.value());
  });
}

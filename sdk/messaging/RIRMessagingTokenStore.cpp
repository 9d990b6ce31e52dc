#include "sdk/messaging/RIRMessagingTokenStore.h"

#include "platform/storage/KeyedArchiver.h"
#include "platform/time/Clock.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingUtilities.h"

namespace {

constexpr long kCodeMigration = 34001;
constexpr long kCodeInvalidEntity = 33012;
constexpr long kCodeUnreadable = 35015;

std::string account() { return RIRMessagingAppIdentifier().value_or(""); }

}  // namespace

RIRMessagingTokenStore::RIRMessagingTokenStore() : m_keychain(kRIRMessagingTokenKeychainGeneric) {
  RIRMessagingTokenInfo::registerClass();
}

std::string RIRMessagingTokenStore::serviceKeyForAuthorizedEntity(const std::string& authorizedEntity,
                                                                  const std::string& scope) {
  return authorizedEntity + ":" + scope;
}

std::shared_ptr<RIRMessagingTokenInfo> RIRMessagingTokenStore::tokenInfoFromKeychainItem(
    const std::optional<platform::Bytes>& item) {
  if (!item) return nullptr;
  RIRMessagingTokenInfo::registerClass();
  std::shared_ptr<RIRMessagingTokenInfo> info;
  if (auto unarchiver = platform::KeyedUnarchiver::forReadingFromData(*item)) {
    unarchiver.value()->setClass(RIRMessagingTokenInfo::kClassName, RIRMessagingTokenInfo::kStoredClassName);
    platform::Result<platform::Value> root = unarchiver.value()->decodeTopLevelObject({RIRMessagingTokenInfo::kClassName});
    if (root) info = std::dynamic_pointer_cast<RIRMessagingTokenInfo>(platform::KeyedArchiver::unwrap(root.value()));
  }
  if (!info) {
    RIRMessagingSharedLogger().logFuncDebug(kCodeUnreadable,
                                            "Unable to parse token info from Keychain item; item was in an invalid format");
  }
  return info;
}

platform::Result<platform::Bytes> RIRMessagingTokenStore::archivedTokenInfo(const RIRMessagingTokenInfo& info) {
  platform::KeyedArchiver archiver;
  archiver.setClassName(RIRMessagingTokenInfo::kStoredClassName, RIRMessagingTokenInfo::kClassName);
  archiver.encodeRootObject(info);
  return archiver.finishEncoding();
}

std::shared_ptr<RIRMessagingTokenInfo> RIRMessagingTokenStore::tokenInfoWithAuthorizedEntity(
    const std::string& authorizedEntity, const std::string& scope) {
  if (authorizedEntity.empty() || scope.empty()) return nullptr;
  const std::string service = serviceKeyForAuthorizedEntity(authorizedEntity, scope);
  std::shared_ptr<RIRMessagingTokenInfo> info = tokenInfoFromKeychainItem(m_keychain.dataForService(service, account()));
  if (info && info->needsMigration()) {
    const std::string description = info->description();
    saveTokenInfo(info, [description, service](std::optional<platform::Error> error) {
      RIRMessagingSharedLogger().logFuncDebug(kCodeMigration, std::string(error ? "Failed to migrate token: "
                                                                                 : "Successful token migration: ") +
                                                                  description + " account: " + account() +
                                                                  " service " + service);
    });
  }
  return info;
}

std::vector<std::shared_ptr<RIRMessagingTokenInfo>> RIRMessagingTokenStore::cachedTokenInfos() {
  std::vector<std::shared_ptr<RIRMessagingTokenInfo>> infos;
  for (const platform::Bytes& item : m_keychain.itemsMatchingService("*", account())) {
    if (std::shared_ptr<RIRMessagingTokenInfo> info = tokenInfoFromKeychainItem(item)) infos.push_back(std::move(info));
  }
  return infos;
}

void RIRMessagingTokenStore::saveTokenInfo(const std::shared_ptr<RIRMessagingTokenInfo>& info, Handler handler) {
  info->setCacheTime(platform::Clock::current()->now());
  platform::Result<platform::Bytes> archive = archivedTokenInfo(*info);
  if (!archive) {
    if (handler) handler(archive.error());
    return;
  }
  m_keychain.setData(archive.value(), serviceKeyForAuthorizedEntity(info->authorizedEntity(), info->scope()), account(),
                     std::move(handler));
}

void RIRMessagingTokenStore::saveTokenInfoInCache(const std::shared_ptr<RIRMessagingTokenInfo>& info) {
  info->setCacheTime(platform::Clock::current()->now());
  platform::Result<platform::Bytes> archive = archivedTokenInfo(*info);
  if (!archive) return;
  m_keychain.setCacheData(archive.value(), serviceKeyForAuthorizedEntity(info->authorizedEntity(), info->scope()),
                          account());
}

void RIRMessagingTokenStore::removeTokenWithAuthorizedEntity(const std::string& authorizedEntity,
                                                             const std::string& scope) {
  if (authorizedEntity.empty() || scope.empty()) {
    RIRMessagingSharedLogger().logFuncError(kCodeInvalidEntity, "Will not delete token with invalid entity: " +
                                                                    authorizedEntity + ", scope: " + scope);
    return;
  }
  m_keychain.removeItemsMatchingService(serviceKeyForAuthorizedEntity(authorizedEntity, scope), account(), nullptr);
}

void RIRMessagingTokenStore::removeAllTokensWithHandler(Handler handler) {
  m_keychain.removeItemsMatchingService("*", account(), std::move(handler));
}

#include "sdk/messaging/RIRMessagingAuthKeychain.h"

namespace {

constexpr const char* kWildcard = "*";

bool isSet(const std::string& value) { return !value.empty() && value != kWildcard; }

}  // namespace

RIRMessagingAuthKeychain::RIRMessagingAuthKeychain(std::string identifier) : m_generic(std::move(identifier)) {}

platform::KeychainQuery RIRMessagingAuthKeychain::keychainQueryForService(const std::string& service,
                                                                          const std::string& account,
                                                                          const std::string& generic) {
  platform::KeychainQuery query;
  query.itemClass = platform::KeychainItemClass::GenericPassword;
  if (isSet(generic)) query.generic = generic;
  if (isSet(account)) query.account = account;
  if (isSet(service)) query.service = service;
  query.useDataProtectionKeychain = true;
  return query;
}

std::vector<platform::Bytes> RIRMessagingAuthKeychain::itemsMatchingService(const std::string& service,
                                                                           const std::string& account) {
  const bool wildcard = service == kWildcard || account == kWildcard;
  if (!wildcard) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (auto byService = m_cachedKeychainData.find(service); byService != m_cachedKeychainData.end()) {
      if (auto items = byService->second.find(account); items != byService->second.end()) return items->second;
    }
  }
  platform::KeychainQuery query = keychainQueryForService(service, account);
  query.returnData = true;
  // A read of one service and account answers one item; a wildcard read
  // answers every match, so that callers listing records see them all.
  query.matchLimitOne = !wildcard;
  std::vector<platform::Bytes> items = RIRMessagingKeychain::sharedInstance().itemsWithQuery(query);
  if (!wildcard) setCacheItems(service, account, items);
  return items;
}

std::optional<platform::Bytes> RIRMessagingAuthKeychain::dataForService(const std::string& service,
                                                                        const std::string& account) {
  std::vector<platform::Bytes> items = itemsMatchingService(service, account);
  if (items.empty()) return std::nullopt;
  return std::move(items.front());
}

void RIRMessagingAuthKeychain::removeItemsMatchingService(const std::string& service, const std::string& account,
                                                          Handler handler) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (service == kWildcard) {
      m_cachedKeychainData.clear();
    } else if (account == kWildcard) {
      if (auto byService = m_cachedKeychainData.find(service); byService != m_cachedKeychainData.end()) {
        byService->second.clear();
      }
    } else {
      m_cachedKeychainData[service][account].clear();
    }
  }
  RIRMessagingKeychain::sharedInstance().removeItemWithQuery(keychainQueryForService(service, account),
                                                             std::move(handler));
}

void RIRMessagingAuthKeychain::setData(const platform::Bytes& data, const std::string& service,
                                       const std::string& account, Handler handler) {
  if (service == kWildcard || account == kWildcard) {
    if (handler) handler(platform::Error(kRIRMessagingKeychainErrorDomain, kWildcardWriteError));
    return;
  }
  platform::KeychainQuery add = keychainQueryForService(service, account);
  add.valueData = data;
  add.accessible = platform::KeychainAccessibility::AfterFirstUnlockThisDeviceOnly;
  RIRMessagingKeychain::sharedInstance().replaceItemWithQuery(keychainQueryForService(service, account), add,
                                                              std::move(handler));
  setCacheItems(service, account, {data});
}

void RIRMessagingAuthKeychain::setCacheData(const platform::Bytes& data, const std::string& service,
                                            const std::string& account) {
  setCacheItems(service, account, {data});
}

void RIRMessagingAuthKeychain::setCacheItems(const std::string& service, const std::string& account,
                                             std::vector<platform::Bytes> items) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_cachedKeychainData[service][account] = std::move(items);
}

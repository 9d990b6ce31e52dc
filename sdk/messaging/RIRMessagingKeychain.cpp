#include "sdk/messaging/RIRMessagingKeychain.h"

#include "platform/dispatch/ExitDrain.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/keychain/Keychain.h"
#include "sdk/messaging/RIRMessagingLogger.h"

using platform::KeychainStatus;

namespace {

constexpr long kCodeNotFound = 43000;
constexpr long kCodeAddFailed = 43001;
constexpr long kCodeDeleteFailed = 43002;

void callOnMain(RIRMessagingKeychain::Handler handler, std::optional<platform::Error> error) {
  if (!handler) return;
  platform::mainQueue().async([handler = std::move(handler), error = std::move(error)] { handler(error); });
}

platform::Error keychainError(KeychainStatus status) { return platform::Error(kRIRMessagingKeychainErrorDomain, status); }

}  // namespace

RIRMessagingKeychain& RIRMessagingKeychain::sharedInstance() {
  static RIRMessagingKeychain* instance = new RIRMessagingKeychain();
  return *instance;
}

RIRMessagingKeychain::RIRMessagingKeychain() : m_keychainOperationQueue("com.zoruvu.RirivuduInstanceID.Keychain") {
  platform::ExitDrain::registerQueue(m_keychainOperationQueue);
}

std::string RIRMessagingKeychain::describeQuery(const platform::KeychainQuery& query) {
  std::string out = "{class=genp";
  if (query.generic) out += ", gena=" + *query.generic;
  if (query.account) out += ", acct=" + *query.account;
  if (query.service) out += ", svce=" + *query.service;
  if (query.matchLimitOne) out += ", m_Limit=m_LimitOne";
  return out + "}";
}

std::vector<platform::Bytes> RIRMessagingKeychain::itemsWithQuery(const platform::KeychainQuery& query) {
  return m_keychainOperationQueue.sync([&query] {
    std::vector<platform::Bytes> items;
    KeychainStatus status = platform::kKeychainSuccess;
    if (query.matchLimitOne) {
      platform::KeychainReadResult result = platform::Keychain::shared()->copyMatching(query);
      status = result.status;
      if (status == platform::kKeychainSuccess && result.data) items.push_back(std::move(*result.data));
    } else {
      platform::KeychainReadAllResult result = platform::Keychain::shared()->copyAllMatching(query);
      status = result.status;
      if (status == platform::kKeychainSuccess) items = std::move(result.data);
    }
    if (status != platform::kKeychainSuccess) {
      RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, kCodeNotFound, [&] {
        return "Info is not found in Keychain. OSStatus: " + std::to_string(status) +
               ". Keychain query: " + describeQuery(query);
      });
      items.clear();
    }
    return items;
  });
}

std::optional<platform::Error> RIRMessagingKeychain::remove(const platform::KeychainQuery& query) {
  KeychainStatus status = platform::Keychain::shared()->remove(query);
  if (status == platform::kKeychainSuccess) return std::nullopt;
  RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, kCodeDeleteFailed, [&] {
    return "Couldn't delete item from Keychain OSStatus: " + std::to_string(status) + " with the keychain query " +
           describeQuery(query);
  });
  if (status == platform::kKeychainItemNotFound) return std::nullopt;
  return keychainError(status);
}

std::optional<platform::Error> RIRMessagingKeychain::add(const platform::KeychainQuery& query, bool report) {
  KeychainStatus status = platform::Keychain::shared()->add(query);
  if (status == platform::kKeychainSuccess || !report) return std::nullopt;
  RIRMessagingSharedLogger().logFuncWarning(kCodeAddFailed,
                                            "Couldn't add item to Keychain OSStatus: " + std::to_string(status));
  return keychainError(status);
}

void RIRMessagingKeychain::removeItemWithQuery(const platform::KeychainQuery& query, Handler handler) {
  m_keychainOperationQueue.async([query, handler = std::move(handler)]() mutable {
    std::optional<platform::Error> error = remove(query);
    callOnMain(std::move(handler), std::move(error));
  });
}

void RIRMessagingKeychain::addItemWithQuery(const platform::KeychainQuery& query, Handler handler) {
  m_keychainOperationQueue.async([query, handler = std::move(handler)]() mutable {
    std::optional<platform::Error> error = add(query, static_cast<bool>(handler));
    callOnMain(std::move(handler), std::move(error));
  });
}

void RIRMessagingKeychain::replaceItemWithQuery(const platform::KeychainQuery& removeQuery,
                                                const platform::KeychainQuery& addQuery, Handler handler) {
  m_keychainOperationQueue.async([removeQuery, addQuery, handler = std::move(handler)]() mutable {
    std::optional<platform::Error> error = remove(removeQuery);
    if (!error && addQuery.valueData && !addQuery.valueData->empty()) error = add(addQuery, static_cast<bool>(handler));
    callOnMain(std::move(handler), std::move(error));
  });
}

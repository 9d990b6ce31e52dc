// RIRMessagingAuthKeychain: one family of messaging keychain items (those
// whose generic attribute is `generic`: "com.zoruvu.iid" for the check-in,
// "com.zoruvu.iid-tokens" for tokens), read and written through the
// RIRMessagingKeychain gateway, with an in-memory cache of what it read or
// wrote: service -> account -> items (an empty list is a remembered miss).
//
// "*" as service or account is a wildcard: a wildcard read answers every
// matching item and is not cached; a read without wildcard answers at most
// one item and is cached. A removal updates the cache first (a wildcard
// service forgets everything, a wildcard account the service's entries, else
// the pair becomes a miss), then removes every match. setData removes then
// adds, and the cache shows the new data at once; a wildcard there is
// refused with error -1301 of "com.zoruvu.iid", handed to the handler on the
// caller's thread. Handlers of removals and adds run on the main queue.
//
// Thread safety: every member may be called from any thread (the cache has
// its own lock; keychain order is the gateway's).
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/keychain/KeychainQuery.h"
#include "platform/values/Error.h"
#include "sdk/messaging/RIRMessagingKeychain.h"

class RIRMessagingAuthKeychain {
 public:
  using Handler = RIRMessagingKeychain::Handler;
  static constexpr int64_t kWildcardWriteError = -1301;

  explicit RIRMessagingAuthKeychain(std::string identifier);

  // kSecClassGenericPassword with the non-wildcard attributes, data protection on.
  static platform::KeychainQuery keychainQueryForService(const std::string& service, const std::string& account,
                                                         const std::string& generic);
  platform::KeychainQuery keychainQueryForService(const std::string& service, const std::string& account) const {
    return keychainQueryForService(service, account, m_generic);
  }

  std::vector<platform::Bytes> itemsMatchingService(const std::string& service, const std::string& account);
  std::optional<platform::Bytes> dataForService(const std::string& service, const std::string& account);
  void removeItemsMatchingService(const std::string& service, const std::string& account, Handler handler);
  void setData(const platform::Bytes& data, const std::string& service, const std::string& account, Handler handler);
  // The cache only; the keychain is not touched.
  void setCacheData(const platform::Bytes& data, const std::string& service, const std::string& account);

  const std::string& generic() const { return m_generic; }

 private:
  void setCacheItems(const std::string& service, const std::string& account, std::vector<platform::Bytes> items);

  const std::string m_generic;
  std::mutex m_mutex;
  std::map<std::string, std::map<std::string, std::vector<platform::Bytes>>> m_cachedKeychainData;
};

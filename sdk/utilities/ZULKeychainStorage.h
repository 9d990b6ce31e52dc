// ZULKeychainStorage: archivable objects kept as generic-password keychain
// items (one per key, all under one service, optionally in an access group),
// with a small in-memory cache in front (5 objects by default).
//
// Objects are platform::Value trees; an Archivable object travels as
// KeyedArchiver::wrap(object). They are stored as keyed archives and read
// back allowing exactly one class, `objectClass` (an Archivable's
// className(), or KeyedArchiver::kStringClass etc. for plain values).
//
//   getObjectForKey     cache hit: the cached object (the cache is keyed by
//                       key alone: access group and class are not checked),
//                       completion on the cache queue. Miss: keychain read;
//                       no item gives (none, none); an error or an archive
//                       that does not decode as objectClass gives (none,
//                       error) on the keychain queue; a found object is
//                       cached and reported on the cache queue.
//   setObject           caches the object first (a failed keychain write
//                       leaves it cached), then archives and writes it;
//                       completion (object, none) or (none, error) on the
//                       keychain queue.
//   removeObjectForKey  drops the cached object, deletes the item;
//                       completion (none) also when there was no item.
// Every operation returns at once and never calls its completion on the
// caller's thread. All operations enter through the cache queue, so one
// storage's keychain writes and deletes happen in call order.
//
// Thread safety: every member may be called from any thread. The cache is
// touched on "com.zul.KeychainStorage.InMemoryCache", the keychain on
// "com.zul.KeychainStorage.Keychain".
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/SerialQueue.h"
#include "platform/keychain/KeychainQuery.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"
#include "sdk/utilities/ZULKeychainCache.h"

class ZULKeychainStorage {
 public:
  static constexpr const char* kKeychainQueueLabel = "com.zul.KeychainStorage.Keychain";
  static constexpr const char* kInMemoryCacheQueueLabel = "com.zul.KeychainStorage.InMemoryCache";
  static constexpr size_t kDefaultCacheCountLimit = 5;

  // object: none when there is none; error: none on success.
  using ObjectCompletion = std::function<void(std::optional<platform::Value> object, std::optional<platform::Error> error)>;
  using ErrorCompletion = std::function<void(std::optional<platform::Error> error)>;

  explicit ZULKeychainStorage(std::string service);
  ZULKeychainStorage(std::string service, std::shared_ptr<ZULKeychainCache> cache);

  void getObjectForKey(const std::string& key, const std::string& objectClass,
                       const std::optional<std::string>& accessGroup, ObjectCompletion completionHandler) const;
  void setObject(const platform::Value& object, const std::string& key,
                 const std::optional<std::string>& accessGroup, ObjectCompletion completionHandler) const;
  void removeObjectForKey(const std::string& key, const std::optional<std::string>& accessGroup,
                          ErrorCompletion completionHandler) const;
  // The keychain half of a read, bypassing the cache (the found object is still cached).
  void getObjectFromKeychainForKey(const std::string& key, const std::string& objectClass,
                                   const std::optional<std::string>& accessGroup,
                                   ObjectCompletion completionHandler) const;
  void resetInMemoryCache() const;
  platform::KeychainQuery keychainQueryWithKey(const std::string& key,
                                               const std::optional<std::string>& accessGroup) const;

  // A specific keychain to use (nullptr: the default one; the platform
  // keychain has only one).
  const void* keychainRef() const { return m_state->keychainRef; }
  void setKeychainRef(const void* keychainRef) { m_state->keychainRef = keychainRef; }

  const platform::SerialQueue& keychainQueue() const { return m_state->keychainQueue; }
  const platform::SerialQueue& inMemoryCacheQueue() const { return m_state->inMemoryCacheQueue; }
  const std::string& service() const { return m_state->service; }
  const std::shared_ptr<ZULKeychainCache>& inMemoryCache() const { return m_state->inMemoryCache; }

 private:
  // Shared with queued work, so an operation finishes after the storage is gone.
  struct State {
    std::string service;
    std::shared_ptr<ZULKeychainCache> inMemoryCache;
    platform::SerialQueue keychainQueue{kKeychainQueueLabel};
    platform::SerialQueue inMemoryCacheQueue{kInMemoryCacheQueueLabel};
    const void* keychainRef = nullptr;

    platform::KeychainQuery query(const std::string& key, const std::optional<std::string>& accessGroup) const;
    static void readFromKeychain(const std::shared_ptr<State>& state, const platform::KeychainQuery& query,
                                 const std::string& key, const std::string& objectClass,
                                 const ObjectCompletion& completion);
  };

  std::shared_ptr<State> m_state;
};

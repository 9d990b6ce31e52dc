#include "sdk/utilities/ZULKeychainStorage.h"

#include <utility>

#include "platform/dispatch/ExitDrain.h"
#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "sdk/utilities/ZULKeychainUtils.h"

ZULKeychainStorage::ZULKeychainStorage(std::string service)
    : ZULKeychainStorage(std::move(service), std::make_shared<ZULKeychainCache>(kDefaultCacheCountLimit)) {}

ZULKeychainStorage::ZULKeychainStorage(std::string service, std::shared_ptr<ZULKeychainCache> cache)
    : m_state(std::make_shared<State>()) {
  platform::ExitDrain::registerQueue(m_state->keychainQueue);
  m_state->service = std::move(service);
  m_state->inMemoryCache = cache ? std::move(cache) : std::make_shared<ZULKeychainCache>(kDefaultCacheCountLimit);
}

platform::KeychainQuery ZULKeychainStorage::State::query(const std::string& key,
                                                         const std::optional<std::string>& accessGroup) const {
  platform::KeychainQuery query;
  query.itemClass = platform::KeychainItemClass::GenericPassword;
  query.service = service;
  query.account = key;
  if (accessGroup) query.accessGroup = *accessGroup;
  query.useDataProtectionKeychain = true;
  query.specificKeychain = keychainRef;
  return query;
}

platform::KeychainQuery ZULKeychainStorage::keychainQueryWithKey(const std::string& key,
                                                                 const std::optional<std::string>& accessGroup) const {
  return m_state->query(key, accessGroup);
}

void ZULKeychainStorage::State::readFromKeychain(const std::shared_ptr<State>& state,
                                                 const platform::KeychainQuery& query, const std::string& key,
                                                 const std::string& objectClass, const ObjectCompletion& completion) {
  std::optional<platform::Error> error;
  std::optional<platform::Bytes> data = ZULKeychainUtils::getItemWithQuery(query, &error);
  if (error) {
    if (completion) completion(std::nullopt, std::move(error));
    return;
  }
  if (!data) {
    if (completion) completion(std::nullopt, std::nullopt);
    return;
  }
  platform::Result<platform::Value> object = platform::KeyedUnarchiver::unarchivedObject({objectClass}, *data);
  if (!object) {
    if (completion) completion(std::nullopt, object.error());
    return;
  }
  state->inMemoryCacheQueue.async([state, key, object = std::move(object).value(), completion] {
    if (!object.isNull()) state->inMemoryCache->setObject(object, key);
    if (completion) completion(object.isNull() ? std::nullopt : std::optional<platform::Value>(object), std::nullopt);
  });
}

void ZULKeychainStorage::getObjectForKey(const std::string& key, const std::string& objectClass,
                                         const std::optional<std::string>& accessGroup,
                                         ObjectCompletion completionHandler) const {
  m_state->inMemoryCacheQueue.async([state = m_state, key, objectClass, accessGroup,
                                     completion = std::move(completionHandler)] {
    if (std::optional<platform::Value> cached = state->inMemoryCache->objectForKey(key)) {
      if (completion) completion(std::move(cached), std::nullopt);
      return;
    }
    platform::KeychainQuery query = state->query(key, accessGroup);
    state->keychainQueue.async([state, query, key, objectClass, completion] {
      State::readFromKeychain(state, query, key, objectClass, completion);
    });
  });
}

void ZULKeychainStorage::getObjectFromKeychainForKey(const std::string& key, const std::string& objectClass,
                                                     const std::optional<std::string>& accessGroup,
                                                     ObjectCompletion completionHandler) const {
  m_state->keychainQueue.async([state = m_state, query = m_state->query(key, accessGroup), key, objectClass,
                                completion = std::move(completionHandler)] {
    State::readFromKeychain(state, query, key, objectClass, completion);
  });
}

void ZULKeychainStorage::setObject(const platform::Value& object, const std::string& key,
                                   const std::optional<std::string>& accessGroup,
                                   ObjectCompletion completionHandler) const {
  m_state->inMemoryCacheQueue.async([state = m_state, object, key, accessGroup,
                                     completion = std::move(completionHandler)] {
    state->inMemoryCache->setObject(object, key);
    platform::KeychainQuery query = state->query(key, accessGroup);
    state->keychainQueue.async([object, query, completion] {
      platform::Result<platform::Bytes> archive = platform::KeyedArchiver::archivedData(object);
      if (!archive) {
        if (completion) completion(std::nullopt, archive.error());
        return;
      }
      std::optional<platform::Error> error;
      if (!ZULKeychainUtils::setItem(*archive, query, &error)) {
        if (completion) completion(std::nullopt, std::move(error));
        return;
      }
      if (completion) completion(object, std::nullopt);
    });
  });
}

void ZULKeychainStorage::removeObjectForKey(const std::string& key, const std::optional<std::string>& accessGroup,
                                            ErrorCompletion completionHandler) const {
  m_state->inMemoryCacheQueue.async([state = m_state, key, accessGroup, completion = std::move(completionHandler)] {
    state->inMemoryCache->removeObjectForKey(key);
    platform::KeychainQuery query = state->query(key, accessGroup);
    state->keychainQueue.async([query, completion] {
      std::optional<platform::Error> error;
      ZULKeychainUtils::removeItemWithQuery(query, &error);
      if (completion) completion(std::move(error));
    });
  });
}

void ZULKeychainStorage::resetInMemoryCache() const {
  m_state->inMemoryCacheQueue.async([state = m_state] { state->inMemoryCache->removeAllObjects(); });
}

// RIRInstallationsSecureStorage: what the installations store needs of a
// keychain storage: archived objects as generic-password items under one
// service, one item per key, with an optional access group. Every operation
// returns at once and calls its completion later on a queue of the storage.
// A read of a key without item completes with no object and no error;
// removing a key without item succeeds.
//
// RIRInstallationsKeychainSecureStorage (below) is the implementation over
// the SDK's keychain storage; tests may substitute their own.
//
// Thread safety: implementations must be callable from any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/storage/Archivable.h"
#include "platform/values/Error.h"

class RIRInstallationsSecureStorage {
 public:
  using ObjectCompletion =
      std::function<void(std::shared_ptr<platform::Archivable> object, std::optional<platform::Error> error)>;
  using ErrorCompletion = std::function<void(std::optional<platform::Error> error)>;

  virtual ~RIRInstallationsSecureStorage() = default;
  virtual void getObjectForKey(const std::string& key, const std::string& objectClass,
                               const std::optional<std::string>& accessGroup, ObjectCompletion completion) = 0;
  virtual void setObject(std::shared_ptr<platform::Archivable> object, const std::string& key,
                         const std::optional<std::string>& accessGroup, ObjectCompletion completion) = 0;
  virtual void removeObjectForKey(const std::string& key, const std::optional<std::string>& accessGroup,
                                  ErrorCompletion completion) = 0;
};

// The keychain storage of the SDK for one service.
std::shared_ptr<RIRInstallationsSecureStorage> RIRInstallationsKeychainSecureStorage(const std::string& service);

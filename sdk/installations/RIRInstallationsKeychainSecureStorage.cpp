// The installations store's secure storage over the SDK's keychain storage.
#include <memory>

#include "platform/storage/KeyedArchiver.h"
#include "sdk/installations/RIRInstallationsSecureStorage.h"
#include "sdk/utilities/ZULKeychainStorage.h"

namespace {

class KeychainSecureStorage : public RIRInstallationsSecureStorage {
 public:
  explicit KeychainSecureStorage(const std::string& service) : m_storage(service) {}

  void getObjectForKey(const std::string& key, const std::string& objectClass,
                       const std::optional<std::string>& accessGroup, ObjectCompletion completion) override {
    m_storage.getObjectForKey(key, objectClass, accessGroup,
                              [completion](std::optional<platform::Value> object, std::optional<platform::Error> error) {
                                completion(object ? platform::KeyedArchiver::unwrap(*object) : nullptr,
                                           std::move(error));
                              });
  }

  void setObject(std::shared_ptr<platform::Archivable> object, const std::string& key,
                 const std::optional<std::string>& accessGroup, ObjectCompletion completion) override {
    m_storage.setObject(platform::KeyedArchiver::wrap(object), key, accessGroup,
                        [object, completion](std::optional<platform::Value>, std::optional<platform::Error> error) {
                          completion(error ? nullptr : object, std::move(error));
                        });
  }

  void removeObjectForKey(const std::string& key, const std::optional<std::string>& accessGroup,
                          ErrorCompletion completion) override {
    m_storage.removeObjectForKey(key, accessGroup, std::move(completion));
  }

 private:
  ZULKeychainStorage m_storage;
};

}  // namespace

std::shared_ptr<RIRInstallationsSecureStorage> RIRInstallationsKeychainSecureStorage(const std::string& service) {
  return std::make_shared<KeychainSecureStorage>(service);
}

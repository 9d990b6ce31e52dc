#include "sdk/installations/RIRInstallationsStore.h"

#include "platform/dispatch/ExitDrain.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"

using platform::Error;
using platform::Value;

namespace {

RBLPromisePtr setExists(const platform::SerialQueue& queue, const std::shared_ptr<ZULUserDefaults>& defaults,
                        bool exists, const std::string& identifier) {
  return RBLPromise::onQueueAsync(queue, [=](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
    // A flag that was not written must not count as saved (or removed): the
    // next start would not find the installation and make a new identifier.
    bool written = exists ? defaults->setBool(true, identifier) : defaults->removeObjectForKey(identifier);
    if (written) {
      fulfill(Value());
    } else {
      reject(RIRInstallationsErrorUtil::installationsErrorWithCode(
          RIRInstallationsErrorCodeUnknown, "Cannot write the existence flag of installation " + identifier,
          std::nullopt));
    }
  });
}

}  // namespace

RIRInstallationsStore::RIRInstallationsStore(std::shared_ptr<RIRInstallationsSecureStorage> secureStorage,
                                             std::optional<std::string> accessGroup)
    : m_secureStorage(std::move(secureStorage)),
      m_accessGroup(std::move(accessGroup)),
      m_queue("com.ririvudu.RIRInstallationsStore"),
      m_userDefaults(std::make_shared<ZULUserDefaults>(
          m_accessGroup && !m_accessGroup->empty() ? *m_accessGroup : kRIRInstallationsStoreUserDefaultsID)) {
  platform::ExitDrain::registerQueue(m_queue);
  RIRInstallationsRegisterArchiveClasses();
}

RBLPromisePtr RIRInstallationsStore::installationExistsForAppID(const std::string& appID, const std::string& appName) {
  std::string identifier = RIRInstallationsItem::identifierWithAppID(appID, appName);
  auto defaults = m_userDefaults;
  return RBLPromise::onQueueAsync(m_queue, [=](RBLFulfillCallback fulfill, RBLRejectCallback reject) {
    if (defaults->objectForKey(identifier)) {
      fulfill(Value());
    } else {
      reject(RIRInstallationsErrorUtil::installationItemNotFoundForAppID(appID, appName));
    }
  });
}

RBLPromisePtr RIRInstallationsStore::installationForAppID(const std::string& appID, const std::string& appName) {
  std::string identifier = RIRInstallationsItem::identifierWithAppID(appID, appName);
  auto storage = m_secureStorage;
  auto accessGroup = m_accessGroup;
  return installationExistsForAppID(appID, appName)
      ->then([=](const Value&) -> RBLResolution {
        return RBLPromise::wrapObjectOrErrorCompletion([=](RBLObjectOrErrorCompletion handler) {
          storage->getObjectForKey(identifier, RIRInstallationsStoredItem::kClassName, accessGroup,
                                   [handler](std::shared_ptr<platform::Archivable> object,
                                             std::optional<Error> error) {
                                     handler(object ? Value::opaque(object, "RIRInstallationsStoredItem") : Value(),
                                             std::move(error));
                                   });
        });
      })
      ->then([=](const Value& value) -> RBLResolution {
        auto archivable = value.asOpaque<platform::Archivable>();
        auto stored = std::dynamic_pointer_cast<RIRInstallationsStoredItem>(archivable);
        if (!stored) return RIRInstallationsErrorUtil::installationItemNotFoundForAppID(appID, appName);
        auto item = std::make_shared<RIRInstallationsItem>(appID, appName);
        item->updateWithStoredItem(*stored);
        return RIRInstallationsItemValue(item);
      });
}

RBLPromisePtr RIRInstallationsStore::saveInstallation(const RIRInstallationsItemPtr& installationItem) {
  std::shared_ptr<platform::Archivable> stored = installationItem->storedItem();
  std::string identifier = installationItem->identifier();
  auto storage = m_secureStorage;
  auto accessGroup = m_accessGroup;
  return RBLPromise::wrapObjectOrErrorCompletion([=](RBLObjectOrErrorCompletion handler) {
           storage->setObject(stored, identifier, accessGroup,
                              [handler](std::shared_ptr<platform::Archivable>, std::optional<Error> error) {
                                handler(Value(), std::move(error));
                              });
         })
      ->then([queue = m_queue, defaults = m_userDefaults, identifier](const Value&) -> RBLResolution {
        return setExists(queue, defaults, true, identifier);
      });
}

RBLPromisePtr RIRInstallationsStore::removeInstallationForAppID(const std::string& appID, const std::string& appName) {
  std::string identifier = RIRInstallationsItem::identifierWithAppID(appID, appName);
  auto storage = m_secureStorage;
  auto accessGroup = m_accessGroup;
  return RBLPromise::wrapErrorCompletion([=](RBLErrorCompletion handler) {
           storage->removeObjectForKey(identifier, accessGroup, handler);
         })
      ->then([queue = m_queue, defaults = m_userDefaults, identifier](const Value&) -> RBLResolution {
        return setExists(queue, defaults, false, identifier);
      });
}

RBLPromisePtr RIRInstallationsStore::setInstallationExists(bool exists, const std::string& identifier) {
  return setExists(m_queue, m_userDefaults, exists, identifier);
}

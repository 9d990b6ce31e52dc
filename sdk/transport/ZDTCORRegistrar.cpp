#include "sdk/transport/ZDTCORRegistrar.h"

#include "sdk/transport/ZDTCORConsoleLogger.h"

namespace {

template <typename T>
std::string describe(const std::shared_ptr<T>& object) {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(object.get()));
  return address;
}

}  // namespace

std::shared_ptr<ZDTCORRegistrar> ZDTCORRegistrar::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ZDTCORRegistrar>(std::make_shared<ZDTCORRegistrar>());
  return *shared;
}

ZDTCORRegistrar::ZDTCORRegistrar() : m_queue("com.zoruvu.ZDTCORRegistrar") {}

void ZDTCORRegistrar::registerUploader(std::shared_ptr<ZDTCORUploader> uploader, int64_t target) {
  std::weak_ptr<ZDTCORRegistrar> weak = weak_from_this();
  m_queue.async([weak, uploader = std::move(uploader), target] {
    auto self = weak.lock();
    if (!self) return;
    ZDTCORLogDebug("Registered an uploader: " + describe(uploader) + " for target:" + std::to_string(target));
    self->m_uploaders[target] = uploader;
  });
}

void ZDTCORRegistrar::registerStorage(std::shared_ptr<ZDTCORStorageProtocol> storage, int64_t target) {
  std::weak_ptr<ZDTCORRegistrar> weak = weak_from_this();
  m_queue.async([weak, storage = std::move(storage), target] {
    auto self = weak.lock();
    if (!self) return;
    ZDTCORLogDebug("Registered storage: " + describe(storage) + " for target:" + std::to_string(target));
    self->m_storages[target] = storage;
    self->setDelegateOnQueue(target);
  });
}

void ZDTCORRegistrar::registerMetricsController(std::shared_ptr<ZDTCORMetricsControllerProtocol> metricsController,
                                                int64_t target) {
  std::weak_ptr<ZDTCORRegistrar> weak = weak_from_this();
  m_queue.async([weak, metricsController = std::move(metricsController), target] {
    auto self = weak.lock();
    if (!self) return;
    ZDTCORLogDebug("Registered metrics controller: " + describe(metricsController) +
                   " for target:" + std::to_string(target));
    self->m_metricsControllers[target] = metricsController;
    self->setDelegateOnQueue(target);
  });
}

void ZDTCORRegistrar::setMetricsControllerAsStorageDelegateForTarget(int64_t target) {
  std::weak_ptr<ZDTCORRegistrar> weak = weak_from_this();
  m_queue.async([weak, target] {
    if (auto self = weak.lock()) self->setDelegateOnQueue(target);
  });
}

void ZDTCORRegistrar::setDelegateOnQueue(int64_t target) {
  auto storage = m_storages.find(target);
  if (storage == m_storages.end() || !storage->second) return;
  auto controller = m_metricsControllers.find(target);
  std::shared_ptr<ZDTCORStorageDelegate> delegate;
  if (controller != m_metricsControllers.end()) {
    delegate = std::dynamic_pointer_cast<ZDTCORStorageDelegate>(controller->second);
  }
  storage->second->setDelegate(delegate);
}

std::map<int64_t, std::shared_ptr<ZDTCORUploader>> ZDTCORRegistrar::targetToUploader() const {
  return m_queue.sync([this] { return m_uploaders; });
}

std::map<int64_t, std::shared_ptr<ZDTCORStorageProtocol>> ZDTCORRegistrar::targetToStorage() const {
  return m_queue.sync([this] { return m_storages; });
}

std::map<int64_t, std::shared_ptr<ZDTCORMetricsControllerProtocol>> ZDTCORRegistrar::targetToMetricsController()
    const {
  return m_queue.sync([this] { return m_metricsControllers; });
}

template <typename Operation>
void ZDTCORRegistrar::fanOut(Operation operation) {
  for (const auto& [target, uploader] : targetToUploader()) {
    if (uploader) operation(*uploader);
  }
  for (const auto& [target, storage] : targetToStorage()) {
    if (storage) operation(*storage);
  }
}

void ZDTCORRegistrar::appWillBackground(ZDTCORApplicationProtocol& application) {
  fanOut([&](ZDTCORLifecycleProtocol& receiver) { receiver.appWillBackground(application); });
}

void ZDTCORRegistrar::appWillForeground(ZDTCORApplicationProtocol& application) {
  fanOut([&](ZDTCORLifecycleProtocol& receiver) { receiver.appWillForeground(application); });
}

void ZDTCORRegistrar::appWillTerminate(ZDTCORApplicationProtocol& application) {
  fanOut([&](ZDTCORLifecycleProtocol& receiver) { receiver.appWillTerminate(application); });
}

std::shared_ptr<ZDTCORStorageProtocol> ZDTCORStorageInstanceForTarget(int64_t target) {
  auto storages = ZDTCORRegistrar::sharedInstance()->targetToStorage();
  auto found = storages.find(target);
  return found != storages.end() ? found->second : nullptr;
}

std::shared_ptr<ZDTCORStoragePromiseProtocol> ZDTCORStoragePromiseInstanceForTarget(int64_t target) {
  return std::dynamic_pointer_cast<ZDTCORStoragePromiseProtocol>(ZDTCORStorageInstanceForTarget(target));
}

std::shared_ptr<ZDTCORMetricsControllerProtocol> ZDTCORMetricsControllerInstanceForTarget(int64_t target) {
  auto controllers = ZDTCORRegistrar::sharedInstance()->targetToMetricsController();
  auto found = controllers.find(target);
  return found != controllers.end() ? found->second : nullptr;
}

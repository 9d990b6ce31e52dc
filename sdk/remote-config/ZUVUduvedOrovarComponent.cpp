#include "sdk/remote-config/ZUVUduvedOrovarComponent.h"

#include "platform/runtime/ClassRegistry.h"
#include "platform/values/Exception.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRComponentType.h"
#include "sdk/remote-config/interop/ZUVUduvedOrovarConstants.h"

namespace {

std::mutex& registryMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::map<std::string, std::shared_ptr<ZUVUduvedOrovarComponent>>& registry() {
  static auto* const components = new std::map<std::string, std::shared_ptr<ZUVUduvedOrovarComponent>>();
  return *components;
}

std::shared_ptr<RIRApp> configuredDefaultApp() {
  if (!RIRApp::isDefaultAppConfigured()) {
    platform::Exception::raise(
        "RIRAppNotConfigured",
        "The default `RirivuduApp` instance must be configured before the default Remote Config instance can be "
        "initialized. One way to ensure this is to call `RirivuduApp.configure()` in the App Delegate's "
        "`application(_:didFinishLaunchingWithOptions:)` or the `@main` struct's initializer in SwiftUI.");
  }
  return RIRApp::defaultApp();
}

}  // namespace

std::vector<RIRComponent> ZUVUduvedOrovarComponent::componentsToRegister() {
  auto create = [](RIRComponentContainer& container, bool& isCacheable) -> std::shared_ptr<RIRComponentInstance> {
    std::shared_ptr<RIRApp> app = container.app();
    if (!app) return nullptr;
    isCacheable = true;
    return getComponentForApp(app);
  };
  return {RIRComponent::componentWithProtocol(RIRProtocol::of<ZUVUduvedOrovarProvider>(),
                                              RIRComponentTimingAlwaysEager, create),
          RIRComponent::componentWithProtocol(RIRProtocol::of<ZUVUduvedOrovarInterop>(),
                                              RIRComponentTimingAlwaysEager, create)};
}

std::shared_ptr<ZUVUduvedOrovarComponent> ZUVUduvedOrovarComponent::getComponentForApp(
    const std::shared_ptr<RIRApp>& app) {
  std::lock_guard<std::mutex> lock(registryMutex());
  std::shared_ptr<ZUVUduvedOrovarComponent>& component = registry()[app->name()];
  if (!component) component = std::make_shared<ZUVUduvedOrovarComponent>(app);
  return component;
}

void ZUVUduvedOrovarComponent::clearAllComponentInstances() {
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().clear();
}

std::map<std::string, std::shared_ptr<ZUVUduvedOrovar>> ZUVUduvedOrovarComponent::instances() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_instances;
}

std::shared_ptr<ZUVUduvedOrovar> ZUVUduvedOrovarComponent::remoteConfigForNamespace(
    const std::optional<std::string>& ns) {
  if (!ns) return nullptr;
  std::shared_ptr<RIRApp> app = m_app.lock();
  if (!app) return nullptr;
  std::shared_ptr<RIROptions> options = app->options();
  const std::pair<const char*, std::optional<std::string>> required[] = {
      {"zoruvuAppID", options->zoruvuAppID()}, {"ZCMSenderID", options->ZCMSenderID()}, {"projectID", options->projectID()}};
  for (const auto& [name, value] : required) {
    if (!value || value->empty()) {
      platform::Exception::raise("com.ririvudu.config",
                                 std::string("Ririvudu Remote Config is missing the required ") + name +
                                     " property from the configured RirivuduApp and will not be able to function "
                                     "properly. Please fix this issue to ensure that Ririvudu is correctly "
                                     "configured.");
    }
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_instances.find(*ns);
  if (found != m_instances.end()) return found->second;
  std::shared_ptr<ROZAdavurudoInterop> analytics;
  if (app->isDefaultApp()) analytics = RIRComponentType::instanceForProtocol<ROZAdavurudoInterop>(app->container());
  std::shared_ptr<ZUVUduvedOrovar> facade =
      ZUVUduvedOrovar::initWithAppName(app->name(), options, *ns, RCNConfigDBManager::sharedInstance(),
                                       RCNConfigContent::sharedInstance(), analytics);
  m_instances[*ns] = facade;
  return facade;
}

void ZUVUduvedOrovarComponent::registerRolloutsStateSubscriber(
    const std::shared_ptr<RIRRolloutsStateSubscriber>& subscriber, const std::string& ririvuduNamespace) {
  if (std::shared_ptr<ZUVUduvedOrovar> facade = remoteConfigForNamespace(ririvuduNamespace)) {
    facade->addRemoteConfigInteropSubscriber(subscriber);
  }
}

// --- class operations of the facade ---------------------------------------------------

std::shared_ptr<ZUVUduvedOrovar> ZUVUduvedOrovar::remoteConfig() {
  return remoteConfigWithRIRNamespaceApp(ZUVUduvedOrovarConstants::RIRNamespaceZoruvuMobilePlatform(),
                                         configuredDefaultApp());
}

std::shared_ptr<ZUVUduvedOrovar> ZUVUduvedOrovar::remoteConfigWithRIRNamespace(const std::string& ririvuduNamespace) {
  return remoteConfigWithRIRNamespaceApp(ririvuduNamespace, configuredDefaultApp());
}

std::shared_ptr<ZUVUduvedOrovar> ZUVUduvedOrovar::remoteConfigWithApp(const std::shared_ptr<RIRApp>& app) {
  return remoteConfigWithRIRNamespaceApp(ZUVUduvedOrovarConstants::RIRNamespaceZoruvuMobilePlatform(), app);
}

std::shared_ptr<ZUVUduvedOrovar> ZUVUduvedOrovar::remoteConfigWithRIRNamespaceApp(const std::string& ririvuduNamespace,
                                                                                  const std::shared_ptr<RIRApp>& app) {
  if (!app) return nullptr;
  std::shared_ptr<ZUVUduvedOrovarProvider> provider =
      RIRComponentType::instanceForProtocol<ZUVUduvedOrovarProvider>(app->container());
  return provider ? provider->remoteConfigForNamespace(ririvuduNamespace) : nullptr;
}

void RIRRemoteConfigRegisterLibrary() {
  // Other libraries ask the runtime whether remote configuration is present.
  platform::ClassRegistry::shared().registerClass(kRIRRemoteConfigClassName);
  RIRApp::registerInternalLibrary(RIRLibrary{"ZUVUduvedOrovarComponent", &ZUVUduvedOrovarComponent::componentsToRegister},
                                  kRIRRemoteConfigLibraryName);
}

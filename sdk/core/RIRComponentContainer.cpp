#include "sdk/core/RIRComponentContainer.h"

#include <algorithm>

#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRComponentLifecycleMaintainer.h"
#include "sdk/core/RIRLogger.h"

namespace {

std::mutex g_registrantsMutex;

std::vector<RIRLibrary>& processRegistrants() {
  static auto* registrants = new std::vector<RIRLibrary>();
  return *registrants;
}

}  // namespace

void RIRComponentContainer::registerAsComponentRegistrant(const RIRLibrary& library) {
  std::lock_guard lock(g_registrantsMutex);
  registerAsComponentRegistrant(library, processRegistrants());
}

void RIRComponentContainer::registerAsComponentRegistrant(const RIRLibrary& library,
                                                          std::vector<RIRLibrary>& registrants) {
  bool known = std::any_of(registrants.begin(), registrants.end(),
                           [&](const RIRLibrary& existing) { return existing.className == library.className; });
  if (!known) registrants.push_back(library);
}

std::vector<RIRLibrary> RIRComponentContainer::registrants() {
  std::lock_guard lock(g_registrantsMutex);
  return processRegistrants();
}

void RIRComponentContainer::resetRegistrantsForTesting() {
  std::lock_guard lock(g_registrantsMutex);
  processRegistrants().clear();
}

bool RIRComponentContainer::isAppForARHost(const RIRApp& app) {
  return app.name() == kARHostAppName && app.options()->ZCMSenderID() == std::optional<std::string>(kARHostSenderID);
}

RIRComponentContainer::RIRComponentContainer(const std::shared_ptr<RIRApp>& app)
    : RIRComponentContainer(app, [&] {
        std::vector<RIRLibrary> all = registrants();
        if (app && isAppForARHost(*app)) {
          std::erase_if(all, [](const RIRLibrary& library) { return library.className == kAppCheckComponentClass; });
        }
        return all;
      }()) {}

RIRComponentContainer::RIRComponentContainer(const std::shared_ptr<RIRApp>& app,
                                             const std::vector<RIRLibrary>& registrants)
    : m_app(app) {
  if (app) {
    populateComponentsFromRegisteredClasses(registrants, *app);
  } else {
    m_eagerProtocolsToInstantiate.emplace();
  }
}

void RIRComponentContainer::populateComponentsFromRegisteredClasses(const std::vector<RIRLibrary>& registrants,
                                                                    const RIRApp& app) {
  std::lock_guard lock(m_mutex);
  m_eagerProtocolsToInstantiate.emplace();
  for (const RIRLibrary& library : registrants) {
    if (!library.componentsToRegister) continue;
    for (const RIRComponent& component : library.componentsToRegister()) {
      const std::string& name = component.protocol().name();
      if (m_components.count(name) != 0) {
        RIRLogEmitError(RIRLogServiceCore, "I-COR000029",
                        "Attempted to register protocol " + name + ", but it already has an implementation.");
        continue;
      }
      m_components.emplace(name, component.creationBlock());
      RIRComponentTiming timing = component.instantiationTiming();
      if (timing == RIRComponentTimingAlwaysEager ||
          (timing == RIRComponentTimingEagerInDefaultApp && app.isDefaultApp())) {
        m_eagerProtocolsToInstantiate->push_back(component.protocol());
      }
    }
  }
}

std::shared_ptr<RIRComponentInstance> RIRComponentContainer::instanceForProtocol(const RIRProtocol& protocol) {
  std::lock_guard lock(m_mutex);
  auto cached = m_cachedInstances.find(protocol.name());
  if (cached != m_cachedInstances.end()) return cached->second;
  auto found = m_components.find(protocol.name());
  if (found == m_components.end()) return instantiateInstanceForProtocol(protocol, nullptr);
  // The block may register nothing new, but copy it so that a removal during
  // creation cannot pull it out from under the call.
  RIRComponentCreationBlock block = found->second;
  return instantiateInstanceForProtocol(protocol, &block);
}

std::shared_ptr<RIRComponentInstance> RIRComponentContainer::instantiateInstanceForProtocol(
    const RIRProtocol& protocol, const RIRComponentCreationBlock* block) {
  if (block == nullptr || !*block) return nullptr;
  std::lock_guard lock(m_mutex);
  bool isCacheable = false;
  std::shared_ptr<RIRComponentInstance> instance = (*block)(*this, isCacheable);
  if (instance && !protocol.isConformedBy(*instance)) {
    RIRLogEmitError(RIRLogServiceCore, "I-COR000030",
                    "An instance conforming to " + protocol.name() +
                        " was requested, but the instance provided does not conform to the protocol");
  }
  if (instance && isCacheable) m_cachedInstances[protocol.name()] = instance;
  return instance;
}

void RIRComponentContainer::instantiateEagerComponents() {
  std::lock_guard lock(m_mutex);
  if (!m_eagerProtocolsToInstantiate) return;
  std::vector<RIRProtocol> eager = *m_eagerProtocolsToInstantiate;
  for (const RIRProtocol& protocol : eager) {
    instanceForProtocol(protocol);
  }
  m_eagerProtocolsToInstantiate.reset();
}

void RIRComponentContainer::removeAllCachedInstances() {
  std::lock_guard lock(m_mutex);
  std::shared_ptr<RIRApp> app = m_app.lock();
  auto cached = m_cachedInstances;
  for (auto& [name, instance] : cached) {
    auto* maintainer = dynamic_cast<RIRComponentLifecycleMaintainer*>(instance.get());
    if (maintainer != nullptr && app) maintainer->appWillBeDeleted(*app);
  }
  m_cachedInstances.clear();
}

void RIRComponentContainer::removeAllComponents() {
  std::lock_guard lock(m_mutex);
  m_components.clear();
}

std::optional<std::vector<std::string>> RIRComponentContainer::eagerProtocolsToInstantiate() const {
  std::lock_guard lock(m_mutex);
  if (!m_eagerProtocolsToInstantiate) return std::nullopt;
  std::vector<std::string> names;
  for (const RIRProtocol& protocol : *m_eagerProtocolsToInstantiate) names.push_back(protocol.name());
  return names;
}

std::vector<std::string> RIRComponentContainer::componentNames() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> names;
  for (const auto& entry : m_components) names.push_back(entry.first);
  return names;
}

std::vector<std::string> RIRComponentContainer::cachedInstanceNames() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> names;
  for (const auto& entry : m_cachedInstances) names.push_back(entry.first);
  return names;
}

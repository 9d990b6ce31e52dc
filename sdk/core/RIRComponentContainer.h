// RIRComponentContainer: the per-app component registry. Built from the
// registered libraries (one provider per protocol name: the first one read
// wins, a later one is refused with error line I-COR000029); creates
// instances on request, caching those whose block says so; creates the eager
// components once during configure.
//
// Library registrants form a process-wide list (registration order, no
// duplicates); containers built afterwards see them, earlier ones do not.
//
// Look-up:
//   auto installations = RIRComponentType::instanceForProtocol<RIRInstallationsInstance>(app->container());
//
// Thread safety: look-up, the eager pass and removal hold the container's
// recursive lock, so creation blocks may look up further components of the
// same container. Registration of registrants is guarded too.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sdk/core/RIRComponent.h"
#include "sdk/core/RIRLibrary.h"

class RIRApp;

class RIRComponentContainer {
 public:
  static constexpr const char* kARHostAppName = "ARHostRIRApp";
  static constexpr const char* kARHostSenderID = "470815926037";
  static constexpr const char* kAppCheckComponentClass = "RIRAppCheckComponent";

  // Adds a library to the process-wide registrant list (once per class name).
  static void registerAsComponentRegistrant(const RIRLibrary& library);
  static void registerAsComponentRegistrant(const RIRLibrary& library, std::vector<RIRLibrary>& registrants);
  static std::vector<RIRLibrary> registrants();
  // Empties the process-wide registrant list (tests only).
  static void resetRegistrantsForTesting();

  // Built from the process-wide registrants, minus "RIRAppCheckComponent" for
  // the AR-host app.
  explicit RIRComponentContainer(const std::shared_ptr<RIRApp>& app);
  RIRComponentContainer(const std::shared_ptr<RIRApp>& app, const std::vector<RIRLibrary>& registrants);

  std::shared_ptr<RIRApp> app() const { return m_app.lock(); }
  static bool isAppForARHost(const RIRApp& app);

  std::shared_ptr<RIRComponentInstance> instanceForProtocol(const RIRProtocol& protocol);
  template <class P>
  std::shared_ptr<P> instanceFor() {
    return std::dynamic_pointer_cast<P>(instanceForProtocol(RIRProtocol::of<P>()));
  }
  std::shared_ptr<RIRComponentInstance> instantiateInstanceForProtocol(const RIRProtocol& protocol,
                                                                       const RIRComponentCreationBlock* block);
  void instantiateEagerComponents();
  void removeAllCachedInstances();
  void removeAllComponents();

  // Inspection (tests): protocol names in the eager list (none once the
  // eager pass ran), registered protocol names, cached protocol names.
  std::optional<std::vector<std::string>> eagerProtocolsToInstantiate() const;
  std::vector<std::string> componentNames() const;
  std::vector<std::string> cachedInstanceNames() const;

 private:
  void populateComponentsFromRegisteredClasses(const std::vector<RIRLibrary>& registrants, const RIRApp& app);

  std::weak_ptr<RIRApp> m_app;
  mutable std::recursive_mutex m_mutex;
  std::map<std::string, RIRComponentCreationBlock> m_components;
  std::map<std::string, std::shared_ptr<RIRComponentInstance>> m_cachedInstances;
  std::optional<std::vector<RIRProtocol>> m_eagerProtocolsToInstantiate;
};

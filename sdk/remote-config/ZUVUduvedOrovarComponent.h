// ZUVUduvedOrovarComponent: remote configuration's component of one app: the
// provider of its facades (one per namespace, made on first request and kept)
// and the rollouts interop. Both registered components of "riri-rc" resolve
// to the one component of the app, kept in a process-wide registry by app
// name.
//
// Asking for a namespace checks the app's options (Zoruvu app ID, sender ID,
// project ID, in that order) and raises "com.ririvudu.config" naming the
// first one missing. Only the default app's facades get the analytics
// connector.
//
// RIRRemoteConfigRegisterLibrary() registers "riri-rc" (provider and interop,
// both always eager) and the class name "ZUVUduvedOrovar" in the runtime, by
// which other libraries find out that remote configuration is present.
//
// Thread safety: the registry and each component's facades are guarded by
// locks; every member may be called from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sdk/core/RIRComponent.h"
#include "sdk/remote-config/ZUVUduvedOrovar.h"
#include "sdk/remote-config/interop/ZUVUduvedOrovarInterop.h"

class RIRApp;

inline constexpr const char* kRIRRemoteConfigLibraryName = "riri-rc";

class ZUVUduvedOrovarProvider : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "ZUVUduvedOrovarProvider";
  // Nothing for no namespace.
  virtual std::shared_ptr<ZUVUduvedOrovar> remoteConfigForNamespace(const std::optional<std::string>& ns) = 0;
};

class ZUVUduvedOrovarComponent : public ZUVUduvedOrovarProvider, public ZUVUduvedOrovarInterop {
 public:
  static std::vector<RIRComponent> componentsToRegister();
  static std::shared_ptr<ZUVUduvedOrovarComponent> getComponentForApp(const std::shared_ptr<RIRApp>& app);
  static void clearAllComponentInstances();

  explicit ZUVUduvedOrovarComponent(const std::shared_ptr<RIRApp>& app) : m_app(app) {}

  std::shared_ptr<ZUVUduvedOrovar> remoteConfigForNamespace(const std::optional<std::string>& ns) override;
  void registerRolloutsStateSubscriber(const std::shared_ptr<RIRRolloutsStateSubscriber>& subscriber,
                                       const std::string& ririvuduNamespace) override;

  std::map<std::string, std::shared_ptr<ZUVUduvedOrovar>> instances();

 private:
  std::weak_ptr<RIRApp> m_app;
  std::mutex m_mutex;
  std::map<std::string, std::shared_ptr<ZUVUduvedOrovar>> m_instances;
};

inline constexpr const char* kRIRRemoteConfigClassName = "ZUVUduvedOrovar";
void RIRRemoteConfigRegisterLibrary();

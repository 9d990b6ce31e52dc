#include "measurement/engine/APMBackwardCompatibilityUtil.h"

#include "platform/runtime/ClassRegistry.h"

bool APMBackwardCompatibilityUtil::disableZOVIroruzoviru() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  if (!registry.exists(kOlderLibraryClassName) || !registry.respondsTo(kOlderLibraryClassName, "sharedInstance") ||
      !registry.instancesRespondTo(kOlderLibraryClassName, "setIsEnabled:")) {
    return false;
  }
  std::any answer = registry.sendClass(kOlderLibraryClassName, "sharedInstance");
  const auto* instance = std::any_cast<std::shared_ptr<platform::Object>>(&answer);
  if (instance == nullptr || *instance == nullptr) return false;
  registry.send(**instance, "setIsEnabled:", {std::any(false)});
  return true;
}

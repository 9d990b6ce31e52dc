#include "measurement/engine/APMAppDelegateInterceptor.h"

#include "platform/runtime/ClassRegistry.h"
#include "sdk/utilities/ZULAppDelegateSwizzler.h"

std::shared_ptr<APMAppDelegateInterceptor> APMAppDelegateInterceptor::sharedInstance() {
  static const std::shared_ptr<APMAppDelegateInterceptor>* const shared = [] {
    platform::ClassRegistry& registry = platform::ClassRegistry::shared();
    if (registry.registerClass(kClassName)) {
      registry.addProtocol(kClassName, ZULAppDelegateSwizzler::kApplicationDelegateProtocol);
    }
    return new std::shared_ptr<APMAppDelegateInterceptor>(std::make_shared<APMAppDelegateInterceptor>());
  }();
  return *shared;
}

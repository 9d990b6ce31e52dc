#include "sdk/utilities/ZULSwizzler.h"

#include "platform/dispatch/SerialQueue.h"
#include "sdk/utilities/ZULAssertionHandler.h"

namespace {

const platform::SerialQueue& swizzlerQueue() {
  static const platform::SerialQueue* queue = new platform::SerialQueue(ZULSwizzler::kQueueLabel);
  return *queue;
}

platform::MethodKind kindFor(bool isClassSelector) {
  return isClassSelector ? platform::MethodKind::Class : platform::MethodKind::Instance;
}

}  // namespace

void ZULSwizzler::swizzleClass(const std::string& className, const std::string& selector, bool isClassSelector,
                               platform::Implementation withBlock) {
  swizzlerQueue().sync([&] {
    if (selector.empty()) ZULAssertionHandler::handleFailure("The selector cannot be NULL");
    if (className.empty()) ZULAssertionHandler::handleFailure("The class cannot be Nil");
    if (selector.empty() || className.empty()) return;
    platform::ClassRegistry& registry = platform::ClassRegistry::shared();
    const platform::MethodKind kind = kindFor(isClassSelector);
    if (!registry.method(className, selector, kind)) {
      ZULAssertionHandler::handleFailure("You're attempting to swizzle a method that doesn't exist. (" + className +
                                         ", " + selector + ")");
      return;
    }
    registry.replaceMethod(className, selector, std::move(withBlock), kind);
  });
}

platform::Implementation ZULSwizzler::currentImplementationForClass(const std::string& className,
                                                                    const std::string& selector,
                                                                    bool isClassSelector) {
  if (selector.empty()) {
    ZULAssertionHandler::handleFailure("The selector cannot be NULL");
    if (className.empty()) ZULAssertionHandler::handleFailure("The class cannot be Nil");
    return {};
  }
  if (className.empty()) {
    ZULAssertionHandler::handleFailure("The class cannot be Nil");
    return {};
  }
  return swizzlerQueue().sync([&]() -> platform::Implementation {
    platform::Implementation implementation =
        platform::ClassRegistry::shared().method(className, selector, kindFor(isClassSelector));
    if (!implementation) {
      ZULAssertionHandler::handleFailure("The Method for this class/selector combo doesn't exist (" + className + ", " +
                                         selector + ").");
    }
    return implementation;
  });
}

bool ZULSwizzler::selector(const std::string& selector, const std::string& existsInClass, bool isClassSelector) {
  if (selector.empty() || existsInClass.empty()) return false;
  return static_cast<bool>(platform::ClassRegistry::shared().method(existsInClass, selector, kindFor(isClassSelector)));
}

#include "sdk/utilities/ZULAppDelegateSwizzler.h"

#include <cstdio>
#include <mutex>

#include "platform/text/Uuid.h"
#include "platform/values/Exception.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULAssertionHandler.h"
#include "sdk/utilities/ZULBundleAccess.h"
#include "sdk/utilities/ZULLogger.h"

namespace {

using platform::Arguments;
using platform::ClassRegistry;
using platform::Implementation;
using platform::Object;
using Swizzler = ZULAppDelegateSwizzler;

constexpr const char* kCategory = "[ZoruvuUtilities/AppDelegateSwizzler]";
constexpr const char* kRirivuduProxyKey = "RirivuduAppDelegateProxyEnabled";
constexpr const char* kUtilitiesProxyKey = "ZoruvuUtilitiesAppDelegateProxyEnabled";
constexpr const char* kDonorDidRegisterSelector = "application:donor_didRegisterForRemoteNotificationsWithDeviceToken:";
constexpr const char* kDonorDidFailSelector = "application:donor_didFailToRegisterForRemoteNotificationsWithError:";
constexpr const char* kFakeDescriptionSelector = "fakeDescription";

void log(ZULLoggerLevel level, long code, const std::string& message) {
  ZULLogEmit(level, kZULLoggerSubsystem, kCategory, false, ZULMessageCode("SWZ", code), message);
}

std::string addressText(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", pointer);
  return text;
}

struct State {
  std::mutex onceMutex;  // held while proxying, like a once-guard
  bool proxyDone = false;
  bool remoteNotificationsDone = false;

  std::mutex mutex;  // everything below
  std::shared_ptr<platform::ApplicationDelegate> proxiedDelegate;
  std::shared_ptr<Object> proxiedObject;
  std::string realClass;
  std::optional<std::string> subclass;
  bool observing = false;
  std::map<std::string, std::shared_ptr<ZULZeroingWeakContainer>> interceptors;
};

State& state() {
  static State* instance = new State;
  return *instance;
}

// Forgets the proxied delegate once the application has another one (the
// application offers no change notification, so this runs on each use).
void noticeDelegateChange() {
  State& s = state();
  std::shared_ptr<platform::ApplicationDelegate> current = Swizzler::sharedApplication()
                                                               ? Swizzler::sharedApplication()->delegate()
                                                               : nullptr;
  std::lock_guard<std::mutex> guard(s.mutex);
  if (!s.observing || current == s.proxiedDelegate) return;
  s.proxiedDelegate = nullptr;
  s.proxiedObject = nullptr;
  s.observing = false;
}

bool answerIsYes(const std::any& answer) {
  const bool* value = std::any_cast<bool>(&answer);
  return value != nullptr && *value;
}

std::any forwardContinueUserActivity(Object* self, const Arguments& arguments) {
  if (self == nullptr) return false;
  const std::string selector = Swizzler::kContinueUserActivitySelector;
  Implementation real = Swizzler::originalImplementationForSelector(selector, *self);
  bool result = false;
  Swizzler::notifyInterceptorsWithMethodSelector(selector, [&](Object& interceptor) {
    result = answerIsYes(ClassRegistry::shared().send(interceptor, selector, arguments)) || result;
  });
  if (real) result = answerIsYes(real(self, arguments)) || result;
  return result;
}

Implementation forwardVoid(std::string selector) {
  return [selector](Object* self, const Arguments& arguments) -> std::any {
    if (self == nullptr) return {};
    Implementation real = Swizzler::originalImplementationForSelector(selector, *self);
    Swizzler::notifyInterceptorsWithMethodSelector(
        selector, [&](Object& interceptor) { ClassRegistry::shared().send(interceptor, selector, arguments); });
    if (real) real(self, arguments);
    return {};
  };
}

std::any fakeDescription(Object* self, const Arguments&) {
  if (self == nullptr) return std::string();
  std::shared_ptr<std::string> realClass = self->associatedObject<std::string>(Swizzler::kRealClassKey);
  return "<" + (realClass ? *realClass : self->className()) + ": " + addressText(self) + ">";
}

// The class whose methods are copied into proxy subclasses.
void ensureDonorClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    ClassRegistry& registry = ClassRegistry::shared();
    registry.registerClass(Swizzler::kClassName);
    registry.addMethod(Swizzler::kClassName, Swizzler::kContinueUserActivitySelector, forwardContinueUserActivity);
    registry.addMethod(Swizzler::kClassName, kDonorDidRegisterSelector,
                       forwardVoid(Swizzler::kDidRegisterForRemoteNotificationsSelector));
    registry.addMethod(Swizzler::kClassName, kDonorDidFailSelector,
                       forwardVoid(Swizzler::kDidFailToRegisterForRemoteNotificationsSelector));
    registry.addMethod(Swizzler::kClassName, kFakeDescriptionSelector, fakeDescription);
  });
}

// Copies the donor's source method into the subclass under the destination
// selector and records the real class's implementation of the destination.
void proxyDestinationSelector(const std::string& destination, const std::string& source, const std::string& toClass,
                              const std::string& realClass, Swizzler::ImplementationTable& table) {
  ClassRegistry& registry = ClassRegistry::shared();
  if (!registry.addMethod(toClass, destination, registry.method(Swizzler::kClassName, source))) {
    log(ZULLoggerLevelWarning, 1009, "Cannot copy method to destination selector " + destination + " as it already exists");
  }
  table[destination] = registry.method(realClass, destination);
}

bool infoSwitch(const platform::Dictionary& info, const char* key) {
  const platform::Value* value = info.find(key);
  if (value == nullptr || !value->isNumeric()) return true;
  return value->boolValue();
}

}  // namespace

bool ZULAppDelegateSwizzler::isAppDelegateProxyEnabled() {
  platform::Dictionary info = ZULBundleAccess::infoDictionary();
  return infoSwitch(info, kRirivuduProxyKey) && infoSwitch(info, kUtilitiesProxyKey);
}

std::string ZULAppDelegateSwizzler::correctAppDelegateProxyKey() {
  return ClassRegistry::shared().exists("RIRCore") ? kRirivuduProxyKey : kUtilitiesProxyKey;
}

std::string ZULAppDelegateSwizzler::correctAlternativeWhenAppDelegateProxyNotCreated() {
  return ClassRegistry::shared().exists("RIRCore")
             ? "To log deep link campaigns manually, call the methods in ROZAdavurudo+AppDelegate.h."
             : "";
}

std::shared_ptr<platform::Application> ZULAppDelegateSwizzler::sharedApplication() {
  if (ZULAppEnvironmentUtil::isAppExtension()) return nullptr;
  return platform::Application::shared();
}

// --- interceptors ---------------------------------------------------------

std::optional<std::string> ZULAppDelegateSwizzler::registerAppDelegateInterceptor(
    const std::shared_ptr<Object>& interceptor) {
  if (!interceptor) {
    ZULAssertionHandler::handleFailure("AppDelegateProxy cannot add nil interceptor");
    log(ZULLoggerLevelError, 1000, "AppDelegateProxy cannot add nil interceptor.");
    return std::nullopt;
  }
  if (!ClassRegistry::shared().conformsTo(*interceptor, kApplicationDelegateProtocol)) {
    ZULAssertionHandler::handleFailure("AppDelegateProxy interceptor does not conform to UIApplicationDelegate");
    log(ZULLoggerLevelError, 1001, "AppDelegateProxy interceptor does not conform to UIApplicationDelegate");
    return std::nullopt;
  }
  const std::string interceptorID = "ZUL_" + addressText(interceptor.get());
  if (interceptorID.empty()) {
    log(ZULLoggerLevelError, 1002, "AppDelegateProxy cannot create Interceptor ID.");
    return std::nullopt;
  }
  auto container = std::make_shared<ZULZeroingWeakContainer>();
  container->setObject(interceptor);
  State& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.interceptors[interceptorID] = std::move(container);
  return interceptorID;
}

void ZULAppDelegateSwizzler::unregisterAppDelegateInterceptorWithID(const std::optional<std::string>& interceptorID) {
  if (!interceptorID) {
    ZULAssertionHandler::handleFailure("AppDelegateProxy cannot unregister nil interceptor ID.");
    log(ZULLoggerLevelError, 1003, "AppDelegateProxy cannot unregister empty interceptor ID.");
    return;
  }
  if (interceptorID->empty()) {
    ZULAssertionHandler::handleFailure("AppDelegateProxy cannot unregister empty interceptor ID.");
  }
  State& s = state();
  {
    std::lock_guard<std::mutex> guard(s.mutex);
    auto found = s.interceptors.find(*interceptorID);
    if (found != s.interceptors.end() && found->second && found->second->object()) {
      s.interceptors.erase(found);
      return;
    }
  }
  log(ZULLoggerLevelError, 1004,
      "AppDelegateProxy cannot unregister interceptor that was not registered. Interceptor ID " + *interceptorID);
}

std::map<std::string, std::shared_ptr<ZULZeroingWeakContainer>> ZULAppDelegateSwizzler::interceptors() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  return s.interceptors;
}

void ZULAppDelegateSwizzler::clearInterceptors() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.interceptors.clear();
}

void ZULAppDelegateSwizzler::notifyInterceptorsWithMethodSelector(
    const std::string& selector, const std::function<void(Object&)>& callback) {
  for (const auto& [interceptorID, container] : interceptors()) {
    std::shared_ptr<Object> interceptor = container ? container->object() : nullptr;
    if (!interceptor) {
      log(ZULLoggerLevelWarning, 1010,
          "AppDelegateProxy cannot find interceptor with ID " + interceptorID + ". Removing the interceptor.");
      State& s = state();
      std::lock_guard<std::mutex> guard(s.mutex);
      s.interceptors.erase(interceptorID);
      continue;
    }
    if (ClassRegistry::shared().respondsTo(*interceptor, selector)) callback(*interceptor);
  }
}

// --- proxy ----------------------------------------------------------------

std::shared_ptr<Object> ZULAppDelegateSwizzler::originalDelegate() {
  noticeDelegateChange();
  State& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  return s.proxiedObject;
}

std::optional<std::string> ZULAppDelegateSwizzler::proxySubclassName() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  return s.subclass;
}

void ZULAppDelegateSwizzler::resetProxyOriginalDelegateOnceToken() {
  State& s = state();
  std::lock_guard<std::mutex> guard(s.onceMutex);
  s.proxyDone = false;
  s.remoteNotificationsDone = false;
}

void ZULAppDelegateSwizzler::proxyOriginalDelegate() {
  if (ZULAppEnvironmentUtil::isAppExtension()) return;
  State& s = state();
  std::lock_guard<std::mutex> once(s.onceMutex);
  if (s.proxyDone) return;
  s.proxyDone = true;
  noticeDelegateChange();
  std::shared_ptr<platform::Application> application = sharedApplication();
  proxyAppDelegate(application ? application->delegate() : nullptr);
}

void ZULAppDelegateSwizzler::proxyOriginalDelegateIncludingAPNSMethods() {
  if (ZULAppEnvironmentUtil::isAppExtension()) return;
  proxyOriginalDelegate();
  State& s = state();
  std::lock_guard<std::mutex> once(s.onceMutex);
  if (s.remoteNotificationsDone) return;
  s.remoteNotificationsDone = true;
  noticeDelegateChange();

  std::shared_ptr<platform::Application> application = sharedApplication();
  std::shared_ptr<Object> appDelegate =
      application ? std::dynamic_pointer_cast<Object>(application->delegate()) : nullptr;
  std::shared_ptr<ImplementationTable> attached =
      appDelegate ? appDelegate->associatedObject<ImplementationTable>(kRealImplementationsKey) : nullptr;
  std::optional<std::string> subclass;
  std::string realClass;
  {
    std::lock_guard<std::mutex> guard(s.mutex);
    subclass = s.subclass;
    realClass = s.realClass;
  }
  if (!subclass || realClass.empty() || !appDelegate || !attached) return;
  ImplementationTable table = *attached;
  proxyDestinationSelector(kDidRegisterForRemoteNotificationsSelector, kDonorDidRegisterSelector, *subclass,
                           realClass, table);
  proxyDestinationSelector(kDidFailToRegisterForRemoteNotificationsSelector, kDonorDidFailSelector, *subclass,
                           realClass, table);
  appDelegate->setAssociatedObject(kRealImplementationsKey, std::make_shared<ImplementationTable>(std::move(table)));
  reassignAppDelegate();
}

void ZULAppDelegateSwizzler::proxyAppDelegate(const std::shared_ptr<platform::ApplicationDelegate>& appDelegate) {
  std::shared_ptr<Object> object = std::dynamic_pointer_cast<Object>(appDelegate);
  if (!object || !ClassRegistry::shared().conformsTo(*object, kApplicationDelegateProtocol)) {
    log(ZULLoggerLevelNotice, 1014,
        "App Delegate does not conform to UIApplicationDelegate protocol. " +
            correctAlternativeWhenAppDelegateProxyNotCreated());
    return;
  }
  if (!isAppDelegateProxyEnabled()) {
    log(ZULLoggerLevelNotice, 1011, "App Delegate Proxy is disabled. " + correctAlternativeWhenAppDelegateProxyNotCreated());
    return;
  }
  try {
    {
      State& s = state();
      std::lock_guard<std::mutex> guard(s.mutex);
      s.realClass = object->className();
    }
    std::optional<std::string> subclass = createSubclassWithObject(*object);
    {
      State& s = state();
      std::lock_guard<std::mutex> guard(s.mutex);
      s.subclass = subclass;
    }
    reassignAppDelegate();
  } catch (const std::exception& exception) {
    log(ZULLoggerLevelError, 1013,
        "Cannot create App Delegate Proxy. " + correctAlternativeWhenAppDelegateProxyNotCreated());
  }
}

std::optional<std::string> ZULAppDelegateSwizzler::createSubclassWithObject(Object& object) {
  ensureDonorClass();
  ClassRegistry& registry = ClassRegistry::shared();
  const std::string realClass = object.className();
  const std::string subclass = "ZUL_" + realClass + "-" + platform::Uuid::random().string();
  if (registry.exists(subclass)) {
    log(ZULLoggerLevelError, 1005,
        "Cannot create a proxy for App Delegate. Subclass already exists. Original Class: " + realClass +
            ", subclass: " + subclass);
    return std::nullopt;
  }
  if (!registry.createSubclass(subclass, realClass)) {
    log(ZULLoggerLevelError, 1006,
        "Cannot create a proxy for App Delegate. Subclass already exists. Original Class: " + realClass +
            ", subclass: Nil");
    return std::nullopt;
  }
  ImplementationTable table;
  proxyDestinationSelector(kContinueUserActivitySelector, kContinueUserActivitySelector, subclass, realClass, table);
  if (!registry.addMethod(subclass, kDescriptionSelector, registry.method(kClassName, kFakeDescriptionSelector))) {
    log(ZULLoggerLevelWarning, 1009,
        std::string("Cannot copy method to destination selector ") + kDescriptionSelector + " as it already exists");
  }
  object.setAssociatedObject(kRealImplementationsKey, std::make_shared<ImplementationTable>(std::move(table)));
  object.setAssociatedObject(kRealClassKey, std::make_shared<std::string>(realClass));
  // The object keeps its storage when its class changes, so there is no
  // instance-size mismatch to guard against.
  if (registry.setClass(object, subclass)) {
    log(ZULLoggerLevelDebug, 1008,
        "Successfully created App Delegate Proxy automatically. To disable the proxy, set the flag " +
            correctAppDelegateProxyKey() + " to NO (Boolean) in the Info.plist");
  }
  return subclass;
}

void ZULAppDelegateSwizzler::reassignAppDelegate() {
  std::shared_ptr<platform::Application> application = sharedApplication();
  if (!application) return;
  std::shared_ptr<platform::ApplicationDelegate> appDelegate = application->delegate();
  application->setDelegate(nullptr);
  application->setDelegate(appDelegate);
  State& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.proxiedDelegate = appDelegate;
  s.proxiedObject = std::dynamic_pointer_cast<Object>(appDelegate);
  s.observing = true;
}

Implementation ZULAppDelegateSwizzler::originalImplementationForSelector(const std::string& selector,
                                                                        const Object& object) {
  std::shared_ptr<ImplementationTable> table = object.associatedObject<ImplementationTable>(kRealImplementationsKey);
  if (!table) return {};
  auto found = table->find(selector);
  return found == table->end() ? Implementation() : found->second;
}

// ZULAppDelegateSwizzler: lets SDK components see application-delegate calls
// without the application forwarding them. The application's delegate is
// proxied in place: a subclass of its class is made at run time in
// platform::ClassRegistry::shared() ("ZUL_<class>-<UUID>"), forwarding
// implementations are copied into it, and the delegate object's class is
// changed to it. A forwarded call first reaches every registered interceptor
// that answers the selector, then the delegate's real implementation.
//
// Forwarded selectors (arguments as the caller sends them):
//   "application:continueUserActivity:restorationHandler:" (application,
//     user activity, restoration handler) -> bool: the OR of every answer
//     (an answer that is not a bool counts as NO);
//   with the remote-notification methods also
//   "application:didRegisterForRemoteNotificationsWithDeviceToken:"
//   (application, token) and
//   "application:didFailToRegisterForRemoteNotificationsWithError:"
//   (application, error);
//   "description" -> std::string "<RealClass: 0x...>".
//
// What a delegate needs in order to be proxied:
//  - it is a platform::Object as well as a platform::ApplicationDelegate,
//    and it is platform::Application::shared()'s delegate;
//  - its class (Object::className()) is registered in
//    ClassRegistry::shared() and conforms to the protocol
//    "NSApplicationDelegate" (ClassRegistry::addProtocol);
//  - whoever delivers the forwarded calls sends them through
//    ClassRegistry::shared().send(delegate, selector, arguments), and the
//    delegate's own handling of them is in its class's method table.
// Interceptors likewise are platform::Objects whose class conforms to
// "NSApplicationDelegate"; they are held weakly, and one that is gone is
// dropped (warning I-SWZ001010) at the next forwarded call.
//
// The Info.plist switches "RirivuduAppDelegateProxyEnabled" and
// "ZoruvuUtilitiesAppDelegateProxyEnabled" (numbers or booleans; absent or
// anything else counts YES) both must allow the proxy. Proxying happens at
// most once per process (a second request does nothing). When the
// application gets another delegate, the proxied delegate is forgotten
// (noticed at the next call of this class) and the new one is not proxied.
//
// Lines go to the utilities logger, category
// "[ZoruvuUtilities/AppDelegateSwizzler]", codes "I-SWZ%06ld". Misuse goes
// to the current assertion handler (ZULAssertionHandler).
//
// Thread safety: every function may be called from any thread; proxy
// creation is serialised; forwarded calls run on the caller's thread and
// work on a snapshot of the interceptor table.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/app/Application.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/runtime/Object.h"
#include "sdk/utilities/ZULZeroingWeakContainer.h"

class ZULAppDelegateSwizzler {
 public:
  static constexpr const char* kClassName = "ZULAppDelegateSwizzler";
  static constexpr const char* kApplicationDelegateProtocol = "NSApplicationDelegate";
  static constexpr const char* kContinueUserActivitySelector = "application:continueUserActivity:restorationHandler:";
  static constexpr const char* kDidRegisterForRemoteNotificationsSelector =
      "application:didRegisterForRemoteNotificationsWithDeviceToken:";
  static constexpr const char* kDidFailToRegisterForRemoteNotificationsSelector =
      "application:didFailToRegisterForRemoteNotificationsWithError:";
  static constexpr const char* kDescriptionSelector = "description";
  // Associated-object keys on the proxied delegate.
  static constexpr const char* kRealImplementationsKey = "ZUL_realImplementationsBySelector";
  static constexpr const char* kRealClassKey = "ZUL_realClass";

  using ImplementationTable = std::map<std::string, platform::Implementation>;

  static bool isAppDelegateProxyEnabled();
  // The new interceptor ID "ZUL_0x...", or none after a misuse.
  static std::optional<std::string> registerAppDelegateInterceptor(const std::shared_ptr<platform::Object>& interceptor);
  // None stands for a nil ID.
  static void unregisterAppDelegateInterceptorWithID(const std::optional<std::string>& interceptorID);
  static void proxyOriginalDelegate();
  static void proxyOriginalDelegateIncludingAPNSMethods();
  static std::shared_ptr<platform::Application> sharedApplication();
  // A snapshot of the interceptor table.
  static std::map<std::string, std::shared_ptr<ZULZeroingWeakContainer>> interceptors();
  static std::shared_ptr<platform::Object> originalDelegate();
  static void clearInterceptors();
  static void resetProxyOriginalDelegateOnceToken();
  static std::string correctAppDelegateProxyKey();
  static std::string correctAlternativeWhenAppDelegateProxyNotCreated();

  // Steps, public for tests.
  static void proxyAppDelegate(const std::shared_ptr<platform::ApplicationDelegate>& appDelegate);
  // The subclass name, or none.
  static std::optional<std::string> createSubclassWithObject(platform::Object& object);
  static void reassignAppDelegate();
  static platform::Implementation originalImplementationForSelector(const std::string& selector,
                                                                    const platform::Object& object);
  // Calls `callback` with each live interceptor that answers the selector;
  // drops the vanished ones.
  static void notifyInterceptorsWithMethodSelector(const std::string& selector,
                                                   const std::function<void(platform::Object&)>& callback);
  // The subclass made for the delegate, when one was.
  static std::optional<std::string> proxySubclassName();
};

// RIRMessagingRemoteNotificationsProxy: connects the messaging facade to the
// platform's notification callbacks without code in the app. Switched on
// once (swizzleMethodsIfPossible) it
//  - registers itself as an application-delegate interceptor
//    (ZULAppDelegateSwizzler), so that
//    "application:didRegisterForRemoteNotificationsWithDeviceToken:" sets the
//    facade's APNS token;
//  - follows the delegate of the current platform::UserNotificationCenter:
//    for each of the delegate's two callbacks that exists (will-present,
//    did-receive-response) the notification's user info is handed to
//    RIRMessaging::appDidReceiveMessage before the delegate's own callback
//    runs, which still runs exactly once. A callback the delegate lacks is
//    left alone, and without a delegate nothing is passed on. Replacing the
//    centre's delegate moves the interception to the new one.
// The interception is a hook of the centre (the platform's way of seeing a
// delivery before the delegate) rather than a change of the delegate itself.
//
// canSwizzleMethods answers NO when the Info.plist turns the proxy off
// ("RirivuduAppDelegateProxyEnabled" or
// "ZoruvuUtilitiesAppDelegateProxyEnabled" a number or boolean that is NO).
//
// Thread safety: switch on and off from one thread (the main thread); the
// centre's deliveries may come from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/app/UserNotificationCenter.h"
#include "platform/runtime/Object.h"

inline constexpr const char* kRIRMessagingAppDelegateProxyEnabledKey = "RirivuduAppDelegateProxyEnabled";
inline constexpr const char* kRIRMessagingRemoteNotificationsProxyClass = "RIRMessagingRemoteNotificationsProxy";
inline constexpr const char* kRIRMessagingWillPresentSelector =
    "userNotificationCenter:willPresentNotification:withCompletionHandler:";
inline constexpr const char* kRIRMessagingDidReceiveResponseSelector =
    "userNotificationCenter:didReceiveNotificationResponse:withCompletionHandler:";

class RIRMessagingRemoteNotificationsProxy : public platform::Object {
 public:
  static bool canSwizzleMethods();
  static std::shared_ptr<RIRMessagingRemoteNotificationsProxy> sharedProxy();
  // Registers the proxy's class (conforming to "NSApplicationDelegate") with
  // the object runtime; called by the library's registration.
  static void registerClass();
  // Tests: switches the shared proxy off and forgets it.
  static void resetSharedProxyForTesting();

  RIRMessagingRemoteNotificationsProxy();
  ~RIRMessagingRemoteNotificationsProxy() override;

  void swizzleMethodsIfPossible();
  void unswizzleAllMethods();
  void listenForDelegateChangesInUserNotificationCenter(const std::shared_ptr<platform::UserNotificationCenter>& center);
  void swizzleUserNotificationCenterDelegate(const std::shared_ptr<platform::UserNotificationCenterDelegate>& delegate);
  void unswizzleUserNotificationCenterDelegate(const std::shared_ptr<platform::UserNotificationCenterDelegate>& delegate);
  void removeUserNotificationCenterDelegateObserver();

  // The interceptor callback: sets the facade's APNS token.
  static void applicationDidRegisterForRemoteNotificationsWithDeviceToken(const platform::Bytes& deviceToken);

  bool didSwizzleMethods() const;
  bool hasSwizzledUserNotificationDelegate() const;
  bool isObservingUserNotificationDelegateChanges() const;
  // The selectors replaced on the current delegate.
  std::set<std::string> swizzledSelectors() const;
  std::optional<std::string> appDelegateInterceptorID() const;

 private:
  void willPresent(const platform::UserNotification& notification);
  void didReceiveResponse(const platform::UserNotificationResponse& response);
  void addDelegateObserverToUserNotificationCenter(const std::shared_ptr<platform::UserNotificationCenter>& center);

  mutable std::mutex m_mutex;
  bool m_didSwizzleMethods = false;
  std::set<std::string> m_swizzledSelectors;
  std::shared_ptr<platform::UserNotificationCenter> m_userNotificationCenter;
  std::weak_ptr<platform::UserNotificationCenterDelegate> m_currentUserNotificationCenterDelegate;
  bool m_hasSwizzledUserNotificationDelegate = false;
  platform::UserNotificationCenter::Token m_observerToken = 0;
  platform::UserNotificationCenter::Token m_hookToken = 0;
  std::optional<std::string> m_appDelegateInterceptorID;
};

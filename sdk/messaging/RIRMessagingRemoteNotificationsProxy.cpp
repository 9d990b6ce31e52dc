#include "sdk/messaging/RIRMessagingRemoteNotificationsProxy.h"

#include <any>

#include "platform/runtime/ClassRegistry.h"
#include "sdk/messaging/RIRMessaging.h"
#include "sdk/utilities/ZULAppDelegateSwizzler.h"

namespace {

// Process-wide objects here are never destroyed: work still running while the
// process exits (queued blocks, destructors of other statics) may use them.

std::mutex& sharedMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::shared_ptr<RIRMessagingRemoteNotificationsProxy>& sharedSlot() {
  static auto* const proxy = new std::shared_ptr<RIRMessagingRemoteNotificationsProxy>();
  return *proxy;
}

void passToMessaging(const platform::UserNotification& notification) {
  if (std::shared_ptr<RIRMessaging> messaging = RIRMessaging::messaging()) {
    messaging->appDidReceiveMessage(notification.request.content.userInfo);
  }
}

// The device token as the application delegate received it.
std::optional<platform::Bytes> deviceTokenArgument(const std::any& argument) {
  if (const auto* bytes = std::any_cast<platform::Bytes>(&argument)) return *bytes;
  if (const auto* text = std::any_cast<std::string>(&argument)) return platform::Bytes(text->begin(), text->end());
  if (const auto* value = std::any_cast<platform::Value>(&argument)) {
    if (const platform::Bytes* data = value->asData()) return *data;
  }
  return std::nullopt;
}

}  // namespace

bool RIRMessagingRemoteNotificationsProxy::canSwizzleMethods() {
  return ZULAppDelegateSwizzler::isAppDelegateProxyEnabled();
}

void RIRMessagingRemoteNotificationsProxy::registerClass() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  if (registry.exists(kRIRMessagingRemoteNotificationsProxyClass)) return;
  registry.registerClass(kRIRMessagingRemoteNotificationsProxyClass);
  registry.addProtocol(kRIRMessagingRemoteNotificationsProxyClass, ZULAppDelegateSwizzler::kApplicationDelegateProtocol);
  registry.addMethod(kRIRMessagingRemoteNotificationsProxyClass,
                     ZULAppDelegateSwizzler::kDidRegisterForRemoteNotificationsSelector,
                     [](platform::Object*, const platform::Arguments& arguments) -> std::any {
                       if (arguments.size() < 2) return {};
                       if (std::optional<platform::Bytes> token = deviceTokenArgument(arguments[1])) {
                         applicationDidRegisterForRemoteNotificationsWithDeviceToken(*token);
                       }
                       return {};
                     });
}

std::shared_ptr<RIRMessagingRemoteNotificationsProxy> RIRMessagingRemoteNotificationsProxy::sharedProxy() {
  std::lock_guard<std::mutex> lock(sharedMutex());
  std::shared_ptr<RIRMessagingRemoteNotificationsProxy>& proxy = sharedSlot();
  if (!proxy) proxy = std::make_shared<RIRMessagingRemoteNotificationsProxy>();
  return proxy;
}

void RIRMessagingRemoteNotificationsProxy::resetSharedProxyForTesting() {
  std::shared_ptr<RIRMessagingRemoteNotificationsProxy> proxy;
  {
    std::lock_guard<std::mutex> lock(sharedMutex());
    proxy = std::move(sharedSlot());
  }
  if (proxy) {
    proxy->unswizzleAllMethods();
    proxy->removeUserNotificationCenterDelegateObserver();
  }
}

RIRMessagingRemoteNotificationsProxy::RIRMessagingRemoteNotificationsProxy()
    : platform::Object(kRIRMessagingRemoteNotificationsProxyClass) {}

RIRMessagingRemoteNotificationsProxy::~RIRMessagingRemoteNotificationsProxy() {
  unswizzleAllMethods();
  removeUserNotificationCenterDelegateObserver();
}

void RIRMessagingRemoteNotificationsProxy::swizzleMethodsIfPossible() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_didSwizzleMethods) return;
  }
  ZULAppDelegateSwizzler::proxyOriginalDelegateIncludingAPNSMethods();
  std::optional<std::string> interceptorID =
      ZULAppDelegateSwizzler::registerAppDelegateInterceptor(std::static_pointer_cast<platform::Object>(shared_from_this()));
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_appDelegateInterceptorID = interceptorID;
  }
  if (std::shared_ptr<platform::UserNotificationCenter> center = platform::UserNotificationCenter::current()) {
    listenForDelegateChangesInUserNotificationCenter(center);
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_didSwizzleMethods = true;
}

void RIRMessagingRemoteNotificationsProxy::listenForDelegateChangesInUserNotificationCenter(
    const std::shared_ptr<platform::UserNotificationCenter>& center) {
  if (!center) return;
  if (std::shared_ptr<platform::UserNotificationCenterDelegate> delegate = center->delegate()) {
    swizzleUserNotificationCenterDelegate(delegate);
  }
  addDelegateObserverToUserNotificationCenter(center);
}

void RIRMessagingRemoteNotificationsProxy::swizzleUserNotificationCenterDelegate(
    const std::shared_ptr<platform::UserNotificationCenterDelegate>& delegate) {
  if (!delegate) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_currentUserNotificationCenterDelegate.lock() == delegate) return;
  m_swizzledSelectors.clear();
  if (delegate->willPresent) m_swizzledSelectors.insert(kRIRMessagingWillPresentSelector);
  if (delegate->didReceiveResponse) m_swizzledSelectors.insert(kRIRMessagingDidReceiveResponseSelector);
  m_currentUserNotificationCenterDelegate = delegate;
  m_hasSwizzledUserNotificationDelegate = true;
}

void RIRMessagingRemoteNotificationsProxy::unswizzleUserNotificationCenterDelegate(
    const std::shared_ptr<platform::UserNotificationCenterDelegate>& delegate) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!delegate || m_currentUserNotificationCenterDelegate.lock() != delegate) return;
  m_swizzledSelectors.clear();
  m_currentUserNotificationCenterDelegate.reset();
  m_hasSwizzledUserNotificationDelegate = false;
}

void RIRMessagingRemoteNotificationsProxy::addDelegateObserverToUserNotificationCenter(
    const std::shared_ptr<platform::UserNotificationCenter>& center) {
  removeUserNotificationCenterDelegateObserver();
  std::weak_ptr<RIRMessagingRemoteNotificationsProxy> weakSelf =
      std::static_pointer_cast<RIRMessagingRemoteNotificationsProxy>(shared_from_this());
  const auto observer = center->addDelegateObserver(
      [weakSelf](const std::shared_ptr<platform::UserNotificationCenterDelegate>& oldDelegate,
                 const std::shared_ptr<platform::UserNotificationCenterDelegate>& newDelegate) {
        std::shared_ptr<RIRMessagingRemoteNotificationsProxy> self = weakSelf.lock();
        if (!self) return;
        if (oldDelegate) self->unswizzleUserNotificationCenterDelegate(oldDelegate);
        if (newDelegate) self->swizzleUserNotificationCenterDelegate(newDelegate);
      });
  platform::UserNotificationHook hook;
  hook.willPresent = [weakSelf](const platform::UserNotification& notification) {
    if (auto self = weakSelf.lock()) self->willPresent(notification);
  };
  hook.didReceiveResponse = [weakSelf](const platform::UserNotificationResponse& response) {
    if (auto self = weakSelf.lock()) self->didReceiveResponse(response);
  };
  const auto hookToken = center->addHook(std::move(hook));
  std::lock_guard<std::mutex> lock(m_mutex);
  m_userNotificationCenter = center;
  m_observerToken = observer;
  m_hookToken = hookToken;
}

void RIRMessagingRemoteNotificationsProxy::removeUserNotificationCenterDelegateObserver() {
  std::shared_ptr<platform::UserNotificationCenter> center;
  platform::UserNotificationCenter::Token observer = 0;
  platform::UserNotificationCenter::Token hook = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    center = std::move(m_userNotificationCenter);
    m_userNotificationCenter.reset();
    observer = std::exchange(m_observerToken, 0);
    hook = std::exchange(m_hookToken, 0);
  }
  if (!center) return;
  center->removeDelegateObserver(observer);
  center->removeHook(hook);
}

void RIRMessagingRemoteNotificationsProxy::unswizzleAllMethods() {
  std::optional<std::string> interceptorID;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    interceptorID = std::exchange(m_appDelegateInterceptorID, std::nullopt);
    m_swizzledSelectors.clear();
    m_currentUserNotificationCenterDelegate.reset();
    m_hasSwizzledUserNotificationDelegate = false;
  }
  if (interceptorID) ZULAppDelegateSwizzler::unregisterAppDelegateInterceptorWithID(interceptorID);
}

void RIRMessagingRemoteNotificationsProxy::willPresent(const platform::UserNotification& notification) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_swizzledSelectors.count(kRIRMessagingWillPresentSelector)) return;
  }
  passToMessaging(notification);
}

void RIRMessagingRemoteNotificationsProxy::didReceiveResponse(const platform::UserNotificationResponse& response) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_swizzledSelectors.count(kRIRMessagingDidReceiveResponseSelector)) return;
  }
  passToMessaging(response.notification);
}

void RIRMessagingRemoteNotificationsProxy::applicationDidRegisterForRemoteNotificationsWithDeviceToken(
    const platform::Bytes& deviceToken) {
  if (std::shared_ptr<RIRMessaging> messaging = RIRMessaging::messaging()) messaging->setAPNSToken(deviceToken);
}

bool RIRMessagingRemoteNotificationsProxy::didSwizzleMethods() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_didSwizzleMethods;
}

bool RIRMessagingRemoteNotificationsProxy::hasSwizzledUserNotificationDelegate() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_hasSwizzledUserNotificationDelegate;
}

bool RIRMessagingRemoteNotificationsProxy::isObservingUserNotificationDelegateChanges() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_userNotificationCenter != nullptr;
}

std::set<std::string> RIRMessagingRemoteNotificationsProxy::swizzledSelectors() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_swizzledSelectors;
}

std::optional<std::string> RIRMessagingRemoteNotificationsProxy::appDelegateInterceptorID() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_appDelegateInterceptorID;
}

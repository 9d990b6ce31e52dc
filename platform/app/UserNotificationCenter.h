// UserNotificationCenter: stand-in for the desktop's user-notification
// centre. Nothing is shown on screen: requests are kept as pending and are
// delivered to the delegate when the app (or a test) says so.
//
// Delegate: one slot holding a UserNotificationCenterDelegate whose two
// callbacks are optional. Setting it tells every delegate observer (old and
// new delegate), after the change, on the setting thread.
//
// Hooks: functions that see a notification (or response) before the
// delegate does; they replace intercepting the delegate's methods. Each
// delivery runs every hook once, in registration order, then the delegate's
// callback once. A completion handed to the delegate acts once however often
// it is called; when the delegate lacks the callback the completion is
// called at once (presentation None).
//
// Requests: addRequest keeps the request (a request with the identifier of a
// pending one replaces it; its userInfo is copied) and calls the completion
// with none, or with error 1 of "UNErrorDomain" when notifications are not
// allowed (setNotificationsAllowed(false)). Completions run asynchronously
// on the default global queue, never inside addRequest.
//
// Delivery of pending requests: firePendingRequest(identifier, date)
// presents one; deliverDueRequests(now) presents every request without a
// trigger, and every one whose trigger names a full local date (year, month
// and day; missing time fields count as 0) at or before `now`. A delivered
// request stays pending only when its trigger repeats and names no full
// date.
//
// Thread safety: every member may be called from any thread. Hooks,
// observers and delegate callbacks run on the thread that delivers, with no
// lock held.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/app/UserNotification.h"

namespace platform {

class UserNotificationCenter;

using UserNotificationPresentationHandler = std::function<void(UserNotificationPresentation)>;

struct UserNotificationCenterDelegate {
  std::function<void(UserNotificationCenter&, const UserNotification&, UserNotificationPresentationHandler)>
      willPresent;
  std::function<void(UserNotificationCenter&, const UserNotificationResponse&, std::function<void()>)>
      didReceiveResponse;
};

struct UserNotificationHook {
  std::function<void(const UserNotification&)> willPresent;
  std::function<void(const UserNotificationResponse&)> didReceiveResponse;
};

class UserNotificationCenter {
 public:
  using DelegateObserver = std::function<void(const std::shared_ptr<UserNotificationCenterDelegate>& oldDelegate,
                                              const std::shared_ptr<UserNotificationCenterDelegate>& newDelegate)>;
  using Token = uint64_t;

  UserNotificationCenter() = default;
  UserNotificationCenter(const UserNotificationCenter&) = delete;
  UserNotificationCenter& operator=(const UserNotificationCenter&) = delete;

  // The process-wide centre (currentNotificationCenter); replaceable (tests).
  static std::shared_ptr<UserNotificationCenter> current();
  static void setCurrent(std::shared_ptr<UserNotificationCenter> center);

  std::shared_ptr<UserNotificationCenterDelegate> delegate() const;
  void setDelegate(std::shared_ptr<UserNotificationCenterDelegate> delegate);

  Token addDelegateObserver(DelegateObserver observer);
  void removeDelegateObserver(Token token);
  Token addHook(UserNotificationHook hook);
  void removeHook(Token token);

  void setNotificationsAllowed(bool allowed);
  void addRequest(UserNotificationRequest request,
                  std::function<void(std::optional<Error>)> completion = {});
  std::vector<UserNotificationRequest> pendingRequests() const;
  void removePendingRequests(const std::vector<std::string>& identifiers);
  void removeAllPendingRequests();

  void present(const UserNotification& notification, UserNotificationPresentationHandler completion = {});
  void respond(const UserNotificationResponse& response, std::function<void()> completion = {});

  bool firePendingRequest(const std::string& identifier, double date);
  // Number of requests delivered.
  size_t deliverDueRequests(double now);

 private:
  // The delegate and hooks as they are now, taken under the lock so that
  // they are called without it.
  struct Listeners {
    std::shared_ptr<UserNotificationCenterDelegate> delegate;
    std::vector<UserNotificationHook> hooks;
  };
  Listeners listeners() const;

  mutable std::mutex m_mutex;
  std::shared_ptr<UserNotificationCenterDelegate> m_delegate;
  std::vector<std::pair<Token, DelegateObserver>> m_observers;
  std::vector<std::pair<Token, UserNotificationHook>> m_hooks;
  std::vector<UserNotificationRequest> m_pending;
  Token m_nextToken = 1;
  bool m_allowed = true;
};

}  // namespace platform

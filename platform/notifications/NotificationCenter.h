// NotificationCenter: named broadcasts inside the process.
//
// post() delivers synchronously on the posting thread to every matching
// observer, in registration order. An observer matches when its name is
// empty ("any name") or equal to the notification's, and its object filter
// is none ("any object") or has the notification object's identity.
//
// Delivery works on a snapshot taken when post() starts: observers added
// during a delivery hear the next post, not this one; an observer removed
// during a delivery by a handler on the posting thread is not called again
// by it. (A removal from another thread races with a delivery under way: the
// handler may still be called once while removeObserver runs.)
//
// Owners: an observer may name an owner, either held weakly (a shared_ptr's
// object: once it is gone the observer is skipped and dropped; while its
// handler runs the owner is kept alive) or as a plain identity (removal
// only). removeObserver(owner[, name]) removes an owner's observers.
//
// Queue: an observer registered with a queue has its handler run on that
// queue, asynchronously, unless the posting thread already runs on it (then
// inline). Without a queue it runs on the posting thread.
//
// An exception thrown by a handler propagates out of post(); later
// observers do not hear that post.
//
// Thread safety: every member may be called from any thread, including from
// handlers. Tokens stay valid (removal does nothing) after the observer or
// the centre is gone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/notifications/Notification.h"
#include "platform/observable/Cancellable.h"

namespace platform {

using NotificationHandler = std::function<void(const Notification&)>;

struct ObserverToken {
  uint64_t id = 0;
  explicit operator bool() const { return id != 0; }
  bool operator==(const ObserverToken&) const = default;
};

struct ObserverOptions {
  std::string name;                     // empty: every name
  NotificationObject object;            // none: every object
  std::weak_ptr<void> owner;            // held weakly; expired -> skipped and dropped
  const void* ownerIdentity = nullptr;  // for removeObserver(owner); set from `owner` when null
  std::optional<DispatchQueue> queue;   // run the handler there
};

class NotificationCenter {
 public:
  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  static NotificationCenter& defaultCenter();

  ObserverToken addObserver(ObserverOptions options, NotificationHandler handler);
  ObserverToken addObserver(std::string name, NotificationObject object, NotificationHandler handler) {
    return addObserver(ObserverOptions{std::move(name), std::move(object)}, std::move(handler));
  }
  // Held weakly: dropped once the owner is gone.
  template <class Owner>
  ObserverToken addObserver(const std::shared_ptr<Owner>& owner, std::string name, NotificationObject object,
                            NotificationHandler handler) {
    ObserverOptions options{std::move(name), std::move(object)};
    options.owner = std::const_pointer_cast<std::remove_const_t<Owner>>(owner);
    options.ownerIdentity = identityOf(static_cast<const Owner*>(owner.get()));
    return addObserver(std::move(options), std::move(handler));
  }

  void removeObserver(ObserverToken token);
  // Every observer of this owner; with a name, only those registered for it.
  template <class Owner>
  void removeObserver(const Owner* owner, std::string_view name = {}) {
    removeObserversOf(identityOf(owner), name);
  }
  template <class Owner>
  void removeObserver(const std::shared_ptr<Owner>& owner, std::string_view name = {}) {
    removeObserversOf(identityOf(static_cast<const Owner*>(owner.get())), name);
  }
  // A token that removes the observer when cancelled or destroyed.
  Cancellable removal(ObserverToken token);

  void post(const Notification& notification);
  void post(std::string name, NotificationObject object = {}, Dictionary userInfo = {}, std::any payload = {}) {
    post(Notification{std::move(name), std::move(object), std::move(userInfo), std::move(payload)});
  }

  size_t observerCount() const;

 private:
  friend class NotificationQueue;
  struct State;
  void removeObserversOf(const void* owner, std::string_view name);
  std::shared_ptr<State> m_state;
};

}  // namespace platform

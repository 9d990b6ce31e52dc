#include "platform/notifications/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "platform/notifications/NotificationQueue.h"

namespace platform {

namespace {

struct Observer {
  uint64_t id = 0;
  ObserverOptions options;
  bool weakOwner = false;
  NotificationHandler handler;
  std::atomic<bool> removed{false};

  bool matches(const Notification& notification) const {
    if (!options.name.empty() && options.name != notification.name) return false;
    if (options.object && options.object.identity() != notification.object.identity()) return false;
    return true;
  }
};

// True for a weak_ptr that was given an owner (expired or not).
bool wasAssigned(const std::weak_ptr<void>& owner) {
  return owner.owner_before(std::weak_ptr<void>{}) || std::weak_ptr<void>{}.owner_before(owner);
}

}  // namespace

struct NotificationCenter::State {
  mutable std::mutex mutex;
  uint64_t nextId = 1;
  std::vector<std::shared_ptr<Observer>> observers;  // registration order

  // Marks and unlinks every observer matching `which`.
  template <class Which>
  void remove(Which which) {
    std::vector<std::shared_ptr<Observer>> dropped;  // handlers released outside the lock
    std::lock_guard lock(mutex);
    auto end = std::stable_partition(observers.begin(), observers.end(),
                                     [&](const std::shared_ptr<Observer>& o) { return !which(*o); });
    for (auto it = end; it != observers.end(); ++it) {
      (*it)->removed = true;
      dropped.push_back(std::move(*it));
    }
    observers.erase(end, observers.end());
  }

  void post(const Notification& notification) {
    std::vector<std::shared_ptr<Observer>> snapshot;
    {
      std::lock_guard lock(mutex);
      snapshot = observers;
    }
    bool sawDeadOwner = false;
    for (const std::shared_ptr<Observer>& observer : snapshot) {
      if (observer->removed || !observer->matches(notification)) continue;
      std::shared_ptr<void> owner;
      if (observer->weakOwner) {
        owner = observer->options.owner.lock();
        if (!owner) {
          observer->removed = true;
          sawDeadOwner = true;
          continue;
        }
      }
      if (observer->options.queue && !observer->options.queue->isCurrent()) {
        // Re-checked on the queue: the observer may be removed or its owner
        // gone by the time the task runs.
        std::weak_ptr<Observer> weakObserver = observer;
        std::weak_ptr<void> weakOwner = observer->options.owner;
        bool needsOwner = observer->weakOwner;
        observer->options.queue->async([weakObserver, weakOwner, needsOwner, notification] {
          std::shared_ptr<Observer> target = weakObserver.lock();
          if (!target || target->removed) return;
          std::shared_ptr<void> keepAlive = weakOwner.lock();
          if (needsOwner && !keepAlive) return;
          target->handler(notification);
        });
        continue;
      }
      observer->handler(notification);
    }
    if (sawDeadOwner) remove([](const Observer& o) { return o.removed.load(); });
  }
};

NotificationCenter::NotificationCenter() : m_state(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* center = new NotificationCenter();  // never destroyed: used until exit
  return *center;
}

ObserverToken NotificationCenter::addObserver(ObserverOptions options, NotificationHandler handler) {
  if (!handler) return {};
  auto observer = std::make_shared<Observer>();
  observer->weakOwner = wasAssigned(options.owner);
  if (observer->weakOwner && options.owner.expired()) return {};  // the owner is already gone
  if (!options.ownerIdentity && observer->weakOwner) options.ownerIdentity = options.owner.lock().get();
  observer->options = std::move(options);
  observer->handler = std::move(handler);
  std::lock_guard lock(m_state->mutex);
  observer->id = m_state->nextId++;
  m_state->observers.push_back(observer);
  return ObserverToken{observer->id};
}

void NotificationCenter::removeObserver(ObserverToken token) {
  if (!token) return;
  m_state->remove([&](const Observer& o) { return o.id == token.id; });
}

void NotificationCenter::removeObserversOf(const void* owner, std::string_view name) {
  if (!owner) return;
  m_state->remove([&](const Observer& o) {
    return o.options.ownerIdentity == owner && (name.empty() || o.options.name == name);
  });
}

Cancellable NotificationCenter::removal(ObserverToken token) {
  std::weak_ptr<State> weakState = m_state;
  return Cancellable([weakState, token] {
    if (std::shared_ptr<State> state = weakState.lock()) {
      state->remove([&](const Observer& o) { return o.id == token.id; });
    }
  });
}

void NotificationCenter::post(const Notification& notification) { m_state->post(notification); }

size_t NotificationCenter::observerCount() const {
  std::lock_guard lock(m_state->mutex);
  return m_state->observers.size();
}

NotificationQueue::NotificationQueue(NotificationCenter& center) : m_center(center.m_state) {}

NotificationQueue& NotificationQueue::defaultQueue() {
  static NotificationQueue* queue = new NotificationQueue(NotificationCenter::defaultCenter());
  return *queue;
}

void NotificationQueue::enqueue(Notification notification, PostingStyle style) {
  if (style == PostingStyle::Now) {
    if (std::shared_ptr<NotificationCenter::State> center = m_center.lock()) center->post(notification);
    return;
  }
  mainQueue().async([weakCenter = m_center, notification = std::move(notification)] {
    if (std::shared_ptr<NotificationCenter::State> center = weakCenter.lock()) center->post(notification);
  });
}

}  // namespace platform

// Published<T>: an observable property.
//
//   Published<std::vector<Item>> items;
//   Cancellable token = items.subscribe([](const auto& next) { ... });
//
// subscribe(fn) calls fn at once with the current value, then with every new
// value passed to set(). The call for a new value is a "will change": it
// happens BEFORE the value is stored, so get() inside a subscriber still
// answers the old value; the value is stored even when a subscriber throws
// (the exception then propagates out of set()). When constructed with an ObservableObject owner,
// the owner's objectWillChange() is sent first. Every set() notifies, equal
// values included. A subscriber added while a change is being announced gets
// the incoming value as its first call. A set() from inside a subscriber nests: the inner value
// is delivered and stored, then the outer one is stored over it.
//
// Thread safety: by contract set() is called on one thread (the main
// thread). get() may be called from any thread (it copies under a lock).
// subscribe and cancelling tokens are safe from any thread and during
// delivery; a subscriber's first call is always the current value, and a
// subscribe() from another thread waits for a set() under way to finish (so
// a subscriber must not block on a thread that is subscribing to the same
// property).
#pragma once

#include <exception>
#include <mutex>
#include <utility>

#include "platform/observable/ObservableObject.h"
#include "platform/observable/Signal.h"

namespace platform {

template <class T>
class Published {
 public:
  using Handler = std::function<void(const T&)>;

  explicit Published(T initial = T{}) : m_value(std::move(initial)) {}
  Published(ObservableObject& owner, T initial) : m_owner(&owner), m_value(std::move(initial)) {}
  explicit Published(ObservableObject& owner) : m_owner(&owner), m_value() {}
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  T get() const {
    std::lock_guard lock(m_mutex);
    return m_value;
  }

  void set(T&& newValue) { store(std::move(newValue)); }
  // Copies into the stored value, reusing its storage (a string's buffer).
  void set(const T& newValue) { store(newValue); }

  // Calls fn with the current value under the read lock, without a copy.
  // fn must not set this property.
  template <class F>
  decltype(auto) read(F&& fn) const {
    std::lock_guard lock(m_mutex);
    return std::forward<F>(fn)(static_cast<const T&>(m_value));
  }

  Published& operator=(T newValue) {
    set(std::move(newValue));
    return *this;
  }

  Cancellable subscribe(Handler handler) {
    std::lock_guard sequence(m_sequence);
    return m_willChange.subscribeCurrent(std::move(handler), *this);
  }

  size_t subscriberCount() const { return m_willChange.subscriberCount(); }

 private:
  template <class V>
  void store(V&& newValue) {
    std::lock_guard sequence(m_sequence);
    const T* outerPending = m_pending;
    m_pending = &newValue;
    std::exception_ptr failure;
    try {
      if (m_owner) m_owner->objectWillChange().send();
      m_willChange.send(newValue);
    } catch (...) {
      failure = std::current_exception();
    }
    m_pending = outerPending;
    {
      std::lock_guard lock(m_mutex);
      m_value = std::forward<V>(newValue);
    }
    if (failure) std::rethrow_exception(failure);
  }

  struct WillChange : Signal<T> {
    Cancellable subscribeCurrent(Handler handler, const Published& owner) {
      return this->subscribeThen(std::move(handler), [&owner](const Handler& first) {
        if (owner.m_pending) {
          first(*owner.m_pending);
        } else {
          first(owner.get());
        }
      });
    }
  };

  ObservableObject* m_owner = nullptr;
  // Held for a whole set() and for subscribe(), so a subscriber from another
  // thread either hears a change or gets the changed value as its first call.
  std::recursive_mutex m_sequence;
  const T* m_pending = nullptr;  // the value being announced; under m_sequence
  mutable std::mutex m_mutex;  // guards m_value for readers on other threads
  T m_value;
  WillChange m_willChange;
};

}  // namespace platform

// Signal<Args...>: a list of subscribers that hear send(args...).
//
// send() calls the subscribers registered when it starts, in subscription
// order, synchronously on the sending thread. A subscriber cancelled while a
// send is under way (by itself, by another subscriber or by another thread)
// is not called after its cancel returned, unless that call had already
// begun; subscribers added during a send hear the next one. One subscriber is
// never called on two threads at once: its calls are serialised (a nested
// send on the same thread re-enters it).
//
// Thread safety: subscribe, cancel and send may be used from any thread; the
// tokens stay safe to cancel after the Signal is destroyed.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/observable/Cancellable.h"

namespace platform {

template <class... Args>
class Signal {
 public:
  using Handler = std::function<void(const Args&...)>;

  Signal() : m_state(std::make_shared<State>()) {}
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  Cancellable subscribe(Handler handler) { return subscribeThen(std::move(handler), nullptr); }

  void send(const Args&... args) const {
    // Nobody listening: no lock, no list copy (a subscriber added meanwhile
    // hears the next send).
    if (m_state->count.load(std::memory_order_acquire) == 0) return;
    for (const std::shared_ptr<Entry>& entry : snapshot()) {
      std::lock_guard turn(entry->turn);
      if (entry->active.load()) entry->handler(args...);
    }
  }

  size_t subscriberCount() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->entries.size();
  }

 protected:
  // Registers the handler and, before any send can reach it, runs `first`
  // with it (used to deliver a current value first).
  Cancellable subscribeThen(Handler handler, const std::function<void(const Handler&)>& first) {
    auto entry = std::make_shared<Entry>();
    entry->handler = std::move(handler);
    std::unique_lock turn(entry->turn);
    {
      std::lock_guard lock(m_state->mutex);
      m_state->entries.push_back(entry);
      m_state->count.store(m_state->entries.size(), std::memory_order_release);
    }
    Cancellable token([weakState = std::weak_ptr<State>(m_state), weakEntry = std::weak_ptr<Entry>(entry)] {
      std::shared_ptr<Entry> cancelled = weakEntry.lock();
      if (!cancelled) return;
      cancelled->active.store(false);
      if (std::shared_ptr<State> state = weakState.lock()) {
        std::lock_guard lock(state->mutex);
        std::erase(state->entries, cancelled);
        state->count.store(state->entries.size(), std::memory_order_release);
      }
    });
    if (first) first(entry->handler);
    return token;
  }

 private:
  struct Entry {
    Handler handler;
    std::atomic<bool> active{true};
    std::recursive_mutex turn;  // serialises calls to this subscriber
  };
  struct State {
    std::mutex mutex;
    std::vector<std::shared_ptr<Entry>> entries;
    std::atomic<size_t> count{0};  // entries.size(), readable without the lock
  };

  std::vector<std::shared_ptr<Entry>> snapshot() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->entries;
  }

  std::shared_ptr<State> m_state;
};

}  // namespace platform

// ResettableOnce: a once-guard whose failed attempt lets the next call retry.
//
// call(fn) runs fn unless an earlier call succeeded, and returns whether the
// guard is now done. fn returns bool (true = success) or void (success unless
// it throws; the exception propagates to the caller and the guard stays
// open). Concurrent callers wait for the running attempt. reset() reopens a
// done guard. For guards that cannot fail, std::call_once is enough.
//
// Thread safety: every member may be called from any thread; fn must not call
// back into the same guard.
#pragma once

#include <atomic>
#include <mutex>
#include <type_traits>

namespace platform {

class ResettableOnce {
 public:
  template <typename F>
  bool call(F&& fn) {
    if (m_done.load(std::memory_order_acquire)) return true;
    std::lock_guard lock(m_mutex);
    if (m_done.load(std::memory_order_relaxed)) return true;
    bool ok = true;
    if constexpr (std::is_same_v<std::invoke_result_t<F&>, void>) {
      fn();
    } else {
      ok = static_cast<bool>(fn());
    }
    m_done.store(ok, std::memory_order_release);
    return ok;
  }

  bool isDone() const { return m_done.load(std::memory_order_acquire); }

  void reset() {
    std::lock_guard lock(m_mutex);
    m_done.store(false, std::memory_order_release);
  }

 private:
  std::mutex m_mutex;
  std::atomic<bool> m_done{false};
};

}  // namespace platform

// Cancellable: the token of a subscription or registration. Cancelling it
// (explicitly, by assigning over it, or by destroying it) ends the
// subscription once; later cancels do nothing. Moving transfers the duty.
// A default-constructed token holds nothing.
//
// Thread safety: like a standard value type, one token is used by one thread
// at a time; the thing it cancels may live on any thread and may already be
// gone (the cancel action must tolerate that; the platform's publishers do).
#pragma once

#include <functional>
#include <vector>

namespace platform {

class Cancellable {
 public:
  Cancellable() = default;
  explicit Cancellable(std::function<void()> onCancel) : m_onCancel(std::move(onCancel)) {}
  Cancellable(Cancellable&& other) noexcept : m_onCancel(std::move(other.m_onCancel)) { other.m_onCancel = nullptr; }
  Cancellable& operator=(Cancellable&& other) noexcept {
    if (this != &other) {
      cancel();
      m_onCancel = std::move(other.m_onCancel);
      other.m_onCancel = nullptr;
    }
    return *this;
  }
  Cancellable(const Cancellable&) = delete;
  Cancellable& operator=(const Cancellable&) = delete;
  ~Cancellable() { cancel(); }

  void cancel() {
    std::function<void()> action = std::move(m_onCancel);
    m_onCancel = nullptr;
    if (action) action();
  }
  bool isActive() const { return static_cast<bool>(m_onCancel); }

  // Keeps the token in a bag that cancels everything when destroyed.
  void store(std::vector<Cancellable>& bag) && { bag.push_back(std::move(*this)); }

 private:
  std::function<void()> m_onCancel;
};

}  // namespace platform

// Semaphore: a counting semaphore. signal() adds one and wakes a waiter;
// wait() takes one, blocking while the count is zero; wait(timeout) blocks
// for at most timeout real seconds and returns true when it timed out
// (nothing was taken). Copies share the same semaphore.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <memory>

namespace platform {

class Semaphore {
 public:
  explicit Semaphore(long initial = 0);

  void signal() const;
  void wait() const;
  [[nodiscard]] bool wait(double timeoutSeconds) const;

 private:
  struct State;
  std::shared_ptr<State> m_state;
};

}  // namespace platform

// Group: counts outstanding work (enter/leave) so that one can wait for all of
// it or be notified when it is done.
//
// async(queue, fn) enters, runs fn on queue and leaves (even when fn throws).
// notify(queue, fn) queues fn on queue as soon as the count is zero (at once
// when it already is); each notify fires once. wait(timeout) blocks for up to
// timeout real seconds and returns true when it timed out; a timeout does not
// latch, the next wait waits again. A leave without an enter is reported and
// ignored. Copies share the same group.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <memory>

#include "platform/dispatch/DispatchQueue.h"

namespace platform {

class Group {
 public:
  Group();

  void enter() const;
  void leave() const;
  void async(const DispatchQueue& queue, Block task) const;
  void notify(const DispatchQueue& queue, Block task) const;
  void wait() const;
  [[nodiscard]] bool wait(double timeoutSeconds) const;

 private:
  struct State;
  std::shared_ptr<State> m_state;
};

}  // namespace platform

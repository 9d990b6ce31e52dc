// ConcurrentQueue: runs its tasks in queue order but possibly overlapping, on
// an internal elastic thread pool (up to kMaxWidth tasks of one queue at once).
// globalQueue(qos) returns the shared process-wide concurrent queue of a class.
// Everything else is in DispatchQueue.h.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <string>

#include "platform/dispatch/DispatchQueue.h"

namespace platform {

class ConcurrentQueue : public DispatchQueue {
 public:
  static constexpr int kMaxWidth = 64;

  explicit ConcurrentQueue(std::string label);

 private:
  friend ConcurrentQueue globalQueue(Qos qos);
  explicit ConcurrentQueue(std::shared_ptr<dispatch_internal::QueueImpl> impl) : DispatchQueue(std::move(impl)) {}
};

// The global queues; labels "global.background", "global.utility",
// "global.default", "global.user-initiated".
ConcurrentQueue globalQueue(Qos qos = Qos::Default);

}  // namespace platform

// SerialQueue: runs its tasks one at a time in the order they were queued.
//
// Without a target the queue borrows a worker thread from an internal pool
// while it has work (at most one thread at a time, so blocking in a task never
// starves other queues). With a target (another queue, for example
// globalQueue(Qos::Background) or a SerialQueue) its tasks run, still one at a
// time and in order, as tasks of the target on the target's threads.
// Everything else is in DispatchQueue.h.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"

namespace platform {

class SerialQueue : public DispatchQueue {
 public:
  explicit SerialQueue(std::string label, std::optional<DispatchQueue> target = std::nullopt);
};

}  // namespace platform

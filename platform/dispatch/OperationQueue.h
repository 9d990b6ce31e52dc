// OperationQueue: starts added operations in order, at most maxConcurrent at a
// time, each start() on a global queue thread.
//
// An operation holds its slot from start() until it finishes (an operation
// that stays executing keeps it). A suspended queue starts nothing new;
// operations already executing go on. cancelAll() cancels every queued and
// executing operation; queued ones are still started (start() sees
// isCancelled()) so that they can report and finish. Destroying the queue
// cancels everything and lifts the suspension, so cancelled operations still
// get start() and finish afterwards. waitUntilAllOperationsAreFinished()
// blocks until nothing is queued or executing (forever while suspended with
// work queued). Adding an operation that was already added to a queue throws
// platform::Exception.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <memory>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Operation.h"

namespace platform {

class OperationQueue {
 public:
  explicit OperationQueue(int maxConcurrent = 1, bool suspended = false, Qos qos = Qos::Default);
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  void add(std::shared_ptr<Operation> operation);
  // Convenience: adds a BlockOperation running task.
  std::shared_ptr<Operation> add(Block task);

  void suspend();
  void resume();
  bool isSuspended() const;

  void cancelAll();
  void waitUntilAllOperationsAreFinished();

  // Queued plus executing operations.
  size_t operationCount() const;
  int maxConcurrent() const;

 private:
  std::shared_ptr<dispatch_internal::OperationQueueImpl> m_impl;
};

}  // namespace platform

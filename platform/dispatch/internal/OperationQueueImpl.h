// The shared state of an OperationQueue; operations hold it while queued or
// executing, so that it outlives its OperationQueue handle until they finish.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/Operation.h"

namespace platform::dispatch_internal {

class OperationQueueImpl : public std::enable_shared_from_this<OperationQueueImpl> {
 public:
  OperationQueueImpl(int maxConcurrent, bool suspended, Qos qos);

  void add(std::shared_ptr<Operation> operation);
  void setSuspended(bool suspended);
  bool isSuspended() const;
  void cancelAll();
  void waitUntilIdle();
  size_t count() const;
  int maxConcurrent() const { return m_maxConcurrent; }

  // Called by an operation once it finished (executing or never started).
  void operationFinished(const Operation* operation);

 private:
  // Starts queued operations while slots are free.
  void pump();

  const int m_maxConcurrent;
  const ConcurrentQueue m_runner;
  mutable std::mutex m_mutex;
  std::condition_variable m_idle;
  bool m_suspended;
  std::deque<std::shared_ptr<Operation>> m_queued;
  std::vector<std::shared_ptr<Operation>> m_executing;  // each holds a slot
};

}  // namespace platform::dispatch_internal

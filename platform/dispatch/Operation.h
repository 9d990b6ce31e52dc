// Operation: an asynchronous unit of work for an OperationQueue.
//
// A subclass implements execute(), which starts the work and must eventually
// call finish() (from any thread). start() marks the operation executing and
// runs execute() once; it is also called for an operation that was cancelled
// before it started, so that execute() can report the cancellation (check
// isCancelled()) and finish. cancel() only sets the flag (and calls
// didCancel()); an executing operation keeps running until it finishes.
// finish() makes it finished exactly once, then the completion callback runs
// once on the finishing thread, before the queue frees the slot. An exception escaping execute() is reported
// and finishes the operation, so that its queue never stalls.
//
// Thread safety: every public member may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace platform {

namespace dispatch_internal {
class OperationQueueImpl;
}

class Operation : public std::enable_shared_from_this<Operation> {
 public:
  virtual ~Operation() = default;

  void start();
  void cancel();
  void finish();

  bool isCancelled() const;
  bool isExecuting() const;
  bool isFinished() const;

  // Runs once after the operation finished; set it before it finishes.
  void setCompletion(std::function<void()> completion);

 protected:
  virtual void execute() = 0;
  virtual void didCancel() {}

 private:
  friend class dispatch_internal::OperationQueueImpl;
  enum class State { Ready, Executing, Finished };

  mutable std::mutex m_mutex;
  State m_state = State::Ready;
  bool m_cancelled = false;
  bool m_added = false;  // given to a queue once
  std::function<void()> m_completion;
  std::shared_ptr<dispatch_internal::OperationQueueImpl> m_queue;  // set while queued or executing
};

// An operation running one task; a cancelled one skips the task and finishes.
class BlockOperation : public Operation {
 public:
  explicit BlockOperation(std::function<void()> task) : m_task(std::move(task)) {}
  static std::shared_ptr<BlockOperation> make(std::function<void()> task) {
    return std::make_shared<BlockOperation>(std::move(task));
  }

 protected:
  void execute() override;

 private:
  std::function<void()> m_task;
};

}  // namespace platform

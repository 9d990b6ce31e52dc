#include "platform/dispatch/Operation.h"

#include <algorithm>

#include "platform/dispatch/OperationQueue.h"
#include "platform/dispatch/internal/OperationQueueImpl.h"
#include "platform/dispatch/internal/QueueImpl.h"
#include "platform/values/Exception.h"

namespace platform {

using dispatch_internal::OperationQueueImpl;
using dispatch_internal::reportCurrentException;

void Operation::start() {
  {
    std::lock_guard lock(m_mutex);
    if (m_state != State::Ready) return;
    m_state = State::Executing;
  }
  try {
    execute();
  } catch (...) {
    reportCurrentException("an operation's start");
    finish();
  }
}

void Operation::cancel() {
  {
    std::lock_guard lock(m_mutex);
    if (m_cancelled) return;
    m_cancelled = true;
  }
  didCancel();
}

void Operation::finish() {
  std::function<void()> completion;
  std::shared_ptr<OperationQueueImpl> queue;
  {
    std::lock_guard lock(m_mutex);
    if (m_state == State::Finished) return;
    m_state = State::Finished;
    completion = std::move(m_completion);
    queue = std::move(m_queue);
  }
  // The completion runs before the queue hears of the finish, so that whoever
  // waits for the queue also sees what the completion did.
  if (completion) {
    try {
      completion();
    } catch (...) {
      reportCurrentException("an operation's completion");
    }
  }
  if (queue) queue->operationFinished(this);
}

bool Operation::isCancelled() const {
  std::lock_guard lock(m_mutex);
  return m_cancelled;
}

bool Operation::isExecuting() const {
  std::lock_guard lock(m_mutex);
  return m_state == State::Executing;
}

bool Operation::isFinished() const {
  std::lock_guard lock(m_mutex);
  return m_state == State::Finished;
}

void Operation::setCompletion(std::function<void()> completion) {
  std::lock_guard lock(m_mutex);
  m_completion = std::move(completion);
}

void BlockOperation::execute() {
  if (!isCancelled() && m_task) m_task();
  finish();
}

namespace dispatch_internal {

OperationQueueImpl::OperationQueueImpl(int maxConcurrent, bool suspended, Qos qos)
    : m_maxConcurrent(std::max(1, maxConcurrent)), m_runner(globalQueue(qos)), m_suspended(suspended) {}

void OperationQueueImpl::add(std::shared_ptr<Operation> operation) {
  if (!operation) Exception::invalidParameter("operation");
  {
    std::lock_guard lock(operation->m_mutex);
    if (operation->m_added) {
      throw Exception(Exception::kInvalidArgumentException,
                      "operation is already in a queue, has executed or has finished");
    }
    operation->m_added = true;
    if (operation->m_state != Operation::State::Ready) {
      throw Exception(Exception::kInvalidArgumentException,
                      "operation is already in a queue, has executed or has finished");
    }
    operation->m_queue = shared_from_this();
  }
  {
    std::lock_guard lock(m_mutex);
    m_queued.push_back(std::move(operation));
  }
  pump();
}

void OperationQueueImpl::pump() {
  std::vector<std::shared_ptr<Operation>> toStart;
  {
    std::lock_guard lock(m_mutex);
    while (!m_suspended && !m_queued.empty() && static_cast<int>(m_executing.size()) < m_maxConcurrent) {
      std::shared_ptr<Operation> operation = std::move(m_queued.front());
      m_queued.pop_front();
      m_executing.push_back(operation);
      toStart.push_back(std::move(operation));
    }
  }
  for (auto& operation : toStart) {
    m_runner.async([operation] { operation->start(); });
  }
}

void OperationQueueImpl::operationFinished(const Operation* operation) {
  {
    std::lock_guard lock(m_mutex);
    auto same = [operation](const std::shared_ptr<Operation>& o) { return o.get() == operation; };
    std::erase_if(m_executing, same);
    std::erase_if(m_queued, same);  // finished before it was started
    if (m_executing.empty() && m_queued.empty()) m_idle.notify_all();
  }
  pump();
}

void OperationQueueImpl::setSuspended(bool suspended) {
  {
    std::lock_guard lock(m_mutex);
    m_suspended = suspended;
  }
  if (!suspended) pump();
}

bool OperationQueueImpl::isSuspended() const {
  std::lock_guard lock(m_mutex);
  return m_suspended;
}

void OperationQueueImpl::cancelAll() {
  std::vector<std::shared_ptr<Operation>> all;
  {
    std::lock_guard lock(m_mutex);
    all.assign(m_executing.begin(), m_executing.end());
    all.insert(all.end(), m_queued.begin(), m_queued.end());
  }
  for (auto& operation : all) operation->cancel();  // outside the lock: didCancel may finish
}

void OperationQueueImpl::waitUntilIdle() {
  std::unique_lock lock(m_mutex);
  m_idle.wait(lock, [this] { return m_executing.empty() && m_queued.empty(); });
}

size_t OperationQueueImpl::count() const {
  std::lock_guard lock(m_mutex);
  return m_executing.size() + m_queued.size();
}

}  // namespace dispatch_internal

OperationQueue::OperationQueue(int maxConcurrent, bool suspended, Qos qos)
    : m_impl(std::make_shared<OperationQueueImpl>(maxConcurrent, suspended, qos)) {}

OperationQueue::~OperationQueue() {
  m_impl->cancelAll();
  m_impl->setSuspended(false);  // cancelled operations still start and finish
}

void OperationQueue::add(std::shared_ptr<Operation> operation) { m_impl->add(std::move(operation)); }

std::shared_ptr<Operation> OperationQueue::add(Block task) {
  auto operation = BlockOperation::make(std::move(task));
  m_impl->add(operation);
  return operation;
}

void OperationQueue::suspend() { m_impl->setSuspended(true); }
void OperationQueue::resume() { m_impl->setSuspended(false); }
bool OperationQueue::isSuspended() const { return m_impl->isSuspended(); }
void OperationQueue::cancelAll() { m_impl->cancelAll(); }
void OperationQueue::waitUntilAllOperationsAreFinished() { m_impl->waitUntilIdle(); }
size_t OperationQueue::operationCount() const { return m_impl->count(); }
int OperationQueue::maxConcurrent() const { return m_impl->maxConcurrent(); }

}  // namespace platform

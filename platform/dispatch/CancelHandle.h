// CancelHandle: cancels one delayed task (DispatchQueue::after).
//
// cancel() stops the task from running if it has not started yet; it is a
// no-op afterwards. A default-constructed handle refers to nothing. Copies
// share the same task. Thread safety: any member from any thread.
#pragma once

#include <atomic>
#include <memory>

namespace platform {

class CancelHandle {
 public:
  CancelHandle() = default;
  explicit CancelHandle(std::shared_ptr<std::atomic<bool>> flag) : m_cancelled(std::move(flag)) {}

  void cancel() const {
    if (m_cancelled) m_cancelled->store(true);
  }
  bool isCancelled() const { return m_cancelled && m_cancelled->load(); }
  bool isValid() const { return m_cancelled != nullptr; }

 private:
  std::shared_ptr<std::atomic<bool>> m_cancelled;
};

}  // namespace platform

// SessionCore: the shared state of one HttpSession, kept alive by the session
// and by each of its tasks. Tasks that have been resumed and not yet ended
// are held here so that a caller need not keep them.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/HttpSessionConfiguration.h"
#include "platform/net/HttpSessionDelegate.h"
#include "platform/net/HttpTask.h"

namespace platform::net_internal {

class SessionCore : public std::enable_shared_from_this<SessionCore> {
 public:
  SessionCore(HttpSessionConfiguration configuration, DispatchQueue queue,
              std::shared_ptr<HttpSessionDelegate> delegate);

  const HttpSessionConfiguration& configuration() const { return m_configuration; }
  const DispatchQueue& queue() const { return m_queue; }
  std::shared_ptr<HttpSessionDelegate> delegate() const;

  std::shared_ptr<HttpTask> makeTask(HttpTaskKind kind, HttpRequest request);
  // Enters a resumed task; false once the session was invalidated (the task
  // must then end with -999).
  bool taskStarted(const std::shared_ptr<HttpTask>& task);
  // Runs on the delegate queue after the task's completion was delivered.
  void taskEnded(uint64_t identifier);
  void invalidate(bool cancelTasks);
  std::vector<std::shared_ptr<HttpTask>> liveTasks() const;

 private:
  void notifyInvalidIfDone(std::unique_lock<std::mutex>& lock);

  const HttpSessionConfiguration m_configuration;
  const DispatchQueue m_queue;
  std::atomic<uint64_t> m_nextIdentifier{1};
  mutable std::mutex m_mutex;
  std::shared_ptr<HttpSessionDelegate> m_delegate;
  std::map<uint64_t, std::shared_ptr<HttpTask>> m_live;
  bool m_invalidated = false;
  bool m_invalidNotified = false;
};

}  // namespace platform::net_internal

#include "platform/net/HttpSession.h"

#include "platform/dispatch/SerialQueue.h"
#include "platform/net/internal/SessionCore.h"

namespace platform {

namespace net_internal {

SessionCore::SessionCore(HttpSessionConfiguration configuration, DispatchQueue queue,
                         std::shared_ptr<HttpSessionDelegate> delegate)
    : m_configuration(std::move(configuration)), m_queue(std::move(queue)), m_delegate(std::move(delegate)) {}

std::shared_ptr<HttpSessionDelegate> SessionCore::delegate() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_delegate;
}

std::shared_ptr<HttpTask> SessionCore::makeTask(HttpTaskKind kind, HttpRequest request) {
  return std::shared_ptr<HttpTask>(
      new HttpTask(shared_from_this(), m_nextIdentifier++, kind, std::move(request)));
}

bool SessionCore::taskStarted(const std::shared_ptr<HttpTask>& task) {
  std::lock_guard<std::mutex> lock(m_mutex);
  // A task refused after invalidation still counts until it ended, so that
  // its -999 reaches the delegate before didBecomeInvalid.
  if (!m_invalidNotified) m_live.emplace(task->taskIdentifier(), task);
  return !m_invalidated;
}

void SessionCore::taskEnded(uint64_t identifier) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_live.erase(identifier);
  notifyInvalidIfDone(lock);
}

std::vector<std::shared_ptr<HttpTask>> SessionCore::liveTasks() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::shared_ptr<HttpTask>> tasks;
  for (const auto& entry : m_live) tasks.push_back(entry.second);
  return tasks;
}

void SessionCore::invalidate(bool cancelTasks) {
  std::vector<std::shared_ptr<HttpTask>> toCancel;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_invalidated) {
      if (!cancelTasks) return;
    }
    m_invalidated = true;
    if (cancelTasks) {
      for (const auto& entry : m_live) toCancel.push_back(entry.second);
    }
    // Deliver the notice from the queue, after anything already queued there.
    auto self = shared_from_this();
    m_queue.async([self] {
      std::unique_lock<std::mutex> inner(self->m_mutex);
      self->notifyInvalidIfDone(inner);
    });
  }
  for (auto& task : toCancel) task->cancel();
}

// Called with the lock held, on the delegate queue.
void SessionCore::notifyInvalidIfDone(std::unique_lock<std::mutex>& lock) {
  if (!m_invalidated || m_invalidNotified || !m_live.empty()) return;
  m_invalidNotified = true;
  auto delegate = std::move(m_delegate);
  m_delegate.reset();
  lock.unlock();
  if (delegate) delegate->didBecomeInvalid(std::nullopt);
}

}  // namespace net_internal

std::shared_ptr<HttpSession> HttpSession::create(HttpSessionConfiguration configuration,
                                                 std::shared_ptr<HttpSessionDelegate> delegate) {
  DispatchQueue queue = configuration.delegateQueue
                            ? *configuration.delegateQueue
                            : DispatchQueue(SerialQueue("platform.net.HttpSession.callbacks"));
  auto core = std::make_shared<net_internal::SessionCore>(std::move(configuration), std::move(queue),
                                                          std::move(delegate));
  return std::shared_ptr<HttpSession>(new HttpSession(std::move(core)));
}

HttpSession::~HttpSession() { m_core->invalidate(false); }

const HttpSessionConfiguration& HttpSession::configuration() const { return m_core->configuration(); }

DispatchQueue HttpSession::delegateQueue() const { return m_core->queue(); }

std::shared_ptr<HttpTask> HttpSession::dataTask(HttpRequest request, HttpDataCompletion completion) {
  auto task = m_core->makeTask(HttpTaskKind::Data, std::move(request));
  task->m_dataCompletion = std::move(completion);
  return task;
}

std::shared_ptr<HttpTask> HttpSession::uploadTask(HttpRequest request, std::string file,
                                                  HttpDataCompletion completion) {
  request.setBodyFile(std::move(file));
  auto task = m_core->makeTask(HttpTaskKind::Upload, std::move(request));
  task->m_dataCompletion = std::move(completion);
  return task;
}

std::shared_ptr<HttpTask> HttpSession::downloadTask(HttpRequest request,
                                                    HttpDownloadCompletion completion) {
  auto task = m_core->makeTask(HttpTaskKind::Download, std::move(request));
  task->m_downloadCompletion = std::move(completion);
  return task;
}

std::shared_ptr<HttpTask> HttpSession::streamTask(HttpRequest request) {
  return m_core->makeTask(HttpTaskKind::Stream, std::move(request));
}

void HttpSession::invalidateAndCancel() { m_core->invalidate(true); }

void HttpSession::finishTasksAndInvalidate() { m_core->invalidate(false); }

std::vector<std::shared_ptr<HttpTask>> HttpSession::tasks() const { return m_core->liveTasks(); }

}  // namespace platform

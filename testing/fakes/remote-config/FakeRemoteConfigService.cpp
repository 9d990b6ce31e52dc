#include "testing/fakes/remote-config/FakeRemoteConfigService.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace testkit {

FakeRemoteConfigService::FakeRemoteConfigService(LoopbackServer& server, std::string project)
    : m_server(server),
      m_prefix("/v1/projects/" + project + "/namespaces/"),
      m_defaultAnswer(Answer::json(200, R"({"state":"NO_CHANGE"})")) {
  m_server.onPrefix("POST", m_prefix, [this](const RecordedRequest& request) { return answer(request); });
}

void FakeRemoteConfigService::script(std::vector<Answer> answers) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (Answer& answer : answers) m_script.push_back(std::move(answer));
}

void FakeRemoteConfigService::setDefaultAnswer(Answer answer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_defaultAnswer = std::move(answer);
}

void FakeRemoteConfigService::hold() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_holding = true;
}

void FakeRemoteConfigService::release() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_holding = false;
  }
  m_released.notify_all();
}

Answer FakeRemoteConfigService::answer(const RecordedRequest& request) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!request.path.ends_with(":fetch")) return Answer::json(404, R"({"error":{"code":404}})");
  m_released.wait(lock, [&] { return !m_holding; });
  if (m_script.empty()) return m_defaultAnswer;
  Answer next = std::move(m_script.front());
  m_script.pop_front();
  return next;
}

std::vector<RecordedRequest> FakeRemoteConfigService::fetches() const {
  std::vector<RecordedRequest> result;
  for (RecordedRequest& request : m_server.requests()) {
    if (request.path.starts_with(m_prefix) && request.path.ends_with(":fetch")) result.push_back(std::move(request));
  }
  return result;
}

bool FakeRemoteConfigService::waitForFetches(size_t count, double timeoutSeconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (fetchCount() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

Answer FakeRemoteConfigService::update(const std::string& entriesJson, const std::string& templateVersion,
                                       const std::string& extraMembers) {
  std::string body = R"({"state":"UPDATE","entries":)" + entriesJson + R"(,"templateVersion":")" + templateVersion +
                     "\"";
  if (!extraMembers.empty()) body += "," + extraMembers;
  // Like the real service, every new template comes with an ETag of its own.
  static std::atomic<int> tags{0};
  return Answer::json(200, body + "}").withHeader("etag", "etag-" + std::to_string(++tags));
}

FakeRemoteConfigService::~FakeRemoteConfigService() {
  release();
  m_server.stop();
}

}  // namespace testkit

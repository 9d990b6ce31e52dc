#include "testing/fakes/remote-config/FakeRealtimeService.h"

namespace testkit {

FakeRealtimeService::FakeRealtimeService(LoopbackServer& server, std::string project)
    : m_server(server), m_prefix("/v1/projects/" + project + "/namespaces/") {
  m_server.onPrefix("POST", m_prefix, [this](const RecordedRequest&) { return answer(); });
}

void FakeRealtimeService::script(std::vector<Answer> answers) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (Answer& answer : answers) m_script.push_back(std::move(answer));
}

Answer FakeRealtimeService::answer() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_script.empty()) return streaming({"\n"});
  Answer next = std::move(m_script.front());
  m_script.pop_front();
  return next;
}

std::vector<RecordedRequest> FakeRealtimeService::connections() const {
  std::vector<RecordedRequest> result;
  for (RecordedRequest& request : m_server.requests()) {
    if (request.path.starts_with(m_prefix) && request.path.ends_with(":streamFetchInvalidations")) {
      result.push_back(std::move(request));
    }
  }
  return result;
}

Answer FakeRealtimeService::closing(std::vector<std::string> chunks, double delay) {
  // The first write comes after the delay too, so the head arrives first.
  chunks.insert(chunks.begin(), "\n");
  Answer answer = Answer::streamed(std::move(chunks), delay, "application/json");
  return answer;
}

Answer FakeRealtimeService::streaming(std::vector<std::string> chunks, double delay) {
  Answer answer = closing(std::move(chunks), delay);
  answer.holdOpen = kHoldSeconds;
  return answer;
}

std::string FakeRealtimeService::message(long version) {
  return "{\"latestTemplateVersionNumber\": " + std::to_string(version) + "}";
}

FakeRealtimeService::~FakeRealtimeService() { m_server.stop(); }

}  // namespace testkit

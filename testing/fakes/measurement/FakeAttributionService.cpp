#include "testing/fakes/measurement/FakeAttributionService.h"

namespace testkit {

FakeAttributionService::FakeAttributionService(LoopbackServer& server)
    : m_server(server), m_defaultAnswer(notAttributed()) {
  m_server.on("POST", kPath, [this](const RecordedRequest&) {
    std::lock_guard lock(m_mutex);
    if (m_script.empty()) return m_defaultAnswer;
    Answer next = std::move(m_script.front());
    m_script.pop_front();
    return next;
  });
}

FakeAttributionService::~FakeAttributionService() { m_server.stop(); }

void FakeAttributionService::script(std::vector<Answer> answers) {
  std::lock_guard lock(m_mutex);
  for (Answer& answer : answers) m_script.push_back(std::move(answer));
}

void FakeAttributionService::setDefaultAnswer(Answer answer) {
  std::lock_guard lock(m_mutex);
  m_defaultAnswer = std::move(answer);
}

Answer FakeAttributionService::attributed(const std::string& campaignID, const std::string& adID,
                                          const std::string& keywordID) {
  return Answer::json(200, R"({"attribution":true,"campaignId":)" + campaignID + R"(,"adId":)" + adID +
                               R"(,"keywordId":)" + keywordID + R"(,"conversionType":"Download"})");
}

Answer FakeAttributionService::notAttributed() { return Answer::json(200, R"({"attribution":false})"); }

Answer FakeAttributionService::testData() {
  return Answer::json(200, std::string(R"({"attribution":true,"campaignId":)") + kTestDataID + R"(,"adId":)" +
                               kTestDataID + R"(,"keywordId":1})");
}

}  // namespace testkit

// FakeAttributionService: the ad-attribution service on a LoopbackServer (the
// one APP_SERVICES_URL names). It answers POST /api/v1/ from a script, in
// order, then with the default answer (not attributed unless set); every
// request stays recorded by the server (requests()).
//
//   testkit::FakeAttributionService attribution(server);
//   attribution.script({FakeAttributionService::attributed("1", "2", "3")});
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "testing/LoopbackServer.h"

namespace testkit {

class FakeAttributionService {
 public:
  static constexpr const char* kPath = "/api/v1/";
  // The answer the service gives for its test data.
  static constexpr const char* kTestDataID = "1234567890";

  explicit FakeAttributionService(LoopbackServer& server);
  // Stops the server: its handler uses this object's members.
  ~FakeAttributionService();

  void script(std::vector<Answer> answers);
  void setDefaultAnswer(Answer answer);
  std::vector<RecordedRequest> requests() const { return m_server.requests(kPath); }

  // JSON answers of the service (the IDs are numbers, written as given).
  static Answer attributed(const std::string& campaignID, const std::string& adID, const std::string& keywordID);
  static Answer notAttributed();
  static Answer testData();

 private:
  LoopbackServer& m_server;
  mutable std::mutex m_mutex;
  std::deque<Answer> m_script;
  Answer m_defaultAnswer;
};

}  // namespace testkit

// FakeRemoteConfigService: a loopback config fetch service for tests. It
// answers
//
//   POST /v1/projects/<project>/namespaces/<namespace>:fetch?key=<API key>
//
// on a LoopbackServer it is given (the fake installations service's, since
// APP_SERVICES_URL names one origin for every service). Answers come from a
// script (status, JSON or raw body, headers such as "etag", delays), in order;
// once it is used up every fetch gets the default answer (200 {"state":
// "NO_CHANGE"} unless set). Every fetch is recorded with its method, path,
// query, headers and gunzipped body. hold() keeps the answers of the fetches
// that arrive from then on until release() (or the fake's end), so a test
// can act while a fetch is in flight without guessing a delay.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "testing/LoopbackServer.h"

namespace testkit {

class FakeRemoteConfigService {
 public:
  static constexpr const char* kDefaultProject = "tavix-downloader";

  explicit FakeRemoteConfigService(LoopbackServer& server, std::string project = kDefaultProject);
  // Stops the server it answers on: its handlers use this object's members.
  ~FakeRemoteConfigService();

  // The next fetches get these answers, in order.
  void script(std::vector<Answer> answers);
  void setDefaultAnswer(Answer answer);
  void hold();
  void release();
  // Fetch requests so far, oldest first.
  std::vector<RecordedRequest> fetches() const;
  size_t fetchCount() const { return fetches().size(); }
  bool waitForFetches(size_t count, double timeoutSeconds = 10) const;

  // An UPDATE answer: {"state": "UPDATE", "entries": <entries>, "templateVersion": "<version>", ...extra}
  // with a new "etag" header.
  static Answer update(const std::string& entriesJson, const std::string& templateVersion = "1",
                       const std::string& extraMembers = "");

 private:
  Answer answer(const RecordedRequest& request);

  LoopbackServer& m_server;
  std::string m_prefix;
  mutable std::mutex m_mutex;
  std::deque<Answer> m_script;
  Answer m_defaultAnswer;
  std::condition_variable m_released;
  bool m_holding = false;
};

}  // namespace testkit

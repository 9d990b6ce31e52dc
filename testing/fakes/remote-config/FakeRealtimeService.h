// FakeRealtimeService: a loopback realtime config service for tests, beside
// the fetch fake on the same LoopbackServer. It answers
//
//   POST /v1/projects/<project number>/namespaces/<namespace>:streamFetchInvalidations?key=<API key>
//
// from a script, in order: a 200 that writes chunks with delays and then
// stays open (message(), messages()), a plain status (403 with its body, 429,
// 500, 502, 503, 504), a dropped connection (Answer::close()) or a normal
// close after the chunks (closing()). Once the script is used up every
// connection gets a 200 that writes nothing and stays open. Every request is
// recorded (the loopback server inflates the gzip body).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "testing/LoopbackServer.h"

namespace testkit {

class FakeRealtimeService {
 public:
  static constexpr const char* kDefaultProject = "470815926123";
  static constexpr double kHoldSeconds = 300;

  explicit FakeRealtimeService(LoopbackServer& server, std::string project = kDefaultProject);
  // Stops the server it answers on: its handlers use this object's members.
  ~FakeRealtimeService();

  void script(std::vector<Answer> answers);
  std::vector<RecordedRequest> connections() const;
  size_t connectionCount() const { return connections().size(); }

  // A 200 writing each chunk after `delay` seconds, then held open.
  static Answer streaming(std::vector<std::string> chunks, double delay = 0.05);
  // The same, closed normally after the last chunk.
  static Answer closing(std::vector<std::string> chunks, double delay = 0.05);
  // {"latestTemplateVersionNumber": <version>}
  static std::string message(long version);

 private:
  Answer answer();

  LoopbackServer& m_server;
  std::string m_prefix;
  mutable std::mutex m_mutex;
  std::deque<Answer> m_script;
};

}  // namespace testkit

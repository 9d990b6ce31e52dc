// FakeMessagingService: a loopback messaging service for tests (on the test
// kit's LoopbackServer), reached through APP_SERVICES_URL. It understands
//
//   POST /checkin        JSON check-in: "id" 0 (or an unknown device) makes a
//                        new device with 19-digit "android_id" and
//                        "security_token"; a known device with its token
//                        checks in again and keeps its IDs.
//   POST /register       form: with "Authorization: AidLogin ID:SECRET" of a
//                        known device, issues "token=<appid>:APA91b-<n>"
//                        for the sender (or deletes: "deleted=<appid>";
//                        "iid-operation=delete" drops every token of the
//                        app ID). Unknown devices get "Error=AUTHENTICATION_FAILED".
//   POST /iid/register   form topic change for a token it issued:
//                        "token=<token>"; "delete=true" unsubscribes.
//
// It runs its own server, or adds its routes to a given one (so that one
// APP_SERVICES_URL reaches it and, say, the fake installations service).
//
// Scripted answers: script(kind, answers) makes the next requests of that
// kind get those answers in order (after which the normal behaviour
// resumes). Every request is recorded, and form bodies can be decoded with
// formItems().
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "testing/LoopbackServer.h"

namespace testkit {

class FakeMessagingService {
 public:
  enum class Kind { Checkin, Register, Topic };

  struct Device {
    std::string deviceID;
    std::string secret;
    int checkins = 0;
  };

  FakeMessagingService();
  explicit FakeMessagingService(LoopbackServer& server);
  // Stops the server it answers on, shared or not: its handlers use this
  // object's members.
  ~FakeMessagingService();
  FakeMessagingService(const FakeMessagingService&) = delete;
  FakeMessagingService& operator=(const FakeMessagingService&) = delete;

  std::string url() const { return m_server->url(); }
  LoopbackServer& server() { return *m_server; }

  void script(Kind kind, std::vector<Answer> answers);
  // Every answer is delayed by this many seconds.
  void setDelay(double seconds);
  // The "time_msec" of check-in answers; none: the system clock's now.
  void setServerTimeMillis(std::optional<int64_t> millis);

  std::vector<RecordedRequest> requests(Kind kind) const;
  size_t count(Kind kind) const { return requests(kind).size(); }
  std::map<std::string, Device> devices() const;
  // Issued tokens: "<appid>|<sender>|<scope>" -> token.
  std::map<std::string, std::string> tokens() const;
  // Topics subscribed per token.
  std::map<std::string, std::set<std::string>> subscriptions() const;

  static std::optional<Kind> kindOf(const std::string& method, const std::string& path);
  // name -> value of a form body, percent-decoded ("+" stays "+").
  static std::map<std::string, std::string> formItems(const std::string& body);

 private:
  Answer answer(Kind kind, const RecordedRequest& request);
  Answer checkin(const RecordedRequest& request);
  Answer registerToken(const RecordedRequest& request);
  Answer topic(const RecordedRequest& request);
  bool authorized(const RecordedRequest& request) const;

  void addRoutes();

  std::unique_ptr<LoopbackServer> m_ownServer;
  LoopbackServer* m_server = nullptr;
  mutable std::mutex m_mutex;
  std::map<Kind, std::deque<Answer>> m_scripts;
  std::map<std::string, Device> m_devices;
  std::map<std::string, std::string> m_tokens;
  std::map<std::string, std::set<std::string>> m_subscriptions;
  std::optional<int64_t> m_serverTime;
  double m_delay = 0;
  int m_counter = 0;
  int m_tokenCounter = 0;
};

}  // namespace testkit

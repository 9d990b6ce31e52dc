// FakeInstallationsService: a loopback installations service for tests (on
// the test kit's LoopbackServer). It understands
//
//   POST   /v1/projects/<project>/installations/                         create
//   POST   /v1/projects/<project>/installations/<fid>/authTokens:generate  token
//   DELETE /v1/projects/<project>/installations/<fid>/                    delete
//
// and answers like the real service: a create registers the FID of the body
// (or assigns one, see setAssignedFID) and returns a refresh token and an
// auth token; token and delete requests need "Authorization: RIS_v2 <refresh
// token>" of a known installation (401 otherwise; unknown FID: 404).
// Tokens are "token-<n>" and "refresh-<n>", valid for tokenLifetime seconds.
//
// Scripted answers: script(kind, answers) makes the next requests of that
// kind get those answers in order (status, body, delay), after which the
// normal behaviour resumes. Every request is recorded.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "testing/LoopbackServer.h"

namespace testkit {

class FakeInstallationsService {
 public:
  enum class Kind { Create, GenerateToken, Delete };

  struct Installation {
    std::string fid;
    std::string refreshToken;
    std::string authToken;
  };

  FakeInstallationsService();
  // Stops the server first: its handlers use the members below.
  ~FakeInstallationsService();
  FakeInstallationsService(const FakeInstallationsService&) = delete;
  FakeInstallationsService& operator=(const FakeInstallationsService&) = delete;

  // "http://127.0.0.1:<port>"
  std::string url() const { return m_server.url(); }
  LoopbackServer& server() { return m_server; }

  void script(Kind kind, std::vector<Answer> answers);
  void setTokenLifetime(long seconds);
  // The FID the next creates answer with instead of the one sent.
  void setAssignedFID(std::optional<std::string> fid);
  // Answers of every request are delayed by this many seconds.
  void setDelay(double seconds);

  std::vector<RecordedRequest> requests() const { return m_server.requests(); }
  std::vector<RecordedRequest> requests(Kind kind) const;
  size_t count(Kind kind) const { return requests(kind).size(); }
  std::map<std::string, Installation> installations() const;
  // Forgets an installation: its token and delete requests get 404.
  void forget(const std::string& fid);

  static std::optional<Kind> kindOf(const std::string& method, const std::string& path);

 private:
  Answer answer(const RecordedRequest& request);
  Answer normalAnswer(Kind kind, const RecordedRequest& request);

  LoopbackServer m_server;
  mutable std::mutex m_mutex;
  std::map<Kind, std::deque<Answer>> m_scripts;
  std::map<std::string, Installation> m_installations;
  long m_tokenLifetime = 604800;
  std::optional<std::string> m_assignedFID;
  double m_delay = 0;
  int m_counter = 0;
};

}  // namespace testkit

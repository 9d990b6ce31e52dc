// FakeExperimentService: a loopback experiment service for tests. It answers
//
//   POST /sdk-exp   (an ExperimentRequest, sent gzip-compressed)
//
// on a LoopbackServer it is given (every service shares the one origin of
// APP_SERVICES_URL). Answers come from a script, in order; once it is used up
// every fetch gets the default answer (204 without a body unless set). An
// answer is a status with an ExperimentResponse built from plain values and
// sent gzip-compressed as the body itself (no Content-Encoding: the client
// inflates it), or raw body bytes, or a dropped connection. Every fetch is
// recorded with its request decoded field by field through the wire
// messages.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Value.h"
#include "testing/LoopbackServer.h"

namespace testkit {

struct FakeExperimentFlag {
  std::string name;
  platform::Value value;  // string, double, bool or integer; null: no value
};

struct FakeExperiment {
  int32_t experimentID = 0;
  std::vector<FakeExperimentFlag> flags;
};

struct FakeExperimentSnapshot {
  std::string SDKName;  // empty: field left out
  std::vector<FakeExperiment> experiments;
};

struct FakeSdkResponse {
  std::string SDKName;  // empty: field left out
  std::optional<int32_t> status;
  std::optional<FakeExperimentSnapshot> snapshot;
};

struct ExperimentAnswer {
  int status = 200;
  std::optional<std::string> body;  // sent as it is
  bool drop = false;

  // An ExperimentResponse, gzip-compressed.
  static ExperimentAnswer response(std::vector<FakeExperimentSnapshot> snapshots,
                                   std::vector<FakeSdkResponse> sdkResponses = {}, int status = 200);
  static ExperimentAnswer withStatus(int status);
  static ExperimentAnswer raw(int status, std::string body);
  static ExperimentAnswer dropped();
};

// One ClientProperty of a request.
struct ExperimentClientRecord {
  std::string name;
  std::string diversion;
  int64_t version = 0;
  std::optional<std::string> appID;
  std::map<std::string, std::string> customProperties;
};

struct ExperimentFetch {
  RecordedRequest raw;
  bool decoded = false;  // the body was an ExperimentRequest
  std::optional<std::string> platform;
  std::optional<std::string> language;
  std::optional<std::string> bundleIdentifier;
  bool fromAppStore = false;
  int64_t clientVersion = 0;
  std::vector<ExperimentClientRecord> clients;
};

class FakeExperimentService {
 public:
  static constexpr const char* kPath = "/sdk-exp";

  explicit FakeExperimentService(LoopbackServer& server);
  // Stops the server it answers on: its handlers use this object's members.
  ~FakeExperimentService();

  void script(std::vector<ExperimentAnswer> answers);
  void setDefaultAnswer(ExperimentAnswer answer);
  std::vector<ExperimentFetch> fetches() const;
  size_t fetchCount() const;
  bool waitForFetches(size_t count, double timeoutSeconds = 10) const;

  // The encoded ExperimentResponse (not compressed).
  static std::string encodeResponse(const std::vector<FakeExperimentSnapshot>& snapshots,
                                    const std::vector<FakeSdkResponse>& sdkResponses);
  static ExperimentFetch decodeRequest(const RecordedRequest& request);

 private:
  Answer answer(const RecordedRequest& request);

  LoopbackServer& m_server;
  mutable std::mutex m_mutex;
  std::deque<ExperimentAnswer> m_script;
  ExperimentAnswer m_defaultAnswer = ExperimentAnswer::withStatus(204);
};

}  // namespace testkit

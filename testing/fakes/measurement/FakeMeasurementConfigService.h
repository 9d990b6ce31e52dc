// FakeMeasurementConfigService: a loopback measurement configuration service
// for tests. It answers
//
//   GET /config/app/<percent-encoded app ID>?platform=…&runtime_version=…&vod_version=…
//
// on a LoopbackServer it is given (every service shares the one origin of
// APP_SERVICES_URL). Answers come from a script, in order; once it is used up
// every fetch gets the default answer (200 with the configuration {} of the
// requested app). An answer is a status with an optional configuration in
// the notation of MeasurementConfigNotation.h (app_id defaults to the app of
// the request), or raw body bytes, "Last-Modified" and "ETag" headers, or a
// dropped connection. Every fetch is recorded with its app ID, its query as
// a map (the order of its parts is not specified), and its conditional
// headers.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Value.h"
#include "testing/LoopbackServer.h"

namespace testkit {

struct MeasurementConfigAnswer {
  int status = 200;
  std::optional<platform::Value> config;  // the notation; encoded when answered
  std::optional<std::string> body;        // raw bytes instead of a configuration
  std::optional<std::string> lastModified;
  std::optional<std::string> etag;
  bool drop = false;  // close the connection without an answer

  static MeasurementConfigAnswer configuration(platform::Value notation, std::optional<std::string> lastModified = {},
                                               std::optional<std::string> etag = {});
  static MeasurementConfigAnswer withStatus(int status);
  static MeasurementConfigAnswer raw(int status, std::string body);
  static MeasurementConfigAnswer dropped();
};

struct MeasurementConfigFetch {
  RecordedRequest raw;
  std::string appID;                         // percent-decoded from the path
  std::map<std::string, std::string> query;  // percent-decoded parts
  std::optional<std::string> ifModifiedSince;
  std::optional<std::string> ifNoneMatch;
};

class FakeMeasurementConfigService {
 public:
  static constexpr const char* kPathPrefix = "/config/app/";

  explicit FakeMeasurementConfigService(LoopbackServer& server);
  // Stops the server it answers on: its handlers use this object's members.
  ~FakeMeasurementConfigService();
  FakeMeasurementConfigService(const FakeMeasurementConfigService&) = delete;
  FakeMeasurementConfigService& operator=(const FakeMeasurementConfigService&) = delete;

  // The next fetches get these answers, in order.
  void script(std::vector<MeasurementConfigAnswer> answers);
  void setDefaultAnswer(MeasurementConfigAnswer answer);

  // Fetches so far, oldest first.
  std::vector<MeasurementConfigFetch> fetches() const;
  size_t fetchCount() const;
  bool waitForFetches(size_t count, double timeoutSeconds = 10) const;

  // The answer's HTTP form for a request of that app (a bad notation answers
  // 500 with the reason as its body).
  static Answer httpAnswer(const MeasurementConfigAnswer& answer, const std::string& appID);

 private:
  Answer answer(const RecordedRequest& request);

  LoopbackServer& m_server;
  mutable std::mutex m_mutex;
  std::deque<MeasurementConfigAnswer> m_script;
  MeasurementConfigAnswer m_defaultAnswer;
};

}  // namespace testkit

// FakeCollector: a loopback telemetry collector for tests (on the test kit's
// LoopbackServer), reached through APP_SERVICES_URL. It takes upload requests
// on any POST path, decodes each body as an upload request (after the server
// undid its gzip Content-Encoding), and answers with its script.
//
// Script: a list of answers given in order, the last one repeated; the
// default is one "200" answer without a body. In text form (script files of
// the fake-collector program) one answer a line, "#" starting a comment:
//
//   200                         status only
//   200 next_wait_ms=60000      a LogResponse body with next_wait_ms
//   429 Retry-After: 5          a header; its value runs to the line's end
//   302 Location: /elsewhere    a redirect
//   400 body_hex=0a0b           raw body bytes
//
// Decoded requests keep the method, path, headers in order and every log
// source with its events; payloads of mapping ID 1710 are also decoded as
// client-metrics reports. describe() writes a request as text, one item a
// line. A body that does not decode is recorded with its error.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testing/LoopbackServer.h"

namespace testkit {

struct CollectorAnswer {
  int status = 200;
  std::optional<int64_t> nextWaitMs;
  HeaderList headers;
  std::optional<std::string> body;  // raw, instead of next_wait_ms
};

struct CollectedMetrics {
  int64_t startMs = 0;
  int64_t endMs = 0;
  // mapping ID -> reason -> count
  std::map<std::string, std::map<uint32_t, int64_t>> drops;
  int64_t currentCacheBytes = 0;
  int64_t maxCacheBytes = 0;
  std::string appID;
};

struct CollectedEvent {
  std::optional<int64_t> occurredAtMs;
  std::optional<int64_t> tzOffsetS;
  std::optional<int64_t> uptimeMs;
  std::optional<std::string> payload;
  std::optional<int32_t> eventCode;
  bool hasNetwork = false;
  std::optional<int32_t> networkType;
  std::optional<uint32_t> mobileSubtype;
  std::optional<int32_t> productID;
  std::optional<uint32_t> productIDOrigin;
  std::optional<CollectedMetrics> metrics;  // source 1710 only
};

struct CollectedLogSource {
  std::optional<int32_t> sourceID;
  std::optional<uint32_t> clientKind;
  std::map<std::string, std::string> desktop;  // field name -> text
  std::optional<int64_t> sentAtMs;
  std::optional<int64_t> sentUptimeMs;
  std::vector<CollectedEvent> events;
};

struct CollectedRequest {
  RecordedRequest raw;
  std::optional<std::string> decodingError;
  std::vector<CollectedLogSource> sources;

  size_t eventCount() const;
  // The source of that ID, nullptr when none.
  const CollectedLogSource* source(int32_t sourceID) const;
};

class FakeCollector {
 public:
  FakeCollector() : FakeCollector(0) {}
  // Listens on `port` (0: a free one).
  explicit FakeCollector(int port);
  ~FakeCollector();
  FakeCollector(const FakeCollector&) = delete;
  FakeCollector& operator=(const FakeCollector&) = delete;

  std::string url() const { return m_server.url(); }
  int port() const { return m_server.port(); }
  LoopbackServer& server() { return m_server; }

  void script(std::vector<CollectorAnswer> answers);
  std::vector<CollectedRequest> requests() const;
  bool waitForRequests(size_t count, double timeoutSeconds = 30) const;

  // The script of a text (see above); none with `error` set on a bad line.
  static std::optional<std::vector<CollectorAnswer>> parseScript(const std::string& text, std::string* error);
  static CollectedRequest decode(const RecordedRequest& request);
  static std::string describe(const CollectedRequest& request);
  // A LogResponse body holding next_wait_ms.
  static std::string logResponse(int64_t nextWaitMs);

 private:
  Answer answerFor(const CollectorAnswer& answer) const;

  LoopbackServer m_server;
};

}  // namespace testkit

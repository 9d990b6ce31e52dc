#include "testing/fakes/measurement/FakeMeasurementConfigService.h"

#include <chrono>
#include <thread>

#include "measurement/messages/APMPBMessage.h"
#include "platform/text/PercentEncoding.h"
#include "testing/fakes/measurement/MeasurementConfigNotation.h"

namespace testkit {

namespace {

// The app ID of a request path (already percent-decoded by the server).
std::string appIDOfPath(const std::string& path) {
  return path.substr(std::string(FakeMeasurementConfigService::kPathPrefix).size());
}

std::map<std::string, std::string> queryParts(const std::string& query) {
  std::map<std::string, std::string> parts;
  for (size_t start = 0; start < query.size();) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string part = query.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    const size_t equals = part.find('=');
    const std::string key = part.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : part.substr(equals + 1);
    parts[platform::PercentEncoding::decode(key).value_or(key)] =
        platform::PercentEncoding::decode(value).value_or(value);
  }
  return parts;
}

std::optional<std::string> headerOrNone(const RecordedRequest& request, const std::string& name) {
  if (!request.hasHeader(name)) return std::nullopt;
  return request.header(name);
}

}  // namespace

MeasurementConfigAnswer MeasurementConfigAnswer::configuration(platform::Value notation,
                                                               std::optional<std::string> lastModified,
                                                               std::optional<std::string> etag) {
  MeasurementConfigAnswer answer;
  answer.config = std::move(notation);
  answer.lastModified = std::move(lastModified);
  answer.etag = std::move(etag);
  return answer;
}

MeasurementConfigAnswer MeasurementConfigAnswer::withStatus(int status) {
  MeasurementConfigAnswer answer;
  answer.status = status;
  return answer;
}

MeasurementConfigAnswer MeasurementConfigAnswer::raw(int status, std::string body) {
  MeasurementConfigAnswer answer;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}

MeasurementConfigAnswer MeasurementConfigAnswer::dropped() {
  MeasurementConfigAnswer answer;
  answer.drop = true;
  return answer;
}

FakeMeasurementConfigService::FakeMeasurementConfigService(LoopbackServer& server)
    : m_server(server), m_defaultAnswer(MeasurementConfigAnswer::configuration(platform::Value::dict())) {
  m_server.onPrefix("GET", kPathPrefix, [this](const RecordedRequest& request) { return answer(request); });
}

FakeMeasurementConfigService::~FakeMeasurementConfigService() { m_server.stop(); }

void FakeMeasurementConfigService::script(std::vector<MeasurementConfigAnswer> answers) {
  std::lock_guard lock(m_mutex);
  for (MeasurementConfigAnswer& answer : answers) m_script.push_back(std::move(answer));
}

void FakeMeasurementConfigService::setDefaultAnswer(MeasurementConfigAnswer answer) {
  std::lock_guard lock(m_mutex);
  m_defaultAnswer = std::move(answer);
}

Answer FakeMeasurementConfigService::httpAnswer(const MeasurementConfigAnswer& answer, const std::string& appID) {
  if (answer.drop) return Answer::close();
  std::string body;
  if (answer.body) {
    body = *answer.body;
  } else if (answer.config) {
    std::string error;
    std::shared_ptr<APMPBMeasurementConfig> config = measurementConfigFromNotation(*answer.config, appID, error);
    if (!config) return Answer::text(500, "bad configuration notation: " + error);
    std::optional<platform::Bytes> bytes = config->protoBuffer();
    if (!bytes) return Answer::text(500, "the configuration does not encode");
    body.assign(bytes->begin(), bytes->end());
  }
  Answer http = Answer::text(answer.status, body, "application/x-protobuf");
  if (answer.lastModified) http.withHeader("Last-Modified", *answer.lastModified);
  if (answer.etag) http.withHeader("ETag", *answer.etag);
  return http;
}

Answer FakeMeasurementConfigService::answer(const RecordedRequest& request) {
  MeasurementConfigAnswer next;
  {
    std::lock_guard lock(m_mutex);
    if (m_script.empty()) {
      next = m_defaultAnswer;
    } else {
      next = std::move(m_script.front());
      m_script.pop_front();
    }
  }
  return httpAnswer(next, appIDOfPath(request.path));
}

std::vector<MeasurementConfigFetch> FakeMeasurementConfigService::fetches() const {
  std::vector<MeasurementConfigFetch> result;
  for (RecordedRequest& request : m_server.requests()) {
    if (request.method != "GET" || !request.path.starts_with(kPathPrefix)) continue;
    MeasurementConfigFetch fetch;
    fetch.appID = appIDOfPath(request.path);
    fetch.query = queryParts(request.query);
    fetch.ifModifiedSince = headerOrNone(request, "If-Modified-Since");
    fetch.ifNoneMatch = headerOrNone(request, "If-None-Match");
    fetch.raw = std::move(request);
    result.push_back(std::move(fetch));
  }
  return result;
}

size_t FakeMeasurementConfigService::fetchCount() const { return fetches().size(); }

bool FakeMeasurementConfigService::waitForFetches(size_t count, double timeoutSeconds) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (fetchCount() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace testkit

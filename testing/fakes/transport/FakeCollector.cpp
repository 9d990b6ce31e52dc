#include "testing/fakes/transport/FakeCollector.h"

#include <pb_decode.h>
#include <pb_encode.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>

#include "zdt_cct.pb.h"
#include "zdt_client_metrics.pb.h"

#include "platform/crypto/Digest.h"

namespace testkit {

namespace {

constexpr int32_t kMetricsSourceID = 1710;

std::string text(const pb_bytes_array_t* bytes) {
  return bytes ? std::string(reinterpret_cast<const char*>(bytes->bytes), bytes->size) : std::string();
}

std::optional<std::string> unhex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < text.size(); i += 2) {
    int value = 0;
    for (size_t j = i; j < i + 2; ++j) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[j])));
      if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
      value = value * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
    }
    out += static_cast<char>(value);
  }
  return out;
}

std::optional<CollectedMetrics> decodeMetrics(const std::string& payload) {
  zdt_client_metrics_ClientMetrics message = zdt_client_metrics_ClientMetrics_init_zero;
  pb_istream_t stream = pb_istream_from_buffer(reinterpret_cast<const pb_byte_t*>(payload.data()), payload.size());
  std::optional<CollectedMetrics> result;
  if (pb_decode(&stream, zdt_client_metrics_ClientMetrics_fields, &message)) {
    CollectedMetrics metrics;
    metrics.startMs = message.window.start_ms;
    metrics.endMs = message.window.end_ms;
    for (pb_size_t i = 0; i < message.source_drops_count; ++i) {
      auto& reasons = metrics.drops[text(message.source_drops[i].source_id)];
      for (pb_size_t j = 0; j < message.source_drops[i].drops_count; ++j) {
        reasons[message.source_drops[i].drops[j].reason] += message.source_drops[i].drops[j].count;
      }
    }
    metrics.currentCacheBytes = message.global.storage.current_cache_bytes;
    metrics.maxCacheBytes = message.global.storage.max_cache_bytes;
    metrics.appID = text(message.app_id);
    result = metrics;
  }
  pb_release(zdt_client_metrics_ClientMetrics_fields, &message);
  return result;
}

CollectedEvent collectEvent(const zdt_cct_LogEvent& event, bool metricsSource) {
  CollectedEvent out;
  if (event.has_occurred_at_ms) out.occurredAtMs = event.occurred_at_ms;
  if (event.has_tz_offset_s) out.tzOffsetS = event.tz_offset_s;
  if (event.has_uptime_ms) out.uptimeMs = event.uptime_ms;
  if (event.payload) out.payload = text(event.payload);
  if (event.has_event_code) out.eventCode = event.event_code;
  out.hasNetwork = event.has_network;
  if (event.has_network && event.network.has_network_type) out.networkType = event.network.network_type;
  if (event.has_network && event.network.has_mobile_subtype) out.mobileSubtype = event.network.mobile_subtype;
  if (event.has_compliance) {
    const zdt_cct_ComplianceData& compliance = event.compliance;
    if (compliance.has_privacy && compliance.privacy.has_product_holder &&
        compliance.privacy.product_holder.has_product_id) {
      out.productID = compliance.privacy.product_holder.product_id;
    }
    if (compliance.has_product_id_origin) out.productIDOrigin = compliance.product_id_origin;
  }
  if (metricsSource && out.payload) out.metrics = decodeMetrics(*out.payload);
  return out;
}

}  // namespace

size_t CollectedRequest::eventCount() const {
  size_t count = 0;
  for (const CollectedLogSource& source : sources) count += source.events.size();
  return count;
}

const CollectedLogSource* CollectedRequest::source(int32_t sourceID) const {
  for (const CollectedLogSource& entry : sources) {
    if (entry.sourceID == sourceID) return &entry;
  }
  return nullptr;
}

FakeCollector::FakeCollector(int port) : m_server(port) { script({CollectorAnswer{}}); }

FakeCollector::~FakeCollector() { m_server.stop(); }

Answer FakeCollector::answerFor(const CollectorAnswer& scripted) const {
  Answer answer;
  answer.status = scripted.status;
  answer.headers = scripted.headers;
  if (scripted.body) {
    answer.body = *scripted.body;
  } else if (scripted.nextWaitMs) {
    answer.body = logResponse(*scripted.nextWaitMs);
  }
  if (!answer.body.empty()) answer.headers.emplace_back("Content-Type", "application/x-protobuf");
  return answer;
}

void FakeCollector::script(std::vector<CollectorAnswer> answers) {
  if (answers.empty()) answers.push_back(CollectorAnswer{});
  struct Sequence {
    std::mutex mutex;
    std::vector<Answer> answers;
    size_t next = 0;
  };
  auto sequence = std::make_shared<Sequence>();
  for (const CollectorAnswer& answer : answers) sequence->answers.push_back(answerFor(answer));
  Responder responder = [sequence](const RecordedRequest&) {
    std::lock_guard lock(sequence->mutex);
    const size_t index = std::min(sequence->next, sequence->answers.size() - 1);
    ++sequence->next;
    return sequence->answers[index];
  };
  m_server.onPrefix("POST", "/", responder);
  m_server.onPrefix("GET", "/", responder);
}

std::vector<CollectedRequest> FakeCollector::requests() const {
  std::vector<CollectedRequest> decoded;
  for (const RecordedRequest& request : m_server.requests()) decoded.push_back(decode(request));
  return decoded;
}

bool FakeCollector::waitForRequests(size_t count, double timeoutSeconds) const {
  return m_server.waitForRequests(count, timeoutSeconds);
}

CollectedRequest FakeCollector::decode(const RecordedRequest& request) {
  CollectedRequest collected;
  collected.raw = request;
  zdt_cct_BatchedLogRequest message = zdt_cct_BatchedLogRequest_init_zero;
  pb_istream_t stream =
      pb_istream_from_buffer(reinterpret_cast<const pb_byte_t*>(request.body.data()), request.body.size());
  if (!pb_decode(&stream, zdt_cct_BatchedLogRequest_fields, &message)) {
    const char* error = PB_GET_ERROR(&stream);
    collected.decodingError = error ? error : "(none)";
  } else {
    for (pb_size_t i = 0; i < message.source_batches_count; ++i) {
      const zdt_cct_LogRequest& entry = message.source_batches[i];
      CollectedLogSource source;
      if (entry.has_source_id) source.sourceID = entry.source_id;
      if (entry.has_client && entry.client.has_client_kind) source.clientKind = entry.client.client_kind;
      if (entry.has_client && entry.client.has_desktop_device) {
        const zdt_cct_MacClientInfo& desktop = entry.client.desktop_device;
        if (desktop.os_version_short) source.desktop["os_version_short"] = text(desktop.os_version_short);
        if (desktop.os_version_full) source.desktop["os_version_full"] = text(desktop.os_version_full);
        if (desktop.app_build) source.desktop["app_build"] = text(desktop.app_build);
        if (desktop.app_id) source.desktop["app_id"] = text(desktop.app_id);
      }
      if (entry.has_sent_at_ms) source.sentAtMs = entry.sent_at_ms;
      if (entry.has_sent_uptime_ms) source.sentUptimeMs = entry.sent_uptime_ms;
      for (pb_size_t j = 0; j < entry.events_count; ++j) {
        source.events.push_back(collectEvent(entry.events[j], entry.source_id == kMetricsSourceID));
      }
      collected.sources.push_back(std::move(source));
    }
  }
  pb_release(zdt_cct_BatchedLogRequest_fields, &message);
  return collected;
}

std::string FakeCollector::describe(const CollectedRequest& request) {
  std::ostringstream out;
  out << request.raw.method << " " << request.raw.path << (request.raw.query.empty() ? "" : "?" + request.raw.query)
      << "\n";
  for (const auto& [name, value] : request.raw.headers) out << "  header " << name << ": " << value << "\n";
  if (request.decodingError) {
    out << "  body does not decode: " << *request.decodingError << " (" << request.raw.body.size() << " bytes)\n";
    return out.str();
  }
  auto field = [&out](const char* name, const auto& value) {
    if (value) out << " " << name << "=" << *value;
  };
  for (const CollectedLogSource& source : request.sources) {
    out << "  source";
    field("source_id", source.sourceID);
    field("client_kind", source.clientKind);
    for (const auto& [name, value] : source.desktop) out << " " << name << "=" << value;
    field("sent_at_ms", source.sentAtMs);
    field("sent_uptime_ms", source.sentUptimeMs);
    out << " events=" << source.events.size() << "\n";
    for (const CollectedEvent& event : source.events) {
      out << "    event";
      field("occurred_at_ms", event.occurredAtMs);
      field("tz_offset_s", event.tzOffsetS);
      field("uptime_ms", event.uptimeMs);
      if (event.payload) out << " payload=" << platform::Digest::hex(std::span(reinterpret_cast<const uint8_t*>(event.payload->data()), event.payload->size()));
      field("event_code", event.eventCode);
      if (event.hasNetwork) out << " network";
      field("network_type", event.networkType);
      field("mobile_subtype", event.mobileSubtype);
      field("product_id", event.productID);
      field("product_id_origin", event.productIDOrigin);
      out << "\n";
      if (event.metrics) {
        out << "      metrics start_ms=" << event.metrics->startMs << " end_ms=" << event.metrics->endMs
            << " current_cache_bytes=" << event.metrics->currentCacheBytes
            << " max_cache_bytes=" << event.metrics->maxCacheBytes << " app_id=" << event.metrics->appID << "\n";
        for (const auto& [mappingID, reasons] : event.metrics->drops) {
          out << "      drops " << mappingID;
          for (const auto& [reason, count] : reasons) out << " " << reason << ":" << count;
          out << "\n";
        }
      }
    }
  }
  return out.str();
}

std::string FakeCollector::logResponse(int64_t nextWaitMs) {
  zdt_cct_LogResponse message = zdt_cct_LogResponse_init_zero;
  message.has_next_wait_ms = true;
  message.next_wait_ms = nextWaitMs;
  pb_byte_t buffer[32];
  pb_ostream_t stream = pb_ostream_from_buffer(buffer, sizeof buffer);
  if (!pb_encode(&stream, zdt_cct_LogResponse_fields, &message)) return {};
  return std::string(reinterpret_cast<const char*>(buffer), stream.bytes_written);
}

std::optional<std::vector<CollectorAnswer>> FakeCollector::parseScript(const std::string& text, std::string* error) {
  std::vector<CollectorAnswer> answers;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    if (const size_t comment = line.find('#'); comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string word;
    if (!(words >> word)) continue;
    auto fail = [&](const std::string& why) {
      if (error) *error = "line " + std::to_string(number) + ": " + why;
      return std::nullopt;
    };
    CollectorAnswer answer;
    if (word.size() != 3 || !std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) return fail("'" + word + "' is no status");
    answer.status = std::stoi(word);
    while (words >> word) {
      if (word.rfind("next_wait_ms=", 0) == 0) {
        const std::string value = word.substr(13);
        char* end = nullptr;
        const long long wait = std::strtoll(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0') return fail("'" + value + "' is no number of milliseconds");
        answer.nextWaitMs = wait;
      } else if (word.rfind("body_hex=", 0) == 0) {
        std::optional<std::string> body = unhex(word.substr(9));
        if (!body) return fail("'" + word.substr(9) + "' is no hexadecimal text");
        answer.body = *body;
      } else if (word.back() == ':' && word.size() > 1) {
        std::string value;
        std::getline(words, value);
        const size_t start = value.find_first_not_of(" \t");
        answer.headers.emplace_back(word.substr(0, word.size() - 1),
                                    start == std::string::npos ? "" : value.substr(start));
      } else {
        return fail("unknown item '" + word + "'");
      }
    }
    answers.push_back(std::move(answer));
  }
  return answers;
}

}  // namespace testkit

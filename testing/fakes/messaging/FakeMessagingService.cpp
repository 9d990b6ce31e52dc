#include "testing/fakes/messaging/FakeMessagingService.h"

#include <chrono>

#include <nlohmann/json.hpp>

namespace testkit {

namespace {

constexpr const char* kCheckinPath = "/checkin";
constexpr const char* kRegisterPath = "/register";
constexpr const char* kTopicPath = "/iid/register";

// Device IDs and secrets beyond 2^53, so that a trip through a double shows.
constexpr uint64_t kFirstDeviceID = 3987654321012345678ULL;
constexpr uint64_t kFirstSecret = 8123456789012345678ULL;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string idText(const nlohmann::json& value) {
  if (value.is_number_unsigned()) return std::to_string(value.get<uint64_t>());
  if (value.is_number_integer()) return std::to_string(value.get<int64_t>());
  if (value.is_string()) return value.get<std::string>();
  return "0";
}

}  // namespace

FakeMessagingService::FakeMessagingService()
    : m_ownServer(std::make_unique<LoopbackServer>()), m_server(m_ownServer.get()) {
  addRoutes();
}

FakeMessagingService::FakeMessagingService(LoopbackServer& server) : m_server(&server) { addRoutes(); }

FakeMessagingService::~FakeMessagingService() { m_server->stop(); }

void FakeMessagingService::addRoutes() {
  for (Kind kind : {Kind::Checkin, Kind::Register, Kind::Topic}) {
    const char* path = kind == Kind::Checkin ? kCheckinPath : kind == Kind::Register ? kRegisterPath : kTopicPath;
    m_server->on("POST", path, Responder([this, kind](const RecordedRequest& request) { return answer(kind, request); }));
  }
}

std::optional<FakeMessagingService::Kind> FakeMessagingService::kindOf(const std::string& method,
                                                                       const std::string& path) {
  if (method != "POST") return std::nullopt;
  if (path == kCheckinPath) return Kind::Checkin;
  if (path == kRegisterPath) return Kind::Register;
  if (path == kTopicPath) return Kind::Topic;
  return std::nullopt;
}

std::map<std::string, std::string> FakeMessagingService::formItems(const std::string& body) {
  std::map<std::string, std::string> items;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    std::string pair = body.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!pair.empty()) {
      size_t equals = pair.find('=');
      std::string name = percentDecoded(pair.substr(0, equals));
      std::string value = equals == std::string::npos ? std::string() : percentDecoded(pair.substr(equals + 1));
      items[name] = value;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return items;
}

void FakeMessagingService::script(Kind kind, std::vector<Answer> answers) {
  std::lock_guard lock(m_mutex);
  for (Answer& answer : answers) m_scripts[kind].push_back(std::move(answer));
}

void FakeMessagingService::setDelay(double seconds) {
  std::lock_guard lock(m_mutex);
  m_delay = seconds;
}

void FakeMessagingService::setServerTimeMillis(std::optional<int64_t> millis) {
  std::lock_guard lock(m_mutex);
  m_serverTime = millis;
}

std::vector<RecordedRequest> FakeMessagingService::requests(Kind kind) const {
  std::vector<RecordedRequest> out;
  for (const RecordedRequest& request : m_server->requests()) {
    if (kindOf(request.method, request.path) == kind) out.push_back(request);
  }
  return out;
}

std::map<std::string, FakeMessagingService::Device> FakeMessagingService::devices() const {
  std::lock_guard lock(m_mutex);
  return m_devices;
}

std::map<std::string, std::string> FakeMessagingService::tokens() const {
  std::lock_guard lock(m_mutex);
  return m_tokens;
}

std::map<std::string, std::set<std::string>> FakeMessagingService::subscriptions() const {
  std::lock_guard lock(m_mutex);
  return m_subscriptions;
}

Answer FakeMessagingService::answer(Kind kind, const RecordedRequest& request) {
  Answer result;
  {
    std::lock_guard lock(m_mutex);
    auto& queue = m_scripts[kind];
    if (!queue.empty()) {
      result = std::move(queue.front());
      queue.pop_front();
      if (m_delay > 0 && result.delay == 0) result.delay = m_delay;
      return result;
    }
  }
  switch (kind) {
    case Kind::Checkin: result = checkin(request); break;
    case Kind::Register: result = registerToken(request); break;
    case Kind::Topic: result = topic(request); break;
  }
  std::lock_guard lock(m_mutex);
  if (m_delay > 0) result.delay = m_delay;
  return result;
}

Answer FakeMessagingService::checkin(const RecordedRequest& request) {
  nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) return Answer::text(400, "bad request");
  const std::string id = body.contains("id") ? idText(body["id"]) : "0";
  const std::string token = body.contains("security_token") ? idText(body["security_token"]) : "0";

  std::lock_guard lock(m_mutex);
  auto known = m_devices.find(id);
  Device* device = nullptr;
  if (id != "0" && known != m_devices.end() && known->second.secret == token) {
    device = &known->second;
  } else {
    const uint64_t n = static_cast<uint64_t>(m_devices.size());
    Device created{std::to_string(kFirstDeviceID + n), std::to_string(kFirstSecret + n), 0};
    device = &(m_devices[created.deviceID] = created);
  }
  ++device->checkins;
  ++m_counter;
  const int64_t now = m_serverTime.value_or(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::system_clock::now().time_since_epoch())
                                                .count());
  // Written by hand so that the IDs go out as exact integers.
  std::string text = "{\"stats_ok\":true,\"time_msec\":" + std::to_string(now) + ",\"android_id\":" + device->deviceID +
                     ",\"security_token\":" + device->secret + ",\"version_info\":\"vi-" + std::to_string(m_counter) +
                     "\",\"digest\":\"digest-" + std::to_string(m_counter) +
                     "\",\"device_data_version_info\":\"ddv-1\",\"setting\":[{\"name\":\"shared_key\",\"value\":\"1\"}]}";
  return Answer::json(200, text);
}

bool FakeMessagingService::authorized(const RecordedRequest& request) const {
  const std::string header = request.header("Authorization");
  const std::string prefix = "AidLogin ";
  if (header.rfind(prefix, 0) != 0) return false;
  const std::string credentials = header.substr(prefix.size());
  const size_t colon = credentials.find(':');
  if (colon == std::string::npos) return false;
  auto device = m_devices.find(credentials.substr(0, colon));
  return device != m_devices.end() && device->second.secret == credentials.substr(colon + 1);
}

Answer FakeMessagingService::registerToken(const RecordedRequest& request) {
  std::map<std::string, std::string> items = formItems(request.body);
  std::lock_guard lock(m_mutex);
  if (!authorized(request)) return Answer::text(200, "Error=AUTHENTICATION_FAILED");
  const std::string appid = items["appid"];
  const std::string key = appid + "|" + items["sender"] + "|" + items["X-scope"];
  if (items["delete"] == "true") {
    if (items["iid-operation"] == "delete") {
      for (auto it = m_tokens.begin(); it != m_tokens.end();) {
        it = it->first.rfind(appid + "|", 0) == 0 ? m_tokens.erase(it) : std::next(it);
      }
    } else {
      m_tokens.erase(key);
    }
    return Answer::text(200, "deleted=" + appid);
  }
  std::string& token = m_tokens[key];
  if (token.empty()) token = appid + ":APA91b-" + std::to_string(++m_tokenCounter);
  return Answer::text(200, "token=" + token);
}

Answer FakeMessagingService::topic(const RecordedRequest& request) {
  std::map<std::string, std::string> items = formItems(request.body);
  std::lock_guard lock(m_mutex);
  if (!authorized(request)) return Answer::text(200, "Error=AUTHENTICATION_FAILED");
  const std::string token = items["sender"];
  bool issued = false;
  for (const auto& entry : m_tokens) issued = issued || entry.second == token;
  if (!issued) return Answer::text(200, "Error=INVALID_PARAMETERS");
  const std::string topicName = items["X-zcm.topic"];
  if (items["delete"] == "true") {
    m_subscriptions[token].erase(topicName);
  } else {
    m_subscriptions[token].insert(topicName);
  }
  return Answer::text(200, "token=" + token);
}

}  // namespace testkit

#include "testing/fakes/installations/FakeInstallationsService.h"

#include <nlohmann/json.hpp>

namespace testkit {

namespace {

constexpr const char* kPrefix = "/v1/projects/";
constexpr const char* kInstallations = "/installations/";
constexpr const char* kGenerate = "/authTokens:generate";

// The FID of a token or delete path; empty for a create path.
std::string fidOf(const std::string& path) {
  size_t start = path.find(kInstallations);
  if (start == std::string::npos) return {};
  std::string rest = path.substr(start + std::string(kInstallations).size());
  if (rest.ends_with(kGenerate)) rest.resize(rest.size() - std::string(kGenerate).size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  return rest;
}

}  // namespace

FakeInstallationsService::FakeInstallationsService() {
  Responder responder = [this](const RecordedRequest& request) { return answer(request); };
  m_server.onPrefix("POST", kPrefix, responder);
  m_server.onPrefix("DELETE", kPrefix, responder);
}

FakeInstallationsService::~FakeInstallationsService() { m_server.stop(); }

std::optional<FakeInstallationsService::Kind> FakeInstallationsService::kindOf(const std::string& method,
                                                                               const std::string& path) {
  if (!path.starts_with(kPrefix)) return std::nullopt;
  size_t at = path.find(kInstallations);
  if (at == std::string::npos) return std::nullopt;
  bool create = path.size() == at + std::string(kInstallations).size();
  if (method == "POST" && create) return Kind::Create;
  if (method == "POST" && path.ends_with(kGenerate)) return Kind::GenerateToken;
  if (method == "DELETE" && !create) return Kind::Delete;
  return std::nullopt;
}

void FakeInstallationsService::script(Kind kind, std::vector<Answer> answers) {
  std::lock_guard lock(m_mutex);
  for (Answer& answer : answers) m_scripts[kind].push_back(std::move(answer));
}

void FakeInstallationsService::setTokenLifetime(long seconds) {
  std::lock_guard lock(m_mutex);
  m_tokenLifetime = seconds;
}

void FakeInstallationsService::setAssignedFID(std::optional<std::string> fid) {
  std::lock_guard lock(m_mutex);
  m_assignedFID = std::move(fid);
}

void FakeInstallationsService::setDelay(double seconds) {
  std::lock_guard lock(m_mutex);
  m_delay = seconds;
}

std::vector<RecordedRequest> FakeInstallationsService::requests(Kind kind) const {
  std::vector<RecordedRequest> out;
  for (const RecordedRequest& request : m_server.requests()) {
    if (kindOf(request.method, request.path) == kind) out.push_back(request);
  }
  return out;
}

std::map<std::string, FakeInstallationsService::Installation> FakeInstallationsService::installations() const {
  std::lock_guard lock(m_mutex);
  return m_installations;
}

void FakeInstallationsService::forget(const std::string& fid) {
  std::lock_guard lock(m_mutex);
  m_installations.erase(fid);
}

Answer FakeInstallationsService::answer(const RecordedRequest& request) {
  std::optional<Kind> kind = kindOf(request.method, request.path);
  if (!kind) return Answer::json(404, R"({"error":{"code":404,"message":"Not found","status":"NOT_FOUND"}})");
  std::lock_guard lock(m_mutex);
  Answer result;
  auto& queue = m_scripts[*kind];
  if (!queue.empty()) {
    result = std::move(queue.front());
    queue.pop_front();
  } else {
    result = normalAnswer(*kind, request);
  }
  if (result.delay == 0) result.delay = m_delay;
  return result;
}

Answer FakeInstallationsService::normalAnswer(Kind kind, const RecordedRequest& request) {
  std::string expiresIn = std::to_string(m_tokenLifetime) + "s";
  if (kind == Kind::Create) {
    nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    if (!body.is_object() || !body.contains("fid") || !body["fid"].is_string() || !body.contains("appId")) {
      return Answer::json(400, R"({"error":{"code":400,"message":"Invalid request","status":"INVALID_ARGUMENT"}})");
    }
    ++m_counter;
    Installation installation;
    installation.fid = m_assignedFID ? *m_assignedFID : body["fid"].get<std::string>();
    installation.refreshToken = "refresh-" + std::to_string(m_counter);
    installation.authToken = "token-" + std::to_string(m_counter);
    m_installations[installation.fid] = installation;
    nlohmann::json answer = {{"name", "projects/p/installations/" + installation.fid},
                             {"fid", installation.fid},
                             {"refreshToken", installation.refreshToken},
                             {"authToken", {{"token", installation.authToken}, {"expiresIn", expiresIn}}}};
    return Answer::json(200, answer.dump());
  }
  std::string fid = fidOf(request.path);
  auto found = m_installations.find(fid);
  if (found == m_installations.end()) {
    return Answer::json(404, R"({"error":{"code":404,"message":"Installation not found","status":"NOT_FOUND"}})");
  }
  if (request.header("Authorization") != "RIS_v2 " + found->second.refreshToken) {
    return Answer::json(401, R"({"error":{"code":401,"message":"Invalid authentication","status":"UNAUTHENTICATED"}})");
  }
  if (kind == Kind::Delete) {
    m_installations.erase(found);
    return Answer::json(200, "{}");
  }
  ++m_counter;
  found->second.authToken = "token-" + std::to_string(m_counter);
  nlohmann::json answer = {{"token", found->second.authToken}, {"expiresIn", expiresIn}};
  return Answer::json(200, answer.dump());
}

}  // namespace testkit

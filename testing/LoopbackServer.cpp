#include "testing/LoopbackServer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace testkit {

namespace {

bool namesEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string gzip(const std::string& plain) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&z, plain.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string RecordedRequest::header(const std::string& name) const {
  for (const auto& [n, v] : headers) {
    if (namesEqual(n, name)) return v;
  }
  return {};
}

bool RecordedRequest::hasHeader(const std::string& name) const {
  for (const auto& h : headers) {
    if (namesEqual(h.first, name)) return true;
  }
  return false;
}

Answer Answer::text(int status, std::string body, std::string contentType) {
  Answer a;
  a.status = status;
  a.body = std::move(body);
  a.headers.emplace_back("Content-Type", std::move(contentType));
  return a;
}

Answer Answer::json(int status, std::string body) { return text(status, std::move(body), "application/json"); }

Answer Answer::redirect(int status, std::string location) {
  Answer a;
  a.status = status;
  a.headers.emplace_back("Location", std::move(location));
  return a;
}

Answer Answer::gzip(int status, const std::string& plainBody, std::string contentType) {
  Answer a = text(status, testkit::gzip(plainBody), std::move(contentType));
  a.headers.emplace_back("Content-Encoding", "gzip");
  return a;
}

Answer Answer::streamed(std::vector<std::string> chunks, double chunkDelay, std::string contentType) {
  Answer a;
  a.chunks = std::move(chunks);
  a.chunkDelay = chunkDelay;
  a.headers.emplace_back("Content-Type", std::move(contentType));
  return a;
}

Answer Answer::close() {
  Answer a;
  a.closeWithoutAnswer = true;
  return a;
}

LoopbackServer::LoopbackServer(int port) : m_server(std::make_unique<httplib::Server>()) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { serve(req, res, req.body); };
  // Bodies are read through a content reader: the library's own reading
  // refuses form-encoded bodies above 8 KiB, which real services accept.
  auto reading = [this](const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader) {
    std::string body;
    reader([&](const char* data, size_t length) {
      body.append(data, length);
      return true;
    });
    serve(req, res, body);
  };
  m_server->Get(".*", handler);
  m_server->Post(".*", reading);
  m_server->Put(".*", reading);
  m_server->Patch(".*", reading);
  m_server->Delete(".*", reading);
  m_server->Options(".*", handler);
  m_server->set_keep_alive_timeout(2);
  m_server->set_tcp_nodelay(true);  // no Nagle delay on small answers
  m_server->set_payload_max_length(size_t(256) << 20);
  m_port = port > 0 ? (m_server->bind_to_port("127.0.0.1", port) ? port : -1) : m_server->bind_to_any_port("127.0.0.1");
  if (m_port <= 0) throw std::runtime_error("LoopbackServer: cannot bind 127.0.0.1");
  m_thread = std::thread([this] { m_server->listen_after_bind(); });
  // stop() before the accept loop runs would be lost and the loop never end.
  while (!m_server->is_running()) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return;
    m_stopping = true;
  }
  m_changed.notify_all();
  // Idle keep-alive connections would hold the workers until they time out.
  dropConnections(-1);
  m_server->stop();
  if (m_thread.joinable()) m_thread.join();
}

std::string LoopbackServer::url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

void LoopbackServer::on(const std::string& method, const std::string& path, Answer answer) {
  on(method, path, [answer](const RecordedRequest&) { return answer; });
}

void LoopbackServer::on(const std::string& method, const std::string& path, Responder responder) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_exact[{method, path}] = std::move(responder);
}

void LoopbackServer::script(const std::string& method, const std::string& path, std::vector<Answer> answers) {
  if (answers.empty()) answers.push_back(Answer::text(200, ""));
  auto state = std::make_shared<std::pair<std::mutex, size_t>>();
  auto list = std::make_shared<std::vector<Answer>>(std::move(answers));
  on(method, path, [state, list](const RecordedRequest&) {
    std::lock_guard<std::mutex> lock(state->first);
    size_t index = std::min(state->second++, list->size() - 1);
    return (*list)[index];
  });
}

void LoopbackServer::onPrefix(const std::string& method, const std::string& prefix, Answer answer) {
  onPrefix(method, prefix, [answer](const RecordedRequest&) { return answer; });
}

void LoopbackServer::onPrefix(const std::string& method, const std::string& prefix, Responder responder) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_prefix[{method, prefix}] = std::move(responder);
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

std::vector<RecordedRequest> LoopbackServer::requests(const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<RecordedRequest> out;
  for (const auto& r : m_requests) {
    if (r.path == path) out.push_back(r);
  }
  return out;
}

size_t LoopbackServer::requestCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests.size();
}

bool LoopbackServer::waitForRequests(size_t count, double timeoutSeconds) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                            [&] { return m_requests.size() >= count; });
}

void LoopbackServer::clearRequests() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_requests.clear();
}

std::optional<Responder> LoopbackServer::find(const std::string& method, const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto exact = m_exact.find({method, path});
  if (exact != m_exact.end()) return exact->second;
  const Responder* best = nullptr;
  size_t bestLength = 0;
  for (const auto& [key, responder] : m_prefix) {
    if (key.first == method && path.compare(0, key.second.size(), key.second) == 0 &&
        (!best || key.second.size() > bestLength)) {
      best = &responder;
      bestLength = key.second.size();
    }
  }
  if (best) return *best;
  return std::nullopt;
}

bool LoopbackServer::sleepUnlessStopping(double seconds) {
  if (seconds <= 0) return true;
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return m_stopping; });
  return !m_stopping;
}

// Shuts down the accepted socket whose peer port is `peerPort` (-1: every
// accepted socket), so the client sees the connection end without an answer.
void LoopbackServer::dropConnections(int peerPort) {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return;
  while (dirent* entry = ::readdir(dir)) {
    int fd = std::atoi(entry->d_name);
    if (fd <= 2) continue;
    sockaddr_in peer{}, local{};
    socklen_t peerLength = sizeof peer, localLength = sizeof local;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) continue;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) continue;
    if (peer.sin_family != AF_INET || local.sin_family != AF_INET) continue;
    if ((peerPort < 0 || ntohs(peer.sin_port) == peerPort) && ntohs(local.sin_port) == m_port) {
      ::shutdown(fd, SHUT_RDWR);
    }
  }
  ::closedir(dir);
}

void LoopbackServer::serve(const httplib::Request& req, httplib::Response& res, const std::string& body) {
  RecordedRequest record;
  record.method = req.method;
  record.path = req.path;
  auto question = req.target.find('?');
  if (question != std::string::npos) record.query = req.target.substr(question + 1);
  for (const auto& [name, value] : req.headers) {
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
    record.headers.emplace_back(name, value);
  }
  record.body = body;
  record.remotePort = req.remote_port;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(record);
  }
  m_changed.notify_all();
  // Answers go out exactly as scripted: no compression chosen by the server.
  const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");

  auto responder = find(req.method == "HEAD" ? "GET" : req.method, req.path);
  Answer answer = responder ? (*responder)(record) : Answer::text(404, "not found");
  if (!sleepUnlessStopping(answer.delay)) return;
  if (answer.closeWithoutAnswer) {
    dropConnections(req.remote_port);
    return;
  }
  res.status = answer.status;
  std::string contentType = "application/octet-stream";
  for (const auto& [name, value] : answer.headers) {
    if (namesEqual(name, "Content-Type")) {
      contentType = value;
      continue;
    }
    res.set_header(name.c_str(), value);
  }
  if (!answer.chunks.empty()) {
    auto chunks = std::make_shared<std::vector<std::string>>(answer.chunks);
    double pause = answer.chunkDelay;
    double hold = answer.holdOpen;
    size_t repeat = answer.repeat;
    res.set_chunked_content_provider(contentType, [this, chunks, pause, hold, repeat](size_t, httplib::DataSink& sink) {
      for (size_t round = 0; round < repeat; ++round) {
        for (size_t i = 0; i < chunks->size(); ++i) {
          if ((round > 0 || i > 0) && pause > 0 && !sleepUnlessStopping(pause)) return false;
          if (!sink.write((*chunks)[i].data(), (*chunks)[i].size())) return false;
        }
      }
      if (hold > 0 && !sleepUnlessStopping(hold)) return false;
      sink.done();
      return true;
    });
    return;
  }
  res.set_content(answer.body, contentType.c_str());
}

}  // namespace testkit

#include "testing/MediaServer.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace testkit {

namespace {

std::string contentTypeOf(const std::string& path) {
  static const std::map<std::string, std::string> kTypes = {
      {"mp4", "video/mp4"},           {"m4a", "audio/mp4"},  {"m4s", "video/iso.segment"},
      {"mpd", "application/dash+xml"}, {"webm", "video/webm"}, {"mp3", "audio/mpeg"},
      {"png", "image/png"},            {"jpg", "image/jpeg"}, {"html", "text/html"}};
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "application/octet-stream";
  auto type = kTypes.find(path.substr(dot + 1));
  return type == kTypes.end() ? "application/octet-stream" : type->second;
}

bool hasParentComponent(const std::string& path) {
  size_t at = 0;
  while ((at = path.find("..", at)) != std::string::npos) {
    const bool startsComponent = at == 0 || path[at - 1] == '/';
    const bool endsComponent = at + 2 == path.size() || path[at + 2] == '/';
    if (startsComponent && endsComponent) return true;
    at += 2;
  }
  return false;
}

}  // namespace

MediaServer::MediaServer(std::string root, int port) : m_root(std::move(root)), m_server(std::make_unique<httplib::Server>()) {
  m_server->Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string path = req.path;
    counted(path, 1, 0);
    if (!pause(static_cast<double>(m_delayMicroseconds.load()) / 1e6)) return;
    struct stat info {};
    const std::string file = m_root + path;
    if (hasParentComponent(path) || ::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      res.status = 404;
      res.set_content("not found", "text/plain");
      return;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      res.status = 404;
      res.set_content("not found", "text/plain");
      return;
    }
    auto descriptor = std::shared_ptr<int>(new int(fd), [](int* f) {
      ::close(*f);
      delete f;
    });
    // Sends up to `length` bytes from `offset` at the current rate.
    auto send = [this, descriptor, path](size_t offset, size_t length, httplib::DataSink& sink) {
      const uint64_t rate = m_rate.load();
      const size_t slice = rate == 0 ? 256 * 1024 : std::clamp<size_t>(rate / 20, 1024, 64 * 1024);
      std::vector<char> buffer(std::min(length, slice));
      const ssize_t n = ::pread(*descriptor, buffer.data(), buffer.size(), static_cast<off_t>(offset));
      if (n <= 0 || !sink.write(buffer.data(), static_cast<size_t>(n))) return false;
      counted(path, 0, static_cast<uint64_t>(n));
      const uint64_t current = m_rate.load();
      return current == 0 || pause(static_cast<double>(n) / static_cast<double>(current));
    };
    if (const uint64_t cut = m_cutAfter.load(); cut > 0) {
      const size_t total = static_cast<size_t>(std::min<uint64_t>(cut, static_cast<uint64_t>(info.st_size)));
      res.set_chunked_content_provider(contentTypeOf(path), [send, total](size_t offset, httplib::DataSink& sink) {
        if (offset >= total) {
          sink.done();
          return true;
        }
        return send(offset, total - offset, sink);
      });
      return;
    }
    res.set_content_provider(static_cast<size_t>(info.st_size), contentTypeOf(path), send);
  });
  m_port = port == 0 ? m_server->bind_to_any_port("127.0.0.1") : (m_server->bind_to_port("127.0.0.1", port) ? port : -1);
  if (m_port <= 0) throw std::runtime_error("MediaServer: cannot bind 127.0.0.1");
  m_thread = std::thread([this] { m_server->listen_after_bind(); });
  // stop() before the accept loop runs would be lost and the loop never end.
  while (!m_server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

MediaServer::~MediaServer() {
  stop();
  if (m_thread.joinable()) m_thread.join();
}

std::string MediaServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void MediaServer::stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  m_server->stop();
}

void MediaServer::wait() {
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [this] { return m_stopping; });
}

bool MediaServer::pause(double seconds) {
  std::unique_lock lock(m_mutex);
  if (seconds <= 0) return !m_stopping;
  return !m_changed.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return m_stopping; });
}

void MediaServer::counted(const std::string& path, size_t requests, uint64_t bytes) {
  {
    std::lock_guard lock(m_mutex);
    Counters& counters = m_counters[path];
    counters.requests += requests;
    counters.bytes += bytes;
  }
  m_changed.notify_all();
}

size_t MediaServer::requestCount(const std::string& path) const {
  std::lock_guard lock(m_mutex);
  auto counters = m_counters.find(path);
  return counters == m_counters.end() ? 0 : counters->second.requests;
}

uint64_t MediaServer::bytesSent(const std::string& path) const {
  std::lock_guard lock(m_mutex);
  auto counters = m_counters.find(path);
  return counters == m_counters.end() ? 0 : counters->second.bytes;
}

bool MediaServer::waitForRequest(const std::string& path, double timeoutSeconds) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] {
    auto counters = m_counters.find(path);
    return counters != m_counters.end() && counters->second.requests > 0;
  });
}

bool MediaServer::waitForBytes(const std::string& path, uint64_t bytes, double timeoutSeconds) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] {
    auto counters = m_counters.find(path);
    return counters != m_counters.end() && counters->second.bytes >= bytes;
  });
}

}  // namespace testkit

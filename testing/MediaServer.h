// MediaServer: serves the files below one folder over HTTP on 127.0.0.1 (on
// cpp-httplib), as a video site's media server would: GET and HEAD with
// Content-Length, byte ranges (so a downloader can resume), a content type
// by extension, and an adjustable throttle so that a test can land a pause
// or a cancel in the middle of a transfer.
//
//   testkit::MediaServer server(mediaFolder);
//   server.setRate(200 * 1024);        // bytes per second, 0 = unlimited
//   server.setRequestDelay(0.3);       // seconds before each answer
//   ... server.url("/clips/a.mp4") ...
//   server.waitForRequest("/dash/chunk-stream0-00003.m4s");
//
// setCutAfter(n) makes every answer a stream without a length (chunked)
// that ends cleanly after n bytes of the file, as a server that closes early
// does: the client cannot tell it got only part.
//
// Paths with ".." components and anything that is not a regular file
// answer 404. Throttle changes apply at once, also to transfers under way.
// Destruction stops the server and ends running transfers early.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}  // namespace httplib

namespace testkit {

class MediaServer {
 public:
  // port 0: any free port.
  explicit MediaServer(std::string root, int port = 0);
  ~MediaServer();
  MediaServer(const MediaServer&) = delete;
  MediaServer& operator=(const MediaServer&) = delete;

  int port() const { return m_port; }
  std::string url(const std::string& path) const;

  void setRate(uint64_t bytesPerSecond) { m_rate = bytesPerSecond; }
  void setRequestDelay(double seconds) { m_delayMicroseconds = static_cast<int64_t>(seconds * 1e6); }
  // 0: whole files with their length (the default).
  void setCutAfter(uint64_t bytes) { m_cutAfter = bytes; }

  // Requests that arrived for `path`, and body bytes sent for it.
  size_t requestCount(const std::string& path) const;
  uint64_t bytesSent(const std::string& path) const;
  // Waits (real time) until `path` was requested, or bytesSent(path) reached
  // `bytes`.
  bool waitForRequest(const std::string& path, double timeoutSeconds = 60) const;
  bool waitForBytes(const std::string& path, uint64_t bytes, double timeoutSeconds = 60) const;

  // Blocks until stop() (the server runs on its own thread meanwhile).
  void wait();
  void stop();

 private:
  struct Counters {
    size_t requests = 0;
    uint64_t bytes = 0;
  };
  bool pause(double seconds);  // false when the server stops meanwhile
  void counted(const std::string& path, size_t requests, uint64_t bytes);

  const std::string m_root;
  std::unique_ptr<httplib::Server> m_server;
  std::thread m_thread;
  int m_port = 0;
  std::atomic<uint64_t> m_rate{0};
  std::atomic<int64_t> m_delayMicroseconds{0};
  std::atomic<uint64_t> m_cutAfter{0};

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_stopping = false;
  std::map<std::string, Counters> m_counters;
};

}  // namespace testkit

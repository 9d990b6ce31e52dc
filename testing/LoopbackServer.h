// LoopbackServer: a scriptable HTTP server on 127.0.0.1 for tests (on
// cpp-httplib), listening on a free port from construction to destruction.
//
//   testkit::LoopbackServer server;
//   server.on("POST", "/v1/upload", testkit::Answer::text(200, "ok"));
//   server.script("GET", "/flaky", {testkit::Answer::text(503, ""), testkit::Answer::json(200, "{}")});
//   server.onPrefix("GET", "/files/", [](const testkit::RecordedRequest& r) { ... return answer; });
//   ... session->dataTask(HttpRequest(server.url() + "/v1/upload", "POST"), ...)
//   EXPECT_EQ(server.requests().at(0).body, "...");
//
// Routes: exact method + path first, then the longest matching prefix, else
// 404. A scripted sequence answers its entries in order and then repeats the
// last one. Every request is recorded (method, path, query, headers, body as
// received after the server undid a gzip/deflate Content-Encoding) before it
// is answered. Answers are sent exactly as scripted: the server never
// compresses on its own. Delays end early when the server is destroyed.
//
// Thread safety: every member may be called from any thread; handlers run on
// the server's worker threads.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace testkit {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string query;  // raw text after '?', empty when none
  HeaderList headers;
  std::string body;
  int remotePort = 0;  // the client's port: requests of one connection share it

  // First header of that name (case-insensitive), empty when absent.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
};

struct Answer {
  int status = 200;
  HeaderList headers;
  std::string body;
  double delay = 0;                 // seconds before the answer starts
  std::vector<std::string> chunks;  // non-empty: chunked transfer, one write each
  double chunkDelay = 0;            // seconds between chunks
  double holdOpen = 0;              // seconds a chunked answer stays open after its last chunk
  size_t repeat = 1;                // a chunked answer writes its chunks this many times over
  bool closeWithoutAnswer = false;  // drop the connection, send nothing

  static Answer text(int status, std::string body, std::string contentType = "text/plain");
  static Answer json(int status, std::string body);
  static Answer redirect(int status, std::string location);
  // Body gzip-compressed, "Content-Encoding: gzip".
  static Answer gzip(int status, const std::string& plainBody, std::string contentType = "text/plain");
  static Answer streamed(std::vector<std::string> chunks, double chunkDelay = 0,
                         std::string contentType = "application/octet-stream");
  static Answer close();

  Answer& withHeader(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
  }
  Answer& after(double seconds) {
    delay = seconds;
    return *this;
  }
};

using Responder = std::function<Answer(const RecordedRequest&)>;

// gzip framing of `plain` (for answers and for request bodies in tests).
std::string gzip(const std::string& plain);

class LoopbackServer {
 public:
  LoopbackServer() : LoopbackServer(0) {}
  // Listens on `port`, or on a free port when 0.
  explicit LoopbackServer(int port);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Ends delays, closes the connections and joins the server's threads; no
  // handler runs after it returns. Owners whose handlers use their own
  // members call it first in their destructor. Idempotent.
  void stop();

  int port() const { return m_port; }
  // "http://127.0.0.1:<port>"
  std::string url() const;
  std::string url(const std::string& path) const { return url() + path; }

  void on(const std::string& method, const std::string& path, Answer answer);
  void on(const std::string& method, const std::string& path, Responder responder);
  void script(const std::string& method, const std::string& path, std::vector<Answer> answers);
  void onPrefix(const std::string& method, const std::string& prefix, Answer answer);
  void onPrefix(const std::string& method, const std::string& prefix, Responder responder);

  std::vector<RecordedRequest> requests() const;
  std::vector<RecordedRequest> requests(const std::string& path) const;
  size_t requestCount() const;
  // Waits (real time) until at least `count` requests arrived.
  bool waitForRequests(size_t count, double timeoutSeconds = 10) const;
  void clearRequests();

 private:
  struct Route {
    Responder responder;
  };
  void serve(const httplib::Request& request, httplib::Response& response, const std::string& body);
  std::optional<Responder> find(const std::string& method, const std::string& path) const;
  bool sleepUnlessStopping(double seconds);
  void dropConnections(int peerPort);

  std::unique_ptr<httplib::Server> m_server;
  std::thread m_thread;
  int m_port = 0;

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_stopping = false;
  std::map<std::pair<std::string, std::string>, Responder> m_exact;
  std::map<std::pair<std::string, std::string>, Responder> m_prefix;
  std::vector<RecordedRequest> m_requests;
};

}  // namespace testkit

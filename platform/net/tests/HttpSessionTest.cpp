// HttpSession against the loopback server: requests as sent, responses as
// received, redirects, transport failures, cancel and invalidation,
// streaming, downloads and uploads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "platform/dispatch/MainQueue.h"
#include "platform/net/HttpActivity.h"
#include "platform/net/HttpSession.h"
#include "platform/net/ServiceAddress.h"
#include "platform/net/URLError.h"
#include "testing/LogCapture.h"
#include "testing/LoopbackServer.h"
#include "testing/MainQueuePump.h"
#include "testing/ScopedEnvironment.h"

namespace platform {
namespace {

using testkit::Answer;
using testkit::LoopbackServer;

// Collects values delivered from other threads.
template <typename T>
class Inbox {
 public:
  // Notifies under the lock: a waiter may return and destroy the inbox as
  // soon as it sees the value.
  void put(T value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values.push_back(std::move(value));
    m_cv.notify_all();
  }
  // Waits for the n-th value (1-based) and returns a copy of all so far.
  std::vector<T> waitFor(size_t n, double seconds = 15) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return m_values.size() >= n; });
    return m_values;
  }
  size_t size() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_values.size();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<T> m_values;
};

class HttpSessionTest : public ::testing::Test {
 protected:
  HttpResult fetch(HttpRequest request, std::shared_ptr<HttpSession> on = nullptr) {
    Inbox<HttpResult> inbox;
    auto task = (on ? on : session)->dataTask(std::move(request), [&](HttpResult r) { inbox.put(std::move(r)); });
    task->resume();
    auto results = inbox.waitFor(1);
    EXPECT_EQ(results.size(), 1u);
    return results.empty() ? HttpResult{} : results.front();
  }

  LoopbackServer server;
  std::shared_ptr<HttpSession> session = HttpSession::create(HttpSessionConfiguration::ephemeralConfiguration());
};

TEST_F(HttpSessionTest, SendsMethodHeadersAndBodyAndReadsTheAnswer) {
  server.on("GET", "/items", Answer::json(200, "[1,2]").withHeader("ETag", "\"v1\""));
  server.on("POST", "/upload", Answer::text(500, "broken"));

  auto config = HttpSessionConfiguration::ephemeralConfiguration();
  config.additionalHeaders.set("X-Session", "s");
  config.additionalHeaders.set("X-Token", "from-session");
  session = HttpSession::create(config);
  HttpRequest get(server.url("/items?page=2&q=a%20b"));
  get.setValue("one", "X-Token");
  get.setValue("two", "x-token");  // replaces, whatever the case
  get.addValue("a", "X-Multi");
  auto answer = fetch(get);
  ASSERT_FALSE(answer.error) << answer.error->description();
  EXPECT_EQ(answer.statusCode(), 200);
  EXPECT_EQ(answer.text(), "[1,2]");
  EXPECT_EQ(answer.response->valueForHeader("etag").value_or(""), "\"v1\"");
  EXPECT_EQ(answer.response->mimeType(), "application/json");
  EXPECT_EQ(answer.response->url(), server.url("/items?page=2&q=a%20b"));

  // Above 1 MiB libcurl would ask for "100 Continue" unless told not to; a
  // wrong Content-Length from the caller must not corrupt the request.
  std::string big(2 << 20, 'z');
  HttpRequest post(server.url("/upload"), "POST");
  post.setBody(big);
  post.setValue("5", "Content-Length");
  auto failed = fetch(post);
  EXPECT_FALSE(failed.error) << "an HTTP error status is not a transport error";
  EXPECT_EQ(failed.statusCode(), 500);
  EXPECT_EQ(failed.text(), "broken");

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].path, "/items");
  EXPECT_EQ(requests[0].query, "page=2&q=a%20b");
  EXPECT_EQ(requests[0].header("X-Token"), "two");
  EXPECT_EQ(requests[0].header("X-Multi"), "a");
  EXPECT_EQ(requests[0].header("X-Session"), "s");
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].body.size(), big.size());
  EXPECT_EQ(requests[1].body, big);
  EXPECT_EQ(requests[1].header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_FALSE(requests[1].hasHeader("Expect"));
}

TEST_F(HttpSessionTest, ActivityCountsTasksInFlightAndReportsEachEnd) {
  server.on("POST", "/report", Answer::text(201, "made").after(0.2));
  Inbox<HttpActivityRecord> ends;
  HttpActivity::setObserver([&ends](const HttpActivityRecord& record) { ends.put(record); });
  const size_t before = HttpActivity::inFlightCount();
  Inbox<HttpResult> results;
  auto task = session->dataTask(HttpRequest(server.url("/report?x=1"), "POST"),
                                [&](HttpResult r) { results.put(std::move(r)); });
  auto never = session->dataTask(HttpRequest(server.url("/never")), [](HttpResult) {});
  never->cancel();  // ended without being resumed: not counted, not reported
  task->resume();
  EXPECT_EQ(HttpActivity::inFlightCount(), before + 1);
  std::vector<HttpActivityRecord> reported = ends.waitFor(1);
  HttpActivity::setObserver(nullptr);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].method, "POST");
  EXPECT_EQ(reported[0].url, server.url("/report?x=1"));
  EXPECT_EQ(reported[0].statusCode, 201);
  EXPECT_GT(reported[0].startTime, 0);
  EXPECT_EQ(results.size(), 1u);  // the completion ran first
  // The task counts until its observer has heard it.
  for (int tries = 0; tries < 5000 && HttpActivity::inFlightCount() != before; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(HttpActivity::inFlightCount(), before);
}

TEST_F(HttpSessionTest, SendsNoHeaderTheCallerDidNotAsk) {
  // The library's own "Accept: */*" stays home; a caller's Accept goes as given.
  HttpRequest plain(server.url("/plain"), "POST");
  plain.setBody("x");
  plain.setValue("application/x-protobuf", "Content-Type");
  HttpRequest own(server.url("/own"));
  own.setValue("application/json", "Accept");
  fetch(plain);
  fetch(own);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  std::vector<std::string> names;
  for (const auto& [name, value] : requests[0].headers) names.push_back(name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Accept-Encoding", "Content-Length", "Content-Type", "Host"}));
  EXPECT_EQ(requests[1].header("Accept"), "application/json");
}

TEST_F(HttpSessionTest, UnusableServiceOverrideRefusesEveryServiceRequest) {
  // The loopback server stands for the real service: a mistyped override must
  // not let a request reach it, and says so once per value in the log.
  server.on("GET", "/v1/x", Answer::text(200, "reached"));
  testkit::LogCapture logs;
  testkit::ScopedEnvironment environment;
  for (const std::string value : {"file:///tmp/services", "ftp://127.0.0.1:21", "127.0.0.1:8080",
                                  " http://127.0.0.1:8080", "http://127.0.0.1:8080 ", "http://127.0.0.1:99999"}) {
    SCOPED_TRACE("[" + value + "]");
    environment.set(ServiceAddress::kOverrideVariable, value);
    logs.clear();
    for (int attempt = 0; attempt < 2; ++attempt) {
      auto answer = fetch(HttpRequest(ServiceAddress::resolve(server.url("/v1/x"))));
      ASSERT_TRUE(answer.error);
      EXPECT_EQ(answer.error->domain, URLError::kDomain);
      EXPECT_EQ(answer.error->code, URLError::kBadURL);
      EXPECT_NE(answer.error->localizedDescription().find("APP_SERVICES_URL is set to \""), std::string::npos)
          << answer.error->localizedDescription();
      EXPECT_FALSE(answer.response);
    }
    auto lines = logs.texts();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("APP_SERVICES_URL") != std::string::npos; }),
              1)
        << testing::PrintToString(lines);
  }
  EXPECT_TRUE(server.requests().empty());

  environment.set(ServiceAddress::kOverrideVariable, server.url("/ignored-path"));
  auto answer = fetch(HttpRequest(ServiceAddress::resolve("https://service.example.net/v1/x")));
  ASSERT_FALSE(answer.error) << answer.error->description();
  EXPECT_EQ(answer.text(), "reached");
}

TEST_F(HttpSessionTest, GzipAnswerIsDecodedTransparently) {
  std::string plain;
  for (int i = 0; i < 2000; ++i) plain += "line " + std::to_string(i) + "\n";
  server.on("GET", "/z", Answer::gzip(200, plain));
  HttpRequest own(server.url("/z"));
  own.setValue("gzip", "Accept-Encoding");  // a caller's own header must not turn decoding off
  for (const auto& request : {HttpRequest(server.url("/z")), own}) {
    auto answer = fetch(request);
    ASSERT_FALSE(answer.error);
    EXPECT_EQ(answer.text(), plain);
  }
  EXPECT_NE(server.requests()[0].header("Accept-Encoding").find("gzip"), std::string::npos);
}

TEST_F(HttpSessionTest, RedirectsFollowThePolicy) {
  // The policy of the SDK's URL session layer: refuse 300/301/302/307.
  auto config = HttpSessionConfiguration::defaultConfiguration();
  std::vector<int> asked;
  std::mutex askedMutex;
  config.redirectPolicy = [&](int status, const HttpResponse&, const HttpRequest&) {
    std::lock_guard<std::mutex> lock(askedMutex);
    asked.push_back(status);
    return (status == 300 || status == 301 || status == 302 || status == 307) ? RedirectDecision::refuse()
                                                                               : RedirectDecision::follow();
  };
  auto policySession = HttpSession::create(config);
  server.on("POST", "/target", Answer::text(200, "arrived"));
  server.on("GET", "/target", Answer::text(200, "arrived"));

  struct Case {
    int status;
    bool followed;
    const char* methodAtTarget;
  };
  for (Case c : {Case{300, false, ""}, Case{301, false, ""}, Case{302, false, ""}, Case{307, false, ""},
                 Case{303, true, "GET"}, Case{308, true, "POST"}}) {
    SCOPED_TRACE(c.status);
    server.clearRequests();
    std::string from = "/from" + std::to_string(c.status);
    server.on("POST", from, Answer::redirect(c.status, "/target").withHeader("X-Hop", "1"));
    HttpRequest request(server.url(from), "POST");
    request.setBody("payload");
    auto answer = fetch(request, policySession);
    ASSERT_FALSE(answer.error) << answer.error->description();
    if (!c.followed) {
      EXPECT_EQ(answer.statusCode(), c.status);
      EXPECT_EQ(answer.response->valueForHeader("x-hop").value_or(""), "1");
      EXPECT_EQ(server.requestCount(), 1u);
      continue;
    }
    EXPECT_EQ(answer.statusCode(), 200);
    EXPECT_EQ(answer.text(), "arrived");
    EXPECT_EQ(answer.response->url(), server.url("/target"));
    auto requests = server.requests("/target");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, c.methodAtTarget);
    EXPECT_EQ(requests[0].body, std::string(c.methodAtTarget) == "POST" ? "payload" : "");
  }
  EXPECT_EQ(asked, (std::vector<int>{300, 301, 302, 307, 303, 308}));
}

TEST_F(HttpSessionTest, RedirectPolicyCanReplaceTheRequest) {
  auto config = HttpSessionConfiguration::defaultConfiguration();
  std::string other = server.url("/other");
  config.redirectPolicy = [other](int, const HttpResponse&, const HttpRequest& proposed) {
    HttpRequest replacement(other, "PUT");
    replacement.setBody("replaced");
    replacement.setValue(proposed.url(), "X-Proposed");
    return RedirectDecision::replace(replacement);
  };
  server.on("GET", "/moved", Answer::redirect(301, "/elsewhere"));
  server.on("PUT", "/other", Answer::text(200, "ok"));
  auto answer = fetch(HttpRequest(server.url("/moved")), HttpSession::create(config));
  ASSERT_FALSE(answer.error);
  EXPECT_EQ(answer.text(), "ok");
  auto requests = server.requests("/other");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "PUT");
  EXPECT_EQ(requests[0].body, "replaced");
  EXPECT_EQ(requests[0].header("X-Proposed"), server.url("/elsewhere"));
  EXPECT_TRUE(server.requests("/elsewhere").empty());
}

TEST_F(HttpSessionTest, RedirectLoopEndsWithTooManyRedirects) {
  server.on("GET", "/loop", Answer::redirect(302, "/loop"));
  auto answer = fetch(HttpRequest(server.url("/loop")));
  ASSERT_TRUE(answer.error);
  EXPECT_EQ(answer.error->code, URLError::kHTTPTooManyRedirects);
}

TEST_F(HttpSessionTest, TransportFailuresMapToStableCodes) {
  int closedPort;
  {
    LoopbackServer gone;
    closedPort = gone.port();
  }
  server.on("GET", "/hangup", Answer::close());
  server.on("GET", "/slow", Answer::text(200, "late").after(4));

  HttpRequest slow(server.url("/slow"));
  slow.setTimeoutInterval(1);
  struct Case {
    HttpRequest request;
    std::vector<int64_t> codes;
  };
  std::vector<Case> cases = {
      {HttpRequest(server.url("/hangup")), {URLError::kNetworkConnectionLost, URLError::kBadServerResponse}},
      {slow, {URLError::kTimedOut}},
      {HttpRequest("http://127.0.0.1:" + std::to_string(closedPort) + "/"), {URLError::kCannotConnectToHost}},
      {HttpRequest("ftp://127.0.0.1/file"), {URLError::kUnsupportedURL}},
      {HttpRequest("file:///etc/passwd"), {URLError::kUnsupportedURL}},
      {HttpRequest("127.0.0.1/no-scheme"), {URLError::kUnsupportedURL}},
      // TLS is required and verified: a plain-text server fails the handshake.
      {HttpRequest("https://127.0.0.1:" + std::to_string(server.port()) + "/hangup"),
       {URLError::kSecureConnectionFailed}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request.url());
    auto answer = fetch(c.request);
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(answer.error->domain, "NSURLErrorDomain");
    EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), answer.error->code), c.codes.end())
        << answer.error->description();
    EXPECT_FALSE(answer.response);
    EXPECT_FALSE(answer.error->localizedDescription().empty());
  }
}

TEST_F(HttpSessionTest, AResponseHeadWithoutEndIsRefused) {
  Answer padded = Answer::text(200, "body");
  for (int index = 0; index < 300; ++index) padded.withHeader("X-Pad-" + std::to_string(index), std::string(1000, 'p'));
  server.on("GET", "/padded", padded);
  auto answer = fetch(HttpRequest(server.url("/padded")));
  ASSERT_TRUE(answer.error);
  EXPECT_EQ(answer.error->code, URLError::kBadServerResponse);
  EXPECT_FALSE(answer.response);
}

TEST_F(HttpSessionTest, ResourceTimeoutBoundsTheWholeTransfer) {
  // Bytes keep coming, so only the whole-transfer limit can end it.
  server.on("GET", "/trickle", Answer::streamed(std::vector<std::string>(100, "x"), 0.2));
  auto config = HttpSessionConfiguration::defaultConfiguration();
  config.timeoutIntervalForRequest = 5;
  config.timeoutIntervalForResource = 1;
  auto answer = fetch(HttpRequest(server.url("/trickle")), HttpSession::create(config));
  ASSERT_TRUE(answer.error);
  EXPECT_EQ(answer.error->code, URLError::kTimedOut);
}

TEST_F(HttpSessionTest, CompletionNeverRunsInsideTheStartingCall) {
  // Delivered on the main queue, an inline call would run before resume() or
  // cancel() returned; queued, it runs only when the test pumps.
  auto config = HttpSessionConfiguration::defaultConfiguration();
  config.delegateQueue = mainQueue();
  auto mainSession = HttpSession::create(config);
  int ended = 0;
  auto refused = mainSession->dataTask(HttpRequest("gopher://127.0.0.1/"), [&](HttpResult) { ended++; });
  auto cancelled = mainSession->dataTask(HttpRequest(server.url("/")), [&](HttpResult) { ended++; });
  refused->resume();
  cancelled->cancel();
  EXPECT_EQ(ended, 0);
  EXPECT_TRUE(testkit::runUntil([&] { return ended == 2; }));
}

TEST_F(HttpSessionTest, CancelCompletesExactlyOnceWithCancelled) {
  server.on("GET", "/slow", Answer::text(200, "late").after(5));
  Inbox<HttpResult> inbox;
  auto running = session->dataTask(HttpRequest(server.url("/slow")), [&](HttpResult r) { inbox.put(r); });
  auto suspended = session->dataTask(HttpRequest(server.url("/slow")), [&](HttpResult r) { inbox.put(r); });
  running->resume();
  ASSERT_TRUE(server.waitForRequests(1));
  running->cancel();
  running->cancel();
  suspended->cancel();
  suspended->resume();  // too late: it already ended
  auto results = inbox.waitFor(2);
  ASSERT_EQ(results.size(), 2u);
  for (const auto& r : results) {
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(URLError::isCancelled(*r.error));
  }
  // Nothing else arrives even once the server would have answered.
  session->finishTasksAndInvalidate();
  EXPECT_EQ(inbox.waitFor(3, 1).size(), 2u);
  EXPECT_EQ(running->state(), HttpTaskState::Completed);
  EXPECT_EQ(suspended->state(), HttpTaskState::Completed);
}

class Recorder : public HttpSessionDelegate {
 public:
  void didReceiveResponse(HttpTask& task, const HttpResponse& response) override {
    events.put("response:" + std::to_string(task.taskIdentifier()) + ":" + std::to_string(response.statusCode()));
  }
  void didReceiveData(HttpTask&, const Bytes& chunk) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      data.insert(data.end(), chunk.begin(), chunk.end());
      chunks++;
    }
    if (chunks == 1) events.put("data");
  }
  void didComplete(HttpTask& task, const std::optional<Error>& error) override {
    events.put("complete:" + std::to_string(task.taskIdentifier()) + ":" +
               (error ? std::to_string(error->code) : "none"));
  }
  void didBecomeInvalid(const std::optional<Error>&) override { events.put("invalid"); }

  Inbox<std::string> events;
  std::mutex mutex;
  Bytes data;
  int chunks = 0;
};

TEST_F(HttpSessionTest, StreamArrivesCompleteAndInOrderAcrossArbitraryChunks) {
  std::mt19937 random(7);
  std::string payload;
  for (int i = 0; i < 200000; ++i) payload.push_back(static_cast<char>(random() & 0xff));
  std::vector<std::string> pieces;
  for (size_t at = 0; at < payload.size();) {
    size_t length = std::min<size_t>(1 + random() % 9000, payload.size() - at);
    pieces.push_back(payload.substr(at, length));
    at += length;
  }
  server.on("GET", "/stream", Answer::streamed(pieces, 0.0005));

  auto recorder = std::make_shared<Recorder>();
  auto streaming = HttpSession::create(HttpSessionConfiguration::defaultConfiguration(), recorder);
  auto task = streaming->streamTask(HttpRequest(server.url("/stream")));
  task->resume();
  streaming->finishTasksAndInvalidate();  // the running task still ends normally
  auto events = recorder->events.waitFor(4);
  std::string id = std::to_string(task->taskIdentifier());
  EXPECT_EQ(events, (std::vector<std::string>{"response:" + id + ":200", "data", "complete:" + id + ":none",
                                              "invalid"}));
  {
    std::lock_guard<std::mutex> lock(recorder->mutex);
    EXPECT_EQ(std::string(recorder->data.begin(), recorder->data.end()), payload);
  }
}

// A delegate that holds its queue: the server sends 16 MiB at once, but
// no more than 1 MiB is ever taken from the connection for the delegate to
// read; once it reads again everything arrives, complete and in order.
TEST_F(HttpSessionTest, AStreamFasterThanItsDelegatePausesInsteadOfQueueing) {
  constexpr size_t kLimit = size_t(1) << 20;
  std::vector<std::string> pieces;
  std::string round;
  for (int i = 0; i < 16; ++i) {
    pieces.push_back(std::string(64 * 1024, static_cast<char>('a' + i)));
    round += pieces.back();
  }
  Answer answer = Answer::streamed(pieces);
  answer.repeat = 16;
  server.on("GET", "/flood", answer);

  struct Slow : Recorder {
    void didReceiveData(HttpTask& task, const Bytes& chunk) override {
      std::unique_lock<std::mutex> lock(gate);
      opened.wait(lock, [&] { return open; });
      lock.unlock();
      Recorder::didReceiveData(task, chunk);
    }
    std::mutex gate;
    std::condition_variable opened;
    bool open = false;
  };
  auto slow = std::make_shared<Slow>();
  auto streaming = HttpSession::create(HttpSessionConfiguration::defaultConfiguration(), slow);
  auto task = streaming->streamTask(HttpRequest(server.url("/flood")));
  task->resume();
  ASSERT_TRUE(testkit::runUntil([&] { return task->countOfBytesReceived() >= int64_t(kLimit / 2); }));
  testkit::runFor(0.3);  // time for a flood to show; the bound holds however long this is
  EXPECT_LE(task->countOfBytesReceived(), int64_t(kLimit));
  {
    std::lock_guard<std::mutex> lock(slow->gate);
    slow->open = true;
  }
  slow->opened.notify_all();
  auto events = slow->events.waitFor(3, 60);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[2], "complete:" + std::to_string(task->taskIdentifier()) + ":none");
  std::string expected;
  for (int i = 0; i < 16; ++i) expected += round;
  std::lock_guard<std::mutex> lock(slow->mutex);
  EXPECT_TRUE(std::string(slow->data.begin(), slow->data.end()) == expected);
}

// A stream carries its request's headers and nothing the layer would add
// for decoding; an answer compressed anyway is still decoded.
TEST_F(HttpSessionTest, AStreamSendsOnlyItsOwnHeaders) {
  server.on("POST", "/stream", Answer::gzip(200, "{\"a\": 1}", "application/json"));
  auto recorder = std::make_shared<Recorder>();
  auto streaming = HttpSession::create(HttpSessionConfiguration::defaultConfiguration(), recorder);
  HttpRequest request(server.url("/stream"), "POST");
  request.setValue("application/json", "Accept");
  request.setBody(Bytes{'{', '}'});
  streaming->streamTask(request)->resume();
  ASSERT_EQ(recorder->events.waitFor(3).size(), 3u);
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_FALSE(server.requests()[0].hasHeader("Accept-Encoding"));
  EXPECT_EQ(server.requests()[0].header("Accept"), "application/json");
  std::lock_guard<std::mutex> lock(recorder->mutex);
  EXPECT_EQ(std::string(recorder->data.begin(), recorder->data.end()), "{\"a\": 1}");

  // Data tasks still ask for compressed answers.
  fetch(HttpRequest(server.url("/stream"), "POST"));
  EXPECT_TRUE(server.requests().back().hasHeader("Accept-Encoding"));
}

TEST_F(HttpSessionTest, InvalidateAndCancelEndsEveryTaskThenTheSession) {
  server.on("GET", "/hang", Answer::streamed({"first", "never"}, 30));
  auto recorder = std::make_shared<Recorder>();
  // Delivered on the main queue so that nothing is delivered before the
  // late task below was started.
  auto config = HttpSessionConfiguration::defaultConfiguration();
  config.delegateQueue = mainQueue();
  auto streaming = HttpSession::create(config, recorder);
  auto a = streaming->streamTask(HttpRequest(server.url("/hang")));
  auto b = streaming->streamTask(HttpRequest(server.url("/hang")));
  a->resume();
  b->resume();
  ASSERT_TRUE(server.waitForRequests(2));
  streaming->invalidateAndCancel();
  auto late = streaming->streamTask(HttpRequest(server.url("/hang")));
  late->resume();

  ASSERT_TRUE(testkit::runUntil([&] {
    auto now = recorder->events.waitFor(0, 0);
    return std::find(now.begin(), now.end(), "invalid") != now.end();
  }));
  testkit::runFor(0.05);
  auto events = recorder->events.waitFor(0, 0);
  std::vector<std::string> completions;
  for (const auto& e : events) {
    if (e.rfind("complete:", 0) == 0) completions.push_back(e);
  }
  ASSERT_EQ(completions.size(), 3u);
  for (const auto& c : completions) EXPECT_EQ(c.substr(c.rfind(':') + 1), "-999") << c;
  EXPECT_EQ(events.back(), "invalid");
  EXPECT_EQ(std::count(events.begin(), events.end(), "invalid"), 1);
}

TEST_F(HttpSessionTest, CompletionsRunOnTheGivenQueue) {
  server.on("GET", "/a", Answer::text(200, "a"));
  auto config = HttpSessionConfiguration::defaultConfiguration();
  config.delegateQueue = mainQueue();
  auto mainSession = HttpSession::create(config);
  std::optional<bool> onMain;
  mainSession->dataTask(HttpRequest(server.url("/a")), [&](HttpResult) { onMain = isMainThread(); })->resume();
  ASSERT_TRUE(testkit::runUntil([&] { return onMain.has_value(); }));
  EXPECT_TRUE(*onMain);
}

// Requests to one host reuse the connection (keep-alive), also across
// sessions: every session shares the one transfer engine.
TEST_F(HttpSessionTest, RequestsToOneHostReuseTheConnection) {
  server.on("POST", "/keep", Answer::text(200, "ok"));
  HttpRequest request(server.url("/keep"), "POST");
  request.setBody(std::string(8192, 'x'));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fetch(request).statusCode(), 200);
  auto other = HttpSession::create(HttpSessionConfiguration::ephemeralConfiguration());
  EXPECT_EQ(fetch(request, other).statusCode(), 200);
  auto requests = server.requests("/keep");
  ASSERT_EQ(requests.size(), 4u);
  for (const auto& r : requests) EXPECT_EQ(r.remotePort, requests[0].remotePort) << "a new connection";
}

// Transfers reuse the easy handles of ended ones: nothing of a request
// (method, body, headers) reaches the next one.
TEST_F(HttpSessionTest, ReusedHandlesCarryNothingOver) {
  server.on("POST", "/a", Answer::text(200, "post"));
  server.on("GET", "/a", Answer::text(200, "get"));
  server.on("PUT", "/a", Answer::text(200, "put"));
  server.on("HEAD", "/a", Answer::text(200, ""));
  struct Step {
    std::string method;
    std::string body;
    std::string header;  // X-Step value, empty for none
  };
  const std::vector<Step> steps = {
      {"POST", std::string(5000, 'p'), "one"}, {"GET", "", ""},     {"PUT", "put body", ""},
      {"HEAD", "", "two"},                     {"GET", "", ""},     {"POST", "", ""},
  };
  for (const Step& step : steps) {
    HttpRequest request(server.url("/a"), step.method);
    if (!step.body.empty()) request.setBody(step.body);
    if (!step.header.empty()) request.setValue(step.header, "X-Step");
    auto answer = fetch(request);
    ASSERT_FALSE(answer.error) << step.method << ": " << answer.error->description();
    EXPECT_EQ(answer.statusCode(), 200) << step.method;
  }
  auto requests = server.requests("/a");
  ASSERT_EQ(requests.size(), steps.size());
  for (size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(requests[i].method, steps[i].method) << i;
    EXPECT_EQ(requests[i].body, steps[i].body) << i;
    EXPECT_EQ(requests[i].hasHeader("X-Step"), !steps[i].header.empty()) << i;
    if (!steps[i].header.empty()) {
      EXPECT_EQ(requests[i].header("X-Step"), steps[i].header) << i;
    }
  }
}

TEST_F(HttpSessionTest, DownloadWritesATemporaryFileAndNamesIt) {
  struct Case {
    std::string path;
    std::string disposition;
    std::string expectedName;
  };
  std::vector<Case> cases = {
      {"/files/clip.mp4?sig=1", "", "clip.mp4"},
      {"/files/x", "attachment; filename=\"report 1.pdf\"", "report 1.pdf"},
      {"/files/x", "attachment; filename*=UTF-8''na%C3%AFve.txt", "na\xC3\xAFve.txt"},
      {"/files/x", "attachment; filename=\"../../etc/passwd\"", "passwd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.disposition);
    auto answer = Answer::text(200, "file body " + c.expectedName, "Video/MP4; codecs=\"avc1\"");
    if (!c.disposition.empty()) answer.withHeader("Content-Disposition", c.disposition);
    server.onPrefix("GET", "/files/", answer);
    Inbox<std::tuple<std::string, std::string, std::string, bool>> inbox;
    auto task = session->downloadTask(HttpRequest(server.url(c.path)), [&](HttpDownloadResult r) {
      ASSERT_FALSE(r.error);
      std::ifstream in(r.location, std::ios::binary);
      std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      inbox.put({content, r.response->suggestedFilename(), r.response->mimeType(), true});
      inbox.put({r.location, "", "", false});
    });
    task->resume();
    auto results = inbox.waitFor(2);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(std::get<0>(results[0]), "file body " + c.expectedName);
    EXPECT_EQ(std::get<1>(results[0]), c.expectedName);
    EXPECT_EQ(std::get<2>(results[0]), "video/mp4");
    // The file is gone once the handler returned.
    std::string location = std::get<0>(results[1]);
    EXPECT_TRUE(testkit::runUntil([&] { return ::access(location.c_str(), F_OK) != 0; }, 5));
  }
}

TEST_F(HttpSessionTest, UploadStreamsTheFileBody) {
  std::string path = ::testing::TempDir() + "/upload-" + std::to_string(::getpid());
  std::string content(300000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
  {
    std::ofstream out(path, std::ios::binary);
    out << content;
  }
  server.on("POST", "/up", Answer::text(200, "stored"));
  Inbox<HttpResult> inbox;
  HttpRequest request(server.url("/up"), "POST");
  request.setValue("application/octet-stream", "Content-Type");
  session->uploadTask(request, path, [&](HttpResult r) { inbox.put(r); })->resume();
  session->uploadTask(request, path + ".missing", [&](HttpResult r) { inbox.put(r); })->resume();
  auto results = inbox.waitFor(2);
  ASSERT_EQ(results.size(), 2u);
  std::sort(results.begin(), results.end(), [](const HttpResult& x, const HttpResult& y) { return !x.error && y.error; });
  EXPECT_FALSE(results[0].error);
  EXPECT_EQ(results[0].text(), "stored");
  ASSERT_TRUE(results[1].error);
  EXPECT_EQ(results[1].error->code, URLError::kFileDoesNotExist);
  auto requests = server.requests("/up");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, content);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace platform

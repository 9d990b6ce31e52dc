#include "sdk/utilities/ZULNetwork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "platform/net/URLError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"
#include "sdk/utilities/ZULGzip.h"
#include "sdk/utilities/tests/SdkTestEnvironment.h"
#include "testing/FakeReachability.h"
#include "testing/LoopbackServer.h"
#include "testing/MainQueuePump.h"
#include "testing/VirtualClockFixture.h"

namespace {

using platform::Bytes;
using platform::Error;
using platform::HttpResponse;

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct Outcome {
  std::optional<HttpResponse> response;
  std::optional<Bytes> data;
  std::optional<Error> error;
  std::thread::id thread;
  std::string text() const { return data ? std::string(data->begin(), data->end()) : std::string(); }
};

// Collects every call of a completion handler.
struct Calls {
  std::shared_ptr<std::vector<Outcome>> outcomes = std::make_shared<std::vector<Outcome>>();
  ZULNetworkCompletionHandler handler() const {
    return [outcomes = outcomes](std::optional<HttpResponse> response, std::optional<Bytes> data,
                                 std::optional<Error> error) {
      outcomes->push_back({std::move(response), std::move(data), std::move(error), std::this_thread::get_id()});
    };
  }
  size_t size() const { return outcomes->size(); }
  const Outcome& at(size_t index) const { return outcomes->at(index); }
};

struct LogLine {
  ZULNetworkLogLevel level;
  int64_t code;
  std::string message;
  std::vector<platform::Value> contexts;
};

struct RecordingLogger : ZULNetworkLoggerDelegate {
  std::mutex mutex;
  std::vector<LogLine> lines;
  void ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t code, const std::string& message,
                               const std::vector<platform::Value>& contexts) override {
    std::lock_guard<std::mutex> guard(mutex);
    lines.push_back({level, code, message, contexts});
  }
  void ZULNetwork_logWithLevelContext(ZULNetworkLogLevel level, int64_t code, const std::string& message,
                                      const platform::Value& context) override {
    ZULNetwork_logWithLevel(level, code, message, std::vector<platform::Value>{context});
  }
  void ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t code, const std::string& message) override {
    ZULNetwork_logWithLevel(level, code, message, std::vector<platform::Value>{});
  }
  size_t count(int64_t code) {
    std::lock_guard<std::mutex> guard(mutex);
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const LogLine& l) { return l.code == code; }));
  }
};

struct CountingReachabilityDelegate : ZULNetworkReachabilityDelegate {
  int calls = 0;
  std::vector<bool> connectedSeen;
  std::weak_ptr<ZULNetwork> network;
  void reachabilityDidChange() override {
    ++calls;
    if (auto n = network.lock()) connectedSeen.push_back(n->isNetworkConnected());
  }
};

std::string temporaryDirectory() {
  return platform::StandardFolders::applicationSupport() + "/ZUL/Network/ZULNetworkTemporaryDirectory";
}

std::vector<std::string> temporaryFiles() {
  auto listing = platform::fs::contentsOfDirectory(temporaryDirectory());
  return listing ? *listing : std::vector<std::string>{};
}

class ZULNetworkTest : public testkit::MainQueuePump {
 protected:
  sdktest::SdkTestEnvironment env;
  testkit::FakeReachability fake;
  testkit::LoopbackServer server;
  std::shared_ptr<ZULNetwork> network = ZULNetwork::initWithReachabilityHost("reach.test");

  ~ZULNetworkTest() override { ZULNetworkURLSession::setSessionFactoryForTesting(nullptr); }

  // Waits for the first outcome, then gives a possible second one a chance.
  void finish(const Calls& calls) {
    ASSERT_TRUE(runUntil([&] { return calls.size() > 0; }));
    runFor(0.05);
  }
};

TEST_F(ZULNetworkTest, PostSendsTheGzippedBodyWithFixedHeaders) {
  ASSERT_TRUE(network);
  server.on("POST", "/upload", testkit::Answer::text(200, "stored"));
  const Bytes payload = bytes(std::string(3000, 'a') + "payload");
  platform::HttpHeaders headers{{"Content-Type", "text/plain"}, {"Content-Encoding", "br"}, {"X-Caller", "1"}};
  Calls calls;
  std::optional<std::string> sessionID =
      network->postURL(server.url("/upload"), headers, payload, std::nullopt, false, calls.handler());
  ASSERT_TRUE(sessionID);
  EXPECT_EQ(sessionID->rfind("com.zul.network.background-upload-", 0), 0u);
  EXPECT_TRUE(network->hasUploadInProgress());
  finish(calls);

  ASSERT_EQ(calls.size(), 1u);
  const Outcome& outcome = calls.at(0);
  EXPECT_FALSE(outcome.error);
  ASSERT_TRUE(outcome.response);
  EXPECT_EQ(outcome.response->statusCode(), 200);
  EXPECT_EQ(outcome.text(), "stored");
  EXPECT_EQ(outcome.thread, std::this_thread::get_id());  // the main queue
  EXPECT_FALSE(network->hasUploadInProgress());

  ASSERT_EQ(server.requests().size(), 1u);
  const testkit::RecordedRequest request = server.requests().at(0);
  EXPECT_EQ(request.body, std::string(payload.begin(), payload.end()));  // as received after un-gzipping
  EXPECT_EQ(request.header("Content-Encoding"), "gzip");
  EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.header("X-Caller"), "1");
  EXPECT_EQ(request.header("Content-Length"), std::to_string(ZULGzip::zul_dataByGzippingData(payload)->size()));
}

TEST_F(ZULNetworkTest, GetKeepsCallerHeadersAndDeliversAnyStatusWithItsBody) {
  server.on("GET", "/ok", testkit::Answer::text(200, "fine").withHeader("X-Answer", "42"));
  server.on("GET", "/broken", testkit::Answer::text(500, "server trouble"));
  for (const auto& [path, status, body] : {std::tuple<std::string, int, std::string>{"/ok", 200, "fine"},
                                           {"/broken", 500, "server trouble"}}) {
    Calls calls;
    platform::HttpHeaders headers{{"Content-Type", "text/x-caller"}, {"Accept", "x/y"}};
    ASSERT_TRUE(network->getURL(server.url(path), headers, std::nullopt, false, calls.handler()));
    finish(calls);
    ASSERT_EQ(calls.size(), 1u) << path;
    EXPECT_FALSE(calls.at(0).error) << path;
    ASSERT_TRUE(calls.at(0).response) << path;
    EXPECT_EQ(calls.at(0).response->statusCode(), status);
    EXPECT_EQ(calls.at(0).text(), body);
    if (status == 200) {
      EXPECT_EQ(calls.at(0).response->valueForHeader("X-Answer"), "42");
    }
  }
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].header("Content-Type"), "text/x-caller");
  EXPECT_EQ(requests[0].header("Accept"), "x/y");
  EXPECT_FALSE(requests[0].hasHeader("Content-Encoding"));
}

TEST_F(ZULNetworkTest, RefusesRedirects300301302And307AndFollows303And308) {
  server.on("GET", "/target", testkit::Answer::text(200, "arrived"));
  for (int status : {300, 301, 302, 307, 303, 308}) {
    const bool followed = status == 303 || status == 308;
    server.clearRequests();
    const std::string path = "/moved" + std::to_string(status);
    server.on("GET", path, testkit::Answer::redirect(status, server.url("/target")));
    Calls calls;
    ASSERT_TRUE(network->getURL(server.url(path), std::nullopt, std::nullopt, false, calls.handler()));
    finish(calls);
    ASSERT_EQ(calls.size(), 1u) << status;
    EXPECT_FALSE(calls.at(0).error) << status;
    ASSERT_TRUE(calls.at(0).response) << status;
    EXPECT_EQ(calls.at(0).response->statusCode(), followed ? 200 : status);
    EXPECT_EQ(server.requests("/target").size(), followed ? 1u : 0u) << status;
  }
}

TEST_F(ZULNetworkTest, TransportFailuresArriveOnceAsTheSystemError) {
  server.on("POST", "/hangup", testkit::Answer::close());
  server.on("GET", "/slow", testkit::Answer::text(200, "late").after(5));
  network->setTimeoutInterval(0);
  EXPECT_EQ(network->timeoutInterval(), 60.0);
  network->setTimeoutInterval(0.5);

  Calls closed;
  ASSERT_TRUE(network->postURL(server.url("/hangup"), bytes("x"), std::nullopt, false, closed.handler()));
  Calls slow;
  ASSERT_TRUE(network->getURL(server.url("/slow"), std::nullopt, std::nullopt, false, slow.handler()));
  finish(closed);
  finish(slow);

  ASSERT_EQ(closed.size(), 1u);
  EXPECT_FALSE(closed.at(0).response);
  EXPECT_FALSE(closed.at(0).data);
  ASSERT_TRUE(closed.at(0).error);
  EXPECT_EQ(closed.at(0).error->domain, platform::URLError::kDomain);

  ASSERT_EQ(slow.size(), 1u);
  ASSERT_TRUE(slow.at(0).error);
  EXPECT_EQ(slow.at(0).error->domain, platform::URLError::kDomain);
  EXPECT_EQ(slow.at(0).error->code, platform::URLError::kTimedOut);
  EXPECT_FALSE(network->hasUploadInProgress());
}

TEST_F(ZULNetworkTest, RefusedAddressesReportCode1OnceAndFetchNothing) {
  // Only http and https addresses with a host are fetched.
  platform::SerialQueue queue("test.callbacks");
  for (const std::string url : {"", "file:///etc/passwd", "ftp://127.0.0.1/x", "not an address", "http:///nohost"}) {
    for (bool post : {true, false}) {
      Calls calls;
      std::optional<std::string> sessionID =
          post ? network->postURL(url, bytes("secret"), std::nullopt, true, calls.handler())
               : network->getURL(url, std::nullopt, std::nullopt, false, calls.handler());
      EXPECT_FALSE(sessionID) << url;
      EXPECT_EQ(calls.size(), 0u) << "the handler runs asynchronously";
      finish(calls);
      ASSERT_EQ(calls.size(), 1u) << url;
      ASSERT_TRUE(calls.at(0).error);
      EXPECT_EQ(calls.at(0).error->domain, kZULNetworkErrorDomain);
      EXPECT_EQ(calls.at(0).error->code, kZULNetworkErrorCodeInvalidURL) << url;
      EXPECT_EQ(calls.at(0).error->userInfo.get("Context"), platform::Value("Failed to create network request"));
    }
  }
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_TRUE(temporaryFiles().empty());
  EXPECT_TRUE(env.logged("I-NET900002"));

  // A caller's queue receives the failure there.
  std::atomic<bool> onQueue{false};
  std::atomic<bool> called{false};
  network->getURL("", std::nullopt, queue, false, [&](auto, auto, auto) {
    onQueue = queue.isCurrent();
    called = true;
  });
  ASSERT_TRUE(runUntil([&] { return called.load(); }));
  EXPECT_TRUE(onQueue);
}

TEST_F(ZULNetworkTest, ASessionThatCannotStartIsReportedOnceWithCode2) {
  ZULNetworkURLSession::setSessionFactoryForTesting(
      [](platform::HttpSessionConfiguration) { return std::shared_ptr<platform::HttpSession>(); });
  for (bool post : {true, false}) {
    Calls calls;
    std::optional<std::string> sessionID =
        post ? network->postURL(server.url("/x"), bytes("body"), std::nullopt, false, calls.handler())
             : network->getURL(server.url("/x"), std::nullopt, std::nullopt, false, calls.handler());
    EXPECT_FALSE(sessionID);
    finish(calls);
    runFor(0.1);
    ASSERT_EQ(calls.size(), 1u) << (post ? "POST" : "GET");
    ASSERT_TRUE(calls.at(0).error);
    EXPECT_EQ(calls.at(0).error->code, kZULNetworkErrorCodeSessionCreation);
    EXPECT_EQ(calls.at(0).error->userInfo.get("Context"), platform::Value("Cannot create network session"));
    EXPECT_FALSE(network->hasUploadInProgress());
  }
  EXPECT_TRUE(env.logged("I-NET900002"));  // code 4 still goes to the log
}

TEST_F(ZULNetworkTest, ReleasingTheHelperDropsTheOutcome) {
  server.on("GET", "/slow", testkit::Answer::text(200, "late").after(0.3));
  Calls calls;
  ASSERT_TRUE(network->getURL(server.url("/slow"), std::nullopt, std::nullopt, false, calls.handler()));
  network.reset();
  ASSERT_TRUE(server.waitForRequests(1));
  runFor(0.8);
  EXPECT_EQ(calls.size(), 0u);
}

TEST_F(ZULNetworkTest, ReachabilityReportsFlipTheConnectedFlagOnTheMainQueue) {
  auto delegate = std::make_shared<CountingReachabilityDelegate>();
  delegate->network = network;
  network->setReachabilityDelegate(delegate);
  EXPECT_FALSE(network->isNetworkConnected());

  fake.setFlags("reach.test", 0x2);
  ASSERT_TRUE(runUntil([&] { return delegate->calls == 1; }));
  EXPECT_TRUE(network->isNetworkConnected());
  fake.setFlags("reach.test", 0x0);
  ASSERT_TRUE(runUntil([&] { return delegate->calls == 2; }));
  EXPECT_FALSE(network->isNetworkConnected());
  EXPECT_EQ(delegate->connectedSeen, (std::vector<bool>{true, false}));

  // Every report goes out, also when the flag stays; 3 counts as connected.
  auto checker = ZULReachabilityChecker::initWithReachabilityDelegate({}, "other.test");
  for (const auto& [status, connected] : {std::pair{3, true}, {2, true}, {0, false}, {1, false}}) {
    network->reachability(*checker, status);
    EXPECT_EQ(network->isNetworkConnected(), connected) << status;
  }
  EXPECT_EQ(delegate->calls, 6);
}

TEST_F(ZULNetworkTest, LogsThroughItsDelegateOrTheFallbackLine) {
  // Without a delegate: debug needs debug mode; contexts are listed.
  EXPECT_FALSE(network->fallbackLine(7, "quiet", {}));
  EXPECT_EQ(network->fallbackLine(3, "Failed", {platform::Value(), platform::Value("s")}),
            "<Zoruvu/Utilities/Network/ERROR> Failed: (nil), s");
  EXPECT_EQ(network->fallbackLine(4, "", {}), "<Zoruvu/Utilities/Network/WARNING> (Message was empty)");
  network->setIsDebugModeEnabled(true);
  EXPECT_EQ(network->fallbackLine(7, "loud", {}), "<Zoruvu/Utilities/Network/DEBUG> loud");

  // A delegate that is gone is refused; the previous one stays.
  auto logger = std::make_shared<RecordingLogger>();
  network->setLoggerDelegate(logger);
  network->setLoggerDelegate(std::weak_ptr<ZULNetworkLoggerDelegate>());
  EXPECT_EQ(network->loggerDelegate(), logger);
  EXPECT_TRUE(env.logged("I-NET900002"));

  server.on("POST", "/u", testkit::Answer::text(200, ""));
  Calls calls;
  ASSERT_TRUE(network->postURL(server.url("/u"), bytes("a"), std::nullopt, false, calls.handler()));
  finish(calls);
  EXPECT_EQ(logger->count(900000), 1u);
}

// --- URL session layer: spool files and housekeeping ----------------------

class ZULNetworkURLSessionTest : public testkit::MainQueuePump {
 protected:
  sdktest::SdkTestEnvironment env;
  testkit::LoopbackServer server;
  std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();

  platform::HttpRequest post(const std::string& path, const std::string& body) {
    platform::HttpRequest request(server.url(path), "POST");
    request.setBody(body);
    return request;
  }
};

TEST_F(ZULNetworkURLSessionTest, BackgroundPostUploadsFromASpoolFileThatIsRemovedAfterwards) {
  std::vector<std::string> filesDuringUpload;
  std::vector<uint32_t> modesDuringUpload;  // the body may hold identifiers: the user's alone
  server.on("POST", "/spool", [&](const testkit::RecordedRequest&) {
    filesDuringUpload = temporaryFiles();
    modesDuringUpload = {platform::fs::attributes(temporaryDirectory()).value().permissions};
    for (const std::string& name : filesDuringUpload) {
      modesDuringUpload.push_back(platform::fs::attributes(temporaryDirectory() + "/" + name).value().permissions);
    }
    return testkit::Answer::text(200, "ok");
  });
  auto session = ZULNetworkURLSession::initWithNetworkLoggerDelegate(logger);
  session->setBackgroundNetworkEnabled(true);
  std::optional<Outcome> outcome;
  std::optional<std::string> sessionID = session->sessionIDFromAsyncPOSTRequest(
      post("/spool", "spooled body"), [&](auto response, auto data, const std::string&, auto error) {
        outcome = Outcome{response, data, error, std::this_thread::get_id()};
      });
  ASSERT_TRUE(sessionID);
  EXPECT_EQ(ZULNetworkURLSession::sessionFromFetcherMapForSessionID(*sessionID), session);
  ASSERT_TRUE(runUntil([&] { return outcome.has_value(); }));
  EXPECT_EQ(outcome->text(), "ok");
  EXPECT_EQ(server.requests().at(0).body, "spooled body");
  EXPECT_EQ(filesDuringUpload, std::vector<std::string>{"ZULUpload_temp_" + *sessionID});
  EXPECT_EQ(modesDuringUpload, (std::vector<uint32_t>{0700, 0600}));
  EXPECT_TRUE(temporaryFiles().empty());
  EXPECT_EQ(ZULNetworkURLSession::sessionFromFetcherMapForSessionID(*sessionID), nullptr);
}

TEST_F(ZULNetworkURLSessionTest, ASpoolFileThatCannotBeWrittenFallsBackToMemory) {
  server.on("POST", "/spool", testkit::Answer::text(200, "ok"));
  auto session = ZULNetworkURLSession::initWithNetworkLoggerDelegate(logger);
  session->setBackgroundNetworkEnabled(true);
  session->setSessionID("com.zul.network.background-upload-fixed");
  // A folder where the spool file would go makes the write fail.
  const std::string blocker = session->temporaryFilePathWithSessionID(session->sessionID());
  ASSERT_FALSE(platform::fs::createDirectory(blocker + "/inside"));
  std::optional<Outcome> outcome;
  ASSERT_TRUE(session->sessionIDFromAsyncPOSTRequest(post("/spool", "from memory"),
                                                     [&](auto response, auto data, const std::string&, auto error) {
                                                       outcome = Outcome{response, data, error, {}};
                                                     }));
  ASSERT_TRUE(runUntil([&] { return outcome.has_value(); }));
  EXPECT_FALSE(outcome->error);
  EXPECT_EQ(server.requests().at(0).body, "from memory");
  EXPECT_EQ(logger->count(901000), 1u);
}

class ZULNetworkHousekeepingTest : public ZULNetworkURLSessionTest {
 protected:
  testkit::VirtualClockScope clock;
};

TEST_F(ZULNetworkHousekeepingTest, RemovesFilesMoreThanAnHourAwayFromNow) {
  auto session = ZULNetworkURLSession::initWithNetworkLoggerDelegate(logger);
  ASSERT_TRUE(session->ensureTemporaryDirectoryExists());
  const std::string file = temporaryDirectory() + "/ZULUpload_temp_old";
  for (const auto& [offset, removed] : {std::pair{3601.0, true}, {3599.0, false}, {-3601.0, true}, {-3599.0, false}}) {
    ASSERT_FALSE(platform::fs::writeFile(file, std::string_view("x")));
    auto attributes = platform::fs::attributes(file);
    ASSERT_TRUE(attributes);
    clock.clock()->setNow(attributes->creationDate + offset);
    session->maybeRemoveTempFilesAtURL(session->networkDirectoryPath(), ZULNetworkURLSession::kExpiringTime);
    EXPECT_EQ(platform::fs::exists(file), !removed) << offset;
  }
  EXPECT_EQ(logger->count(901013), 0u);
}

TEST_F(ZULNetworkHousekeepingTest, APostStartRemovesStaleSpoolFiles) {
  server.on("POST", "/u", testkit::Answer::text(200, "ok"));
  auto session = ZULNetworkURLSession::initWithNetworkLoggerDelegate(logger);
  ASSERT_TRUE(session->ensureTemporaryDirectoryExists());
  const std::string stale = temporaryDirectory() + "/ZULUpload_temp_stale";
  ASSERT_FALSE(platform::fs::writeFile(stale, std::string_view("left over")));
  clock.clock()->setNow(platform::fs::attributes(stale)->creationDate + 3601);
  bool done = false;
  ASSERT_TRUE(session->sessionIDFromAsyncPOSTRequest(post("/u", "b"), [&](auto, auto, auto&, auto) { done = true; }));
  EXPECT_FALSE(platform::fs::exists(stale));
  ASSERT_TRUE(runUntil([&] { return done; }));
}

TEST_F(ZULNetworkURLSessionTest, BackgroundBookkeeping) {
  // A second system handler for one ID replaces the first and is reported.
  auto session = ZULNetworkURLSession::initWithNetworkLoggerDelegate(logger);
  int first = 0, second = 0;
  session->addSystemCompletionHandler([&] { ++first; }, "com.zul.network.background-upload-a");
  session->addSystemCompletionHandler([&] { ++second; }, "com.zul.network.background-upload-a");
  EXPECT_EQ(logger->count(901011), 1u);
  session->addSystemCompletionHandler(nullptr, "x");
  session->addSystemCompletionHandler([] {}, "");
  EXPECT_EQ(logger->count(901009), 1u);
  EXPECT_EQ(logger->count(901010), 1u);
  session->callSystemCompletionHandler("com.zul.network.background-upload-a");
  drain();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);

  // Background events keep the system's handler only for our own session IDs.
  int ours = 0, foreign = 0;
  ZULNetwork::handleEventsForBackgroundURLSessionID("com.zul.network.background-upload-c", [&] { ++ours; });
  ZULNetwork::handleEventsForBackgroundURLSessionID("com.other.session", [&] { ++foreign; });
  session->callSystemCompletionHandler("com.zul.network.background-upload-c");
  session->callSystemCompletionHandler("com.other.session");
  drain();
  EXPECT_EQ(ours, 1);
  EXPECT_EQ(foreign, 0);
  EXPECT_FALSE(env.logged("I-NET900003"));

  // Storing over a live entry discards the old object, through its logger.
  auto other = ZULNetworkURLSession::initWithNetworkLoggerDelegate(logger);
  ZULNetworkURLSession::setSessionInFetcherMap(session, "com.zul.network.background-upload-b");
  ZULNetworkURLSession::setSessionInFetcherMap(other, "com.zul.network.background-upload-b");
  EXPECT_EQ(ZULNetworkURLSession::sessionFromFetcherMapForSessionID("com.zul.network.background-upload-b"), other);
  ASSERT_EQ(logger->count(901019), 1u);
  EXPECT_EQ(logger->lines.back().message, "Discarding session: " + session->description());
  ZULNetworkURLSession::setSessionInFetcherMap(nullptr, "com.zul.network.background-upload-b");
  EXPECT_EQ(ZULNetworkURLSession::sessionFromFetcherMapForSessionID("com.zul.network.background-upload-b"), nullptr);
}

}  // namespace

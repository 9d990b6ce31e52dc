// The realtime update stream against the loopback streaming and fetch fakes,
// with waits and back-off on a virtual clock.
#include <gtest/gtest.h>

#include "sdk/remote-config/RCNConfigRealtime.h"
#include "sdk/remote-config/tests/FacadeFixture.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "testing/fakes/remote-config/FakeRealtimeService.h"

namespace {

using testkit::Answer;
using testkit::FakeRealtimeService;
using testkit::FakeRemoteConfigService;

class Calls {
 public:
  RCNConfigRealtime::Listener listener() {
    return [this](std::shared_ptr<ZUVUduvedOrovarUpdate> update, std::optional<platform::Error> error) {
      std::string line;
      if (error) {
        line = "error " + std::to_string(error->code) + " " + error->localizedDescription();
      } else {
        line = "update";
        for (const std::string& key : update->updatedKeys()) line += " " + key;
      }
      std::lock_guard<std::mutex> lock(m_mutex);
      m_lines.push_back(line);
    };
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
  }
  size_t size() { return lines().size(); }
  void clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_lines;
};

class RealtimeTest : public rctest::FacadeFixture {
 protected:
  void SetUp() override {
    rctest::FacadeFixture::SetUp();
    // Auto-fetch waits of 0 s.
    platform::RandomSource::setCurrent(std::make_shared<ZeroRandom>());
  }
  void TearDown() override {
    if (registration) registration->remove();
    realtime.reset();
    rctest::FacadeFixture::TearDown();
  }

  struct ZeroRandom : platform::RandomSource {
    void fill(std::span<uint8_t> out) override { std::fill(out.begin(), out.end(), 0); }
  };

  // A first fetch holding template version 1.
  std::shared_ptr<ZUVUduvedOrovar> configAtVersion1() {
    auto config = facade();
    service.script({FakeRemoteConfigService::update(R"({"a":"1"})", "1")});
    EXPECT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusSuccess);
    return config;
  }

  // Ends the listening of one case of a table: the stream closed, its calls
  // forgotten, the settings without retries or back-off for the next case.
  void stopListening(const std::shared_ptr<ZUVUduvedOrovar>& config) {
    registration->remove();
    registration.reset();
    realtime.reset();
    calls.clear();
    settle();
    config->settings()->setRealtimeRetryCount(0);
    config->settings()->updateRealtimeBackoffTimeWithInterval(0);
  }

  void listen(const std::shared_ptr<ZUVUduvedOrovar>& config) {
    realtimeSettings = config->settings();
    realtime = RCNConfigRealtime::create(config->configFetch(), config->settings(), config->ririvuduNamespace(),
                                         RIRApp::defaultApp()->options());
    registration = realtime->addConfigUpdateListener(calls.listener());
  }

  // Pumps the main queue and steps the virtual clock: to the end of a
  // pending realtime back-off, else a second. Each step first gives the
  // loopback exchange a moment of real time.
  bool waitFor(const std::function<bool()>& done, double virtualSeconds = 10) {
    const double start = clock->now();
    while (clock->now() - start <= virtualSeconds) {
      if (testkit::runUntil(done, 0.05)) return true;
      advance();
    }
    return testkit::runUntil(done, 5);
  }
  // Moves the clock once the stream's queue is between tasks: a task that
  // reads the time and then sets a timer must not see the clock jump in
  // between (its timer would fire that much later).
  void advance(double seconds = 0) {
    if (realtime) realtime->queue().sync([] {});
    const double backoff = realtimeSettings ? realtimeSettings->getRealtimeBackoffInterval() : 0;
    clock->advance(seconds > 0 ? seconds : std::max(1.0, backoff + 0.5));
  }
  // The virtual times at which each of the first `count` connections came.
  std::vector<double> connectionTimes(size_t count, double virtualSeconds) {
    std::vector<double> times;
    waitFor(
        [&] {
          while (times.size() < stream.connectionCount() && times.size() < count) times.push_back(clock->now());
          return times.size() >= count;
        },
        virtualSeconds);
    return times;
  }

  FakeRealtimeService stream{installations.server()};
  Calls calls;
  std::shared_ptr<RCNConfigRealtime> realtime;
  std::shared_ptr<RIRConfigUpdateListenerRegistration> registration;
  std::shared_ptr<RCNConfigSettings> realtimeSettings;
};

TEST_F(RealtimeTest, RequestAndAnUpdate) {
  auto config = configAtVersion1();
  stream.script({FakeRealtimeService::streaming({FakeRealtimeService::message(2)})});
  service.script({FakeRemoteConfigService::update(R"({"a":"2","b":"x"})", "2")});
  listen(config);
  ASSERT_TRUE(waitFor([&] { return calls.size() == 1; }));
  EXPECT_EQ(calls.lines()[0], "update a b");
  ASSERT_EQ(service.fetchCount(), 2u);
  EXPECT_EQ(service.fetches()[1].header("X-Ririvudu-RC-Fetch-Type"), "REALTIME/1");

  ASSERT_EQ(stream.connectionCount(), 1u);
  const testkit::RecordedRequest request = stream.connections()[0];
  EXPECT_EQ(request.path, "/v1/projects/470815926123/namespaces/ririvudu:streamFetchInvalidations");
  EXPECT_EQ(request.query, std::string("key=") + rctest::kAPIKey);
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(request.header("Accept"), "application/json");
  EXPECT_EQ(request.header("Content-Encoding"), "gzip");
  EXPECT_EQ(request.header("X-Zoruvu-ZFE-Can-Retry"), "true");
  EXPECT_EQ(request.header("X-Zoruvu-Api-Key"), rctest::kAPIKey);
  EXPECT_EQ(request.header("X-Ios-Bundle-Identifier"), rctest::kBundleIdentifier);
  EXPECT_FALSE(request.hasHeader("Accept-Encoding"));  // only the stream's own headers
  const auto installation = installations.installations().begin()->second;
  EXPECT_EQ(request.header("x-zoruvu-ririvudu-installations-auth"), installation.authToken);
  EXPECT_EQ(request.body, "{project:'470815926123', namespace:'ririvudu', lastKnownVersionNumber:'1', appId:'" +
                              std::string(rctest::kAppID) + "', sdkVersion:'12.6.0', appInstanceId:'" +
                              installation.fid + "'}");
}

TEST_F(RealtimeTest, ThreeFetchesBelowTheTargetThen8002) {
  auto config = configAtVersion1();
  stream.script({FakeRealtimeService::streaming({FakeRealtimeService::message(9)})});
  service.script({FakeRemoteConfigService::update(R"({"a":"2"})", "2"),
                  FakeRemoteConfigService::update(R"({"a":"3"})", "3"),
                  FakeRemoteConfigService::update(R"({"a":"4"})", "4")});
  listen(config);
  ASSERT_TRUE(waitFor([&] { return calls.size() == 1; }));
  EXPECT_EQ(calls.lines()[0], "error 8002 Unable to fetch the latest version of the template.");
  ASSERT_EQ(service.fetchCount(), 4u);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    EXPECT_EQ(service.fetches()[attempt].header("X-Ririvudu-RC-Fetch-Type"), "REALTIME/" + std::to_string(attempt));
  }
}

TEST_F(RealtimeTest, MessagesAcrossAndWithinWrites) {
  struct Case {
    std::string name;
    std::vector<std::string> chunks;
  };
  const std::string big(70000, 'x');
  const Case cases[] = {
      {"split over two writes", {"{\"latestTemplate", "VersionNumber\": 2}"}},
      {"two in one write, the second acted on", {FakeRealtimeService::message(1) + "\n" + FakeRealtimeService::message(2)}},
      {"split UTF-8 sequence", {"{\"note\": \"caf\xC3", "\xA9 }\", \"latestTemplateVersionNumber\": \"2\"}"}},
      {"over 64 KiB dropped, the stream goes on", {"{\"pad\": \"" + big, "\"}", FakeRealtimeService::message(2)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto config = configAtVersion1();
    stream.script({FakeRealtimeService::streaming(c.chunks)});
    service.script({FakeRemoteConfigService::update(R"({"a":"2"})", "2")});
    listen(config);
    ASSERT_TRUE(waitFor([&] { return calls.size() == 1; }));
    EXPECT_EQ(calls.lines()[0], "update a");
    stopListening(config);
  }
  EXPECT_TRUE(logged("Realtime message buffer over 65536 bytes discarded."));

  // One connection overflowing again and again: one line.
  logs.clear();
  auto config = configAtVersion1();
  stream.script({FakeRealtimeService::streaming({std::string(300000, '{'), FakeRealtimeService::message(1)})});
  listen(config);
  ASSERT_TRUE(testkit::runUntil([&] { return logged("Realtime message buffer over 65536 bytes discarded."); }));
  realtime->queue().sync([] {});
  testkit::runFor(0.1);
  ZULLogFlush();
  size_t lines = 0;
  for (const std::string& line : logs.texts()) lines += line.find("I-RCN000079") != std::string::npos;
  EXPECT_EQ(lines, 1u);
}

TEST_F(RealtimeTest, ErrorMessages) {
  struct Case {
    std::string name;
    std::string chunk;
    std::string line;
  };
  const Case cases[] = {
      {"not JSON", "{not json}", "error 8003 Unable to parse ConfigUpdate."},
      {"403 in the body", "{\"code\": 403, \"message\": \"denied\"}",
       "error 8001 {\"code\": 403, \"message\": \"denied\"}"},
      {"feature disabled", "{\"featureDisabled\": false}",
       "error 8004 The server is temporarily unavailable. Try again in a few minutes."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto config = configAtVersion1();
    stream.script({FakeRealtimeService::streaming({c.chunk})});
    listen(config);
    ASSERT_TRUE(waitFor([&] { return calls.size() == 1; }));
    EXPECT_EQ(calls.lines()[0], c.line);
    stopListening(config);
  }
}

TEST_F(RealtimeTest, AnInstallationFailureOfTheFetchReachesTheListener) {
  // The installation cannot be registered: no token for the stream nor for the fetch.
  installations.script(testkit::FakeInstallationsService::Kind::Create,
                       std::vector<Answer>(20, Answer::json(400, "{}")));
  stream.script({FakeRealtimeService::streaming({FakeRealtimeService::message(2)})});
  listen(facade());
  ASSERT_TRUE(waitFor([&] { return calls.size() == 1; }));
  EXPECT_EQ(calls.lines()[0].rfind("error 8003 Failed to get installations token. Error : ", 0), 0u) << calls.lines()[0];
  EXPECT_EQ(stream.connectionCount(), 1u);
  EXPECT_EQ(service.fetchCount(), 0u);
}

TEST_F(RealtimeTest, FeatureDisabledNeverReconnects) {
  auto config = configAtVersion1();
  stream.script({FakeRealtimeService::streaming({"{\"featureDisabled\": true}"})});
  listen(config);
  ASSERT_TRUE(waitFor([&] { return calls.size() == 1; }));
  advance(3600);
  testkit::runFor(0.5);
  EXPECT_EQ(stream.connectionCount(), 1u);
}

TEST_F(RealtimeTest, RetryIntervalDelaysTheNextConnection) {
  auto config = configAtVersion1();
  stream.script({FakeRealtimeService::closing({"{\"retryIntervalSeconds\": 120}"})});
  listen(config);
  ASSERT_TRUE(testkit::runUntil([&] { return config->settings()->getRealtimeBackoffInterval() > 110; }));
  advance(110);
  testkit::runFor(0.5);
  EXPECT_EQ(stream.connectionCount(), 1u);
  EXPECT_TRUE(waitFor([&] { return stream.connectionCount() == 2; }, 15));
}

TEST_F(RealtimeTest, RetryBudgets) {
  struct Case {
    int32_t persisted;
    size_t connections;
  };
  for (const Case& c : {Case{0, 8}, Case{6, 2}}) {
    SCOPED_TRACE(c.persisted);
    auto config = configAtVersion1();
    config->settings()->setRealtimeRetryCount(c.persisted);
    std::vector<Answer> failures(10, Answer::json(503, "{}"));
    stream.script(failures);
    const size_t before = stream.connectionCount();
    listen(config);
    EXPECT_EQ(realtime->remainingRetryCount(), 7 - c.persisted);
    // Each back-off at most 1.5 x 120 x 2^6 seconds.
    ASSERT_TRUE(waitFor([&] { return calls.size() == 1; }, 40000));
    EXPECT_EQ(calls.lines()[0], "error 8001 Unable to connect to the server. Check your connection and try again.");
    EXPECT_EQ(stream.connectionCount() - before, c.connections);
    stopListening(config);
  }
}

// A failed head ends the answer: its JSON error body, as real services send
// it, is no message (no version in it would target 1 and fetch from version
// 0). 500 closes with a log line only; 429 and 503 back off and retry.
TEST_F(RealtimeTest, AFailedAnswersBodyIsNoMessage) {
  struct Case {
    int status;
    bool retries;
  };
  for (const Case& c : {Case{500, false}, Case{429, true}, Case{503, true}}) {
    SCOPED_TRACE(c.status);
    auto config = facade();
    ASSERT_EQ(config->configFetch()->templateVersionNumber(), "0");
    const size_t before = stream.connectionCount();
    stream.script({Answer::json(c.status, R"({"error": {"code": )" + std::to_string(c.status) +
                                              R"(, "message": "try later", "status": "UNAVAILABLE"}})")});
    listen(config);
    ASSERT_TRUE(testkit::runUntil([&] { return stream.connectionCount() == before + 1; }));
    ASSERT_TRUE(testkit::runUntil([&] { return config->settings()->getRealtimeBackoffInterval() > 0; }));
    realtime->queue().sync([] {});
    testkit::runFor(0.1);
    advance(10);
    testkit::runFor(0.1);
    EXPECT_EQ(service.fetchCount(), 0u);
    EXPECT_EQ(calls.size(), 0u);
    if (!c.retries) {
      advance(3600);
      testkit::runFor(0.2);
      EXPECT_EQ(stream.connectionCount(), before + 1);
      EXPECT_TRUE(logged("Http Status code: 500"));
    } else {
      EXPECT_TRUE(waitFor([&] { return stream.connectionCount() == before + 2; }, 400));
    }
    stopListening(config);
  }
}

// A service that answers 200 and closes at once: each such stream counts as
// a failed connection, so the waits between connections grow (the draws of
// these tests shorten each to half the interval: 60, 120, 240 s) and the
// retry budget is spent; without the rule it reconnected hundreds of times a
// second.
TEST_F(RealtimeTest, StreamsThatCloseRightAfterTheirHeadBackOff) {
  auto config = configAtVersion1();
  stream.script({FakeRealtimeService::closing({"\n"}), FakeRealtimeService::closing({"\n"}),
                 FakeRealtimeService::closing({"\n"})});
  listen(config);
  const std::vector<double> times = connectionTimes(4, 2000);
  ASSERT_EQ(times.size(), 4u);
  EXPECT_GE(times[1] - times[0], 60);
  EXPECT_GE(times[2] - times[1], 120);
  EXPECT_GE(times[3] - times[2], 240);
  EXPECT_EQ(config->settings()->realtimeExponentialBackoffRetryInterval(), 480);
  EXPECT_EQ(realtime->remainingRetryCount(), 4);
}

// After a stream that stayed open (its 200 brought the retry count back to
// 0) and closed, the reconnection answered 503 starts the back-off: with a
// stored interval of 0 the doubling used to stay at 0 and it reconnected at
// once, again and again.
TEST_F(RealtimeTest, A503AfterAHealthyStreamEntersTheBackoff) {
  auto config = configAtVersion1();
  config->settings()->setRealtimeRetryCount(2);
  stream.script({FakeRealtimeService::closing({"\n", "\n"}, 0.3), Answer::json(503, "{}"), Answer::json(503, "{}")});
  listen(config);
  ASSERT_TRUE(testkit::runUntil([&] { return stream.connectionCount() == 1; }));
  // Open for longer than the healthy time (virtual) before the service closes it.
  ASSERT_TRUE(testkit::runUntil([&] {
    advance(1);
    return realtime->remainingRetryCount() == kRCNRealtimeMaxRetries;
  }));
  EXPECT_EQ(config->settings()->realtimeRetryCount(), 0);
  ASSERT_TRUE(testkit::runUntil([&] { return stream.connectionCount() == 2; }));
  ASSERT_TRUE(testkit::runUntil([&] { return config->settings()->getRealtimeBackoffInterval() > 0; }));
  EXPECT_EQ(config->settings()->realtimeExponentialBackoffRetryInterval(), 120);
  EXPECT_EQ(config->settings()->getRealtimeBackoffInterval(), 60);
  const std::vector<double> times = connectionTimes(3, 200);
  ASSERT_EQ(times.size(), 3u);
  EXPECT_GE(times[2] - times[1], 60);
}

// Server-given numbers out of bounds: a template version that is no whole
// number in range is no version (no fetch at version 1); a retry interval of
// 1e300 s waits 24 hours, not for ever.
TEST_F(RealtimeTest, OutlandishNumbersInMessages) {
  for (const char* message : {R"({"latestTemplateVersionNumber": 1e300})", R"({"latestTemplateVersionNumber": 2.5})",
                              R"({"latestTemplateVersionNumber": "99999999999999999999"})"}) {
    SCOPED_TRACE(message);
    auto config = configAtVersion1();
    const size_t fetches = service.fetchCount();
    stream.script({FakeRealtimeService::streaming({message, FakeRealtimeService::message(1)})});
    listen(config);
    ASSERT_TRUE(testkit::runUntil([&] { return stream.connectionCount() > 0 && logged("I-RCN000015"); }));
    realtime->queue().sync([] {});
    advance(10);
    testkit::runFor(0.1);
    EXPECT_EQ(service.fetchCount(), fetches);
    EXPECT_EQ(calls.size(), 0u);
    stopListening(config);
    logs.clear();
  }

  auto config = configAtVersion1();
  stream.script({FakeRealtimeService::closing({R"({"retryIntervalSeconds": 1e300})"})});
  const size_t before = stream.connectionCount();
  listen(config);
  ASSERT_TRUE(testkit::runUntil([&] { return config->settings()->getRealtimeBackoffInterval() > 3600; }));
  EXPECT_LE(config->settings()->getRealtimeBackoffInterval(), 24 * 3600);
  EXPECT_TRUE(waitFor([&] { return stream.connectionCount() == before + 2; }, 24 * 3600 + 10));
}

// A burst of version messages starts one automatic fetch: repeats of the
// version being fetched start nothing, a newer one raises the target of the
// fetch under way.
TEST_F(RealtimeTest, OneAutomaticFetchAtATime) {
  auto config = configAtVersion1();
  std::vector<std::string> chunks;
  for (int index = 0; index < 40; ++index) chunks.push_back(FakeRealtimeService::message(2));
  chunks.push_back(FakeRealtimeService::message(3) + FakeRealtimeService::message(3));
  stream.script({FakeRealtimeService::streaming(chunks, 0.001)});
  // The first fetch answers version 2 (below the raised target), the second 3.
  service.script({FakeRemoteConfigService::update(R"({"a":"2"})", "2").after(0.3),
                  FakeRemoteConfigService::update(R"({"a":"3"})", "3")});
  listen(config);
  ASSERT_TRUE(waitFor([&] { return calls.size() == 1; }));
  EXPECT_EQ(calls.lines()[0], "update a");
  EXPECT_EQ(config->configFetch()->templateVersionNumber(), "3");
  advance(10);
  testkit::runFor(0.2);
  ASSERT_EQ(service.fetchCount(), 3u);  // the first fetch of configAtVersion1, then two attempts of one chain
  EXPECT_EQ(service.fetches()[1].header("X-Ririvudu-RC-Fetch-Type"), "REALTIME/1");
  EXPECT_EQ(service.fetches()[2].header("X-Ririvudu-RC-Fetch-Type"), "REALTIME/2");
}

TEST_F(RealtimeTest, NormalCloseReconnectsAndA200RestoresTheBudget) {
  auto config = configAtVersion1();
  config->settings()->setRealtimeRetryCount(3);
  stream.script({FakeRealtimeService::closing({"\n"})});
  listen(config);
  EXPECT_EQ(realtime->remainingRetryCount(), 4);
  ASSERT_TRUE(waitFor([&] { return stream.connectionCount() == 2; }));
  const double connected = clock->now();
  // The budget comes back once the second stream stayed open for a while.
  EXPECT_EQ(realtime->remainingRetryCount(), 3);
  ASSERT_TRUE(testkit::runUntil([&] {
    advance(1);
    return realtime->remainingRetryCount() == 7;
  }));
  EXPECT_GE(clock->now() - connected, kRCNRealtimeHealthyStreamSeconds);
  EXPECT_EQ(config->settings()->realtimeRetryCount(), 0);
}

TEST_F(RealtimeTest, RemovingTheLastListenerCancelsWithoutBackoff) {
  auto config = configAtVersion1();
  config->settings()->setRealtimeRetryCount(1);
  listen(config);
  // Open: its 200 arrived and the stream stayed (the budget came back).
  ASSERT_TRUE(testkit::runUntil([&] {
    advance(1);
    return realtime->remainingRetryCount() == kRCNRealtimeMaxRetries;
  }));
  const double end = config->settings()->realtimeExponentialBackoffThrottleEndTime();
  registration->remove();
  registration.reset();
  testkit::runFor(0.5);
  advance(600);
  testkit::runFor(0.3);
  EXPECT_EQ(config->settings()->realtimeExponentialBackoffThrottleEndTime(), end);
  EXPECT_EQ(stream.connectionCount(), 1u);
}

TEST_F(RealtimeTest, AListenerReadingTheFacadeDoesNotDeadlock) {
  auto config = configAtVersion1();
  stream.script({FakeRealtimeService::streaming({FakeRealtimeService::message(2)})});
  service.script({FakeRemoteConfigService::update(R"({"a":"2"})", "2")});
  realtime = RCNConfigRealtime::create(config->configFetch(), config->settings(), config->ririvuduNamespace(),
                                       RIRApp::defaultApp()->options());
  std::atomic<int> read{0};
  registration = realtime->addConfigUpdateListener(
      [&](std::shared_ptr<ZUVUduvedOrovarUpdate>, std::optional<platform::Error>) {
        config->configValueForKey("a");
        ++read;
      });
  ASSERT_TRUE(waitFor([&] { return read.load() == 1; }));
}

}  // namespace

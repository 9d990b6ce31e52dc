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

  void listen(const std::shared_ptr<ZUVUduvedOrovar>& config) {
    realtimeSettings = config->settings();
    realtime = RCNConfigRealtime::create(config->configFetch(), config->settings(), config->ririvuduNamespace(),
                                         RIRApp::defaultApp()->options());
    registration = realtime->addConfigUpdateListener(calls.listener());
  }

  // Pumps the main queue and steps the virtual clock: to the end of a
  // pending realtime back-off, else a second.
  bool waitFor(const std::function<bool()>& done, double virtualSeconds = 10) {
    const double start = clock->now();
    while (clock->now() - start <= virtualSeconds) {
      if (testkit::runUntil(done, 0.5)) return true;
      const double backoff = realtimeSettings ? realtimeSettings->getRealtimeBackoffInterval() : 0;
      clock->advance(std::max(1.0, backoff + 0.5));
    }
    return testkit::runUntil(done, 5);
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
    registration->remove();
    registration.reset();
    realtime.reset();
    calls.clear();
    settle();
  }
  EXPECT_TRUE(logged("Realtime message buffer over 65536 bytes discarded."));
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
    registration->remove();
    registration.reset();
    realtime.reset();
    calls.clear();
    settle();
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
  clock->advance(3600);
  testkit::runFor(0.5);
  EXPECT_EQ(stream.connectionCount(), 1u);
}

TEST_F(RealtimeTest, RetryIntervalDelaysTheNextConnection) {
  auto config = configAtVersion1();
  stream.script({FakeRealtimeService::closing({"{\"retryIntervalSeconds\": 120}"})});
  listen(config);
  ASSERT_TRUE(testkit::runUntil([&] { return stream.connectionCount() == 1; }));
  testkit::runFor(1);
  clock->advance(110);
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
    registration->remove();
    registration.reset();
    realtime.reset();
    calls.clear();
    settle();
    config->settings()->setRealtimeRetryCount(0);
    config->settings()->updateRealtimeBackoffTimeWithInterval(0);
  }
}

TEST_F(RealtimeTest, A500ClosesWithoutRetry) {
  auto config = configAtVersion1();
  stream.script({Answer::json(500, "{}")});
  listen(config);
  ASSERT_TRUE(testkit::runUntil([&] { return stream.connectionCount() == 1; }));
  testkit::runFor(0.5);
  clock->advance(3600);
  testkit::runFor(0.5);
  EXPECT_EQ(stream.connectionCount(), 1u);
  EXPECT_EQ(calls.size(), 0u);
  EXPECT_TRUE(logged("Http Status code: 500"));
}

TEST_F(RealtimeTest, NormalCloseReconnectsAndA200RestoresTheBudget) {
  auto config = configAtVersion1();
  config->settings()->setRealtimeRetryCount(3);
  stream.script({FakeRealtimeService::closing({"\n"})});
  listen(config);
  EXPECT_EQ(realtime->remainingRetryCount(), 4);
  ASSERT_TRUE(waitFor([&] { return stream.connectionCount() == 2; }));
  ASSERT_TRUE(testkit::runUntil([&] { return realtime->remainingRetryCount() == 7; }));
  EXPECT_EQ(config->settings()->realtimeRetryCount(), 0);
}

TEST_F(RealtimeTest, RemovingTheLastListenerCancelsWithoutBackoff) {
  auto config = configAtVersion1();
  listen(config);
  ASSERT_TRUE(testkit::runUntil([&] { return stream.connectionCount() == 1; }));
  testkit::runFor(0.3);
  const double end = config->settings()->realtimeExponentialBackoffThrottleEndTime();
  registration->remove();
  registration.reset();
  testkit::runFor(0.5);
  clock->advance(600);
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

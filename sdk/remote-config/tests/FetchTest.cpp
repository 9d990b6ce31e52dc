// The config fetch against the loopback fakes: request line, headers and
// body, the gate, installation failures, every kind of answer, throttling
// on a virtual clock and the ETag cycle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/storage/FileLock.h"
#include "sdk/remote-config/tests/FacadeFixture.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

namespace {

using platform::Value;
using testkit::Answer;
using Kind = testkit::FakeInstallationsService::Kind;

class FetchTest : public rctest::FacadeFixture {};

TEST_F(FetchTest, RequestLineHeadersAndBody) {
  // Analytics starts with the app: once its first open is recorded, the body
  // carries the first-open time.
  ASSERT_TRUE(testkit::waitForQuiescence());
  auto config = facade();
  rctest::FetchOutcome outcome = fetch(*config);
  EXPECT_EQ(outcome.status, ZUVUduvedOrovarFetchStatusSuccess);
  EXPECT_FALSE(outcome.error);
  std::vector<testkit::RecordedRequest> fetches = service.fetches();
  ASSERT_EQ(fetches.size(), 1u);
  const testkit::RecordedRequest& request = fetches[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/v1/projects/tavix-downloader/namespaces/ririvudu:fetch");
  EXPECT_EQ(request.query, std::string("key=") + rctest::kAPIKey);
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(request.header("Content-Encoding"), "gzip");
  EXPECT_EQ(request.header("Accept-Encoding"), "gzip");
  EXPECT_EQ(request.header("X-Ios-Bundle-Identifier"), rctest::kBundleIdentifier);
  EXPECT_EQ(request.header("X-Ririvudu-RC-Fetch-Type"), "BASE/1");
  EXPECT_FALSE(request.hasHeader("if-none-match"));
  auto registered = installations.installations();
  ASSERT_EQ(registered.size(), 1u);
  const auto& installation = registered.begin()->second;
  EXPECT_EQ(request.header("x-zoruvu-ririvudu-installations-auth"), installation.authToken);
  EXPECT_EQ(body(request), "{app_instance_id:'" + installation.fid + "', app_instance_id_token:'" +
                               installation.authToken + "', app_id:'" + rctest::kAppID +
                               "', country_code:'us', language_code:'en_US', platform_version:'" +
                               ZULAppEnvironmentUtil::systemVersion() +
                               "', time_zone:'Europe/Berlin', package_name:'com.tavix.rctest', app_version:'2.5', "
                               "app_build:'25', sdk_version:'12.6.0', first_open_time:'2023-11-14T23:00:00Z'}");

  // Custom signals travel in the next body.
  bool stored = false;
  config->setCustomSignals(platform::Dictionary{{"tier", 5}}, [&](std::optional<platform::Error>) { stored = true; });
  ASSERT_TRUE(testkit::runUntil([&] { return stored; }));
  settle();
  fetch(*config);
  ASSERT_EQ(service.fetchCount(), 2u);
  EXPECT_NE(body(service.fetches()[1]).find(", custom_signals:{\"tier\":\"5\"}}"), std::string::npos)
      << body(service.fetches()[1]);
}

TEST_F(FetchTest, WithoutAnAPIKeyTheAddressEndsAtTheQuery) {
  auto keyless = RIROptions::initInternalWithOptionsDictionary(options());
  keyless->setAPIKey(std::nullopt);
  auto config = ZUVUduvedOrovar::initWithAppName("keyless", keyless, "ririvudu", RCNConfigDBManager::sharedInstance(),
                                                 RCNConfigContent::sharedInstance(), nullptr);
  EXPECT_EQ(config->configFetch()->constructServerURL(),
            installations.url() + "/v1/projects/tavix-downloader/namespaces/ririvudu:fetch?");
  EXPECT_TRUE(logged("I-RCN000071"));
}

TEST_F(FetchTest, TheGate) {
  auto config = facade();
  ASSERT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusSuccess);
  // Within the minimum interval: cached, nothing sent.
  rctest::FetchOutcome cached = fetch(*config, 3600);
  EXPECT_EQ(cached.status, ZUVUduvedOrovarFetchStatusSuccess);
  EXPECT_FALSE(cached.error);
  EXPECT_EQ(service.fetchCount(), 1u);
  EXPECT_TRUE(logged("Returning cached data."));

  // A changed device context lets it through.
  writeBundle(platform::Dictionary{{"CFBundleIdentifier", rctest::kBundleIdentifier},
                                   {"CFBundleShortVersionString", "2.6"},
                                   {"CFBundleVersion", "26"}});
  EXPECT_EQ(fetch(*config, 3600).status, ZUVUduvedOrovarFetchStatusSuccess);
  EXPECT_EQ(service.fetchCount(), 2u);

  // In progress, after an earlier success: the last status, no error.
  service.hold();
  std::optional<rctest::FetchOutcome> first;
  clock->advance(1);
  config->fetchWithExpirationDuration(0, [&](int64_t status, std::optional<platform::Error> error) {
    first = rctest::FetchOutcome{status, error};
  });
  ASSERT_TRUE(testkit::runUntil([&] { return service.fetchCount() == 3; }));
  rctest::FetchOutcome second = fetch(*config);
  EXPECT_EQ(second.status, ZUVUduvedOrovarFetchStatusSuccess);
  EXPECT_FALSE(second.error);
  EXPECT_TRUE(logged("A fetch is already in progress. Using previous fetch results."));
  service.release();
  ASSERT_TRUE(testkit::runUntil([&] { return first.has_value(); }, 30));
  EXPECT_EQ(service.fetchCount(), 3u);
}

TEST_F(FetchTest, InProgressBeforeAnySuccessIsAFailureWithoutError) {
  auto config = facade();
  service.hold();
  std::optional<rctest::FetchOutcome> first;
  clock->advance(1);
  config->fetchWithExpirationDuration(0, [&](int64_t status, std::optional<platform::Error> error) {
    first = rctest::FetchOutcome{status, error};
  });
  ASSERT_TRUE(testkit::runUntil([&] { return service.fetchCount() == 1; }));
  rctest::FetchOutcome second = fetch(*config);
  EXPECT_EQ(second.status, ZUVUduvedOrovarFetchStatusFailure);
  EXPECT_FALSE(second.error);
  EXPECT_TRUE(logged("A fetch is already in progress. Ignoring duplicate request."));
  service.release();
  ASSERT_TRUE(testkit::runUntil([&] { return first.has_value(); }, 30));
}

TEST_F(FetchTest, InstallationAndSenderFailures) {
  // The token cannot be had: status 2, 8003, nothing sent.
  installations.script(Kind::Create, {Answer::json(400, "{}")});
  rctest::FetchOutcome failed = fetch(*facade());
  EXPECT_EQ(failed.status, ZUVUduvedOrovarFetchStatusFailure);
  ASSERT_TRUE(failed.error);
  EXPECT_EQ(failed.error->code, kZUVUduvedOrovarErrorInternalError);
  EXPECT_EQ(failed.error->localizedDescription().rfind("Failed to get installations token. Error : ", 0), 0u);
  EXPECT_TRUE(logged("I-RCN000073"));
  EXPECT_EQ(service.fetchCount(), 0u);

  // No installations for the app (not configured): "Failed to get ZCMSenderID".
  auto stray = ZUVUduvedOrovar::initWithAppName("stray", RIROptions::initInternalWithOptionsDictionary(options()),
                                                "ririvudu", RCNConfigDBManager::sharedInstance(),
                                                RCNConfigContent::sharedInstance(), nullptr);
  rctest::FetchOutcome noSender = fetch(*stray);
  EXPECT_EQ(noSender.status, ZUVUduvedOrovarFetchStatusFailure);
  ASSERT_TRUE(noSender.error);
  EXPECT_EQ(noSender.error->localizedDescription(), "Failed to get ZCMSenderID");
  EXPECT_FALSE(stray->settings()->isFetchInProgress());
}

TEST_F(FetchTest, EveryKindOfAnswer) {
  struct Case {
    std::string name;
    Answer answer;
    int64_t status;
    int64_t code;             // 0: no error
    std::string description;  // checked when not empty
    int64_t lastFetchStatus;
    std::string fetchedA;     // the fetched value of "a" afterwards ("-": none)
  };
  const Case cases[] = {
      {"update", testkit::FakeRemoteConfigService::update(R"({"a":"1"})"), 1, 0, "", 1, "1"},
      {"no change", Answer::json(200, R"({"state":"NO_CHANGE"})"), 1, 0, "", 1, "-"},
      {"empty config", Answer::json(200, R"({"state":"EMPTY_CONFIG"})"), 1, 0, "", 1, "-"},
      {"no template", Answer::json(200, R"({"state":"NO_TEMPLATE"})"), 1, 0, "", 1, "-"},
      {"no state", Answer::json(200, R"({"entries":{"a":"2"}})"), 1, 0, "", 1, "-"},
      {"not JSON", Answer::text(200, "<html>"), 1, 0, "", 1, "-"},
      {"empty body", Answer::text(200, ""), 1, 0, "", 1, "-"},
      {"error object", Answer::json(200, R"({"error":{"code":400,"status":"INVALID","message":"bad"}})"), 2, 8003,
       "RCN Fetch Failure: Server returned error:code: 400. Status: INVALID. Message: bad", 1, "-"},
      {"error not an object", Answer::json(200, R"({"error":"x"})"), 1, 0, "", 1, "-"},
      {"304", Answer::text(304, ""), 2, 8003, "Internal Error. Status code: 304", 2, "-"},
      {"429", Answer::json(429, "{}"), 3, 8002, "", 3, "-"},
      {"500", Answer::json(500, "{}"), 3, 8002, "", 3, "-"},
      {"501", Answer::json(501, "{}"), 2, 8003, "Internal Error. Status code: 501", 2, "-"},
      {"502", Answer::json(502, "{}"), 2, 8003, "Internal Error. Status code: 502", 2, "-"},
      {"503", Answer::json(503, "{}"), 3, 8002, "", 3, "-"},
      {"504", Answer::json(504, "{}"), 3, 8002, "", 3, "-"},
      {"transfer error", Answer::close(), 2, 8003, "", 2, "-"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A namespace of its own: fresh settings, no back-off from earlier rows.
    const std::string ns = "row" + std::to_string(index++);
    auto config = facade(ns);
    // One success first: throttling needs an earlier successful fetch.
    service.script({Answer::json(200, R"({"state":"NO_CHANGE"})"), c.answer});
    // The HTTP layer may retry a request whose reused connection dropped.
    if (c.answer.closeWithoutAnswer) service.script({c.answer});
    ASSERT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusSuccess);
    rctest::FetchOutcome outcome = fetch(*config);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.error ? outcome.error->code : 0, c.code);
    if (outcome.error) {
      EXPECT_EQ(outcome.error->domain, kZUVUduvedOrovarErrorDomain);
    }
    if (!c.description.empty() && outcome.error) {
      EXPECT_EQ(outcome.error->localizedDescription(), c.description);
    }
    if (c.code == 8002 && outcome.error) {
      EXPECT_EQ(outcome.error->userInfo[kZUVUduvedOrovarThrottledEndTimeInSecondsKey],
                Value(config->settings()->exponentialBackoffThrottleEndTime()));
    }
    if (c.name == "transfer error" && outcome.error) {
      EXPECT_TRUE(outcome.error->underlying());
    }
    EXPECT_EQ(config->lastFetchStatus(), c.lastFetchStatus);
    RCNNamespaceConfigs fetched = RCNConfigContent::sharedInstance()->fetchedConfig();
    const std::string fqn = ns + ":" + config->appName();
    const bool hasA = fetched.count(fqn) && fetched[fqn].count("a");
    EXPECT_EQ(hasA ? fetched[fqn]["a"]->stringValue() : "-", c.fetchedA);
  }
  EXPECT_TRUE(logged("I-RCN000049"));
  EXPECT_TRUE(logged("Could not parse response data as JSON"));
  EXPECT_TRUE(logged("RCN Fetch: No data in fetch response"));
}

TEST_F(FetchTest, NotJSONKeepsTheTemplateVersion) {
  auto config = facade();
  service.script({testkit::FakeRemoteConfigService::update(R"({"a":"1"})", "7"), Answer::text(200, "garbage")});
  fetch(*config);
  EXPECT_EQ(config->configFetch()->templateVersionNumber(), "7");
  EXPECT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusSuccess);
  EXPECT_EQ(config->configFetch()->templateVersionNumber(), "7");
  EXPECT_EQ(config->settings()->lastFetchedTemplateVersion(), "7");
}

TEST_F(FetchTest, ASlowAnswerPastTheFetchTimeoutFails) {
  auto config = facade();
  config->setConfigSettings(ZUVUduvedOrovarSettings{0, 0.5});
  settle();
  service.script({Answer::json(200, R"({"state":"NO_CHANGE"})").after(3)});
  rctest::FetchOutcome outcome = fetch(*config);
  EXPECT_EQ(outcome.status, ZUVUduvedOrovarFetchStatusFailure);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, kZUVUduvedOrovarErrorInternalError);
  EXPECT_TRUE(outcome.error->underlying());
}

TEST_F(FetchTest, ThrottleSequenceOnAVirtualClock) {
  auto config = facade();
  // Before any success a 429 is a plain failure.
  service.script({Answer::json(429, "{}")});
  EXPECT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusFailure);
  EXPECT_FALSE(config->settings()->shouldThrottle());
  ASSERT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusSuccess);
  service.setDefaultAnswer(Answer::json(429, "{}"));
  rctest::FetchOutcome first = fetch(*config);
  EXPECT_EQ(first.status, ZUVUduvedOrovarFetchStatusThrottled);
  const double firstInterval = config->settings()->exponentialBackoffRetryInterval();
  const double firstEnd = config->settings()->exponentialBackoffThrottleEndTime();
  EXPECT_EQ(firstInterval, 120);
  EXPECT_GE(firstEnd - clock->now(), 60);
  EXPECT_LE(firstEnd - clock->now(), 180);

  // Still throttled: nothing sent, status 3 with the same end.
  rctest::FetchOutcome gated = fetch(*config);
  EXPECT_EQ(gated.status, ZUVUduvedOrovarFetchStatusThrottled);
  ASSERT_TRUE(gated.error);
  EXPECT_EQ(gated.error->code, kZUVUduvedOrovarErrorThrottled);
  EXPECT_EQ(gated.error->userInfo[kZUVUduvedOrovarThrottledEndTimeInSecondsKey], Value(firstEnd));
  EXPECT_EQ(service.fetchCount(), 3u);

  // After the end: sent again, the interval doubles.
  clock->advance(firstEnd - clock->now() + 1);
  EXPECT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusThrottled);
  EXPECT_EQ(service.fetchCount(), 4u);
  EXPECT_EQ(config->settings()->exponentialBackoffRetryInterval(), 240);

  // A success after the end ends back-off mode.
  service.setDefaultAnswer(Answer::json(200, R"({"state":"NO_CHANGE"})"));
  clock->advance(config->settings()->exponentialBackoffThrottleEndTime() - clock->now() + 1);
  EXPECT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusSuccess);
  EXPECT_FALSE(config->settings()->shouldThrottle());
}

TEST_F(FetchTest, TheETagCycle) {
  auto config = facade();
  service.script({Answer::json(200, R"({"state":"NO_CHANGE"})").withHeader("etag", "e1"),
                  Answer::json(200, R"({"state":"NO_CHANGE"})"),
                  Answer::json(200, R"({"state":"NO_CHANGE"})")});
  fetch(*config);
  EXPECT_EQ(config->settings()->lastETag(), std::optional<std::string>("e1"));
  const double stamped = config->settings()->lastETagUpdateTime();
  clock->advance(10);
  fetch(*config);
  EXPECT_EQ(service.fetches()[1].header("if-none-match"), "e1");
  // That answer had no ETag: the stored one is gone (time stamped again).
  EXPECT_FALSE(config->settings()->lastETag());
  EXPECT_GT(config->settings()->lastETagUpdateTime(), stamped);
  fetch(*config);
  EXPECT_FALSE(service.fetches()[2].hasHeader("if-none-match"));
}

// The answer's rows cannot be committed (another holder keeps the database
// closed to us): the fetch fails, and no ETag is stored for rows that are
// not there.
TEST_F(FetchTest, AnAnswerWhoseRowsCannotBeSavedFailsAndStoresNoETag) {
  std::filesystem::create_directories(std::filesystem::path(databasePath()).parent_path());
  auto held = platform::FileLock::tryLock(databasePath() + ".lock");
  ASSERT_TRUE(held);
  auto config = facade();
  service.script({testkit::FakeRemoteConfigService::update(R"({"a":"1"})")});
  rctest::FetchOutcome outcome = fetch(*config);
  EXPECT_EQ(outcome.status, ZUVUduvedOrovarFetchStatusFailure);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, kZUVUduvedOrovarErrorInternalError);
  EXPECT_EQ(outcome.error->localizedDescription(), "Failed to save the fetched config.");
  EXPECT_FALSE(config->settings()->lastETag());
  EXPECT_EQ(config->lastFetchStatus(), ZUVUduvedOrovarFetchStatusFailure);
}

// The settings file cannot be written (a folder stands where it goes): a
// fetch whose ETag and time are not stored is no success, and custom signals
// that are not stored are refused.
TEST_F(FetchTest, AStoreThatCannotBeWrittenFailsTheFetchAndTheSignals) {
  auto config = facade();
  const std::string suiteFile =
      platform::UserDefaults::suite(RCNUserDefaultsManager::userDefaultsSuiteNameForBundleIdentifier(rctest::kBundleIdentifier))
          ->filePath();
  std::filesystem::remove(suiteFile);
  ASSERT_TRUE(std::filesystem::create_directories(suiteFile));
  service.script({testkit::FakeRemoteConfigService::update(R"({"a":"1"})")});
  rctest::FetchOutcome outcome = fetch(*config);
  EXPECT_EQ(outcome.status, ZUVUduvedOrovarFetchStatusFailure);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->localizedDescription(), "Failed to save the fetch state.");

  std::optional<std::optional<platform::Error>> stored;
  config->setCustomSignals(platform::Dictionary{{"tier", 5}}, [&](std::optional<platform::Error> error) { stored = error; });
  ASSERT_TRUE(testkit::runUntil([&] { return stored.has_value(); }));
  ASSERT_TRUE(*stored);
  EXPECT_EQ((*stored)->localizedDescription(), "Failed to save the custom signals.");
}

// The database is found damaged after a fetch stored its rows and ETag: it
// is made anew without those rows, so the ETag that described them is
// forgotten and the next fetch asks for the whole template again.
TEST_F(FetchTest, ADatabaseMadeAnewForgetsTheETagOfItsRows) {
  auto config = facade();
  service.script({testkit::FakeRemoteConfigService::update(R"({"a":"1"})")});
  ASSERT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusSuccess);
  ASSERT_TRUE(config->settings()->lastETag());
  {
    std::fstream file(databasePath(), std::ios::in | std::ios::out | std::ios::binary);
    file.write(std::string(100, 'x').data(), 100);
  }
  config->settings()->loadConfigFromMetadataTable();  // meets the damage
  ASSERT_TRUE(testkit::runUntil([&] { return !config->settings()->lastETag(); }));
  EXPECT_TRUE(logged("I-RCN000081"));
  EXPECT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusSuccess);
  ASSERT_EQ(service.fetchCount(), 2u);
  EXPECT_FALSE(service.fetches()[1].hasHeader("if-none-match"));
}

}  // namespace

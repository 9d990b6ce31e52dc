// Uploader and upload operation against the loopback fake collector: the
// status table, the next upload time, readiness and tier selection, headers,
// compression and redirects, encoding failures, client metrics on the wire,
// the cancel-others rule and the coordinator's forced upload end to end.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

#include "platform/dispatch/MainQueue.h"
#include "platform/storage/FileSystem.h"
#include "sdk/transport/ZDTCCTCompressionHelper.h"
#include "sdk/transport/ZDTCCTUploader.h"
#include "sdk/transport/ZDTCOREndpoints.h"
#include "sdk/transport/ZDTCORMetricsController.h"
#include "sdk/transport/ZDTCORRegistrar.h"
#include "sdk/transport/ZDTCORUploadCoordinator.h"
#include "sdk/transport/tests/TransportTesting.h"
#include "testing/ScopedEnvironment.h"
#include "testing/VirtualClockFixture.h"
#include "testing/fakes/transport/FakeCollector.h"

namespace {

using testkit::CollectorAnswer;
using Counts = ZDTCORLogSourceMetrics::Counts;

constexpr ZDTCORUploadConditions kWifi = ZDTCORUploadConditionWifiData;
constexpr ZDTCORUploadConditions kForced = ZDTCORUploadConditionWifiData | ZDTCORUploadConditionHighPriority;

// Grants background tasks 1, 2, ... and records which were ended.
class GrantingApplication : public ZDTCORApplicationProtocol {
 public:
  ZDTCORBackgroundIdentifier beginBackgroundTaskWithName(const std::string& name, std::function<void()>) override {
    std::lock_guard lock(m_mutex);
    names.push_back(name);
    return ++m_next;
  }
  void endBackgroundTask(ZDTCORBackgroundIdentifier identifier) override {
    std::lock_guard lock(m_mutex);
    ended.push_back(identifier);
  }
  bool isRunningInBackground() const override { return false; }
  std::vector<ZDTCORBackgroundIdentifier> endedTasks() {
    std::lock_guard lock(m_mutex);
    return ended;
  }

  std::vector<std::string> names;
  std::vector<ZDTCORBackgroundIdentifier> ended;

 private:
  std::mutex m_mutex;
  ZDTCORBackgroundIdentifier m_next = 0;
};

class ZDTCCTUploaderTest : public transporttest::TransportFixture {
 protected:
  void SetUp() override {
    TransportFixture::SetUp();
    controller = std::make_shared<ZDTCORMetricsController>(storage);
    env.set("APP_SERVICES_URL", collector.url());
    for (int64_t target : {1000, 1001, 1002, 1003}) registrar->registerStorage(storage, target);
    for (int64_t target : {1002, 1001}) registrar->registerMetricsController(controller, target);
  }
  void TearDown() override {
    ASSERT_TRUE(platform::MainQueue::runUntil(
        [&] { return uploader->uploadOperationQueue().operationCount() == 0; }, 30));
    TransportFixture::TearDown();
  }

  // Stores events of the target (tier 3, payload "event-<n>").
  void storeEvents(int64_t target, int count, const std::string& mappingID = "1249", int64_t tier = 3) {
    for (int i = 0; i < count; ++i) {
      ASSERT_TRUE(store(transporttest::makeEvent(mappingID, target, tier, "event-" + std::to_string(i))).first);
    }
  }
  // Runs one operation to its end, pumping the main queue meanwhile.
  std::shared_ptr<ZDTCCTUploadOperation> upload(int64_t target, ZDTCORUploadConditions conditions) {
    std::shared_ptr<ZDTCCTUploadOperation> operation = uploader->scheduleUploadOfTarget(target, conditions);
    EXPECT_NE(operation, nullptr);
    if (!operation) return nullptr;
    // Until the queue let go of it: its completion, which may cancel what
    // waits in the queue, has run by then.
    EXPECT_TRUE(platform::MainQueue::runUntil(
        [&] { return operation->isFinished() && uploader->uploadOperationQueue().operationCount() == 0; }, 30));
    drain();
    return operation;
  }
  size_t storedEvents(int64_t target) const { return names(eventFolder(target)).size(); }
  // Milliseconds from now to the target's next upload time; none when unset.
  std::optional<int64_t> waitMillis(int64_t target) {
    std::optional<ZDTCORClock> next = uploader->nextUploadTimeForTarget(target);
    if (!next) return std::nullopt;
    return next->timeMillis() - ZDTCORClock::snapshot().timeMillis();
  }

  testkit::VirtualClockScope clockScope;
  std::shared_ptr<platform::VirtualClock> clock = clockScope.clock();
  testkit::FakeCollector collector;
  testkit::ScopedEnvironment env;
  std::shared_ptr<ZDTCORRegistrar> registrar = std::make_shared<ZDTCORRegistrar>();
  std::shared_ptr<GrantingApplication> application = std::make_shared<GrantingApplication>();
  std::shared_ptr<ZDTCCTUploader> uploader = std::make_shared<ZDTCCTUploader>(registrar, application);
  std::shared_ptr<ZDTCORMetricsController> controller;  // over the fixture's storage
};

TEST_F(ZDTCCTUploaderTest, StatusTableSettlesTheBatchAndSetsTheNextUploadTime) {
  const struct {
    const char* name;
    CollectorAnswer answer;
    bool eventsKept;
    int64_t waitMillis;
  } cases[] = {
      {"200 without a hint", {200, {}, {}, {}}, false, 900000},
      {"200 next_wait_ms beats Retry-After", {200, 60000, {{"Retry-After", "5"}}, {}}, false, 60000},
      {"200 next_wait_ms 0", {200, 0, {}, {}}, false, 0},
      {"429 Retry-After seconds", {429, {}, {{"Retry-After", "5"}}, {}}, true, 5000},
      {"429 Retry-After negative", {429, {}, {{"Retry-After", "-5"}}, {}}, true, 900000},
      {"429 Retry-After huge", {429, {}, {{"Retry-After", "99999999999999999999999"}}, {}}, true, 86400000},
      {"429 Retry-After date", {429, {}, {{"Retry-After", "Wed, 21 Oct 2015 07:28:00 GMT"}}, {}}, true, 900000},
      {"429 next_wait_ms huge", {429, INT64_MAX, {}, {}}, true, 86400000},
      {"429 next_wait_ms negative", {429, -5000, {}, {}}, true, 0},
      {"404", {404, {}, {}, {}}, true, 900000},
      {"500 with a damaged body", {500, {}, {}, std::string("\xff\xff")}, true, 900000},
      {"400", {400, {}, {}, {}}, false, 900000},
      {"401", {401, {}, {}, {}}, false, 900000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    collector.script({c.answer});
    collector.server().clearRequests();
    storeEvents(1000, 2);
    const size_t before = storedEvents(1000);
    std::shared_ptr<ZDTCCTUploadOperation> operation = upload(1000, kForced);
    ASSERT_TRUE(operation->uploadAttempted());
    EXPECT_EQ(operation->responseStatusCode(), c.answer.status);
    EXPECT_EQ(operation->uploadedEventCount(), before);
    ASSERT_EQ(collector.requests().size(), 1u);
    EXPECT_EQ(collector.requests()[0].eventCount(), before);
    EXPECT_EQ(storedEvents(1000), c.eventsKept ? before : 0u);
    EXPECT_TRUE(names(batchFolder()).empty());
    EXPECT_EQ(waitMillis(1000), c.waitMillis);
    // Clean slate for the next case.
    for (const std::string& name : names(eventFolder(1000))) platform::fs::removeItem(eventFolder(1000) + "/" + name);
  }
}

TEST_F(ZDTCCTUploaderTest, RetryAfterValues) {
  const struct {
    const char* value;
    std::optional<uint64_t> seconds;
  } cases[] = {
      {"5", 5},         {" 7 ", 7},     {"+3", 3},       {"2.9", 2},  {"0", 0},
      {"-5", {}},       {"-0", {}},     {"abc", {}},     {"5s", {}},  {"1e3", {}},
      {"", {}},         {".", {}},      {"99999999999999999999999", UINT64_MAX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZDTCCTUploadOperation::retryAfterSeconds(c.value), c.seconds) << "'" << c.value << "'";
  }
}

TEST_F(ZDTCCTUploaderTest, ReadinessAndTierSelection) {
  collector.script({{200, 60000, {}, {}}});
  for (int64_t tier : {0, 1, 2, 3, 4, 5}) {
    ASSERT_TRUE(store(transporttest::makeEvent("1249", 1000, tier, "tier-" + std::to_string(tier))).first);
  }
  auto payloads = [&](size_t request) {
    std::multiset<std::string> sent;
    const std::vector<testkit::CollectedRequest> requests = collector.requests();
    for (const auto& event : requests.at(request).sources.at(0).events) sent.insert(*event.payload);
    return sent;
  };

  // Mobile conditions take tiers 3 and 4.
  EXPECT_TRUE(upload(1000, ZDTCORUploadConditionMobileData)->uploadAttempted());
  EXPECT_EQ(payloads(0), (std::multiset<std::string>{"tier-3", "tier-4"}));
  // The backend asked to wait 60 s: unforced uploads wait, forced ones go.
  EXPECT_FALSE(upload(1000, kWifi)->uploadAttempted());
  clock->advance(60);
  EXPECT_FALSE(upload(1000, kWifi)->uploadAttempted());
  clock->advance(0.001);
  // Wifi conditions take tiers 0, 1, 3, 4 and 5; tier 2 waits for a forced upload.
  EXPECT_TRUE(upload(1000, kWifi)->uploadAttempted());
  EXPECT_EQ(payloads(1), (std::multiset<std::string>{"tier-0", "tier-1", "tier-5"}));
  EXPECT_TRUE(upload(1000, kForced)->uploadAttempted());
  EXPECT_EQ(payloads(2), (std::multiset<std::string>{"tier-2"}));
  // Nothing left, no network: no request.
  EXPECT_FALSE(upload(1000, kForced)->uploadAttempted());
  storeEvents(1000, 1);
  EXPECT_FALSE(upload(1000, ZDTCORUploadConditionNoNetwork | ZDTCORUploadConditionHighPriority)->uploadAttempted());
  EXPECT_EQ(collector.requests().size(), 3u);
  // Every operation began and ended its background task once.
  EXPECT_EQ(application->endedTasks(), (std::vector<ZDTCORBackgroundIdentifier>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(application->names.front(), "ZDTCCTUploader-upload");
}

TEST(ZDTCCTRequestTest, HeadersInTheirOrder) {
  const platform::Bytes gzipped = *ZDTCCTCompressionHelper::gzippedData({1, 2, 3});
  std::optional<platform::HttpRequest> request =
      ZDTCCTUploadOperation::constructRequest("http://127.0.0.1:9/x", 1003, gzipped, "key");
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->method(), "POST");
  EXPECT_EQ(request->body(), gzipped);
  EXPECT_EQ(request->headers().fields(), (std::vector<platform::HttpHeaders::Field>{
                                             {"X-Zoruvu-Api-Key", "key"},
                                             {"Content-Encoding", "gzip"},
                                             {"Content-Type", "application/x-protobuf"},
                                             {"Accept-Encoding", "gzip"},
                                             {"User-Agent", "datatransport/0.0.1 intsupport/0.0.1 apple/"},
                                         }));
  EXPECT_EQ(ZDTCCTUploadOperation::targetName(999), "unknown");
  // No data, no request.
  EXPECT_FALSE(ZDTCCTUploadOperation::constructRequest("http://127.0.0.1:9/x", 1000, {}, std::nullopt).has_value());
}

TEST_F(ZDTCCTUploaderTest, HeadersAndCompression) {
  // Small bodies go plain (gzip would be longer); large repetitive ones gzipped.
  storeEvents(1000, 1);
  upload(1000, kForced);
  ASSERT_TRUE(store(transporttest::makeEvent("1249", 1001, 3, std::string(4000, 'z'))).first);
  upload(1001, kForced);
  std::vector<testkit::CollectedRequest> requests = collector.requests();
  ASSERT_EQ(requests.size(), 2u);
  const testkit::HeaderList plainHeaders = {{"Content-Type", "application/x-protobuf"},
                                            {"Accept-Encoding", "gzip"},
                                            {"User-Agent", "datatransport/0.0.1 cctsupport/0.0.1 apple/"}};
  const auto& first = requests[0].raw;
  EXPECT_EQ(first.method, "POST");
  EXPECT_EQ(first.path, "/v1/cct/batchlog");
  EXPECT_FALSE(first.hasHeader("X-Zoruvu-Api-Key"));
  EXPECT_FALSE(first.hasHeader("Content-Encoding"));
  for (const auto& [name, value] : plainHeaders) EXPECT_EQ(first.header(name), value) << name;
  // Nothing else but what HTTP itself needs (no "Accept" of the HTTP library).
  std::set<std::string> names;
  for (const auto& [name, value] : first.headers) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"Accept-Encoding", "Content-Length", "Content-Type", "Host", "User-Agent"}));
  EXPECT_EQ(requests[0].eventCount(), 1u);

  const auto& second = requests[1].raw;
  EXPECT_EQ(second.path, "/v1/fll/batchlog");
  EXPECT_EQ(second.header("X-Zoruvu-Api-Key"), ZDTCOREndpoints::FLLAndCSHAndINTAPIKey());
  EXPECT_EQ(second.header("Content-Encoding"), "gzip");
  EXPECT_EQ(second.header("User-Agent"), "datatransport/0.0.1 fllsupport/0.0.1 apple/");
  ASSERT_NE(requests[1].source(1249), nullptr);
  EXPECT_EQ(requests[1].source(1249)->events.at(0).payload, std::string(4000, 'z'));
}

TEST_F(ZDTCCTUploaderTest, RedirectsAreRebuiltForTheOwnTargetAndTheKeyStaysOnTheConfiguredHost) {
  testkit::FakeCollector elsewhere;
  const std::string otherHost = "http://localhost:" + std::to_string(elsewhere.port()) + "/moved";
  const struct {
    const char* name;
    int status;
    std::string location;
    bool keyExpected;
  } cases[] = {
      {"302 on the same host", 302, "/moved", true},
      {"301 to another host over http", 301, otherHost, false},
      // Other redirects keep the request as it was, but not the key.
      {"307 to another host over http", 307, otherHost, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    collector.server().clearRequests();
    elsewhere.server().clearRequests();
    collector.script({{c.status, {}, {{"Location", c.location}}, {}}, {200, {}, {}, {}}});
    storeEvents(1001, 1);
    std::shared_ptr<ZDTCCTUploadOperation> operation = upload(1001, kForced);
    EXPECT_EQ(operation->responseStatusCode(), 200);
    testkit::FakeCollector& target = c.keyExpected ? collector : elsewhere;
    ASSERT_TRUE(target.waitForRequests(c.keyExpected ? 2 : 1));
    const testkit::CollectedRequest moved = target.requests().back();
    EXPECT_EQ(moved.raw.method, "POST");
    EXPECT_EQ(moved.raw.path, "/moved");
    EXPECT_EQ(moved.raw.header("User-Agent"), "datatransport/0.0.1 fllsupport/0.0.1 apple/");
    EXPECT_EQ(moved.raw.hasHeader("X-Zoruvu-Api-Key"), c.keyExpected);
    EXPECT_EQ(moved.raw.body, collector.requests().front().raw.body);
    ASSERT_NE(moved.source(1249), nullptr);
    EXPECT_EQ(moved.source(1249)->events.size(), 1u);
  }
}

TEST_F(ZDTCCTUploaderTest, ARedirectThatDropsTheBodyFailsTheUploadAndKeepsTheEvents) {
  // After a 303 the request would go on as a GET without the batch; a 200 to
  // that must not count as delivered.
  collector.script({{303, {}, {{"Location", "/moved"}}, {}}, {200, {}, {}, {}}});
  storeEvents(1001, 2);
  std::shared_ptr<ZDTCCTUploadOperation> operation = upload(1001, kForced);
  EXPECT_TRUE(operation->uploadAttempted());
  EXPECT_EQ(operation->responseStatusCode(), 0);
  EXPECT_EQ(storedEvents(1001), 2u);
  ASSERT_EQ(collector.requests().size(), 1u);
  EXPECT_EQ(collector.requests()[0].raw.method, "POST");
  // The next upload delivers them.
  collector.script({{200, {}, {}, {}}});
  upload(1001, kForced);
  EXPECT_EQ(storedEvents(1001), 0u);
  ASSERT_EQ(collector.requests().size(), 2u);
  ASSERT_NE(collector.requests()[1].source(1249), nullptr);
  EXPECT_EQ(collector.requests()[1].source(1249)->events.size(), 2u);
}

// An event no request could carry never blocks its target: the storage
// refuses it, and one already on disk is deleted when a batch is made, so the
// other events go out. (A batch that fails to encode sends nothing at all:
// ZDTCCTNanopbHelpersTest.)
TEST_F(ZDTCCTUploaderTest, AnEventNoRequestCanCarryNeverHoldsUpItsTarget) {
  auto oversized = transporttest::makeEvent("1249", 1000, 3, std::string(65536, 'x'));
  EXPECT_FALSE(store(oversized).first);
  storeEvents(1000, 1);
  ASSERT_FALSE(platform::fs::writeFile(
      ZDTCORFlatFileStorage::pathForTarget(1000, oversized->eventID(), 3, oversized->expirationDate(), "1249"),
      *ZDTCOREncodeArchive(*oversized).data));
  std::shared_ptr<ZDTCCTUploadOperation> operation = upload(1000, kForced);
  EXPECT_EQ(operation->responseStatusCode(), 200);
  EXPECT_EQ(operation->uploadedEventCount(), 1u);
  ASSERT_EQ(collector.server().requestCount(), 1u);
  EXPECT_EQ(storedEvents(1000), 0u);
}

TEST_F(ZDTCCTUploaderTest, ABatchTakesAtMostItsCapAndTheRestGoesNextTime) {
  storage->setMaxEventsPerBatch(2);
  storeEvents(1000, 3);
  EXPECT_EQ(upload(1000, kForced)->uploadedEventCount(), 2u);
  EXPECT_EQ(storedEvents(1000), 1u);
  EXPECT_EQ(upload(1000, kForced)->uploadedEventCount(), 1u);
  EXPECT_EQ(storedEvents(1000), 0u);
}

TEST_F(ZDTCCTUploaderTest, TransportErrorsKeepTheEventsAndSetNoTime) {
  env.set("APP_SERVICES_URL", "http://127.0.0.1:9");
  storeEvents(1000, 2);
  EXPECT_TRUE(upload(1000, kForced)->uploadAttempted());
  EXPECT_EQ(storedEvents(1000), 2u);
  EXPECT_EQ(waitMillis(1000), std::nullopt);
}

TEST_F(ZDTCCTUploaderTest, ClientMetricsTravelWithTheirTargetsAndComeBackWhenRejected) {
  // The first upload of 1001 carries no report but opens the window.
  storeEvents(1001, 1);
  upload(1001, kForced);
  ASSERT_EQ(collector.requests().back().source(1710), nullptr);

  // Drops counted since then travel as one "1710" event.
  controller->storageDidDropEvent(*storage, transporttest::makeEvent("1249", 1001, 3));
  clock->advance(5);
  collector.script({{400, {}, {}, {}}, {200, {}, {}, {}}});
  storeEvents(1001, 2);
  upload(1001, kForced);
  const testkit::CollectedRequest rejected = collector.requests().back();
  ASSERT_NE(rejected.source(1710), nullptr);
  const testkit::CollectedEvent& report = rejected.source(1710)->events.at(0);
  ASSERT_TRUE(report.metrics.has_value());
  EXPECT_EQ(report.metrics->drops, (std::map<std::string, std::map<uint32_t, int64_t>>{{"1249", {{2, 1}}}}));
  EXPECT_EQ(report.metrics->endMs - report.metrics->startMs, 5000);
  EXPECT_EQ(report.metrics->appID, "com.tavix.app");
  EXPECT_EQ(storedEvents(1001), 0u);

  // 400: the report came back and every event sent, its own included, counts
  // as rejected (reason 5).
  clock->advance(1000);
  storeEvents(1001, 1);
  upload(1001, kForced);
  const testkit::CollectedRequest next = collector.requests().back();
  ASSERT_NE(next.source(1710), nullptr);
  EXPECT_EQ(next.source(1710)->events.at(0).metrics->drops,
            (std::map<std::string, std::map<uint32_t, int64_t>>{{"1249", {{2, 1}, {5, 2}}}, {"1710", {{5, 1}}}}));
  // Target 1000 has no metrics controller and never carries a report.
  storeEvents(1000, 1);
  upload(1000, kForced);
  EXPECT_EQ(collector.requests().back().source(1710), nullptr);
}

TEST_F(ZDTCCTUploaderTest, OnceARequestWentOutTheWaitingOperationsAreCancelled) {
  storeEvents(1000, 1);
  storeEvents(1001, 1);
  uploader->uploadOperationQueue().suspend();
  auto first = uploader->scheduleUploadOfTarget(1000, kForced);
  auto second = uploader->scheduleUploadOfTarget(1001, kForced);
  uploader->uploadOperationQueue().resume();
  ASSERT_TRUE(platform::MainQueue::runUntil([&] { return first->isFinished() && second->isFinished(); }, 30));
  EXPECT_TRUE(first->uploadAttempted());
  EXPECT_TRUE(second->isCancelled());
  EXPECT_FALSE(second->uploadAttempted());
  EXPECT_EQ(collector.server().requestCount(), 1u);
  drain();
  EXPECT_EQ(storedEvents(1001), 1u);
}

TEST_F(ZDTCCTUploaderTest, ATargetWithoutStorageIsRefused) {
  EXPECT_EQ(uploader->scheduleUploadOfTarget(42, kForced), nullptr);
  EXPECT_TRUE(logs.contains("Failed to upload target: 42 - could not find corresponding storage instance."));
}

TEST_F(ZDTCCTUploaderTest, ATierFourEventIsUploadedAtOnceThroughTheCoordinator) {
  // The coordinator, the uploader and the storage wired as at start-up, with
  // a reachable network. (The coordinator asks a registrar of its own, so
  // that the test's objects hold no cycle: storage -> coordinator ->
  // registrar -> storage.)
  auto coordinatorRegistrar = std::make_shared<ZDTCORRegistrar>();
  coordinatorRegistrar->registerUploader(uploader, 1000);
  auto coordinator = std::make_shared<ZDTCORUploadCoordinator>(
      coordinatorRegistrar, application, [] { return platform::kReachabilityFlagReachable; });
  storage = std::make_shared<ZDTCORFlatFileStorage>(coordinator, nullptr);
  registrar->registerStorage(storage, 1000);
  ASSERT_TRUE(store(transporttest::makeEvent("1249", 1000, ZDTCOREventQoSFast, "urgent")).first);
  ASSERT_TRUE(collector.waitForRequests(1));
  ASSERT_TRUE(platform::MainQueue::runUntil(
      [&] { return uploader->uploadOperationQueue().operationCount() == 0 && storedEvents(1000) == 0; }, 30));
  const testkit::CollectedRequest request = collector.requests().at(0);
  ASSERT_NE(request.source(1249), nullptr);
  EXPECT_EQ(request.source(1249)->events.at(0).payload, "urgent");
}

}  // namespace

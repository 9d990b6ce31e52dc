// Client metrics: the report's encoding, drop counting, the persisted window
// and offering undelivered reports back, over a real flat-file storage.
#include <gtest/gtest.h>

#include "platform/crypto/Digest.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/storage/FileSystem.h"
#include "sdk/transport/ZDTCORMetricsController.h"
#include "sdk/transport/tests/TransportTesting.h"
#include "testing/VirtualClockFixture.h"

namespace {

using Counts = ZDTCORLogSourceMetrics::Counts;

TEST(ZDTCORMetricsEncodingTest, ReportsEncodeAsProto3) {
  const struct {
    const char* name;
    double start;
    double end;
    Counts counts;
    uint64_t current;
    uint64_t maximum;
    std::string bundleID;
    const char* hex;
  } cases[] = {
      {"window in whole seconds", 12.9, 20.2, {{"1249", {{1, 3}, {2, 1}}}}, 4096, 20000000, "com.tavix.app",
       "0a0708e05d10a09c0112120a04313234391204080318011204080118021a0a0a080880201080dac409220d636f6d2e74617669782e"
       "617070"},
      // Zero scalars and all-default messages are left out; the reason outside
      // 1..6 goes as 0; app_id is always written.
      {"defaults left out", 0, 0.5, {{"x", {{9, 2}}}}, 0, 0, "", "12070a0178120208022200"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZDTCORMetrics metrics(c.start, c.end, std::make_shared<ZDTCORLogSourceMetrics>(c.counts), c.current, c.maximum,
                          c.bundleID);
    EXPECT_EQ(platform::Digest::hex(metrics.transportBytes()), c.hex);
  }
  // The report is the payload of an unstored "1710" event.
  auto report = std::make_shared<ZDTCORMetrics>(1, 2, nullptr, 3, 4, "id");
  auto event = ZDTCOREvent::eventWithMetrics(report, 1001);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->mappingID(), "1710");
  EXPECT_EQ(event->target(), 1001);
  EXPECT_EQ(event->serializedDataObjectBytes(), report->transportBytes());
}

class ZDTCORMetricsControllerTest : public transporttest::TransportFixture {
 protected:
  void SetUp() override {
    TransportFixture::SetUp();
    controller = std::make_shared<ZDTCORMetricsController>(storage);
  }
  // Waits (pumping the main queue, where the controller's steps run) until
  // the promise settled.
  static RBLPromisePtr settled(const RBLPromisePtr& promise) {
    EXPECT_TRUE(platform::MainQueue::runUntil([&] { return !promise->isPending(); }, 30));
    return promise;
  }
  std::shared_ptr<ZDTCORMetricsMetadata> stored() {
    drain();
    auto decoded = ZDTCORDecodeArchiveAtPathAs<ZDTCORMetricsMetadata>(libraryFolder() + "/metrics_metadata");
    return decoded ? decoded.value() : nullptr;
  }
  std::shared_ptr<ZDTCORMetrics> report() {
    RBLPromisePtr promise = settled(controller->getAndResetMetrics());
    return promise->isFulfilled() ? promise->value().asOpaque<ZDTCORMetrics>() : nullptr;
  }
  void storeRecord(double start, Counts counts) {
    settled(storage->fetchAndUpdateMetricsWithHandler([&](auto, auto) {
      return ZDTCORMetricsMetadata::metadataWithCollectionStartDate(start,
                                                                   std::make_shared<ZDTCORLogSourceMetrics>(counts));
    }));
  }

  testkit::VirtualClockScope clockScope;
  std::shared_ptr<platform::VirtualClock> clock = clockScope.clock();
  std::shared_ptr<ZDTCORMetricsController> controller;  // over the fixture's storage
};

TEST_F(ZDTCORMetricsControllerTest, DropsAreCountedPerMappingIDAndReasonAndReportedOnce) {
  storage->setDelegate(controller);
  // Three expired events of 1249 (the storage's sweep) and one refused one.
  for (int i = 0; i < 3; ++i) {
    auto event = transporttest::makeEvent("1249", 1000, 3);
    event->setExpirationDate(clock->now() - 1);
    ASSERT_TRUE(store(event).first);
  }
  storage->checkForExpirations();
  drain();
  controller->storageDidDropEvent(*storage, transporttest::makeEvent("1249", 1000, 3));
  controller->storageDidDropEvent(*storage, transporttest::makeEvent("7", 1000, 3));
  ASSERT_TRUE(platform::MainQueue::runUntil(
      [&] {
        auto record = stored();
        return record && record->logSourceMetrics()->droppedEventCounterByLogSource() ==
                             Counts{{"1249", {{1, 3}, {2, 1}}}, {"7", {{2, 1}}}};
      },
      30));

  clock->advance(60);
  std::shared_ptr<ZDTCORMetrics> first = report();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->collectionStartDate(), platform::VirtualClock::kDefaultWall);
  EXPECT_EQ(first->collectionEndDate(), platform::VirtualClock::kDefaultWall + 60);
  EXPECT_EQ(first->logSourceMetrics()->droppedEventCounterByLogSource(),
            (Counts{{"1249", {{1, 3}, {2, 1}}}, {"7", {{2, 1}}}}));
  EXPECT_EQ(first->maxCacheSize(), ZDTCORFlatFileStorage::kSizeLimit);
  EXPECT_EQ(first->bundleID(), "com.tavix.app");

  // The window was reset on disk: a new controller over a new storage of the
  // same folder reports nothing dropped since.
  storage = std::make_shared<ZDTCORFlatFileStorage>(nullptr, nullptr);
  controller = std::make_shared<ZDTCORMetricsController>(storage);
  std::shared_ptr<ZDTCORMetrics> second = report();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->collectionStartDate(), platform::VirtualClock::kDefaultWall + 60);
  EXPECT_TRUE(second->logSourceMetrics()->droppedEventCounterByLogSource().empty());
  // An empty set changes nothing.
  EXPECT_TRUE(settled(controller->logEventsDroppedForReason(5, {}))->isFulfilled());
}

TEST_F(ZDTCORMetricsControllerTest, TheFirstReportRequestOpensTheWindowWithoutAReport) {
  testkit::LogCapture captured;
  EXPECT_EQ(report(), nullptr);
  EXPECT_TRUE(captured.contains("Error fetching metrics metadata"));
  clock->advance(10);
  std::shared_ptr<ZDTCORMetrics> next = report();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->collectionStartDate(), platform::VirtualClock::kDefaultWall);
}

TEST_F(ZDTCORMetricsControllerTest, OfferedReportsMergeBackUnlessTheyStartLater) {
  const double now = clock->now();
  const struct {
    const char* name;
    std::optional<double> storedStart;  // none: nothing stored
    double reportStart;
    double expectedStart;
    Counts expected;
  } cases[] = {
      {"earlier report merges", now - 100, now - 200, now - 200, {{"a", {{1, 3}}}, {"b", {{2, 1}}}}},
      {"same start merges", now - 100, now - 100, now - 100, {{"a", {{1, 3}}}, {"b", {{2, 1}}}}},
      {"later report changes nothing", now - 100, now - 50, now - 100, {{"a", {{1, 1}}}}},
      {"nothing stored keeps the report", std::nullopt, now - 30, now - 30, {{"a", {{1, 2}}}, {"b", {{2, 1}}}}},
      {"nothing stored, report from the future", std::nullopt, now + 30, now, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::fs::removeItem(libraryFolder() + "/metrics_metadata");
    if (c.storedStart) storeRecord(*c.storedStart, {{"a", {{1, 1}}}});
    auto offered = std::make_shared<ZDTCORMetrics>(
        c.reportStart, now, std::make_shared<ZDTCORLogSourceMetrics>(Counts{{"a", {{1, 2}}}, {"b", {{2, 1}}}}), 0, 0,
        "");
    EXPECT_TRUE(settled(controller->offerMetrics(offered))->isFulfilled());
    std::shared_ptr<ZDTCORMetricsMetadata> record = stored();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->collectionStartDate(), c.expectedStart);
    EXPECT_EQ(record->logSourceMetrics()->droppedEventCounterByLogSource(), c.expected);
  }
  EXPECT_TRUE(settled(controller->offerMetrics(nullptr))->isFulfilled());
}

TEST_F(ZDTCORMetricsControllerTest, ADamagedRecordIsReplacedByAFreshWindowKeepingNewDrops) {
  ASSERT_TRUE(ZDTCORWriteDataToFile({'b', 'a', 'd'}, libraryFolder() + "/metrics_metadata"));
  settled(controller->logEventsDroppedForReason(2, {transporttest::makeEvent("1249", 1000, 3)}));
  std::shared_ptr<ZDTCORMetricsMetadata> record = stored();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->collectionStartDate(), clock->now());
  EXPECT_EQ(record->logSourceMetrics()->droppedEventCounterByLogSource(), (Counts{{"1249", {{2, 1}}}}));
}

}  // namespace

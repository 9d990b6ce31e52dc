// Storage batches: the batch-ID counter, making, removing and restoring
// batches, the cap, library data, the metrics record and the expiry sweep.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "platform/storage/FileSystem.h"
#include "platform/time/Clock.h"
#include "sdk/promises/RBLPromise.h"
#include "sdk/transport/ZDTCORStorageMetadata.h"
#include "sdk/transport/ZDTCORUploadBatch.h"
#include "sdk/transport/tests/TransportTesting.h"
#include "testing/VirtualClockFixture.h"

namespace {

namespace fs = platform::fs;
using platform::Bytes;
using transporttest::makeEvent;
using transporttest::RecordingDelegate;
using transporttest::TransportFixture;

Bytes counterBytes(int32_t value) {
  Bytes bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

class ZDTCORStorageBatchTest : public TransportFixture {
 protected:
  struct Batch {
    std::optional<int64_t> batchID;
    ZDTCOREventSet events;
  };

  Batch makeBatch(const ZDTCORStorageEventSelector& selector, double expiration = 1700000600) {
    Batch batch;
    std::atomic<bool> done = false;  // set on the storage's queue
    storage->batchWithEventSelector(selector, expiration, [&](std::optional<int64_t> id, ZDTCOREventSet events) {
      batch = {id, std::move(events)};
      done = true;
    });
    for (int i = 0; i < 3 && !done; ++i) drain();
    EXPECT_TRUE(done);
    return batch;
  }

  std::optional<int64_t> nextBatchID() {
    std::optional<int64_t> result;
    storage->nextBatchID([&](std::optional<int64_t> id) { result = id; });
    drain();
    return result;
  }

  std::optional<Bytes> counterRecord() {
    auto data = fs::readFile(libraryFolder() + "/ZDTCORFlatFileStorageBatchIDCounter");
    return data ? std::optional<Bytes>(data.value()) : std::nullopt;
  }

  void removeBatch(int64_t batchID, bool deleteEvents) {
    storage->removeBatchWithID(batchID, deleteEvents, nullptr);
    drain();
  }

  // Settles a promise of the storage: its promise callbacks run on the
  // storage queue, so waiting for the promise library is enough.
  RBLPromisePtr settle(RBLPromisePtr promise) {
    RBLPromiseWaitUntilIdle(10);
    EXPECT_FALSE(promise->isPending());
    return promise;
  }
};

TEST_F(ZDTCORStorageBatchTest, CounterHandsOutTheStoredValueAndStoresTheNext) {
  const struct {
    const char* name;
    std::optional<Bytes> stored;
    int64_t handedOut;
  } cases[] = {
      {"absent", std::nullopt, 0},
      {"valid", counterBytes(7), 7},
      {"empty", Bytes{}, 0},
      {"short", Bytes{5, 0}, 0},
      {"long", Bytes{5, 0, 0, 0, 0}, 0},
      {"negative", counterBytes(-1), 0},
      {"largest", counterBytes(INT32_MAX), INT32_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::removeItem(libraryFolder());
    if (c.stored) {
      fs::createDirectory(libraryFolder());
      ASSERT_FALSE(fs::writeFile(libraryFolder() + "/ZDTCORFlatFileStorageBatchIDCounter", *c.stored));
    }
    EXPECT_EQ(nextBatchID(), c.handedOut);
    // The next identifier never turns negative: after the largest it starts at 0.
    EXPECT_EQ(counterRecord(), counterBytes(c.handedOut == INT32_MAX ? 0 : int32_t(c.handedOut + 1)));
  }
}

TEST_F(ZDTCORStorageBatchTest, BatchMovesMatchingEventsAndRemovalDeletesOrRestoresThem) {
  auto a = makeEvent("1249", 1000, 3);
  auto b = makeEvent("1249", 1000, 4);
  auto other = makeEvent("1249", 1001, 3);
  for (const auto& event : {a, b, other}) store(event);
  std::vector<std::string> namesBefore = names(eventFolder(1000));

  Batch first = makeBatch(ZDTCORStorageEventSelector(1000, std::nullopt, std::nullopt, std::set<int64_t>{3}));
  EXPECT_EQ(first.batchID, 0);  // the first batch of an installation
  ASSERT_EQ(first.events.size(), 1u);
  EXPECT_EQ(first.events[0]->eventID(), a->eventID());
  EXPECT_EQ(names(batchFolder()), std::vector<std::string>{"1000-0-1700000600"});
  EXPECT_EQ(names(batchFolder() + "/1000-0-1700000600").size(), 1u);

  // Events in a batch are not selected again.
  Batch second = makeBatch(ZDTCORStorageEventSelector::eventSelectorForTarget(1000));
  EXPECT_EQ(second.batchID, 1);
  ASSERT_EQ(second.events.size(), 1u);
  EXPECT_EQ(second.events[0]->eventID(), b->eventID());
  EXPECT_TRUE(names(eventFolder(1000)).empty());

  std::optional<ZDTCORBatchIDs> ids;
  storage->batchIDsForTarget(1000, [&](std::optional<ZDTCORBatchIDs> found) { ids = found; });
  drain();
  EXPECT_EQ(ids, (ZDTCORBatchIDs{0, 1}));

  removeBatch(0, false);  // back to the pool under the same name
  removeBatch(1, true);   // gone
  EXPECT_EQ(names(eventFolder(1000)), std::vector<std::string>{namesBefore[a->eventID() < b->eventID() ? 0 : 1]});
  EXPECT_TRUE(names(batchFolder()).empty());
  EXPECT_EQ(names(eventFolder(1001)).size(), 1u);

  // Nothing matches: no batch, but the counter moved on.
  Batch none = makeBatch(ZDTCORStorageEventSelector(1000, std::set<std::string>{"nope"}, std::nullopt, std::nullopt));
  EXPECT_FALSE(none.batchID);
  EXPECT_EQ(nextBatchID(), 3);
}

TEST_F(ZDTCORStorageBatchTest, OnlyMovedEventsJoinTheBatchAndUndecodableFilesAreDeleted) {
  auto kept = makeEvent("1249", 1000, 3);
  auto blocked = makeEvent("1249", 1000, 3);
  store(kept);
  store(blocked);
  // A file of the same name already in the batch folder makes the move fail.
  const std::string blockedName =
      fs::lastPathComponent(ZDTCORFlatFileStorage::pathForTarget(1000, blocked->eventID(), 3,
                                                                 blocked->expirationDate(), "1249"));
  fs::createDirectory(batchFolder() + "/1000-0-1700000600");
  ASSERT_FALSE(fs::writeFile(batchFolder() + "/1000-0-1700000600/" + blockedName, std::string("x")));
  ASSERT_FALSE(fs::writeFile(eventFolder(1000) + "/CORRUPT-3-1900000000-1249", std::string("not an archive")));

  Batch batch = makeBatch(ZDTCORStorageEventSelector::eventSelectorForTarget(1000));
  ASSERT_EQ(batch.events.size(), 1u);
  EXPECT_EQ(batch.events[0]->eventID(), kept->eventID());
  // The blocked event stays in the pool for a later batch; the corrupt file is gone.
  EXPECT_EQ(names(eventFolder(1000)), std::vector<std::string>{blockedName});
  EXPECT_TRUE(logs.contains("Error deserializing event: "));
  EXPECT_TRUE(logs.contains("An event file wasn't moveable into the batch directory: "));
}

// A stored event too large for any upload (written before the limit was
// checked) is deleted when met, so the rest of its target still goes out.
TEST_F(ZDTCORStorageBatchTest, EventsTooLargeForAnUploadAreDeletedWhenBatching) {
  auto kept = makeEvent("1249", 1000, 3);
  store(kept);
  auto oversized = makeEvent("1249", 1000, 3, std::string(ZDTCORFlatFileStorage::kMaxEventPayloadBytes + 1, 'p'));
  const std::string path = ZDTCORFlatFileStorage::pathForTarget(1000, oversized->eventID(), 3,
                                                               oversized->expirationDate(), "1249");
  ASSERT_FALSE(fs::writeFile(path, *ZDTCOREncodeArchive(*oversized).data));

  Batch batch = makeBatch(ZDTCORStorageEventSelector::eventSelectorForTarget(1000));
  ASSERT_EQ(batch.events.size(), 1u);
  EXPECT_EQ(batch.events[0]->eventID(), kept->eventID());
  EXPECT_TRUE(names(eventFolder(1000)).empty());
  EXPECT_TRUE(logs.contains("Deleting an event whose payload is larger than an upload can carry."));
}

TEST_F(ZDTCORStorageBatchTest, BatchTakesAtMostTheCapOldestExpirationFirst) {
  storage->setMaxEventsPerBatch(2);
  std::vector<std::shared_ptr<ZDTCOREvent>> events;
  for (double expiration : {3000.0, 1000.0, 2000.0}) {
    auto event = makeEvent("1249", 1002, 3);
    event->setExpirationDate(2e9 + expiration);
    store(event);
    events.push_back(event);
  }
  Batch batch = makeBatch(ZDTCORStorageEventSelector::eventSelectorForTarget(1002));
  ASSERT_EQ(batch.events.size(), 2u);
  std::set<std::string> taken{batch.events[0]->eventID(), batch.events[1]->eventID()};
  EXPECT_EQ(taken, (std::set<std::string>{events[1]->eventID(), events[2]->eventID()}));
  EXPECT_EQ(names(eventFolder(1002)).size(), 1u);  // the rest waits for the next batch
}

TEST_F(ZDTCORStorageBatchTest, RemovingABatchIDHandlesEveryFolderOfIt) {
  store(makeEvent("1249", 1000, 3));
  store(makeEvent("1249", 1000, 3));
  Batch batch = makeBatch(ZDTCORStorageEventSelector::eventSelectorForTarget(1000));
  ASSERT_EQ(batch.events.size(), 2u);
  // A second folder of the same batch ID (another target and expiration).
  const std::string moved = names(batchFolder() + "/1000-0-1700000600")[0];
  fs::createDirectory(batchFolder() + "/1001-0-1700000999");
  fs::moveItem(batchFolder() + "/1000-0-1700000600/" + moved, batchFolder() + "/1001-0-1700000999/" + moved);
  removeBatch(0, false);
  EXPECT_TRUE(names(batchFolder()).empty());
  EXPECT_EQ(names(eventFolder(1000)).size(), 1u);
  EXPECT_EQ(names(eventFolder(1001)), std::vector<std::string>{moved});
}

TEST_F(ZDTCORStorageBatchTest, PromisesSettleWithBatchesFlagsAndMetadata) {
  // No batches: removing all of a target's batches is fulfilled at once.
  EXPECT_TRUE(settle(storage->removeAllBatchesForTarget(1000, false))->isFulfilled());
  EXPECT_FALSE(settle(storage->hasEventsForTarget(1000))->value().boolValue());
  auto rejected = settle(storage->batchWithEventSelector(ZDTCORStorageEventSelector::eventSelectorForTarget(1000), 0));
  ASSERT_TRUE(rejected->isRejected());
  EXPECT_EQ(rejected->error()->domain, "ZDTCORFlatFileStorage");
  EXPECT_EQ(rejected->error()->code, -1);
  EXPECT_EQ(rejected->error()->failureReason(), "There are no events for the selector.");

  store(makeEvent("1249", 1000, 3));
  EXPECT_TRUE(settle(storage->hasEventsForTarget(1000))->value().boolValue());
  auto made = settle(storage->batchWithEventSelector(ZDTCORStorageEventSelector::eventSelectorForTarget(1000), 1e10));
  ASSERT_TRUE(made->isFulfilled());
  auto batch = made->valueAs<ZDTCORUploadBatch>();
  ASSERT_NE(batch, nullptr);
  EXPECT_EQ(batch->events().size(), 1u);
  EXPECT_TRUE(settle(storage->removeAllBatchesForTarget(1000, false))->isFulfilled());
  EXPECT_EQ(names(eventFolder(1000)).size(), 1u);

  auto metadata = settle(storage->fetchStorageMetadata())->valueAs<ZDTCORStorageMetadata>();
  ASSERT_NE(metadata, nullptr);
  EXPECT_EQ(metadata->maxCacheSize(), 20000000u);
  EXPECT_GT(metadata->currentCacheSize(), 0u);
}

TEST_F(ZDTCORStorageBatchTest, LibraryDataAndTheMetricsRecordReadUpdateWrite) {
  std::optional<platform::Error> stored = platform::Error("unset", 1);
  storage->storeLibraryData(Bytes{1, 2, 3}, "key", [&](std::optional<platform::Error> error) { stored = error; });
  drain();
  EXPECT_FALSE(stored);
  std::optional<Bytes> read;
  storage->libraryDataForKey("key", [&](std::optional<Bytes> data, std::optional<platform::Error>) { read = data; },
                             [] { return std::optional<Bytes>(Bytes{9}); });
  drain();
  EXPECT_EQ(read, (Bytes{1, 2, 3}));
  EXPECT_EQ(fs::readFile(libraryFolder() + "/key").valueOr({}), Bytes{9});
  storage->removeLibraryDataForKey("key", nullptr);
  drain();
  EXPECT_FALSE(fs::exists(libraryFolder() + "/key"));
  std::optional<platform::Error> refused;
  storage->storeLibraryData(Bytes{}, "empty", [&](std::optional<platform::Error> error) { refused = error; });
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->code, -1);

  // The metrics record: none at first, then what the handler stored.
  std::vector<std::shared_ptr<ZDTCORMetricsMetadata>> seen;
  auto metadata = ZDTCORMetricsMetadata::metadataWithCollectionStartDate(
      12.5, std::make_shared<ZDTCORLogSourceMetrics>(ZDTCORLogSourceMetrics::Counts{{"1249", {{1, 3}, {2, 1}}}}));
  auto handler = [&](std::shared_ptr<ZDTCORMetricsMetadata> current, std::optional<platform::Error> error) {
    seen.push_back(current);
    EXPECT_EQ(current == nullptr, error.has_value());
    return metadata;
  };
  EXPECT_TRUE(settle(storage->fetchAndUpdateMetricsWithHandler(handler))->isFulfilled());
  EXPECT_TRUE(settle(storage->fetchAndUpdateMetricsWithHandler(handler))->isFulfilled());
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], nullptr);
  ASSERT_NE(seen[1], nullptr);
  EXPECT_EQ(*seen[1], *metadata);

  // A damaged record reads as none.
  fs::writeFile(libraryFolder() + "/metrics_metadata", std::string("damaged"));
  EXPECT_TRUE(settle(storage->fetchAndUpdateMetricsWithHandler(handler))->isFulfilled());
  EXPECT_EQ(seen.back(), nullptr);
}

class ZDTCORStorageExpiryTest : public ZDTCORStorageBatchTest {
 protected:
  testkit::VirtualClockScope clockScope{std::make_shared<platform::VirtualClock>(1700000000.0)};
};

TEST_F(ZDTCORStorageExpiryTest, SweepRestoresExpiredBatchesThenDeletesExpiredEvents) {
  auto delegate = std::make_shared<RecordingDelegate>();
  storage->setDelegate(delegate);
  auto fresh = makeEvent("1249", 1000, 3);  // expires in 7 days
  auto stale = makeEvent("1249", 1000, 3);
  stale->setExpirationDate(1700000000.0 + 100);
  auto batched = makeEvent("1710", 1001, 3);
  for (const auto& event : {fresh, stale, batched}) store(event);
  // A batch that expires in 600 s holding an event that does not.
  Batch batch = makeBatch(ZDTCORStorageEventSelector::eventSelectorForTarget(1001), 1700000000.0 + 600);
  ASSERT_EQ(batch.events.size(), 1u);
  ASSERT_FALSE(fs::writeFile(eventFolder(1000) + "/CORRUPT-3-100-1249", std::string("junk")));

  clockScope.clock()->advance(300);  // the stale event and the corrupt file are expired
  storage->checkForExpirations();
  drain();
  EXPECT_EQ(names(eventFolder(1000)).size(), 1u);
  EXPECT_EQ(names(batchFolder()).size(), 1u);
  ASSERT_EQ(delegate->expired.size(), 1u);
  EXPECT_EQ(delegate->expired[0]->eventID(), stale->eventID());

  clockScope.clock()->advance(600);  // now the batch is expired: its event is back
  storage->checkForExpirations();
  drain();
  EXPECT_TRUE(names(batchFolder()).empty());
  EXPECT_EQ(names(eventFolder(1001)).size(), 1u);
  EXPECT_EQ(delegate->expired.size(), 1u);
  EXPECT_TRUE(logs.contains("Delegate notified that 1 events were dropped."));
}

}  // namespace

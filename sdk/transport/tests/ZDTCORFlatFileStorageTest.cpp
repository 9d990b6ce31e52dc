// Flat-file storage: event files and their names, the size limit, the
// forced upload of tier 4, selection and the size tracker.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/storage/FileSystem.h"
#include "sdk/transport/ZDTCORRegistrar.h"
#include "sdk/transport/ZDTCORUploadCoordinator.h"
#include "sdk/transport/tests/TransportTesting.h"
#include "testing/Fixtures.h"

namespace {

namespace fs = platform::fs;
using transporttest::makeEvent;
using transporttest::RecordingDelegate;
using transporttest::RecordingUploader;
using transporttest::TransportFixture;

class ZDTCORFlatFileStorageTest : public TransportFixture {
 protected:
  std::set<std::string> paths(int64_t target, std::optional<std::set<std::string>> ids,
                              std::optional<std::set<int64_t>> tiers, std::optional<std::set<std::string>> mappings) {
    std::set<std::string> result;
    storage->pathsForTarget(target, ids, tiers, mappings, [&](std::set<std::string> found) { result = found; });
    drain();
    return result;
  }
};

TEST_F(ZDTCORFlatFileStorageTest, EventFileNameJoinsIdentifierTierExpirationAndEncodedMapping) {
  const struct {
    std::string mappingID;
    double expiration;
    int64_t tier;
    std::string suffix;
    std::string encoded;
  } cases[] = {
      {"1249", 86400.9, 4, "-4-86400-1249", "1249"},
      {"12 49", 10, 3, "-3-10-12%2049", "12%2049"},
      {"a-b_c", 0, 1, "-1-0-a-b%5Fc", "a-b%5Fc"},  // "-" stays and parses back whole; "_" is encoded
      {"x", -5, 0, "-0-0-x", "x"},                   // a date before 1970 writes 0
  };
  for (const auto& c : cases) {
    std::string path = ZDTCORFlatFileStorage::pathForTarget(1000, "ID", c.tier, c.expiration, c.mappingID);
    EXPECT_EQ(path, eventFolder(1000).substr(0, eventFolder(1000).size() - 5) + "/1000/ID" + c.suffix);
    std::optional<ZDTCOREventComponents> components = ZDTCORFlatFileStorage::eventComponentsFromFilename(
        fs::lastPathComponent(path));
    ASSERT_TRUE(components);
    EXPECT_EQ(components->eventID, "ID");
    EXPECT_EQ(components->qosTier, c.tier);
    EXPECT_EQ(components->mappingID, c.encoded);
  }
  EXPECT_FALSE(ZDTCORFlatFileStorage::eventComponentsFromFilename("ID-4-86400"));
  EXPECT_FALSE(ZDTCORFlatFileStorage::batchComponentsFromFilename("1000-2"));
  EXPECT_FALSE(ZDTCORFlatFileStorage::batchComponentsFromFilename("1000-2-3-4"));
  std::optional<ZDTCORBatchComponents> batch = ZDTCORFlatFileStorage::batchComponentsFromFilename("1001-7-1700000600");
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->target, 1001);
  EXPECT_EQ(batch->batchID, 7);
  EXPECT_EQ(batch->expiration, 1700000600);
}

TEST_F(ZDTCORFlatFileStorageTest, StoredTierFourEventIsWrittenAndForcesAnUploadOfItsTarget) {
  auto registrar = std::make_shared<ZDTCORRegistrar>();
  auto uploader = std::make_shared<RecordingUploader>();
  registrar->registerUploader(uploader, 1000);
  auto coordinator = std::make_shared<ZDTCORUploadCoordinator>(registrar, nullptr, [] {
    return platform::ReachabilityFlags(platform::kReachabilityFlagReachable);
  });
  storage = std::make_shared<ZDTCORFlatFileStorage>(coordinator, nullptr);

  auto event = makeEvent("1249", 1000, 4);
  event->setExpirationDate(86400.9);
  auto [written, error] = store(event);
  EXPECT_TRUE(written);
  EXPECT_FALSE(error);
  EXPECT_EQ(names(eventFolder(1000)), std::vector<std::string>{event->eventID() + "-4-86400-1249"});
  // The forced upload reaches the uploader through the coordinator's queue.
  coordinator->coordinationQueue().sync([] {});
  coordinator->coordinationQueue().sync([] {});
  EXPECT_EQ(uploader->calls(), (std::vector<std::pair<int64_t, ZDTCORUploadConditions>>{{1000, 0x14}}));

  // The file holds the event's archive.
  auto decoded = ZDTCORDecodeArchiveAtPathAs<ZDTCOREvent>(eventFolder(1000) + "/" + names(eventFolder(1000))[0]);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded.value()->isEqual(*event));
}

TEST_F(ZDTCORFlatFileStorageTest, EventsWithoutPayloadAreRefused) {
  auto event = ZDTCOREvent::initWithMappingID("1249", 1000);
  auto [written, error] = store(event);
  EXPECT_FALSE(written);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "NSInternalInconsistencyException");
  EXPECT_EQ(error->code, -1);
  EXPECT_TRUE(names(eventFolder(1000)).empty());
}

// An event no upload could carry is refused instead of blocking its target.
TEST_F(ZDTCORFlatFileStorageTest, PayloadsLargerThanAnUploadCanCarryAreRefused) {
  const size_t limit = ZDTCORFlatFileStorage::kMaxEventPayloadBytes;
  EXPECT_TRUE(store(makeEvent("1249", 1000, 3, std::string(limit, 'p'))).first);
  auto [written, error] = store(makeEvent("1249", 1000, 3, std::string(limit + 1, 'p')));
  EXPECT_FALSE(written);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "ZDTCORFlatFileStorage");
  EXPECT_EQ(error->code, 1);
  EXPECT_EQ(error->failureReason(), "The event's payload is larger than an upload can carry.");
  EXPECT_EQ(names(eventFolder(1000)).size(), 1u);
}

TEST_F(ZDTCORFlatFileStorageTest, SizeLimitRefusesOnlyWhenTheSumWouldExceedTwentyMillionBytes) {
  auto delegate = std::make_shared<RecordingDelegate>();
  storage->setDelegate(delegate);
  auto event = makeEvent("1249", 1000, 3);
  const uint64_t length = ZDTCOREncodeArchive(*event).data->size();
  const std::string filler = root() + "/filler";
  fs::createDirectory(root());

  // Exactly at the limit: accepted. One byte more: refused, the delegate hears of it.
  ASSERT_FALSE(fs::writeFile(filler, std::string(ZDTCORFlatFileStorage::kSizeLimit - length, 'x')));
  EXPECT_TRUE(store(event).first);
  fs::removeItem(eventFolder(1000) + "/" + names(eventFolder(1000))[0]);
  storage = std::make_shared<ZDTCORFlatFileStorage>(nullptr, nullptr);  // size walked again from disk
  storage->setDelegate(delegate);
  ASSERT_FALSE(fs::writeFile(filler, std::string(ZDTCORFlatFileStorage::kSizeLimit - length + 1, 'x')));
  auto [written, error] = store(event);
  EXPECT_FALSE(written);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "ZDTCORFlatFileStorage");
  EXPECT_EQ(error->code, 0);
  EXPECT_EQ(error->failureReason(), "Storage size limit has been reached.");
  ASSERT_EQ(delegate->dropped.size(), 1u);
  EXPECT_EQ(delegate->dropped[0]->eventID(), event->eventID());
  EXPECT_TRUE(names(eventFolder(1000)).empty());
  EXPECT_TRUE(logs.contains("Delegate notified that event with mapping ID 1249 was dropped."));
}

TEST_F(ZDTCORFlatFileStorageTest, StoreWithoutCompletionStillWritesAndTracksTheSize) {
  auto event = makeEvent("1249", 1001, 3);
  storage->storeEvent(event, nullptr);
  drain();
  ASSERT_EQ(names(eventFolder(1001)).size(), 1u);
  uint64_t size = 0;
  storage->storageSizeWithCallback([&](uint64_t value) { size = value; });
  drain();
  EXPECT_EQ(size, ZDTCOREncodeArchive(*event).data->size());
  EXPECT_TRUE(logs.contains("stored. success:YES error:(null)"));
}

TEST_F(ZDTCORFlatFileStorageTest, SelectionFiltersByIdentifierTierAndDecodedMapping) {
  auto a = makeEvent("12 49", 1000, 3);
  auto b = makeEvent("1710", 1000, 4);
  store(a);
  store(b);
  const std::string odd = eventFolder(1000) + "/not-an-event";
  ASSERT_FALSE(fs::writeFile(odd, std::string("junk")));
  ASSERT_FALSE(fs::writeFile(eventFolder(1000) + "/.hidden-1-2-3", std::string("junk")));
  const std::string pathA = ZDTCORFlatFileStorage::pathForTarget(1000, a->eventID(), 3, a->expirationDate(), "12 49");
  const std::string pathB = ZDTCORFlatFileStorage::pathForTarget(1000, b->eventID(), 4, b->expirationDate(), "1710");

  // No filter: every visible file, parsable or not.
  EXPECT_EQ(paths(1000, std::nullopt, std::set<int64_t>{}, std::nullopt), (std::set<std::string>{odd, pathA, pathB}));
  EXPECT_EQ(paths(1000, std::nullopt, std::nullopt, std::set<std::string>{"12 49"}), std::set<std::string>{pathA});
  EXPECT_EQ(paths(1000, std::nullopt, std::set<int64_t>{4, 5}, std::nullopt), std::set<std::string>{pathB});
  EXPECT_EQ(paths(1000, std::set<std::string>{b->eventID()}, std::set<int64_t>{3}, std::nullopt),
            std::set<std::string>{});
  EXPECT_TRUE(logs.contains("There was an error reading the filename components: not-an-event"));
  EXPECT_TRUE(paths(1003, std::nullopt, std::nullopt, std::nullopt).empty());

  bool hasEvents = false;
  storage->hasEventsForTarget(1000, [&](bool value) { hasEvents = value; });
  bool hasNone = true;
  storage->hasEventsForTarget(1002, [&](bool value) { hasNone = value; });
  drain();
  EXPECT_TRUE(hasEvents);
  EXPECT_FALSE(hasNone);
}

TEST_F(ZDTCORFlatFileStorageTest, OpeningTheFoldersRemovesCrashLeftoversAndMakesThemPrivate) {
  // Temporary files of atomic writes that a kill interrupted: never selected,
  // never deleted by anything else. Those older than this process go; one
  // that a running writer may still rename stays (and counts for nothing).
  auto event = makeEvent("1249", 1000, 3);
  const std::string name = "." + fs::lastPathComponent(ZDTCORFlatFileStorage::pathForTarget(
                                     1000, event->eventID(), 3, event->expirationDate(), "1249"));
  const std::vector<std::pair<std::string, std::vector<testkit::Leftover>>> folders = {
      {eventFolder(1000), {{name + ".a1B2c3", 3600, true}, {".keep", 3600, false}}},
      {eventFolder(1002), {{name + ".Zz9Yy8", 3600, true}}},
      {eventFolder(1001), {{name + ".n0w000", 0, false}}},
      {libraryFolder(), {{".ZDTCORFlatFileStorageBatchIDCounter.q1w2e3", 3600, true}}},
  };
  for (const auto& [folder, leftovers] : folders) {
    ASSERT_FALSE(fs::createDirectory(folder));
    testkit::writeLeftovers(folder, leftovers);
  }
  ASSERT_FALSE(fs::writeFile(eventFolder(1001) + "/" + name + ".b1g000",
                             std::string(ZDTCORFlatFileStorage::kSizeLimit, 'x')));
  ASSERT_FALSE(fs::setPermissions(root(), 0755));

  EXPECT_TRUE(store(event).first);  // the fresh leftover's 20 MB do not count
  for (const auto& [folder, leftovers] : folders) testkit::expectLeftoversCleaned(folder, leftovers);
  EXPECT_TRUE(logs.contains("Removed 3 temporary files of interrupted writes from "));
  EXPECT_EQ(fs::attributes(root())->permissions, 0700u);  // events carry identifiers
  uint64_t size = 0;
  storage->storageSizeWithCallback([&](uint64_t value) { size = value; });
  drain();
  EXPECT_EQ(size, ZDTCOREncodeArchive(*event).data->size());
}

TEST(ZDTCORDirectorySizeTrackerTest, CachesTheWalkAndAdjustsWithoutGoingBelowZero) {
  testkit::TempHome home;
  const std::string folder = home.file("tracked");
  fs::createDirectory(folder + "/sub");
  fs::writeFile(folder + "/a", std::string(10, 'a'));
  fs::writeFile(folder + "/sub/b", std::string(5, 'b'));
  fs::writeFile(folder + "/.hidden", std::string(100, 'h'));
  ZDTCORDirectorySizeTracker tracker(folder);
  EXPECT_EQ(tracker.directoryContentSize(), 15u);
  fs::writeFile(folder + "/c", std::string(7, 'c'));
  EXPECT_EQ(tracker.directoryContentSize(), 15u);  // cached
  tracker.fileWasAddedAtPath(folder + "/c", 7);
  tracker.fileWasAddedAtPath(home.file("elsewhere"), 1000);  // outside: ignored
  EXPECT_EQ(tracker.directoryContentSize(), 22u);
  tracker.fileWasRemovedAtPath(folder + "/a", 500);
  EXPECT_EQ(tracker.directoryContentSize(), 0u);
  tracker.resetCachedSize();
  EXPECT_EQ(tracker.directoryContentSize(), 22u);
}

}  // namespace

#include "measurement/base/APMDatabase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "measurement/base/tests/FaultySqliteFileSystem.h"
#include "measurement/base/tests/MeasurementDatabaseTestSupport.h"
#include "measurement/base/APMDataUtil.h"
#include "platform/crypto/Digest.h"
#include "platform/storage/FileSystem.h"

namespace {

using measurementtest::bundleOfSize;
using measurementtest::DatabaseWorld;
using measurementtest::FaultySqliteFileSystem;
using measurementtest::RawConnection;

constexpr double kNow = platform::VirtualClock::kDefaultWall;

std::shared_ptr<APMEvent> event(const std::string& origin, const std::string& name, double timestamp,
                                const platform::Dictionary& parameters = {}) {
  return APMEvent::initWithOrigin(origin, false, name, timestamp, 0, parameters);
}

std::string hexOf(const platform::Value& data) { return platform::Digest::hex(*data.asData()); }

platform::Bytes bytesOfHex(const std::string& hex) {
  platform::Bytes bytes;
  for (size_t index = 0; index + 1 < hex.size(); index += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(index, 2), nullptr, 16)));
  }
  return bytes;
}

// The tables of a file, sorted.
std::vector<std::string> tables(RawConnection& raw) {
  std::vector<std::string> names;
  for (const auto& row : raw.rows("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
    names.push_back(row[0]);
  }
  return names;
}

// An old file: raw_events with INTEGER timestamps, app_metadata without the
// daily columns, a row in each.
void writeOldFile(const std::string& path) {
  RawConnection raw(path);
  raw.exec(
      "CREATE TABLE app_metadata (last_bundle_index INTEGER NOT NULL, last_bundle_end_timestamp REAL NOT NULL,"
      " last_bundle_start_timestamp REAL);"
      "INSERT INTO app_metadata VALUES (7, 1699990000.5, 1699980000);"
      "CREATE TABLE raw_events (name TEXT NOT NULL, timestamp INTEGER NOT NULL, metadata_fingerprint INTEGER NOT NULL,"
      " data BLOB NOT NULL);"
      "INSERT INTO raw_events VALUES ('_vs', 1699999999, 42, x'0a090a025f6f1203617070');"
      "INSERT INTO raw_events VALUES ('_e', 1700000000, 42, x'0a090a025f6f1203617070');");
}

// --- opening ----------------------------------------------------------------------------------

TEST(APMDatabaseOpening, AFreshFileHasTheFourteenTables) {
  DatabaseWorld world;
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  RawConnection raw(DatabaseWorld::path());
  EXPECT_EQ(tables(raw), (std::vector<std::string>{"app_metadata", "audience_filter_values", "conditional_properties",
                                                   "event_filters", "events", "main_event_params", "odm_values",
                                                   "property_filters", "purchase_transactions", "queue",
                                                   "raw_events", "raw_events_metadata", "subscriptions",
                                                   "user_attributes"}));
  EXPECT_EQ(raw.rows("SELECT name, type FROM pragma_table_info('raw_events')"),
            (std::vector<std::vector<std::string>>{{"name", "TEXT"},
                                                   {"timestamp", "REAL"},
                                                   {"metadata_fingerprint", "INTEGER"},
                                                   {"data", "BLOB"},
                                                   {"is_realtime", "INTEGER"}}));
  // Row 1 of app_metadata is made once.
  EXPECT_EQ(raw.rows("SELECT rowid, last_bundle_index, last_delivery_index FROM app_metadata"),
            (std::vector<std::vector<std::string>>{{"1", "0", "0"}}));
  database.reset();
  database = world.open();
  EXPECT_EQ(raw.count("app_metadata"), 1);
}

TEST(APMDatabaseOpening, AnOldFileIsMigratedWithItsRows) {
  DatabaseWorld world;
  world.clock()->setNow(kNow);
  writeOldFile(DatabaseWorld::path());
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  RawConnection raw(DatabaseWorld::path());
  EXPECT_EQ(raw.rows("SELECT type FROM pragma_table_info('raw_events') WHERE name = 'timestamp'")[0][0], "REAL");
  EXPECT_EQ(raw.rows("SELECT name, timestamp FROM raw_events ORDER BY rowid"),
            (std::vector<std::vector<std::string>>{{"_vs", "1699999999.0"}, {"_e", "1700000000.0"}}));

  std::shared_ptr<APMAppMetadata> metadata = database->queryAppMetadata(nullptr);
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->lastBundleIndex(), 7);
  EXPECT_EQ(metadata->lastDeliveryIndex(), 0);
  EXPECT_EQ(metadata->lastBundleEndTimestamp(), 1699990000.5);
  // No daily columns yet: today's day and zero counts.
  world.persisted()->setDouble(3600, APMPersistedConfig::kMidnightOffsetKey);
  std::shared_ptr<APMDailyCounts> counts = database->dailyCounts(nullptr);
  ASSERT_TRUE(counts);
  EXPECT_EQ(counts->day(), static_cast<int32_t>((kNow - 3600) / 86400));
  EXPECT_EQ(counts->allEventsCount(), 0);
  EXPECT_EQ(counts->dcuRealtimeCount(), 0);
  counts->incrementCountsForCurrentDay(counts->day(), true, false);
  ASSERT_TRUE(database->updateDailyCounts(counts.get(), nullptr));
  EXPECT_EQ(database->dailyCounts(nullptr)->publicEventsCount(), 1);
  EXPECT_EQ(database->allRawEventsWithError(nullptr)->size(), 2u);
}

TEST(APMDatabaseOpening, AnUnusableTableDeletesTheFileAndTheNextOpeningStartsAfresh) {
  DatabaseWorld world;
  {
    RawConnection raw(DatabaseWorld::path());
    raw.exec("CREATE TABLE user_attributes (name TEXT NOT NULL PRIMARY KEY, set_timestamp REAL NOT NULL,"
             " value BLOB NOT NULL, strange INTEGER NOT NULL);"
             "CREATE TABLE odm_values (name TEXT NOT NULL PRIMARY KEY, set_timestamp REAL NOT NULL,"
             " value TEXT NOT NULL); INSERT INTO odm_values VALUES ('a', 1, 'b');");
  }
  EXPECT_FALSE(world.open());
  EXPECT_TRUE(world.env.logged("Failed to create or validate required database tables (Init)"));
  EXPECT_FALSE(platform::fs::exists(DatabaseWorld::path()));
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  EXPECT_FALSE(database->ODMValueWithName("a", nullptr));
}

// A full disk or a folder where journals cannot be made (root ignores the
// permission bits, so both are injected below the sqlite3 library): the
// opening fails with the database error and every row stays.
TEST(APMDatabaseOpening, StorageFailuresKeepEveryRow) {
  struct Case {
    const char* what;
    void (*inject)(FaultySqliteFileSystem&);
  };
  const Case cases[] = {
      {"full disk", [](FaultySqliteFileSystem& faults) { faults.failWritesWith(SQLITE_FULL); }},
      {"read-only folder", [](FaultySqliteFileSystem& faults) { faults.failNewFilesWith(SQLITE_CANTOPEN); }},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.what);
    DatabaseWorld world;
    writeOldFile(DatabaseWorld::path());
    {
      FaultySqliteFileSystem faults;
      entry.inject(faults);
      platform::Error error;
      EXPECT_FALSE(world.open(&error));
      EXPECT_EQ(error.domain, kAPMErrorDomain);
      EXPECT_EQ(error.code, 3);
      EXPECT_FALSE(world.open(&error));  // the engine's second attempt
    }
    {
      RawConnection raw(DatabaseWorld::path());
      EXPECT_EQ(raw.count("raw_events"), 2);
      EXPECT_EQ(raw.count("app_metadata"), 1);
    }
    std::shared_ptr<APMDatabase> database = world.open();
    ASSERT_TRUE(database);
    EXPECT_EQ(database->allRawEventsWithError(nullptr)->size(), 2u);
    EXPECT_EQ(database->queryAppMetadata(nullptr)->lastBundleIndex(), 7);
  }
}

TEST(APMDatabaseOpening, ASecondHolderIsRefusedAndResetKeepsTheLock) {
  DatabaseWorld world;
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  platform::Error error;
  EXPECT_FALSE(world.open(&error));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.localizedDescription(), "Measurement database is in use by another process");
  ASSERT_TRUE(database->updateODMValue("v", "n", kNow, nullptr));
  ASSERT_TRUE(database->reset(nullptr));
  EXPECT_FALSE(database->ODMValueWithName("n", nullptr));
  EXPECT_FALSE(world.open(&error));
  EXPECT_EQ(error.code, 2);
}

TEST(APMDatabaseOpening, AForcedMigrationKeepsTheCompositeKey) {
  DatabaseWorld world;
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  auto filter = APMEventFilter::initWithAudienceID(1, 2, "purchase", platform::Bytes{0x08, 0x01}, false, false, false);
  ASSERT_TRUE(database->updateEventFilters({filter}, nullptr));
  // Changing a declaration migrates the table through a copy.
  APMSqliteStore::ColumnInfo elementary = {{"audience_id", "INTEGER NOT NULL"},
                                           {"filter_id", "INTEGER NOT NULL"},
                                           {"event_name", "TEXT NOT NULL"},
                                           {"data", "BLOB NOT NULL"},
                                           {"PRIMARY KEY", "(audience_id, filter_id)"}};
  platform::Error error;
  ASSERT_TRUE(database->sqliteStore()->ensureTableWithName("event_filters", elementary,
                                                           {{"session_scoped", "INTEGER"}},
                                                           {{"event_name", "BLOB NOT NULL"}}, &error))
      << error.localizedDescription();
  RawConnection raw(DatabaseWorld::path());
  EXPECT_EQ(raw.rows("SELECT type FROM pragma_table_info('event_filters') WHERE name = 'event_name'")[0][0], "BLOB");
  EXPECT_EQ(raw.rows("SELECT name FROM pragma_table_info('event_filters') WHERE pk > 0 ORDER BY pk"),
            (std::vector<std::vector<std::string>>{{"audience_id"}, {"filter_id"}}));
  ASSERT_TRUE(database->updateEventFilters({filter}, nullptr));
  ASSERT_TRUE(database->updateEventFilters({filter}, nullptr));
  EXPECT_EQ(raw.count("event_filters"), 1);
}

// --- generic rows and limits ------------------------------------------------------------------------

TEST(APMDatabaseRows, TableLimits) {
  DatabaseWorld world;
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  platform::Error error;
  for (int index = 0; index < 10; ++index) {
    ASSERT_TRUE(database->updateODMValue("v", "odm" + std::to_string(index), kNow, nullptr));
  }
  EXPECT_FALSE(database->updateODMValue("v", "odm10", kNow, &error));
  EXPECT_EQ(error.localizedDescription(), "Failed to insert data type. Table is full");
  EXPECT_TRUE(database->updateODMValue("w", "odm3", kNow, nullptr));
  EXPECT_EQ(database->ODMValueWithName("odm3", nullptr)->get("value"), platform::Value("w"));

  ASSERT_TRUE(database->performTransaction([&] {
    for (int index = 0; index < 1000; ++index) {
      auto attribute = APMUserAttribute::initWithOrigin("app", "p" + std::to_string(index),
                                                        APMValue::initWithInt64(index), kNow);
      if (!database->updateUserAttribute(attribute.get(), nullptr)) return false;
    }
    return true;
  }));
  auto extra = APMUserAttribute::initWithOrigin("app", "p1000", APMValue::initWithInt64(1), kNow);
  EXPECT_FALSE(database->updateUserAttribute(extra.get(), &error));
  EXPECT_EQ(error.localizedDescription(), "Failed to insert data type. Table is full");
  auto replaced = APMUserAttribute::initWithOrigin("app", "p5", APMValue::initWithString(platform::Value("x")), kNow);
  EXPECT_TRUE(database->updateUserAttribute(replaced.get(), nullptr));
  EXPECT_EQ(database->userAttributeWithName("p5", nullptr)->value()->stringValue(), "x");
  auto empty = APMUserAttribute::initWithOrigin("app", "p6", APMValue::initWithString(platform::Value("")), kNow);
  if (empty) {
    EXPECT_FALSE(database->updateUserAttribute(empty.get(), &error));
    EXPECT_EQ(error.localizedDescription(), "Received empty string value for user property");
  }

  // Updates need the row; reads with limit -1 return every row.
  EXPECT_FALSE(database->updateDataType(APMSqliteStore::Record{{"value", "z"}}, "odm_values", "name",
                                        platform::Value("absent"), &error));
  EXPECT_EQ(error.localizedDescription(), "Failed to update record. Item doesn't exist");
  auto all = database->allDataTypesFromTableWithName<APMSqliteStore::Record>(
      "user_attributes", -1, nullptr,
      [](const APMSqliteStore::Record& row, platform::Error*) { return std::make_shared<APMSqliteStore::Record>(row); });
  EXPECT_EQ(all->size(), 1000u);
}

// --- raw events, metadata and the queue ---------------------------------------------------------------

TEST(APMDatabaseRawEvents, RowsMetadataAndReadingBack) {
  DatabaseWorld world;
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  auto metadata = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  APMPBSetString(metadata.get(), APMPBMeasurementBundleSlot::kAppID, "1:1:ios:1");
  ASSERT_TRUE(database->insertIfNotExistsRawEventMetadata(*metadata, nullptr));
  ASSERT_TRUE(database->insertIfNotExistsRawEventMetadata(*metadata, nullptr));
  const int64_t fingerprint = apm_64LSBMD5(*metadata->protoBuffer());
  ASSERT_TRUE(database->insertRawEvent(event("app", "_vs", 1.5).get(), fingerprint, false, nullptr));
  const platform::Dictionary items{
      {"items", platform::Value(platform::Array{
                    platform::Value(platform::Dictionary{{"item_id", "a"}, {"quantity", 2}}),
                    platform::Value(platform::Dictionary{{"item_id", "b"}, {"price", 2.5}})})},
      {"value", 3}};
  ASSERT_TRUE(database->insertRawEvent(event("auto", "purchase", 2.0, items).get(), fingerprint, true, nullptr));

  RawConnection raw(DatabaseWorld::path());
  EXPECT_EQ(raw.count("raw_events_metadata"), 1);
  std::optional<std::vector<APMSqliteStore::Record>> rows = database->sqliteStore()->recordsForQuery(
      "SELECT name, timestamp, metadata_fingerprint, data, is_realtime FROM raw_events ORDER BY rowid", {}, nullptr);
  ASSERT_TRUE(rows && rows->size() == 2);
  EXPECT_EQ((*rows)[0]["name"], platform::Value("_vs"));
  EXPECT_EQ((*rows)[0]["timestamp"], platform::Value(1.5));
  EXPECT_EQ((*rows)[0]["metadata_fingerprint"], platform::Value(static_cast<long long>(fingerprint)));
  EXPECT_EQ(hexOf((*rows)[0]["data"]), "0a090a025f6f120361707018dc0b");
  EXPECT_EQ((*rows)[1]["is_realtime"], platform::Value(1));

  std::shared_ptr<APMPBMeasurementBundle> stored = database->queryRawEventsMetadataWithFingerprint(fingerprint, nullptr);
  ASSERT_TRUE(stored);
  EXPECT_EQ(APMPBGetString(stored.get(), APMPBMeasurementBundleSlot::kAppID), "1:1:ios:1");
  EXPECT_EQ(database->nextMetadataFingerprintToProcess(nullptr), platform::Value(static_cast<long long>(fingerprint)));
  EXPECT_EQ(database->containsRealtimeRawEventsWithError(nullptr), platform::Value(1));

  auto events = database->rawEventsWithMetadataFingerprint(fingerprint, nullptr,
                                                           [](uint32_t, const APMSqliteStore::Record&) { return true; });
  ASSERT_TRUE(events && events->size() == 2);
  const APMEvent& first = *(*events)[0]->rawEvent();
  EXPECT_EQ(first.origin(), "app");
  EXPECT_EQ(first.name(), "_vs");
  EXPECT_EQ(first.timestamp(), 1.5);
  const platform::Dictionary readItems = (*events)[1]->rawEvent()->parameters();
  APMValuePtr array = APMValue::fromObject(readItems.get("items"));
  ASSERT_TRUE(array && array->isArray());
  ASSERT_EQ(array->arrayValue()->size(), 2u);
  EXPECT_EQ(array->arrayValue()->at(0).asDictionary()->size(), 2u);
  EXPECT_EQ((*events)[1]->rowID(), 2);

  // Unreadable rows: no "_o", or an "_o" that is not a string.
  struct Broken {
    const char* hex;
    const char* error;
  };
  const Broken broken[] = {
      {"0a060a0161120161", "Cannot create an event from database. Missing origin parameter"},
      {"0a060a025f6f1801", "Cannot create an event from database. Origin parameter is not a string"},
      {"ff", "Failed to parse event from data"},
  };
  for (const Broken& entry : broken) {
    SCOPED_TRACE(entry.hex);
    platform::Error error;
    APMSqliteStore::Record row{{"rowid", 9}, {"name", "x"}, {"timestamp", 1.0}, {"metadata_fingerprint", 1},
                               {"data", platform::Value::data(bytesOfHex(entry.hex))}};
    EXPECT_FALSE(database->rawEventDataFromDictionary(row, &error));
    EXPECT_EQ(error.localizedDescription(), entry.error);
  }
  EXPECT_TRUE(database->deleteRawEventsWithMaxRowID(2, nullptr));
  EXPECT_TRUE(database->deleteUnusedRawEventsMetadata(nullptr));
  EXPECT_EQ(raw.count("raw_events_metadata"), 0);
  EXPECT_FALSE(database->nextMetadataFingerprintToProcess(nullptr));
}

TEST(APMDatabaseRawEvents, TrimmingAndStaleDeletion) {
  DatabaseWorld world(std::vector<std::pair<std::string, std::string>>{{"measurement.store.max_stored_events_per_app", "1000"}});
  world.clock()->setNow(kNow);
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  ASSERT_EQ(APMEngineServices::remoteConfig()->maxEventsStored(), 1000);
  std::shared_ptr<APMEvent> logged = event("auto", "_e", kNow);
  ASSERT_TRUE(database->performTransaction([&] {
    for (int index = 0; index < 1005; ++index) {
      if (!database->insertRawEvent(logged.get(), 0, false, nullptr)) return false;
    }
    return true;
  }));
  EXPECT_EQ(database->deleteRawEventsOverAbsoluteLimit(nullptr), 6);
  RawConnection raw(DatabaseWorld::path());
  EXPECT_EQ(raw.rows("SELECT min(rowid), max(rowid), count(1) FROM raw_events"),
            (std::vector<std::vector<std::string>>{{"7", "1005", "999"}}));

  // Stale by the absolute difference from now: the past and the far future.
  const double maxQueueTime = APMEngineServices::remoteConfig()->maxQueueTime();
  ASSERT_TRUE(database->sqliteStore()->deleteAllRecordsFromTableWithName("raw_events", nullptr));
  platform::Error insertError;
  ASSERT_TRUE(database->insertRawEvent(event("a", "old", kNow - maxQueueTime - 1).get(), 5, false, &insertError))
      << insertError.localizedDescription();
  ASSERT_TRUE(database->insertRawEvent(event("a", "kept", kNow - maxQueueTime + 1).get(), 6, false, nullptr));
  ASSERT_TRUE(database->insertRawEvent(event("a", "future", kNow + maxQueueTime + 1).get(), 7, false, nullptr));
  auto metadata = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  APMPBSetString(metadata.get(), APMPBMeasurementBundleSlot::kAppID, "1:1:ios:1");
  ASSERT_TRUE(database->insertIfNotExistsRawEventMetadata(*metadata, nullptr));
  platform::Error error;
  EXPECT_FALSE(database->deleteStaleRawEventsDataOlderThanMaxAge(-1, &error));
  EXPECT_EQ(error.localizedDescription(), "Cannot delete stale raw events given negative time period");
  ASSERT_TRUE(database->deleteStaleRawEventsDataOlderThanMaxAge(maxQueueTime, nullptr));
  EXPECT_EQ(raw.rows("SELECT name FROM raw_events"), (std::vector<std::vector<std::string>>{{"kept"}}));
  EXPECT_EQ(raw.count("raw_events_metadata"), 0);  // unused metadata went with them
}

TEST(APMDatabaseQueue, BundlesWithinTheLimits) {
  DatabaseWorld world;
  world.clock()->setNow(kNow);
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  const int64_t end = static_cast<int64_t>(kNow * 1000);
  platform::Error error;
  EXPECT_FALSE(database->insertBundle(*bundleOfSize(40, 0), false, &error));
  EXPECT_EQ(error.localizedDescription(), "Failed to insert bundle without valid timestamp");
  auto noApp = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  APMPBSetInt64(noApp.get(), APMPBMeasurementBundleSlot::kEndTimestamp, end);
  EXPECT_FALSE(database->insertBundle(*noApp, false, &error));
  EXPECT_EQ(error.localizedDescription(), "Failed to insert bundle without App ID");

  for (int index = 0; index < 3; ++index) ASSERT_TRUE(database->insertBundle(*bundleOfSize(40, end), false, nullptr));
  auto taken = database->queryBundlesWithCountLimit(10, 100, nullptr);
  ASSERT_TRUE(taken);
  ASSERT_EQ(taken->size(), 2u);
  EXPECT_EQ((*taken)[0].second, 1);
  EXPECT_EQ((*taken)[1].second, 2);
  EXPECT_FALSE(APMPBHasField((*taken)[0].first.get(),
                             APMPBMeasurementBundleSlot::kRetryCount));  // retry count 0 leaves it alone
  EXPECT_EQ(database->queryBundlesWithCountLimit(1, 1000, nullptr)->size(), 1u);

  ASSERT_TRUE(database->deleteBundlesWithRowIDs({platform::Value(1), platform::Value(2), platform::Value(3)}, nullptr));
  EXPECT_EQ(database->isQueuedBundleTableEmpty(nullptr), platform::Value(1));
  ASSERT_TRUE(database->insertBundle(*bundleOfSize(500, end), true, nullptr));
  ASSERT_TRUE(database->insertBundle(*bundleOfSize(40, end), false, nullptr));
  taken = database->queryBundlesWithCountLimit(10, 100, nullptr);
  ASSERT_EQ(taken->size(), 1u);
  EXPECT_EQ((*taken)[0].first->protoBuffer()->size(), 500u);
  EXPECT_EQ(database->containsRealtimeBundlesWithError(nullptr), platform::Value(1));
  EXPECT_EQ(database->queryLatestBundleTime(nullptr)->doubleValue(), static_cast<double>(end) / 1000);
}

TEST(APMDatabaseQueue, RetryCountsStopAtTheLimit) {
  DatabaseWorld world;
  world.clock()->setNow(kNow);
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  const int64_t end = static_cast<int64_t>(kNow * 1000);
  auto bundle = bundleOfSize(60, end);
  APMPBSetInt32(bundle.get(), APMPBMeasurementBundleSlot::kRetryCount, 2147483646);
  ASSERT_TRUE(database->insertBundle(*bundle, false, nullptr));
  ASSERT_TRUE(database->insertBundle(*bundleOfSize(60, end), false, nullptr));
  const std::vector<platform::Value> ids{platform::Value(1), platform::Value(2)};
  for (int round = 0; round < 3; ++round) ASSERT_TRUE(database->incrementRetryCounterForBundlesWithIDs(ids, nullptr));
  auto read = database->queryBundlesWithRowIDs(ids, nullptr);
  ASSERT_TRUE(read && read->size() == 2);
  EXPECT_EQ(APMPBGetInt32((*read)[0].first.get(), APMPBMeasurementBundleSlot::kRetryCount), 2147483647);
  EXPECT_EQ(APMPBGetInt32((*read)[1].first.get(), APMPBMeasurementBundleSlot::kRetryCount), 3);
  EXPECT_TRUE(world.env.logged("The number of upload retries exceeds the limit. Will remain unchanged."));
  platform::Error error;
  EXPECT_FALSE(database->incrementRetryCounterForBundlesWithIDs({}, &error));
  EXPECT_EQ(error.localizedDescription(), "Failed to increment retry counter");
  EXPECT_FALSE(database->deleteBundlesWithRowIDs({platform::Value("1")}, &error));
  EXPECT_EQ(error.localizedDescription(), "Received invalid type for row ID to process");
}

TEST(APMDatabaseQueue, StaleDataGoesOncePerInterval) {
  DatabaseWorld world;
  world.clock()->setNow(kNow);
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  const double maxQueueTime = APMEngineServices::remoteConfig()->maxQueueTime();
  const double interval = APMEngineServices::remoteConfig()->databaseDeleteStaleBundlesInterval();
  RawConnection raw(DatabaseWorld::path());
  auto addOldRows = [&] {
    raw.exec("INSERT INTO queue (data, bundle_end_timestamp) VALUES (x'00', " + std::to_string(kNow - 2 * maxQueueTime) +
             ")");
  };
  addOldRows();
  EXPECT_EQ(database->maybeDeleteStaleData(nullptr), true);
  EXPECT_EQ(raw.count("queue"), 0);
  addOldRows();
  world.clock()->setNow(kNow + interval / 2);
  EXPECT_EQ(database->maybeDeleteStaleData(nullptr), false);
  EXPECT_EQ(raw.count("queue"), 1);
  world.clock()->setNow(kNow - interval - 1);  // the clock went back by more than the interval
  EXPECT_EQ(database->maybeDeleteStaleData(nullptr), true);
  EXPECT_EQ(raw.count("queue"), 0);
  // A bundle outside the span is stored with a warning.
  ASSERT_TRUE(database->insertBundle(*bundleOfSize(60, static_cast<int64_t>((kNow - 2 * maxQueueTime) * 1000)), false,
                                     nullptr));
  EXPECT_TRUE(world.env.logged("Storing bundle outside of the max uploading time span"));
}

// --- app metadata, aggregates and the snapshot ------------------------------------------------------------

TEST(APMDatabaseAggregates, SnapshotPairKeepsALaterFirstOpen) {
  DatabaseWorld world;
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  auto aggregates = [](const std::string& name, int32_t lifetime) {
    return APMEventAggregates::initWithName(name, lifetime, 1, 0, kNow);
  };
  EXPECT_TRUE(database->restoreFromEventsSnapshotTable(nullptr));  // no snapshot: nothing changes
  ASSERT_TRUE(database->updateEventAggregates(aggregates("purchase", 3).get(), nullptr));
  ASSERT_TRUE(database->updateEventAggregates(aggregates("_s", 1).get(), nullptr));
  ASSERT_TRUE(database->createEventsSnapshotTable(nullptr));
  EXPECT_EQ(database->eventAggregatesSnapshotWithName("purchase", nullptr)->lifetimeCount(), 3);
  // After the snapshot: purchase counted again, a first open made.
  ASSERT_TRUE(database->updateEventAggregates(aggregates("purchase", 4).get(), nullptr));
  auto firstOpen = aggregates("_f", 1);
  firstOpen->setLastSampledComplexEventID(77);
  ASSERT_TRUE(database->updateEventAggregates(firstOpen.get(), nullptr));
  EXPECT_EQ(database->publicEventCount(nullptr), platform::Value(1));
  ASSERT_TRUE(database->restoreFromEventsSnapshotTable(nullptr));
  EXPECT_EQ(database->eventAggregatesWithName("purchase", nullptr)->lifetimeCount(), 3);
  std::shared_ptr<APMEventAggregates> keptFirstOpen = database->eventAggregatesWithName("_f", nullptr);
  ASSERT_TRUE(keptFirstOpen);
  EXPECT_EQ(keptFirstOpen->lifetimeCount(), 1);
  EXPECT_EQ(keptFirstOpen->lastSampledComplexEventID(), 77);
  EXPECT_EQ(keptFirstOpen->lastSamplingRate(), 1);
  EXPECT_EQ(database->sqliteStore()->rowCountForTableWithName("events_snapshot", nullptr), platform::Value(0));
  // An empty snapshot changes nothing.
  ASSERT_TRUE(database->updateEventAggregates(aggregates("purchase", 9).get(), nullptr));
  ASSERT_TRUE(database->restoreFromEventsSnapshotTable(nullptr));
  EXPECT_EQ(database->eventAggregatesWithName("purchase", nullptr)->lifetimeCount(), 9);
  ASSERT_TRUE(database->clearCurrentSessionCounts(nullptr));
  EXPECT_EQ(database->allEventAggregates(nullptr)->size(), 3u);
}

TEST(APMDatabaseAggregates, AppMetadataAndConfiguration) {
  DatabaseWorld world;
  world.clock()->setNow(kNow);
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  auto metadata = APMAppMetadata::initWithLastBundleIndex(5, 2, 10.5, 20.5);
  ASSERT_TRUE(database->updateAppMetadata(metadata.get(), nullptr));
  std::shared_ptr<APMAppMetadata> read = database->queryAppMetadata(nullptr);
  EXPECT_EQ(read->lastBundleIndex(), 5);
  EXPECT_EQ(read->lastDeliveryIndex(), 2);
  EXPECT_EQ(read->lastBundleStartTimestamp(), 10.5);

  platform::Error error;
  EXPECT_FALSE(database->queryMeasurementConfigWithError(&error));
  EXPECT_TRUE(error.domain.empty());
  EXPECT_FALSE(database->updateRemoteConfig(*measurementtest::configuration(""), &error));
  EXPECT_EQ(error.localizedDescription(), "Missing Zoruvu app ID in measurement configuration");
  ASSERT_TRUE(database->updateRemoteConfig(*measurementtest::configuration("1:2:ios:3"), nullptr));
  EXPECT_EQ(
      APMPBGetString(database->queryMeasurementConfigWithError(nullptr).get(), APMPBMeasurementConfigSlot::kAppID),
      "1:2:ios:3");
  EXPECT_EQ(database->lastRemoteConfigUpdateTimestamp(nullptr), kNow);
  RawConnection raw(DatabaseWorld::path());
  raw.exec("UPDATE app_metadata SET remote_config_data = x'ffffff'");
  EXPECT_FALSE(database->queryMeasurementConfigWithError(&error));
  EXPECT_EQ(error.localizedDescription(), "Remote config data is corrupted");
}

// --- other stores ----------------------------------------------------------------------------------------

TEST(APMDatabaseStores, ConditionalPropertiesMatchPrefixesLiterally) {
  DatabaseWorld world;
  world.clock()->setNow(kNow);
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  auto property = [](const std::string& origin, const std::string& name) {
    auto made = std::make_shared<APMConditionalUserProperty>();
    made->setOrigin(origin);
    made->setName(name);
    made->setValue(APMValue::initWithDouble(1.5));
    made->setCreationTimestamp(kNow);
    made->setTriggerTimeout(60);
    made->setTriggerEventName("purchase");
    return made;
  };
  for (const auto& [origin, name] : std::vector<std::pair<std::string, std::string>>{
           {"app", "a_b"}, {"app", "axb"}, {"app", "A_b"}, {"app", "a%c"}, {"a_p", "a_q"}, {"axp", "a_r"}}) {
    ASSERT_TRUE(database->updateConditionalUserProperty(property(origin, name).get(), nullptr));
  }
  auto names = [&](const std::string& prefix, const std::string& origin) {
    std::vector<std::string> found;
    const auto properties = database->conditionalUserPropertiesWithPrefix(prefix, origin, nullptr);
    for (const auto& entry : properties.value()) {
      found.push_back(entry->name());
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  EXPECT_EQ(names("a_", "app"), (std::vector<std::string>{"a_b"}));
  EXPECT_EQ(names("a%", ""), (std::vector<std::string>{"a%c"}));
  EXPECT_EQ(names("", "a_p"), (std::vector<std::string>{"a_q"}));
  EXPECT_EQ(names("", "").size(), 6u);

  // Events travel as blobs; triggered and timed-out look-ups use the clock.
  auto withEvent = property("app", "ev");
  withEvent->setTriggeredEvent(event("app", "_cup", kNow, {{"k", "v"}}));
  ASSERT_TRUE(database->updateConditionalUserProperty(withEvent.get(), nullptr));
  std::shared_ptr<APMConditionalUserProperty> read = database->conditionalUserPropertyWithName("ev", nullptr);
  ASSERT_TRUE(read && read->triggeredEvent());
  EXPECT_EQ(read->triggeredEvent()->name(), "_cup");
  EXPECT_EQ(read->value()->doubleValue(), 1.5);
  EXPECT_EQ(database->triggeredConditionalUserPropertiesWithEventName("purchase", nullptr)->size(), 7u);
  EXPECT_EQ(database->timedOutConditionalUserPropertiesWithError(nullptr)->size(), 0u);
  world.clock()->setNow(kNow + 61);
  EXPECT_EQ(database->timedOutConditionalUserPropertiesWithError(nullptr)->size(), 7u);
  RawConnection raw(DatabaseWorld::path());
  raw.exec("UPDATE conditional_properties SET expired_event = x'ff' WHERE name = 'ev'");
  platform::Error error;
  EXPECT_FALSE(database->conditionalUserPropertyWithName("ev", &error));
  EXPECT_EQ(error.localizedDescription(), "Failed to initialize data types from dictionaries");
}

TEST(APMDatabaseStores, PurchasesKeepTheNewestThousand) {
  DatabaseWorld world;
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  ASSERT_TRUE(database->performTransaction([&] {
    for (int index = 0; index < 1001; ++index) {
      if (database->insertIfNotDuplicatePurchaseFingerprint("fp" + std::to_string(index), nullptr) != true) {
        return false;
      }
    }
    return true;
  }));
  RawConnection raw(DatabaseWorld::path());
  EXPECT_EQ(raw.count("purchase_transactions"), 1000);
  EXPECT_EQ(raw.count("purchase_transactions WHERE fingerprint = 'fp0'"), 0);
  EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("fp1000", nullptr), false);
  EXPECT_EQ(database->insertIfNotDuplicatePurchaseFingerprint("", nullptr), false);
  EXPECT_EQ(raw.count("purchase_transactions"), 1000);
  EXPECT_EQ(database->insertIfNotDuplicateSubscriptionID("s1", nullptr), true);
  EXPECT_EQ(database->insertIfNotDuplicateSubscriptionID("s1", nullptr), false);
}

TEST(APMDatabaseStores, FiltersResultsAndComplexEvents) {
  DatabaseWorld world;
  std::shared_ptr<APMDatabase> database = world.open();
  ASSERT_TRUE(database);
  // An EventFilter with session scope set.
  auto encodedFilter = APMPBEventFilter::initWithMessageInfo(nullptr);
  APMPBSetBool(encodedFilter.get(), APMPBEventFilterSlot::kSessionScoped, true);
  const platform::Bytes filterData = encodedFilter->protoBuffer().value();
  std::vector<std::shared_ptr<APMAudienceFilter>> filters{
      APMEventFilter::initWithAudienceID(1, 1, "purchase", filterData, true, false, false),
      APMEventFilter::initWithAudienceID(2, 5, "purchase", filterData, true, false, false)};
  ASSERT_TRUE(database->updateEventFilters(filters, nullptr));
  ASSERT_TRUE(database->updatePropertyFilters(
      {APMPropertyFilter::initWithAudienceID(3, 1, "prop", platform::Bytes{0x0a, 0x01, 0x61}, false, false, false)},
      nullptr));
  auto read = database->eventFiltersForEventName("purchase", nullptr);
  ASSERT_TRUE(read && read->size() == 2);
  EXPECT_TRUE((*read)[0]->isSessionScoped());
  EXPECT_EQ(*database->allAudienceIDs(nullptr), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(database->allSessionScopedFilters(nullptr)->at(2), std::vector<int32_t>{5});
  platform::Error error;
  EXPECT_FALSE(database->updatePropertyFilters({filters[0]}, &error));
  EXPECT_EQ(error.localizedDescription(), "Received unknown data type to update property filter");
  ASSERT_TRUE(database->deleteEventFilters({filters[0]}, nullptr));
  EXPECT_EQ(database->eventFiltersForEventName("purchase", nullptr)->size(), 1u);

  ASSERT_TRUE(database->updateFilterResults(
      {APMFilterResult::initWithAudienceID(4, platform::Bytes{1}, std::nullopt),
       APMFilterResult::initWithAudienceID(5, platform::Bytes{2}, platform::Bytes{3})},
      nullptr));
  auto results = database->allFilterResults(nullptr);
  ASSERT_TRUE(results && results->size() == 2);
  EXPECT_FALSE(results->at(4)->previousResults());
  EXPECT_EQ(results->at(5)->previousResults(), platform::Bytes{3});
  ASSERT_TRUE(database->deleteFilterResults({results->at(4)}, nullptr));
  EXPECT_FALSE(database->filterResultForAudienceID(4, nullptr));

  ASSERT_TRUE(database->updateComplexEventForAudienceEvaluationWithEventID(9, 3, event("app", "main", 5).get(), nullptr));
  auto pair = database->mainEventAndChildCountPairWithEventID(9, nullptr);
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->first->name(), "main");
  EXPECT_EQ(pair->second, 3);
  EXPECT_FALSE(database->mainEventAndChildCountPairWithEventID(10, nullptr));
}

}  // namespace

// Rows read back from the measurement database: the input becomes the stored
// bytes of every column that holds an encoded message or a gzip (raw event
// data, bundle metadata, queued bundles, the stored configuration, filters,
// filter results, conditional-property events, complex events, user property
// values) and each is read through its table operation. Damaged rows give an
// error or are skipped, never a crash; a raw event that reads back stores and
// reads back the same again. Every input runs in a transaction that is rolled
// back, so the file stays empty between inputs.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMPersistedConfig.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

// Never destroyed: queued work of the monitor and the persisted
// configuration must not meet a closed database during process exit.
std::shared_ptr<APMDatabase>& database() {
  static auto* shared = new std::shared_ptr<APMDatabase>;
  return *shared;
}

using Record = APMSqliteStore::Record;

void readEverything(APMDatabase& db, const platform::Bytes& bytes) {
  APMSqliteStore& store = *db.sqliteStore();
  const platform::Value blob = platform::Value::data(bytes);
  const platform::Value text(std::string(bytes.begin(), bytes.end()));

  // A raw event row.
  Record row{{"rowid", 1}, {"name", "_e"}, {"timestamp", 1.5}, {"metadata_fingerprint", 3}, {"data", blob}};
  if (std::shared_ptr<APMRawEventData> read = db.rawEventDataFromDictionary(row, nullptr)) {
    FUZZ_CHECK(db.insertRawEvent(read->rawEvent().get(), 3, false, nullptr));
    auto again = db.allRawEventsWithError(nullptr);
    FUZZ_CHECK(again && again->size() == 1);
    const APMEvent& stored = *again->front()->rawEvent();
    FUZZ_CHECK(stored.origin() == read->rawEvent()->origin());
    FUZZ_CHECK(stored.parameters().size() == read->rawEvent()->parameters().size());
  }
  store.upsertRecord({{"metadata_fingerprint", 3}, {"metadata", blob}}, "raw_events_metadata", nullptr);
  db.queryRawEventsMetadataWithFingerprint(3, nullptr);

  // A queued bundle, as stored (gzip) and with a retry count.
  store.upsertRecord({{"data", blob}, {"bundle_end_timestamp", 1.0}, {"retry_count", 5}}, "queue", nullptr);
  db.queryBundlesWithCountLimit(10, 1 << 20, nullptr);

  // The stored configuration.
  store.updateAllRecordsInTableWithName("app_metadata", "remote_config_data", blob, nullptr);
  db.queryMeasurementConfigWithError(nullptr);
  db.dailyCounts(nullptr);
  db.queryAppMetadata(nullptr);

  // Filters, results, complex events.
  store.upsertRecord({{"audience_id", 1}, {"filter_id", 1}, {"event_name", "e"}, {"data", blob}}, "event_filters",
                     nullptr);
  db.eventFiltersForEventName("e", nullptr);
  store.upsertRecord({{"audience_id", 1}, {"filter_id", 1}, {"property_name", "p"}, {"data", blob}},
                     "property_filters", nullptr);
  db.propertyFiltersForPropertyName("p", nullptr);
  db.allSessionScopedFilters(nullptr);
  store.upsertRecord({{"audience_id", 1}, {"current_results", blob}, {"previous_results", text}},
                     "audience_filter_values", nullptr);
  db.allFilterResults(nullptr);
  store.upsertRecord({{"event_id", 1}, {"children_to_process", 2}, {"main_event", blob}}, "main_event_params",
                     nullptr);
  db.mainEventAndChildCountPairWithEventID(1, nullptr);

  // A conditional property with the bytes as its events and value, and user
  // properties with the bytes as value (as blob and as text).
  store.upsertRecord({{"name", "c"}, {"origin", "app"}, {"value", text}, {"creation_timestamp", 0.0},
                      {"active", 0}, {"trigger_timeout", 1.0}, {"triggered_timestamp", 0.0},
                      {"time_to_live", 1.0}, {"triggered_event", blob}, {"expired_event", blob}},
                     "conditional_properties", nullptr);
  db.conditionalUserPropertiesWithPrefix("", "", nullptr);
  store.upsertRecord({{"name", "u1"}, {"origin", "app"}, {"set_timestamp", 1.0}, {"value", blob}},
                     "user_attributes", nullptr);
  store.upsertRecord({{"name", text}, {"origin", "app"}, {"set_timestamp", 1.0}, {"value", text}},
                     "user_attributes", nullptr);
  db.userAttributesIncludingInternal(false, nullptr);
  db.allLifetimeValueUserAttributes(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char folder[] = "/tmp/fuzz-measurement-database-XXXXXX";
  if (mkdtemp(folder) != nullptr) {
    setenv("HOME", folder, 1);
    setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (std::string(folder) + "/cache").c_str(), 1);
  }
  database() = APMDatabase::initWithDatabaseName(APMDatabase::kDatabaseName,
                                                 APMPersistedConfig::initWithSuiteName("fuzz"), nullptr);
  if (!database()) std::abort();
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  APMDatabase& db = *database();
  const platform::Bytes bytes(data, data + size);
  // Rolled back: nothing of one input is seen by the next.
  db.sqliteStore()->performTransactionWithError(nullptr, [&] {
    readEverything(db, bytes);
    return false;
  });
  // The monitor's lines are written before the next input (or the exit).
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  return 0;
}

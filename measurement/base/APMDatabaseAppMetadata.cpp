// APMDatabase: app metadata, daily counts, the stored configuration and the
// per-event aggregates with their snapshot.
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/time/Clock.h"

namespace {

int32_t int32Column(const APMSqliteStore::Record& row, const char* column) {
  const platform::Value& value = row[column];
  return value.isNumeric() ? value.numberAs<int32_t>() : 0;
}

double doubleColumn(const APMSqliteStore::Record& row, const char* column) {
  const platform::Value& value = row[column];
  return value.isNumeric() ? value.doubleValue() : 0;
}

std::shared_ptr<APMEventAggregates> aggregatesFromRow(const APMSqliteStore::Record& row) {
  std::shared_ptr<APMEventAggregates> aggregates = APMEventAggregates::initWithName(
      row["name"].stringValue(), int32Column(row, "lifetime_count"), int32Column(row, "current_bundle_count"),
      int32Column(row, "current_session_count"), doubleColumn(row, "last_fire_timestamp"));
  if (!aggregates) return nullptr;
  aggregates->setLastBundledTimestamp(doubleColumn(row, "last_bundled_timestamp"));
  const platform::Value& sampled = row["last_sampled_complex_event_id"];
  if (sampled.isNumeric()) aggregates->setLastSampledComplexEventID(sampled.longLongValue());
  const platform::Value& rate = row["last_sampling_rate"];
  aggregates->setLastSamplingRate(rate.isNumeric() ? rate.numberAs<int32_t>() : 1);
  aggregates->setLastExemptFromSampling(row["last_exempt_from_sampling"].boolValue());
  aggregates->setLastBundledDay(int32Column(row, "last_bundled_day"));
  return aggregates;
}

}  // namespace

// --- app metadata ---------------------------------------------------------------------------------

std::shared_ptr<APMAppMetadata> APMDatabase::queryAppMetadata(platform::Error* error) {
  auto rows = dataTypesFromTableWithName<APMAppMetadata>(
      "app_metadata", "rowid", platform::Value(1), error,
      [](const Record& row, platform::Error* rowError) -> std::shared_ptr<APMAppMetadata> {
        if (row.empty()) {
          APMFailWithError(rowError, 3, "Received empty dictionary for getting app metadata");
          return nullptr;
        }
        return APMAppMetadata::initWithLastBundleIndex(int32Column(row, "last_bundle_index"),
                                                       int32Column(row, "last_delivery_index"),
                                                       doubleColumn(row, "last_bundle_start_timestamp"),
                                                       doubleColumn(row, "last_bundle_end_timestamp"));
      });
  if (!rows || rows->empty()) return nullptr;
  return rows->front();
}

bool APMDatabase::updateAppMetadata(const APMAppMetadata* metadata, platform::Error* error) {
  if (metadata == nullptr)
    return APMFailWithError(error, 3, "Received empty app metadata for getting dictionary representation");
  Record row{{"rowid", "1"},
             {"last_bundle_index", metadata->lastBundleIndex()},
             {"last_delivery_index", metadata->lastDeliveryIndex()},
             {"last_bundle_start_timestamp", metadata->lastBundleStartTimestamp()},
             {"last_bundle_end_timestamp", metadata->lastBundleEndTimestamp()}};
  return updateDataType(row, "app_metadata", "rowid", platform::Value("1"), error);
}

// --- daily counts -----------------------------------------------------------------------------------

std::shared_ptr<APMDailyCounts> APMDatabase::dailyCounts(platform::Error* error) {
  const int64_t today = currentDay();
  auto rows = dataTypesFromTableWithName<APMDailyCounts>(
      "app_metadata", "rowid", platform::Value(1), error,
      [today](const Record& row, platform::Error* rowError) -> std::shared_ptr<APMDailyCounts> {
        if (row.empty()) {
          APMFailWithError(rowError, 3, "Received empty dictionary for getting daily counts");
          return nullptr;
        }
        const platform::Value& day = row["day"];
        return APMDailyCounts::initWithDay(
            day.isNumeric() ? day.numberAs<int32_t>() : static_cast<int32_t>(today),
            int32Column(row, "daily_conversions_count"), int32Column(row, "daily_events_count"),
            int32Column(row, "daily_public_events_count"), int32Column(row, "daily_error_events_count"),
            int32Column(row, "daily_real_time_conversion_events_count"),
            int32Column(row, "daily_real_time_dcu_events_count"));
      });
  if (!rows || rows->empty()) return nullptr;
  return rows->front();
}

bool APMDatabase::updateDailyCounts(const APMDailyCounts* counts, platform::Error* error) {
  if (counts == nullptr)
    return APMFailWithError(error, 3, "Received empty daily counts for getting dictionary representation");
  Record row{{"day", counts->day()},
             {"daily_conversions_count", counts->conversionsCount()},
             {"daily_events_count", counts->allEventsCount()},
             {"daily_public_events_count", counts->publicEventsCount()},
             {"daily_error_events_count", counts->errorEventsCount()},
             {"daily_real_time_conversion_events_count", counts->realtimeCount()},
             {"daily_real_time_dcu_events_count", counts->dcuRealtimeCount()}};
  return updateDataType(row, "app_metadata", "rowid", platform::Value("1"), error);
}

// --- configuration ----------------------------------------------------------------------------------

bool APMDatabase::updateRemoteConfig(const APMPBMeasurementConfig& config, platform::Error* error) {
  std::optional<platform::Bytes> bytes = config.protoBuffer();
  if (!bytes || bytes->empty()) return APMFailWithError(error, 1, "Invalid measurement config data");
  if (APMPBGetString(&config, APMPBMeasurementConfigSlot::kAppID).value_or("").empty()) {
    return APMFailWithError(error, 1, "Missing Zoruvu app ID in measurement configuration");
  }
  Record row{{"remote_config_data", platform::Value::data(*bytes)},
             {"remote_config_timestamp", platform::Clock::current()->now()}};
  return updateDataType(row, "app_metadata", "rowid", platform::Value("1"), error);
}

bool APMDatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp, platform::Error* error) {
  return updateDataType(Record{{"remote_config_timestamp", timestamp}}, "app_metadata", "rowid", platform::Value("1"),
                        error);
}

std::shared_ptr<APMPBMeasurementConfig> APMDatabase::queryMeasurementConfigWithError(platform::Error* error) {
  std::optional<std::vector<Record>> rows =
      m_sqliteStore->recordsForQuery("SELECT remote_config_data FROM app_metadata LIMIT 1", {}, error);
  if (!rows || rows->empty()) return nullptr;
  const platform::Bytes* data = rows->front()["remote_config_data"].asData();
  if (data == nullptr || data->empty()) return nullptr;
  std::shared_ptr<APMPBMeasurementConfig> config = APMPBMeasurementConfig::initWithBuffer(*data);
  if (!config) APMFailWithError(error, 2, "Remote config data is corrupted");
  return config;
}

std::optional<double> APMDatabase::lastRemoteConfigUpdateTimestamp(platform::Error* error) {
  std::optional<platform::Value> timestamp =
      m_sqliteStore->numberForQuery("SELECT remote_config_timestamp FROM app_metadata LIMIT 1", {}, error);
  if (!timestamp) return std::nullopt;
  return timestamp->doubleValue();
}

// --- event aggregates -----------------------------------------------------------------------------------

std::optional<std::vector<std::shared_ptr<APMEventAggregates>>> APMDatabase::allEventAggregates(
    platform::Error* error) {
  return allDataTypesFromTableWithName<APMEventAggregates>(
      "events", -1, error, [](const Record& row, platform::Error*) { return aggregatesFromRow(row); });
}

std::shared_ptr<APMEventAggregates> APMDatabase::eventAggregatesWithName(const std::string& name,
                                                                         platform::Error* error) {
  return eventAggregatesWithNameInTable(name, "events", error);
}

std::shared_ptr<APMEventAggregates> APMDatabase::eventAggregatesSnapshotWithName(const std::string& name,
                                                                                 platform::Error* error) {
  std::optional<bool> exists = m_sqliteStore->tableExists("events_snapshot", nullptr);
  if (!exists || !*exists) return nullptr;
  return eventAggregatesWithNameInTable(name, "events_snapshot", error);
}

std::shared_ptr<APMEventAggregates> APMDatabase::eventAggregatesWithNameInTable(const std::string& name,
                                                                                const std::string& table,
                                                                                platform::Error* error) {
  auto rows = dataTypesFromTableWithName<APMEventAggregates>(
      table, "name", platform::Value(name), error,
      [](const Record& row, platform::Error*) { return aggregatesFromRow(row); });
  if (!rows || rows->empty()) return nullptr;
  return rows->front();
}

bool APMDatabase::updateEventAggregates(const APMEventAggregates* aggregates, platform::Error* error) {
  if (aggregates == nullptr) {
    return APMFailWithError(error, 3, "Received empty event aggregates object for getting dictionary representation");
  }
  if (aggregates->name().empty()) {
    return APMFailWithError(error, 1,
                            "Received event aggregates object with empty name for getting dictionary representation");
  }
  Record row{{"name", aggregates->name()},
             {"lifetime_count", aggregates->lifetimeCount()},
             {"current_bundle_count", aggregates->currentBundleCount()},
             {"last_fire_timestamp", aggregates->lastFireTimestamp()},
             {"last_bundled_timestamp", aggregates->lastBundledTimestamp()},
             {"last_sampling_rate", aggregates->lastSamplingRate()},
             {"last_exempt_from_sampling", aggregates->lastExemptFromSampling() ? 1 : 0},
             {"last_bundled_day", aggregates->lastBundledDay()},
             {"current_session_count", aggregates->currentSessionCount()}};
  if (std::optional<int64_t> sampled = aggregates->lastSampledComplexEventID()) {
    row.set("last_sampled_complex_event_id", static_cast<long long>(*sampled));
  }
  return upsertDataType(row, "events", "name", platform::Value(aggregates->name()), -1, error);
}

std::optional<platform::Value> APMDatabase::publicEventCount(platform::Error* error) {
  return m_sqliteStore->numberForQuery("SELECT count(1) FROM events WHERE name NOT LIKE '!_%' ESCAPE '!'", {}, error);
}

bool APMDatabase::clearCurrentSessionCounts(platform::Error* error) {
  return m_sqliteStore->updateAllRecordsInTableWithName("events", "current_session_count", platform::Value(0), error);
}

bool APMDatabase::deleteAllEventAggregates(platform::Error* error) {
  return m_sqliteStore->deleteAllRecordsFromTableWithName("events", error);
}

bool APMDatabase::deleteAllEventAggregatesInSnapshot(platform::Error* error) {
  return m_sqliteStore->deleteAllRecordsFromTableWithName("events_snapshot", error);
}

bool APMDatabase::createEventsSnapshotTable(platform::Error* error) {
  std::optional<bool> exists = m_sqliteStore->tableExists("events_snapshot", nullptr);
  if (exists && *exists) m_sqliteStore->dropTableWithName("events_snapshot", nullptr);
  if (!m_sqliteStore->createEmptyTable("events_snapshot", "events", error)) {
    APMEngineServices::monitor()->logWithLevel(4, 12058, "Failed to ensure event snapshot table");
    return false;
  }
  return m_sqliteStore->copyContentsFromTable("events", "events_snapshot", error);
}

bool APMDatabase::restoreFromEventsSnapshotTable(platform::Error* error) {
  std::optional<bool> exists = m_sqliteStore->tableExists("events_snapshot", nullptr);
  if (!exists || !*exists) return true;
  std::optional<platform::Value> count = m_sqliteStore->rowCountForTableWithName("events_snapshot", nullptr);
  if (!count || count->longLongValue() == 0) return true;
  std::shared_ptr<APMEventAggregates> currentFirstOpen = eventAggregatesWithName("_f", nullptr);
  if (!deleteAllEventAggregates(error) || !m_sqliteStore->copyContentsFromTable("events_snapshot", "events", error)) {
    return false;
  }
  std::shared_ptr<APMEventAggregates> snapshotFirstOpen = eventAggregatesSnapshotWithName("_f", nullptr);
  if ((!snapshotFirstOpen || snapshotFirstOpen->lifetimeCount() == 0) && currentFirstOpen) {
    updateEventAggregates(currentFirstOpen.get(), nullptr);
  }
  return deleteAllEventAggregatesInSnapshot(error);
}

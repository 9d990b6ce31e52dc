// APMDatabase: raw events, their bundle metadata and the upload queue.
#include <cmath>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULGzip.h"

namespace {

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }
double now() { return platform::Clock::current()->now(); }

std::optional<platform::Bytes> encoded(const NANOMessageBase& message) { return message.protoBuffer(); }

// The data column of a raw event: its message without the name (which has a
// column of its own), encoded into data; false when it cannot be.
bool rawEventData(const APMEvent& event, platform::Bytes& data) { return event.encodeProtoEvent(data, false); }

// The columns of a raw event row, in the order of rawEventRow's record.
constexpr std::string_view kRawEventColumns[] = {"name", "timestamp", "metadata_fingerprint", "data", "is_realtime"};

// The row of a raw event.
std::optional<APMSqliteStore::Record> rawEventRow(const APMEvent& event, int64_t fingerprint, bool isRealtime) {
  platform::Bytes data;
  if (!rawEventData(event, data)) return std::nullopt;
  APMSqliteStore::Record row;
  row.reserve(5);
  row.set(std::string(kRawEventColumns[0]), event.name());
  row.set(std::string(kRawEventColumns[1]), event.timestamp());
  row.set(std::string(kRawEventColumns[2]), static_cast<long long>(fingerprint));
  row.set(std::string(kRawEventColumns[3]), platform::Value::data(std::move(data)));
  row.set(std::string(kRawEventColumns[4]), isRealtime ? 1 : 0);
  return row;
}

// One parameter at the nested level: a one-entry dictionary for a scalar,
// the flat dictionary of its children for a list.
std::optional<platform::Dictionary> nestedParameter(const APMPBEventParam& param);

std::optional<platform::Value> scalarValue(const APMPBEventParam& param) {
  if (APMPBHasField(&param, APMPBEventParamSlot::kStringValue)) {
    return APMValue::toObject(
        APMValue::initWithString(APMPBGetString(&param, APMPBEventParamSlot::kStringValue).value_or("")));
  }
  if (APMPBHasField(&param, APMPBEventParamSlot::kIntValue))
    return APMValue::toObject(APMValue::initWithInt64(APMPBGetInt64(&param, APMPBEventParamSlot::kIntValue)));
  if (APMPBHasField(&param, APMPBEventParamSlot::kDoubleValue)) {
    return APMValue::toObject(APMValue::initWithDouble(APMPBGetDouble(&param, APMPBEventParamSlot::kDoubleValue)));
  }
  return std::nullopt;
}

std::vector<std::shared_ptr<APMPBEventParam>> children(const APMPBEventParam& param) {
  std::vector<std::shared_ptr<APMPBEventParam>> list;
  if (std::optional<platform::Array> items = APMPBGetArray<APMPBEventParam>(&param, APMPBEventParamSlot::kParamValue)) {
    for (const platform::Value& item : *items) {
      if (auto child = APMPBObjectFromValue<APMPBEventParam>(item)) list.push_back(child);
    }
  }
  return list;
}

std::optional<platform::Dictionary> nestedParameter(const APMPBEventParam& param) {
  const std::string name = APMPBGetString(&param, APMPBEventParamSlot::kName).value_or("");
  if (std::optional<platform::Value> value = scalarValue(param)) return platform::Dictionary{{name, *value}};
  platform::Dictionary flat;
  for (const auto& child : children(param)) {
    std::optional<platform::Dictionary> entry = nestedParameter(*child);
    const std::string childName = APMPBGetString(child.get(), APMPBEventParamSlot::kName).value_or("");
    if (!entry) continue;
    // Only a child's own entry enters; grandchildren are dropped.
    if (const platform::Value* value = entry->find(childName)) flat.set(childName, *value);
  }
  return flat;
}

// A top-level parameter as name -> value; none (the error set) when it has
// no name or cannot be read.
std::optional<std::pair<std::string, platform::Value>> topLevelParameter(const APMPBEventParam* param,
                                                                        platform::Error* error) {
  if (param == nullptr) {
    APMFailWithError(error, 1, "Failed to parse empty event params data");
    return std::nullopt;
  }
  std::optional<std::string> name = APMPBGetString(param, APMPBEventParamSlot::kName);
  if (!name || name->empty()) {
    APMFailWithError(error, 1, "Event parameter name is empty");
    return std::nullopt;
  }
  if (std::optional<platform::Value> value = scalarValue(*param)) return std::make_pair(*name, *value);
  platform::Array items;
  for (const auto& child : children(*param)) {
    if (std::optional<platform::Dictionary> entry = nestedParameter(*child)) items.append(platform::Value(*entry));
  }
  APMValuePtr array = APMValue::initWithArray(platform::Value(items));
  if (!array) return std::nullopt;
  return std::make_pair(*name, APMValue::toObject(array));
}

}  // namespace

// --- raw event metadata ----------------------------------------------------------------------------

bool APMDatabase::insertIfNotExistsRawEventMetadata(const APMPBMeasurementBundle& metadata, platform::Error* error) {
  std::optional<platform::Bytes> bytes = encoded(metadata);
  const int64_t fingerprint = apm_64LSBMD5(bytes.value_or(platform::Bytes()));
  platform::Error queryError;
  if (queryRawEventsMetadataWithFingerprint(fingerprint, &queryError)) return true;
  if (!bytes || bytes->empty()) {
    return APMFailWithError(error, 3,
                            "Received empty measurement bundle metadata for getting dictionary representation");
  }
  Record row{{"metadata_fingerprint", static_cast<long long>(fingerprint)},
             {"metadata", platform::Value::data(*bytes)}};
  return upsertDataType(row, "raw_events_metadata", "metadata_fingerprint",
                        platform::Value(static_cast<long long>(fingerprint)), 100000, error);
}

std::shared_ptr<APMPBMeasurementBundle> APMDatabase::queryRawEventsMetadataWithFingerprint(int64_t fingerprint,
                                                                                          platform::Error* error) {
  auto bundles = dataTypesFromTableWithName<APMPBMeasurementBundle>(
      "raw_events_metadata", "metadata_fingerprint", platform::Value(static_cast<long long>(fingerprint)), error,
      [](const Record& row, platform::Error* rowError) -> std::shared_ptr<APMPBMeasurementBundle> {
        if (row.empty()) {
          APMFailWithError(rowError, 3, "Received empty dictionary for getting measurement bundle");
          return nullptr;
        }
        const platform::Bytes* data = row.get("metadata").asData();
        if (data == nullptr || data->empty()) {
          APMFailWithError(rowError, 3, "Event metadata should not be empty for getting measurement bundle");
          return nullptr;
        }
        return APMPBMeasurementBundle::initWithBuffer(*data);
      });
  if (!bundles || bundles->empty()) return nullptr;
  return bundles->front();
}

bool APMDatabase::deleteRawEventMetadataWithMetadataFingerprint(int64_t fingerprint, platform::Error* error) {
  return m_sqliteStore
      ->deleteRecordsFromTableWithName("raw_events_metadata", "metadata_fingerprint == ?",
                                       {platform::Value(static_cast<long long>(fingerprint))}, error)
      .has_value();
}

bool APMDatabase::deleteUnusedRawEventsMetadata(platform::Error* error) {
  return m_sqliteStore
      ->deleteRecordsFromTableWithName(
          "raw_events_metadata", "metadata_fingerprint NOT IN (SELECT DISTINCT metadata_fingerprint FROM raw_events)",
          {}, error)
      .has_value();
}

// --- raw events ------------------------------------------------------------------------------------

std::optional<platform::Value> APMDatabase::isRawEventsTableEmpty(platform::Error* error) {
  return m_sqliteStore->numberForQuery("SELECT NOT EXISTS (SELECT 1 FROM raw_events LIMIT 1)", {}, error);
}

std::optional<std::vector<std::shared_ptr<APMRawEventData>>> APMDatabase::allRawEventsWithError(
    platform::Error* error) {
  return allDataTypesFromTableWithName<APMRawEventData>(
      "raw_events", APMEngineServices::remoteConfig()->maxEventsStored(), error,
      [this](const Record& row, platform::Error* rowError) { return rawEventDataFromDictionary(row, rowError); });
}

bool APMDatabase::insertRawEvent(const APMEvent* event, int64_t metadataFingerprint, bool isRealtime,
                                 platform::Error* error) {
  if (event == nullptr) return APMFailWithError(error, 1, "Received empty event for inserting in the database");
  // The row of rawEventRow, bound straight from the event and a kept buffer.
  if (!rawEventData(*event, m_rawEventData)) {
    return APMFailWithError(error, 3, "Received empty raw event data for getting dictionary representation");
  }
  using Column = APMSqliteStore::ColumnValue;
  const Column values[] = {Column::ofText(event->name()), Column::ofReal(event->timestamp()),
                           Column::ofInteger(metadataFingerprint), Column::ofBlob(m_rawEventData),
                           Column::ofInteger(isRealtime ? 1 : 0)};
  static const std::string kTable = "raw_events";
  return m_sqliteStore->upsertColumns(kTable, kRawEventColumns, values, error);
}

std::optional<platform::Value> APMDatabase::queryLatestRawEventTime(platform::Error* error) {
  return m_sqliteStore->numberForQuery("SELECT MAX(timestamp) FROM raw_events", {}, error);
}

std::optional<std::vector<std::shared_ptr<APMRawEventData>>> APMDatabase::rawEventsWithMetadataFingerprint(
    int64_t fingerprint, platform::Error* error, const APMSqliteStore::RowFilter& eventFilter) {
  if (!eventFilter) {
    APMFailWithError(error, 1, "Received empty filter for selecting records");
    return std::nullopt;
  }
  std::optional<std::vector<Record>> rows = m_sqliteStore->recordsForQuery(
      "SELECT rowid, * FROM raw_events WHERE metadata_fingerprint = ? ORDER BY rowid ASC LIMIT ?",
      {platform::Value(static_cast<long long>(fingerprint)),
       platform::Value(static_cast<long long>(kMaxRawEventsPerFingerprintRead))},
      error, eventFilter);
  if (!rows) return std::nullopt;
  std::vector<std::shared_ptr<APMRawEventData>> events;
  for (const Record& row : *rows) {
    if (auto data = rawEventDataFromDictionary(row, error)) events.push_back(data);
  }
  if (!rows->empty() && events.empty()) return std::nullopt;
  return events;
}

std::optional<platform::Value> APMDatabase::containsRawEventWithMetadataFingerprint(int64_t fingerprint,
                                                                                   platform::Error* error) {
  return m_sqliteStore->numberForQuery(
      "SELECT EXISTS (SELECT 1 FROM raw_events WHERE metadata_fingerprint = ? LIMIT 1)",
      {platform::Value(static_cast<long long>(fingerprint))}, error);
}

bool APMDatabase::updateRawEvent(const APMRawEventData* data, platform::Error* error) {
  if (data == nullptr)
    return APMFailWithError(error, 3, "Received empty raw event data for getting dictionary representation");
  std::optional<Record> row =
      rawEventRow(*data->rawEvent(), data->metadataFingerprint(), data->rawEvent()->isRealtime());
  if (!row) return APMFailWithError(error, 3, "Received empty raw event data for getting dictionary representation");
  return updateDataType(row, "raw_events", "rowid", platform::Value(static_cast<long long>(data->rowID())), error);
}

bool APMDatabase::deleteRawEventsWithMaxRowID(int64_t rowID, platform::Error* error) {
  return m_sqliteStore
      ->deleteRecordsFromTableWithName("raw_events", "rowid <= ?", {platform::Value(static_cast<long long>(rowID))},
                                       error)
      .has_value();
}

std::optional<int32_t> APMDatabase::deleteRawEventsOverAbsoluteLimit(platform::Error* error) {
  const int64_t keep = static_cast<int64_t>(APMEngineServices::remoteConfig()->maxEventsStored()) - 1;
  return m_sqliteStore->deleteRecordsFromTableWithName(
      "raw_events", "rowid IN (SELECT rowid FROM raw_events ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
      {platform::Value(static_cast<long long>(keep))}, error);
}

bool APMDatabase::deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, platform::Error* error) {
  if (maxAge < 0) return APMFailWithError(error, 1, "Cannot delete stale raw events given negative time period");
  std::optional<int32_t> deleted =
      m_sqliteStore->deleteRecordsFromTableWithName("raw_events", "abs(timestamp - cast(? as REAL)) > cast(? as REAL)",
                                                    {platform::Value(now()), platform::Value(maxAge)}, error);
  if (!deleted) return false;
  if (*deleted > 0) return deleteUnusedRawEventsMetadata(error);
  return true;
}

std::optional<platform::Value> APMDatabase::nextMetadataFingerprintToProcess(platform::Error* error) {
  std::optional<std::vector<Record>> rows =
      m_sqliteStore->recordsForQuery("SELECT metadata_fingerprint, MIN(rowid) FROM raw_events", {}, error);
  if (!rows) return std::nullopt;
  if (rows->size() != 1) {
    APMFailWithError(error, 2, "Only one event metadata should be processed");
    return std::nullopt;
  }
  const platform::Value fingerprint = rows->front().get("metadata_fingerprint");
  if (fingerprint.isNull()) return std::nullopt;
  return fingerprint;
}

std::optional<platform::Value> APMDatabase::containsRealtimeRawEventsWithError(platform::Error* error) {
  return m_sqliteStore->numberForQuery("SELECT EXISTS (SELECT 1 FROM raw_events WHERE is_realtime = 1 LIMIT 1)", {},
                                       error);
}

std::shared_ptr<APMRawEventData> APMDatabase::rawEventDataFromDictionary(const std::optional<Record>& row,
                                                                         platform::Error* error) {
  if (!row) {
    APMFailWithError(error, 1, "Received empty dictionary for getting raw event data");
    return nullptr;
  }
  const platform::Value rowID = row->get("rowid");
  if (rowID.isNull()) {
    APMFailWithError(error, 1, "Unable to find row ID in the database dictionary");
    return nullptr;
  }
  const platform::Value data = row->get("data");
  if (data.isNull()) {
    APMFailWithError(error, 1, "Unable to find event data in the database dictionary");
    return nullptr;
  }
  const platform::Value fingerprint = row->get("metadata_fingerprint");
  if (fingerprint.isNull()) {
    APMFailWithError(error, 1, "Unable to find event metadata in the database dictionary");
    return nullptr;
  }
  std::shared_ptr<APMPBEvent> proto =
      data.asData() != nullptr ? APMPBEvent::initWithBuffer(*data.asData()) : nullptr;
  if (!proto) {
    APMFailWithError(error, 3, "Failed to parse event from data");
    return nullptr;
  }
  const std::string name = row->get("name").stringValue();
  const double timestamp = row->get("timestamp").doubleValue();
  const double previous = static_cast<double>(APMPBGetInt64(proto.get(), APMPBEventSlot::kPreviousTimestamp)) / 1000.0;
  std::string origin;
  platform::Dictionary parameters;
  if (std::optional<platform::Array> params = APMPBGetArray<APMPBEventParam>(proto.get(), APMPBEventSlot::kParams)) {
    for (const platform::Value& item : *params) {
      std::shared_ptr<APMPBEventParam> param = APMPBObjectFromValue<APMPBEventParam>(item);
      if (param && APMPBGetString(param.get(), APMPBEventParamSlot::kName) == std::optional<std::string>("_o")) {
        std::optional<std::string> text = APMPBHasField(param.get(), APMPBEventParamSlot::kStringValue)
                                              ? APMPBGetString(param.get(), APMPBEventParamSlot::kStringValue)
                                              : std::nullopt;
        if (!text) {
          APMFailWithError(error, 2, "Cannot create an event from database. Origin parameter is not a string");
          return nullptr;
        }
        origin = *text;
        continue;
      }
      std::optional<std::pair<std::string, platform::Value>> entry = topLevelParameter(param.get(), error);
      if (!entry) {
        APMFailWithError(error, 2, "Failed to parse event params from data");
        return nullptr;
      }
      parameters.set(entry->first, entry->second);
    }
  }
  if (origin.empty()) {
    APMFailWithError(error, 2, "Cannot create an event from database. Missing origin parameter");
    return nullptr;
  }
  std::shared_ptr<APMEvent> event = APMEvent::initWithOrigin(origin, false, name, timestamp, previous, parameters);
  std::shared_ptr<APMRawEventData> raw =
      APMRawEventData::initWithRawEvent(event, rowID.longLongValue(), fingerprint.longLongValue());
  if (!raw) APMFailWithError(error, 2, "Failed to initialize raw event data from dictionary");
  return raw;
}

// --- upload queue ----------------------------------------------------------------------------------------

std::optional<platform::Value> APMDatabase::isQueuedBundleTableEmpty(platform::Error* error) {
  return m_sqliteStore->numberForQuery("SELECT NOT EXISTS (SELECT 1 FROM queue LIMIT 1)", {}, error);
}

bool APMDatabase::insertBundle(const APMPBMeasurementBundle& bundle, bool isRealtime, platform::Error* error) {
  std::optional<platform::Bytes> bytes = encoded(bundle);
  if (!bytes || bytes->empty()) return APMFailWithError(error, 1, "Failed to insert nil bundle");
  if (APMPBGetString(&bundle, APMPBMeasurementBundleSlot::kAppID).value_or("").empty()) {
    return APMFailWithError(error, 1, "Failed to insert bundle without App ID");
  }
  const int64_t endMilliseconds = APMPBGetInt64(&bundle, APMPBMeasurementBundleSlot::kEndTimestamp);
  if (endMilliseconds <= 0) return APMFailWithError(error, 1, "Failed to insert bundle without valid timestamp");
  if (!maybeDeleteStaleData(error)) return false;
  const double end = static_cast<double>(endMilliseconds) / 1000.0;
  if (std::fabs(now() - end) > APMEngineServices::remoteConfig()->maxQueueTime()) {
    monitor()->logWithLevel(4, 12016, "Storing bundle outside of the max uploading time span");
  }
  platform::Error gzipError;
  std::optional<platform::Bytes> compressed = ZULGzip::zul_dataByGzippingData(*bytes, &gzipError);
  if (!compressed || compressed->empty()) return APMFailWithError(error, 2, "Failed to compress bundle");
  monitor()->logWithLevel(7, 12018, "Saving bundle. size (bytes)", static_cast<long long>(compressed->size()));
  Record row{{"bundle_end_timestamp", end},
             {"data", platform::Value::data(*compressed)},
             {"is_realtime", isRealtime ? 1 : 0},
             {"retry_count", APMPBGetInt32(&bundle, APMPBMeasurementBundleSlot::kRetryCount)}};
  return insertDataType(row, "queue", error);
}

std::optional<std::string> APMDatabase::rowIDCondition(const std::vector<platform::Value>& rowIDs,
                                                       platform::Error* error) {
  if (rowIDs.empty()) {
    APMFailWithError(error, 3, "Received empty row IDs to process");
    return std::nullopt;
  }
  std::string placeholders;
  for (const platform::Value& rowID : rowIDs) {
    if (!rowID.isNumber()) {
      APMFailWithError(error, 3, "Received invalid type for row ID to process");
      return std::nullopt;
    }
    placeholders += placeholders.empty() ? "?" : ",?";
  }
  return "rowid IN (" + placeholders + ")";
}

bool APMDatabase::incrementRetryCounterForBundlesWithIDs(const std::vector<platform::Value>& rowIDs,
                                                         platform::Error* error) {
  if (rowIDs.empty()) return APMFailWithError(error, 1, "Failed to increment retry counter");
  std::optional<platform::Value> atLimit = m_sqliteStore->numberForQuery(
      "SELECT EXISTS (SELECT 1 FROM queue WHERE retry_count = ? LIMIT 1)", {platform::Value(kMaxRetryCount)}, error);
  if (atLimit && atLimit->boolValue()) {
    monitor()->logWithLevel(1, 12054, "The number of upload retries exceeds the limit. Will remain unchanged.");
  }
  std::optional<std::string> condition = rowIDCondition(rowIDs, error);
  if (!condition) return false;
  Parameters parameters(rowIDs.begin(), rowIDs.end());
  parameters.push_back(platform::Value(kMaxRetryCount));
  return m_sqliteStore->increaseColumn("retry_count", 1, "queue", *condition + " AND retry_count < ?", parameters,
                                       error);
}

std::optional<APMDatabase::QueuedBundle> APMDatabase::bundleFromQueueRow(const Record& row, platform::Error* error) {
  if (row.empty()) {
    APMFailWithError(error, 3, "Cannot process empty rowData");
    return std::nullopt;
  }
  const platform::Bytes* data = row.get("data").asData();
  if (data == nullptr || data->empty()) {
    APMFailWithError(error, 3, "Cannot decompress an empty bundle data");
    return std::nullopt;
  }
  platform::Error inflateError;
  std::optional<platform::Bytes> inflated = ZULGzip::zul_dataByInflatingGzippedData(*data, &inflateError);
  if (!inflated) {
    APMFailWithError(error, 2, inflateError.localizedDescription());
    return std::nullopt;
  }
  std::shared_ptr<APMPBMeasurementBundle> bundle = APMPBMeasurementBundle::initWithBuffer(*inflated);
  if (!bundle) {
    APMFailWithError(error, 2, "Unable to parse bundle from decompressed data");
    return std::nullopt;
  }
  const platform::Value retry = row.get("retry_count");
  if (!retry.isNull() && retry.longLongValue() > 0) {
    APMPBSetInt32(bundle.get(), APMPBMeasurementBundleSlot::kRetryCount, retry.numberAs<int32_t>());
  }
  return QueuedBundle{bundle, row.get("rowid").longLongValue()};
}

std::optional<std::vector<APMDatabase::QueuedBundle>> APMDatabase::queryBundlesWithCountLimit(int64_t countLimit,
                                                                                             int64_t sizeLimit,
                                                                                             platform::Error* error) {
  std::optional<std::vector<Record>> rows = m_sqliteStore->recordsForQuery(
      "SELECT rowid, data, retry_count FROM queue ORDER BY rowid ASC LIMIT ?",
      {platform::Value(static_cast<long long>(countLimit))}, error);
  if (!rows) return std::nullopt;
  std::vector<QueuedBundle> bundles;
  int32_t sum = 0;
  for (const Record& row : *rows) {
    platform::Error rowError;
    std::optional<QueuedBundle> bundle = bundleFromQueueRow(row, &rowError);
    if (!bundle) continue;
    const int32_t size = static_cast<int32_t>(bundle->first->protoBuffer().value_or(platform::Bytes()).size());
    // The running sum is a 32-bit count, as the size limit of a batch is.
    const int32_t next = static_cast<int32_t>(static_cast<uint32_t>(sum) + static_cast<uint32_t>(size));
    if (!bundles.empty() && next > sizeLimit) break;
    bundles.push_back(*bundle);
    sum = next;
    if (sum > sizeLimit) break;
  }
  return bundles;
}

std::optional<std::vector<APMDatabase::QueuedBundle>> APMDatabase::queryBundlesWithRowIDs(
    const std::vector<platform::Value>& rowIDs, platform::Error* error) {
  std::optional<std::string> condition = rowIDCondition(rowIDs, error);
  if (!condition) return std::nullopt;
  std::optional<std::vector<Record>> rows =
      m_sqliteStore->recordsForQuery("SELECT rowid, data, retry_count FROM queue WHERE " + *condition, rowIDs, error);
  if (!rows) return std::nullopt;
  std::vector<QueuedBundle> bundles;
  for (const Record& row : *rows) {
    platform::Error rowError;
    if (std::optional<QueuedBundle> bundle = bundleFromQueueRow(row, &rowError)) bundles.push_back(*bundle);
  }
  return bundles;
}

bool APMDatabase::deleteBundlesWithRowIDs(const std::vector<platform::Value>& rowIDs, platform::Error* error) {
  std::optional<std::string> condition = rowIDCondition(rowIDs, error);
  if (!condition) return false;
  return m_sqliteStore->deleteRecordsFromTableWithName("queue", *condition, rowIDs, error).has_value();
}

std::optional<platform::Value> APMDatabase::queryLatestBundleTime(platform::Error* error) {
  return m_sqliteStore->numberForQuery("SELECT MAX(bundle_end_timestamp) FROM queue", {}, error);
}

std::optional<platform::Value> APMDatabase::containsRealtimeBundlesWithError(platform::Error* error) {
  return m_sqliteStore->numberForQuery("SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1 LIMIT 1)", {}, error);
}

std::optional<bool> APMDatabase::maybeDeleteStaleData(platform::Error* error) {
  const double current = now();
  const double last = m_persistedConfig ? m_persistedConfig->lastDeleteStaleBundlesTimestamp() : 0;
  std::shared_ptr<APMRemoteConfig> settings = APMEngineServices::remoteConfig();
  if (!(std::fabs(current - last) > settings->databaseDeleteStaleBundlesInterval())) return false;
  const double maxAge = settings->maxQueueTime();
  if (!deleteStaleRawEventsDataOlderThanMaxAge(maxAge, error) || !deleteStaleBundlesOlderThanMaxAge(maxAge, error)) {
    return std::nullopt;
  }
  if (m_persistedConfig) m_persistedConfig->setLastDeleteStaleBundlesTimestamp(current);
  return true;
}

bool APMDatabase::deleteStaleBundlesOlderThanMaxAge(double maxAge, platform::Error* error) {
  if (maxAge < 0) return APMFailWithError(error, 1, "Cannot delete stale bundles after negative time period");
  return m_sqliteStore
      ->deleteRecordsFromTableWithName("queue", "abs(bundle_end_timestamp - cast(? as REAL)) > cast(? as REAL)",
                                       {platform::Value(now()), platform::Value(maxAge)}, error)
      .has_value();
}

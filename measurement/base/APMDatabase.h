// APMDatabase: the measurement engine's one persistent store, the SQLite
// file "zoruvu-app-measurement.sql" in "Zoruvu/Measurement" of Application
// Support. It decides the schema of its 14 tables (app_metadata,
// raw_events_metadata, raw_events, events, user_attributes, queue,
// event_filters, property_filters, audience_filter_values,
// purchase_transactions, subscriptions, conditional_properties,
// main_event_params, odm_values; events_snapshot is made on demand), turns
// rows into the measurement types and back, and enforces per-table row
// limits. All SQL work goes through APMSqliteStore.
//
// Opening: the store opens (locking the file, recreating it only when it is
// shown to be damaged); then every table is ensured. A table whose columns
// cannot be brought to the schema (the store's code-2 errors) or a file found
// corrupt meanwhile deletes the file, so the next opening starts afresh; any
// other failure (disk full, read-only, busy) fails the opening and keeps the
// file and its rows. Finally row 1 of app_metadata is made when missing.
//
// The day number is floor((now - midnightOffset) / 86400) with the persisted
// per-installation midnight offset. Settings come from the services seam's
// remoteConfig() at every use.
//
// Errors: measurement errors with codes 1 (bad argument), 2 (wrong state,
// table full) and 3 (storage failure), with the descriptions of each
// operation.
//
// Thread safety: single-threaded by contract: every call on the engine's
// worker queue. Atomic sequences go through performTransaction.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "measurement/base/APMAppMetadata.h"
#include "measurement/base/APMDailyCounts.h"
#include "measurement/base/APMError.h"
#include "measurement/base/APMEvent.h"
#include "measurement/base/APMEventAggregates.h"
#include "measurement/base/APMPropertyFilter.h"
#include "measurement/base/APMRawEventData.h"
#include "measurement/base/APMRemoteConfigStorage.h"
#include "measurement/base/APMSqliteStore.h"
#include "measurement/base/APMUserAttribute.h"
#include "measurement/base/APMConditionalUserProperty.h"
#include "measurement/types/APMEventFilter.h"
#include "measurement/types/APMFilterResult.h"
#include "measurement/messages/APMPBMessage.h"

class APMPersistedConfig;

class APMDatabase : public APMRemoteConfigStorage {
 public:
  static constexpr const char* kDatabaseName = "zoruvu-app-measurement.sql";
  static constexpr int64_t kMaxRawEventsPerFingerprintRead = 1000;
  static constexpr int32_t kMaxRetryCount = 2147483647;

  using Record = APMSqliteStore::Record;
  using Parameters = APMSqliteStore::Parameters;
  template <class T>
  using DataTypeBlock = std::function<std::shared_ptr<T>(const Record& row, platform::Error* error)>;
  using QueuedBundle = std::pair<std::shared_ptr<APMPBMeasurementBundle>, int64_t>;

  // Nullptr when the file cannot be opened (see above).
  static std::shared_ptr<APMDatabase> initWithDatabaseName(const std::string& name,
                                                           std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                           platform::Error* error);
  bool initializeDatabaseResourcesWithContext(const std::string& context, const std::string& databasePath,
                                              platform::Error* error);
  bool reset(platform::Error* error);
  bool performTransaction(const std::function<bool()>& block);
  bool initializeAppMetadata();

  APMSqliteStore* sqliteStore() const { return m_sqliteStore.get(); }
  const std::shared_ptr<APMPersistedConfig>& persistedConfig() const { return m_persistedConfig; }
  // Today's day number.
  int64_t currentDay();

  // --- generic rows ---------------------------------------------------------------------
  template <class T>
  std::optional<std::vector<std::shared_ptr<T>>> allDataTypesFromTableWithName(const std::string& table,
                                                                               int64_t tableLimit,
                                                                               platform::Error* error,
                                                                               const DataTypeBlock<T>& block);
  template <class T>
  std::optional<std::vector<std::shared_ptr<T>>> dataTypesFromTableWithName(const std::string& table,
                                                                            const std::string& columnName,
                                                                            const platform::Value& columnValue,
                                                                            platform::Error* error,
                                                                            const DataTypeBlock<T>& block);
  bool insertDataType(const std::optional<Record>& record, const std::string& table, platform::Error* error);
  bool upsertDataType(const std::optional<Record>& record, const std::string& table, const std::string& columnName,
                      const platform::Value& columnValue, int64_t tableLimit, platform::Error* error);
  bool updateDataType(const std::optional<Record>& record, const std::string& table, const std::string& columnName,
                      const platform::Value& columnValue, platform::Error* error);

  // --- raw events and metadata --------------------------------------------------------------
  bool insertIfNotExistsRawEventMetadata(const APMPBMeasurementBundle& metadata, platform::Error* error);
  std::shared_ptr<APMPBMeasurementBundle> queryRawEventsMetadataWithFingerprint(int64_t fingerprint,
                                                                               platform::Error* error);
  bool deleteRawEventMetadataWithMetadataFingerprint(int64_t fingerprint, platform::Error* error);
  bool deleteUnusedRawEventsMetadata(platform::Error* error);
  std::optional<platform::Value> isRawEventsTableEmpty(platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMRawEventData>>> allRawEventsWithError(platform::Error* error);
  bool insertRawEvent(const APMEvent* event, int64_t metadataFingerprint, bool isRealtime, platform::Error* error);
  std::optional<platform::Value> queryLatestRawEventTime(platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMRawEventData>>> rawEventsWithMetadataFingerprint(
      int64_t fingerprint, platform::Error* error, const APMSqliteStore::RowFilter& eventFilter);
  std::optional<platform::Value> containsRawEventWithMetadataFingerprint(int64_t fingerprint, platform::Error* error);
  bool updateRawEvent(const APMRawEventData* data, platform::Error* error);
  bool deleteRawEventsWithMaxRowID(int64_t rowID, platform::Error* error);
  std::optional<int32_t> deleteRawEventsOverAbsoluteLimit(platform::Error* error);
  bool deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, platform::Error* error);
  std::optional<platform::Value> nextMetadataFingerprintToProcess(platform::Error* error);
  std::optional<platform::Value> containsRealtimeRawEventsWithError(platform::Error* error);
  std::shared_ptr<APMRawEventData> rawEventDataFromDictionary(const std::optional<Record>& row,
                                                              platform::Error* error);

  // --- upload queue ------------------------------------------------------------------------------
  std::optional<platform::Value> isQueuedBundleTableEmpty(platform::Error* error);
  bool insertBundle(const APMPBMeasurementBundle& bundle, bool isRealtime, platform::Error* error);
  bool incrementRetryCounterForBundlesWithIDs(const std::vector<platform::Value>& rowIDs, platform::Error* error);
  std::optional<std::vector<QueuedBundle>> queryBundlesWithCountLimit(int64_t countLimit, int64_t sizeLimit,
                                                                      platform::Error* error);
  std::optional<std::vector<QueuedBundle>> queryBundlesWithRowIDs(const std::vector<platform::Value>& rowIDs,
                                                                  platform::Error* error);
  bool deleteBundlesWithRowIDs(const std::vector<platform::Value>& rowIDs, platform::Error* error);
  std::optional<platform::Value> queryLatestBundleTime(platform::Error* error);
  std::optional<platform::Value> containsRealtimeBundlesWithError(platform::Error* error);
  // YES when the stale data was deleted now, NO when it was not due; none on failure.
  std::optional<bool> maybeDeleteStaleData(platform::Error* error);
  bool deleteStaleBundlesOlderThanMaxAge(double maxAge, platform::Error* error);

  // --- app metadata, daily counts, configuration ---------------------------------------------
  std::shared_ptr<APMAppMetadata> queryAppMetadata(platform::Error* error);
  bool updateAppMetadata(const APMAppMetadata* metadata, platform::Error* error);
  std::shared_ptr<APMDailyCounts> dailyCounts(platform::Error* error);
  bool updateDailyCounts(const APMDailyCounts* counts, platform::Error* error);
  bool updateRemoteConfig(const APMPBMeasurementConfig& config, platform::Error* error) override;
  bool updateRemoteConfigSuccessfulTimestamp(double timestamp, platform::Error* error);
  std::shared_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(platform::Error* error) override;
  std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error* error) override;

  // --- event aggregates ---------------------------------------------------------------------------
  std::optional<std::vector<std::shared_ptr<APMEventAggregates>>> allEventAggregates(platform::Error* error);
  std::shared_ptr<APMEventAggregates> eventAggregatesWithName(const std::string& name, platform::Error* error);
  std::shared_ptr<APMEventAggregates> eventAggregatesSnapshotWithName(const std::string& name,
                                                                      platform::Error* error);
  std::shared_ptr<APMEventAggregates> eventAggregatesWithNameInTable(const std::string& name,
                                                                     const std::string& table,
                                                                     platform::Error* error);
  bool updateEventAggregates(const APMEventAggregates* aggregates, platform::Error* error);
  std::optional<platform::Value> publicEventCount(platform::Error* error);
  bool clearCurrentSessionCounts(platform::Error* error);
  bool deleteAllEventAggregates(platform::Error* error);
  bool deleteAllEventAggregatesInSnapshot(platform::Error* error);
  bool createEventsSnapshotTable(platform::Error* error);
  bool restoreFromEventsSnapshotTable(platform::Error* error);

  // --- user properties --------------------------------------------------------------------------------
  std::optional<platform::Value> publicUserAttributeCount(platform::Error* error);
  std::optional<platform::Value> userAttributeCountForOrigin(const std::string& origin, platform::Error* error);
  std::optional<platform::Value> containsUserAttributeWithName(const std::string& name, platform::Error* error);
  std::shared_ptr<APMUserAttribute> userAttributeWithName(const std::string& name, platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> allLifetimeValueUserAttributes(
      platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> userAttributesIncludingInternal(
      bool includingInternal, platform::Error* error);
  bool updateUserAttribute(const APMUserAttribute* attribute, platform::Error* error);
  bool deleteUserAttributeWithName(const std::string& name, platform::Error* error);

  // --- audience filters and results -------------------------------------------------------------------
  std::optional<std::vector<int32_t>> allAudienceIDs(platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMEventFilter>>> eventFiltersForEventName(const std::string& name,
                                                                                      platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMPropertyFilter>>> propertyFiltersForPropertyName(
      const std::string& name, platform::Error* error);
  bool updateEventFilters(const std::vector<std::shared_ptr<APMAudienceFilter>>& filters, platform::Error* error);
  bool updatePropertyFilters(const std::vector<std::shared_ptr<APMAudienceFilter>>& filters, platform::Error* error);
  bool deleteEventFilters(const std::vector<std::shared_ptr<APMAudienceFilter>>& filters, platform::Error* error);
  bool deletePropertyFilters(const std::vector<std::shared_ptr<APMAudienceFilter>>& filters, platform::Error* error);
  bool deleteAllEventFilters(platform::Error* error);
  bool deleteAllPropertyFilters(platform::Error* error);
  // Audience ID -> its session-scoped filter IDs, in row order.
  std::optional<std::map<int32_t, std::vector<int32_t>>> allSessionScopedFilters(platform::Error* error);
  std::optional<std::map<int32_t, std::shared_ptr<APMFilterResult>>> allFilterResults(platform::Error* error);
  std::shared_ptr<APMFilterResult> filterResultForAudienceID(int32_t audienceID, platform::Error* error);
  bool updateFilterResults(const std::vector<std::shared_ptr<APMFilterResult>>& results, platform::Error* error);
  bool deleteFilterResults(const std::vector<std::shared_ptr<APMFilterResult>>& results, platform::Error* error);

  // --- conditional user properties -------------------------------------------------------------------
  std::shared_ptr<APMConditionalUserProperty> conditionalUserPropertyWithName(const std::string& name,
                                                                              platform::Error* error);
  bool updateConditionalUserProperty(const APMConditionalUserProperty* property, platform::Error* error);
  bool deleteConditionalUserPropertyWithName(const std::string& name, platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>> timedOutConditionalUserPropertiesWithError(
      platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>> expiredConditionalUserPropertiesWithError(
      platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
  triggeredConditionalUserPropertiesWithEventName(const std::string& eventName, platform::Error* error);
  // Matches the origin exactly and the prefix literally ("_" and "%" are
  // themselves, case counts); neither given matches every property.
  std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>> conditionalUserPropertiesWithPrefix(
      const std::string& prefix, const std::string& origin, platform::Error* error);
  std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>> conditionalUserPropertiesWithCondition(
      const std::string& condition, const Parameters& parameterValues, platform::Error* error);

  // --- purchases, subscriptions, complex events, on-device measurement ----------------------------------
  std::optional<bool> insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint, platform::Error* error);
  std::optional<bool> insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID, platform::Error* error);
  std::optional<int32_t> deleteSubscriptionsOverLimit(platform::Error* error);
  bool updateComplexEventForAudienceEvaluationWithEventID(int64_t eventID, int64_t childEventCount,
                                                          const APMEvent* mainEvent, platform::Error* error);
  // [event, children count], or none without a row (or on failure, the error set).
  std::optional<std::pair<std::shared_ptr<APMEvent>, int64_t>> mainEventAndChildCountPairWithEventID(
      int64_t eventID, platform::Error* error);
  bool deleteComplexEventForAudienceEvaluationWithEventID(int64_t eventID, platform::Error* error);
  std::optional<Record> ODMValueWithName(const std::string& name, platform::Error* error);
  bool updateODMValue(const std::string& value, const std::string& name, double setTimestamp,
                      platform::Error* error);
  bool deleteODMValueWithName(const std::string& name, platform::Error* error);

  // The storable form of a user or conditional property value: a string, a
  // double, or a 64-bit integer.
  static platform::Value storableValue(const APMValue& value);

 private:
  explicit APMDatabase(std::shared_ptr<APMPersistedConfig> persistedConfig);
  bool ensureAllTables(platform::Error* error);
  bool deleteFile(const std::string& path, platform::Error* error);
  std::optional<std::string> rowIDCondition(const std::vector<platform::Value>& rowIDs, platform::Error* error);
  std::optional<QueuedBundle> bundleFromQueueRow(const Record& row, platform::Error* error);
  std::shared_ptr<APMEvent> eventFromBlob(const platform::Value& blob, platform::Error* error);
  std::shared_ptr<APMConditionalUserProperty> conditionalUserPropertyFromRow(const Record& row,
                                                                             platform::Error* error);

  std::unique_ptr<APMSqliteStore> m_sqliteStore;
  std::shared_ptr<APMPersistedConfig> m_persistedConfig;
  // The wire form of the raw event being inserted, kept so that a run of
  // inserts reuses its buffer.
  platform::Bytes m_rawEventData;
};

// --- templates -------------------------------------------------------------------------------------

template <class T>
std::optional<std::vector<std::shared_ptr<T>>> APMDatabase::allDataTypesFromTableWithName(
    const std::string& table, int64_t tableLimit, platform::Error* error, const DataTypeBlock<T>& block) {
  if (!block) {
    APMSetError(error, 1, "Received nil block to get all data types");
    return std::nullopt;
  }
  std::optional<std::vector<Record>> rows = m_sqliteStore->recordsForQuery(
      "SELECT rowid, * FROM " + table + " ORDER BY rowid LIMIT " + std::to_string(tableLimit), {}, error);
  if (!rows) return std::nullopt;
  std::vector<std::shared_ptr<T>> objects;
  for (const Record& row : *rows) {
    if (std::shared_ptr<T> object = block(row, error)) objects.push_back(std::move(object));
  }
  return objects;
}

template <class T>
std::optional<std::vector<std::shared_ptr<T>>> APMDatabase::dataTypesFromTableWithName(
    const std::string& table, const std::string& columnName, const platform::Value& columnValue,
    platform::Error* error, const DataTypeBlock<T>& block) {
  if (table.empty()) {
    APMSetError(error, 1, "Received empty table name to create data type from table");
    return std::nullopt;
  }
  if (columnName.empty()) {
    APMSetError(error, 1, "Received empty column name to create data type from table");
    return std::nullopt;
  }
  if (columnValue.isNull()) {
    APMSetError(error, 1, "Received nil column value to create data type from table");
    return std::nullopt;
  }
  if (!block) {
    APMSetError(error, 2, "Received nil block to create data type from table");
    return std::nullopt;
  }
  std::optional<std::vector<Record>> rows = m_sqliteStore->recordsForQuery(
      "SELECT rowid, * FROM " + table + " WHERE " + columnName + " = ?", {columnValue}, error);
  if (!rows) return std::nullopt;
  std::vector<std::shared_ptr<T>> objects;
  for (const Record& row : *rows) {
    if (std::shared_ptr<T> object = block(row, error)) objects.push_back(std::move(object));
  }
  if (!rows->empty() && objects.empty()) {
    APMSetError(error, 2, "Failed to initialize data types from dictionaries");
    return std::nullopt;
  }
  return objects;
}

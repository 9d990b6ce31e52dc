// APMDatabase: user properties, audience filters and results, conditional
// user properties, purchases and subscriptions, complex events and
// on-device-measurement values.
#include <set>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMNameTables.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/time/Clock.h"

namespace {

constexpr int64_t kUserAttributesLimit = 1000;
constexpr int64_t kConditionalPropertiesLimit = 1000;
constexpr int64_t kODMValuesLimit = 10;
constexpr int64_t kPurchasesKept = 1000;
constexpr int64_t kSubscriptionsKept = 1000;

double now() { return platform::Clock::current()->now(); }

std::shared_ptr<APMUserAttribute> userAttributeFromRow(const APMSqliteStore::Record& row, platform::Error* error) {
  if (row.empty()) {
    APMFailWithError(error, 3, "Received empty dictionary for getting user property");
    return nullptr;
  }
  const platform::Value& stored = row["value"];
  APMValuePtr value = stored.isNull() ? nullptr : APMValue::valueFromObject(stored);
  if (!value) return nullptr;
  return APMUserAttribute::initWithOrigin(row["origin"].stringValue(), row["name"].stringValue(), value,
                                          row["set_timestamp"].doubleValue());
}

// The flags of an encoded filter message (all NO when it does not decode).
template <class Message>
std::tuple<bool, bool, bool> filterFlags(const platform::Value& data, int32_t sessionSlot, int32_t dynamicSlot,
                                         int32_t sequenceSlot) {
  const platform::Bytes* bytes = data.asData();
  std::shared_ptr<Message> message = bytes != nullptr ? Message::initWithBuffer(*bytes) : nullptr;
  if (!message) return {false, false, false};
  return {APMPBGetBool(message.get(), sessionSlot), APMPBGetBool(message.get(), dynamicSlot),
          APMPBGetBool(message.get(), sequenceSlot)};
}

platform::Bytes bytesOf(const platform::Value& value) {
  const platform::Bytes* bytes = value.asData();
  return bytes != nullptr ? *bytes : platform::Bytes();
}

// "(audience_id=%d AND filter_id=%d)" per filter, joined by " OR ".
std::string filterCondition(const std::vector<std::shared_ptr<APMAudienceFilter>>& filters) {
  std::string condition;
  for (const auto& filter : filters) {
    if (!condition.empty()) condition += " OR ";
    condition += "(audience_id=" + std::to_string(filter->audienceID()) +
                 " AND filter_id=" + std::to_string(filter->filterID()) + ")";
  }
  return condition;
}

}  // namespace

// --- user properties ------------------------------------------------------------------------------

std::optional<platform::Value> APMDatabase::publicUserAttributeCount(platform::Error* error) {
  return m_sqliteStore->numberForQuery("SELECT count(1) FROM user_attributes WHERE name NOT LIKE '!_%' ESCAPE '!'",
                                       {}, error);
}

std::optional<platform::Value> APMDatabase::userAttributeCountForOrigin(const std::string& origin,
                                                                        platform::Error* error) {
  if (origin.empty()) {
    APMFailWithError(error, 1, "Received empty user property origin for count query");
    return std::nullopt;
  }
  return m_sqliteStore->numberForQuery("SELECT count(1) FROM user_attributes WHERE origin = ?",
                                       {platform::Value(origin)}, error);
}

std::optional<platform::Value> APMDatabase::containsUserAttributeWithName(const std::string& name,
                                                                          platform::Error* error) {
  if (name.empty()) {
    APMFailWithError(error, 1, "Received empty user property name for exists query");
    return std::nullopt;
  }
  return m_sqliteStore->numberForQuery("SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name = ? LIMIT 1)",
                                       {platform::Value(name)}, error);
}

std::shared_ptr<APMUserAttribute> APMDatabase::userAttributeWithName(const std::string& name, platform::Error* error) {
  auto rows = dataTypesFromTableWithName<APMUserAttribute>("user_attributes", "name", platform::Value(name), error,
                                                           userAttributeFromRow);
  if (!rows || rows->empty()) return nullptr;
  return rows->front();
}

std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> APMDatabase::allLifetimeValueUserAttributes(
    platform::Error* error) {
  std::optional<std::vector<Record>> rows = m_sqliteStore->recordsForQuery(
      "SELECT * FROM user_attributes WHERE name LIKE '!_ltv!_%' ESCAPE '!' ORDER BY set_timestamp DESC", {}, error);
  if (!rows) return std::nullopt;
  std::vector<std::shared_ptr<APMUserAttribute>> attributes;
  for (const Record& row : *rows) {
    std::shared_ptr<APMUserAttribute> attribute = userAttributeFromRow(row, error);
    if (!attribute) return std::nullopt;
    attributes.push_back(attribute);
  }
  return attributes;
}

std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> APMDatabase::userAttributesIncludingInternal(
    bool includingInternal, platform::Error* error) {
  auto all = allDataTypesFromTableWithName<APMUserAttribute>("user_attributes", kUserAttributesLimit, error,
                                                             userAttributeFromRow);
  if (!all || includingInternal) return all;
  std::vector<std::shared_ptr<APMUserAttribute>> visible;
  for (const auto& attribute : *all) {
    const std::string& name = attribute->name();
    if (name.empty() || name[0] == '_') continue;
    if (APMDataTypeValidator::hasReservedPrefixes(platform::Value(name))) continue;
    if (APMReservedUserPropertyNames().count(name) > 0) continue;
    visible.push_back(attribute);
  }
  return visible;
}

bool APMDatabase::updateUserAttribute(const APMUserAttribute* attribute, platform::Error* error) {
  if (attribute == nullptr)
    return APMFailWithError(error, 3, "Received empty user property for getting dictionary representation");
  if (attribute->origin().empty()) {
    return APMFailWithError(error, 3, "Received user property with empty origin for getting dictionary representation");
  }
  if (attribute->name().empty()) {
    return APMFailWithError(error, 1, "Received user property with empty name for getting dictionary representation");
  }
  const APMValuePtr& value = attribute->value();
  if (value && value->isString() && value->stringValue().value_or("").empty()) {
    return APMFailWithError(error, 1, "Received empty string value for user property");
  }
  Record row{{"origin", attribute->origin()},
             {"name", attribute->name()},
             {"value", value ? storableValue(*value) : platform::Value()},
             {"set_timestamp", attribute->lastSetTimestamp()}};
  return upsertDataType(row, "user_attributes", "name", platform::Value(attribute->name()), kUserAttributesLimit,
                        error);
}

bool APMDatabase::deleteUserAttributeWithName(const std::string& name, platform::Error* error) {
  return m_sqliteStore->deleteRecordFromTableWithName("user_attributes", "name", platform::Value(name), error);
}

// --- audience filters and results ---------------------------------------------------------------------

std::optional<std::vector<int32_t>> APMDatabase::allAudienceIDs(platform::Error* error) {
  std::optional<std::vector<Record>> rows = m_sqliteStore->recordsForQuery(
      "SELECT audience_id FROM event_filters UNION SELECT audience_id FROM property_filters", {}, error);
  if (!rows) return std::nullopt;
  std::vector<int32_t> ids;
  for (const Record& row : *rows) {
    const platform::Value& id = row["audience_id"];
    if (!id.isNumeric()) {
      APMFailWithError(error, 1, "Received nil audience ID for querying all audience IDs");
      return std::nullopt;
    }
    ids.push_back(id.numberAs<int32_t>());
  }
  return ids;
}

std::optional<std::vector<std::shared_ptr<APMEventFilter>>> APMDatabase::eventFiltersForEventName(
    const std::string& name, platform::Error* error) {
  if (name.empty()) {
    APMFailWithError(error, 1, "Received empty event name for getting event filters");
    return std::nullopt;
  }
  return dataTypesFromTableWithName<APMEventFilter>(
      "event_filters", "event_name", platform::Value(name), error,
      [](const Record& row, platform::Error* rowError) -> std::shared_ptr<APMEventFilter> {
        if (row.empty()) {
          APMFailWithError(rowError, 3, "Received empty dictionary for getting event filter");
          return nullptr;
        }
        auto [session, dynamic, sequence] =
            filterFlags<APMPBEventFilter>(row["data"], APMPBEventFilterSlot::kSessionScoped,
                                          APMPBEventFilterSlot::kDynamic, APMPBEventFilterSlot::kSequence);
        return APMEventFilter::initWithAudienceID(row["audience_id"].numberAs<int32_t>(),
                                                  row["filter_id"].numberAs<int32_t>(), row["event_name"].stringValue(),
                                                  bytesOf(row["data"]), session, dynamic, sequence);
      });
}

std::optional<std::vector<std::shared_ptr<APMPropertyFilter>>> APMDatabase::propertyFiltersForPropertyName(
    const std::string& name, platform::Error* error) {
  if (name.empty()) {
    APMFailWithError(error, 1, "Received empty property name for getting property filters");
    return std::nullopt;
  }
  return dataTypesFromTableWithName<APMPropertyFilter>(
      "property_filters", "property_name", platform::Value(name), error,
      [](const Record& row, platform::Error* rowError) -> std::shared_ptr<APMPropertyFilter> {
        if (row.empty()) {
          APMFailWithError(rowError, 3, "Received empty dictionary for getting property filter");
          return nullptr;
        }
        auto [session, dynamic, sequence] =
            filterFlags<APMPBPropertyFilter>(row["data"], APMPBPropertyFilterSlot::kSessionScoped,
                                             APMPBPropertyFilterSlot::kDynamic, APMPBPropertyFilterSlot::kSequence);
        return APMPropertyFilter::initWithAudienceID(
            row["audience_id"].numberAs<int32_t>(), row["filter_id"].numberAs<int32_t>(),
            row["property_name"].stringValue(), bytesOf(row["data"]), session, dynamic, sequence);
      });
}

bool APMDatabase::updateEventFilters(const std::vector<std::shared_ptr<APMAudienceFilter>>& filters,
                                     platform::Error* error) {
  if (filters.empty()) return APMFailWithError(error, 1, "Received empty event filters to update");
  for (const auto& element : filters) {
    auto filter = std::dynamic_pointer_cast<APMEventFilter>(element);
    if (element && !filter) return APMFailWithError(error, 1, "Received unknown data type to update event filter");
    if (!filter) return APMFailWithError(error, 3, "Received empty event filter for getting dictionary representation");
    if (filter->eventName().empty()) {
      return APMFailWithError(error, 3,
                              "Received event filter with empty event name for getting dictionary representation");
    }
    if (filter->data().empty()) {
      return APMFailWithError(error, 3, "Received event filter with empty data for getting dictionary representation");
    }
    Record row{{"audience_id", filter->audienceID()},
               {"filter_id", filter->filterID()},
               {"event_name", filter->eventName()},
               {"data", platform::Value::data(filter->data())},
               {"session_scoped", filter->isSessionScoped() ? 1 : 0}};
    if (!insertDataType(row, "event_filters", error)) return false;
  }
  return true;
}

bool APMDatabase::updatePropertyFilters(const std::vector<std::shared_ptr<APMAudienceFilter>>& filters,
                                        platform::Error* error) {
  if (filters.empty()) return APMFailWithError(error, 1, "Received empty property filters to update");
  for (const auto& element : filters) {
    auto filter = std::dynamic_pointer_cast<APMPropertyFilter>(element);
    if (element && !filter) return APMFailWithError(error, 1, "Received unknown data type to update property filter");
    if (!filter)
      return APMFailWithError(error, 3, "Received empty property filter for getting dictionary representation");
    if (filter->propertyName().empty()) {
      return APMFailWithError(error, 3,
                  "Received property filter with empty property name for getting dictionary representation");
    }
    if (filter->data().empty()) {
      return APMFailWithError(error, 3,
                              "Received property filter with empty data for getting dictionary representation");
    }
    Record row{{"audience_id", filter->audienceID()},
               {"filter_id", filter->filterID()},
               {"property_name", filter->propertyName()},
               {"data", platform::Value::data(filter->data())},
               {"session_scoped", filter->isSessionScoped() ? 1 : 0}};
    if (!insertDataType(row, "property_filters", error)) return false;
  }
  return true;
}

bool APMDatabase::deleteEventFilters(const std::vector<std::shared_ptr<APMAudienceFilter>>& filters,
                                     platform::Error* error) {
  if (filters.empty()) return APMFailWithError(error, 1, "Received empty event filters to delete");
  for (const auto& filter : filters) {
    if (!std::dynamic_pointer_cast<APMEventFilter>(filter)) {
      return APMFailWithError(error, 1, "Received unknown type to delete event filter");
    }
  }
  return m_sqliteStore->deleteRecordsFromTableWithName("event_filters", filterCondition(filters), {}, error)
      .has_value();
}

bool APMDatabase::deletePropertyFilters(const std::vector<std::shared_ptr<APMAudienceFilter>>& filters,
                                        platform::Error* error) {
  if (filters.empty()) return APMFailWithError(error, 1, "Received empty property filters to delete");
  for (const auto& filter : filters) {
    if (!std::dynamic_pointer_cast<APMPropertyFilter>(filter)) {
      return APMFailWithError(error, 1, "Received unknown type to delete property filter");
    }
  }
  return m_sqliteStore->deleteRecordsFromTableWithName("property_filters", filterCondition(filters), {}, error)
      .has_value();
}

bool APMDatabase::deleteAllEventFilters(platform::Error* error) {
  return m_sqliteStore->deleteAllRecordsFromTableWithName("event_filters", error);
}

bool APMDatabase::deleteAllPropertyFilters(platform::Error* error) {
  return m_sqliteStore->deleteAllRecordsFromTableWithName("property_filters", error);
}

std::optional<std::map<int32_t, std::vector<int32_t>>> APMDatabase::allSessionScopedFilters(platform::Error* error) {
  std::optional<std::vector<Record>> rows = m_sqliteStore->recordsForQuery(
      "SELECT audience_id, filter_id FROM event_filters WHERE session_scoped = 1 UNION SELECT audience_id, filter_id "
      "FROM property_filters WHERE session_scoped = 1",
      {}, error);
  if (!rows) return std::nullopt;
  std::map<int32_t, std::vector<int32_t>> filters;
  for (const Record& row : *rows) {
    filters[row["audience_id"].numberAs<int32_t>()].push_back(row["filter_id"].numberAs<int32_t>());
  }
  return filters;
}

namespace {

std::shared_ptr<APMFilterResult> filterResultFromRow(const APMSqliteStore::Record& row, platform::Error* error) {
  if (row.empty()) {
    APMFailWithError(error, 3, "Received empty dictionary for getting filter result");
    return nullptr;
  }
  std::optional<platform::Bytes> previous;
  if (const platform::Bytes* bytes = row["previous_results"].asData()) previous = *bytes;
  return APMFilterResult::initWithAudienceID(row["audience_id"].numberAs<int32_t>(), bytesOf(row["current_results"]),
                                             previous);
}

}  // namespace

std::optional<std::map<int32_t, std::shared_ptr<APMFilterResult>>> APMDatabase::allFilterResults(
    platform::Error* error) {
  auto results =
      allDataTypesFromTableWithName<APMFilterResult>("audience_filter_values", -1, error, filterResultFromRow);
  if (!results) return std::nullopt;
  std::map<int32_t, std::shared_ptr<APMFilterResult>> byAudience;
  for (const auto& result : *results) byAudience[result->audienceID()] = result;
  return byAudience;
}

std::shared_ptr<APMFilterResult> APMDatabase::filterResultForAudienceID(int32_t audienceID, platform::Error* error) {
  auto results = dataTypesFromTableWithName<APMFilterResult>("audience_filter_values", "audience_id",
                                                             platform::Value(audienceID), error, filterResultFromRow);
  if (!results || results->empty()) return nullptr;
  return results->front();
}

bool APMDatabase::updateFilterResults(const std::vector<std::shared_ptr<APMFilterResult>>& results,
                                      platform::Error* error) {
  if (results.empty()) return APMFailWithError(error, 1, "Received empty filter results to update");
  for (const auto& result : results) {
    if (!result)
      return APMFailWithError(error, 3, "Received empty filter result for getting dictionary representation");
    if (result->currentResults().empty()) {
      return APMFailWithError(error, 3, "Received filter result with empty data for getting dictionary representation");
    }
    const std::optional<platform::Bytes>& previous = result->previousResults();
    Record row{{"audience_id", result->audienceID()},
               {"current_results", platform::Value::data(result->currentResults())},
               {"previous_results",
                previous && !previous->empty() ? platform::Value::data(*previous) : platform::Value()}};
    if (!insertDataType(row, "audience_filter_values", error)) return false;
  }
  return true;
}

bool APMDatabase::deleteFilterResults(const std::vector<std::shared_ptr<APMFilterResult>>& results,
                                      platform::Error* error) {
  if (results.empty()) return APMFailWithError(error, 1, "Received empty filter results to delete");
  std::set<int32_t> audiences;
  for (const auto& result : results) {
    if (!result) return APMFailWithError(error, 1, "Received unknown type to delete filter result");
    audiences.insert(result->audienceID());
  }
  std::string list;
  for (int32_t audience : audiences) list += (list.empty() ? "" : ",") + std::to_string(audience);
  return m_sqliteStore->deleteRecordsFromTableWithName("audience_filter_values", "audience_id IN (" + list + ")", {},
                                                       error)
      .has_value();
}

// --- conditional user properties -----------------------------------------------------------------------

std::shared_ptr<APMEvent> APMDatabase::eventFromBlob(const platform::Value& blob, platform::Error* error) {
  const platform::Bytes* bytes = blob.asData();
  if (bytes == nullptr) {
    APMFailWithError(error, 2, "Failed to convert data to an event. Data must be a NSData instance");
    return nullptr;
  }
  std::shared_ptr<APMPBEvent> proto = APMPBEvent::initWithBuffer(*bytes);
  if (!proto) {
    APMFailWithError(error, 2, "Failed to parse event from data");
    return nullptr;
  }
  std::shared_ptr<APMEvent> event = APMEvent::initWithEventProto(proto.get());
  if (!event) APMFailWithError(error, 2, "Failed to initialize event from proto data");
  return event;
}

std::shared_ptr<APMConditionalUserProperty> APMDatabase::conditionalUserPropertyFromRow(const Record& row,
                                                                                        platform::Error* error) {
  auto property = std::make_shared<APMConditionalUserProperty>();
  property->setName(row["name"].stringValue());
  property->setOrigin(row["origin"].stringValue());
  const platform::Value& value = row["value"];
  property->setValue(value.isNull() ? nullptr : APMValue::valueFromObject(value));
  property->setTriggerTimeout(row["trigger_timeout"].doubleValue());
  property->setTimeToLive(row["time_to_live"].doubleValue());
  if (!row["trigger_event_name"].isNull()) property->setTriggerEventName(row["trigger_event_name"].stringValue());
  struct EventColumn {
    const char* column;
    void (APMConditionalUserProperty::*set)(const std::shared_ptr<APMEvent>&);
  };
  for (const EventColumn& entry : {EventColumn{"triggered_event", &APMConditionalUserProperty::setTriggeredEvent},
                                   EventColumn{"timed_out_event", &APMConditionalUserProperty::setTimedOutEvent},
                                   EventColumn{"expired_event", &APMConditionalUserProperty::setExpiredEvent}}) {
    const platform::Value& blob = row[entry.column];
    if (blob.isNull()) continue;
    std::shared_ptr<APMEvent> event = eventFromBlob(blob, error);
    if (!event) return nullptr;
    ((*property).*entry.set)(event);
  }
  property->setActive(row["active"].boolValue());
  property->setCreationTimestamp(row["creation_timestamp"].doubleValue());
  property->setTriggeredTimestamp(row["triggered_timestamp"].doubleValue());
  return property;
}

std::shared_ptr<APMConditionalUserProperty> APMDatabase::conditionalUserPropertyWithName(const std::string& name,
                                                                                         platform::Error* error) {
  auto rows = dataTypesFromTableWithName<APMConditionalUserProperty>(
      "conditional_properties", "name", platform::Value(name), error,
      [this](const Record& row, platform::Error* rowError) { return conditionalUserPropertyFromRow(row, rowError); });
  if (!rows || rows->empty()) return nullptr;
  return rows->front();
}

bool APMDatabase::updateConditionalUserProperty(const APMConditionalUserProperty* property, platform::Error* error) {
  if (property == nullptr) {
    return APMFailWithError(error, 3, "Received empty conditional user property for getting dictionary representation");
  }
  if (property->name().empty()) {
    return APMFailWithError(error, 3,
                            "Received conditional user property with empty name for getting dictionary representation");
  }
  if (property->origin().empty()) {
    return APMFailWithError(error, 3,
                "Received conditional user property with empty origin for getting dictionary representation");
  }
  if (!property->value()) {
    return APMFailWithError(error, 3,
                            "Received conditional user property with nil value for getting dictionary representation");
  }
  Record row{{"name", property->name()},
             {"origin", property->origin()},
             {"value", storableValue(*property->value())},
             {"creation_timestamp", property->creationTimestamp()},
             {"active", property->isActive() ? 1 : 0},
             {"trigger_timeout", property->triggerTimeout()},
             {"triggered_timestamp", property->triggeredTimestamp()},
             {"time_to_live", property->timeToLive()}};
  if (property->triggerEventName() && !property->triggerEventName()->empty()) {
    row.set("trigger_event_name", *property->triggerEventName());
  }
  auto addEvent = [&row](const char* column, const std::shared_ptr<APMEvent>& event) {
    platform::Bytes bytes;
    if (event && event->encodeProtoEvent(bytes, true)) row.set(column, platform::Value::data(std::move(bytes)));
  };
  addEvent("triggered_event", property->triggeredEvent());
  addEvent("timed_out_event", property->timedOutEvent());
  addEvent("expired_event", property->expiredEvent());
  return upsertDataType(row, "conditional_properties", "name", platform::Value(property->name()),
                        kConditionalPropertiesLimit, error);
}

bool APMDatabase::deleteConditionalUserPropertyWithName(const std::string& name, platform::Error* error) {
  return m_sqliteStore->deleteRecordFromTableWithName("conditional_properties", "name", platform::Value(name), error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::timedOutConditionalUserPropertiesWithError(platform::Error* error) {
  return conditionalUserPropertiesWithCondition("active=0 and abs(? - creation_timestamp) > trigger_timeout",
                                                {platform::Value(now())}, error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::expiredConditionalUserPropertiesWithError(platform::Error* error) {
  return conditionalUserPropertiesWithCondition("active=1 and abs(? - triggered_timestamp) > time_to_live",
                                                {platform::Value(now())}, error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::triggeredConditionalUserPropertiesWithEventName(const std::string& eventName, platform::Error* error) {
  if (eventName.empty()) {
    APMFailWithError(error, 1, "Received nil/empty event name for querying triggered conditional user properties");
    return std::nullopt;
  }
  return conditionalUserPropertiesWithCondition(
      "active=0 and trigger_event_name=? and abs(? - creation_timestamp) <= trigger_timeout",
      {platform::Value(eventName), platform::Value(now())}, error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::conditionalUserPropertiesWithPrefix(const std::string& prefix, const std::string& origin,
                                                 platform::Error* error) {
  // Exact comparisons: "_" and "%" in a prefix or origin are themselves.
  std::vector<std::string> conditions;
  Parameters parameters;
  if (!origin.empty()) {
    conditions.push_back("origin = ?");
    parameters.push_back(platform::Value(origin));
  }
  if (!prefix.empty()) {
    conditions.push_back("substr(name, 1, length(?)) = ?");
    parameters.push_back(platform::Value(prefix));
    parameters.push_back(platform::Value(prefix));
  }
  std::string condition;
  for (const std::string& part : conditions) condition += (condition.empty() ? "" : " AND ") + part;
  if (condition.empty()) condition = "1 == 1";
  return conditionalUserPropertiesWithCondition(condition, parameters, error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::conditionalUserPropertiesWithCondition(const std::string& condition, const Parameters& parameterValues,
                                                    platform::Error* error) {
  if (condition.empty()) {
    APMFailWithError(error, 1, "Received empty condition for querying a conditional user property");
    return std::nullopt;
  }
  std::optional<std::vector<Record>> rows =
      m_sqliteStore->recordsForQuery("SELECT rowid, * FROM conditional_properties WHERE " + condition, parameterValues,
                                     error);
  if (!rows) return std::nullopt;
  std::vector<std::shared_ptr<APMConditionalUserProperty>> properties;
  for (const Record& row : *rows) {
    std::shared_ptr<APMConditionalUserProperty> property = conditionalUserPropertyFromRow(row, error);
    if (!property) return std::nullopt;
    properties.push_back(property);
  }
  return properties;
}

// --- purchases and subscriptions ------------------------------------------------------------------------

std::optional<bool> APMDatabase::insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                                         platform::Error* error) {
  if (fingerprint.empty()) return false;
  std::optional<platform::Value> exists = m_sqliteStore->numberForQuery(
      "SELECT EXISTS (SELECT 1 FROM purchase_transactions WHERE fingerprint = ? LIMIT 1)",
      {platform::Value(fingerprint)}, error);
  if (!exists) return std::nullopt;
  if (exists->boolValue()) return false;
  if (!insertDataType(Record{{"fingerprint", fingerprint}}, "purchase_transactions", error)) return std::nullopt;
  if (!m_sqliteStore->deleteRecordsFromTableWithName(
          "purchase_transactions",
          "rowid IN (SELECT rowid FROM purchase_transactions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
          {platform::Value(static_cast<long long>(kPurchasesKept))}, error)) {
    return std::nullopt;
  }
  return true;
}

std::optional<bool> APMDatabase::insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                                    platform::Error* error) {
  if (subscriptionID.empty()) return false;
  std::optional<platform::Value> exists = m_sqliteStore->numberForQuery(
      "SELECT EXISTS (SELECT 1 FROM subscriptions WHERE subscription_id = ? LIMIT 1)",
      {platform::Value(subscriptionID)}, error);
  if (!exists) return std::nullopt;
  if (exists->boolValue()) return false;
  if (!insertDataType(Record{{"subscription_id", subscriptionID}}, "subscriptions", error)) return std::nullopt;
  return true;
}

std::optional<int32_t> APMDatabase::deleteSubscriptionsOverLimit(platform::Error* error) {
  return m_sqliteStore->deleteRecordsFromTableWithName(
      "subscriptions", "rowid IN (SELECT rowid FROM subscriptions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
      {platform::Value(static_cast<long long>(kSubscriptionsKept))}, error);
}

// --- complex events -----------------------------------------------------------------------------------------

bool APMDatabase::updateComplexEventForAudienceEvaluationWithEventID(int64_t eventID, int64_t childEventCount,
                                                                     const APMEvent* mainEvent,
                                                                     platform::Error* error) {
  if (mainEvent == nullptr) return APMFailWithError(error, 1, "Received nil main event");
  platform::Bytes bytes;
  if (!mainEvent->encodeProtoEvent(bytes, true) || bytes.empty()) {
    return APMFailWithError(error, 1, "Cannot create the main event blob");
  }
  Record row{{"main_event", platform::Value::data(std::move(bytes))},
             {"event_id", static_cast<long long>(eventID)},
             {"children_to_process", static_cast<long long>(childEventCount)}};
  return insertDataType(row, "main_event_params", error);
}

std::optional<std::pair<std::shared_ptr<APMEvent>, int64_t>> APMDatabase::mainEventAndChildCountPairWithEventID(
    int64_t eventID, platform::Error* error) {
  std::optional<std::vector<Record>> rows = m_sqliteStore->recordsForQuery(
      "SELECT * FROM main_event_params WHERE event_id=? LIMIT 1", {platform::Value(static_cast<long long>(eventID))},
      error);
  if (!rows || rows->empty()) return std::nullopt;
  const Record& row = rows->front();
  platform::Error blobError;
  std::shared_ptr<APMEvent> event = row["main_event"].isNull() ? nullptr : eventFromBlob(row["main_event"], &blobError);
  if (!event) {
    APMFailWithError(error, 3, "Main event blob is nil in database");
    return std::nullopt;
  }
  const platform::Value& children = row["children_to_process"];
  if (!children.isNumeric()) {
    APMFailWithError(error, 3, "Complex event does not have children count in database");
    return std::nullopt;
  }
  return std::make_pair(event, children.longLongValue());
}

bool APMDatabase::deleteComplexEventForAudienceEvaluationWithEventID(int64_t eventID, platform::Error* error) {
  return m_sqliteStore
      ->deleteRecordsFromTableWithName("main_event_params", "event_id=?",
                                       {platform::Value(static_cast<long long>(eventID))}, error)
      .has_value();
}

// --- on-device measurement values ---------------------------------------------------------------------------

std::optional<APMDatabase::Record> APMDatabase::ODMValueWithName(const std::string& name, platform::Error* error) {
  if (name.empty()) {
    APMFailWithError(error, 1, "Received ODM value with empty name for query");
    return std::nullopt;
  }
  auto rows = dataTypesFromTableWithName<Record>(
      "odm_values", "name", platform::Value(name), error,
      [](const Record& row, platform::Error*) { return std::make_shared<Record>(row.copy()); });
  if (!rows || rows->empty()) return std::nullopt;
  return *rows->front();
}

bool APMDatabase::updateODMValue(const std::string& value, const std::string& name, double setTimestamp,
                                 platform::Error* error) {
  if (value.empty()) return APMFailWithError(error, 1, "Received empty ODM value for update");
  if (name.empty()) return APMFailWithError(error, 1, "Received ODM value with empty name for update");
  Record row{{"name", name}, {"value", value}, {"set_timestamp", setTimestamp}};
  return upsertDataType(row, "odm_values", "name", platform::Value(name), kODMValuesLimit, error);
}

bool APMDatabase::deleteODMValueWithName(const std::string& name, platform::Error* error) {
  if (name.empty()) return APMFailWithError(error, 1, "Received ODM value with empty name for delete");
  return m_sqliteStore->deleteRecordFromTableWithName("odm_values", "name", platform::Value(name), error);
}

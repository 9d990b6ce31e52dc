// Bundle building: the oldest group of raw events becomes one queued,
// gzip-compressed bundle, inside one exclusive transaction that also moves
// the daily counts, the event aggregates, the app metadata and the user
// engagement properties; any failure rolls all of it back and the group is
// tried again on the next pass. A raw-event row that cannot be read is taken
// with its group and deleted with it, so one damaged row never blocks every
// later upload; so is a group whose metadata row is missing or damaged.
#include <algorithm>
#include <cmath>
#include <limits>

#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMDebugNames.h"
#include "measurement/base/APMEventAggregates.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMNameTables.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/engine/APMBundleIdentifiers.h"
#include "measurement/engine/APMBundleUtil.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULBundleAccess.h"

using platform::Dictionary;
using platform::Value;
using Bundle = APMPBMeasurementBundleSlot;

namespace {

bool failed(const platform::Error& error) { return !error.domain.empty(); }

double now() { return platform::Clock::current()->now(); }

// Seconds to milliseconds, truncated.
int64_t milliseconds(double seconds) { return static_cast<int64_t>(seconds * 1000); }

std::string debugName(const std::string& name) { return APMDebugEventName(Value(name)); }

std::string parametersDescription(const APMEvent& event) { return APMDescriptionString(Value(event.parameters())); }

APMValuePtr parameter(const APMEvent& event, const char* name) {
  return APMValue::fromObject(event.parameters().get(name));
}

// The internal name an allowed public name maps to ("in_app_purchase" ->
// "_iap"), or empty.
std::string allowedInternalName(const std::string& name) {
  const APMNameMap& map = APMAllowedPublicEventNameMap();
  auto found = map.find(name);
  return found == map.end() ? std::string() : found->second;
}

bool isPurchaseForCustomerType(const std::string& name) {
  return name == "_iap" || name == "purchase" || name == "in_app_purchase" || name == "ecommerce_purchase";
}

// An amount in millionths of the unit as a 64-bit integer, saturated.
int64_t amountInMicros(double amount) {
  const double micros = std::round(amount * 1000000.0);
  if (!(micros > static_cast<double>(std::numeric_limits<int64_t>::min()))) return std::numeric_limits<int64_t>::min();
  if (!(micros < static_cast<double>(std::numeric_limits<int64_t>::max()))) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(micros);
}

}  // namespace

// --- small steps ------------------------------------------------------------------------------

bool APMDeleteBundledRawEvents(APMDatabase& database, int64_t maxRowID, int64_t metadataFingerprint) {
  std::shared_ptr<APMMonitor> log = APMMeasurement::monitor();
  platform::Error error;
  if (!database.deleteRawEventsWithMaxRowID(maxRowID, &error)) {
    log->logWithLevel(1, 23119, "Unable to delete raw events. RowID, error", static_cast<long long>(maxRowID), error);
    return false;
  }
  std::optional<Value> remaining = database.containsRawEventWithMetadataFingerprint(metadataFingerprint, &error);
  if (!remaining) {
    log->logWithLevel(1, 23120, "Unable to query existence of raw event. Metadata, error",
                      static_cast<long long>(metadataFingerprint), error);
    return false;
  }
  if (remaining->boolValue()) return true;
  if (!database.deleteRawEventMetadataWithMetadataFingerprint(metadataFingerprint, &error)) {
    log->logWithLevel(1, 23121, "Unable to delete raw event metadata. Metadata, error",
                      static_cast<long long>(metadataFingerprint), error);
    return false;
  }
  return true;
}

bool APMContainsRealtimeEvent(const std::vector<std::shared_ptr<APMEvent>>& events) {
  return std::any_of(events.begin(), events.end(),
                     [](const std::shared_ptr<APMEvent>& event) { return event->isRealtime(); });
}

platform::Array APMUserAttributesWithoutPSM(const platform::Array& userAttributes) {
  platform::Array kept;
  for (const Value& item : userAttributes) {
    std::shared_ptr<APMPBUserAttribute> attribute = APMPBObjectFromValue<APMPBUserAttribute>(item);
    const std::string name =
        attribute ? APMPBGetString(attribute.get(), APMPBUserAttributeSlot::kName).value_or("") : std::string();
    if (!name.starts_with("_psm")) kept.append(item);
  }
  return kept;
}

bool APMIsSubjectToRealtimeLimit(const std::string& eventName, bool debugMode) {
  return !debugMode && eventName != "_iap" && eventName != "_f" && eventName != "_dcu" && eventName != "_fx";
}

bool APMIsDCURealtimeEvent(const std::string& eventName, bool debugMode) { return !debugMode && eventName == "_dcu"; }

// --- the bundling transaction -----------------------------------------------------------------

bool APMMeasurement::bundleRawEvents() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("bundleRawEvents");
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (!db || !settings) return false;
  std::shared_ptr<APMMonitor> log = monitor();
  bool consumed = false;

  const bool committed = db->performTransaction([&]() -> bool {
    // 1, 2. The oldest fingerprint and its group.
    platform::Error error;
    std::optional<Value> next = db->nextMetadataFingerprintToProcess(&error);
    if (!next) {
      if (!failed(error)) return true;  // no raw events
      log->logWithLevel(1, 23095, "Unable to fetch next event metadata. Error", error);
      return false;
    }
    const int64_t fingerprint = next->longLongValue();
    std::optional<RawEventGroup> group = rawEventsWithMetadataFingerprint(fingerprint);
    if (!group) return false;
    if (group->lastRowID < 0) return true;
    auto dropGroup = [&]() {
      if (!APMDeleteBundledRawEvents(*db, group->lastRowID, fingerprint)) return false;
      consumed = true;
      return true;
    };
    if (group->rawEvents.empty()) return dropGroup();  // only unreadable rows

    // 3. The metadata the bundle starts from. A missing or undecodable row
    // can never be bundled: its group goes, later groups go on.
    std::shared_ptr<APMPBMeasurementBundle> bundle = db->queryRawEventsMetadataWithFingerprint(fingerprint, &error);
    if (!bundle) {
      const bool damaged = !failed(error) || error.code == 2;
      if (!failed(error)) error = platform::Error{"com.zoruvu.vod.measurement", 2, {}};
      log->logWithLevel(1, 23098, "Unable to fetch event metadata. Metadata fingerprint, error",
                        static_cast<long long>(fingerprint), error);
      return damaged && dropGroup();
    }

    // 4. Rejection and the per-event checks.
    std::optional<std::vector<std::shared_ptr<APMEvent>>> processed = processRawEvents(*group, fingerprint);
    if (!processed) return false;
    if (processed->empty()) {
      consumed = true;
      return true;
    }

    // 5-8. Consent, session start and engagement, aggregates and event audiences.
    const bool analyticsDenied = APMConsentSettingsUtil::isAnalyticsStorageDenied();
    evaluationTimeFromRawEvents(*group, *bundle);
    handleAnalyticsStorageConsentTransitions(*bundle);
    std::shared_ptr<APMAudienceTimestampsCache> cache = newAudienceTimestampsCache();
    std::optional<std::vector<std::shared_ptr<APMEvent>>> events =
        eventsAfterUpdatingEventAggregates(*processed, cache, !analyticsDenied);
    if (!events) return false;

    // 9. The wire events; "_f" carries its "_elt" in a field of its own.
    platform::Array protoEvents;
    bool psmFirstOpen = false;
    for (const std::shared_ptr<APMEvent>& event : *events) {
      std::shared_ptr<APMEvent> wire = event;
      std::optional<int64_t> elt;
      if (event->name() == "_f" && event->parameters().contains("_elt")) {
        APMValuePtr value = parameter(*event, "_elt");
        elt = value ? value->int64Value() : 0;
        Dictionary parameters = event->parameters();
        parameters.remove("_elt");
        if (std::shared_ptr<APMEvent> copy = event->copyWithParameters(parameters)) wire = copy;
      } else if (event->name() == "_fx") {
        APMValuePtr source = parameter(*event, "_fxs");
        std::optional<std::string> text = source ? source->stringValue() : std::nullopt;
        if (text && text->starts_with("psm")) psmFirstOpen = true;
      }
      std::shared_ptr<APMPBEvent> proto = wire->protoEvent();
      if (!proto) continue;
      if (elt) APMPBSetInt64(proto.get(), APMPBEventSlot::kEltValue, *elt);
      protoEvents.append(APMPBObjectValue(proto));
    }

    // 10, 11. Sampling, which may drop every event.
    if (settings->isEventSamplingEnabled() && !log->isDebugModeEnabled()) {
      platform::Error samplingError;
      std::optional<platform::Array> sampled = sampleEvents(protoEvents, &samplingError);
      if (!sampled) return false;
      protoEvents = *sampled;
    }
    if (protoEvents.empty()) {
      log->logWithLevel(5, 23159, "No events left after sampling. Dropping bundle");
      return dropGroup();
    }

    // 12. Events and the last campaign.
    APMPBSetArray(bundle.get(), Bundle::kEvents, protoEvents);
    if (std::optional<Value> buffer = m_persistedConfig->adCampaignInfoBuffer()) {
      const platform::Bytes* bytes = buffer->asData();
      std::shared_ptr<APMPBAdCampaignInfo> campaign =
          bytes && !bytes->empty() ? APMPBAdCampaignInfo::initWithBuffer(*bytes) : nullptr;
      if (campaign) APMPBSetMessage(bundle.get(), Bundle::kAdCampaignInfo, campaign.get());
    }

    // 13, 14. The bundle's time span and indexes.
    double start = std::numeric_limits<double>::infinity();
    double end = -std::numeric_limits<double>::infinity();
    for (const std::shared_ptr<APMRawEventData>& raw : group->rawEvents) {
      start = std::min(start, raw->rawEvent()->timestamp());
      end = std::max(end, raw->rawEvent()->timestamp());
    }
    if (!updateAppMetadataForBundle(*bundle, start, end)) return false;

    // 15, 16. Personalized ads; what denied ad storage withholds.
    if (shouldUpdateNPAUserProperty()) {
      setPersonalizedAdsUserPropertyOnWorkerQueue();
      setShouldUpdateNPAUserProperty(false);
    }
    if (APMConsentSettingsUtil::isAdStorageDenied() && !psmFirstOpen) {
      APMPBClearField(bundle.get(), Bundle::kOnDeviceMeasurementInfo);
      APMPBSetArray(
          bundle.get(), Bundle::kUserAttributes,
          APMUserAttributesWithoutPSM(
              APMPBGetArray<APMPBUserAttribute>(bundle.get(), Bundle::kUserAttributes).value_or(platform::Array())));
    }

    // 17. User property audiences and the results.
    if (!analyticsDenied) {
      for (const Value& item :
           APMPBGetArray<APMPBUserAttribute>(bundle.get(), Bundle::kUserAttributes).value_or(platform::Array())) {
        std::shared_ptr<APMPBUserAttribute> attribute = APMPBObjectFromValue<APMPBUserAttribute>(item);
        if (attribute && !evaluateAudienceFiltersForUserProperty(*attribute, cache, start)) return false;
      }
      std::optional<platform::Array> results = audienceResultsForBundling();
      if (!results) {
        log->logWithLevel(1, 23113, "Unable to read audience evaluation results");
        return false;
      }
      if (!results->empty()) APMPBSetArray(bundle.get(), Bundle::kAudienceEvaluationResults, *results);
    }

    // 18, 19. Bundle metadata; the stitching token only when allowed.
    addBundleMetadataIntoBundle(*bundle, start, end);
    if (!settings->sessionStitchingTokenFeatureEnabled() || analyticsDenied) {
      APMPBClearField(bundle.get(), Bundle::kSessionStitchingToken);
    }

    // 20-22. Queue the bundle, then the raw events go.
    if (!db->insertBundle(*bundle, APMContainsRealtimeEvent(*events), &error)) {
      log->logWithLevel(1, 23115, "Unable to insert bundle. Error", error);
      return false;
    }
    log->logWithLevel(8, 23221, APMConsentSettingsUtil::description());
    log->logWithLevel(7, 23116, "Bundle added to the upload queue. BundleID, timestamp (ms)",
                      static_cast<long long>(APMPBGetInt32(bundle.get(), Bundle::kLastBundleIndex)),
                      static_cast<long long>(APMPBGetInt64(bundle.get(), Bundle::kEndTimestamp)));
    return dropGroup();
  });
  if (!committed || !consumed) return false;
  m_suspendedUploadTimestamp = 0;
  return true;
}

// --- grouping ---------------------------------------------------------------------------------

std::optional<APMMeasurement::RawEventGroup> APMMeasurement::rawEventsWithMetadataFingerprint(int64_t fingerprint) {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMMonitor> log = monitor();
  const int64_t maxEvents = settings->uploadMaxEventsPerBundle();
  const int64_t maxSize = settings->uploadMaxSizeLimitBytes();

  RawEventGroup group;
  int64_t taken = 0;
  int64_t takenSize = 0;
  std::optional<int64_t> hour;
  platform::Bytes encoded;
  auto filter = [&](uint32_t, const APMDatabase::Record& row) -> bool {
    if (taken > 0 && taken >= maxEvents) return false;
    const int64_t rowID = row.get("rowid").longLongValue();
    if (taken > 0 && rowID != group.lastRowID + 1) return false;
    platform::Error rowError;
    std::shared_ptr<APMRawEventData> raw = db->rawEventDataFromDictionary(row, &rowError);
    if (!raw) {
      // Taken without an event: deleted with the group.
      log->logWithLevel(4, 23096, "Failed to filter raw event. Error", rowError);
      ++taken;
      group.lastRowID = rowID;
      return true;
    }
    const auto rowHour = static_cast<int64_t>(std::floor(raw->rawEvent()->timestamp())) / 3600;
    if (hour && rowHour != *hour) return false;
    const int64_t size = raw->rawEvent()->encodeProtoEvent(encoded, true) ? static_cast<int64_t>(encoded.size()) : 0;
    if (!group.rawEvents.empty() && takenSize + size >= maxSize) return false;
    hour = rowHour;
    takenSize += size;
    ++taken;
    group.lastRowID = rowID;
    group.rawEvents.push_back(raw);
    return true;
  };
  platform::Error error;
  std::optional<std::vector<std::shared_ptr<APMRawEventData>>> rows =
      db->rawEventsWithMetadataFingerprint(fingerprint, &error, filter);
  // The database answers none when every row it kept was unreadable; the
  // group says what was taken.
  if (!rows && taken == 0) {
    log->logWithLevel(1, 23097, "Inconsistent state, raw event is expected. Error", error);
    return std::nullopt;
  }
  return group;
}

// --- raw event processing ---------------------------------------------------------------------

std::optional<std::vector<std::shared_ptr<APMEvent>>> APMMeasurement::processRawEvents(const RawEventGroup& group,
                                                                                       int64_t fingerprint) {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMMonitor> log = monitor();

  // 1, 2. Rejection. A public name's internal twin is not checked while only
  // internal events are block-listed.
  const bool internalOnly = settings->blocklistInternal() && !settings->blocklistPublic();
  std::vector<std::shared_ptr<APMEvent>> kept;
  for (const std::shared_ptr<APMRawEventData>& raw : group.rawEvents) {
    const std::shared_ptr<APMEvent>& event = raw->rawEvent();
    const std::string& name = event->name();
    const std::string internal = allowedInternalName(name);
    if (settings->isEventBlocklisted(name) ||
        (!internal.empty() && !internalOnly && settings->isEventBlocklisted(internal))) {
      log->logWithLevel(4, 23099, "Rejected event. Event name", debugName(name));
      continue;
    }
    if (name == "_e" && settings->redundantEngagementRemovalEnabled()) {
      APMValuePtr foreground = parameter(*event, "_fr");
      if (foreground && foreground->isInt64() && foreground->int64Value() == 1) continue;
    }
    kept.push_back(event);
  }
  if (kept.empty()) {
    if (!APMDeleteBundledRawEvents(*db, group.lastRowID, fingerprint)) return std::nullopt;
    log->logWithLevel(4, 23100, "Rejected all events.");
    return kept;
  }

  // 3-5. Today's counts move with the checks.
  platform::Error error;
  std::shared_ptr<APMDailyCounts> counts = db->dailyCounts(&error);
  if (!counts) {
    log->logWithLevel(1, 23101, "Failed to query daily event counts. Error", error);
    return std::nullopt;
  }
  bool changed = false;
  std::vector<std::shared_ptr<APMEvent>> events;
  for (const std::shared_ptr<APMEvent>& original : kept) {
    std::shared_ptr<APMEvent> event = internalEventFromPublicEvent(original);
    changed = checkConversion(*event, *counts) || changed;
    changed = checkRealtime(*event, *counts) || changed;
    events.push_back(processInAppPurchaseEvent(event));
  }
  if (changed && !db->updateDailyCounts(counts.get(), &error)) {
    log->logWithLevel(2, 23106, "Failed to update daily event counts. Name, error", std::string("daily counts"), error);
    return std::nullopt;
  }
  return events;
}

std::shared_ptr<APMEvent> APMMeasurement::internalEventFromPublicEvent(const std::shared_ptr<APMEvent>& event) {
  const std::string internal = allowedInternalName(event->name());
  if (internal.empty()) return event;
  std::shared_ptr<APMEvent> converted = APMEvent::initWithOrigin(event->origin(), false, internal, event->timestamp(),
                                                                 event->previousTimestamp(), event->parameters());
  return converted ? converted : event;
}

bool APMMeasurement::checkConversion(APMEvent& event, APMDailyCounts& dailyCounts) {
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (settings->isEventCustomConversion(event.name())) event.setConversion(true);
  if (!event.isConversion() || event.name().empty() || event.name()[0] == '_') return false;
  const int32_t limit = settings->maxConversionsPerDay();
  if (dailyCounts.conversionsCount() < limit) {
    const auto day = static_cast<int32_t>(database()->currentDay());
    dailyCounts.incrementCountsForCurrentDay(day, false, true);
    dailyCounts.decrementAllEventsCount();
    return true;
  }
  event.setConversion(false);
  monitor()->logWithLevel(3, 23102, "Too many conversion events. Not logging event as conversion. Name, limit",
                          debugName(event.name()), static_cast<long long>(limit));
  return false;
}

bool APMMeasurement::checkRealtime(APMEvent& event, APMDailyCounts& dailyCounts) {
  if (!event.isRealtime() && !event.isConversion()) return false;
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMMonitor> log = monitor();
  const bool debugMode = log->isDebugModeEnabled();
  const std::string& name = event.name();
  const auto day = static_cast<int32_t>(database()->currentDay());
  if (APMIsSubjectToRealtimeLimit(name, debugMode)) {
    if (dailyCounts.realtimeCount() < settings->maxRealtimeEventCountPerDay()) {
      dailyCounts.incrementRealtimeCountsForCurrentDay(day);
      event.setRealtime(true);
      log->logWithLevel(7, 23103,
                        "Event is under real-time event count daily limit. Marking the event "
                        "as real-time. Event name, "
                        "parameters",
                        debugName(name), parametersDescription(event));
      return true;
    }
    event.setRealtime(false);
    log->logWithLevel(4, 23104,
                      "Number of real-time events is over the real-time event count daily "
                      "limit. Event is no longer "
                      "real-time. Event name, parameters",
                      debugName(name), parametersDescription(event));
    return false;
  }
  if (APMIsDCURealtimeEvent(name, debugMode)) {
    if (dailyCounts.dcuRealtimeCount() < settings->maxRealtimeDCUEventCountPerDay()) {
      dailyCounts.incrementDCURealtimeCountsForCurrentDay(day);
      event.setRealtime(true);
      return true;
    }
    event.setRealtime(false);
    return false;
  }
  event.setRealtime(true);
  log->logWithLevel(7, 23105,
                    "Event is not subject to real-time event count daily limit. Marking an event "
                    "as real-time. Event "
                    "name, parameters",
                    debugName(name), parametersDescription(event));
  return false;
}

std::shared_ptr<APMEvent> APMMeasurement::processInAppPurchaseEvent(const std::shared_ptr<APMEvent>& event) {
  if (event->name() != "_iap") return event;
  return event->origin() == "app" ? processManualInAppPurchaseEvent(event) : validateAutomaticInAppPurchaseEvent(event);
}

std::shared_ptr<APMEvent> APMMeasurement::validateAutomaticInAppPurchaseEvent(const std::shared_ptr<APMEvent>& event) {
  if (event->parameters().contains("sandbox") || !ZULAppEnvironmentUtil::isAppStoreReceiptSandbox()) return event;
  Dictionary parameters = event->parameters();
  parameters.set("sandbox", APMValue::objectWithInt64(1));
  std::shared_ptr<APMEvent> copy = event->copyWithParameters(parameters);
  return copy ? copy : event;
}

std::shared_ptr<APMEvent> APMMeasurement::processManualInAppPurchaseEvent(const std::shared_ptr<APMEvent>& event) {
  Dictionary parameters = event->parameters();
  APMValuePtr quantity = parameter(*event, "quantity");
  if (!quantity || (!quantity->isInt64() && !quantity->isDouble())) {
    parameters.set("quantity", APMValue::objectWithInt64(1));
  }
  for (const char* name : {"price", "value"}) {
    APMValuePtr amount = parameter(*event, name);
    if (!amount || (!amount->isInt64() && !amount->isDouble())) continue;
    parameters.set(name, APMValue::objectWithInt64(amountInMicros(amount->doubleValue())));
  }
  std::shared_ptr<APMEvent> copy = event->copyWithParameters(parameters);
  return copy ? copy : event;
}

// --- session start, engagement and consent ------------------------------------------------------

double APMMeasurement::evaluationTimeFromRawEvents(const RawEventGroup& group, APMPBMeasurementBundle& bundle) {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMMonitor> log = monitor();
  double start = std::numeric_limits<double>::infinity();
  bool sessionStart = false;
  int64_t total = 0;
  for (const std::shared_ptr<APMRawEventData>& raw : group.rawEvents) {
    const APMEvent& event = *raw->rawEvent();
    start = std::min(start, event.timestamp());
    if (event.name() == "_s") sessionStart = true;
    APMValuePtr engagement = parameter(event, "_et");
    if (engagement && !event.parameters().contains("_fr")) total += engagement->int64Value();
  }

  // 1. A session start clears what was session scoped.
  if (sessionStart) {
    clearAudienceResultsForSessionScopedFilters();
    for (const Value& item : APMPBGetArray<APMPBUserAttribute>(&bundle, APMPBMeasurementBundleSlot::kUserAttributes)
                                 .value_or(platform::Array())) {
      std::shared_ptr<APMPBUserAttribute> attribute = APMPBObjectFromValue<APMPBUserAttribute>(item);
      if (attribute && !evaluateAudienceFiltersForUserProperty(*attribute, nullptr, std::nullopt)) return start;
    }
    platform::Error error;
    if (!db->clearCurrentSessionCounts(&error)) {
      log->logWithLevel(1, 23185, "Failed to clear event session counts. Error", error);
      return start;
    }
  }

  // 2, 3. Engagement, lifetime and then this session's.
  if (!updateUserEngagement(total, bundle, false)) return start;
  if (sessionStart) {
    platform::Error error;
    if (!db->deleteUserAttributeWithName("_se", &error)) {
      log->logWithLevel(1, 23188, "Unable to delete session engagement property on session start. Error", error);
      return start;
    }
  }
  updateUserEngagement(total, bundle, true);
  return start;
}

bool APMMeasurement::updateUserEngagement(int64_t milliseconds, APMPBMeasurementBundle& bundle, bool sessionScoped) {
  std::shared_ptr<APMMonitor> log = monitor();
  if (milliseconds < 0) {
    log->logWithLevel(2, 23186, "User engagement time is negative.");
    return false;
  }
  if (milliseconds == 0) return true;
  const std::string name = sessionScoped ? "_se" : "_lte";
  platform::Error error;
  std::shared_ptr<APMUserAttribute> stored = database()->userAttributeWithName(name, &error);
  if (failed(error)) {
    log->logWithLevel(1, 23187, "Failed to query for user engagement user property. Name, error", name, error);
    return false;
  }
  const int64_t previous = stored && stored->value() ? stored->value()->int64Value() : 0;
  const int64_t total = previous + milliseconds;
  const double setTime = now();
  std::shared_ptr<APMUserAttribute> attribute =
      APMUserAttribute::initWithOrigin("auto", name, APMValue::initWithInt64(total), setTime);
  if (!attribute || !setUserPropertyInDatabaseOnWorkerQueue(attribute)) return false;

  platform::Array attributes = APMPBGetArray<APMPBUserAttribute>(&bundle, APMPBMeasurementBundleSlot::kUserAttributes)
                                   .value_or(platform::Array());
  bool found = false;
  platform::Array updated;
  for (const Value& item : attributes) {
    std::shared_ptr<APMPBUserAttribute> entry = APMPBObjectFromValue<APMPBUserAttribute>(item);
    if (entry && APMPBGetString(entry.get(), APMPBUserAttributeSlot::kName) == std::optional<std::string>(name)) {
      APMPBSetInt64(entry.get(), APMPBUserAttributeSlot::kIntValue, total);
      APMPBSetInt64(entry.get(), APMPBUserAttributeSlot::kSetTimestamp, APMMillisecondsFromSeconds(setTime));
      found = true;
    }
    updated.append(entry ? APMPBObjectValue(entry) : item);
  }
  if (!found) {
    if (std::shared_ptr<APMPBUserAttribute> proto = attribute->protoUserAttribute())
      updated.append(APMPBObjectValue(proto));
  }
  APMPBSetArray(&bundle, APMPBMeasurementBundleSlot::kUserAttributes, updated);
  return true;
}

void APMMeasurement::handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& bundle) {
  const std::optional<std::string> signals = APMPBGetString(&bundle, APMPBMeasurementBundleSlot::kConsentSignals);
  const std::optional<std::string> previous = m_persistedConfig->previousBundledConsentSignals();
  if (signals == previous) return;
  const bool wasDenied = previous && APMIsAnalyticsStorageDeniedSignal(*previous);
  const bool isDenied = signals && APMIsAnalyticsStorageDeniedSignal(*signals);
  std::shared_ptr<APMDatabase> db = database();
  platform::Error error;
  if (!wasDenied && isDenied) {
    if (!db->createEventsSnapshotTable(&error)) {
      monitor()->logWithLevel(4, 23266, "Unable to create table snapshot. Error", error);
    }
  } else if (wasDenied && !isDenied) {
    if (!db->restoreFromEventsSnapshotTable(&error)) {
      monitor()->logWithLevel(4, 23267, "Unable to restore from table snapshot. Error", error);
    }
  }
  m_persistedConfig->setPreviousBundledConsentSignals(signals);
}

// --- aggregates, metadata
// ---------------------------------------------------------------------------

std::optional<std::vector<std::shared_ptr<APMEvent>>> APMMeasurement::eventsAfterUpdatingEventAggregates(
    const std::vector<std::shared_ptr<APMEvent>>& events,
    const std::shared_ptr<APMAudienceTimestampsCache>& audienceTimestampsCache, bool allowEventFilterEvaluation) {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMMonitor> log = monitor();
  std::vector<std::shared_ptr<APMEvent>> updated;
  for (const std::shared_ptr<APMEvent>& original : events) {
    std::shared_ptr<APMEvent> event = purchaseEventWithCustomerTypeParam(original);
    platform::Error error;
    std::shared_ptr<APMEventAggregates> aggregates = db->eventAggregatesWithName(event->name(), &error);
    if (failed(error)) {
      log->logWithLevel(1, 23107, "Failed to query event aggregates. Name, error", debugName(event->name()), error);
      return std::nullopt;
    }
    if (aggregates) {
      if (std::shared_ptr<APMEvent> copy = event->copyWithPreviousTimestamp(aggregates->lastFireTimestamp())) {
        event = copy;
      }
      aggregates->incrementCurrentBundleCount();
      aggregates->incrementLifetimeCount();
      aggregates->incrementCurrentSessionCount();
      aggregates->setLastFireTimestamp(event->timestamp());
    } else {
      aggregates = APMEventAggregates::initWithName(event->name(), 1, 1, 1, event->timestamp());
    }
    if (!aggregates || !db->updateEventAggregates(aggregates.get(), &error)) {
      log->logWithLevel(1, 23108, "Failed to update event aggregates. Error", error);
      return std::nullopt;
    }
    if (allowEventFilterEvaluation && !evaluateAudienceFiltersForEvent(*event, *aggregates, audienceTimestampsCache)) {
      return std::nullopt;
    }
    updated.push_back(event);
  }
  return updated;
}

std::shared_ptr<APMEvent> APMMeasurement::purchaseEventWithCustomerTypeParam(const std::shared_ptr<APMEvent>& event) {
  if (!isPurchaseForCustomerType(event->name()) || !remoteConfigInstance()->customerTypeEnabled()) return event;
  platform::Error error;
  std::optional<std::vector<std::shared_ptr<APMEventAggregates>>> all = database()->allEventAggregates(&error);
  if (!all) {
    monitor()->logWithLevel(1, 23274, "Failed to query all event aggregates. Error", error);
    return event;
  }
  const bool returning = std::any_of(all->begin(), all->end(), [](const std::shared_ptr<APMEventAggregates>& row) {
    return isPurchaseForCustomerType(row->name()) && row->lifetimeCount() > 0;
  });
  Dictionary parameters = event->parameters();
  parameters.set("_ct", APMValue::objectWithString(returning ? "returning" : "new"));
  std::shared_ptr<APMEvent> copy = event->copyWithParameters(parameters);
  return copy ? copy : event;
}

bool APMMeasurement::updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                                double bundleEndTimestamp) {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMMonitor> log = monitor();
  platform::Error error;
  std::shared_ptr<APMAppMetadata> metadata = db->queryAppMetadata(&error);
  if (!metadata) {
    log->logWithLevel(1, 23111, "Unable to fetch app metadata for bundling events. Error", error);
    return false;
  }
  const double previousEnd = metadata->lastBundleEndTimestamp();
  const double previousStart = metadata->lastBundleStartTimestamp();
  if (previousEnd > 0) APMPBSetInt64(&bundle, Bundle::kPreviousBundleEndTimestamp, milliseconds(previousEnd));
  if (previousStart > 0) {
    APMPBSetInt64(&bundle, Bundle::kPreviousBundleStartTimestamp, milliseconds(previousStart));
  } else if (previousEnd > 0) {
    APMPBSetInt64(&bundle, Bundle::kPreviousBundleStartTimestamp, milliseconds(previousEnd));
  }
  const size_t eventCount = APMPBGetArray<APMPBEvent>(&bundle, Bundle::kEvents).value_or(platform::Array()).size();
  metadata->increaseLastBundleIndex(eventCount);
  metadata->incrementLastDeliveryIndex();
  metadata->setLastBundleStartTimestamp(bundleStartTimestamp);
  metadata->setLastBundleEndTimestamp(bundleEndTimestamp);
  APMPBSetInt32(&bundle, Bundle::kLastBundleIndex, metadata->lastBundleIndex());
  APMPBSetInt32(&bundle, Bundle::kLastDeliveryIndex, metadata->lastDeliveryIndex());
  if (!db->updateAppMetadata(metadata.get(), &error)) {
    log->logWithLevel(1, 23112, "Unable to update the app metadata. Error", error);
    return false;
  }
  return true;
}

void APMMeasurement::addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                                 double bundleEndTimestamp) {
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  const std::vector<int64_t> experiments = settings->experimentIDs();
  if (!experiments.empty()) {
    platform::Array ids;
    for (int64_t id : experiments) ids.append(Value(static_cast<uint32_t>(id)));
    APMPBSetArray(&bundle, Bundle::kExperimentIDs, ids);
  }
  std::optional<std::string> samples = monitor()->monitoringDataForDispatchWithSamplePeriod(
      settings->monitoringSamplePeriod(), m_persistedConfig->lastMonitorDataSampledTimestamp());
  if (samples && !samples->empty()) {
    APMPBSetString(&bundle, Bundle::kMonitoringSamples, *samples);
    m_persistedConfig->setLastMonitorDataSampledTimestamp(now());
  }
  if (const int64_t version = settings->version(); version >= 0)
    APMPBSetInt64(&bundle, Bundle::kConfigVersion, version);
  if (APMPBGetString(&bundle, Bundle::kAppID).value_or("").empty()) {
    std::shared_ptr<APMIdentity> id = identity();
    const std::string appID = id ? id->appID() : std::string();
    APMPBSetString(&bundle, Bundle::kAppID, appID.empty() ? ZULBundleAccess::bundleIdentifier() : appID);
  }
  APMPBSetInt64(&bundle, Bundle::kStartTimestamp, milliseconds(bundleStartTimestamp));
  APMPBSetInt64(&bundle, Bundle::kEndTimestamp, milliseconds(bundleEndTimestamp));
}

// The engine's event road on the worker queue: from the moment an event
// reaches the worker queue until it is a row of the raw-events table, or is
// dropped. Every drop says why in the monitor; callers learn nothing. The
// daily counts, the event's aggregates row, its metadata and the raw event
// are written in one exclusive transaction: a failure anywhere inside rolls
// all of them back.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMDebugNames.h"
#include "measurement/base/APMDefaultIdentitySupport.h"
#include "measurement/base/APMEnvironmentInfo.h"
#include "measurement/base/APMEventEditing.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMBundleIdentifiers.h"
#include "measurement/engine/APMBundleUtil.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/messages/APMPBSlots.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/features/APMLifetimeValueRecorder.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/time/Clock.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr int64_t kErrorNameLengthLimit = 40;

bool isPublicName(const std::string& name) { return !name.empty() && name[0] != '_'; }

APMValuePtr parameter(const APMEvent& event, const char* name) {
  return APMValue::fromObject(event.parameters().get(name));
}

std::string parametersDescription(const APMEvent& event) { return APMDescriptionString(Value(event.parameters())); }

bool failed(const platform::Error& error) { return !error.domain.empty(); }

}  // namespace

// --- entries ----------------------------------------------------------------------------------

void APMMeasurement::handleInternalEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("handleInternalEventOnWorkerQueue:");
  if (event->name() != "_err") {
    if (std::optional<Dictionary> defaults = m_persistedConfig->defaultEventParameters()) {
      event->applyParameters(event->name() == "_cmp" ? APMRemoveGadParameters(*defaults) : *defaults, true);
    }
  }
  handleEventOnWorkerQueue(event);
  APMAnalytics::notifyEventListeners(event);
}

void APMMeasurement::handleEventOnWorkerQueue(std::shared_ptr<APMEvent> event) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("handleEventOnWorkerQueue:");
  if (!isEnabled()) {
    monitor()->logWithLevel(7, 23049, "Analytics is disabled. Event not logged");
    return;
  }
  event = eventAfterSafelistingEvent(event);
  if (!event) return;
  processSessionFromEvent(*event);
  if (APMIsSubscriptionEvent(event.get()) && !dedupeSubscriptionEvent(*event)) return;
  if (event->name() == "_ssr" && shouldDropDuplicatedSessionStartWithRolloutEvent(*event)) return;
  if (event->name() == "_ae") event = appExceptionEventWithRirivuduFeatureRollouts(event);
  if (event->name() == "_s") writeSessionStartEventOnWorkerQueue(*event);

  // Editing by the configuration's programs; a failure never loses the event.
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMEventEditing> editing = settings ? settings->eventEditing() : nullptr;
  platform::Error error;
  const bool edited = editing && editing->handleEvent(event->editEvent(), &error);
  if (failed(error)) {
    writeEventOnWorkerQueue(event);
    monitor()->logWithLevel(1, 23223, "Event editing failed. Event name", APMDebugEventName(Value(event->name())));
    return;
  }
  if (edited && editing->hasEdits()) {
    if (std::shared_ptr<APMEvent> replaced = APMEvent::eventFromEditEvent(editing->outputEvent())) event = replaced;
  }
  writeEventOnWorkerQueue(event);
  if (edited && editing->hasCreatedEvents()) {
    for (const APMPEvent& created : editing->eventsToLog()) {
      const Value origin = created.parameterForName("_o");
      std::shared_ptr<APMEvent> made =
          APMEvent::initWithOrigin(origin.isString() ? *origin.asString() : std::string("app"), false, created.name(),
                                   created.timestamp(), 0, created.parameters());
      if (made) writeEventOnWorkerQueue(made);
    }
  }
  updateSchedule();
}

// --- the gates before writing -----------------------------------------------------------------

std::shared_ptr<APMEvent> APMMeasurement::eventAfterSafelistingEvent(const std::shared_ptr<APMEvent>& event) {
  if (m_safelistedEvents.empty()) return event;
  if (std::find(m_safelistedEvents.begin(), m_safelistedEvents.end(), event->name()) == m_safelistedEvents.end()) {
    monitor()->logWithLevel(3, 23174, "Event dropped. Reason: not in allowlist. Event name, origin",
                            APMDebugEventName(Value(event->name())), event->origin());
    return nullptr;
  }
  Dictionary parameters = event->parameters();
  parameters.set("ga_safelisted", APMValue::objectWithInt64(1));
  std::shared_ptr<APMEvent> copy = event->copyWithParameters(parameters);
  return copy ? copy : event;
}

void APMMeasurement::processSessionFromEvent(const APMEvent& event) {
  if (isAppActive()) return;
  if (event.parameters().contains("extend_session")) {
    APMValuePtr extend = parameter(event, "extend_session");
    if (extend && extend->isInt64() && extend->int64Value() == 1) {
      if (isSessionExpiredOnWorkerQueue()) {
        reportSessionStartOnWorkerQueueWithTimestamp(event.timestamp(), true);
      } else {
        extendSessionOnWorkerQueue();
      }
    } else {
      monitor()->logWithLevel(3, 23179,
                              "extend_session is a reserved parameter. To extend or start a session in the background, "
                              "set an event parameter {@'extend_session': @1}");
    }
  }
  if (isSessionExpiredOnWorkerQueue()) removeSessionUserPropertiesOnWorkerQueue();
}

bool APMMeasurement::dedupeSubscriptionEvent(const APMEvent& event) {
  APMValuePtr subscriptionID = parameter(event, "_did");
  if (!subscriptionID || !subscriptionID->isInt64()) return true;
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return true;
  const Value productID = event.parameters().get("product_id");
  platform::Error error;
  std::optional<bool> inserted = db->insertIfNotDuplicateSubscriptionID(std::to_string(subscriptionID->int64Value()), &error);
  if (!inserted) {
    monitor()->logWithLevel(2, 23181, "Failed to save subscription ID. Product ID, error", productID, error);
  } else if (!*inserted) {
    monitor()->logWithLevel(4, 23182, "Event dropped. Reason: Subscription purchase is a duplicate. Product ID",
                            productID);
    return false;
  }
  platform::Error pruneError;
  std::optional<int32_t> deleted = db->deleteSubscriptionsOverLimit(&pruneError);
  if (!deleted) {
    // The new ID is stored already: dropping the event would lose the
    // purchase and make every later report of it a duplicate.
    monitor()->logWithLevel(5, 23183, "Failed to delete older subscription records. Error", pruneError);
    return true;
  }
  if (*deleted != 0) {
    monitor()->logWithLevel(5, 23184, "Deleted older subscription records beyond limit", static_cast<long long>(*deleted));
  }
  return true;
}

bool APMMeasurement::shouldDropDuplicatedSessionStartWithRolloutEvent(const APMEvent& event) {
  const std::optional<std::string> stored = m_persistedConfig->ririvuduFeatureRollouts();
  const bool hasRollouts = event.parameters().contains("_ffr");
  APMValuePtr rollouts = parameter(event, "_ffr");
  const bool isString = rollouts && rollouts->isString();
  const std::string text = isString ? rollouts->stringValue().value_or("") : std::string();
  const bool duplicate = (stored && isString && text == *stored) || (!stored && isString && text.empty()) ||
                         (!stored && !hasRollouts);
  if (duplicate) {
    monitor()->logWithLevel(8, 23191, "Feature rollouts value is a duplicate, dropping event");
    return true;
  }
  if (isString && !text.empty()) {
    m_persistedConfig->setRirivuduFeatureRollouts(text);
  } else {
    if (hasRollouts && !isString) {
      monitor()->logWithLevel(2, 23190, "Unable to process ririvudu feature rollouts, value is not a string.");
    }
    m_persistedConfig->setRirivuduFeatureRollouts(std::nullopt);
  }
  return false;
}

std::shared_ptr<APMEvent> APMMeasurement::appExceptionEventWithRirivuduFeatureRollouts(
    const std::shared_ptr<APMEvent>& event) {
  const std::optional<std::string> stored = m_persistedConfig->ririvuduFeatureRollouts();
  if (!stored) return event;
  Dictionary parameters = event->parameters();
  parameters.set("_ffr", APMValue::objectWithString(*stored));
  std::shared_ptr<APMEvent> copy = event->copyWithParameters(parameters);
  return copy ? copy : event;
}

void APMMeasurement::writeSessionStartEventOnWorkerQueue(const APMEvent& event) {
  APMValuePtr sessionID = parameter(event, "_sid");
  APMValuePtr sessionNumber = parameter(event, "_sno");
  if (sessionID && sessionNumber) backfillSessionID(sessionID, sessionNumber);
  if (std::optional<std::string> rollouts = m_persistedConfig->ririvuduFeatureRollouts()) {
    std::shared_ptr<APMEvent> sessionStart = APMEvent::initWithOrigin(
        "auto", false, "_ssr", platform::Clock::current()->now(), 0,
        Dictionary{{"_ffr", APMValue::objectWithString(*rollouts)}});
    if (sessionStart) writeEventOnWorkerQueue(sessionStart);
  }
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (settings && settings->PSMSessionStartEnabled()) initiateODMSessionStartProtocolWithTimestamp(event.timestamp());
}

// --- writing ------------------------------------------------------------------------------------------

void APMMeasurement::writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("writeEventOnWorkerQueue:");
  const std::string debugName = APMDebugEventName(Value(event->name()));
  monitor()->logWithLevel(7, 23051, "Logging event: origin, name, params", event->origin(), debugName,
                          parametersDescription(*event));
  std::optional<std::vector<std::shared_ptr<APMEvent>>> triggered = processConditionalUserPropertiesOnWorkerQueue(*event);
  if (!triggered) {
    monitor()->logWithLevel(4, 23050, "Unable to process conditional user property. Event name, origin", debugName,
                            event->origin());
  }
  writeFilteredEventOnWorkerQueue(event);
  if (triggered) {
    for (const std::shared_ptr<APMEvent>& follow : *triggered) writeFilteredEventOnWorkerQueue(follow);
  }
}

void APMMeasurement::writeFilteredEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("writeFilteredEventOnWorkerQueue:");
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMDatabase> db = database();
  if (!settings || !db) return;
  const std::string& name = event->name();
  if (settings->isEventBlocklisted(name)) {
    monitor()->logWithLevel(5, 23052, "Rejected event. Event name", APMDebugEventName(Value(name)));
    if (!settings->blocklistPublic() && !settings->blocklistInternal() && name != "_err") {
      APMLogErrorEvent(11, Value(name), kErrorNameLengthLimit, Value(name));
    }
    return;
  }
  if (std::shared_ptr<APMIdentity> id = identity()) id->updateIdentifiers();
  if (APMIsDefaultConversionEventName(name)) event->setConversion(true);

  db->performTransaction([&] {
    if (!updateLifetimeValueWithEvent(*event)) return false;
    platform::Error error;
    std::shared_ptr<APMDailyCounts> counts = db->dailyCounts(&error);
    if (!counts) {
      monitor()->logWithLevel(1, 23054, "Data loss. Unable to query daily event counts. Error", error);
      return false;
    }
    const bool isPublic = isPublicName(name);
    const bool keep = shouldProcessEvent(*event, *counts, isPublic);
    const bool realtime = isRealtimeEvent(*event, *counts);
    if (!db->updateDailyCounts(counts.get(), &error)) {
      monitor()->logWithLevel(1, 23061, "Data loss. Unable to update daily event counts. Name, error",
                              APMDebugEventName(Value(name)), error);
      return false;
    }
    return keep ? writeEvent(*event, isPublic, realtime) : true;
  });
}

bool APMMeasurement::updateLifetimeValueWithEvent(const APMEvent& event) {
  if (!APMLifetimeValueRecorder::isPurchaseEvent(event)) return true;
  if (recordLifetimeValueOnWorkerQueue(event)) return true;
  monitor()->logWithLevel(1, 23053, "Cannot record lifetime value of event. Name, currency code, transaction value",
                          APMDebugEventName(Value(event.name())), event.parameters().get("currency"),
                          event.parameters().get("value"));
  return false;
}

bool APMMeasurement::shouldProcessEvent(const APMEvent& event, APMDailyCounts& dailyCounts, bool isPublicEvent) {
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMDatabase> db = database();
  const int32_t today = static_cast<int32_t>(db->currentDay());
  if (dailyCounts.day() != today) dailyCounts.resetWithNewDay(today);
  const std::string& name = event.name();
  const std::string debugName = APMDebugEventName(Value(name));

  const int64_t maxEvents = settings->maxEventsPerDay();
  const int64_t excess = static_cast<int64_t>(dailyCounts.allEventsCount()) - maxEvents;
  bool dropped = false;
  bool droppedUnderTotalLimit = false;
  if (excess >= 0) {
    dropped = true;
    if (excess % 1000 == 0) {
      monitor()->logWithLevel(1, 23055, "Data loss. Too many events logged. Name, limit", debugName, maxEvents);
    }
  } else if (name == "_err") {
    const int64_t maxErrors = settings->maxErrorEventsPerDay();
    const int64_t over = static_cast<int64_t>(dailyCounts.errorEventsCount()) - maxErrors;
    if (over >= 0) {
      dropped = droppedUnderTotalLimit = true;
      if (over % 1000 == 0) {
        monitor()->logWithLevel(1, 23056, "Too many error events logged. Error code, limit",
                                event.parameters().get("_err"), maxErrors);
      }
    }
  } else if (isPublicEvent) {
    const int64_t maxPublic = settings->maxPublicEventsPerDay();
    const int64_t over = static_cast<int64_t>(dailyCounts.publicEventsCount()) - maxPublic;
    if (over >= 0) {
      dropped = droppedUnderTotalLimit = true;
      if (over % 1000 == 0) {
        monitor()->logWithLevel(1, 23057, "Data loss. Too many public events logged. Name, limit", debugName,
                                maxPublic);
      }
      APMLogErrorEvent(16, Value(name), kErrorNameLengthLimit, Value(name));
    }
  }

  if (name == "_err") {
    dailyCounts.incrementErrorEventsCountForCurrentDay(today);
  } else {
    const int32_t effectiveCount = 1 + APMCountArrayParameterItems(&event);
    dailyCounts.incrementCountsForCurrentDay(today, isPublicEvent, false, effectiveCount);
  }
  if (droppedUnderTotalLimit) dailyCounts.decrementAllEventsCount();
  return !dropped;
}

bool APMMeasurement::isRealtimeEvent(APMEvent& event, const APMDailyCounts& dailyCounts) {
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  const std::string& name = event.name();
  const bool conversion = event.isConversion() || settings->isEventCustomConversion(name);
  const bool debugMode = monitor()->isDebugModeEnabled();
  const bool limited = APMIsSubjectToRealtimeLimit(name, debugMode);
  const int32_t maxRealtime = settings->maxRealtimeEventCountPerDay();
  const bool fromConversion = conversion && (dailyCounts.realtimeCount() < maxRealtime || !limited);
  if (event.isRealtime() && limited && dailyCounts.realtimeCount() >= maxRealtime) {
    event.setRealtime(false);
    monitor()->logWithLevel(4, 23060, "Too many real-time events. Event is no longer real-time. Event name, parameters",
                            APMDebugEventName(Value(name)), parametersDescription(event));
  }
  if (APMIsDCURealtimeEvent(name, debugMode) && event.isRealtime() &&
      dailyCounts.dcuRealtimeCount() >= settings->maxRealtimeDCUEventCountPerDay()) {
    event.setRealtime(false);
  }
  maybeAddDebugAndRealtimeParameters(event);
  return fromConversion || event.isRealtime();
}

void APMMeasurement::maybeAddDebugAndRealtimeParameters(APMEvent& event) {
  if (!monitor()->isDebugModeEnabled()) return;
  event.setRealtime(true);
  event.setDebug(true);
  monitor()->logWithLevel(7, 23073, "Debug mode is enabled. Marking event as debug and real-time. Event name, parameters",
                          APMDebugEventName(Value(event.name())), parametersDescription(event));
}

bool APMMeasurement::writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime) {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  std::shared_ptr<APMMonitor> log = monitor();
  const std::string& name = event.name();
  const std::string debugName = APMDebugEventName(Value(name));

  // 1, 2. The name's aggregates row, made the first time the name is written.
  platform::Error error;
  std::shared_ptr<APMEventAggregates> aggregates = db->eventAggregatesWithName(name, &error);
  if (failed(error)) {
    log->logWithLevel(1, 23063, "Cannot query event aggregates. Name, error", debugName, error);
    return false;
  }
  if (!aggregates) {
    if (isPublicEvent) {
      std::optional<Value> count = db->publicEventCount(&error);
      if (!count) {
        log->logWithLevel(1, 23064, "Cannot query event count. Error", error);
        return false;
      }
      if (count->longLongValue() >= settings->maxEventNameCardinality()) {
        log->logWithLevel(1, 23065, "Cannot set event. Reached limit on set events. Name", debugName);
        APMLogErrorEvent(8, Value(name), kErrorNameLengthLimit, Value(name));
        return false;
      }
    }
    aggregates = APMEventAggregates::initWithName(name, 0, 0, 0, 0);
    if (!aggregates || !db->updateEventAggregates(aggregates.get(), &error)) {
      log->logWithLevel(1, 23066, "Data loss. Cannot record event aggregates. Error", error);
      return false;
    }
  }

  // 3, 4. The metadata: identity, consent and user properties in force.
  std::shared_ptr<APMIdentity> id = identity();
  if (id && id->shouldSetLastAdvertisingIDResetUserProperty()) setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
  std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> attributes =
      db->userAttributesIncludingInternal(true, &error);
  if (!attributes) {
    log->logWithLevel(1, 23067, "Data loss. Cannot query user properties. Error", error);
    return false;
  }
  std::shared_ptr<APMPBMeasurementBundle> metadata = createRawEventMetadataWithUserAttributes(*attributes);

  // 5. On-device measurement values.
  struct StoredValue {
    const char* name;
    int32_t slot;
    int64_t code;
    const char* message;
  };
  static constexpr StoredValue kStoredValues[] = {
      {"odm1_value", APMPBOnDeviceMeasurementInfoSlot::kODM1Value, 23287, "Failed to query ODM value. Error"},
      {"odm1_session_value", APMPBOnDeviceMeasurementInfoSlot::kODM1SessionValue, 23288, "Failed to query ODM session value. Error"},
      {"odm2_value", APMPBOnDeviceMeasurementInfoSlot::kODM2Value, 23291, "Failed to query ODM value. Error"},
      {"odm1_group_id", APMPBOnDeviceMeasurementInfoSlot::kODM1GroupID, 23302, "Failed to query ODM group ID. Error"},
  };
  std::shared_ptr<APMPBOnDeviceMeasurementInfo> info;
  for (const StoredValue& stored : kStoredValues) {
    platform::Error valueError;
    std::optional<APMDatabase::Record> row = db->ODMValueWithName(stored.name, &valueError);
    if (failed(valueError)) {
      log->logWithLevel(4, stored.code, stored.message, valueError);
      continue;
    }
    if (!row) continue;
    const Value* setTimestamp = row->find("set_timestamp");
    const Value* text = row->find("value");
    if (setTimestamp == nullptr || text == nullptr || setTimestamp->isNull() || text->isNull()) continue;
    auto value = APMPBOnDeviceMeasurementValue::initWithMessageInfo(nullptr);
    APMPBSetInt64(value.get(), APMPBOnDeviceMeasurementValueSlot::kTimestamp, APMMillisecondsFromSeconds(setTimestamp->doubleValue()));
    APMPBSetString(value.get(), APMPBOnDeviceMeasurementValueSlot::kValue, text->stringValue());
    if (!info) info = APMPBOnDeviceMeasurementInfo::initWithMessageInfo(nullptr);
    APMPBSetMessage(info.get(), stored.slot, value.get());
  }
  if (info) APMPBSetMessage(metadata.get(), APMPBMeasurementBundleSlot::kOnDeviceMeasurementInfo, info.get());

  // 6. Which consent status and clients are known.
  const bool consentStatusKnown = APMDefaultIdentitySupport::sharedInstance()->hasAppDataConsentStatus();
  APMPBSetInt32(metadata.get(), APMPBMeasurementBundleSlot::kLinkedFeatures, (consentStatusKnown ? 1 : 0) | linkedOnDeviceConversionClientBits());

  // 7. A first open without an advertising ID waits for one.
  if (APMPBHasField(metadata.get(), APMPBMeasurementBundleSlot::kResettableDeviceID)) {
    if (m_persistedConfig->unmatchedFirstOpenWithoutIDFA()) logFirstOpenConsentedEvent(event.timestamp());
  } else if (name == "_f") {
    m_persistedConfig->setUnmatchedFirstOpenWithoutIDFA(true);
  }

  // 8-10. Metadata, storage limit, raw event.
  std::optional<platform::Bytes> metadataBytes = metadata->protoBuffer();
  if (!metadataBytes || !db->insertIfNotExistsRawEventMetadata(*metadata, &error)) {
    log->logWithLevel(1, 23068, "Data loss. Cannot record event metadata. Error", error);
    return false;
  }
  std::optional<int32_t> deleted = db->deleteRawEventsOverAbsoluteLimit(&error);
  if (!deleted) {
    log->logWithLevel(1, 23069, "Data loss. Unable to check raw event storage limit. Error", error);
    return false;
  }
  if (*deleted != 0) {
    log->logWithLevel(4, 23070, "Data loss. Too many events stored on disk. Deleted count",
                      static_cast<long long>(*deleted));
  }
  if (!db->insertRawEvent(&event, apm_64LSBMD5(*metadataBytes), isRealtime, &error)) {
    log->logWithLevel(1, 23071, "Data loss. Cannot record raw event. Error", error);
    return false;
  }

  // 11. One more first open.
  if (name == "_f") {
    const std::optional<Value> stored = m_persistedConfig->previousFirstOpenCount();
    int64_t count = stored ? stored->longLongValue() : 0;
    if (count < 1) count = 0;
    if (count != std::numeric_limits<int64_t>::max()) ++count;
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64, count);
    m_persistedConfig->setPreviousFirstOpenCount(Value(std::string(text)));
  }
  log->logWithLevel(7, 23072, "Event logged. Event name, event params", debugName, parametersDescription(event));
  return true;
}

std::shared_ptr<APMPBMeasurementBundle> APMMeasurement::createRawEventMetadataWithUserAttributes(
    const std::vector<std::shared_ptr<APMUserAttribute>>& userAttributes) {
  auto metadata = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  APMPBMeasurementBundle* bundle = metadata.get();
  APMPBSetString(bundle, APMPBMeasurementBundleSlot::kPlatform, std::string("macos"));
  APMPBSetInt32(bundle, APMPBMeasurementBundleSlot::kProtocolVersion, 1);

  std::shared_ptr<APMIdentity> id = identity();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (id) {
    APMPBSetString(bundle, APMPBMeasurementBundleSlot::kAppID, id->appID());
    if (!APMIdentity::isFromAppStore()) APMPBSetString(bundle, APMPBMeasurementBundleSlot::kInstallSource, std::string("manual_install"));
    if (id->appVersion()) APMPBSetString(bundle, APMPBMeasurementBundleSlot::kAppVersion, *id->appVersion());
    if (std::optional<std::string> appIDFromVOD = id->appIDFromVOD(); appIDFromVOD && !appIDFromVOD->empty()) {
      APMPBSetString(bundle, APMPBMeasurementBundleSlot::kMeasurementAppID, *appIDFromVOD);
    }
  }
  APMPBSetInt64(bundle, APMPBMeasurementBundleSlot::kMetadataLibraryVersion, APMIdentity::redIveduruvezaLibraryVersion());
  if (id) {
    if (std::optional<std::string> installationID = id->ririvuduInstallationID()) {
      APMPBSetString(bundle, APMPBMeasurementBundleSlot::kInstallationID, *installationID);
    }
    const bool userIDAvailable =
        std::any_of(userAttributes.begin(), userAttributes.end(),
                    [](const std::shared_ptr<APMUserAttribute>& attribute) { return attribute->name() == "_id"; });
    std::optional<std::string> token = id->sessionStitchingTokenWithSessionNumber(
        m_persistedConfig->sessionNumber(), isSessionExpiredOnWorkerQueue(), userIDAvailable);
    if (token && !token->empty()) APMPBSetString(bundle, APMPBMeasurementBundleSlot::kSessionStitchingToken, *token);
    if (id->appVersionMajor()) APMPBSetInt32(bundle, APMPBMeasurementBundleSlot::kAppVersionMajor, *id->appVersionMajor());
    if (id->appVersionMinor()) APMPBSetInt32(bundle, APMPBMeasurementBundleSlot::kAppVersionMinor, *id->appVersionMinor());
    if (id->appVersionRelease()) APMPBSetInt32(bundle, APMPBMeasurementBundleSlot::kAppVersionRelease, *id->appVersionRelease());
    if (std::unique_ptr<APMIdentityValues> values = APMIdentityValues::of(id)) {
      APMApplyIdentifiersUnderConsent(*bundle, APMConsentSettingsUtil::consentSignals(),
                                      settings && settings->gateIDFAOnATTMASEnabled(), *values, true);
    }
  }
  APMApplyConsentExtras(*bundle, APMConsentSettingsUtil::consentDiagnostics(),
                        APMConsentSettingsUtil::isAdUserDataDenied(), nullptr,
                        settings ? *settings : *APMRemoteConfig::defaultInstance(), true);

  std::shared_ptr<APMEnvironmentInfo> environment = APMEnvironmentInfo::sharedInstance();
  APMPBSetString(bundle, APMPBMeasurementBundleSlot::kDeviceModel, environment->deviceModel());
  APMPBSetString(bundle, APMPBMeasurementBundleSlot::kOSVersion, environment->deviceOSVersion());
  APMPBSetInt32(bundle, APMPBMeasurementBundleSlot::kTimeZoneOffsetMinutes, environment->timeZoneOffsetMinutes());
  if (std::optional<std::string> language = environment->userDefaultLanguage()) {
    APMPBSetString(bundle, APMPBMeasurementBundleSlot::kLanguage, *language);
  }

  if (!userAttributes.empty()) {
    platform::Array protos;
    bool hasNPA = false;
    for (const std::shared_ptr<APMUserAttribute>& attribute : userAttributes) {
      if (attribute->name() == "_npa") hasNPA = true;
      if (std::shared_ptr<APMPBUserAttribute> proto = attribute->protoUserAttribute()) {
        protos.append(APMPBObjectValue(proto));
      }
    }
    if (!hasNPA) {
      platform::Error error;
      std::shared_ptr<APMDatabase> db = database();
      std::shared_ptr<APMUserAttribute> npa = db ? db->userAttributeWithName("_npa", &error) : nullptr;
      if (npa) {
        if (std::shared_ptr<APMPBUserAttribute> proto = npa->protoUserAttribute()) protos.append(APMPBObjectValue(proto));
      }
    }
    APMPBSetArray(bundle, APMPBMeasurementBundleSlot::kUserAttributes, protos);
  }
  return metadata;
}

void APMMeasurement::logFirstOpenConsentedEvent(double timestamp) {
  m_persistedConfig->setUnmatchedFirstOpenWithoutIDFA(false);
  const Dictionary parameters = firstOpenConsentedEventParams();
  scheduleOnWorkerQueue("APMMeasurement:1025", [timestamp, parameters](APMMeasurement& engine) {
    std::shared_ptr<APMEvent> event = APMEvent::initWithOrigin("auto", false, "_fx", timestamp, 0, parameters);
    if (!event) return;
    event->setRealtime(true);
    engine.writeEventOnWorkerQueue(event);
  });
}

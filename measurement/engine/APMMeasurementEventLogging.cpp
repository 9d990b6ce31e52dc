// The event entry of the engine: events from the analytics front move to the
// worker queue, get the default event parameters, become APMEvents and go to
// the event road (or to the interceptor); the default event parameters are
// kept validated and limited; parameters are backfilled into raw events
// already stored.
#include <cstdint>
#include <map>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMDebugNames.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/messages/APMPBSlots.h"
#include "measurement/messages/APMPBFieldAccess.h"

using platform::Dictionary;
using platform::Value;

namespace {

bool isAdExposureEvent(const std::string& origin, const std::string& name) {
  return origin == "am" || name == "_xa" || name == "_xu";
}

}  // namespace

// --- entry ------------------------------------------------------------------------------------

void APMMeasurement::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                        const Dictionary& parameters, double timestamp, bool enabled,
                                        bool ignoreEnabled, bool ignoreInterceptor, LogEventInterceptor interceptor,
                                        const std::optional<Dictionary>& addedScreenParameters) {
  scheduleOnWorkerQueue("APMMeasurement:2536", [=, interceptor = std::move(interceptor)](APMMeasurement& engine) {
    engine.logEventOnWorkerQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, enabled,
                                           ignoreEnabled, ignoreInterceptor, interceptor, addedScreenParameters);
  });
}

void APMMeasurement::logEventOnWorkerQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                     const std::string& name, const Dictionary& parameters,
                                                     double timestamp, bool enabled, bool ignoreEnabled,
                                                     bool ignoreInterceptor, const LogEventInterceptor& interceptor,
                                                     const std::optional<Dictionary>& addedScreenParameters) {
  APMScheduler::checkOnBackgroundThreadWithMethodName(
      "logEventOnWorkerQueueWithOrigin:isPublicEvent:name:parameters:timestamp:enabled:ignoreEnabled:"
      "ignoreInterceptor:interceptor:addedScreenParameters:");
  Dictionary eventParameters = parameters;
  if (!ignoreInterceptor && name != "_err") eventParameters = parametersWithAddedDefaultEventParameters(parameters);

  std::shared_ptr<APMEvent> event = APMEvent::initWithOrigin(origin, isPublicEvent, name, timestamp, 0, eventParameters);
  if (!event) {
    monitor()->logWithLevel(1, 23219, "Attempted to log nil event. Origin, name, parameters", origin, name,
                            Value(eventParameters));
    return;
  }
  if (addedScreenParameters && !addedScreenParameters->empty()) event->addScreenParameters(*addedScreenParameters);

  if ((!enabled && !ignoreEnabled) || isAdExposureEvent(origin, name)) {
    logEventOnWorkerQueue(event, false);
  } else if (!ignoreInterceptor && isPublicEvent && interceptor) {
    Dictionary intercepted = eventParameters.copy();
    if (addedScreenParameters) {
      for (const auto& [key, value] : *addedScreenParameters) intercepted.set(key, value);
    }
    interceptor(origin, name, intercepted, timestamp);
  } else {
    logEventOnWorkerQueue(event, true);
  }
}

void APMMeasurement::logEvent(const std::shared_ptr<APMEvent>& event) {
  if (!event) {
    monitor()->logWithLevel(4, 23048, "Attempted to log nil event");
    return;
  }
  scheduleOnWorkerQueue("APMMeasurement:2642", [event](APMMeasurement& engine) {
    engine.handleEventOnWorkerQueue(event);
  });
}

void APMMeasurement::logEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event, bool notifyEventListeners) {
  // Listeners hear the event as it was logged, not as the road changed it.
  std::shared_ptr<APMEvent> copy = notifyEventListeners ? event->copy() : nullptr;
  handleEventOnWorkerQueue(event);
  if (copy) APMAnalytics::notifyEventListeners(copy);
}

// --- default event parameters --------------------------------------------------------------

void APMMeasurement::setDefaultEventParameters(const std::optional<Dictionary>& parameters) {
  std::optional<Dictionary> copy = parameters ? std::optional<Dictionary>(parameters->copy()) : std::nullopt;
  scheduleOnWorkerQueue("APMMeasurement:2650", [copy](APMMeasurement& engine) {
    engine.handleSetDefaultEventParametersOnWorkerQueue(copy, engine.shouldBackfillEvents());
  });
}

void APMMeasurement::handleSetDefaultEventParametersOnWorkerQueue(const std::optional<Dictionary>& parameters,
                                                                  bool backfillEvents) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("handleSetDefaultEventParametersOnWorkerQueue:backfillEvents:");
  std::shared_ptr<APMMonitor> log = monitor();
  Dictionary defaults;
  if (parameters) {
    if (std::optional<Dictionary> stored = m_persistedConfig->defaultEventParameters()) defaults = stored->copy();
    for (const auto& [name, value] : *parameters) {
      if (!value.isNull() && !value.isNumeric() && !value.isString()) {
        if (value.isArray()) APMLogErrorCodeEvent(27);
        log->logWithLevel(4, 23213, "Invalid key in default event parameters. Parameter ignored.");
        continue;
      }
      if (!APMDataTypeValidator::isValidPublicEventParameterName(Value(name))) {
        log->logWithLevel(4, 23214, "Invalid default event parameter name. Name", name);
        continue;
      }
      if (value.isNull()) {
        defaults.remove(name);
        continue;
      }
      APMValuePtr typed = APMValue::valueFromObject(value);
      if (typed && APMDataTypeValidator::isValidPublicEventParameterValue(APMValue::toObject(typed))) {
        defaults.set(name, value);
      }
    }
  }
  const int32_t limit = remoteConfig()->maxPublicEventParams();
  if (static_cast<int64_t>(defaults.size()) > limit) {
    APMTrimCustomEventParameters(defaults, limit);
    APMLogErrorCodeEvent(26);
    log->logWithLevel(4, 23215, "Too many default event parameters set. Discarding beyond event parameter limit");
  }
  if (backfillEvents) {
    const double since = m_initTimestamp;
    backfillEventsWithParameters(defaults, true, [since](const APMRawEventData& raw) {
      return raw.rawEvent()->timestamp() >= since;
    });
    log->logWithLevel(7, 23272, "Updating default event parameters with backfill. Parameters", Value(defaults));
  } else {
    log->logWithLevel(7, 23216, "Updating default event parameters. Parameters", Value(defaults));
  }
  m_persistedConfig->setDefaultEventParameters(defaults);
}

Dictionary APMMeasurement::parametersWithAddedDefaultEventParameters(const Dictionary& parameters) {
  std::optional<Dictionary> defaults = m_persistedConfig->defaultEventParameters();
  if (!defaults || defaults->empty()) return parameters;
  Dictionary merged = defaults->copy();
  for (const auto& [name, value] : parameters) merged.set(name, value);
  return merged;
}

Dictionary APMMeasurement::firstOpenConsentedEventParams() {
  const std::optional<Value> stored = m_persistedConfig->previousFirstOpenCount();
  const int64_t previous = stored ? stored->longLongValue() : 0;
  int64_t unwantedAttribution = 0;
  if (std::shared_ptr<APMDatabase> db = database()) {
    platform::Error error;
    std::shared_ptr<APMUserAttribute> firstInstall = db->userAttributeWithName("_fi", &error);
    if (firstInstall && firstInstall->value() && firstInstall->value()->int64Value() < 1) unwantedAttribution = 1;
  }
  return Dictionary{{"_pfo", APMValue::objectWithInt64(previous < 2 ? 0 : previous - 1)},
                    {"_uwa", APMValue::objectWithInt64(unwantedAttribution)}};
}

Dictionary APMMeasurement::paramsWithAddedFirstOpenConsentedEventParams(const Dictionary& parameters) {
  Dictionary merged = firstOpenConsentedEventParams();
  for (const auto& [name, value] : parameters) merged.set(name, value);
  return merged;
}

// --- backfill -----------------------------------------------------------------------------------

bool APMMeasurement::shouldBackfillEvents() {
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return false;
  platform::Error error;
  std::optional<std::vector<std::shared_ptr<APMRawEventData>>> events = db->allRawEventsWithError(&error);
  if (!events || events->empty()) return false;
  for (const std::shared_ptr<APMRawEventData>& raw : *events) {
    const APMEvent& event = *raw->rawEvent();
    if (event.timestamp() >= m_initTimestamp && event.origin().rfind("app", 0) == 0) return false;
  }
  return true;
}

void APMMeasurement::backfillEventsWithParameters(const Dictionary& parameters, bool isPublic,
                                                  const RawEventFilter& eventFilter) {
  if (parameters.empty()) return;
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  platform::Error error;
  std::optional<std::vector<std::shared_ptr<APMRawEventData>>> events = db->allRawEventsWithError(&error);
  if (!events) {
    monitor()->logWithLevel(1, 23270, "Unable to backfill events with default event parameters. Fetch failed. Error",
                            error);
    return;
  }
  int64_t failures = 0;
  platform::Error lastError;
  for (const std::shared_ptr<APMRawEventData>& raw : *events) {
    if (eventFilter && !eventFilter(*raw)) continue;
    raw->rawEvent()->applyParameters(parameters, isPublic);
    platform::Error updateError;
    if (!db->updateRawEvent(raw.get(), &updateError)) {
      ++failures;
      lastError = updateError;
    }
  }
  if (failures > 0) {
    monitor()->logWithLevel(
        1, 23271, "Unable to backfill some events with default event parameters. Update failed. Count, last error",
        failures, lastError);
  }
}

void APMMeasurement::backfillSessionID(const APMValuePtr& sessionID, const APMValuePtr& sessionNumber) {
  const Dictionary parameters{{"_sid", APMValue::toObject(sessionID)}, {"_sno", APMValue::toObject(sessionNumber)}};
  const double start = backfillStartTimestampForSessionID(sessionID);
  std::map<int64_t, bool> fingerprintToSessionIDExistence;
  backfillEventsWithParameters(parameters, false, [&](const APMRawEventData& raw) {
    return shouldBackfillSessionID(sessionID, start, fingerprintToSessionIDExistence, raw);
  });
}

double APMMeasurement::backfillStartTimestampForSessionID(const APMValuePtr& sessionID) {
  if (std::shared_ptr<APMDatabase> db = database()) {
    platform::Error error;
    if (auto events = db->allRawEventsWithError(&error)) {
      for (const std::shared_ptr<APMRawEventData>& raw : *events) {
        if (raw->rawEvent()->name() == "_f") return raw->rawEvent()->timestamp();
      }
    }
  }
  const double seconds = sessionID ? (sessionID->isDouble() ? sessionID->doubleValue()
                                                            : static_cast<double>(sessionID->int64Value()))
                                   : 0;
  return seconds - 15;
}

bool APMMeasurement::shouldBackfillSessionID(const APMValuePtr&, double startTimestamp,
                                             std::map<int64_t, bool>& fingerprintToSessionIDExistence,
                                             const APMRawEventData& onEvent) {
  if (onEvent.rawEvent()->timestamp() < startTimestamp) return false;
  const int64_t fingerprint = onEvent.metadataFingerprint();
  if (auto cached = fingerprintToSessionIDExistence.find(fingerprint); cached != fingerprintToSessionIDExistence.end()) {
    return !cached->second;
  }
  std::shared_ptr<APMDatabase> db = database();
  platform::Error error;
  std::shared_ptr<APMPBMeasurementBundle> metadata =
      db ? db->queryRawEventsMetadataWithFingerprint(fingerprint, &error) : nullptr;
  if (!metadata) {
    monitor()->logWithLevel(1, 23273, "Unable to backfill session ID. Fetch metadata failed. Error", error);
    return false;
  }
  bool hasSessionID = false;
  const platform::Array attributes =
      APMPBGetArray<APMPBUserAttribute>(metadata.get(), APMPBMeasurementBundleSlot::kUserAttributes).value_or(platform::Array());
  for (const Value& item : attributes) {
    if (APMPBGetString(APMPBObjectFromValue(item).get(), APMPBUserAttributeSlot::kName) == "_sid") {
      hasSessionID = true;
      break;
    }
  }
  fingerprintToSessionIDExistence[fingerprint] = hasSessionID;
  return !hasSessionID;
}

#include "sdk/remote-config/ab-testing/ABTConditionalUserPropertyController.h"

#include <mutex>

#include "platform/time/Clock.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/remote-config/ab-testing/ABTConstants.h"

using platform::Value;

namespace {

std::mutex& sharedMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::shared_ptr<ABTConditionalUserPropertyController>& sharedSlot() {
  static auto* const controller = new std::shared_ptr<ABTConditionalUserPropertyController>();
  return *controller;
}

platform::Dictionary experimentParameters(const std::string& experimentID, const std::string& variantID) {
  return platform::Dictionary{{experimentID, Value(variantID)}};
}

}  // namespace

std::shared_ptr<ABTConditionalUserPropertyController> ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(
    const std::shared_ptr<ROZAdavurudoInterop>& analytics) {
  std::lock_guard<std::mutex> lock(sharedMutex());
  if (!sharedSlot()) sharedSlot() = std::make_shared<ABTConditionalUserPropertyController>(analytics);
  return sharedSlot();
}

void ABTConditionalUserPropertyController::resetSharedInstanceForTesting() {
  std::shared_ptr<ABTConditionalUserPropertyController> controller;
  {
    std::lock_guard<std::mutex> lock(sharedMutex());
    controller = std::move(sharedSlot());
  }
  if (controller) controller->m_queue.sync([] {});
}

ABTConditionalUserPropertyController::ABTConditionalUserPropertyController(
    std::shared_ptr<ROZAdavurudoInterop> analytics)
    : m_queue(kABTQueueLabel), m_analytics(std::move(analytics)) {}

std::optional<platform::Array> ABTConditionalUserPropertyController::experimentsWithOrigin(
    const std::string& origin) const {
  if (!m_analytics) return std::nullopt;
  return m_analytics->conditionalUserProperties(origin, "");
}

int32_t ABTConditionalUserPropertyController::maxNumberOfExperimentsOfOrigin(const std::string& origin) const {
  return m_analytics ? m_analytics->maxUserProperties(origin) : 0;
}

std::string ABTConditionalUserPropertyController::experimentIDOfExperiment(const Value& experiment) {
  return experiment["name"].isNull() ? std::string() : experiment["name"].stringValue();
}

std::string ABTConditionalUserPropertyController::variantIDOfExperiment(const Value& experiment) {
  return experiment["value"].isNull() ? std::string() : experiment["value"].stringValue();
}

bool ABTConditionalUserPropertyController::isExperimentTheSameAsPayload(const Value& experiment,
                                                                       const ABTExperimentPayload& payload) {
  return experimentIDOfExperiment(experiment) == payload.experimentId() &&
         variantIDOfExperiment(experiment) == payload.variantId();
}

int32_t ABTConditionalUserPropertyController::overflowPolicyWithPayload(const ABTExperimentPayload& payload,
                                                                        int32_t originalPolicy) {
  if (payload.overflowPolicyIsValid()) return payload.overflowPolicy();
  if (originalPolicy == ABTExperimentPayloadExperimentOverflowPolicyDiscardOldest ||
      originalPolicy == ABTExperimentPayloadExperimentOverflowPolicyIgnoreNewest) {
    return originalPolicy;
  }
  return ABTExperimentPayloadExperimentOverflowPolicyDiscardOldest;
}

void ABTConditionalUserPropertyController::setExperimentWithOrigin(const std::string& origin,
                                                                   const ABTExperimentPayload& payload,
                                                                   const RIRLifecycleEvents& events, int32_t policy) {
  const int32_t limit = maxNumberOfExperimentsOfOrigin(origin);
  if (limit < 0) return;
  std::optional<platform::Array> experiments = experimentsWithOrigin(origin);
  if (!experiments) {
    RIRLogEmitInfo(kABTLogService, "I-ABT000003", "Failed to get conditional user properties from Ririvudu Analytics.");
    return;
  }
  if (payload.experimentId().empty()) {
    RIRLogEmitInfo(kABTLogService, "I-ABT000020", "Experiment Id in payload is empty.");
    return;
  }
  if (static_cast<int64_t>(experiments->size()) >= limit) {
    const int32_t resolved = overflowPolicyWithPayload(payload, policy);
    if (resolved == ABTExperimentPayloadExperimentOverflowPolicyDiscardOldest && !experiments->empty()) {
      const Value oldest = (*experiments)[0];
      const std::string oldestID = experimentIDOfExperiment(oldest);
      const std::string oldestVariant = variantIDOfExperiment(oldest);
      clearExperiment(oldestID, oldestVariant, origin, &payload, events);
      RIRLogEmitDebug(kABTLogService, "I-ABT000016",
                      "Clear experiment ID " + oldestID + " variant ID " + oldestVariant + " due to overflow policy.");
    } else {
      RIRLogEmitDebug(kABTLogService, "I-ABT000017",
                      "Experiment ID " + payload.experimentId() + " variant ID " + payload.variantId() +
                          " won't be set due to overflow policy.");
      return;
    }
  }
  for (const Value& experiment : *experiments) {
    if (experimentIDOfExperiment(experiment) == payload.experimentId() &&
        variantIDOfExperiment(experiment) != payload.variantId()) {
      const std::string variant = variantIDOfExperiment(experiment);
      RIRLogEmitDebug(kABTLogService, "I-ABT000018",
                      "Clear experiment ID " + payload.experimentId() + " with variant ID " + variant +
                          " because only one variant ID can be existed at any time.");
      clearExperiment(payload.experimentId(), variant, origin, &payload, events);
    }
  }
  if (m_analytics) m_analytics->setConditionalUserProperty(createExperimentFromOrigin(origin, payload, events));
  RIRLogEmitDebug(kABTLogService, "I-ABT000019",
                  "Set conditional user property, experiment ID " + payload.experimentId() + " with variant ID " +
                      payload.variantId() + " triggered event " + payload.triggerEvent() + ".");
  logEventWithOrigin(origin, payload, events);
}

void ABTConditionalUserPropertyController::clearExperiment(const std::string& experimentID,
                                                           const std::string& variantID, const std::string& origin,
                                                           const ABTExperimentPayload* payload,
                                                           const RIRLifecycleEvents& events) {
  const std::string eventName = payload != nullptr && !payload->clearEventToLog().empty()
                                    ? payload->clearEventToLog()
                                    : events.clearExperimentEventName();
  if (m_analytics) {
    m_analytics->clearConditionalUserProperty(experimentID, origin, eventName,
                                              experimentParameters(experimentID, variantID));
  }
  RIRLogEmitDebug(kABTLogService, "I-ABT000015",
                  "Clear Experiment ID " + experimentID + ", variant ID " + variantID + ".");
}

platform::Dictionary ABTConditionalUserPropertyController::eventDictionaryWithOrigin(
    const std::string& origin, const std::string& eventName, const platform::Dictionary& parameters) const {
  return platform::Dictionary{{"origin", Value(origin)},
                              {"name", Value(eventName)},
                              {"timestamp", Value(platform::Clock::current()->now())},
                              {"parameters", Value(parameters)}};
}

platform::Dictionary ABTConditionalUserPropertyController::createExperimentFromOrigin(
    const std::string& origin, const ABTExperimentPayload& payload, const RIRLifecycleEvents& events) const {
  const platform::Dictionary parameters = experimentParameters(payload.experimentId(), payload.variantId());
  auto event = [&](const std::string& own, const std::string& fallback) {
    return Value(eventDictionaryWithOrigin(origin, own.empty() ? fallback : own, parameters.copy()));
  };
  platform::Dictionary property;
  property.set("origin", Value(origin));
  property.set("creationTimestamp", Value(static_cast<long long>(payload.experimentStartTimeMillis() / 1000)));
  property.set("name", Value(payload.experimentId()));
  property.set("value", Value(payload.variantId()));
  if (!payload.triggerEvent().empty()) property.set("triggerEventName", Value(payload.triggerEvent()));
  property.set("timedOutEvent", event(payload.timeoutEventToLog(), events.timeoutExperimentEventName()));
  property.set("triggerTimeout", Value(static_cast<long long>(payload.triggerTimeoutMillis() / 1000)));
  property.set("triggeredEvent", event(payload.activateEventToLog(), events.activateExperimentEventName()));
  property.set("timeToLive", Value(static_cast<long long>(payload.timeToLiveMillis() / 1000)));
  property.set("expiredEvent", event(payload.ttlExpiryEventToLog(), events.expireExperimentEventName()));
  return property;
}

void ABTConditionalUserPropertyController::logEventWithOrigin(const std::string& origin,
                                                              const ABTExperimentPayload& payload,
                                                              const RIRLifecycleEvents& events) {
  if (!m_analytics) return;
  const std::string name = payload.setEventToLog().empty() ? events.setExperimentEventName() : payload.setEventToLog();
  platform::Dictionary parameters;
  if (!payload.experimentId().empty()) parameters = experimentParameters(payload.experimentId(), payload.variantId());
  m_analytics->logEventWithOrigin(origin, name, parameters);
}

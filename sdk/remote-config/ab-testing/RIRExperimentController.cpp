#include "sdk/remote-config/ab-testing/RIRExperimentController.h"

#include <algorithm>
#include <cmath>

#include "platform/storage/Json.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRComponentType.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/remote-config/ab-testing/ABTConditionalUserPropertyController.h"
#include "sdk/remote-config/ab-testing/ABTConstants.h"

using platform::Value;

namespace {

// The payload of one data item; nothing (with its log lines) when it does not parse.
std::shared_ptr<ABTExperimentPayload> parsePayload(const platform::Bytes& data) {
  platform::JsonReadOptions options;
  options.allowFragments = true;
  platform::Result<Value> json = platform::Json::parse(data, options);
  if (!json.ok()) {
    RIRLogEmitError(kABTLogService, "I-ABT000001", "Failed to parse experiment payload: " + json.error().description());
  }
  std::shared_ptr<ABTExperimentPayload> payload = ABTExperimentPayload::parseFromData(data);
  if (!payload) RIRLogEmitInfo(kABTLogService, "I-ABT000002", "Either payload is not set or it cannot be deserialized.");
  return payload;
}

}  // namespace

std::vector<RIRComponent> RIRExperimentController::componentsToRegister() {
  return {RIRComponent::componentWithProtocol(
      RIRProtocol::of<RIRABTInstanceProvider>(), RIRComponentTimingLazy,
      [](RIRComponentContainer& container, bool& isCacheable) -> std::shared_ptr<RIRComponentInstance> {
        std::shared_ptr<ROZAdavurudoInterop> analytics = container.instanceFor<ROZAdavurudoInterop>();
        isCacheable = true;
        return std::make_shared<RIRExperimentController>(analytics);
      })};
}

std::shared_ptr<RIRExperimentController> RIRExperimentController::sharedInstance() {
  std::shared_ptr<RIRApp> app = RIRApp::defaultAppIfConfigured();
  if (!app) return nullptr;
  return std::dynamic_pointer_cast<RIRExperimentController>(
      RIRComponentType::instanceForProtocol<RIRABTInstanceProvider>(app->container()));
}

void RIRExperimentController::updateExperimentsWithServiceOrigin(const std::string& origin,
                                                                 const RIRLifecycleEvents& events, int32_t policy,
                                                                 double lastStartTime,
                                                                 const std::vector<platform::Bytes>& payloads,
                                                                 Completion completionHandler) {
  std::weak_ptr<RIRExperimentController> weak = weak_from_this();
  ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(m_analytics)
      ->analyticOperationQueue()
      .async([weak, origin, events, policy, lastStartTime, payloads, completionHandler] {
        if (std::shared_ptr<RIRExperimentController> self = weak.lock()) {
          self->updateExperimentConditionalUserPropertiesWithServiceOrigin(origin, events, policy, lastStartTime,
                                                                          payloads, completionHandler);
        }
      });
}

void RIRExperimentController::updateExperimentConditionalUserPropertiesWithServiceOrigin(
    const std::string& origin, const RIRLifecycleEvents& events, int32_t policy, double lastStartTime,
    const std::vector<platform::Bytes>& payloads, const Completion& completionHandler) {
  std::shared_ptr<ABTConditionalUserPropertyController> controller =
      ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(m_analytics);
  std::optional<platform::Array> experiments = controller->experimentsWithOrigin(origin);
  if (!experiments) {
    const char* text = "Failed to get conditional user properties from Ririvudu Analytics.";
    RIRLogEmitInfo(kABTLogService, "I-ABT000003", text);
    if (completionHandler) completionHandler(platform::Error::make(kABTErrorDomain, kABTErrorCodeNoAnalytics, text));
    return;
  }
  std::vector<std::shared_ptr<ABTExperimentPayload>> toSet;
  for (const platform::Bytes& data : payloads) {
    std::shared_ptr<ABTExperimentPayload> payload = parsePayload(data);
    if (!payload) continue;
    bool running = false;
    for (const Value& experiment : *experiments) {
      running = running || ABTConditionalUserPropertyController::isExperimentTheSameAsPayload(experiment, *payload);
    }
    if (!running) toSet.push_back(payload);
  }
  std::vector<Value> toClear;
  for (const Value& experiment : *experiments) {
    bool kept = false;
    for (const platform::Bytes& data : payloads) {
      std::shared_ptr<ABTExperimentPayload> payload = parsePayload(data);
      kept = kept || (payload && ABTConditionalUserPropertyController::isExperimentTheSameAsPayload(experiment, *payload));
    }
    if (!kept) toClear.push_back(experiment);
  }
  for (const Value& experiment : toClear) {
    controller->clearExperiment(ABTConditionalUserPropertyController::experimentIDOfExperiment(experiment),
                                ABTConditionalUserPropertyController::variantIDOfExperiment(experiment), origin,
                                nullptr, events);
  }
  const double lastStartMillis = lastStartTime * 1000;
  for (const auto& payload : toSet) {
    if (static_cast<double>(payload->experimentStartTimeMillis()) > lastStartMillis) {
      controller->setExperimentWithOrigin(origin, *payload, events, policy);
      RIRLogEmitInfo(kABTLogService, "I-ABT000008",
                     "Set Experiment ID " + payload->experimentId() + ", variant ID " + payload->variantId() +
                         " to Ririvudu Analytics.");
    } else {
      RIRLogEmitInfo(kABTLogService, "I-ABT000009",
                     "Not setting experiment ID " + payload->experimentId() + ", variant ID " +
                         payload->variantId() + " due to the last update time " +
                         std::to_string(static_cast<long long>(lastStartMillis)) + ".");
    }
  }
  if (completionHandler) completionHandler(std::nullopt);
}

double RIRExperimentController::latestExperimentStartTimestampBetweenTimestamp(
    double timestamp, const std::vector<platform::Bytes>& payloads) const {
  double latest = timestamp;
  for (const platform::Bytes& data : payloads) {
    std::shared_ptr<ABTExperimentPayload> payload = parsePayload(data);
    if (!payload) continue;
    if (static_cast<double>(payload->experimentStartTimeMillis()) > latest * 1000) {
      latest = static_cast<double>(payload->experimentStartTimeMillis() / 1000);
    }
  }
  return latest;
}

void RIRExperimentController::validateRunningExperimentsForServiceOrigin(
    const std::string& origin, const std::vector<std::string>& runningExperimentIDs) {
  std::shared_ptr<ABTConditionalUserPropertyController> controller =
      ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(m_analytics);
  std::optional<platform::Array> experiments = controller->experimentsWithOrigin(origin);
  if (!experiments) return;
  const RIRLifecycleEvents events;
  for (const Value& experiment : *experiments) {
    const std::string name = ABTConditionalUserPropertyController::experimentIDOfExperiment(experiment);
    if (std::find(runningExperimentIDs.begin(), runningExperimentIDs.end(), name) == runningExperimentIDs.end()) {
      controller->clearExperiment(name, ABTConditionalUserPropertyController::variantIDOfExperiment(experiment),
                                  origin, nullptr, events);
    }
  }
}

void RIRExperimentController::activateExperiment(ABTExperimentPayload payload, const std::string& origin) {
  payload.clearTriggerEvent();
  ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(m_analytics)
      ->setExperimentWithOrigin(origin, payload, RIRLifecycleEvents(), payload.overflowPolicy());
}

void RIRABTestingRegisterLibrary() {
  RIRApp::registerInternalLibrary(RIRLibrary{"RIRExperimentController", &RIRExperimentController::componentsToRegister},
                                  kRIRABTestingLibraryName);
}

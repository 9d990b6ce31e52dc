// Analytics connector and conditional user property subcommands, in the
// analytics session (each waits until the queues are idle). The connector is
// the one the default app's container hands out first (the real one, or the
// fake of SDK_PROBE_FAKE_CONNECTOR), kept for the whole run so that its
// listeners stay registered.
//
//   cup-set JSON                      the connector's setConditionalUserProperty: "=> ok"
//   cup-clear NAME ORIGIN EVENT JSON  the connector's clearConditionalUserProperty: "=> ok"
//   cup-list PREFIX ORIGIN            the controller's query ("-" = not given):
//                                     "=> cup NAME=VALUE active=0|1 origin=O" sorted by
//                                     name (VALUE as its text), or "=> cup none"
//   connector-log ORIGIN NAME JSON    "=> ok"
//   connector-prop ORIGIN NAME VALUE  ("-" = nil) "=> ok"
//   connector-props                   "=> uprop NAME=VALUE" sorted by name (VALUE in
//                                     the parameter form), or "=> uprop none"
//   connector-max ORIGIN              "=> N"
//   connector-listen ORIGIN           a recording listener for the origin: "=> ok"
//   connector-heard                   what the listeners heard since the last
//                                     connector-heard: "=> heard ORIGIN NAME PARAMS"
//                                     in delivery order, or "=> heard none"
// JSON arguments are inline or "@PATH".
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMValue.h"
#include "measurement/features/APMConditionalUserPropertyController.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/text/NumberText.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRComponentType.h"
#include "sdk/core/ROZAdavurudoInterop.h"
#include "testing/probes/sdk/AnalyticsSession.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

using platform::Dictionary;
using platform::Value;

AnalyticsSession& session() { return AnalyticsSession::shared(); }

struct Heard {
  std::string origin;
  std::string name;
  Dictionary parameters;
};

std::mutex& heardMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::vector<Heard>& heard() {
  static auto* const list = new std::vector<Heard>();
  return *list;
}

class RecordingListener : public ROZAdavurudoInterop::Listener {
 public:
  explicit RecordingListener(std::string origin) : m_origin(std::move(origin)) {}
  void messageTriggered(const std::string& name, const Dictionary& parameters) override {
    std::lock_guard lock(heardMutex());
    heard().push_back({m_origin, name, parameters.copy()});
  }

 private:
  const std::string m_origin;
};

// The run's connector; none (after an error line) without one.
std::shared_ptr<ROZAdavurudoInterop> connector() {
  static auto* const kept = new std::shared_ptr<ROZAdavurudoInterop>();
  if (!*kept) {
    std::shared_ptr<RIRApp> app = RIRApp::isDefaultAppConfigured() ? RIRApp::defaultApp() : nullptr;
    if (app) *kept = RIRComponentType::instanceForProtocol<ROZAdavurudoInterop>(app->container());
    if (!*kept) result("error: no analytics connector");
  }
  return *kept;
}

std::optional<Dictionary> jsonObject(const std::string& argument) {
  std::string error;
  std::optional<Value> json = parseJsonArgument(argument, error);
  if (!json || !json->isDictionary()) {
    result("error: " + (json ? std::string("JSON must be an object") : error));
    return std::nullopt;
  }
  return json->asDictionary();
}

int settledOk() {
  if (!session().settle()) return 1;
  result("ok");
  return 0;
}

Value givenOrNull(const std::string& argument) { return argument == "-" ? Value() : Value(argument); }

std::string valueText(const APMValuePtr& value) {
  if (!value) return "";
  if (value->isString()) return value->stringValue().value_or("");
  if (value->isInt64()) return std::to_string(value->int64Value());
  if (value->isDouble()) return platform::NumberText::formatDouble(value->doubleValue());
  return value->description();
}

int listCommand(const std::vector<std::string>& arguments) {
  if (int refused = session().requireStarted()) return refused;
  if (!session().settle()) return 1;
  std::optional<APMConditionalUserPropertyController::PropertyList> properties =
      APMConditionalUserPropertyController::sharedInstance()->conditionalUserPropertiesWithNamePrefix(
          givenOrNull(arguments[0]), givenOrNull(arguments[1]));
  if (!properties) {
    result("error: no answer");
    return 1;
  }
  std::sort(properties->begin(), properties->end(),
            [](const auto& left, const auto& right) { return left->name() < right->name(); });
  if (properties->empty()) result("cup none");
  for (const std::shared_ptr<APMConditionalUserProperty>& property : *properties) {
    result("cup " + property->name() + "=" + valueText(property->value()) +
           " active=" + (property->isActive() ? "1" : "0") + " origin=" + property->origin());
  }
  return 0;
}

int propsCommand(const std::vector<std::string>&) {
  if (int refused = session().requireStarted()) return refused;
  std::shared_ptr<ROZAdavurudoInterop> analytics = connector();
  if (!analytics) return 1;
  if (!session().settle()) return 1;
  auto answer = std::make_shared<std::optional<Dictionary>>();
  auto mutex = std::make_shared<std::mutex>();
  analytics->getUserPropertiesWithCallback([answer, mutex](Dictionary properties) {
    std::lock_guard lock(*mutex);
    *answer = std::move(properties);
  });
  const bool answered = platform::MainQueue::runUntil(
      [answer, mutex] {
        std::lock_guard lock(*mutex);
        return answer->has_value();
      },
      kProbeWaitSeconds);
  if (!answered) {
    result("error: no answer");
    return 1;
  }
  std::lock_guard lock(*mutex);
  std::vector<std::string> names;
  for (const auto& [name, value] : **answer) names.push_back(name);
  std::sort(names.begin(), names.end());
  if (names.empty()) result("uprop none");
  for (const std::string& name : names) {
    result("uprop " + name + "=" + compactJson(AnalyticsSession::plainValue((*answer)->get(name))));
  }
  return 0;
}

int heardCommand(const std::vector<std::string>&) {
  if (int refused = session().requireStarted()) return refused;
  if (!session().settle()) return 1;
  std::vector<Heard> list;
  {
    std::lock_guard lock(heardMutex());
    list.swap(heard());
  }
  if (list.empty()) result("heard none");
  for (const Heard& entry : list) {
    result("heard " + entry.origin + " " + entry.name + " " + AnalyticsSession::parameterText(entry.parameters));
  }
  return 0;
}

}  // namespace

std::vector<Subcommand> connectorSubcommands() {
  return {
      {"cup-set", 1, "cup-set JSON",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<Dictionary> property = jsonObject(arguments[0]);
         if (!property) return 2;
         std::shared_ptr<ROZAdavurudoInterop> analytics = connector();
         if (!analytics) return 1;
         analytics->setConditionalUserProperty(*property);
         return settledOk();
       }},
      {"cup-clear", 4, "cup-clear NAME ORIGIN EVENT JSON",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<Dictionary> parameters = jsonObject(arguments[3]);
         if (!parameters) return 2;
         std::shared_ptr<ROZAdavurudoInterop> analytics = connector();
         if (!analytics) return 1;
         analytics->clearConditionalUserProperty(arguments[0], arguments[1], arguments[2], *parameters);
         return settledOk();
       }},
      {"cup-list", 2, "cup-list PREFIX ORIGIN", listCommand},
      {"connector-log", 3, "connector-log ORIGIN NAME JSON",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<Dictionary> parameters = jsonObject(arguments[2]);
         if (!parameters) return 2;
         std::shared_ptr<ROZAdavurudoInterop> analytics = connector();
         if (!analytics) return 1;
         analytics->logEventWithOrigin(arguments[0], arguments[1], *parameters);
         return settledOk();
       }},
      {"connector-prop", 3, "connector-prop ORIGIN NAME VALUE",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::shared_ptr<ROZAdavurudoInterop> analytics = connector();
         if (!analytics) return 1;
         analytics->setUserPropertyWithOrigin(arguments[0], arguments[1], givenOrNull(arguments[2]));
         return settledOk();
       }},
      {"connector-props", 0, "connector-props", propsCommand},
      {"connector-max", 1, "connector-max ORIGIN",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::shared_ptr<ROZAdavurudoInterop> analytics = connector();
         if (!analytics) return 1;
         if (!session().settle()) return 1;
         result(std::to_string(analytics->maxUserProperties(arguments[0])));
         return 0;
       }},
      {"connector-listen", 1, "connector-listen ORIGIN",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::shared_ptr<ROZAdavurudoInterop> analytics = connector();
         if (!analytics) return 1;
         analytics->registerAnalyticsListener(std::make_shared<RecordingListener>(arguments[0]), arguments[0]);
         return settledOk();
       }},
      {"connector-heard", 0, "connector-heard", heardCommand},
  };
}

}  // namespace sdkprobe

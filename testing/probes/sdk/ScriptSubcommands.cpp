// Measurement script runtime: script-eval, script-edit.
//
// Programs and entities are written in the entity notation
// (testing/script-notation/ScriptNotation.h), inline or "@PATH"; the probe
// builds their wire messages so that the runtime's converter reads them.
//
//   script-eval JSON       a fresh runtime runs one entity: its result
//                          (ScriptRun.h forms, or "error DOMAIN CODE"), then
//                          "steps N", the instruction count
//   script-edit PROGRAM EVENT
//                          measurement settings made from an otherwise empty
//                          configuration carrying PROGRAM build the editing
//                          instance with their three modules (remote values,
//                          the bundle's metadata, the logger); "load error
//                          DOMAIN CODE" when the program does not load; else
//                          EVENT {"name", "timestamp", "params"} is handled:
//                          "handled YES|NO" or "error DOMAIN CODE", then
//                          "out NAME t=TS PARAMS" and one "created NAME t=TS
//                          PARAMS" per created event (TS shortest, without
//                          ".0"; PARAMS compact JSON with sorted keys, integers
//                          as digits, doubles with ".0" when integral)
//
// Monitor lines (the logger module's) go to standard error before the
// result lines.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMEventEditing.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMZoruvuServiceFileUtil.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/script/APMPEventEditing.h"
#include "measurement/script/APMPRuntime.h"
#include "measurement/script/APMPScriptRegistration.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"
#include "testing/script-notation/ScriptNotation.h"
#include "testing/script-notation/ScriptRun.h"

namespace sdkprobe {

namespace {

int badArgument(const std::string& message) {
  result("error " + message);
  return 2;
}

void drainMonitor() { APMEngineServices::monitor()->monitorQueue().sync([] {}); }

// The editing instance the settings build, with what its load reported.
class ObservedEditing final : public APMEventEditing {
 public:
  void setModuleCreator(ModuleCreator creator, const std::string& name) override {
    m_editing.setModuleCreator(std::move(creator), name);
  }
  bool loadProgram(const APMPBProgram& program, platform::Error* error) override {
    platform::Error failure;
    if (m_editing.loadProgram(program, &failure)) return true;
    m_loadError = failure;
    if (error != nullptr) *error = failure;
    return false;
  }
  bool handleEvent(const APMPEvent& event, platform::Error* error) override {
    return m_editing.handleEvent(event, error);
  }
  bool hasEdits() const override { return m_editing.hasEdits(); }
  bool hasCreatedEvents() const override { return m_editing.hasCreatedEvents(); }
  APMPEvent outputEvent() const override { return m_editing.outputEvent(); }
  std::vector<APMPEvent> eventsToLog() const override { return m_editing.eventsToLog(); }
  const std::optional<platform::Error>& loadError() const { return m_loadError; }

 private:
  APMPEventEditing m_editing;
  std::optional<platform::Error> m_loadError;
};

std::string eventLine(const std::string& kind, const APMPEvent& event) {
  return kind + " " + event.name() + " t=" + timeText(event.timestamp()) + " " +
         compactJson(platform::Value(event.parameters()));
}

// script-eval JSON
int scriptEval(const std::vector<std::string>& arguments) {
  std::string error;
  const std::optional<platform::Value> notation = parseJsonArgument(arguments[0], error);
  if (!notation) return badArgument(error);
  const std::shared_ptr<APMPBRuntimeEntity> entity = testkit::runtimeEntityFromNotation(*notation, error);
  if (!entity) return badArgument("bad entity: " + error);
  APMPRuntime runtime;
  APMPError failure;
  const APMPValuePtr value = runtime.executeStatements({entity.get()}, failure);
  result(failure ? testkit::describeScriptError(failure.error()) : testkit::describeScriptValue(value));
  result("steps " + std::to_string(runtime.getInstructionCount()));
  return failure ? 1 : 0;
}

// script-edit PROGRAM EVENT
int scriptEdit(const std::vector<std::string>& arguments) {
  std::string error;
  const std::optional<platform::Value> programNotation = parseJsonArgument(arguments[0], error);
  if (!programNotation) return badArgument(error);
  const std::shared_ptr<APMPBProgram> program = testkit::programFromNotation(*programNotation, error);
  if (!program) return badArgument("bad program: " + error);
  const std::optional<platform::Value> eventJson = parseJsonArgument(arguments[1], error);
  if (!eventJson) return badArgument(error);
  const std::string* name = (*eventJson)["name"].asString();
  const platform::Value& timestamp = (*eventJson)["timestamp"];
  const std::optional<platform::Dictionary> parameters =
      (*eventJson)["params"].isNull() ? platform::Dictionary() : (*eventJson)["params"].asDictionary();
  if (name == nullptr || !timestamp.isNumber() || !parameters) {
    return badArgument("EVENT must be {\"name\": TEXT, \"timestamp\": NUMBER, \"params\": OBJECT}");
  }

  std::optional<std::string> appID = "1:0:ios:0";
  if (std::optional<platform::Dictionary> options = APMZoruvuServiceFileUtil::dictionaryFromZoruvuServiceInfoPlist()) {
    if (const std::string* id = (*options)["ZORUVU_APP_ID"].asString()) appID = *id;
  }
  std::shared_ptr<APMPBMeasurementConfig> config = APMPBMeasurementConfig::initWithMessageInfo(nullptr);
  APMPBSetString(config.get(), APMPBMeasurementConfigSlot::kAppID, *appID);
  APMPBSetArray(config.get(), APMPBMeasurementConfigSlot::kDynamicEventEditing, platform::Array{APMPBObjectValue(program)});
  auto editing = std::make_shared<ObservedEditing>();
  APMEngineServices::setEventEditingFactory([editing] { return editing; });
  const std::shared_ptr<APMRemoteConfig> settings = APMRemoteConfig::initWithAppID(appID, {}, config, nullptr, nullptr);
  APMPScriptRegisterLibrary();
  if (editing->loadError()) {
    drainMonitor();
    result("load " + testkit::describeScriptError(*editing->loadError()));
    return 1;
  }
  if (settings->eventEditing() != editing) {
    drainMonitor();
    result("error the settings built no editing instance");
    return 1;
  }

  platform::Error failure;
  const bool handled = editing->handleEvent(APMPEvent(*name, timestamp.doubleValue(), *parameters), &failure);
  const bool failed = !handled && !failure.domain.empty();
  drainMonitor();
  result(failed ? testkit::describeScriptError(failure) : std::string("handled ") + (handled ? "YES" : "NO"));
  result(eventLine("out", editing->outputEvent()));
  for (const APMPEvent& created : editing->eventsToLog()) result(eventLine("created", created));
  return failed ? 1 : 0;
}

}  // namespace

std::vector<Subcommand> scriptSubcommands() {
  return {
      {"script-eval", 1, "script-eval JSON", scriptEval},
      {"script-edit", 2, "script-edit PROGRAM EVENT", scriptEdit},
  };
}

}  // namespace sdkprobe

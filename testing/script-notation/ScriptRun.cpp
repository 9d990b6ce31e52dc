#include "testing/script-notation/ScriptRun.h"

#include <unordered_set>
#include <vector>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPControlValue.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "platform/storage/Json.h"
#include "platform/text/Unicode.h"
#include "testing/script-notation/ScriptNotation.h"

namespace testkit {

namespace {

std::string jsonString(const std::u16string& text) {
  platform::JsonWriteOptions options;
  options.allowFragments = true;
  platform::Result<std::string> json = platform::Json::serialize(platform::Value(platform::Unicode::toUtf8(text)),
                                                                 options);
  return json ? json.value() : "\"?\"";
}

std::string describe(const APMPValuePtr& value, bool withKind, std::unordered_set<const APMPRuntimeValue*>& active) {
  auto kind = [&](const char* word, const std::string& text) { return withKind ? word + (" " + text) : text; };
  switch (value->kind()) {
    case APMPValueKind::Undefined:
      return "undefined";
    case APMPValueKind::Null:
      return "null";
    case APMPValueKind::Boolean:
      return kind("boolean", static_cast<const APMPBooleanValue&>(*value).value() ? "true" : "false");
    case APMPValueKind::Number:
      return kind("number", APMPNumberValue::stringFromDouble(static_cast<const APMPNumberValue&>(*value).value()));
    case APMPValueKind::String:
      return kind("string", jsonString(static_cast<const APMPStringValue&>(*value).value()));
    case APMPValueKind::Array: {
      if (!active.insert(value.get()).second) return kind("array", "[...]");
      std::string text = "[";
      const APMPValueList& elements = static_cast<const APMPArrayValue&>(*value).elements();
      for (size_t i = 0; i < elements.size(); ++i) {
        if (i > 0) text += ",";
        if (!elements[i]->isHole()) text += describe(elements[i], false, active);
      }
      active.erase(value.get());
      return kind("array", text + "]");
    }
    case APMPValueKind::Map:
      return "map";
    case APMPValueKind::Function:
      return "function " +
             platform::Unicode::toUtf8(static_cast<const APMPFunctionValue&>(*value).functionName());
    case APMPValueKind::Statement:
      return "statement " +
             platform::Unicode::toUtf8(static_cast<const APMPStatementValue&>(*value).functionName());
    case APMPValueKind::Control: {
      const auto& control = static_cast<const APMPControlValue&>(*value);
      return std::string("control ") +
             (control.isBreak() ? "break" : control.isReturn() ? "return" : "continue");
    }
    case APMPValueKind::Hole:
      return "";
  }
  return "?";
}

ScriptRun badNotation(const std::string& reason) {
  ScriptRun result;
  result.text = "bad notation: " + reason;
  return result;
}

ScriptRun run(APMPRuntime& runtime, const std::vector<const NANOMessageBase*>& entities) {
  ScriptRun result;
  APMPError error;
  result.value = runtime.executeStatements(entities, error);
  result.error = error.optionalError();
  result.steps = runtime.getInstructionCount();
  result.text = result.error ? describeScriptError(*result.error) : describeScriptValue(result.value);
  return result;
}

}  // namespace

ScriptRun runScriptEntity(APMPRuntime& runtime, std::string_view entityJson) {
  std::string error;
  const std::optional<platform::Value> notation = parseNotation(entityJson, error);
  if (!notation) return badNotation(error);
  std::shared_ptr<APMPBRuntimeEntity> entity = runtimeEntityFromNotation(*notation, error);
  if (!entity) return badNotation(error);
  return run(runtime, {entity.get()});
}

ScriptRun runScriptProgram(APMPRuntime& runtime, std::string_view programJson) {
  std::string error;
  const std::optional<platform::Value> notation = parseNotation(programJson, error);
  if (!notation) return badNotation(error);
  std::shared_ptr<APMPBProgram> program = programFromNotation(*notation, error);
  if (!program) return badNotation(error);
  std::vector<APMPBMessageView> views = APMPBGetMessageViews(program.get(), APMPBProgramSlot::kInstructions);
  std::vector<const NANOMessageBase*> entities;
  for (const APMPBMessageView& view : views) entities.push_back(&view);
  return run(runtime, entities);
}

ScriptRun runScriptEntity(std::string_view entityJson) {
  APMPRuntime runtime;
  return runScriptEntity(runtime, entityJson);
}

ScriptRun runScriptProgram(std::string_view programJson) {
  APMPRuntime runtime;
  return runScriptProgram(runtime, programJson);
}

std::string describeScriptValue(const APMPValuePtr& value) {
  std::unordered_set<const APMPRuntimeValue*> active;
  return describe(value, true, active);
}

std::string describeScriptError(const platform::Error& error) {
  return "error " + error.domain + " " + std::to_string(error.code);
}

}  // namespace testkit

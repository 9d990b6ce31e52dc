#include "testing/script-notation/ScriptNotation.h"

#include <cmath>
#include <limits>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/script/APMPRuntimeEntityConverter.h"
#include "platform/storage/Json.h"

namespace testkit {

namespace {

bool fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

bool fillEntity(NANOMessageBase& entity, const platform::Value& notation, int depth, std::string& error);

bool fillArguments(NANOMessageBase& entity, const platform::Array& arguments, size_t first, int depth,
                   std::string& error) {
  for (size_t i = first; i < arguments.size(); ++i) {
    std::optional<APMPBMessageView> child = APMPBAppendMessage(&entity, APMPBRuntimeEntitySlot::kValue);
    if (!child) return fail(error, "cannot add an argument");
    if (!fillEntity(*child, arguments[i], depth + 1, error)) return false;
  }
  return true;
}

bool fillSpecialNumber(NANOMessageBase& entity, const std::string& name, std::string& error) {
  double value = 0;
  if (name == "NaN") {
    value = std::numeric_limits<double>::quiet_NaN();
  } else if (name == "Infinity") {
    value = std::numeric_limits<double>::infinity();
  } else if (name == "-Infinity") {
    value = -std::numeric_limits<double>::infinity();
  } else if (name == "-0") {
    value = -0.0;
  } else {
    return fail(error, "unknown number " + name);
  }
  APMPBSetInt32(&entity, APMPBRuntimeEntitySlot::kKind, APMPRuntimeEntityConverter::kNumberKind);
  APMPBSetDouble(&entity, APMPBRuntimeEntitySlot::kNumberValue, value);
  return true;
}

bool fillRaw(NANOMessageBase& entity, const platform::Dictionary& fields, int depth, std::string& error) {
  for (const auto& [key, value] : fields) {
    if (key == "kind" && value.isNumber()) {
      APMPBSetInt32(&entity, APMPBRuntimeEntitySlot::kKind, static_cast<int32_t>(value.longLongValue()));
    } else if (key == "cmd" && value.isString()) {
      APMPBSetString(&entity, APMPBRuntimeEntitySlot::kFunctionName, *value.asString());
    } else if (key == "args" && value.isArray()) {
      if (!fillArguments(entity, *value.asArray(), 0, depth, error)) return false;
    } else if (key == "s" && value.isString()) {
      APMPBSetString(&entity, APMPBRuntimeEntitySlot::kStringValue, *value.asString());
    } else if (key == "b" && value.isBool()) {
      APMPBSetBool(&entity, APMPBRuntimeEntitySlot::kBoolValue, *value.asBool());
    } else if (key == "d" && value.isNumber()) {
      APMPBSetDouble(&entity, APMPBRuntimeEntitySlot::kNumberValue, value.doubleValue());
    } else {
      return fail(error, "bad raw entity field " + key);
    }
  }
  return true;
}

bool fillEntity(NANOMessageBase& entity, const platform::Value& notation, int depth, std::string& error) {
  if (depth > kMaxNotationDepth) return fail(error, "entity nested too deep");
  switch (notation.type()) {
    case platform::ValueType::String:
      APMPBSetInt32(&entity, APMPBRuntimeEntitySlot::kKind, APMPRuntimeEntityConverter::kStringKind);
      APMPBSetString(&entity, APMPBRuntimeEntitySlot::kStringValue, *notation.asString());
      return true;
    case platform::ValueType::Number:
      APMPBSetInt32(&entity, APMPBRuntimeEntitySlot::kKind, APMPRuntimeEntityConverter::kNumberKind);
      APMPBSetDouble(&entity, APMPBRuntimeEntitySlot::kNumberValue, notation.doubleValue());
      return true;
    case platform::ValueType::Bool:
      APMPBSetInt32(&entity, APMPBRuntimeEntitySlot::kKind, APMPRuntimeEntityConverter::kBooleanKind);
      APMPBSetBool(&entity, APMPBRuntimeEntitySlot::kBoolValue, *notation.asBool());
      return true;
    case platform::ValueType::Array: {
      const platform::Array items = *notation.asArray();
      if (items.empty() || !items[0].isString()) return fail(error, "a statement starts with its command name");
      APMPBSetInt32(&entity, APMPBRuntimeEntitySlot::kKind, APMPRuntimeEntityConverter::kStatementKind);
      APMPBSetString(&entity, APMPBRuntimeEntitySlot::kFunctionName, *items[0].asString());
      return fillArguments(entity, items, 1, depth, error);
    }
    case platform::ValueType::Dictionary: {
      const platform::Dictionary fields = *notation.asDictionary();
      if (fields.size() == 1 && fields.contains("n")) {
        const std::string* name = fields["n"].asString();
        return name != nullptr ? fillSpecialNumber(entity, *name, error) : fail(error, "\"n\" takes a name");
      }
      return fillRaw(entity, fields, depth, error);
    }
    default:
      return fail(error, "not an entity: " + notation.description());
  }
}

bool fillStatements(NANOMessageBase& message, int32_t slot, const platform::Value& list, std::string& error) {
  const std::optional<platform::Array> items = list.asArray();
  if (!items) return fail(error, "statements must be an array");
  for (const platform::Value& item : *items) {
    std::optional<APMPBMessageView> entity = APMPBAppendMessage(&message, slot);
    if (!entity) return fail(error, "cannot add a statement");
    if (!fillEntity(*entity, item, 0, error)) return false;
  }
  return true;
}

}  // namespace

std::optional<platform::Value> parseNotation(std::string_view json, std::string& error) {
  platform::JsonReadOptions options;
  options.allowFragments = true;
  options.maxDepth = kMaxNotationDepth;
  platform::Result<platform::Value> parsed = platform::Json::parse(json, options);
  if (!parsed) {
    error = parsed.error().localizedDescription();
    return std::nullopt;
  }
  return parsed.value();
}

bool fillRuntimeEntity(NANOMessageBase& entity, const platform::Value& notation, std::string& error) {
  return fillEntity(entity, notation, 0, error);
}

std::shared_ptr<APMPBRuntimeEntity> runtimeEntityFromNotation(const platform::Value& notation, std::string& error) {
  std::shared_ptr<APMPBRuntimeEntity> entity = APMPBRuntimeEntity::initWithMessageInfo(nullptr);
  if (!entity || !fillEntity(*entity, notation, 0, error)) return nullptr;
  return entity;
}

std::shared_ptr<APMPBProgram> programFromNotation(const platform::Value& notation, std::string& error) {
  std::shared_ptr<APMPBProgram> program = APMPBProgram::initWithMessageInfo(nullptr);
  if (!program) return nullptr;
  if (notation.isArray()) {
    return fillStatements(*program, APMPBProgramSlot::kInstructions, notation, error) ? program : nullptr;
  }
  const std::optional<platform::Dictionary> fields = notation.asDictionary();
  if (!fields) return fail(error, "a program is an array or an object"), nullptr;
  for (const auto& [key, value] : *fields) {
    if (key == "instructions") {
      if (!fillStatements(*program, APMPBProgramSlot::kInstructions, value, error)) return nullptr;
    } else if (key == "activities") {
      const std::optional<platform::Array> activities = value.asArray();
      if (!activities) return fail(error, "activities must be an array"), nullptr;
      std::shared_ptr<APMPBOgtActivities> list = APMPBOgtActivities::initWithMessageInfo(nullptr);
      for (const platform::Value& activity : *activities) {
        const std::optional<platform::Dictionary> parts = activity.asDictionary();
        if (!parts) return fail(error, "an activity is an object"), nullptr;
        std::optional<APMPBMessageView> item = APMPBAppendMessage(list.get(), APMPBOgtActivitiesSlot::kActivities);
        if (!item) return fail(error, "cannot add an activity"), nullptr;
        if (const std::string* name = (*parts)["name"].asString()) APMPBSetString(&*item, APMPBOgtActivitySlot::kName, *name);
        if (parts->contains("data") && !fillStatements(*item, APMPBOgtActivitySlot::kData, (*parts)["data"], error)) {
          return nullptr;
        }
      }
      APMPBSetMessage(program.get(), APMPBProgramSlot::kOgtActivities, list.get());
    } else {
      return fail(error, "unknown program field " + key), nullptr;
    }
  }
  return program;
}

}  // namespace testkit

#include "measurement/base/APMDebugNames.h"

#include <algorithm>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMErrorCodeName.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMValue.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/text/Unicode.h"

namespace {

constexpr const char* kCollectorPrefix = "ririvudu_";

bool isDebugModeOn() { return APMEngineServices::monitor()->isDebugModeEnabled(); }

std::string objectDescription(const platform::Value& object) { return APMValue::descriptionOfObject(object); }

std::string valueText(const std::string& key, const platform::Value& value) {
  if (value.isArray()) return APMArrayDescriptionString(value);
  APMValuePtr typed = APMValue::fromObject(value);
  if (typed && typed->isArray()) return APMArrayDescriptionString(typed->value());
  if (typed && key == "_err") {
    if (typed->isInt64() && isDebugModeOn()) {
      const int64_t code = typed->int64Value();
      const APMErrorCodeNameMap& names = APMErrorCodeName();
      auto found = names.find(code);
      if (found != names.end() && !found->second.empty()) {
        return found->second + " (" + std::to_string(code) + ")";
      }
      return std::to_string(code);
    }
    return typed->description();
  }
  return objectDescription(value);
}

}  // namespace

std::string APMDebugName(const platform::Value& name, const APMNameMap& publicToInternal) {
  const std::string* text = name.asString();
  if (text == nullptr) return name.description();
  if (text->empty() || publicToInternal.empty() || APMIsPublicName(name)) return *text;
  if (!isDebugModeOn() || !platform::ClassRegistry::shared().exists("ROZAdavurudo")) return *text;
  const std::string* match = nullptr;
  for (const auto& [publicName, internalName] : publicToInternal) {
    if (internalName != *text) continue;
    match = &publicName;
    if (publicName.rfind(kCollectorPrefix, 0) != 0) break;
  }
  if (match == nullptr) return *text;
  return *match + " (" + *text + ")";
}

std::string APMDebugEventName(const platform::Value& name) { return APMDebugName(name, APMEventNameMap()); }

std::string APMDebugParameterName(const platform::Value& name) {
  return APMDebugName(name, APMPublicToInternalParamNames());
}

std::string APMDebugUserPropertyName(const platform::Value& name) {
  const std::string* text = name.asString();
  if (text != nullptr && text->rfind("_exp_", 0) == 0) return "experiment_id (" + *text + ")";
  return APMDebugName(name, APMReservedUserPropertyNames());
}

std::string APMDescriptionString(const platform::Value& object) { return APMDescriptionStringWithIndent(object, ""); }

std::string APMDescriptionStringWithIndent(const platform::Value& object, const std::string& indent) {
  std::optional<platform::Dictionary> dictionary = object.asDictionary();
  if (!dictionary || !isDebugModeOn()) return objectDescription(object);
  std::vector<std::string> lines;
  for (const auto& [key, value] : *dictionary) {
    lines.push_back(indent + "    " + APMDebugParameterName(platform::Value(key)) + " = " + valueText(key, value) +
                    ";\n");
  }
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return platform::Unicode::compareCaseInsensitive(a, b) < 0;
  });
  std::string text = indent + "{\n";
  for (const std::string& line : lines) text += line;
  return text + indent + "}";
}

std::string APMArrayDescriptionString(const platform::Value& object) {
  std::optional<platform::Array> array = object.asArray();
  if (!array || !isDebugModeOn()) return objectDescription(object);
  std::string text = "[\n";
  for (size_t index = 0; index < array->size(); ++index) {
    if (index > 0) text += ",\n";
    text += APMDescriptionStringWithIndent((*array)[index], "    ");
  }
  return text + "\n    ]";
}

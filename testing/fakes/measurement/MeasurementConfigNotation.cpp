#include "testing/fakes/measurement/MeasurementConfigNotation.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "measurement/base/APMConsentNames.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "testing/script-notation/ScriptNotation.h"

namespace testkit {

namespace {

struct BadNotation {
  std::string reason;
};

// The field names of the audience messages, by type.
using FieldNames = std::map<std::string_view, int32_t>;

const FieldNames* fieldNamesOf(const APMPBMessageType& type) {
  static const std::map<const APMPBMessageType*, FieldNames> kNames = {
      {&kAPMPBAudience,
       {{"audience_id", APMPBAudienceSlot::kAudienceID},
        {"property_filters", APMPBAudienceSlot::kPropertyFilters},
        {"event_filters", APMPBAudienceSlot::kEventFilters}}},
      {&kAPMPBEventFilter,
       {{"filter_id", APMPBEventFilterSlot::kFilterID},
        {"event_name", APMPBEventFilterSlot::kEventName},
        {"filters", APMPBEventFilterSlot::kFilters},
        {"event_count_filter", APMPBEventFilterSlot::kEventCountFilter},
        {"dynamic", APMPBEventFilterSlot::kDynamic},
        {"sequence", APMPBEventFilterSlot::kSequence},
        {"session_scoped", APMPBEventFilterSlot::kSessionScoped}}},
      {&kAPMPBPropertyFilter,
       {{"filter_id", APMPBPropertyFilterSlot::kFilterID},
        {"property_name", APMPBPropertyFilterSlot::kPropertyName},
        {"filter", APMPBPropertyFilterSlot::kFilter},
        {"dynamic", APMPBPropertyFilterSlot::kDynamic},
        {"sequence", APMPBPropertyFilterSlot::kSequence},
        {"session_scoped", APMPBPropertyFilterSlot::kSessionScoped}}},
      {&kAPMPBFilter,
       {{"string_filter", APMPBFilterSlot::kStringFilter},
        {"number_filter", APMPBFilterSlot::kNumberFilter},
        {"complement", APMPBFilterSlot::kComplement},
        {"param_name", APMPBFilterSlot::kParamName}}},
      {&kAPMPBStringFilter,
       {{"match_type", APMPBStringFilterSlot::kMatchType},
        {"expression", APMPBStringFilterSlot::kExpression},
        {"case_sensitive", APMPBStringFilterSlot::kCaseSensitive},
        {"expression_list", APMPBStringFilterSlot::kExpressionList}}},
      {&kAPMPBNumberFilter,
       {{"comparison_type", APMPBNumberFilterSlot::kComparisonType},
        {"match_as_float", APMPBNumberFilterSlot::kMatchAsFloat},
        {"comparison_value", APMPBNumberFilterSlot::kComparisonValue},
        {"min_comparison_value", APMPBNumberFilterSlot::kMinComparisonValue},
        {"max_comparison_value", APMPBNumberFilterSlot::kMaxComparisonValue}}},
  };
  auto found = kNames.find(&type);
  return found == kNames.end() ? nullptr : &found->second;
}

// Handles that share the value's storage (loops run over a named copy).
platform::Dictionary objectOf(const platform::Value& value, const std::string& what) {
  std::optional<platform::Dictionary> object = value.asDictionary();
  if (!object) throw BadNotation{what + " is not an object"};
  return *object;
}

platform::Array arrayOf(const platform::Value& value, const std::string& what) {
  std::optional<platform::Array> array = value.asArray();
  if (!array) throw BadNotation{what + " is not an array"};
  return *array;
}

const std::string& textOf(const platform::Value& value, const std::string& what) {
  const std::string* text = value.asString();
  if (text == nullptr) throw BadNotation{what + " is not a string"};
  return *text;
}

int64_t integerOf(const platform::Value& value, const std::string& what) {
  std::optional<int64_t> number = value.isInteger() ? value.asInt64() : std::nullopt;
  if (!number) throw BadNotation{what + " is not an integer"};
  return *number;
}

bool boolOf(const platform::Value& value, const std::string& what) {
  std::optional<bool> flag = value.asBool();
  if (!flag) throw BadNotation{what + " is not true or false"};
  return *flag;
}

void fillNamed(NANOMessageBase& message, const platform::Value& notation, const std::string& what);

// One value (or one item of a repeated field) in the form the field
// operations take.
platform::Value elementFor(const APMPBMessageType& type, int32_t slot, const platform::Value& value,
                           const std::string& what) {
  const APMPBFieldFlags flags = type.flags[slot];
  if (flags & kAPMPBFieldBool) return platform::Value(boolOf(value, what));
  if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldUInt32)) {
    return platform::Value(static_cast<int32_t>(integerOf(value, what)));
  }
  if (flags & (kAPMPBFieldInt64 | kAPMPBFieldUInt64)) return platform::Value(integerOf(value, what));
  if (flags & kAPMPBFieldString) return platform::Value(textOf(value, what));
  if (flags & kAPMPBFieldMessage) {
    std::shared_ptr<NANOMessageBase> sub = APMPBWrapperForType(*type.slots[slot].messageType, nullptr);
    if (!sub) throw BadNotation{what + " cannot be made"};
    fillNamed(*sub, value, what);
    return APMPBObjectValue(sub);
  }
  throw BadNotation{what + " has a kind the notation does not write"};
}

// Fills a message of the audience family from an object keyed by its field
// names.
void fillNamed(NANOMessageBase& message, const platform::Value& notation, const std::string& what) {
  const APMPBMessageType& type = message.messageType();
  const FieldNames* names = fieldNamesOf(type);
  if (names == nullptr) throw BadNotation{what + " has no field names"};
  for (const auto& [key, value] : objectOf(notation, what)) {
    auto found = names->find(key);
    if (found == names->end()) throw BadNotation{what + " has no field \"" + key + "\""};
    const int32_t slot = found->second;
    const std::string field = what + "." + key;
    const APMPBFieldFlags flags = type.flags[slot];
    if (flags & kAPMPBFieldRepeated) {
      platform::Array items;
      for (const platform::Value& item : arrayOf(value, field)) items.append(elementFor(type, slot, item, field));
      APMPBSetArray(&message, slot, items);
      continue;
    }
    const platform::Value element = elementFor(type, slot, value, field);
    if (flags & kAPMPBFieldBool) {
      APMPBSetBool(&message, slot, *element.asBool());
    } else if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldUInt32)) {
      APMPBSetInt32(&message, slot, element.numberAs<int32_t>());
    } else if (flags & (kAPMPBFieldInt64 | kAPMPBFieldUInt64)) {
      APMPBSetInt64(&message, slot, element.numberAs<int64_t>());
    } else if (flags & kAPMPBFieldString) {
      APMPBSetString(&message, slot, *element.asString());
    } else {
      APMPBSetMessage(&message, slot, APMPBObjectFromValue(element).get());
    }
  }
}

uint32_t consentNumber(const std::string& name, const std::string& what, std::string (*nameOf)(int64_t)) {
  for (uint32_t number = 1; number <= 4; ++number) {
    if (!nameOf(number).empty() && nameOf(number) == name) return number;
  }
  throw BadNotation{what + " has an unknown name \"" + name + "\""};
}

// {type: status} as ConsentDefaultEntry items.
platform::Array consentDefaults(const platform::Value& value, const std::string& what) {
  platform::Array entries;
  for (const auto& [type, status] : objectOf(value, what)) {
    auto entry = APMPBConsentDefaultEntry::initWithMessageInfo(nullptr);
    APMPBSetInt32(entry.get(), APMPBConsentDefaultEntrySlot::kType,
                  static_cast<int32_t>(consentNumber(type, what, APMConsentTypeName)));
    APMPBSetInt32(entry.get(), APMPBConsentDefaultEntrySlot::kStatus,
                  static_cast<int32_t>(consentNumber(textOf(status, what + "." + type), what, APMConsentStatusName)));
    entries.append(APMPBObjectValue(entry));
  }
  return entries;
}

std::shared_ptr<APMPBConsentConfig> consentConfig(const platform::Value& notation) {
  auto consent = APMPBConsentConfig::initWithMessageInfo(nullptr);
  for (const auto& [key, value] : objectOf(notation, "consent")) {
    const std::string what = "consent." + key;
    if (key == "defaults") {
      APMPBSetArray(consent.get(), APMPBConsentConfigSlot::kDefaults, consentDefaults(value, what));
    } else if (key == "regional_defaults") {
      APMPBSetArray(consent.get(), APMPBConsentConfigSlot::kEnforcedDefaults, consentDefaults(value, what));
    } else if (key == "delegations") {
      platform::Array entries;
      for (const auto& [type, delegate] : objectOf(value, what)) {
        auto entry = APMPBConsentDelegationEntry::initWithMessageInfo(nullptr);
        APMPBSetInt32(entry.get(), APMPBConsentDelegationEntrySlot::kType,
                      static_cast<int32_t>(consentNumber(type, what, APMConsentTypeName)));
        APMPBSetInt32(entry.get(), APMPBConsentDelegationEntrySlot::kDelegateType,
                      static_cast<int32_t>(consentNumber(textOf(delegate, what), what, APMConsentTypeName)));
        entries.append(APMPBObjectValue(entry));
      }
      APMPBSetArray(consent.get(), APMPBConsentConfigSlot::kDelegations, entries);
    } else if (key == "core_platform_services") {
      platform::Array entries;
      for (const platform::Value& name : arrayOf(value, what)) {
        auto entry = APMPBCorePlatformServiceEntry::initWithMessageInfo(nullptr);
        APMPBSetString(entry.get(), APMPBCorePlatformServiceEntrySlot::kName, textOf(name, what));
        entries.append(APMPBObjectValue(entry));
      }
      APMPBSetArray(consent.get(), APMPBConsentConfigSlot::kCorePlatformServices, entries);
    } else if (key == "dma") {
      APMPBSetBool(consent.get(), APMPBConsentConfigSlot::kDMARegion, boolOf(value, what));
    } else {
      throw BadNotation{"consent has no member \"" + key + "\""};
    }
  }
  return consent;
}

platform::Array eventConfigs(const platform::Value& notation) {
  platform::Array items;
  for (const platform::Value& item : arrayOf(notation, "event_config")) {
    auto config = APMPBEventConfig::initWithMessageInfo(nullptr);
    for (const auto& [key, value] : objectOf(item, "event_config item")) {
      const std::string what = "event_config." + key;
      if (key == "name") {
        APMPBSetString(config.get(), APMPBEventConfigSlot::kName, textOf(value, what));
      } else if (key == "blocklisted") {
        APMPBSetBool(config.get(), APMPBEventConfigSlot::kBlocklisted, boolOf(value, what));
      } else if (key == "conversion") {
        APMPBSetBool(config.get(), APMPBEventConfigSlot::kCustomConversion, boolOf(value, what));
      } else if (key == "sampling_rate") {
        APMPBSetInt32(config.get(), APMPBEventConfigSlot::kSamplingRate, static_cast<int32_t>(integerOf(value, what)));
      } else {
        throw BadNotation{"event_config has no member \"" + key + "\""};
      }
    }
    items.append(APMPBObjectValue(config));
  }
  return items;
}

void fillConfig(APMPBMeasurementConfig& config, const platform::Dictionary& notation) {
  for (const auto& [key, value] : notation) {
    if (key == "version") {
      APMPBSetInt64(&config, APMPBMeasurementConfigSlot::kVersion, integerOf(value, key));
    } else if (key == "app_id") {
      APMPBSetString(&config, APMPBMeasurementConfigSlot::kAppID, textOf(value, key));
    } else if (key == "settings") {
      platform::Array items;
      for (const auto& [name, text] : objectOf(value, key)) {
        auto setting = APMPBSetting::initWithMessageInfo(nullptr);
        APMPBSetString(setting.get(), APMPBSettingSlot::kName, name);
        APMPBSetString(setting.get(), APMPBSettingSlot::kValue, textOf(text, "settings." + name));
        items.append(APMPBObjectValue(setting));
      }
      APMPBSetArray(&config, APMPBMeasurementConfigSlot::kSettings, items);
    } else if (key == "event_config") {
      APMPBSetArray(&config, APMPBMeasurementConfigSlot::kEventConfig, eventConfigs(value));
    } else if (key == "audiences") {
      platform::Array items;
      for (const platform::Value& item : arrayOf(value, key)) {
        auto audience = APMPBAudience::initWithMessageInfo(nullptr);
        fillNamed(*audience, item, "audience");
        items.append(APMPBObjectValue(audience));
      }
      APMPBSetArray(&config, APMPBMeasurementConfigSlot::kAudiences, items);
    } else if (key == "programs") {
      platform::Array items;
      for (const platform::Value& item : arrayOf(value, key)) {
        std::string reason;
        std::shared_ptr<APMPBProgram> program = programFromNotation(item, reason);
        if (!program) throw BadNotation{"programs: " + reason};
        items.append(APMPBObjectValue(program));
      }
      APMPBSetArray(&config, APMPBMeasurementConfigSlot::kDynamicEventEditing, items);
    } else if (key == "data_controls") {
      platform::Array items;
      for (const platform::Value& name : arrayOf(value, key)) {
        auto control = APMPBDataControl::initWithMessageInfo(nullptr);
        APMPBSetString(control.get(), APMPBDataControlSlot::kName, textOf(name, key));
        items.append(APMPBObjectValue(control));
      }
      APMPBSetArray(&config, APMPBMeasurementConfigSlot::kDataControls, items);
    } else if (key == "upload_subdomain") {
      APMPBSetString(&config, APMPBMeasurementConfigSlot::kUploadSubdomain, textOf(value, key));
    } else if (key == "consent") {
      APMPBSetMessage(&config, APMPBMeasurementConfigSlot::kConsentConfig, consentConfig(value).get());
    } else if (key == "experiment_ids") {
      platform::Array items;
      for (const platform::Value& id : arrayOf(value, key)) {
        const int64_t number = integerOf(id, key);
        if (number < 0 || number > UINT32_MAX) throw BadNotation{"experiment_ids holds " + std::to_string(number)};
        items.append(platform::Value(static_cast<uint32_t>(number)));
      }
      APMPBSetArray(&config, APMPBMeasurementConfigSlot::kExperimentIDs, items);
    } else {
      throw BadNotation{"the configuration has no member \"" + key + "\""};
    }
  }
}

}  // namespace

std::shared_ptr<APMPBMeasurementConfig> measurementConfigFromNotation(const platform::Value& notation,
                                                                      const std::string& defaultAppID,
                                                                      std::string& error) {
  try {
    auto config = APMPBMeasurementConfig::initWithMessageInfo(nullptr);
    APMPBSetString(config.get(), APMPBMeasurementConfigSlot::kAppID, defaultAppID);
    fillConfig(*config, objectOf(notation, "the configuration"));
    return config;
  } catch (const BadNotation& bad) {
    error = bad.reason;
    return nullptr;
  }
}

}  // namespace testkit

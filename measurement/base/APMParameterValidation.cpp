#include "measurement/base/APMParameterValidation.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMDebugNames.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMNameTables.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/text/Unicode.h"

namespace {

using platform::Dictionary;
using platform::Unicode;
using platform::Value;

constexpr int64_t kMaxNameLength = 40;
constexpr int64_t kMaxArrayItems = 200;


bool hasAny(const Dictionary& parameters, std::initializer_list<const char*> keys) {
  return std::any_of(keys.begin(), keys.end(), [&](const char* key) { return parameters.contains(key); });
}

// The length an error entry records: code points of a string, elements of an
// array, 0 for anything else.
int64_t recordedLength(const Value& value) {
  if (APMValuePtr typed = APMValue::fromObject(value)) {
    if (typed->isString()) return static_cast<int64_t>(Unicode::codePointCount(*typed->stringValue()));
    if (typed->isArray()) return static_cast<int64_t>(typed->arrayValue()->size());
    return 0;
  }
  if (const std::string* text = value.asString()) return static_cast<int64_t>(Unicode::codePointCount(*text));
  if (std::optional<platform::Array> array = value.asArray()) return static_cast<int64_t>(array->size());
  return 0;
}

}  // namespace

void APMSetErrorIfAbsent(Dictionary& parameters, int64_t code) {
  if (!parameters.contains("_err")) parameters.set("_err", APMValue::objectWithInt64(code));
}

void APMSetErrorEntry(Dictionary& parameters, int64_t code, const Value& name, int64_t maxLength, const Value& value) {
  if (hasAny(parameters, {"_ev", "_el", "_err"})) return;
  parameters.set("_err", APMValue::objectWithInt64(code));
  APMWriteErrorDetails(parameters, name, maxLength, value);
}

void APMWriteErrorDetails(Dictionary& parameters, const Value& name, int64_t maxLength, const Value& value) {
  if (hasAny(parameters, {"_ev", "_el"})) return;
  std::string text = name.isNull() ? "(nil)" : name.isString() ? *name.asString() : APMPBClassName(name);
  if (maxLength >= 0 && Unicode::codePointCount(text) > static_cast<size_t>(maxLength)) {
    text = Unicode::codePointPrefix(text, static_cast<size_t>(maxLength)) + "...";
  }
  parameters.set("_ev", APMValue::objectWithString(text));
  if (!value.isNull()) parameters.set("_el", APMValue::objectWithInt64(recordedLength(value)));
}

void APMSetArrayParameterError(Dictionary& parameters, int64_t failure, const Value& name, const Value& eventName) {
  switch (failure) {
    case kAPMValidationArrayOnNonEcommerceEvent:
      APMSetErrorEntry(parameters, 21, eventName, kMaxNameLength, Value());
      break;
    case kAPMValidationArrayNotNamedItems:
      APMSetErrorEntry(parameters, 20, name, kMaxNameLength, Value());
      break;
    case kAPMValidationArrayTooLong:
      APMSetErrorEntry(parameters, 17, name, kMaxNameLength, Value());
      break;
    case kAPMValidationNestedArray:
      APMSetErrorEntry(parameters, 22, name, kMaxNameLength, Value());
      break;
    default:
      break;
  }
}

bool APMValidateParameterName(const Value& name, bool isPublic, Dictionary& updates) {
  int64_t failure = 0;
  bool valid = !isPublic || APMDataTypeValidator::isValidPublicEventParameterName(name, &failure);
  if (valid) valid = APMDataTypeValidator::isValidInternalEventParameterName(name, &failure);
  if (valid) return true;
  if (!updates.contains("_err")) {
    const bool tooLong = name.isString() && Unicode::codePointCount(*name.asString()) > size_t(kMaxNameLength);
    APMSetErrorEntry(updates, failure == kAPMValidationReserved ? 14 : 3, name, kMaxNameLength,
                     tooLong ? name : Value());
  }
  return false;
}

APMValuePtr APMValidateArrayParameter(const platform::Array& array, const Value& name, const Value& eventName,
                                      Dictionary& updates, bool nested, bool isPublic, int64_t* failureCode) {
  int64_t failure = 0;
  APMDataTypeValidator::isValidArrayParamForEvent(eventName, name, static_cast<int64_t>(array.size()), nested,
                                                  &failure);
  if (failureCode != nullptr) *failureCode = failure;
  if (failure != 0 && failure != kAPMValidationArrayTooLong) return nullptr;
  const size_t count = std::min(array.size(), size_t(kMaxArrayItems));
  platform::Array kept;
  for (size_t index = 0; index < count; ++index) {
    const Value& element = array[index];
    if (!APMDataTypeValidator::isValidArrayParamItem(element)) {
      const std::string itemName = (name.isString() ? *name.asString() : APMPBClassName(name)) + "[" +
                                   std::to_string(index) + "]";
      APMSetErrorEntry(updates, 4, Value(itemName), kMaxNameLength, Value());
      continue;
    }
    std::optional<Dictionary> checked = APMValidateEventParameters(*element.asDictionary(), eventName, isPublic, true);
    if (checked) kept.append(Value(*checked));
  }
  return APMValue::initWithArray(Value(kept));
}

int32_t APMCountCustomParameters(const Dictionary& parameters, bool itemMode) {
  int32_t count = 0;
  for (const auto& [key, value] : parameters) {
    const Value name(key);
    if (!APMIsPublicName(name)) continue;
    if (itemMode && APMIsStandardItemParameterName(name)) continue;
    ++count;
  }
  return count;
}

void APMTrimCustomEventParameters(Dictionary& parameters, int64_t limit, bool itemMode) {
  int64_t count = APMCountCustomParameters(parameters, itemMode);
  if (count <= limit) return;
  std::vector<std::string> keys = parameters.keys();
  std::sort(keys.begin(), keys.end());
  for (auto key = keys.rbegin(); key != keys.rend() && count > limit; ++key) {
    const Value name(*key);
    if (!APMIsPublicName(name) || (itemMode && APMIsStandardItemParameterName(name))) continue;
    parameters.remove(*key);
    --count;
  }
}

bool APMCheckValueAndCurrency(Dictionary& parameters, bool requireValue) {
  if (!requireValue && !parameters.contains("value")) return true;
  int64_t code = 0;
  const char* subject = nullptr;
  if (!APMDataTypeValidator::isValidNumericValue(parameters.get("value"))) {
    code = 18;
    subject = "value";
  } else if (!APMDataTypeValidator::isValidCurrencyCode(parameters.get("currency"))) {
    APMEngineServices::monitor()->logWithLevel(3, 18014,
                                               "Value parameter discarded. You must also supply a 3-letter ISO_4217 "
                                               "currency code in the currency parameter.");
    code = 19;
    subject = "currency";
  }
  if (code == 0) return true;
  parameters.remove("value");
  APMSetErrorEntry(parameters, code, Value(subject), APMDataTypeValidator::maxInternalEventParameterValueLength(),
                   Value());
  return false;
}

std::optional<Dictionary> APMValidateEventParameters(const Dictionary& raw, const Value& eventName, bool isPublic,
                                                     bool itemMode) {
  if (raw.empty()) return std::nullopt;
  const std::string* name = eventName.asString();
  const bool internalEvent =
      name != nullptr && (APMEventNameMap().count(*name) != 0 || (!name->empty() && (*name)[0] == '_'));
  std::set<std::string> dropped;
  Dictionary updates;
  for (const auto& [key, rawValue] : raw) {
    const Value keyValue(key);
    if (!APMValidateParameterName(keyValue, isPublic, updates)) {
      dropped.insert(key);
      continue;
    }
    APMValuePtr value = APMValue::valueFromObject(rawValue, true);
    if (value == nullptr) {
      dropped.insert(key);
      APMEngineServices::monitor()->logWithLevel(
          3, 18015, "Event parameter value must be of type NSString, NSNumber or NSArray. Type",
          APMLogContext::object(APMPBClassName(rawValue)));
      continue;
    }
    const bool rawIsTyped = APMValue::fromObject(rawValue) != nullptr;
    Value valueObject = APMValue::toObject(value);
    int64_t failure = 0;
    bool valid = !isPublic || APMDataTypeValidator::isValidPublicEventParameterValue(valueObject, &failure);
    if (valid && key == "_ev" && value->isString()) {
      const std::string text = *value->stringValue();
      const int64_t limit = APMDataTypeValidator::maxInternalEventParameterValueLength();
      const auto length = static_cast<int64_t>(Unicode::codePointCount(text));
      const bool alreadyTrimmed = length == limit + 3 && text.size() >= 3 && text.compare(text.size() - 3, 3, "...") == 0;
      // "_ev" is itself an error entry: trimmed here, never dropped.
      if (length > limit && !alreadyTrimmed) APMWriteErrorDetails(updates, Value(text), limit, Value(text));
      if (!updates.contains("_ev") && !rawIsTyped) updates.set(key, valueObject);
      continue;
    }
    if (valid && internalEvent) valid = APMDataTypeValidator::isValidInternalEventParameterValue(valueObject, &failure);
    int64_t arrayFailure = 0;
    bool keep = true;
    if (!valid) {
      keep = false;
      if (failure == kAPMValidationTooLong && !updates.contains("_err")) {
        APMSetErrorEntry(updates, 4, keyValue, kMaxNameLength, valueObject);
      }
    } else if (value->isArray() && !rawIsTyped) {
      APMValuePtr checked = APMValidateArrayParameter(*value->arrayValue(), keyValue, eventName, updates, itemMode,
                                                      isPublic, &arrayFailure);
      if (checked == nullptr) {
        keep = false;
      } else {
        value = checked;
        valueObject = APMValue::toObject(value);
      }
    }
    if (value->isArray() && arrayFailure != 0) APMSetArrayParameterError(updates, arrayFailure, keyValue, eventName);
    if (!keep) {
      dropped.insert(key);
      continue;
    }
    if (!rawIsTyped) updates.set(key, valueObject);
  }
  if (dropped.size() == raw.size()) return updates;
  Dictionary result;
  if (dropped.empty() && updates.empty()) {
    for (const auto& [key, value] : raw) result.set(key, value);
  } else {
    for (const auto& [key, value] : raw) {
      if (dropped.count(key) == 0) result.set(key, value);
    }
    for (const auto& [key, value] : updates) result.set(key, value);
  }
  if (itemMode) {
    const int64_t limit = APMDataTypeValidator::maxItemScopedCustomParameters();
    if (APMCountCustomParameters(result, true) > limit) {
      APMTrimCustomEventParameters(result, limit, true);
      APMSetErrorIfAbsent(result, limit == 0 ? 23 : 28);
      APMEngineServices::monitor()->logWithLevel(0, 18016, "Item cannot contain custom parameters");
    }
  } else {
    const int64_t limit = APMDataTypeValidator::maxPublicEventParams();
    if (APMCountCustomParameters(result, false) > limit) {
      APMTrimCustomEventParameters(result, limit, false);
      APMSetErrorIfAbsent(result, 5);
      APMEngineServices::monitor()->logWithLevel(
          1, 18017, "Event cannot contain more than " + std::to_string(limit) + " parameters");
    }
  }
  return result;
}

bool APMContainsArrayValue(const Dictionary& parameters) {
  return std::any_of(parameters.begin(), parameters.end(), [](const auto& entry) { return entry.second.isArray(); });
}

std::optional<std::vector<std::string>> APMSortedValidParameterNames(const Dictionary& parameters, bool isPublic,
                                                                     Dictionary& updates) {
  if (parameters.empty()) return std::nullopt;
  std::vector<std::string> names = parameters.keys();
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return Unicode::compareLocalized(a, b, "en_US") < 0;
  });
  std::vector<std::string> kept;
  for (const std::string& name : names) {
    if (!APMValidateParameterName(Value(name), isPublic, updates)) continue;
    const Value& value = *parameters.find(name);
    if (!value.isNumeric() && !value.isString() && !value.isArray()) {
      APMEngineServices::monitor()->logWithLevel(
          1, 18005, "Invalid event parameter. Parameter must be a number, string or array. Param key, param value",
          APMDebugParameterName(Value(name)), value);
      APMSetErrorEntry(updates, 4, Value(name), kMaxNameLength, value);
    }
    kept.push_back(name);
  }
  return kept;
}

void APMLogErrorCodeEvent(int64_t code) {
  if (code == 0) return;
  APMEngineServices::logInternalEvent("auto", "_err", Dictionary{{"_err", Value(code)}});
}

void APMLogErrorEvent(int64_t code, const Value& name, int64_t maxLength, const Value& value) {
  if (code == 0) return;
  Dictionary parameters{{"_err", Value(code)}};
  const bool longString = value.isString() && Unicode::codePointCount(*value.asString()) > size_t(std::max<int64_t>(maxLength, 0));
  APMWriteErrorDetails(parameters, name, maxLength, code == 4 || code == 7 || longString ? value : Value());
  APMEngineServices::logInternalEvent("auto", "_err", parameters);
}

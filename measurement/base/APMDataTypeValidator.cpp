#include "measurement/base/APMDataTypeValidator.h"

#include <algorithm>
#include <array>
#include <optional>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMNameTables.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMValue.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/text/Unicode.h"

namespace {

using platform::Unicode;
using platform::Value;

constexpr int64_t kMaxEventNameLength = 40;
constexpr int64_t kMaxParameterNameLength = 40;
constexpr int64_t kMaxOriginLength = 32;
constexpr int64_t kMaxUserPropertyNameLength = 24;
constexpr int64_t kMaxUserPropertyValueLength = 36;
constexpr int64_t kMaxArrayItems = 200;
constexpr std::string_view kForwardedSuffix = "+ztm";

void report(int64_t level, int64_t code, const std::string& message) {
  APMEngineServices::monitor()->logWithLevel(level, code, message);
}

void report(int64_t level, int64_t code, const std::string& message, const APMLogContext& context) {
  APMEngineServices::monitor()->logWithLevel(level, code, message, context);
}

bool fail(int64_t* failureCode, int64_t code) {
  if (failureCode != nullptr) *failureCode = code;
  return false;
}

bool pass(int64_t* failureCode) {
  if (failureCode != nullptr) *failureCode = kAPMValidationValid;
  return true;
}

bool isValueSubject(int64_t type) { return type == kAPMSubjectEventParameterValue || type == kAPMSubjectUserPropertyValue; }

bool isNameCharacter(char32_t c) { return c == U'_' || Unicode::isLetter(c) || Unicode::isDecimalDigit(c); }

}  // namespace

std::string APMDataTypeValidator::subjectName(int64_t type) {
  static const std::array<const char*, 10> kNames = {
      "Event name",         "Event origin",        "Event parameter name",
      "Event parameter value", "User property name", "User property value",
      "Screen parameter value", "Conditional user property origin", "Conditional user property name",
      "Conditional user property value"};
  if (type < 0 || type >= int64_t(kNames.size())) return "Object";
  return kNames[static_cast<size_t>(type)];
}

bool APMDataTypeValidator::isValidString(const Value& object, int64_t minLength, int64_t maxLength, int64_t type,
                                         int64_t* failureCode) {
  const std::string subject = subjectName(type);
  const int64_t level = isValueSubject(type) ? 3 : 0;
  if (object.isNull()) {
    report(level, 13001, subject + " is required and can't be nil");
    return fail(failureCode, kAPMValidationMissing);
  }
  const std::string* text = object.asString();
  if (text == nullptr) {
    report(level, 13000, subject + " must be of type NSString", object);
    return fail(failureCode, kAPMValidationWrongType);
  }
  if (Value::utf16Length(*text) == 0 && minLength > 0) {
    if (!isValueSubject(type)) report(level, 13001, subject + " is required and can't be empty");
    return fail(failureCode, kAPMValidationMissing);
  }
  const auto length = static_cast<int64_t>(Unicode::codePointCount(*text));
  if (length > maxLength) {
    report(level, 13000, subject + " is too long. The maximum supported length is " + std::to_string(maxLength), object);
    return fail(failureCode, kAPMValidationTooLong);
  }
  if (length < minLength) {
    report(level, 13000, subject + " is too short. The minimum supported length is " + std::to_string(minLength),
           object);
    return fail(failureCode, kAPMValidationTooShort);
  }
  return pass(failureCode);
}

bool APMDataTypeValidator::isValidInternalName(const Value& name, int64_t maxLength, int64_t type,
                                               int64_t* failureCode) {
  if (!isValidString(name, 1, maxLength, type, failureCode)) return false;
  const std::u32string points = Unicode::toUtf32(*name.asString());
  if (!std::all_of(points.begin(), points.end(), isNameCharacter)) {
    report(0, 13002, subjectName(type) + " must contain only letters, numbers, or underscores", name);
    return fail(failureCode, kAPMValidationInvalidCharacter);
  }
  return pass(failureCode);
}

bool APMDataTypeValidator::isValidPublicName(const Value& name, int64_t maxLength, int64_t type, int64_t* failureCode) {
  if (!isValidInternalName(name, maxLength, type, failureCode)) return false;
  const std::u32string points = Unicode::toUtf32(*name.asString());
  if (points.empty() || !Unicode::isLetter(points.front())) {
    report(0, 13003, subjectName(type) + " must start with a letter", name);
    return fail(failureCode, kAPMValidationInvalidCharacter);
  }
  return pass(failureCode);
}

bool APMDataTypeValidator::isValidValue(const Value& value, int64_t minLength, int64_t maxLength, int64_t type,
                                        int64_t* failureCode) {
  if (value.isNull()) {
    report(3, 13004, subjectName(type) + " cannot be nil");
    return fail(failureCode, kAPMValidationMissing);
  }
  APMValuePtr typed = APMValue::fromObject(value);
  if (typed == nullptr) {
    report(3, 13005, subjectName(type) + " must be a APMValue instance. value", APMPBClassName(value));
    return fail(failureCode, kAPMValidationWrongType);
  }
  if (typed->isString()) return isValidString(Value(*typed->stringValue()), minLength, maxLength, type, failureCode);
  return pass(failureCode);
}

bool APMDataTypeValidator::hasReservedPrefixes(const Value& name) {
  const std::string* text = name.asString();
  if (text == nullptr) return false;
  return text->starts_with("ririvudu_") || text->starts_with("zoruvu_") || text->starts_with("ga_");
}

bool APMDataTypeValidator::isValidPublicEventName(const Value& name, int64_t* failureCode) {
  if (!isValidPublicName(name, kMaxEventNameLength, kAPMSubjectEventName, failureCode)) return false;
  const std::string& text = *name.asString();
  if (text == "screen_view") return pass(failureCode);
  if (APMEventNameMap().count(text) != 0 && APMAllowedPublicEventNameMap().count(text) == 0) {
    report(0, 13006, "Event name is reserved. Ignoring event", name);
    return fail(failureCode, kAPMValidationReserved);
  }
  if (hasReservedPrefixes(name)) {
    report(0, 13007, "Event name uses reserved prefix. Ignoring event", name);
    return fail(failureCode, kAPMValidationReserved);
  }
  return pass(failureCode);
}

bool APMDataTypeValidator::isValidInternalEventName(const Value& name, int64_t* failureCode) {
  return isValidInternalName(name, kMaxEventNameLength, kAPMSubjectEventName, failureCode);
}

bool APMDataTypeValidator::isValidPublicEventParameterName(const Value& name, int64_t* failureCode) {
  if (!isValidPublicName(name, kMaxParameterNameLength, kAPMSubjectEventParameterName, failureCode)) return false;
  if (hasReservedPrefixes(name)) {
    report(0, 13008, "Parameter name uses reserved prefix. Ignoring parameter", name);
    return fail(failureCode, kAPMValidationReserved);
  }
  return pass(failureCode);
}

bool APMDataTypeValidator::isValidInternalEventParameterName(const Value& name, int64_t* failureCode) {
  return isValidInternalName(name, kMaxParameterNameLength, kAPMSubjectEventParameterName, failureCode);
}

bool APMDataTypeValidator::isValidPublicEventParameterValue(const Value& value, int64_t* failureCode) {
  return isValidValue(value, 0, maxPublicEventParameterValueLength(), kAPMSubjectEventParameterValue, failureCode);
}

bool APMDataTypeValidator::isValidInternalEventParameterValue(const Value& value, int64_t* failureCode) {
  return isValidValue(value, 0, maxInternalEventParameterValueLength(), kAPMSubjectEventParameterValue, failureCode);
}

bool APMDataTypeValidator::isValidInternalEventOrigin(const Value& origin, int64_t* failureCode) {
  return isValidInternalName(origin, kMaxOriginLength, kAPMSubjectEventOrigin, failureCode);
}

bool APMDataTypeValidator::isValidForwardedEventOrigin(const Value& origin, int64_t* failureCode) {
  const std::string* text = origin.asString();
  if (text == nullptr || text->empty()) return fail(failureCode, kAPMValidationMissing);
  if (text->ends_with(kForwardedSuffix)) {
    const Value stem(text->substr(0, text->size() - kForwardedSuffix.size()));
    return isValidInternalName(stem, kMaxOriginLength, kAPMSubjectEventOrigin, failureCode);
  }
  return fail(failureCode, kAPMValidationNotForwarded);
}

bool APMDataTypeValidator::isValidPublicUserAttributeName(const Value& name, int64_t* failureCode) {
  if (!isValidPublicName(name, kMaxUserPropertyNameLength, kAPMSubjectUserPropertyName, failureCode)) return false;
  if (APMReservedUserPropertyNames().count(*name.asString()) != 0) {
    report(0, 13009, "User property name is reserved. Ignoring user property", name);
    return fail(failureCode, kAPMValidationReserved);
  }
  if (hasReservedPrefixes(name)) {
    report(0, 13010, "User property name uses reserved prefix. Ignoring user property", name);
    return fail(failureCode, kAPMValidationReserved);
  }
  return pass(failureCode);
}

bool APMDataTypeValidator::isValidPublicUserAttributeValue(const Value& value, int64_t* failureCode) {
  return isValidValue(value, 1, kMaxUserPropertyValueLength, kAPMSubjectUserPropertyValue, failureCode);
}

bool APMDataTypeValidator::isValidInternalUserAttributeName(const Value& name, int64_t* failureCode) {
  return isValidInternalName(name, kMaxUserPropertyNameLength, kAPMSubjectUserPropertyName, failureCode);
}

bool APMDataTypeValidator::isValidInternalUserAttributeValue(const Value& value, const Value& name,
                                                             int64_t* failureCode) {
  int64_t maxLength = kMaxUserPropertyValueLength;
  if (const std::string* text = name.asString()) {
    if (*text == "_psmvalue" || *text == "_psmvalue_gads") {
      maxLength = 512;
    } else if (*text == "_gbraid" || *text == "_id") {
      maxLength = 256;
    }
  }
  return isValidValue(value, 1, maxLength, kAPMSubjectUserPropertyValue, failureCode);
}

bool APMDataTypeValidator::isValidScreenParameterValue(const Value& value, int64_t* failureCode) {
  return isValidString(value, 1, maxPublicEventParameterValueLength(), kAPMSubjectScreenParameterValue, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyOrigin(const Value& origin, int64_t* failureCode) {
  return isValidInternalName(origin, kMaxOriginLength, kAPMSubjectConditionalUserPropertyOrigin, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyName(const Value& name, int64_t* failureCode) {
  return isValidInternalName(name, kMaxUserPropertyNameLength, kAPMSubjectConditionalUserPropertyName, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyValue(const Value& value, int64_t* failureCode) {
  return isValidValue(value, 1, kMaxUserPropertyValueLength, kAPMSubjectConditionalUserPropertyValue, failureCode);
}

namespace {

// The value rule's first two checks (subject 3); the typed value or nullptr.
APMValuePtr typedParameterValue(const Value& value, int64_t* failureCode) {
  if (value.isNull()) {
    report(3, 13004, APMDataTypeValidator::subjectName(kAPMSubjectEventParameterValue) + " cannot be nil");
    fail(failureCode, kAPMValidationMissing);
    return nullptr;
  }
  APMValuePtr typed = APMValue::fromObject(value);
  if (typed == nullptr) {
    report(3, 13005,
           APMDataTypeValidator::subjectName(kAPMSubjectEventParameterValue) + " must be a APMValue instance. value",
           APMPBClassName(value));
    fail(failureCode, kAPMValidationWrongType);
  }
  return typed;
}

}  // namespace

bool APMDataTypeValidator::isValidNumericValue(const Value& value, int64_t* failureCode) {
  APMValuePtr typed = typedParameterValue(value, failureCode);
  if (typed == nullptr) return false;
  if (typed->isInt64() || typed->isDouble()) return pass(failureCode);
  report(3, 13011, subjectName(kAPMSubjectEventParameterValue) + " must be specified with a numeric type. value",
         Value(typed->description()));
  return fail(failureCode, kAPMValidationNotNumeric);
}

bool APMDataTypeValidator::isValidCurrencyCode(const Value& value, int64_t* failureCode) {
  APMValuePtr typed = typedParameterValue(value, failureCode);
  if (typed == nullptr) return false;
  if (typed->isString()) {
    const std::u32string points = Unicode::toUtf32(*typed->stringValue());
    if (points.size() == 3 && std::all_of(points.begin(), points.end(), Unicode::isLetter)) return pass(failureCode);
  }
  report(3, 13012, subjectName(kAPMSubjectEventParameterValue) + " must contain a 3-letter ISO_4217 currency code. value",
         APMLogContext::object(typed->description()));
  return fail(failureCode, kAPMValidationInvalidCurrency);
}

bool APMDataTypeValidator::isValidArrayParamForEvent(const Value& eventName, const Value& paramName,
                                                     int64_t arrayCount, bool isNestedArrayParam,
                                                     int64_t* failureCode) {
  if (isNestedArrayParam) {
    report(0, 13013, "Nested array parameters are not allowed. Name", paramName);
    return fail(failureCode, kAPMValidationNestedArray);
  }
  if (!APMIsEcommerceEventName(eventName)) {
    report(0, 13013, "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name",
           eventName);
    return fail(failureCode, kAPMValidationArrayOnNonEcommerceEvent);
  }
  const std::string* name = paramName.asString();
  if (name == nullptr || *name != "items") {
    report(0, 13013,
           "Event parameter name is an invalid ecommerce items. The name of array parameters for ecommerce should be "
           "\"items\". Invalid parameter name",
           paramName);
    return fail(failureCode, kAPMValidationArrayNotNamedItems);
  }
  if (arrayCount > kMaxArrayItems) {
    report(0, 13013,
           "Array parameter has too many items. The maximum number of supported items is " +
               std::to_string(kMaxArrayItems) + ". Invalid array size",
           Value(arrayCount));
    return fail(failureCode, kAPMValidationArrayTooLong);
  }
  return pass(failureCode);
}

bool APMDataTypeValidator::isValidArrayParamItem(const Value& item, int64_t* failureCode) {
  if (item.isDictionary()) return true;
  report(0, 13014, "Array param must be a dictionary. Parameters", item);
  return fail(failureCode, kAPMValidationArrayElementNotDictionary);
}

// The limits come from the settings the engine installed in the services
// seam (their defaults until then), read at every call.
int64_t APMDataTypeValidator::maxPublicEventParameterValueLength() {
  return APMEngineServices::remoteConfig()->maxPublicEventParameterValueLength();
}

int64_t APMDataTypeValidator::maxInternalEventParameterValueLength() {
  return APMEngineServices::remoteConfig()->maxInternalEventParameterValueLength();
}

int64_t APMDataTypeValidator::maxPublicEventParams() { return APMEngineServices::remoteConfig()->maxPublicEventParams(); }

int64_t APMDataTypeValidator::maxItemScopedCustomParameters() {
  return APMEngineServices::remoteConfig()->maxItemScopedCustomParameters();
}

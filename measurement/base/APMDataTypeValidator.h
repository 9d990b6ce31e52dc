// APMDataTypeValidator: the single checks on event names and origins,
// parameter names and values, user properties, screen parameters and
// conditional user properties.
//
// Every check answers YES or NO and writes a failure code through the optional
// out-parameter (0 when valid; see APMValidationFailure), logging what fails
// through the shared measurement monitor with the subject's name in front
// ("Event name is too long. ..."). Names are platform::Values so that a
// missing (null) or non-string name is checked too; values are APMValues
// carried in platform::Values (APMValue::toObject).
//
// Lengths are UTF-32 code points; emptiness is the string's UTF-16 length.
// Letters are the Unicode letters (general category L: no combining marks);
// names are letters, decimal digits and "_". The settings' length limits are
// read at every call.
//
// Thread safety: stateless apart from tables built once; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/values/Value.h"

// What a check names (the first words of its messages).
enum APMValidationSubject : int64_t {
  kAPMSubjectEventName = 0,
  kAPMSubjectEventOrigin = 1,
  kAPMSubjectEventParameterName = 2,
  kAPMSubjectEventParameterValue = 3,
  kAPMSubjectUserPropertyName = 4,
  kAPMSubjectUserPropertyValue = 5,
  kAPMSubjectScreenParameterValue = 6,
  kAPMSubjectConditionalUserPropertyOrigin = 7,
  kAPMSubjectConditionalUserPropertyName = 8,
  kAPMSubjectConditionalUserPropertyValue = 9,
};

enum APMValidationFailure : int64_t {
  kAPMValidationValid = 0,
  kAPMValidationMissing = 1,
  kAPMValidationTooLong = 2,
  kAPMValidationInvalidCharacter = 3,
  kAPMValidationReserved = 4,
  kAPMValidationWrongType = 5,
  kAPMValidationNotForwarded = 6,
  kAPMValidationTooShort = 7,
  kAPMValidationNotNumeric = 8,
  kAPMValidationInvalidCurrency = 9,
  kAPMValidationArrayOnNonEcommerceEvent = 10,
  kAPMValidationArrayNotNamedItems = 11,
  kAPMValidationArrayTooLong = 12,
  kAPMValidationNestedArray = 13,
  kAPMValidationArrayElementNotDictionary = 14,
};

class APMDataTypeValidator {
 public:
  using Value = platform::Value;

  // "Event name", ..., "Object" for an unknown index.
  static std::string subjectName(int64_t type);

  static bool isValidString(const Value& object, int64_t minLength, int64_t maxLength, int64_t type,
                            int64_t* failureCode = nullptr);
  static bool isValidInternalName(const Value& name, int64_t maxLength, int64_t type, int64_t* failureCode = nullptr);
  static bool isValidPublicName(const Value& name, int64_t maxLength, int64_t type, int64_t* failureCode = nullptr);
  static bool isValidValue(const Value& value, int64_t minLength, int64_t maxLength, int64_t type,
                           int64_t* failureCode = nullptr);
  static bool hasReservedPrefixes(const Value& name);

  static bool isValidPublicEventName(const Value& name, int64_t* failureCode = nullptr);
  static bool isValidInternalEventName(const Value& name, int64_t* failureCode = nullptr);
  static bool isValidPublicEventParameterName(const Value& name, int64_t* failureCode = nullptr);
  static bool isValidInternalEventParameterName(const Value& name, int64_t* failureCode = nullptr);
  static bool isValidPublicEventParameterValue(const Value& value, int64_t* failureCode = nullptr);
  static bool isValidInternalEventParameterValue(const Value& value, int64_t* failureCode = nullptr);
  static bool isValidInternalEventOrigin(const Value& origin, int64_t* failureCode = nullptr);
  static bool isValidForwardedEventOrigin(const Value& origin, int64_t* failureCode = nullptr);
  static bool isValidPublicUserAttributeName(const Value& name, int64_t* failureCode = nullptr);
  static bool isValidPublicUserAttributeValue(const Value& value, int64_t* failureCode = nullptr);
  static bool isValidInternalUserAttributeName(const Value& name, int64_t* failureCode = nullptr);
  static bool isValidInternalUserAttributeValue(const Value& value, const Value& name, int64_t* failureCode = nullptr);
  static bool isValidScreenParameterValue(const Value& value, int64_t* failureCode = nullptr);
  static bool isValidConditionalUserPropertyOrigin(const Value& origin, int64_t* failureCode = nullptr);
  static bool isValidConditionalUserPropertyName(const Value& name, int64_t* failureCode = nullptr);
  static bool isValidConditionalUserPropertyValue(const Value& value, int64_t* failureCode = nullptr);
  static bool isValidNumericValue(const Value& value, int64_t* failureCode = nullptr);
  static bool isValidCurrencyCode(const Value& value, int64_t* failureCode = nullptr);
  static bool isValidArrayParamForEvent(const Value& eventName, const Value& paramName, int64_t arrayCount,
                                        bool isNestedArrayParam, int64_t* failureCode = nullptr);
  // Writes the failure code only on failure.
  static bool isValidArrayParamItem(const Value& item, int64_t* failureCode = nullptr);

  // The limits of the settings in APMEngineServices::remoteConfig(), read at
  // every call.
  static int64_t maxPublicEventParameterValueLength();
  static int64_t maxInternalEventParameterValueLength();
  static int64_t maxPublicEventParams();
  static int64_t maxItemScopedCustomParameters();
};

// The validator's single checks at their limits, with their failure codes and
// monitor reports.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMValue.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"

namespace {

using measurementtest::MeasurementTestEnvironment;
using platform::Value;
using V = APMDataTypeValidator;

std::string repeat(const std::string& piece, size_t count) {
  std::string text;
  for (size_t index = 0; index < count; ++index) text += piece;
  return text;
}

Value apm(const std::string& text) { return APMValue::objectWithString(text); }

struct Case {
  const char* name;
  std::function<bool(int64_t*)> check;
  int64_t failure;
  const char* report;  // code and message fragment, or "" for no report
};

void runCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MeasurementTestEnvironment env;
    int64_t failure = -1;
    EXPECT_EQ(c.check(&failure), c.failure == 0);
    EXPECT_EQ(failure, c.failure);
    const std::vector<std::string> texts = env.texts();
    if (std::string(c.report).empty()) {
      EXPECT_TRUE(texts.empty()) << (texts.empty() ? "" : texts.front());
    } else {
      ASSERT_EQ(texts.size(), 1u);
      EXPECT_NE(texts.front().find(c.report), std::string::npos) << texts.front();
    }
  }
}

TEST(APMDataTypeValidator, EventNames) {
  runCases({
      {"40 letters", [](int64_t* f) { return V::isValidPublicEventName(Value(repeat("a", 40)), f); }, 0, ""},
      {"41 letters", [](int64_t* f) { return V::isValidPublicEventName(Value(repeat("a", 41)), f); }, 2,
       "[I-ACS013000] Event name is too long. The maximum supported length is 40"},
      {"non-Latin letters count by code point", [](int64_t* f) { return V::isValidPublicEventName(Value(repeat("\xe6\x97\xa5", 40)), f); }, 0, ""},
      {"a first digit", [](int64_t* f) { return V::isValidPublicEventName(Value("1abc"), f); }, 3,
       "[I-ACS013003] Event name must start with a letter"},
      {"a combining mark", [](int64_t* f) { return V::isValidPublicEventName(Value("e\xcc\x81t\xc3\xa9"), f); }, 3,
       "[I-ACS013002] Event name must contain only letters, numbers, or underscores"},
      {"a dash", [](int64_t* f) { return V::isValidInternalEventName(Value("a-b"), f); }, 3, "[I-ACS013002]"},
      {"internal names may start with _", [](int64_t* f) { return V::isValidInternalEventName(Value("_vs"), f); }, 0, ""},
      {"public names may not", [](int64_t* f) { return V::isValidPublicEventName(Value("_vs"), f); }, 3, "[I-ACS013003]"},
      {"empty", [](int64_t* f) { return V::isValidPublicEventName(Value(""), f); }, 1,
       "[I-ACS013001] Event name is required and can't be empty"},
      {"nil", [](int64_t* f) { return V::isValidPublicEventName(Value(), f); }, 1,
       "[I-ACS013001] Event name is required and can't be nil"},
      {"not a string", [](int64_t* f) { return V::isValidPublicEventName(Value(5), f); }, 5,
       "[I-ACS013000] Event name must be of type NSString"},
      {"reserved", [](int64_t* f) { return V::isValidPublicEventName(Value("first_open"), f); }, 4,
       "[I-ACS013006] Event name is reserved. Ignoring event"},
      {"screen_view passes", [](int64_t* f) { return V::isValidPublicEventName(Value("screen_view"), f); }, 0, ""},
      {"allowed reserved", [](int64_t* f) { return V::isValidPublicEventName(Value("in_app_purchase"), f); }, 0, ""},
      {"reserved prefix", [](int64_t* f) { return V::isValidPublicEventName(Value("ga_x"), f); }, 4,
       "[I-ACS013007] Event name uses reserved prefix. Ignoring event"},
  });
}

TEST(APMDataTypeValidator, ParameterNamesAndValues) {
  runCases({
      {"public parameter prefix", [](int64_t* f) { return V::isValidPublicEventParameterName(Value("zoruvu_x"), f); }, 4,
       "[I-ACS013008] Parameter name uses reserved prefix. Ignoring parameter"},
      {"internal parameter name", [](int64_t* f) { return V::isValidInternalEventParameterName(Value("ga_x"), f); }, 0, ""},
      {"parameter name 41", [](int64_t* f) { return V::isValidInternalEventParameterName(Value(repeat("p", 41)), f); }, 2,
       "Event parameter name is too long. The maximum supported length is 40"},
      {"public value 500", [](int64_t* f) { return V::isValidPublicEventParameterValue(apm(repeat("v", 500)), f); }, 0, ""},
      {"public value 501", [](int64_t* f) { return V::isValidPublicEventParameterValue(apm(repeat("v", 501)), f); }, 2,
       "Event parameter value is too long. The maximum supported length is 500"},
      {"empty value passes", [](int64_t* f) { return V::isValidPublicEventParameterValue(apm(""), f); }, 0, ""},
      {"numbers pass", [](int64_t* f) { return V::isValidPublicEventParameterValue(APMValue::objectWithInt64(1), f); }, 0, ""},
      {"nil value", [](int64_t* f) { return V::isValidPublicEventParameterValue(Value(), f); }, 1,
       "[I-ACS013004] Event parameter value cannot be nil"},
      {"raw value", [](int64_t* f) { return V::isValidPublicEventParameterValue(Value("x"), f); }, 5,
       "[I-ACS013005] Event parameter value must be a APMValue instance. value"},
      {"numeric", [](int64_t* f) { return V::isValidNumericValue(APMValue::objectWithDouble(9.99), f); }, 0, ""},
      {"not numeric", [](int64_t* f) { return V::isValidNumericValue(apm("9.99"), f); }, 8,
       "[I-ACS013011] Event parameter value must be specified with a numeric type. value"},
      {"currency", [](int64_t* f) { return V::isValidCurrencyCode(apm("USD"), f); }, 0, ""},
      {"currency of two letters", [](int64_t* f) { return V::isValidCurrencyCode(apm("us"), f); }, 9,
       "[I-ACS013012] Event parameter value must contain a 3-letter ISO_4217 currency code. value"},
      {"currency with a digit", [](int64_t* f) { return V::isValidCurrencyCode(apm("US1"), f); }, 9, "[I-ACS013012]"},
      {"screen value", [](int64_t* f) { return V::isValidScreenParameterValue(Value("Home"), f); }, 0, ""},
      {"screen value as APMValue", [](int64_t* f) { return V::isValidScreenParameterValue(apm("Home"), f); }, 5,
       "Screen parameter value must be of type NSString"},
  });
}

TEST(APMDataTypeValidator, UserPropertiesOriginsAndConditionalProperties) {
  runCases({
      {"property name 24", [](int64_t* f) { return V::isValidPublicUserAttributeName(Value(repeat("u", 24)), f); }, 0, ""},
      {"property name 25", [](int64_t* f) { return V::isValidPublicUserAttributeName(Value(repeat("u", 25)), f); }, 2,
       "User property name is too long. The maximum supported length is 24"},
      {"reserved property", [](int64_t* f) { return V::isValidPublicUserAttributeName(Value("first_open_time"), f); }, 4,
       "[I-ACS013009] User property name is reserved. Ignoring user property"},
      {"property prefix", [](int64_t* f) { return V::isValidPublicUserAttributeName(Value("ririvudu_x"), f); }, 4,
       "[I-ACS013010] User property name uses reserved prefix. Ignoring user property"},
      {"property value 36", [](int64_t* f) { return V::isValidPublicUserAttributeValue(apm(repeat("v", 36)), f); }, 0, ""},
      {"property value 37", [](int64_t* f) { return V::isValidPublicUserAttributeValue(apm(repeat("v", 37)), f); }, 2,
       "User property value is too long. The maximum supported length is 36"},
      {"empty property value", [](int64_t* f) { return V::isValidPublicUserAttributeValue(apm(""), f); }, 1, ""},
      {"_id 256", [](int64_t* f) { return V::isValidInternalUserAttributeValue(apm(repeat("v", 256)), Value("_id"), f); }, 0, ""},
      {"_id 257", [](int64_t* f) { return V::isValidInternalUserAttributeValue(apm(repeat("v", 257)), Value("_id"), f); }, 2,
       "maximum supported length is 256"},
      {"_gbraid 257", [](int64_t* f) { return V::isValidInternalUserAttributeValue(apm(repeat("v", 257)), Value("_gbraid"), f); }, 2,
       "maximum supported length is 256"},
      {"_psmvalue 512", [](int64_t* f) { return V::isValidInternalUserAttributeValue(apm(repeat("v", 512)), Value("_psmvalue"), f); }, 0, ""},
      {"_psmvalue 513", [](int64_t* f) { return V::isValidInternalUserAttributeValue(apm(repeat("v", 513)), Value("_psmvalue"), f); }, 2,
       "maximum supported length is 512"},
      {"other internal 37", [](int64_t* f) { return V::isValidInternalUserAttributeValue(apm(repeat("v", 37)), Value("_x"), f); }, 2,
       "maximum supported length is 36"},
      {"origin 32", [](int64_t* f) { return V::isValidInternalEventOrigin(Value(repeat("o", 32)), f); }, 0, ""},
      {"origin 33", [](int64_t* f) { return V::isValidInternalEventOrigin(Value(repeat("o", 33)), f); }, 2,
       "Event origin is too long. The maximum supported length is 32"},
      {"forwarded origin", [](int64_t* f) { return V::isValidForwardedEventOrigin(Value("app+ztm"), f); }, 0, ""},
      {"forwarded origin with a dash", [](int64_t* f) { return V::isValidForwardedEventOrigin(Value("a-p+ztm"), f); }, 3,
       "Event origin must contain only letters, numbers, or underscores"},
      {"plain origin", [](int64_t* f) { return V::isValidForwardedEventOrigin(Value("app"), f); }, 6, ""},
      {"empty origin", [](int64_t* f) { return V::isValidForwardedEventOrigin(Value(""), f); }, 1, ""},
      {"conditional origin", [](int64_t* f) { return V::isValidConditionalUserPropertyOrigin(Value(repeat("o", 33)), f); }, 2,
       "Conditional user property origin is too long"},
      {"conditional name", [](int64_t* f) { return V::isValidConditionalUserPropertyName(Value(repeat("n", 25)), f); }, 2,
       "Conditional user property name is too long"},
      {"conditional value", [](int64_t* f) { return V::isValidConditionalUserPropertyValue(apm(repeat("v", 37)), f); }, 2,
       "Conditional user property value is too long"},
  });
}

TEST(APMDataTypeValidator, ArrayParameters) {
  runCases({
      {"items on purchase", [](int64_t* f) { return V::isValidArrayParamForEvent(Value("purchase"), Value("items"), 200, false, f); }, 0, ""},
      {"nested", [](int64_t* f) { return V::isValidArrayParamForEvent(Value("purchase"), Value("items"), 1, true, f); }, 13,
       "[I-ACS013013] Nested array parameters are not allowed. Name"},
      {"custom event", [](int64_t* f) { return V::isValidArrayParamForEvent(Value("custom"), Value("items"), 1, false, f); }, 10,
       "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name"},
      {"not items", [](int64_t* f) { return V::isValidArrayParamForEvent(Value("purchase"), Value("things"), 1, false, f); }, 11,
       "Event parameter name is an invalid ecommerce items. The name of array parameters for ecommerce should be "
       "\"items\". Invalid parameter name"},
      {"201 items", [](int64_t* f) { return V::isValidArrayParamForEvent(Value("purchase"), Value("items"), 201, false, f); }, 12,
       "Array parameter has too many items. The maximum number of supported items is 200. Invalid array size"},
      {"element not a dictionary", [](int64_t* f) { return V::isValidArrayParamItem(Value("x"), f); }, 14,
       "[I-ACS013014] Array param must be a dictionary. Parameters"},
  });
  // The element check writes its code only on failure.
  int64_t failure = -1;
  EXPECT_TRUE(V::isValidArrayParamItem(Value::dict({}), &failure));
  EXPECT_EQ(failure, -1);
  EXPECT_TRUE(V::hasReservedPrefixes(Value("ga_")));
  EXPECT_FALSE(V::hasReservedPrefixes(Value("gax")));
  EXPECT_EQ(V::subjectName(10), "Object");
}

}  // namespace

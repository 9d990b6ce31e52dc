#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPControlValue.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPNullValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(APMPValue, NumberText) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {kNaN, "NaN"},          {kInfinity, "Infinity"},    {-kInfinity, "-Infinity"}, {0.0, "0"},
      {-0.0, "0"},            {0.1, "0.1"},               {0.5, "0.5"},              {-2, "-2"},
      {1234567, "1234567"},   {1000000, "1000000"},       {0.000001, "0.000001"},    {0.0000009, "9e-7"},
      {1.5e-7, "1.5e-7"},     {1e21, "1e+21"},            {1.25e22, "1.25e+22"},     {123456789012345680000.0, "123456789012345680000"},
      {1.0 / 3, "0.3333333333333333"}, {-1e-7, "-1e-7"}, {5e-324, "5e-324"},        {1.7976931348623157e308, "1.7976931348623157e+308"},
  };
  for (const auto& c : cases) EXPECT_EQ(APMPNumberValue::stringFromDouble(c.value), c.text) << c.value;
}

TEST(APMPValue, TextToNumber) {
  const struct {
    std::u16string text;
    double number;
  } cases[] = {
      {u"", 0},           {u" \n\t", 0},      {u" 12 ", 12},           {u"12abc", kNaN},       {u"-3.5", -3.5},
      {u"+4", 4},         {u".5", 0.5},       {u"5.", 5},              {u"1e3", 1000},         {u"1E-2", 0.01},
      {u"1e", kNaN},      {u"Infinity", kInfinity}, {u"-Infinity", -kInfinity}, {u" NaN ", kNaN}, {u"inf", kNaN},
      {u"0x10", kNaN},    {u"1e400", kInfinity},    {u"-1e400", -kInfinity},    {u"1e-400", 0},  {u"--1", kNaN},
      {u"1 2", kNaN},     {u"\u00a012\u2028", 12},
  };
  for (const auto& c : cases) {
    const double got = APMPStringValue::doubleFromString(c.text);
    if (std::isnan(c.number)) {
      EXPECT_TRUE(std::isnan(got)) << std::string(c.text.begin(), c.text.end());
    } else {
      EXPECT_EQ(got, c.number) << std::string(c.text.begin(), c.text.end());
    }
  }
  EXPECT_TRUE(std::signbit(APMPStringValue::doubleFromString(u"-0")));
}

// The three conversions of every kind.
TEST(APMPValue, ConversionsByKind) {
  auto array = std::make_shared<APMPArrayValue>(
      APMPValueList{APMPNumber(1), APMPNull(), APMPRuntimeValue::emptyValue(), APMPUndefined(), APMPNumber(2)});
  auto function = std::make_shared<APMPFunctionValue>(u"f", std::vector<std::u16string>{}, APMPValueList{},
                                                      std::make_shared<APMPScope>());
  const struct {
    const char* name;
    APMPValuePtr value;
    std::u16string text;
    double number;
    bool truth;
  } cases[] = {
      {"undefined", APMPUndefined(), u"undefined", kNaN, false},
      {"null", APMPNull(), u"null", 0, false},
      {"true", APMPBoolean(true), u"true", 1, true},
      {"false", APMPBoolean(false), u"false", 0, false},
      {"-0", APMPNumber(-0.0), u"0", -0.0, false},
      {"NaN", APMPNumber(kNaN), u"NaN", kNaN, false},
      {"2.5", APMPNumber(2.5), u"2.5", 2.5, true},
      {"empty string", APMPString(u""), u"", 0, false},
      {"numeric string", APMPString(u" 7 "), u" 7 ", 7, true},
      {"array", array, u"1,,,,2", kNaN, true},
      {"one-element array", std::make_shared<APMPArrayValue>(APMPValueList{APMPString(u"8")}), u"8", 8, true},
      {"empty array", std::make_shared<APMPArrayValue>(), u"", 0, true},
      {"map", std::make_shared<APMPMapValue>(), u"[object Object]", kNaN, true},
      {"function", function, u"f", kNaN, true},
  };
  for (const auto& c : cases) {
    APMPError error;
    EXPECT_EQ(c.value->stringValueOrError(error), c.text) << c.name;
    const double number = c.value->doubleValueOrError(error);
    if (std::isnan(c.number)) {
      EXPECT_TRUE(std::isnan(number)) << c.name;
    } else {
      EXPECT_EQ(number, c.number) << c.name;
    }
    EXPECT_EQ(c.value->booleanValueOrError(error), c.truth) << c.name;
    EXPECT_FALSE(error) << c.name;
  }

  // Statements, control values and the hole have no conversions.
  const APMPValuePtr internals[] = {std::make_shared<APMPStatementValue>(u"0", APMPValueList{}),
                                    APMPControlValue::breakValue(), APMPRuntimeValue::emptyValue()};
  for (const APMPValuePtr& value : internals) {
    APMPError text;
    EXPECT_EQ(value->stringValueOrError(text), u"");
    EXPECT_EQ(text.code(), kAPMPErrorNoStringValue);
    APMPError number;
    EXPECT_TRUE(std::isnan(value->doubleValueOrError(number)));
    EXPECT_EQ(number.code(), kAPMPErrorNoNumberValue);
    APMPError truth;
    EXPECT_FALSE(value->booleanValueOrError(truth));
    EXPECT_EQ(truth.code(), kAPMPErrorNoBooleanValue);
  }
  // An array holding one fails its text as a whole.
  APMPError error;
  EXPECT_EQ(std::make_shared<APMPArrayValue>(APMPValueList{APMPNumber(1), APMPControlValue::breakValue()})
                ->stringValueOrError(error),
            u"");
  EXPECT_EQ(error.code(), kAPMPErrorNoStringValue);
}

TEST(APMPValue, NumericConversions) {
  const struct {
    double value;
    int32_t int32;
  } cases[] = {
      {kNaN, 0},        {kInfinity, 0},         {-kInfinity, 0},     {5.9, 5},        {-5.9, -5},
      {4294967301.0, 5}, {-4294967301.0, -5},    {2147483647, 2147483647}, {2147483648.0, INT32_MIN},
      {-2147483648.0, INT32_MIN}, {-1, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(APMPToInt32(c.value), c.int32) << c.value;
  EXPECT_EQ(APMPToUInt32(-1), 4294967295u);
  EXPECT_EQ(APMPToInteger(kNaN), 0);
  EXPECT_EQ(APMPToInteger(-kInfinity), -kInfinity);
  EXPECT_EQ(APMPToInteger(-2.7), -2);
}

TEST(APMPValue, StructuralAndStrictEquality) {
  auto map = [](std::initializer_list<std::pair<std::u16string, APMPValuePtr>> entries) {
    auto value = std::make_shared<APMPMapValue>();
    for (const auto& [name, entry] : entries) value->setValueForProperty(entry, name);
    return value;
  };
  auto array = [](APMPValueList elements) { return std::make_shared<APMPArrayValue>(std::move(elements)); };
  auto scope = std::make_shared<APMPScope>();
  const struct {
    const char* name;
    APMPValuePtr a;
    APMPValuePtr b;
    bool structural;
    bool strict;
  } cases[] = {
      {"NaN and NaN", APMPNumber(kNaN), APMPNumber(kNaN), true, false},
      {"1 and 1", APMPNumber(1), APMPNumber(1), true, true},
      {"1 and true", APMPNumber(1), APMPBoolean(true), false, false},
      {"texts", APMPString(u"a"), APMPString(u"a"), true, true},
      {"undefined and null", APMPUndefined(), APMPNull(), false, false},
      {"maps alike", map({{u"a", APMPNumber(1)}}), map({{u"a", APMPNumber(1)}}), true, false},
      {"maps of other sizes", map({{u"a", APMPNumber(1)}}), map({}), false, false},
      {"arrays alike", array({APMPNumber(1), APMPString(u"x")}), array({APMPNumber(1), APMPString(u"x")}), true, false},
      {"arrays differing", array({APMPNumber(1)}), array({APMPNumber(2)}), false, false},
      {"functions of one name",
       std::make_shared<APMPFunctionValue>(u"f", std::vector<std::u16string>{}, APMPValueList{}, scope),
       std::make_shared<APMPFunctionValue>(u"f", std::vector<std::u16string>{u"x"}, APMPValueList{}, scope), true,
       false},
      {"anonymous functions",
       std::make_shared<APMPFunctionValue>(u"", std::vector<std::u16string>{}, APMPValueList{}, scope),
       std::make_shared<APMPFunctionValue>(u"", std::vector<std::u16string>{}, APMPValueList{}, scope), false, false},
      {"statements", std::make_shared<APMPStatementValue>(u"0", APMPValueList{APMPNumber(1)}),
       std::make_shared<APMPStatementValue>(u"0", APMPValueList{APMPNumber(1)}), true, false},
      {"returns", APMPControlValue::returnValueWithData(APMPNumber(1)),
       APMPControlValue::returnValueWithData(APMPNumber(1)), true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.a->isEqualToRuntimeValue(*c.b), c.structural) << c.name;
    EXPECT_EQ(APMPStrictEquals(*c.a, *c.b), c.strict) << c.name;
  }

  // Cyclic pairs compare without end: a = [a] against b = [b].
  auto a = array({});
  auto b = array({});
  APMPError error;
  a->setValueForProperty(a, APMPNumber(0), error);
  b->setValueForProperty(b, APMPNumber(0), error);
  EXPECT_TRUE(a->isEqualToRuntimeValue(*b));
  a->setValueForProperty(APMPNumber(1), APMPNumber(1), error);
  EXPECT_FALSE(a->isEqualToRuntimeValue(*b));
  a->dropReferences();
  b->dropReferences();
}

TEST(APMPValue, ArrayHolesAndProperties) {
  APMPArrayValue array;
  APMPError error;
  ASSERT_TRUE(array.setValueForProperty(APMPString(u"x"), APMPNumber(5), error));
  EXPECT_EQ(array.count(), 6u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(array.valueForProperty(APMPNumber(i), error)->isUndefined());
    EXPECT_FALSE(array.hasProperty(APMPNumber(i), error));
  }
  EXPECT_TRUE(array.hasProperty(APMPString(u"5"), error));
  array.setValueForProperty(APMPNumber(1), APMPString(u"name"), error);
  std::vector<std::u16string> names;
  for (const APMPValuePtr& name : array.allPropertyNames()) names.push_back(name->stringValueOrError(error));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"name", u"5"}));
  EXPECT_EQ(array.valueForProperty(APMPString(u"length"), error)->doubleValueOrError(error), 6);

  // Length: "3" is an index, 2.5 and -1 are not.
  EXPECT_TRUE(array.setValueForProperty(APMPString(u"3"), APMPString(u"length"), error));
  EXPECT_EQ(array.count(), 3u);
  for (const APMPValuePtr& bad : {APMPNumber(2.5), APMPNumber(-1), APMPString(u"x")}) {
    APMPError lengthError;
    EXPECT_FALSE(array.setValueForProperty(bad, APMPString(u"length"), lengthError));
    EXPECT_EQ(lengthError.code(), kAPMPErrorInvalidLength);
    EXPECT_EQ(array.count(), 3u);
  }
  EXPECT_FALSE(error);

  // Removing an element leaves a hole.
  APMPArrayValue pair(APMPValueList{APMPNumber(1), APMPNumber(2)});
  pair.removeValueForProperty(APMPNumber(0), error);
  EXPECT_EQ(pair.count(), 2u);
  EXPECT_TRUE(pair.valueForProperty(APMPNumber(0), error)->isUndefined());
  EXPECT_EQ(pair.stringValueOrError(error), u",2");
}

}  // namespace

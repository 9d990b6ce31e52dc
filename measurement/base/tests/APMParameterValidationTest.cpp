// Parameter-dictionary validation: what is dropped, trimmed and limited, and
// the first problem recorded in "_err", "_ev" and "_el".
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/base/tests/RemoteConfigTestSupport.h"

namespace {

using measurementtest::MeasurementTestEnvironment;
using platform::Array;
using platform::Dictionary;
using platform::Value;

std::string repeat(const std::string& piece, size_t count) {
  std::string text;
  for (size_t index = 0; index < count; ++index) text += piece;
  return text;
}

// The error entries of a result: _err, _ev, _el (absent as nullopt).
struct Entries {
  std::optional<int64_t> err;
  std::optional<std::string> ev;
  std::optional<int64_t> el;
  bool operator==(const Entries&) const = default;
};

Entries entriesOf(const Dictionary& parameters) {
  Entries entries;
  if (APMValuePtr err = APMValue::fromObject(parameters.get("_err"))) entries.err = err->int64Value();
  if (APMValuePtr ev = APMValue::fromObject(parameters.get("_ev"))) entries.ev = ev->stringValue();
  if (APMValuePtr el = APMValue::fromObject(parameters.get("_el"))) entries.el = el->int64Value();
  return entries;
}

Array items(size_t count) {
  Array array;
  for (size_t index = 0; index < count; ++index) array.append(Value::dict({{"item_id", "i" + std::to_string(index)}}));
  return array;
}

Dictionary publicNames(size_t count) {
  Dictionary parameters;
  for (size_t index = 0; index < count; ++index) {
    char name[32];
    std::snprintf(name, sizeof name, "p%03zu", index);
    parameters.set(name, int64_t(index));
  }
  return parameters;
}

TEST(APMParameterValidation, EdgeCases) {
  struct Case {
    const char* name;
    Dictionary raw;
    const char* event;
    bool isPublic;
    Entries entries;
    std::function<void(const Dictionary&)> more;
  };
  const std::vector<Case> cases = {
      {"500-code-point public value stays", {{"p", repeat("v", 500)}}, "custom", true, {},
       [](const Dictionary& d) { EXPECT_TRUE(d.contains("p")); }},
      {"501-code-point public value is dropped", {{"p", repeat("\xc3\xa9", 501)}, {"q", 1}}, "custom", true, {4, "p", 501},
       [](const Dictionary& d) { EXPECT_FALSE(d.contains("p")); EXPECT_TRUE(d.contains("q")); }},
      {"ga_ name", {{"ga_x", 1}, {"q", 1}}, "custom", true, {14, "ga_x", std::nullopt},
       [](const Dictionary& d) { EXPECT_FALSE(d.contains("ga_x")); }},
      {"a name over 40 code points records its length", {{repeat("n", 41), 1}, {"q", 1}}, "custom", true,
       {3, repeat("n", 40) + "...", 41}, nullptr},
      {"250 items on purchase keep 200", {{"items", items(250)}}, "purchase", true, {17, "items", std::nullopt},
       [](const Dictionary& d) { EXPECT_EQ(APMValue::fromObject(d.get("items"))->arrayValue()->size(), 200u); }},
      {"items on a custom event", {{"items", items(2)}, {"q", 1}}, "custom", true, {21, "custom", std::nullopt},
       [](const Dictionary& d) { EXPECT_FALSE(d.contains("items")); }},
      {"a string as the fourth item",
       {{"items", Value::array({Value::dict({{"a", 1}}), Value::dict({{"a", 2}}), Value::dict({{"a", 3}}), "x"})}},
       "purchase", true, {4, "items[3]", std::nullopt},
       [](const Dictionary& d) { EXPECT_EQ(APMValue::fromObject(d.get("items"))->arrayValue()->size(), 3u); }},
      {"101 public names lose the last", publicNames(101), "custom", true, {5, std::nullopt, std::nullopt},
       [](const Dictionary& d) { EXPECT_FALSE(d.contains("p100")); EXPECT_TRUE(d.contains("p099")); }},
      {"internal names are not counted",
       [] { Dictionary d = publicNames(100); d.set("_x", 1); return d; }(), "custom", false, {},
       [](const Dictionary& d) { EXPECT_EQ(d.size(), 101u); }},
      {"two failures record the first", {{"ga_a", 1}, {"p", repeat("v", 501)}}, "custom", true, {14, "ga_a", std::nullopt},
       nullptr},
      // The internal maximum is the larger of the public one (500 by default) and 256.
      {"a long _ev on an internal event is trimmed", {{"_ev", repeat("e", 600)}}, "_err", false,
       {std::nullopt, repeat("e", 500) + "...", 600}, nullptr},
      {"an _ev trimmed before stays", {{"_ev", repeat("e", 500) + "..."}}, "_err", false,
       {std::nullopt, repeat("e", 500) + "...", std::nullopt}, nullptr},
      {"a value already typed is kept as it is",
       {{"v", APMValue::objectWithString(repeat("v", 600))}}, "custom", false, {},
       [](const Dictionary& d) { EXPECT_TRUE(d.contains("v")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MeasurementTestEnvironment env;
    std::optional<Dictionary> result = APMValidateEventParameters(c.raw, Value(c.event), c.isPublic, false);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(entriesOf(*result), c.entries);
    if (c.more) c.more(*result);
  }
  EXPECT_EQ(APMValidateEventParameters({}, Value("e"), true, false), std::nullopt);
}

TEST(APMParameterValidation, ItemModeLimitsCustomParameters) {
  MeasurementTestEnvironment env;
  Dictionary item = publicNames(28);
  item.set("item_id", "standard names are not counted");
  std::optional<Dictionary> result = APMValidateEventParameters(item, Value("purchase"), true, true);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(entriesOf(*result).err, 28);
  EXPECT_TRUE(result->contains("item_id"));
  EXPECT_FALSE(result->contains("p027"));
  EXPECT_TRUE(result->contains("p026"));
  EXPECT_TRUE(env.logged("[I-ACS018016] Item cannot contain custom parameters"));
}

TEST(APMParameterValidation, ValueAndCurrency) {
  MeasurementTestEnvironment env;
  auto typed = [](Value value) { return APMValue::toObject(APMValue::valueFromObject(value)); };
  Dictionary parameters{{"value", typed(Value(9.99))}, {"currency", typed(Value("us"))}};
  EXPECT_FALSE(APMCheckValueAndCurrency(parameters, false));
  EXPECT_FALSE(parameters.contains("value"));
  EXPECT_EQ(entriesOf(parameters), (Entries{19, "currency", std::nullopt}));
  EXPECT_TRUE(env.logged("[I-ACS018014] Value parameter discarded."));

  Dictionary missing;
  EXPECT_TRUE(APMCheckValueAndCurrency(missing, false));
  EXPECT_FALSE(APMCheckValueAndCurrency(missing, true));
  EXPECT_EQ(entriesOf(missing), (Entries{18, "value", std::nullopt}));

  Dictionary good{{"value", typed(Value(int64_t(3)))}, {"currency", typed(Value("EUR"))}};
  EXPECT_TRUE(APMCheckValueAndCurrency(good, true));
  EXPECT_TRUE(good.contains("value"));
}

TEST(APMParameterValidation, ErrorEntriesKeepTheFirstProblemAndTrimByCodePoint) {
  Dictionary parameters;
  // Five emoji of four UTF-8 bytes each, trimmed to three code points.
  APMSetErrorEntry(parameters, 4, Value(repeat("\xf0\x9f\x98\x80", 5)), 3, Value(repeat("\xf0\x9f\x98\x80", 5)));
  EXPECT_EQ(entriesOf(parameters), (Entries{4, repeat("\xf0\x9f\x98\x80", 3) + "...", 5}));
  APMSetErrorEntry(parameters, 3, Value("other"), 40, Value("x"));
  APMSetErrorIfAbsent(parameters, 9);
  EXPECT_EQ(entriesOf(parameters), (Entries{4, repeat("\xf0\x9f\x98\x80", 3) + "...", 5}));

  Dictionary named;
  APMWriteErrorDetails(named, Value(), 40, Value::array({1, 2}));
  EXPECT_EQ(entriesOf(named), (Entries{std::nullopt, "(nil)", 2}));
}

TEST(APMParameterValidation, ErrorEventsGoThroughTheAnalyticsFront) {
  MeasurementTestEnvironment env;
  struct Logged {
    std::string origin, name;
    Dictionary parameters;
  };
  std::vector<Logged> logged;
  APMEngineServices::setInternalEventLogger(
      [&](const std::string& origin, const std::string& name, const Dictionary& parameters) {
        logged.push_back({origin, name, parameters});
      });
  APMLogErrorCodeEvent(0);
  APMLogErrorCodeEvent(13);
  APMLogErrorEvent(0, Value("x"), 40, Value("x"));
  APMLogErrorEvent(2, Value("1bad"), 40, Value("1bad"));
  APMLogErrorEvent(7, Value("prop"), 24, Value(repeat("v", 40)));
  APMEngineServices::setInternalEventLogger(nullptr);
  APMLogErrorCodeEvent(5);

  ASSERT_EQ(logged.size(), 3u);
  EXPECT_EQ(logged[0].origin, "auto");
  EXPECT_EQ(logged[0].name, "_err");
  EXPECT_EQ(logged[0].parameters.get("_err"), Value(int64_t(13)));
  EXPECT_EQ(entriesOf(logged[1].parameters), (Entries{std::nullopt, "1bad", std::nullopt}));
  EXPECT_EQ(logged[1].parameters.get("_err"), Value(int64_t(2)));
  EXPECT_EQ(entriesOf(logged[2].parameters), (Entries{std::nullopt, "prop", 40}));
}

TEST(APMParameterValidation, LimitsComeFromTheInstalledSettingsAtEveryCall) {
  MeasurementTestEnvironment env;
  std::shared_ptr<APMRemoteConfig> settings = APMRemoteConfig::initWithAppID(
      MeasurementTestEnvironment::kAppID, {},
      measurementtest::configuration(MeasurementTestEnvironment::kAppID,
                                     {{"measurement.upload.max_event_parameter_value_length", "300"},
                                      {"measurement.upload.max_public_event_params", "30"},
                                      {"measurement.upload.max_item_scoped_custom_parameters", "12"}}),
      nullptr, nullptr);
  APMEngineServices::setRemoteConfigProvider([settings] { return settings; });
  using V = APMDataTypeValidator;
  EXPECT_EQ(V::maxPublicEventParameterValueLength(), 300);
  EXPECT_EQ(V::maxInternalEventParameterValueLength(), 300);
  EXPECT_EQ(V::maxPublicEventParams(), 30);
  EXPECT_EQ(V::maxItemScopedCustomParameters(), 12);

  // Values: 300 passes, 301 is dropped (public and internal alike), screen values too.
  std::optional<Dictionary> result =
      APMValidateEventParameters({{"p", repeat("v", 300)}, {"q", repeat("v", 301)}}, Value("custom"), true, false);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->contains("p"));
  EXPECT_EQ(entriesOf(*result), (Entries{4, "q", 301}));
  result = APMValidateEventParameters({{"_ev", repeat("e", 400)}}, Value("_err"), false, false);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(entriesOf(*result), (Entries{std::nullopt, repeat("e", 300) + "...", 400}));
  EXPECT_FALSE(V::isValidScreenParameterValue(Value(repeat("s", 301))));
  EXPECT_TRUE(V::isValidScreenParameterValue(Value(repeat("s", 300))));

  // Counts: 31 public names lose the last; an item keeps 12 custom parameters.
  result = APMValidateEventParameters(publicNames(31), Value("custom"), true, false);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(entriesOf(*result).err, 5);
  EXPECT_FALSE(result->contains("p030"));
  EXPECT_TRUE(result->contains("p029"));
  EXPECT_TRUE(env.logged("[I-ACS018017] Event cannot contain more than 30 parameters"));
  result = APMValidateEventParameters(publicNames(13), Value("purchase"), true, true);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(entriesOf(*result).err, 28);
  EXPECT_FALSE(result->contains("p012"));

  // A small public limit leaves the internal one at 256.
  std::shared_ptr<APMRemoteConfig> small = APMRemoteConfig::initWithAppID(
      MeasurementTestEnvironment::kAppID, {},
      measurementtest::configuration(MeasurementTestEnvironment::kAppID,
                                     {{"measurement.upload.max_event_parameter_value_length", "100"}}),
      nullptr, nullptr);
  APMEngineServices::setRemoteConfigProvider([small] { return small; });
  EXPECT_EQ(V::maxPublicEventParameterValueLength(), 100);
  EXPECT_EQ(V::maxInternalEventParameterValueLength(), 256);
  EXPECT_FALSE(V::isValidPublicEventParameterValue(APMValue::objectWithString(repeat("v", 101))));
  EXPECT_TRUE(V::isValidInternalEventParameterValue(APMValue::objectWithString(repeat("v", 256))));

  // Without installed settings the defaults hold again.
  APMEngineServices::setRemoteConfigProvider(nullptr);
  EXPECT_EQ(V::maxPublicEventParameterValueLength(), 500);
  EXPECT_EQ(V::maxPublicEventParams(), 100);
  EXPECT_EQ(V::maxItemScopedCustomParameters(), 27);
}

TEST(APMParameterValidation, ArrayValuesAndSortedValidNames) {
  MeasurementTestEnvironment env;
  EXPECT_FALSE(APMContainsArrayValue({}));
  EXPECT_FALSE(APMContainsArrayValue({{"a", 1}, {"typed", APMValue::objectWithString("x")}}));
  EXPECT_TRUE(APMContainsArrayValue({{"a", 1}, {"items", Value::array({})}}));

  Dictionary updates;
  EXPECT_EQ(APMSortedValidParameterNames({}, true, updates), std::nullopt);
  // Collation order (not byte order: "B" and "_" would come first); the
  // reserved and the invalid name are left out and the first failure is
  // recorded; an object value is reported but its name stays.
  const Dictionary parameters{{"Beta", 1},      {"alpha", "a"}, {"_internal", 2.5}, {"ga_reserved", 1},
                              {"bad name", 1}, {"gamma", Value::dict({{"x", 1}})}, {"items", Value::array({})}};
  std::optional<std::vector<std::string>> names = APMSortedValidParameterNames(parameters, false, updates);
  ASSERT_TRUE(names.has_value());
  EXPECT_EQ(*names, (std::vector<std::string>{"_internal", "alpha", "Beta", "ga_reserved", "gamma", "items"}));
  EXPECT_EQ(entriesOf(updates), (Entries{3, "bad name", std::nullopt}));
  EXPECT_TRUE(env.logged("[I-ACS018005] Invalid event parameter. Parameter must be a number, string or array."));

  // Public names: the reserved prefix fails first; the object value cannot
  // record over it.
  Dictionary publicUpdates;
  names = APMSortedValidParameterNames(parameters, true, publicUpdates);
  ASSERT_TRUE(names.has_value());
  EXPECT_EQ(*names, (std::vector<std::string>{"alpha", "Beta", "gamma", "items"}));
  EXPECT_EQ(entriesOf(publicUpdates), (Entries{3, "_internal", std::nullopt}));

  Dictionary objectFirst;
  names = APMSortedValidParameterNames({{"obj", Value::dict({})}}, true, objectFirst);
  EXPECT_EQ(*names, std::vector<std::string>{"obj"});
  EXPECT_EQ(entriesOf(objectFirst), (Entries{4, "obj", 0}));
}

}  // namespace

// Parameter-dictionary validation: what is dropped, trimmed and limited, and
// the first problem recorded in "_err", "_ev" and "_el".
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"

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
       {{"v", APMValue::toObject(APMValue::initWithString(Value(repeat("v", 600))))}}, "custom", false, {},
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

}  // namespace

#include "platform/values/Value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/values/Exception.h"

using platform::Array;
using platform::Dictionary;
using platform::NumberKind;
using platform::Set;
using platform::Value;
using platform::ValueType;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kI64Min = std::numeric_limits<int64_t>::min();
constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

std::string orderName(std::partial_ordering o) {
  if (o == std::partial_ordering::less) return "less";
  if (o == std::partial_ordering::greater) return "greater";
  if (o == std::partial_ordering::equivalent) return "equivalent";
  return "unordered";
}

}  // namespace

// Numbers of different kinds compare by their mathematical value; a lossy
// cast to double or to a common integer type would get each of these wrong.
TEST(ValueNumbers, MixedKindComparison) {
  const int64_t twoTo53 = int64_t{1} << 53;
  struct Case {
    Value a, b;
    std::partial_ordering order;
    bool equal;  // operator== (NaN == NaN; bool never equals a number)
  };
  const Case cases[] = {
      {Value(twoTo53 + 1), Value(static_cast<double>(twoTo53)), std::partial_ordering::greater, false},
      {Value(twoTo53), Value(static_cast<double>(twoTo53)), std::partial_ordering::equivalent, true},
      {Value(kU64Max), Value(int64_t{-1}), std::partial_ordering::greater, false},
      {Value(int64_t{-1}), Value(kU64Max), std::partial_ordering::less, false},
      {Value(kU64Max), Value(18446744073709551616.0), std::partial_ordering::less, false},
      {Value(kI64Max), Value(9223372036854775808.0), std::partial_ordering::less, false},
      {Value(kI64Min), Value(-9223372036854775808.0), std::partial_ordering::equivalent, true},
      {Value(uint64_t{1} << 63), Value(kI64Max), std::partial_ordering::greater, false},
      {Value(static_cast<int8_t>(3)), Value(3.0), std::partial_ordering::equivalent, true},
      {Value(3), Value(3.5), std::partial_ordering::less, false},
      {Value(-3), Value(-3.5), std::partial_ordering::greater, false},
      {Value(5u), Value(5), std::partial_ordering::equivalent, true},
      {Value(0.1f), Value(0.1), std::partial_ordering::greater, false},
      {Value(0.5f), Value(0.5), std::partial_ordering::equivalent, true},
      {Value(-0.0), Value(0), std::partial_ordering::equivalent, true},
      {Value(kNaN), Value(kNaN), std::partial_ordering::unordered, true},
      {Value(kNaN), Value(1), std::partial_ordering::unordered, false},
      {Value(kInf), Value(kU64Max), std::partial_ordering::greater, false},
      {Value(true), Value(1), std::partial_ordering::equivalent, false},
      {Value(false), Value(0.0), std::partial_ordering::equivalent, false},
      {Value("1"), Value(1), std::partial_ordering::unordered, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a.description() + " vs " + c.b.description());
    EXPECT_EQ(orderName(Value::compareNumbers(c.a, c.b)), orderName(c.order));
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b == c.a, c.equal);
    if (c.equal) {
      EXPECT_EQ(c.a.hash(), c.b.hash());
      EXPECT_EQ(c.a <=> c.b, std::weak_ordering::equivalent);
    }
  }
}

TEST(ValueNumbers, TotalOrderSortsNaNLastAndKindsApart) {
  std::vector<Value> values = {Value(kNaN), Value(2u), Value("a"), Value(-1.5), Value(true),
                               Value(kU64Max), Value(kI64Min), Value()};
  std::sort(values.begin(), values.end());
  std::vector<std::string> texts;
  for (const Value& v : values) {
    texts.push_back(v.description());
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"<null>", "1", "-9223372036854775808", "-1.5", "2",
                                             "18446744073709551615", "nan", "a"}));
}

TEST(ValueNumbers, BoolIsItsOwnKind) {
  EXPECT_TRUE(Value(true).isTrueObject());
  EXPECT_FALSE(Value(1).isTrueObject());
  EXPECT_TRUE(Value(false).isFalseObject());
  EXPECT_FALSE(Value(0).isFalseObject());
  EXPECT_FALSE(Value(true).isNumber());
  EXPECT_TRUE(Value(true).isNumeric());
  EXPECT_EQ(Value(true).numberKind(), NumberKind::Bool);
  EXPECT_EQ(Value(true).typeDescription(), "a number");
  EXPECT_FALSE(Value(1).asBool().has_value());
  EXPECT_FALSE(Value(true).asInt64().has_value());
  EXPECT_EQ(Value(true).longLongValue(), 1);
  // A set keeps true and 1 apart, but 1, 1u and 1.0 are one element.
  Set s{Value(true), Value(1), Value(1u), Value(1.0)};
  EXPECT_EQ(s.size(), 2u);
}

TEST(ValueNumbers, KindsKeptAndConvertedLikeC) {
  EXPECT_EQ(Value(static_cast<int8_t>(-3)).numberKind(), NumberKind::Int8);
  EXPECT_EQ(Value(static_cast<uint16_t>(3)).numberKind(), NumberKind::UInt16);
  EXPECT_EQ(Value(3.0f).numberKind(), NumberKind::Float);
  EXPECT_EQ(Value(size_t{3}).numberKind(), NumberKind::UInt64);
  EXPECT_TRUE(Value(3.0).isFloatingNumber());
  EXPECT_FALSE(Value(3).isFloatingNumber());

  EXPECT_EQ(Value(300).numberAs<int8_t>(), 44);
  EXPECT_EQ(Value(-1).numberAs<uint32_t>(), 0xFFFFFFFFu);
  EXPECT_EQ(Value(1e30).longLongValue(), kI64Max);
  EXPECT_EQ(Value(-1e30).longLongValue(), kI64Min);
  EXPECT_EQ(Value(kNaN).longLongValue(), 0);
  EXPECT_EQ(Value(-3.9).numberAs<int>(), -3);
  EXPECT_TRUE(std::isinf(Value(1e300).floatValue()));
  EXPECT_EQ(Value::integer(NumberKind::UInt8, 257), Value(static_cast<uint8_t>(1)));
  EXPECT_EQ(Value::floating(NumberKind::Int32, 7.9).numberKind(), NumberKind::Int32);
  EXPECT_EQ(Value::floating(NumberKind::Int32, 7.9), Value(7));

  // exactAs: the conversion must give back the same number.
  EXPECT_EQ(Value(3.0).exactAs<int>(), 3);
  EXPECT_FALSE(Value(3.5).exactAs<int>().has_value());
  EXPECT_FALSE(Value(300).exactAs<int8_t>().has_value());
  EXPECT_FALSE(Value(9223372036854775808.0).asInt64().has_value());
  EXPECT_EQ(Value(9223372036854775808.0).asUInt64(), uint64_t{1} << 63);
  EXPECT_FALSE(Value(-1).asUInt64().has_value());
  EXPECT_FALSE(Value(kNaN).exactAs<int>().has_value());
  EXPECT_EQ(Value(16777217).exactAs<double>(), 16777217.0);
  EXPECT_FALSE(Value(16777217).exactAs<float>().has_value());
  EXPECT_FALSE(Value("3").asInt64().has_value());
}

TEST(ValueText, StringValueOfNumbers) {
  struct Case {
    Value v;
    const char* text;
  };
  const Case cases[] = {
      {Value(5), "5"},
      {Value(int64_t{-12}), "-12"},
      {Value(kU64Max), "18446744073709551615"},
      {Value(kI64Min), "-9223372036854775808"},
      {Value((int64_t{1} << 53) + 1), "9007199254740993"},
      {Value(true), "1"},
      {Value(false), "0"},
      {Value(3.0), "3"},
      {Value(-250.0), "-250"},
      {Value(0.1), "0.1"},
      {Value(0.1f), "0.1"},
      {Value(1.0 / 3), "0.3333333333333333"},
      {Value(123456.789), "123456.789"},
      {Value(0.0001), "0.0001"},
      {Value(0.00001), "1e-05"},
      {Value(1e16), "10000000000000000"},
      {Value(1e17), "1e+17"},
      {Value(1e21), "1e+21"},
      {Value(-1.5e300), "-1.5e+300"},
      {Value(-0.0), "-0"},
      {Value(kNaN), "nan"},
      {Value(-kInf), "-inf"},
      {Value("text"), "text"},
      {Value(), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.v.stringValue(), c.text);
  }
  // Shortest text reads back to the same double (through our own parser).
  for (double d : {0.1 + 0.2, 1e-300, 5e-324, 1.7976931348623157e308, 2.5e-5, 123456789012.5}) {
    EXPECT_EQ(Value(Value(d).stringValue()).doubleValue(), d);
  }
}

TEST(ValueText, StringToDouble) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"3.5abc", 3.5}, {"  -2.5e3x", -2500}, {"\t\n 42", 42}, {"+7", 7},     {".5", 0.5},
      {"5.", 5},       {"1e", 1},            {"1e+", 1},      {"2E2", 200},  {"abc", 0},
      {"", 0},         {"-", 0},             {".", 0},        {"0x10", 0},   {"inf", 0},
      {"nan", 0},      {"1e400", kInf},      {"-1e400", -kInf}, {"1e-400", 0}, {"1,5", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Value(c.text).doubleValue(), c.value) << '"' << c.text << '"';
  }
}

TEST(ValueText, StringToInteger) {
  struct Case {
    const char* text;
    int64_t value;
  };
  const Case cases[] = {
      {"  42abc", 42},
      {"-17", -17},
      {"+5", 5},
      {"3.9", 3},
      {"abc", 0},
      {"", 0},
      {"- 5", 0},
      {"\n-0012", -12},
      {"9223372036854775807", kI64Max},
      {"-9223372036854775808", kI64Min},
      {"99999999999999999999", kI64Max},
      {"-99999999999999999999", kI64Min},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Value(c.text).longLongValue(), c.value) << '"' << c.text << '"';
    EXPECT_EQ(Value(c.text).integerValue(), c.value) << '"' << c.text << '"';
  }
  EXPECT_EQ(Value("99999999999").intValue(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Value("-99999999999").intValue(), std::numeric_limits<int32_t>::min());
}

TEST(ValueText, StringToBool) {
  struct Case {
    const char* text;
    bool value;
  };
  const Case cases[] = {
      {"  true", true}, {"  yes", true},  {"  T", true},  {"  1", true},  {"  -1", true},
      {"  12", true},   {"Y", true},      {"007", true},  {"+0009", true}, {"false", false},
      {"no", false},    {"0", false},     {"", false},    {"0.5", false}, {"-0", false},
      {"   ", false},   {"x1", false},    {"- 1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Value(c.text).boolValue(), c.value) << '"' << c.text << '"';
  }
  EXPECT_TRUE(Value(0.5).boolValue());
  EXPECT_TRUE(Value(kNaN).boolValue());
  EXPECT_FALSE(Value(0u).boolValue());
  EXPECT_FALSE(Value().boolValue());
}

TEST(ValueText, WordsAndDescriptions) {
  struct Case {
    Value v;
    const char* words;
    const char* name;
  };
  const Case cases[] = {
      {Value(), "a null value", "null"},
      {Value(false), "a number", "bool"},
      {Value(2.5), "a number", "number"},
      {Value("s"), "a string/data", "string"},
      {Value::array(), "an array", "array"},
      {Value::dict(), "a dictionary", "dictionary"},
      {Value::data(platform::Bytes{1}), "Data", "data"},
      {Value::date(0), "Date", "date"},
      {Value::set(), "Set", "set"},
      {Value::opaque(std::make_shared<int>(1), "Decimal"), "Decimal", "Decimal"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.v.typeDescription(), c.words);
    EXPECT_EQ(c.v.typeName(), c.name);
  }
  Value tree = Value::dict({{"a", Value::array({1, "x\"y", Value()})},
                            {"d", Value::data(platform::Bytes{0xde, 0xad, 0xbe, 0xef, 0x01})},
                            {"t", Value::dateSinceReference(0)},
                            {"s", Value::set({true})}});
  EXPECT_EQ(tree.description(),
            R"({"a": [1, "x\"y", <null>], "d": <deadbeef 01>, "t": 2001-01-01 00:00:00 +0000, "s": {(1)}})");
}

TEST(ValueText, Utf16Length) {
  EXPECT_EQ(Value("").utf16Length(), 0u);
  EXPECT_EQ(Value("abc").utf16Length(), 3u);
  EXPECT_EQ(Value("a\u00e9\u20ac").utf16Length(), 3u);       // 1 + 2 + 3 bytes, one unit each
  EXPECT_EQ(Value("x\U0001F600y").utf16Length(), 4u);          // the emoji is a surrogate pair
  EXPECT_EQ(Value(5).utf16Length(), 0u);
}

TEST(ValueDates, ReferenceDateHelpers) {
  Value d = Value::dateSinceReference(10);
  EXPECT_EQ(d.asDate(), 978307210.0);
  EXPECT_EQ(d.asDateSinceReference(), 10.0);
  EXPECT_EQ(d, Value::date(978307210.0));
  EXPECT_NE(d, Value(978307210.0));  // a date is not a number
  EXPECT_EQ(d.doubleValue(), 978307210.0);
}

// Containers are shared by reference: a writer holding any handle is seen
// through every other handle and through the tree that contains it.
TEST(ValueContainers, SharedStorageAliasing) {
  Dictionary inner;
  Array list;
  Value tree = Value::dict({{"inner", Value(inner)}, {"list", Value(list)}});
  Value treeCopy = tree;  // a Value copy shares the containers too

  inner.set("k", 1);
  list.append("first");
  tree["inner"].asDictionary()->set("j", 2);  // a handle taken out of the tree
  EXPECT_EQ(treeCopy["inner"]["k"], Value(1));
  EXPECT_EQ(inner.get("j"), Value(2));
  EXPECT_EQ(treeCopy["list"][0], Value("first"));
  EXPECT_TRUE(tree.asDictionary()->sameStorage(*treeCopy.asDictionary()));

  // A default-constructed handle owns new storage.
  Dictionary other;
  EXPECT_FALSE(other.sameStorage(inner));
}

TEST(ValueContainers, DeepCopyIsIndependentAndKeepsInnerAliasing) {
  Dictionary shared{{"n", 1}};
  Dictionary root{{"a", Value(shared)}, {"b", Value(shared)}, {"list", Value::array({Value(shared)})}};
  root.set("self", Value(root));  // a cycle

  Dictionary copy = root.copy();
  EXPECT_FALSE(copy.sameStorage(root));
  shared.set("n", 2);
  root.set("extra", true);
  EXPECT_EQ(copy["a"]["n"], Value(1));
  EXPECT_FALSE(copy.contains("extra"));

  // Within the copy, what was one container is still one container.
  Dictionary copiedA = *copy["a"].asDictionary();
  EXPECT_TRUE(copiedA.sameStorage(*copy["b"].asDictionary()));
  EXPECT_TRUE(copiedA.sameStorage(*copy["list"][0].asDictionary()));
  EXPECT_FALSE(copiedA.sameStorage(shared));
  EXPECT_TRUE(copy["self"].asDictionary()->sameStorage(copy));

  // Descriptions, equality, order and hashing terminate on cycles, also on
  // two separately built graphs of the same shape.
  EXPECT_NE(Value(root).description().find("<cycle>"), std::string::npos);
  Dictionary twin;
  twin.set("l", Value(twin));
  twin.set("r", Value(twin));
  Dictionary twin2;
  twin2.set("l", Value(twin2));
  twin2.set("r", Value(twin2));
  EXPECT_EQ(Value(twin), Value(twin2));
  EXPECT_EQ(Value(twin).hash(), Value(twin2).hash());
  EXPECT_EQ(Value(twin) <=> Value(twin2), std::weak_ordering::equivalent);
  twin.clear();
  twin2.clear();

  // Reference-counted storage: a cycle must be broken by hand to be freed.
  root.remove("self");
  copy.remove("self");

  // Data stays shared but is immutable; scalars are values.
  Value bytes = Value::data(platform::Bytes{1, 2});
  EXPECT_EQ(bytes.copy(), bytes);
}

TEST(ValueContainers, DictionaryKeepsInsertionOrder) {
  // Sizes on both sides of the point where a hash index is added.
  for (int n : {3, 8, 9, 40}) {
    SCOPED_TRACE(n);
    Dictionary d;
    std::vector<std::string> expected;
    for (int i = 0; i < n; ++i) {
      std::string key = "k" + std::to_string((i * 7919) % 1000);
      d.set(key, i);
      expected.push_back(key);
    }
    d.set(expected[1], "replaced");  // replacing keeps the position
    EXPECT_EQ(d.keys(), expected);
    EXPECT_EQ(d.get(expected[1]), Value("replaced"));

    EXPECT_TRUE(d.remove(expected[0]));
    EXPECT_FALSE(d.remove(expected[0]));
    expected.erase(expected.begin());
    d.set("new", 1);  // goes to the end
    expected.push_back("new");
    EXPECT_EQ(d.keys(), expected);
    for (size_t i = 2; i < expected.size() - 1; ++i) {  // look-ups still right after the removal
      EXPECT_EQ(d.get(expected[i]), Value(static_cast<int>(i + 1))) << expected[i];
    }
    EXPECT_TRUE(d.get("missing").isNull());
    EXPECT_EQ(d.find("missing"), nullptr);
  }
}

TEST(ValueContainers, EqualityAndHashIgnoreDictionaryAndSetOrder) {
  Value a = Value::dict({{"x", 1}, {"y", Value::set({1, "two"})}});
  Value b = Value::dict({{"y", Value::set({"two", 1.0})}, {"x", 1u}});
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.hash(), b.hash());
  EXPECT_EQ(a <=> b, std::weak_ordering::equivalent);
  EXPECT_NE(Value::array({1, 2}), Value::array({2, 1}));
  EXPECT_NE(Value::dict({{"x", 1}}), Value::dict({{"x", true}}));

  // Values as set elements: a container element is compared by contents.
  Set s;
  EXPECT_TRUE(s.insert(a));
  EXPECT_FALSE(s.insert(b));
  EXPECT_TRUE(s.remove(b));
  EXPECT_TRUE(s.empty());
}

TEST(ValueContainers, SetKeepsInsertionOrderAcrossRemoval) {
  Set s{3, "a", 1, "b"};
  EXPECT_TRUE(s.remove(Value(1.0)));
  EXPECT_TRUE(s.insert(Value(1)));
  EXPECT_EQ(Value(s).description(), R"({(3, "a", "b", 1)})");
  EXPECT_TRUE(s.contains(Value("b")));
  EXPECT_FALSE(s.contains(Value("c")));
}

TEST(ValueContainers, OutOfRangeIndexRaisesRangeException) {
  Array a{1, 2};
  try {
    a.at(2);
    FAIL() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.name, platform::Exception::kRangeException);
  }
  EXPECT_THROW(a.insert(3, 0), platform::Exception);
  EXPECT_THROW(a.removeAt(2), platform::Exception);
  EXPECT_TRUE(a.get(2).isNull());
  // Reading a tree never throws: missing pieces read as null.
  Value v = Value(a);
  EXPECT_TRUE(v[5].isNull());
  EXPECT_TRUE(v[-1].isNull());
  EXPECT_TRUE(v["key"]["deeper"].isNull());
}

TEST(ValueOpaque, TypedPayloadAndEquality) {
  struct Payload {
    int n;
    bool operator==(const Payload&) const = default;
  };
  struct Other {};
  auto p = std::make_shared<Payload>(Payload{4});
  Value v = Value::opaque(p, "Payload");
  EXPECT_EQ(v.asOpaque<Payload>(), p);
  EXPECT_EQ(v.asOpaque<Other>(), nullptr);
  EXPECT_EQ(Value(1).asOpaque<Payload>(), nullptr);
  EXPECT_EQ(v, Value::opaque(std::make_shared<Payload>(Payload{4})));
  EXPECT_NE(v, Value::opaque(std::make_shared<Payload>(Payload{5})));
  EXPECT_NE(Value::opaque(std::make_shared<Other>()), Value::opaque(std::make_shared<Other>()));
  EXPECT_EQ(v.copy().asOpaque<Payload>(), p);  // never copied
}

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "sdk/data-coder/tests/CoderTestSupport.h"

namespace {

using codertest::failure;
using codertest::failurePath;
using codertest::tree;
using coding::Decoder;
using platform::Value;

RirivuduDataDecoder plain;

// Asks for a keyed container and decodes T under "value".
template <class T>
struct Keyed {
  T value;
  static Keyed decode(Decoder& decoder) { return {decoder.container().decode<T>("value")}; }
};

// Asks for an unkeyed container and decodes one T.
template <class T>
struct Unkeyed {
  T value;
  static Unkeyed decode(Decoder& decoder) { return {decoder.unkeyedContainer().decode<T>()}; }
};

// Decodes T from its single-value container.
template <class T>
struct Single {
  T value;
  static Single decode(Decoder& decoder) { return {decoder.singleValueContainer().decode<T>()}; }
};

struct Person {
  static constexpr const char* kCodingTypeName = "Person";
  std::string firstName;
  static Person decode(Decoder& decoder) { return {decoder.container().decode<std::string>("firstName")}; }
};

// A remote-configuration style value with scripted views.
struct FakeValue : RirivuduRemoteConfigValueDecoding {
  Value number = Value(42.0);
  std::optional<platform::Array> array;
  std::optional<platform::Dictionary> dictionary;
  Value numberValue() const override { return number; }
  bool boolValue() const override { return true; }
  std::string stringValue() const override { return "text"; }
  platform::Bytes dataValue() const override { return {7, 8}; }
  std::optional<platform::Array> arrayValue() const override { return array; }
  std::optional<platform::Dictionary> dictionaryValue() const override { return dictionary; }
  std::string typeName() const override { return "FakeValue"; }
};

Value fake(std::optional<platform::Array> array = {}, std::optional<platform::Dictionary> dictionary = {}) {
  auto value = std::make_shared<FakeValue>();
  value->array = std::move(array);
  value->dictionary = std::move(dictionary);
  return RirivuduRemoteConfigValueDecoding::node(value);
}

TEST(DecoderTest, ErrorTextsOfTheFront) {
  struct Case {
    std::string actual;
    std::string expected;
  };
  const Case cases[] = {
      {failure([] { plain.decode<coding::Date>(Value()); }),
       "valueNotFound: The given data did not contain a top-level value."},
      {failure([] { plain.decode<Person>(Value()); }),
       "valueNotFound: Cannot get keyed decoding container -- found null value instead."},
      {failure([] { plain.decode<Person>(tree("1")); }),
       "typeMismatch: Expected to decode Dictionary<String, Any> but found a number instead."},
      {failure([] { plain.decode<Person>(tree("\"x\"")); }),
       "typeMismatch: Expected to decode Dictionary<String, Any> but found a string/data instead."},
      {failure([] { plain.decode<Person>(tree("[]")); }),
       "typeMismatch: Expected to decode Dictionary<String, Any> but found an array instead."},
      {failure([] { plain.decode<Person>(fake()); }),
       "typeMismatch: Expected to decode Dictionary<String, Any> but found FakeValue instead."},
      {failure([] { plain.decode<std::vector<int32_t>>(Value()); }),
       "valueNotFound: Cannot get unkeyed decoding container -- found null value instead."},
      {failure([] { plain.decode<std::vector<int32_t>>(tree("{}")); }),
       "typeMismatch: Expected to decode Array<Any> but found a dictionary instead."},
      {failure([] { plain.decode<std::vector<int32_t>>(fake()); }),
       "typeMismatch: Expected to decode Array<Any> but found FakeValue instead."},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);

  // The protocol's dictionary and array forms stand for the value.
  EXPECT_EQ(plain.decode<Person>(fake({}, platform::Dictionary{{"firstName", "Ann"}})).firstName, "Ann");
  EXPECT_EQ(plain.decode<std::vector<int32_t>>(fake(platform::Array{Value(1), Value(2)})),
            (std::vector<int32_t>{1, 2}));
  // The single-value container never fails to be made, also over null.
  EXPECT_EQ(plain.decode<std::optional<int32_t>>(Value()), std::nullopt);
}

TEST(DecoderTest, DefaultsAndSnapshot) {
  RirivuduDataDecoder decoder;
  EXPECT_EQ(decoder.dateDecodingStrategy().kind, coding::DateDecodingStrategy::Kind::DeferredToDate);
  EXPECT_EQ(decoder.dataDecodingStrategy().kind, coding::DataDecodingStrategy::Kind::Base64);
  EXPECT_EQ(decoder.nonConformingFloatDecodingStrategy().kind,
            coding::NonConformingFloatDecodingStrategy::Kind::Throw);
  EXPECT_EQ(decoder.keyDecodingStrategy().kind, coding::KeyDecodingStrategy::Kind::UseDefaultKeys);
  EXPECT_EQ(decoder.passthroughTypeResolver(), &coding::NoPassthroughTypes::passesThrough);
  EXPECT_TRUE(decoder.userInfo().empty());

  // A date strategy changed during a decode applies from the next call on.
  decoder.setDateDecodingStrategy(coding::DateDecodingStrategy::custom([&](Decoder& d) {
    decoder.setDateDecodingStrategy(coding::DateDecodingStrategy::secondsSince1970());
    return coding::Date{d.singleValueContainer().decode<double>() * 2};
  }));
  EXPECT_EQ(decoder.decode<std::vector<coding::Date>>(tree("[1, 2]")),
            (std::vector<coding::Date>{{2}, {4}}));
  EXPECT_EQ(decoder.decode<std::vector<coding::Date>>(tree("[1, 2]")), (std::vector<coding::Date>{{1}, {2}}));
}

TEST(DecoderTest, ScalarConversions) {
  const std::string int64Max = "9223372036854775807";
  const std::string uint64Max = "18446744073709551615";
  struct Case {
    std::string actual;
    std::string expected;
  };
  const Case cases[] = {
      {failure([] { plain.decode<bool>(tree("1")); }), "typeMismatch: Expected to decode Bool but found a number instead."},
      {failure([] { plain.decode<bool>(tree("0")); }), "typeMismatch: Expected to decode Bool but found a number instead."},
      {failure([] { plain.decode<coding::Int>(tree("true")); }),
       "typeMismatch: Expected to decode Int but found a number instead."},
      {failure([] { plain.decode<double>(tree("false")); }),
       "typeMismatch: Expected to decode Double but found a number instead."},
      {failure([] { plain.decode<coding::Decimal>(tree("true")); }),
       "typeMismatch: Expected to decode Double but found a number instead."},
      {failure([] { plain.decode<coding::Int>(tree("3.5")); }),
       "dataCorrupted: Parsed JSON number <3.5> does not fit in Int."},
      {failure([] { plain.decode<int8_t>(tree("300")); }),
       "dataCorrupted: Parsed JSON number <300> does not fit in Int8."},
      {failure([] { plain.decode<uint8_t>(tree("256")); }),
       "dataCorrupted: Parsed JSON number <256> does not fit in UInt8."},
      {failure([&] { plain.decode<int64_t>(tree(uint64Max)); }),
       "dataCorrupted: Parsed JSON number <18446744073709551615> does not fit in Int64."},
      {failure([] { plain.decode<uint64_t>(tree("-1")); }),
       "dataCorrupted: Parsed JSON number <-1> does not fit in UInt64."},
      {failure([] { plain.decode<float>(tree("1e39")); }),
       "dataCorrupted: Parsed JSON number 1e+39 does not fit in Float."},
      {failure([] { plain.decode<float>(Value(std::nan(""))); }),
       "dataCorrupted: Parsed JSON number nan does not fit in Float."},
      {failure([] { plain.decode<float>(Value(INFINITY)); }),
       "dataCorrupted: Parsed JSON number inf does not fit in Float."},
      {failure([] { plain.decode<double>(tree("\"nan\"")); }),
       "typeMismatch: Expected to decode Double but found a string/data instead."},
      {failure([] { plain.decode<std::string>(tree("5")); }),
       "typeMismatch: Expected to decode String but found a number instead."},
      {failure([] { plain.decode<std::string>(Value()); }),
       "valueNotFound: Expected String but found null value instead."},
      {failure([] { plain.decode<int32_t>(Value()); }), "valueNotFound: Expected Int32 but found null value instead."},
      {failure([] { plain.decode<int16_t>(tree("[1]")); }),
       "typeMismatch: Expected to decode Int16 but found an array instead."},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);

  EXPECT_EQ(plain.decode<coding::Int>(tree("3.0")), 3);
  EXPECT_EQ(plain.decode<int64_t>(tree(int64Max)), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(plain.decode<uint64_t>(tree(int64Max)), uint64_t(std::numeric_limits<int64_t>::max()));
  EXPECT_EQ(plain.decode<uint64_t>(tree(uint64Max)), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(plain.decode<double>(tree("1e39")), 1e39);
  EXPECT_EQ(plain.decode<float>(tree("0.5")), 0.5f);
  EXPECT_TRUE(plain.decode<bool>(tree("true")));
  EXPECT_EQ(plain.decode<coding::Decimal>(tree("0.1")).text(), "0.1");

  RirivuduDataDecoder strings;
  strings.setNonConformingFloatDecodingStrategy(
      coding::NonConformingFloatDecodingStrategy::convertFromString("+inf", "-inf", "nan"));
  EXPECT_TRUE(std::isnan(strings.decode<double>(tree("\"nan\""))));
  EXPECT_TRUE(std::isnan(strings.decode<float>(tree("\"nan\""))));
  EXPECT_EQ(strings.decode<double>(tree("\"-inf\"")), -INFINITY);
  EXPECT_EQ(strings.decode<float>(tree("\"+inf\"")), INFINITY);
  EXPECT_EQ(failure([&] { strings.decode<double>(tree("\"NaN\"")); }),
            "typeMismatch: Expected to decode Double but found a string/data instead.");
  EXPECT_EQ(failure([&] { strings.decode<float>(tree("\"NaN\"")); }),
            "typeMismatch: Expected to decode Float but found a string/data instead.");
}

TEST(DecoderTest, ProtocolValuesAnswerForTheirViews) {
  RirivuduDataDecoder decoder;
  decoder.setDataDecodingStrategy(coding::DataDecodingStrategy::blob());
  EXPECT_EQ(decoder.decode<coding::Int>(fake()), 42);
  EXPECT_TRUE(decoder.decode<bool>(fake()));
  EXPECT_EQ(decoder.decode<std::string>(fake()), "text");
  EXPECT_EQ(decoder.decode<coding::Data>(fake()).bytes, (platform::Bytes{7, 8}));
  decoder.setDataDecodingStrategy(coding::DataDecodingStrategy::custom([](Decoder&) { return coding::Data{}; }));
  EXPECT_EQ(decoder.decode<coding::Data>(fake()).bytes, (platform::Bytes{7, 8}));
  // A dictionary form is taken as the requested dictionary type without converting entries.
  EXPECT_EQ((decoder.decode<std::map<std::string, int64_t>>(fake({}, platform::Dictionary{{"a", 1}}))),
            (std::map<std::string, int64_t>{{"a", 1}}));
  // One that is no such dictionary gives no value: at the top level that is no top-level value.
  EXPECT_EQ(failure([&] { decoder.decode<std::map<std::string, int64_t>>(fake({}, platform::Dictionary{{"a", "x"}})); }),
            "valueNotFound: The given data did not contain a top-level value.");
  EXPECT_EQ(failure([&] { decoder.decode<std::map<std::string, int64_t>>(fake()); }),
            "typeMismatch: Expected to decode Dictionary<String, Int64> but found FakeValue instead.");
}

TEST(DecoderTest, DateAndDataStrategies) {
  auto formatter = std::make_shared<platform::DateFormatter>(platform::DateFormatter::utc("yyyy-MM-dd"));
  struct Case {
    coding::DateDecodingStrategy strategy;
    std::string json;
    std::string expected;  // seconds since 1970, or the error
  };
  const Case cases[] = {
      {coding::DateDecodingStrategy::deferredToDate(), "-978307198.5", "1.5"},
      {coding::DateDecodingStrategy::secondsSince1970(), "1.5", "1.5"},
      {coding::DateDecodingStrategy::millisecondsSince1970(), "1500", "1.5"},
      {coding::DateDecodingStrategy::iso8601(), "\"1970-01-02T00:00:00Z\"", "86400"},
      {coding::DateDecodingStrategy::iso8601(), "\"1970-01-02\"",
       "dataCorrupted: Expected date string to be ISO8601-formatted."},
      {coding::DateDecodingStrategy::formatted(formatter), "\"1970-01-03\"", "172800"},
      {coding::DateDecodingStrategy::formatted(formatter), "\"03.01.1970\"",
       "dataCorrupted: Date string does not match format expected by formatter."},
      {coding::DateDecodingStrategy::custom([](Decoder& d) {
         return coding::Date{double(d.singleValueContainer().decode<std::string>().size())};
       }),
       "\"four\"", "4"},
      {coding::DateDecodingStrategy::secondsSince1970(), "\"x\"",
       "typeMismatch: Expected to decode Double but found a string/data instead."},
      {coding::DateDecodingStrategy::deferredToDate(), "\"x\"",
       "typeMismatch: Expected to decode Double but found a string/data instead."},
  };
  for (const Case& c : cases) {
    RirivuduDataDecoder decoder;
    decoder.setDateDecodingStrategy(c.strategy);
    std::string got;
    try {
      got = Value(decoder.decode<coding::Date>(tree(c.json)).secondsSince1970).stringValue();
    } catch (const coding::DecodingError& error) {
      got = error.kindName() + ": " + error.debugDescription();
    }
    EXPECT_EQ(got, c.expected) << c.json;
  }

  RirivuduDataDecoder decoder;
  EXPECT_EQ(decoder.decode<coding::Data>(tree("\"AQID\"")).bytes, (platform::Bytes{1, 2, 3}));
  EXPECT_EQ(failure([&] { decoder.decode<coding::Data>(tree("\"%%\"")); }),
            "dataCorrupted: Encountered Data is not valid Base64.");
  EXPECT_EQ(failure([&] { decoder.decode<coding::Data>(tree("5")); }),
            "typeMismatch: Expected to decode Data but found a number instead.");
  decoder.setDataDecodingStrategy(coding::DataDecodingStrategy::blob());
  EXPECT_EQ(decoder.decode<coding::Data>(Value::data(platform::Bytes{4})).bytes, (platform::Bytes{4}));
  EXPECT_EQ(decoder.decode<coding::Data>(tree("\"AQID\"")).bytes, (platform::Bytes{1, 2, 3}));
  EXPECT_EQ(failure([&] { decoder.decode<coding::Data>(tree("\"%%\"")); }),
            "typeMismatch: Expected to decode Data but found a string/data instead.");
  decoder.setDataDecodingStrategy(coding::DataDecodingStrategy::deferredToData());
  EXPECT_EQ(decoder.decode<coding::Data>(tree("[1, 255]")).bytes, (platform::Bytes{1, 255}));

  EXPECT_EQ(plain.decode<coding::URL>(tree("\"https://example.com/x\"")).string(), "https://example.com/x");
  EXPECT_EQ(failure([] { plain.decode<coding::URL>(tree("\"not a url\"")); }), "dataCorrupted: Invalid URL string.");
}

TEST(DecoderTest, KeyedContainer) {
  // Keys, null members and the path around each member.
  const Value person = tree(R"({"firstName": null, "age": 3, "nested": null, "list": 5})");
  struct Probe {
    static void run(Decoder& decoder, const std::function<void(coding::KeyedDecodingContainer&)>& body) {
      auto container = decoder.container();
      body(container);
    }
  };
  auto with = [&](const std::function<void(coding::KeyedDecodingContainer&)>& body) {
    auto decoder = std::make_shared<Decoder>(person, coding::DecoderOptions{});
    Probe::run(*decoder, body);
    EXPECT_TRUE(decoder->codingPath().empty());
  };
  struct Case {
    std::function<void(coding::KeyedDecodingContainer&)> body;
    std::string expected;
    std::string path;
  };
  const std::string nameKey = "CodingKeys(stringValue: \"name\", intValue: nil) (\"name\")";
  const Case cases[] = {
      {[](auto& c) { c.template decode<coding::Int>("name"); },
       "keyNotFound: No value associated with key " + nameKey + ".", "[]"},
      {[](auto& c) { c.decodeNil("name"); }, "keyNotFound: No value associated with key " + nameKey + ".", "[]"},
      {[](auto& c) { c.template decode<coding::Int>("firstName"); },
       "valueNotFound: Expected Int value but found null instead.", "[firstName]"},
      {[](auto& c) { c.template decode<Person>("firstName"); },
       "valueNotFound: Cannot get keyed decoding container -- found null value instead.", "[firstName]"},
      {[](auto& c) { c.template decodeIfPresent<std::string>("age"); },
       "typeMismatch: Expected to decode String but found a number instead.", "[age]"},
      {[](auto& c) { c.nestedContainer("nested"); },
       "typeMismatch: Expected to decode Dictionary<String, Any> but found a null value instead.", "[]"},
      {[](auto& c) { c.nestedContainer("name", "Inner"); },
       "keyNotFound: Cannot get KeyedDecodingContainer<Inner> -- no value found for key " + nameKey, "[]"},
      {[](auto& c) { c.nestedUnkeyedContainer("name"); },
       "keyNotFound: Cannot get UnkeyedDecodingContainer -- no value found for key " + nameKey, "[]"},
      {[](auto& c) { c.nestedUnkeyedContainer("list"); },
       "typeMismatch: Expected to decode Array<Any> but found a number instead.", "[]"},
  };
  for (const Case& c : cases) {
    with([&](coding::KeyedDecodingContainer& container) {
      EXPECT_EQ(failure([&] { c.body(container); }), c.expected);
      EXPECT_EQ(failurePath([&] { c.body(container); }), c.path) << c.expected;
    });
  }
  with([&](coding::KeyedDecodingContainer& c) {
    EXPECT_TRUE(c.contains("firstName"));
    EXPECT_FALSE(c.contains("name"));
    EXPECT_EQ(c.decodeIfPresent<coding::Int>("firstName"), std::nullopt);
    EXPECT_EQ(c.decodeIfPresent<coding::Int>("name"), std::nullopt);
    EXPECT_EQ(c.decodeIfPresent<coding::Int>("age"), 3);
    std::shared_ptr<Decoder> super = c.superDecoder();
    EXPECT_TRUE(super->decodeNil());
    EXPECT_EQ(coding::describePath(super->codingPath()), "[super]");
    EXPECT_EQ(c.allKeys().size(), 4u);
  });
}

TEST(DecoderTest, KeyStrategies) {
  RirivuduDataDecoder snake;
  snake.setKeyDecodingStrategy(coding::KeyDecodingStrategy::convertFromSnakeCase());
  EXPECT_EQ(snake.decode<Person>(tree(R"({"first_name": "Ann"})")).firstName, "Ann");
  // Both spellings present: the first in the dictionary's order wins.
  EXPECT_EQ(snake.decode<Person>(tree(R"({"first_name": "Ann", "firstName": "Bob"})")).firstName, "Ann");
  EXPECT_EQ(failure([&] { snake.decode<Person>(tree("{}")); }),
            "keyNotFound: No value associated with key CodingKeys(stringValue: \"firstName\", intValue: nil) "
            "(\"firstName\"), converted to first_name.");
  EXPECT_EQ(failure([&] { snake.decode<Keyed<int32_t>>(tree("{}")); }),
            "keyNotFound: No value associated with key CodingKeys(stringValue: \"value\", intValue: nil) "
            "(\"value\").");
  struct Divergent {
    static Divergent decode(Decoder& d) {
      d.container().decode<int32_t>("myURLValue");
      return {};
    }
  };
  EXPECT_EQ(failure([&] { snake.decode<Divergent>(tree("{}")); }),
            "keyNotFound: No value associated with key CodingKeys(stringValue: \"myURLValue\", intValue: nil) "
            "(\"myURLValue\"), with divergent representation myUrlValue, converted to my_url_value.");

  std::vector<coding::CodingPath> seen;
  RirivuduDataDecoder custom;
  custom.setKeyDecodingStrategy(coding::KeyDecodingStrategy::custom([&](const coding::CodingPath& path) {
    seen.push_back(path);
    return coding::CodingKey("firstName");
  }));
  EXPECT_EQ(custom.decode<Person>(tree(R"({"whatever": "Cy"})")).firstName, "Cy");
  ASSERT_EQ(seen.size(), 1u);
  ASSERT_EQ(seen[0].size(), 1u);
  EXPECT_EQ(seen[0][0].stringValue, "whatever");
  EXPECT_EQ(seen[0][0].intValue, std::nullopt);
}

struct Marked {
  static constexpr bool kUncodedUnkeyed = true;
  int depth = 0;
  static Marked decode(Decoder& d) { return {int(d.codingPath().size())}; }
};

TEST(DecoderTest, MarkedTypesDecodeStraightFromTheDecoder) {
  struct Holder {
    Marked marked;
    static Holder decode(Decoder& d) { return {d.container().decode<Marked>("absent")}; }
  };
  EXPECT_EQ(plain.decode<Holder>(tree("{}")).marked.depth, 0);
}

TEST(DecoderTest, UnkeyedContainer) {
  auto over = [](const std::string& json) {
    auto decoder = std::make_shared<Decoder>(tree(json), coding::DecoderOptions{});
    return std::make_pair(decoder, decoder->unkeyedContainer());
  };
  {
    auto [decoder, unkeyed] = over("[]");
    auto& c = unkeyed;  // lambdas below capture it: clang 14 cannot capture a binding
    EXPECT_EQ(c.count(), 0u);
    EXPECT_TRUE(c.isAtEnd());
    EXPECT_EQ(failure([&] { c.decode<coding::Int>(); }), "valueNotFound: Unkeyed container is at end.");
    EXPECT_EQ(failurePath([&] { c.decode<coding::Int>(); }), "[Index 0]");
    EXPECT_EQ(failure([&] { c.decodeNil(); }), "valueNotFound: Unkeyed container is at end.");
    EXPECT_EQ(failure([&] { c.nestedContainer(); }),
              "valueNotFound: Cannot get nested keyed container -- unkeyed container is at end.");
    EXPECT_EQ(failure([&] { c.nestedUnkeyedContainer(); }),
              "valueNotFound: Cannot get nested keyed container -- unkeyed container is at end.");
    EXPECT_EQ(failure([&] { c.superDecoder(); }),
              "valueNotFound: Cannot get superDecoder() -- unkeyed container is at end.");
  }
  {
    auto [decoder, c] = over("[null, 1]");
    EXPECT_TRUE(c.decodeNil());
    EXPECT_EQ(c.currentIndex(), 1u);
    EXPECT_EQ(c.decode<coding::Int>(), 1);
    EXPECT_TRUE(c.isAtEnd());
  }
  {
    auto [decoder, c] = over("[1]");
    EXPECT_FALSE(c.decodeNil());
    EXPECT_EQ(c.currentIndex(), 0u);
    EXPECT_EQ(c.decode<coding::Int>(), 1);
  }
  {
    auto [decoder, unkeyed] = over("[null]");
    auto& c = unkeyed;  // lambdas below capture it: clang 14 cannot capture a binding
    EXPECT_EQ(failure([&] { c.decode<coding::Int>(); }), "valueNotFound: Expected Int but found null instead.");
    EXPECT_EQ(failure([&] { c.decode<coding::Date>(); }), "valueNotFound: Expected Date but found null instead.");
    EXPECT_EQ(failure([&] { c.nestedContainer(); }),
              "valueNotFound: Cannot get keyed decoding container -- found null value instead.");
    EXPECT_EQ(failurePath([&] { c.nestedContainer(); }), "[]");
    EXPECT_EQ(failure([&] { c.nestedUnkeyedContainer(); }),
              "valueNotFound: Cannot get keyed decoding container -- found null value instead.");
    EXPECT_EQ(c.currentIndex(), 0u);
    EXPECT_TRUE(c.decodeNil());
  }
  {
    auto [decoder, unkeyed] = over(R"(["s", {"firstName": "Di"}, 5])");
    auto& c = unkeyed;  // lambdas below capture it: clang 14 cannot capture a binding
    EXPECT_EQ(failure([&] { c.decode<coding::Int>(); }),
              "typeMismatch: Expected to decode Int but found a string/data instead.");
    EXPECT_EQ(failurePath([&] { c.decode<coding::Int>(); }), "[Index 0]");
    EXPECT_TRUE(decoder->codingPath().empty());
    EXPECT_EQ(c.decode<std::string>(), "s");
    auto keyed = c.nestedContainer();
    EXPECT_EQ(coding::describePath(keyed.codingPath()), "[Index 1]");
    EXPECT_EQ(keyed.decode<std::string>("firstName"), "Di");
    EXPECT_EQ(failure([&] { c.nestedUnkeyedContainer(); }),
              "typeMismatch: Expected to decode Array<Any> but found a number instead.");
  }
  {
    auto [decoder, c] = over("[null]");
    std::shared_ptr<Decoder> super = c.superDecoder();
    EXPECT_TRUE(c.isAtEnd());
    EXPECT_TRUE(super->singleValueContainer().decodeNil());
  }
}

TEST(DecoderTest, ContainerFormsAndDictionaries) {
  struct Case {
    std::string actual;
    std::string expected;
  };
  const Case cases[] = {
      {failure([] { plain.decode<Keyed<coding::Int>>(tree(R"({"value": "7"})")); }),
       "typeMismatch: Expected to decode Int but found a string/data instead."},
      {failure([] { plain.decode<Unkeyed<bool>>(tree("[null]")); }),
       "valueNotFound: Expected Bool but found null instead."},
      {failure([] { plain.decode<Single<coding::Date>>(Value()); }),
       "valueNotFound: Expected Date but found null value instead."},
      {failure([] { plain.decode<Single<Person>>(Value()); }),
       "valueNotFound: Expected Person but found null value instead."},
      {failure([] { plain.decode<std::map<std::string, int8_t>>(tree(R"({"a": 1, "b": 999})")); }),
       "dataCorrupted: Parsed JSON number <999> does not fit in Int8."},
      {failure([] { plain.decode<std::map<std::string, int8_t>>(tree("[]")); }),
       "typeMismatch: Expected to decode Dictionary<String, Int8> but found an array instead."},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
  EXPECT_EQ(failurePath([] { plain.decode<std::map<std::string, int8_t>>(tree(R"({"a": 1, "b": 999})")); }),
            "[b]");

  // Entries that convert to no value are left out.
  RirivuduDataDecoder seconds;
  seconds.setDateDecodingStrategy(coding::DateDecodingStrategy::secondsSince1970());
  auto dates = seconds.decode<std::map<std::string, coding::Date>>(tree(R"({"a": 1, "b": null})"));
  EXPECT_EQ(dates.size(), 1u);
  EXPECT_EQ(dates.at("a").secondsSince1970, 1);

  EXPECT_EQ((plain.decode<std::vector<std::vector<int32_t>>>(tree("[[1], [], [2, 3]]"))),
            (std::vector<std::vector<int32_t>>{{1}, {}, {2, 3}}));
  EXPECT_EQ(plain.decode<std::vector<std::optional<int32_t>>>(tree("[1, null]")),
            (std::vector<std::optional<int32_t>>{1, std::nullopt}));
}

TEST(DecoderTest, Passthrough) {
  struct Holder {
    Value raw;
    static Holder decode(Decoder& d) { return {d.container().decode<Value>("raw")}; }
  };
  const Value structure = tree(R"({"raw": [1, "x"]})");
  EXPECT_EQ(failure([&] { plain.decode<Holder>(structure); }),
            "typeMismatch: Expected to decode Value but found an array instead.");
  RirivuduDataDecoder passing;
  passing.setPassthroughTypeResolver([](const Value& v) { return v.isArray(); });
  EXPECT_EQ(passing.decode<Holder>(structure).raw, structure["raw"]);
}

}  // namespace

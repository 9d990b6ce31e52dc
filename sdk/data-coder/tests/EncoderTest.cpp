#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "platform/values/Exception.h"
#include "sdk/data-coder/tests/CoderTestSupport.h"

namespace {

using codertest::failure;
using codertest::failurePath;
using codertest::text;
using coding::Encoder;
using platform::Value;

struct Fields {
  static constexpr const char* kCodingTypeName = "Fields";
  int64_t myPropertyName = 1;
  std::string userURL = "u";
  void encode(Encoder& encoder) const {
    auto c = encoder.container();
    c.encode(myPropertyName, "myPropertyName");
    c.encode(userURL, "userURL");
  }
};

struct WithDouble {
  double measure;
  void encode(Encoder& encoder) const {
    auto c = encoder.container();
    c.encode(measure, "myMeasure");
  }
};

// Encodes a keyed container twice at one level, and the same nested key twice.
struct TwoRequests {
  void encode(Encoder& encoder) const {
    encoder.container().encode(int32_t(1), "a");
    auto again = encoder.container();
    again.encode(int32_t(2), "b");
    again.nestedContainer("n").encode(true, "x");
    again.nestedContainer("n").encode(false, "y");
  }
};

struct Skipped {
  static constexpr bool kUncodedUnkeyed = true;
  void encode(Encoder& encoder) const { encoder.singleValueContainer().encode(std::string("skipped")); }
};

struct HoldsSkipped {
  void encode(Encoder& encoder) const {
    auto keyed = encoder.container();
    keyed.encode(Skipped{}, "skip");
    keyed.encode(codertest::Empty{}, "empty");
    auto list = keyed.nestedUnkeyedContainer("list");
    list.encode(Skipped{});
    list.encode(codertest::Empty{});
  }
};

// a, b, super-encoder (index 2), c, then the super-encoder's value s.
struct SuperInArray {
  void encode(Encoder& encoder) const {
    auto list = encoder.unkeyedContainer();
    list.encode(std::string("a"));
    list.encode(std::string("b"));
    std::shared_ptr<Encoder> super = list.superEncoder();
    list.encode(std::string("c"));
    super->singleValueContainer().encode(std::string("s"));
  }
};

struct SuperInDictionary {
  void encode(Encoder& encoder) const {
    auto keyed = encoder.container();
    keyed.encode(int32_t(1), "own");
    keyed.superEncoder();                         // encodes nothing: an empty dictionary
    auto named = keyed.superEncoder("parent");
    named->container().encode(std::string("p"), "field");
  }
};

// Records the coding path its encode sees.
struct PathRecorder {
  static inline coding::CodingPath seen;
  void encode(Encoder& encoder) const {
    seen = encoder.codingPath();
    encoder.singleValueContainer().encodeNil();
  }
};

struct FourElements {
  void encode(Encoder& encoder) const {
    auto list = encoder.unkeyedContainer();
    for (int i = 0; i < 3; ++i) list.encode(int32_t(i));
    list.encode(PathRecorder{});
  }
};

struct WithTreeValue {
  Value raw;
  void encode(Encoder& encoder) const { encoder.container().encode(raw, "raw"); }
};

struct TwoSingles {
  void encode(Encoder& encoder) const {
    encoder.singleValueContainer().encode(int32_t(1));
    encoder.singleValueContainer().encode(int32_t(2));
  }
};

TEST(EncoderTest, DefaultsAndTopLevel) {
  RirivuduDataEncoder encoder;
  EXPECT_EQ(encoder.dateEncodingStrategy().kind, coding::DateEncodingStrategy::Kind::DeferredToDate);
  EXPECT_EQ(encoder.dataEncodingStrategy().kind, coding::DataEncodingStrategy::Kind::Base64);
  EXPECT_EQ(encoder.nonConformingFloatEncodingStrategy().kind, coding::NonConformingFloatEncodingStrategy::Kind::Throw);
  EXPECT_EQ(encoder.keyEncodingStrategy().kind, coding::KeyEncodingStrategy::Kind::UseDefaultKeys);
  EXPECT_EQ(encoder.passthroughTypeResolver(), &coding::NoPassthroughTypes::passesThrough);
  EXPECT_TRUE(encoder.userInfo().empty());

  EXPECT_EQ(failure([&] { encoder.encode(codertest::Empty{}); }),
            "invalidValue: Top-level Empty did not encode any values.");
  EXPECT_EQ(failurePath([&] { encoder.encode(codertest::Empty{}); }), "[]");
  // Single values at the top level are the root themselves.
  EXPECT_EQ(text(encoder.encode(std::string("bare"))), "\"bare\"");
  EXPECT_EQ(text(encoder.encode(int32_t(7))), "7");
  EXPECT_EQ(text(encoder.encode(std::vector<std::optional<bool>>{true, std::nullopt})), "[true,null]");
}

TEST(EncoderTest, NumberKindsFollowTheSourceType) {
  RirivuduDataEncoder encoder;
  struct Case {
    Value node;
    platform::NumberKind kind;
  };
  const Case cases[] = {
      {encoder.encode(int8_t(100)), platform::NumberKind::Int8},
      {encoder.encode(int16_t(1)), platform::NumberKind::Int16},
      {encoder.encode(int32_t(1)), platform::NumberKind::Int32},
      {encoder.encode(int64_t(1)), platform::NumberKind::Int64},
      {encoder.encode(coding::Int(1)), platform::NumberKind::Int64},
      {encoder.encode(uint8_t(1)), platform::NumberKind::UInt8},
      {encoder.encode(std::numeric_limits<uint64_t>::max()), platform::NumberKind::UInt64},
      {encoder.encode(1.5f), platform::NumberKind::Float},
      {encoder.encode(1.5), platform::NumberKind::Double},
      {encoder.encode(true), platform::NumberKind::Bool},
  };
  for (const Case& c : cases) EXPECT_EQ(c.node.numberKind(), c.kind) << c.node.description();
  EXPECT_TRUE(encoder.encode(true).isTrueObject());
  EXPECT_EQ(encoder.encode(std::numeric_limits<uint64_t>::max()).asUInt64(), std::numeric_limits<uint64_t>::max());
}

TEST(EncoderTest, NonConformingFloats) {
  RirivuduDataEncoder encoder;
  const double inf = std::numeric_limits<double>::infinity();
  const std::string tail =
      " directly in JSON. Use JSONEncoder.NonConformingFloatEncodingStrategy.convertToString to specify how the "
      "value should be encoded.";
  EXPECT_EQ(failure([&] { encoder.encode(inf); }), "invalidValue: Unable to encode Double.infinity" + tail);
  EXPECT_EQ(failure([&] { encoder.encode(-inf); }), "invalidValue: Unable to encode -Double.infinity" + tail);
  EXPECT_EQ(failure([&] { encoder.encode(std::nanf("")); }), "invalidValue: Unable to encode Float.nan" + tail);
  EXPECT_EQ(failure([&] { encoder.encode(-std::numeric_limits<float>::infinity()); }),
            "invalidValue: Unable to encode -Float.infinity" + tail);
  // Inside a container the error's path ends with the field's key.
  EXPECT_EQ(failurePath([&] { encoder.encode(WithDouble{inf}); }), "[myMeasure]");

  encoder.setNonConformingFloatEncodingStrategy(
      coding::NonConformingFloatEncodingStrategy::convertToString("INF", "-INF", "NaN"));
  EXPECT_EQ(text(encoder.encode(std::nanf(""))), "\"NaN\"");
  EXPECT_EQ(text(encoder.encode(-inf)), "\"-INF\"");
  EXPECT_EQ(text(encoder.encode(std::vector<double>{inf, 2.5})), "[\"INF\",2.5]");
}

TEST(EncoderTest, DateStrategies) {
  const coding::Date date{1.5};
  auto formatter = std::make_shared<platform::DateFormatter>(platform::DateFormatter::utc("yyyy-MM-dd HH:mm:ss.SSS"));
  struct Case {
    coding::DateEncodingStrategy strategy;
    std::string expected;
  };
  const Case cases[] = {
      {coding::DateEncodingStrategy::deferredToDate(), "-978307198.5"},
      {coding::DateEncodingStrategy::secondsSince1970(), "1.5"},
      {coding::DateEncodingStrategy::millisecondsSince1970(), "1500.0"},
      {coding::DateEncodingStrategy::iso8601(), "\"1970-01-01T00:00:01Z\""},
      {coding::DateEncodingStrategy::formatted(formatter), "\"1970-01-01 00:00:01.500\""},
      {coding::DateEncodingStrategy::custom([](const coding::Date&, Encoder&) {}), "{}"},
      {coding::DateEncodingStrategy::custom([](const coding::Date& d, Encoder& e) {
         e.singleValueContainer().encode(std::to_string(int(d.secondsSince1970 * 10)));
       }),
       "\"15\""},
  };
  for (const Case& c : cases) {
    RirivuduDataEncoder encoder;
    encoder.setDateEncodingStrategy(c.strategy);
    EXPECT_EQ(text(encoder.encode(date)), c.expected);
    EXPECT_EQ(text(encoder.encode(std::vector<coding::Date>{date})), "[" + c.expected + "]");
  }
  // A failing custom closure leaves no container behind and its error passes through.
  RirivuduDataEncoder encoder;
  encoder.setDateEncodingStrategy(coding::DateEncodingStrategy::custom([](const coding::Date&, Encoder& e) {
    e.unkeyedContainer().encode(std::numeric_limits<double>::infinity());
  }));
  EXPECT_EQ(failurePath([&] { encoder.encode(std::map<std::string, coding::Date>{{"when", date}}); }),
            "[when, Index 0]");
}

TEST(EncoderTest, DataStrategiesAndOtherSpecialKinds) {
  const coding::Data bytes{{1, 2, 3}};
  RirivuduDataEncoder encoder;
  EXPECT_EQ(text(encoder.encode(bytes)), "\"AQID\"");
  encoder.setDataEncodingStrategy(coding::DataEncodingStrategy::blob());
  Value blob = encoder.encode(bytes);
  ASSERT_TRUE(blob.isData());
  EXPECT_EQ(*blob.asData(), bytes.bytes);
  encoder.setDataEncodingStrategy(coding::DataEncodingStrategy::deferredToData());
  Value numbers = encoder.encode(bytes);
  EXPECT_EQ(text(numbers), "[1,2,3]");
  EXPECT_EQ(numbers[0].numberKind(), platform::NumberKind::UInt8);
  encoder.setDataEncodingStrategy(coding::DataEncodingStrategy::custom(
      [](const coding::Data& d, Encoder& e) { e.singleValueContainer().encode(int32_t(d.bytes.size())); }));
  EXPECT_EQ(text(encoder.encode(bytes)), "3");

  EXPECT_EQ(text(encoder.encode(*coding::URL::parse("https://example.com/a?b=1"))), "\"https://example.com/a?b=1\"");
  Value decimal = encoder.encode(coding::Decimal::fromDouble(0.1));
  ASSERT_TRUE(coding::Decimal::fromNode(decimal));
  EXPECT_EQ(coding::Decimal::fromNode(decimal)->text(), "0.1");
}

TEST(EncoderTest, KeyStrategies) {
  RirivuduDataEncoder encoder;
  EXPECT_EQ(text(encoder.encode(Fields{})), R"({"myPropertyName":1,"userURL":"u"})");
  encoder.setKeyEncodingStrategy(coding::KeyEncodingStrategy::convertToSnakeCase());
  EXPECT_EQ(text(encoder.encode(Fields{})), R"({"my_property_name":1,"user_url":"u"})");
  // The path keeps the key as written.
  EXPECT_EQ(failurePath([&] { encoder.encode(WithDouble{NAN}); }), "[myMeasure]");
  // Dictionary keys are not converted.
  EXPECT_EQ(text(encoder.encode(std::map<std::string, int32_t>{{"camelCase", 1}})), R"({"camelCase":1})");

  std::vector<coding::CodingPath> seen;
  encoder.setKeyEncodingStrategy(coding::KeyEncodingStrategy::custom([&](const coding::CodingPath& path) {
    seen.push_back(path);
    return coding::CodingKey("same");
  }));
  // Both fields land on one key: the later write wins.
  EXPECT_EQ(text(encoder.encode(Fields{})), R"({"same":"u"})");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(coding::describePath(seen[1]), "[userURL]");
}

TEST(EncoderTest, ContainersNestingAndSuperEncoders) {
  RirivuduDataEncoder encoder;
  EXPECT_EQ(text(encoder.encode(TwoRequests{})), R"({"a":1,"b":2,"n":{"x":true,"y":false}})");
  EXPECT_EQ(text(encoder.encode(HoldsSkipped{})), R"({"empty":{},"list":["skipped",{}]})");
  EXPECT_EQ(text(encoder.encode(SuperInArray{})), R"(["a","b","s","c"])");
  EXPECT_EQ(text(encoder.encode(SuperInDictionary{})), R"({"own":1,"parent":{"field":"p"},"super":{}})");
  encoder.encode(FourElements{});
  ASSERT_EQ(PathRecorder::seen.size(), 1u);
  EXPECT_EQ(PathRecorder::seen[0].stringValue, "Index 3");
  EXPECT_EQ(PathRecorder::seen[0].intValue, 3);
  EXPECT_EQ(PathRecorder::seen[0].description(), "_JSONKey(stringValue: \"Index 3\", intValue: 3)");

  EXPECT_THROW(encoder.encode(TwoSingles{}), platform::Exception);
}

TEST(EncoderTest, PassthroughAndSnapshot) {
  RirivuduDataEncoder encoder;
  const Value raw = Value::data(platform::Bytes{9});
  EXPECT_EQ(failure([&] { encoder.encode(WithTreeValue{raw}); }),
            "invalidValue: Value is not passed through by the passthrough type resolver.");
  encoder.setPassthroughTypeResolver([](const Value& value) { return value.isData(); });
  Value encoded = encoder.encode(WithTreeValue{raw});
  EXPECT_EQ(encoded["raw"], raw);

  // A strategy changed while an encode runs applies from the next call on.
  RirivuduDataEncoder changing;
  changing.setDateEncodingStrategy(coding::DateEncodingStrategy::custom([&](const coding::Date&, Encoder& e) {
    changing.setKeyEncodingStrategy(coding::KeyEncodingStrategy::convertToSnakeCase());
    e.singleValueContainer().encodeNil();
  }));
  struct DateThenFields {
    void encode(Encoder& e) const {
      auto c = e.container();
      c.encode(coding::Date{0}, "whenDone");
      c.encode(int32_t(1), "afterThat");
    }
  };
  EXPECT_EQ(text(changing.encode(DateThenFields{})), R"({"afterThat":1,"whenDone":null})");
  EXPECT_EQ(text(changing.encode(DateThenFields{})), R"({"after_that":1,"when_done":null})");
}

}  // namespace

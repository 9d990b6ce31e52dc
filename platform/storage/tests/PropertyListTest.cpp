#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iomanip>
#include <limits>

#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/tests/TempHome.h"
#include "testing/Fixtures.h"

namespace platform::storage_test {
namespace {

Value everyType() {
  return Value::dict({
      {"string", Value("héllo <&>")},
      {"int", Value(42)},
      {"negative", Value(-5LL)},
      {"int64min", Value(std::numeric_limits<long long>::min())},
      {"uint64max", Value(std::numeric_limits<unsigned long long>::max())},
      {"aboveInt64", Value(static_cast<unsigned long long>(1) << 63)},
      {"real", Value(2.5)},
      {"true", Value(true)},
      {"false", Value(false)},
      {"one", Value(1)},
      {"date", Value::date(1700000000)},
      {"distantPast", Value::dateSinceReference(-63114076800.0)},
      {"distantFuture", Value::dateSinceReference(63113904000.0)},
      {"data", Value::data(Bytes{0, 1, 2, 255})},
      {"emptyData", Value::data(Bytes{})},
      {"array", Value::array({Value(1), Value("two"), Value::array({})})},
      {"dict", Value::dict({{"nested", Value::dict({{"k", Value(false)}})}})},
  });
}

TEST(PropertyListTest, EveryTypeRoundTripsInBothFormats) {
  for (PropertyListFormat format : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
    SCOPED_TRACE(format == PropertyListFormat::Xml ? "xml" : "binary");
    Value original = everyType();
    Result<Bytes> bytes = PropertyList::serialize(original, format);
    ASSERT_TRUE(bytes) << bytes.error().description();
    Result<Value> back = PropertyList::parse(bytes.value());
    ASSERT_TRUE(back) << back.error().description();
    EXPECT_EQ(back.value(), original) << back->description();
    // Kinds, not just values: bool stays bool, 1 stays an integer, sign kept.
    EXPECT_TRUE(back.value()["true"].isBool());
    EXPECT_TRUE(back.value()["one"].isInteger());
    EXPECT_EQ(back.value()["uint64max"].asUInt64(), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(back.value()["uint64max"].numberKind(), NumberKind::UInt64);
    EXPECT_EQ(back.value()["negative"].asInt64(), -5);
    EXPECT_EQ(back.value()["int64min"].numberKind(), NumberKind::Int64);
    EXPECT_TRUE(back.value()["real"].isFloatingNumber());
  }
  // Binary lists keep microseconds (XML text has whole seconds only), also
  // before the 2001 reference date, where the stored seconds are negative.
  for (double seconds : {1700000000.25, 1000.5, 978307189.75, 978307200.5}) {
    SCOPED_TRACE(seconds);
    Value fine = Value::array({Value::date(seconds)});
    Result<Value> back = PropertyList::parse(PropertyList::serialize(fine, PropertyListFormat::Binary).value());
    ASSERT_TRUE(back);
    EXPECT_DOUBLE_EQ(*back.value()[0].asDate(), seconds);
  }
}

TEST(PropertyListTest, DatesReadBackAsTheyAreWrittenAgain) {
  // Seconds since 1970: fractions finer than a microsecond (a stored date
  // once lost a microsecond on every read and write), the edges of the
  // 32-bit seconds range around 2001 and the years 0 and 9999.
  for (double seconds : {1797526876.4140191, 1797526876.414019, -1169174300.5163519, 978307200.0000004,
                         3125792447.9999999, 3125792448.5, -1169174400.25, -62167219200.0, 253402300799.0}) {
    SCOPED_TRACE(testing::Message() << std::setprecision(17) << seconds);
    for (PropertyListFormat format : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
      Result<Value> once = PropertyList::parse(PropertyList::serialize(Value::date(seconds), format).value());
      ASSERT_TRUE(once) << once.error().description();
      Result<Value> twice = PropertyList::parse(PropertyList::serialize(once.value(), format).value());
      ASSERT_TRUE(twice);
      EXPECT_EQ(*once->asDate(), *twice->asDate());
      // Binary lists keep microseconds within 2^31 s of 2001, whole seconds elsewhere.
      const bool fine = format == PropertyListFormat::Binary && std::fabs(seconds - Value::kReferenceDateOffset) < 2147483648.0;
      EXPECT_NEAR(*once->asDate(), seconds, fine ? 1e-6 : 1.0);
    }
  }
}

TEST(PropertyListTest, ValuesWithoutAPropertyListFormAreRefused) {
  for (const Value& v : {Value::dict({{"n", Value()}}), Value::array({Value::set({Value(1)})}),
                         Value::dict({{"d", Value::date(std::numeric_limits<double>::infinity())}})}) {
    Result<Bytes> bytes = PropertyList::serialize(v, PropertyListFormat::Binary);
    ASSERT_FALSE(bytes) << v.description();
    EXPECT_EQ(bytes.error().code, PropertyList::kWriteInvalidError);
  }
  // Text libplist would cut short (at a NUL) or drop (ill-formed UTF-8).
  for (const Value& v : {Value::array({Value(std::string("a\0b", 3))}), Value::array({Value("F3\xB3" "F5")}),
                         Value::dict({{std::string("k\0ey", 4), Value(1)}}), Value::dict({{"k\xED\xA0\x80", Value(1)}})}) {
    for (PropertyListFormat format : {PropertyListFormat::Xml, PropertyListFormat::Binary}) {
      Result<Bytes> bytes = PropertyList::serialize(v, format);
      ASSERT_FALSE(bytes) << v.description();
      EXPECT_EQ(bytes.error().code, PropertyList::kWriteInvalidError);
    }
  }
  Array cyclic;
  cyclic.append(Value(cyclic));
  EXPECT_FALSE(PropertyList::serialize(Value(cyclic), PropertyListFormat::Xml));
  cyclic.clear();  // break the cycle so the storage is freed
}

TEST(PropertyListTest, HostileInputGivesErrorsNotCrashes) {
  std::string deepXml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 100000; ++i) deepXml += "<array>";
  for (int i = 0; i < 100000; ++i) deepXml += "</array>";
  deepXml += "</plist>";

  // A binary list whose only array contains itself, and one nested 100000 deep.
  auto binary = [](size_t n, bool cycle) {
    std::string b = "bplist00";
    std::vector<uint32_t> offsets;
    for (size_t i = 0; i < n; ++i) {
      offsets.push_back(static_cast<uint32_t>(b.size()));
      uint32_t child = cycle ? static_cast<uint32_t>(i) : static_cast<uint32_t>(i + 1);
      if (i + 1 == n && !cycle) {
        b += '\xA0';
        continue;
      }
      b += '\xA1';
      for (int s = 24; s >= 0; s -= 8) b += static_cast<char>(child >> s);
    }
    uint64_t table = b.size();
    for (uint32_t o : offsets)
      for (int s = 24; s >= 0; s -= 8) b += static_cast<char>(o >> s);
    b += std::string(6, '\0');
    b += '\x04';
    b += '\x04';
    for (uint64_t v : {static_cast<uint64_t>(n), uint64_t{0}, table})
      for (int s = 56; s >= 0; s -= 8) b += static_cast<char>(v >> s);
    return b;
  };

  // A valid binary list with `marker` replaced by `by` (same length).
  auto patched = [](const Value& v, std::string_view marker, std::string_view by) {
    Bytes bytes = PropertyList::serialize(v, PropertyListFormat::Binary).value();
    std::string b(bytes.begin(), bytes.end());
    size_t at = b.find(marker);
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos) b.replace(at, by.size(), by);
    return b;
  };
  const std::string xmlHead = "<?xml version=\"1.0\"?><plist version=\"1.0\">";

  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"empty", ""},
      {"garbage", "hello world"},
      {"truncated binary", "bplist00\xD1\x01\x02"},
      {"unterminated xml", "<?xml version=\"1.0\"?><plist><dict><key>a</key>"},
      {"deep xml", deepXml},
      {"binary cycle", binary(1, true)},
      {"deep binary", binary(100000, false)},
      // Strings and keys holding NUL characters or ill-formed UTF-8.
      {"NUL in an ASCII string", patched(Value::array({Value("aXb")}), "aXb", std::string("a\0b", 3))},
      {"NUL in a UTF-16 string", patched(Value::array({Value("\xC3\xA9!")}), std::string("\0!", 2), std::string(2, '\0'))},
      {"NUL in a key", patched(Value::dict({{"kXy", Value(1)}}), "kXy", std::string("k\0y", 3))},
      {"high byte in an ASCII string", patched(Value::array({Value("aXb")}), "aXb", "a\xB3" "b")},
      {"lone surrogate in a UTF-16 string",
       patched(Value::array({Value("\xC3\xA9!")}), std::string("\0!", 2), "\xD8\x00")},
      {"NUL in XML text", xmlHead + "<string>a" + std::string(1, '\0') + "b</string></plist>"},
      {"date not a number", patched(Value::array({Value::dateSinceReference(0.5)}), std::string("\x33\x3F\xE0", 3),
                                    std::string("\x33\x7F\xF8", 3))},
      {"date past the year 9999", patched(Value::array({Value::dateSinceReference(0.5)}),
                                          std::string("\x33\x3F\xE0", 3), std::string("\x33\x46\xE0", 3))},
      {"ill-formed UTF-8 in XML", xmlHead + "<dict><key>k\xB3</key><string>v</string></dict></plist>"},
  };
  for (const Case& c : cases) {
    Result<Value> r = PropertyList::parse(c.bytes);
    EXPECT_FALSE(r) << c.name;
  }
  EXPECT_TRUE(PropertyList::parse(binary(50, false))) << "moderate nesting is fine";
}

// A binary list whose arrays each reference the next one twice: `levels`
// arrays and one leaf in the file, 2^levels leaves once expanded.
std::string sharedChain(unsigned levels) {
  std::string b = "bplist00";
  std::string offsets;
  for (unsigned i = 0; i < levels; ++i) {
    offsets += static_cast<char>(b.size());
    b += {'\xA2', static_cast<char>(i + 1), static_cast<char>(i + 1)};
  }
  offsets += static_cast<char>(b.size());
  b += '\x08';
  const size_t table = b.size();
  b += offsets + std::string(6, '\0') + "\x01\x01";
  for (uint64_t v : {uint64_t{levels} + 1, uint64_t{0}, uint64_t{table}})
    for (int s = 56; s >= 0; s -= 8) b += static_cast<char>(v >> s);
  return b;
}

TEST(PropertyListTest, StoredFileReproducersAreErrors) {
  // A UTF-16 string holding U+0000 once aborted the process inside libplist,
  // and 130 bytes of shared references expanded to 4 million objects
  // (44 s and 775 MB).
  for (const char* name : {"string-with-nul.plist", "shared-references.plist"}) {
    Bytes bytes = testkit::fixture(std::string("platform/storage/tests/fixtures/") + name);
    Result<Value> r = PropertyList::parse(bytes);
    ASSERT_FALSE(r) << name;
    EXPECT_EQ(r.error().code, PropertyList::kReadCorruptError) << name;
  }
  // Sharing itself is fine while the expanded tree stays small.
  Result<Value> shared = PropertyList::parse(sharedChain(10));
  ASSERT_TRUE(shared) << shared.error().description();
  EXPECT_EQ(shared.value()[1][0][1][0][1][0][1][0][1][0], Value(false));
  EXPECT_FALSE(PropertyList::parse(sharedChain(21)));
}

TEST(PropertyListTest, LenientReadDropsOnlyValuesThatCannotBeWrittenBack) {
  // A suite whose date reads as the year -1 beside a good flag.
  Bytes damaged = testkit::fixture("platform/storage/tests/fixtures/date-year-minus-one.plist");
  EXPECT_FALSE(PropertyList::parse(damaged));
  std::vector<std::string> dropped;
  Result<Value> kept = PropertyList::parseDroppingUnwritable(damaged.data(), damaged.size(), dropped);
  ASSERT_TRUE(kept) << kept.error().description();
  EXPECT_EQ(kept.value(), Value::dict({{"flag", Value(true)}}));
  EXPECT_EQ(dropped, std::vector<std::string>{"when"});
  EXPECT_TRUE(PropertyList::serialize(kept.value(), PropertyListFormat::Binary));

  // Nested values are dropped where they stand, with their path; damage to
  // the list itself is still an error.
  const std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><array><integer>1</integer>"
                          "<string>F3\xB3</string></array><key>b</key><dict><key>c</key><date>0001-01-01T00:00:00Z</date>"
                          "</dict></dict></plist>";
  dropped.clear();
  kept = PropertyList::parseDroppingUnwritable(xml.data(), xml.size(), dropped);
  ASSERT_TRUE(kept) << kept.error().description();
  EXPECT_EQ(kept.value(), Value::dict({{"a", Value::array({Value(1)})},
                                       {"b", Value::dict({{"c", Value::dateSinceReference(-63113904000.0)}})}}));
  EXPECT_EQ(dropped, std::vector<std::string>{"a/[1]"});
  for (const char* name : {"string-with-nul.plist", "shared-references.plist"}) {
    Bytes bytes = testkit::fixture(std::string("platform/storage/tests/fixtures/") + name);
    EXPECT_FALSE(PropertyList::parseDroppingUnwritable(bytes.data(), bytes.size(), dropped)) << name;
  }
}

TEST(PropertyListTest, EmbeddedXmlIsFoundInsideOtherBytes) {
  std::string inner = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>Name</key>"
                      "<string>profile</string></dict></plist>";
  std::string file = std::string("\x30\x82\x01\x02 signed blob ") + inner + std::string("\x00\xA0 trailer", 10);
  Result<Value> r = PropertyList::parseEmbeddedXml(file.data(), file.size());
  ASSERT_TRUE(r) << r.error().description();
  EXPECT_EQ(r.value()["Name"], Value("profile"));
  EXPECT_FALSE(PropertyList::parseEmbeddedXml("no list here", 12));
}

using PropertyListFileTest = TempHome;

TEST_F(PropertyListFileTest, ReadDictionaryTellsUnreadableFromNotADictionary) {
  ASSERT_FALSE(PropertyList::writeFile(path("array.plist"), Value::array({Value(1)})));
  ASSERT_FALSE(fs::writeFile(path("junk.plist"), std::string_view("not a plist")));
  ASSERT_FALSE(PropertyList::writeFile(path("dict.plist"), Value::dict({{"k", Value(7)}}), PropertyListFormat::Binary));

  auto notDict = PropertyList::readDictionary(path("array.plist"));
  ASSERT_FALSE(notDict);
  EXPECT_TRUE(PropertyList::isNotADictionary(notDict.error()));

  auto junk = PropertyList::readDictionary(path("junk.plist"));
  ASSERT_FALSE(junk);
  EXPECT_FALSE(PropertyList::isNotADictionary(junk.error()));
  EXPECT_EQ(junk.error().code, PropertyList::kReadCorruptError);

  auto missing = PropertyList::readDictionary(path("missing.plist"));
  ASSERT_FALSE(missing);
  EXPECT_TRUE(FileError::isNoSuchFile(missing.error()));

  auto dict = PropertyList::readDictionary(path("dict.plist"));
  ASSERT_TRUE(dict);
  EXPECT_EQ(dict->get("k"), Value(7));
}

}  // namespace
}  // namespace platform::storage_test

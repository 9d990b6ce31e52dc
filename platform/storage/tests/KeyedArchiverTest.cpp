#include <gtest/gtest.h>

#include "platform/storage/ArchiveClassRegistry.h"
#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "platform/storage/PropertyList.h"

namespace platform {
namespace {

struct TokenInfo : Archivable {
  std::string token;
  std::string className() const override { return "TokenInfo"; }
  void encodeWith(KeyedArchiver& a) const override { a.encodeObject("token", Value(token)); }
};

struct StoredItem : Archivable {
  std::string id;
  int64_t status = 0;
  std::shared_ptr<TokenInfo> info;
  std::string className() const override { return "StoredItem"; }
  void encodeWith(KeyedArchiver& a) const override {
    a.encodeObject("installationID", Value(id));
    a.encodeInt64("registrationStatus", status);
    a.encodeObject("info", info);
    a.encodeInteger("storageVersion", 1);
  }
};

class KeyedArchiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ArchiveClassRegistry::registerClass("TokenInfo", [](KeyedUnarchiver& u) -> std::shared_ptr<Archivable> {
      auto token = u.decodeObject("token", {KeyedArchiver::kStringClass});
      if (!token || !token->isString()) return nullptr;
      auto t = std::make_shared<TokenInfo>();
      t->token = *token->asString();
      return t;
    });
    ArchiveClassRegistry::registerClass("StoredItem", [](KeyedUnarchiver& u) -> std::shared_ptr<Archivable> {
      auto item = std::make_shared<StoredItem>();
      auto id = u.decodeObject("installationID", {KeyedArchiver::kStringClass});
      auto info = u.decodeObjectOfClass<TokenInfo>("info", "TokenInfo");
      if (!id || !info) return nullptr;
      item->id = id->stringValue();
      item->info = info.value();
      item->status = u.decodeInt64("registrationStatus");
      return item;
    });
  }
  void TearDown() override {
    ArchiveClassRegistry::unregisterClass("TokenInfo");
    ArchiveClassRegistry::unregisterClass("StoredItem");
  }

  static Bytes sample() {
    StoredItem item;
    item.id = "fid-1";
    item.status = 2;
    item.info = std::make_shared<TokenInfo>();
    item.info->token = "tok";
    return KeyedArchiver::archivedData(item).value();
  }
};

TEST_F(KeyedArchiverTest, NestedObjectsRoundTrip) {
  auto u = KeyedUnarchiver::forReadingFromData(sample());
  ASSERT_TRUE(u);
  auto item = u.value()->decodeObjectOfClass<StoredItem>(KeyedArchiver::kRootKey, "StoredItem");
  ASSERT_TRUE(item) << item.error().description();
  ASSERT_TRUE(item.value());
  EXPECT_EQ(item.value()->id, "fid-1");
  EXPECT_EQ(item.value()->status, 2);
  EXPECT_EQ(item.value()->info->token, "tok");
}

TEST_F(KeyedArchiverTest, WrongClassFailsWithAnError) {
  auto result = KeyedUnarchiver::unarchivedObject({"TokenInfo"}, sample());
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, KeyedUnarchiver::kReadCorruptError);
  EXPECT_NE(result.error().localizedDescription().find("StoredItem"), std::string::npos);

  // A container is checked element by element.
  Bytes mixed = KeyedArchiver::archivedData(Value::array({Value("a"), Value(1)})).value();
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObject({KeyedArchiver::kArrayClass, KeyedArchiver::kStringClass}, mixed));
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObject(
      {KeyedArchiver::kArrayClass, KeyedArchiver::kStringClass, KeyedArchiver::kNumberClass}, mixed));
}

TEST_F(KeyedArchiverTest, AbsentScalarsAndObjectsDecodeAsZeroAndNull) {
  KeyedArchiver a;
  a.encodeInt32("i32", -7);
  a.encodeBool("b", true);
  a.encodeDouble("d", 0.5);
  a.encodeObject("$odd", Value("dollar key"));
  auto u = KeyedUnarchiver::forReadingFromData(a.finishEncoding().value()).value();
  EXPECT_EQ(u->decodeInt32("i32"), -7);
  EXPECT_TRUE(u->decodeBool("b"));
  EXPECT_EQ(u->decodeDouble("d"), 0.5);
  EXPECT_EQ(u->decodeInt64("absent"), 0);
  EXPECT_EQ(u->decodeInt32("absent"), 0);
  EXPECT_FALSE(u->decodeBool("absent"));
  EXPECT_EQ(u->decodeDouble("absent"), 0.0);
  EXPECT_FALSE(u->containsValueForKey("absent"));
  EXPECT_TRUE(u->containsValueForKey("$odd"));
  EXPECT_EQ(u->decodeObject("$odd").valueOr(Value()), Value("dollar key"));
  auto absent = u->decodeObject("absent", {KeyedArchiver::kStringClass});
  ASSERT_TRUE(absent);
  EXPECT_TRUE(absent->isNull());
}

TEST_F(KeyedArchiverTest, ClassNameSubstitutionAndMapping) {
  TokenInfo info;
  info.token = "legacy";
  KeyedArchiver a;
  a.setClassName("OldTokenInfo", "TokenInfo");
  a.encodeRootObject(info);
  Bytes bytes = a.finishEncoding().value();

  // Stored under the substituted name: without a mapping it is unknown.
  auto top = PropertyList::parse(bytes).value();
  EXPECT_EQ(top["$top"]["root"]["$class"], Value("OldTokenInfo"));
  EXPECT_FALSE(KeyedUnarchiver::unarchivedObject({"TokenInfo"}, bytes));

  auto u = KeyedUnarchiver::forReadingFromData(bytes).value();
  u->setClass("TokenInfo", "OldTokenInfo");
  auto decoded = u->decodeObjectOfClass<TokenInfo>(KeyedArchiver::kRootKey, "TokenInfo");
  ASSERT_TRUE(decoded) << decoded.error().description();
  EXPECT_EQ(decoded.value()->token, "legacy");
}

TEST_F(KeyedArchiverTest, PlainValuesRoundTrip) {
  // Text a property list cannot hold (U+0000 inside, bytes that are not
  // UTF-8) is kept whole: a refresh token was once stored cut at its NUL.
  Value v = Value::dict({{"s", Value("x")},
                         {"nul", Value(std::string("refresh\0SECRET", 14))},
                         {"notUtf8", Value("F3\xB3")},
                         {"n", Value(std::numeric_limits<long long>::max())},
                         {"b", Value(false)},
                         {"date", Value::date(1234.5)},
                         {"data", Value::data(Bytes{9})},
                         {"null", Value()},
                         {"set", Value::set({Value("t1"), Value("t2")})},
                         {"$class", Value("not a class")},
                         {"objects", Value::array({KeyedArchiver::wrap(std::make_shared<TokenInfo>())})}});
  Bytes bytes = KeyedArchiver::archivedData(v).value();
  auto back = KeyedUnarchiver::forReadingFromData(bytes).value()->decodeTopLevelObject(
      {KeyedArchiver::kDictionaryClass, KeyedArchiver::kStringClass, KeyedArchiver::kNumberClass,
       KeyedArchiver::kDateClass, KeyedArchiver::kDataClass, KeyedArchiver::kNullClass, KeyedArchiver::kSetClass,
       KeyedArchiver::kArrayClass, "TokenInfo"});
  ASSERT_TRUE(back) << back.error().description();
  EXPECT_TRUE(back.value()["b"].isFalseObject());
  EXPECT_TRUE(back.value()["null"].isNull());
  EXPECT_TRUE(back.value()["set"].isSet());
  EXPECT_EQ(back.value()["set"], v["set"]);
  EXPECT_EQ(back.value()["n"], v["n"]);
  EXPECT_EQ(back.value()["$class"], Value("not a class"));
  EXPECT_EQ(back.value()["nul"], v["nul"]);
  EXPECT_EQ(back.value()["notUtf8"], v["notUtf8"]);
  EXPECT_TRUE(std::dynamic_pointer_cast<TokenInfo>(KeyedArchiver::unwrap(back.value()["objects"][0])));
}

TEST_F(KeyedArchiverTest, CorruptOrHostileArchivesGiveNoObjectAndAnError) {
  Bytes good = sample();
  Bytes truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
  auto archive = [](Value root) {
    Value top = Value::dict({{"$archiver", Value("platform.KeyedArchiver")}, {"$version", Value(1)},
                             {"$top", Value::dict({{"root", root}})}});
    return PropertyList::serialize(top, PropertyListFormat::Binary).value();
  };
  Bytes noClass = archive(Value::dict({{"token", Value("t")}}));
  Bytes numericClass = archive(Value::dict({{"$class", Value(5)}}));
  Bytes unknownClass = archive(Value::dict({{"$class", Value("Unknown")}}));
  Bytes badSet = archive(Value::dict({{"$class", Value("Set")}, {"$items", Value(3)}}));
  Bytes badString = archive(Value::dict({{"$class", Value("String")}, {"$bytes", Value("not data")}}));
  Bytes otherPlist = PropertyList::serialize(Value::dict({{"root", Value(1)}}), PropertyListFormat::Binary).value();
  for (const Bytes& bytes : {Bytes{}, Bytes{'x', 'y'}, truncated, otherPlist, noClass, numericClass, unknownClass,
                            badSet, badString}) {
    auto r = KeyedUnarchiver::unarchivedObject({"StoredItem", "TokenInfo", "Unknown", "Set", "String"}, bytes);
    EXPECT_FALSE(r);
  }

  // Self-containing objects and too-deep nesting are refused while encoding.
  struct Loop : Archivable {
    std::string className() const override { return "Loop"; }
    void encodeWith(KeyedArchiver& a) const override { a.encodeObject("self", *this); }
  };
  auto loop = KeyedArchiver::archivedData(Loop());
  ASSERT_FALSE(loop);
  EXPECT_EQ(loop.error().code, KeyedArchiver::kInvalidValueError);
  EXPECT_FALSE(KeyedArchiver::archivedData(Value::opaque(std::make_shared<int>(3))));
}

}  // namespace
}  // namespace platform

#include <limits>
#include <thread>

#include "platform/storage/FileSystem.h"
#include "platform/storage/Preferences.h"
#include "platform/storage/StandardFolders.h"
#include "platform/storage/UserDefaults.h"
#include "platform/storage/tests/TempHome.h"
#include "testing/Fixtures.h"

namespace platform::storage_test {
namespace {

using UserDefaultsTest = TempHome;

TEST_F(UserDefaultsTest, KindsSurviveAReload) {
  {
    auto d = UserDefaults::suite("APMAnalyticsSuiteName");
    d->setBool("flag", true);
    d->setInteger("one", 1);
    d->setDouble("real", 1.0);
    d->set("token", Value::data(Bytes{1, 2, 3}));
    d->set("big", Value(std::numeric_limits<unsigned long long>::max()));
    d->set("nested", Value::dict({{"list", Value::array({Value("a"), Value(false)})}}));
  }
  UserDefaults::resetForTesting();  // as after a restart: everything comes from the file
  auto d = UserDefaults::suite("APMAnalyticsSuiteName");
  EXPECT_TRUE(d->object("flag")->isTrueObject());
  EXPECT_TRUE(d->object("one")->isInteger());
  EXPECT_EQ(*d->object("one"), Value(1));
  EXPECT_TRUE(d->object("real")->isFloatingNumber());
  EXPECT_EQ(d->data("token"), (Bytes{1, 2, 3}));
  EXPECT_EQ(d->object("big")->asUInt64(), std::numeric_limits<uint64_t>::max());
  EXPECT_TRUE((*d->object("nested"))["list"][1].isFalseObject());
  EXPECT_TRUE(fs::exists(StandardFolders::preferences() + "/APMAnalyticsSuiteName.plist"));
}

TEST_F(UserDefaultsTest, GettersCoerceAndDefault) {
  auto d = UserDefaults::standard();
  d->set("yes", Value("YES"));
  d->set("num", Value("12abc"));
  d->set("pi", Value(3.75));
  d->set("count", Value(5));
  struct Case {
    const char* key;
    bool b;
    int64_t i;
    double x;
    std::optional<std::string> s;
  };
  for (const Case& c : {Case{"yes", true, 0, 0, "YES"}, Case{"num", true, 12, 12, "12abc"},
                        Case{"pi", true, 3, 3.75, "3.75"}, Case{"count", true, 5, 5, "5"},
                        Case{"missing", false, 0, 0, std::nullopt}}) {
    EXPECT_EQ(d->boolFor(c.key), c.b) << c.key;
    EXPECT_EQ(d->integerFor(c.key), c.i) << c.key;
    EXPECT_EQ(d->doubleFor(c.key), c.x) << c.key;
    EXPECT_EQ(d->string(c.key), c.s) << c.key;
  }
  EXPECT_FALSE(d->number("yes"));
  EXPECT_FALSE(d->dictionary("count"));
  EXPECT_FALSE(d->set("bad", Value::set({Value(1)})));
  EXPECT_FALSE(d->object("bad"));
}

TEST_F(UserDefaultsTest, ValuesAreCopiedInAndOut) {
  auto d = UserDefaults::suite("s");
  Dictionary mine{{"k", Value(1)}};
  d->set("dict", Value(mine));
  mine.set("k", Value(2));  // the caller's later change is not stored
  Dictionary out = *d->dictionary("dict");
  out.set("k", Value(3));   // nor a change to a returned value
  EXPECT_EQ(d->dictionary("dict")->get("k"), Value(1));
}

TEST_F(UserDefaultsTest, RemoveClearRemoveSuiteAndSharedObjects) {
  auto a = UserDefaults::suite("x");
  EXPECT_EQ(a, UserDefaults::suite("x"));
  EXPECT_EQ(UserDefaults::suite(""), UserDefaults::standard());
  a->setInteger("k1", 1);
  a->setInteger("k2", 2);
  a->remove("k1");
  EXPECT_EQ(a->keys(), std::vector<std::string>{"k2"});
  a->set("k2", Value());
  EXPECT_TRUE(a->keys().empty());
  a->setInteger("k3", 3);
  a->clear();
  UserDefaults::resetForTesting();
  EXPECT_TRUE(UserDefaults::suite("x")->keys().empty());

  UserDefaults::suite("x")->setBool("b", true);
  EXPECT_TRUE(UserDefaults::removeSuite("x"));
  EXPECT_FALSE(fs::exists(UserDefaults::suite("x")->filePath()));
  UserDefaults::resetForTesting();
  EXPECT_FALSE(UserDefaults::suite("x")->object("b"));
}

TEST_F(UserDefaultsTest, DamagedFileIsSetAsideNotCrashedOn) {
  std::string file = UserDefaults::suite("broken")->filePath();
  UserDefaults::resetForTesting();
  ASSERT_FALSE(fs::createDirectory(fs::parentPath(file)));
  ASSERT_FALSE(fs::writeFile(file, std::string_view("bplist00 garbage")));
  auto d = UserDefaults::suite("broken");
  EXPECT_TRUE(d->keys().empty());
  EXPECT_TRUE(fs::exists(file + ".corrupt"));
  EXPECT_TRUE(d->setBool("ok", true));
  UserDefaults::resetForTesting();
  EXPECT_TRUE(UserDefaults::suite("broken")->boolFor("ok"));
}

// Puts a fixture in place of the suite's file, as if a run had left it.
std::string installSuiteFile(const std::string& suite, const std::string& fixtureName) {
  std::string file = UserDefaults::suite(suite)->filePath();
  UserDefaults::resetForTesting();
  EXPECT_FALSE(fs::createDirectory(fs::parentPath(file)));
  EXPECT_FALSE(fs::writeFile(file, testkit::fixture("platform/storage/tests/fixtures/" + fixtureName)));
  return file;
}

TEST_F(UserDefaultsTest, HostileSuiteFilesAreSetAsideQuickly) {
  // A string holding U+0000 (once an abort at every start) and 130 bytes of
  // shared references (once 44 s and 775 MB, then written back as 10 MB).
  for (const char* name : {"string-with-nul.plist", "shared-references.plist"}) {
    SCOPED_TRACE(name);
    std::string file = installSuiteFile("hostile", name);
    auto d = UserDefaults::suite("hostile");
    EXPECT_TRUE(d->keys().empty());
    EXPECT_TRUE(fs::exists(file + ".corrupt"));
    EXPECT_TRUE(d->setBool("ok", true));
    UserDefaults::resetForTesting();
    EXPECT_EQ(UserDefaults::suite("hostile")->keys(), std::vector<std::string>{"ok"});
    ASSERT_FALSE(fs::removeItem(file));
  }
}

TEST_F(UserDefaultsTest, ADamagedDateIsDroppedAndLaterWritesSucceed) {
  std::string file = installSuiteFile("dated", "date-year-minus-one.plist");
  auto d = UserDefaults::suite("dated");
  EXPECT_EQ(d->keys(), std::vector<std::string>{"flag"});
  EXPECT_TRUE(d->boolFor("flag"));
  EXPECT_TRUE(d->setInteger("next", 2));
  EXPECT_FALSE(fs::exists(file + ".corrupt"));
  UserDefaults::resetForTesting();
  EXPECT_EQ(UserDefaults::suite("dated")->keys(), (std::vector<std::string>{"flag", "next"}));
}

TEST_F(UserDefaultsTest, ValuesTheFileCannotHoldAreRefusedAndChangeNothing) {
  auto d = UserDefaults::suite("strict");
  ASSERT_TRUE(d->setInteger("kept", 1));
  const double inf = std::numeric_limits<double>::infinity();
  for (const Value& bad : {Value("F3\xB3"), Value(std::string("refresh\0SECRET", 14)),
                           Value::dict({{"k", Value::date(inf)}}), Value::array({Value::dateSinceReference(-1e12)}),
                           Value::dict({{std::string("a\0b", 3), Value(1)}})}) {
    SCOPED_TRACE(bad.description());
    EXPECT_FALSE(d->set("bad", bad));
    EXPECT_FALSE(d->set("kept", bad));
    EXPECT_FALSE(d->setMultiple(Dictionary{{"other", Value(2)}, {"bad", bad}}, {"kept"}));
    EXPECT_EQ(d->keys(), std::vector<std::string>{"kept"});
    EXPECT_EQ(d->integerFor("kept"), 1);
  }
  EXPECT_TRUE(d->setInteger("later", 3));
  EXPECT_TRUE(d->synchronize());
  UserDefaults::resetForTesting();
  EXPECT_EQ(UserDefaults::suite("strict")->keys(), (std::vector<std::string>{"kept", "later"}));
}

TEST_F(UserDefaultsTest, AFailedWriteIsReportedAndRetried) {
  auto d = UserDefaults::suite("retry");
  fs::testing::failAtomicWritesBeforeRename(1);
  EXPECT_FALSE(d->setInteger("k", 1));
  EXPECT_EQ(d->integerFor("k"), 1);  // kept for the next save
  EXPECT_TRUE(d->synchronize());
  UserDefaults::resetForTesting();
  EXPECT_EQ(UserDefaults::suite("retry")->integerFor("k"), 1);
}

TEST_F(UserDefaultsTest, OpeningASuiteRemovesOnlyItsOwnStaleTemporaryFiles) {
  std::string file = UserDefaults::suite("tidy")->filePath();
  UserDefaults::resetForTesting();
  std::string folder = fs::parentPath(file);
  ASSERT_FALSE(fs::createDirectory(folder));
  const std::vector<testkit::Leftover> leftovers = {
      {".tidy.plist.Ab12Cd", 3600, true},         // an interrupted write of this suite
      {".tidy.plist.Xy98Zw", 0, false},           // a write that may be in progress
      {".other.plist.Ab12Cd", 3600, false},       // another suite's
      {".tidy.plist.Ab12C", 3600, false},         // not the temporary-name pattern
      {".tidy.plist.corrupt.Ab12Cd", 3600, false},
      {"tidy.plist.Ab12Cd", 3600, false},
  };
  testkit::writeLeftovers(folder, leftovers);
  UserDefaults::suite("tidy")->keys();
  testkit::expectLeftoversCleaned(folder, leftovers);
}

TEST_F(UserDefaultsTest, ASuiteFoundReadableByOthersIsMadePrivateWhenOpened) {
  ASSERT_TRUE(UserDefaults::suite("private")->set("id", Value("identifier")));
  const std::string file = UserDefaults::suite("private")->filePath();
  EXPECT_EQ(fs::attributes(file)->permissions, 0600u);
  ASSERT_FALSE(fs::setPermissions(file, 0644));
  ASSERT_FALSE(fs::setPermissions(fs::parentPath(file), 0755));
  UserDefaults::resetForTesting();
  EXPECT_EQ(UserDefaults::suite("private")->string("id"), "identifier");  // a read alone
  EXPECT_EQ(fs::attributes(file)->permissions, 0600u);
  EXPECT_EQ(fs::attributes(fs::parentPath(file))->permissions, 0700u);
}

TEST_F(UserDefaultsTest, PreferencesApiSharesTheSuites) {
  EXPECT_TRUE(Preferences::setMultiple(Dictionary{{"a", Value(1)}, {"b", Value("t")}}, {}, "dom"));
  EXPECT_TRUE(Preferences::setValue("c", Value(true), "dom"));
  EXPECT_TRUE(Preferences::setMultiple(Dictionary{{"d", Value(2.5)}}, {"a"}, "dom"));
  EXPECT_TRUE(Preferences::setValue("b", Value(), "dom"));
  EXPECT_EQ(Preferences::keyList("dom"), (std::vector<std::string>{"c", "d"}));
  EXPECT_TRUE(Preferences::synchronize("dom"));
  EXPECT_TRUE(UserDefaults::suite("dom")->boolFor("c"));
  EXPECT_EQ(Preferences::copyValue("d", "dom"), Value(2.5));
  EXPECT_FALSE(Preferences::copyValue("a", "dom"));
  // The application's domain is the standard suite, whose file is the
  // "Library/Preferences/<name>.plist" of the bundle identifier.
  Preferences::setValue("x", Value(1));
  EXPECT_EQ(UserDefaults::standard()->integerFor("x"), 1);
  EXPECT_EQ(UserDefaults::standard()->filePath(),
            StandardFolders::library() + "/Preferences/" + StandardFolders::bundleIdentifier() + ".plist");
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
  auto d = UserDefaults::suite("concurrent");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([d, t] {
      for (int i = 0; i < 25; ++i) {
        d->setInteger("t" + std::to_string(t) + "_" + std::to_string(i), i);
        d->boolFor("t0_0");
      }
    });
  }
  for (auto& th : threads) th.join();
  UserDefaults::resetForTesting();
  EXPECT_EQ(UserDefaults::suite("concurrent")->keys().size(), 100u);
}

}  // namespace
}  // namespace platform::storage_test

#include "platform/app/Bundle.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"
#include "testing/LogCapture.h"
#include "testing/TempHome.h"
#include "testing/ScopedEnvironment.h"

namespace platform {
namespace {

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(fs::createDirectory(root));
    Dictionary info{{"CFBundleIdentifier", "com.example.fixture"},
                    {"CFBundleShortVersionString", "1.2"},
                    {"CFBundleVersion", "42"},
                    {"IS_MEASUREMENT_ENABLED", true},
                    {"RirivuduDataCollectionDefaultEnabled", "YES"}};
    ASSERT_FALSE(PropertyList::writeFile(root + "/Info.plist", Value(info)));
    write("ZoruvuService-Info.plist", "<plist/>");
    write("yt-dlp", "#!/bin/sh\n");
    ASSERT_EQ(::symlink((root + "/nowhere").c_str(), (root + "/dangling").c_str()), 0);
    write("en.lproj/Localizable.json", R"({"Paste": "Paste", "Download": "Download", "Count": 3})");
    write("en.lproj/Errors.json", R"({"E1": "Broken"})");
    write("de.lproj/Localizable.json", R"({"Paste": "Einfügen"})");
    write("de.lproj/flag.png", "png");
    write("fr.lproj/Localizable.json", R"({"Paste": )");
  }
  void write(const std::string& relative, std::string_view text) {
    std::string path = root + "/" + relative;
    ASSERT_FALSE(fs::createDirectory(fs::parentPath(path)));
    ASSERT_FALSE(fs::writeFile(path, text));
  }

  testkit::TempHome home;
  std::string root = home.file("bundle/resources");
};

TEST_F(BundleTest, InfoDictionaryValuesKeepTheirKinds) {
  Bundle bundle(root);
  EXPECT_EQ(bundle.bundleIdentifier(), "com.example.fixture");
  EXPECT_EQ(bundle.shortVersionString(), "1.2");
  EXPECT_EQ(bundle.version(), "42");
  EXPECT_TRUE(bundle.objectForInfoDictionaryKey("IS_MEASUREMENT_ENABLED").isBool());
  EXPECT_TRUE(bundle.objectForInfoDictionaryKey("RirivuduDataCollectionDefaultEnabled").isString());
  EXPECT_TRUE(bundle.objectForInfoDictionaryKey("absent").isNull());
  // Callers get copies: changing one does not change the bundle.
  bundle.infoDictionary().set("CFBundleVersion", "changed");
  EXPECT_EQ(bundle.version(), "42");

  EXPECT_TRUE(Bundle(home.file("no-such-folder")).infoDictionary().empty());
  testkit::LogCapture logs;
  write("../broken/Info.plist", "garbage");
  EXPECT_TRUE(Bundle(home.file("bundle/broken")).infoDictionary().empty());
  EXPECT_TRUE(logs.contains("Info.plist"));
}

TEST_F(BundleTest, ResourcesByNameAndType) {
  Bundle german(root, {"de-AT"});
  struct Case {
    std::string name, type;
    std::optional<std::string> found;
  };
  std::vector<Case> cases = {
      {"yt-dlp", "", root + "/yt-dlp"},
      {"ZoruvuService-Info", "plist", root + "/ZoruvuService-Info.plist"},
      {"ZoruvuService-Info", ".plist", root + "/ZoruvuService-Info.plist"},
      {"ZoruvuService-Info", "", std::nullopt},
      {"flag", "png", root + "/de.lproj/flag.png"},
      {"Errors", "json", root + "/en.lproj/Errors.json"},
      {"dangling", "", std::nullopt},
      {"missing", "", std::nullopt},
      {"", "", std::nullopt},
      {"../resources/yt-dlp", "", std::nullopt},
      {"/etc/passwd", "", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(german.pathForResource(c.name, c.type), c.found) << c.name << "." << c.type;
  EXPECT_FALSE(Bundle(root, {"en"}).pathForResource("flag", "png"));
}

TEST_F(BundleTest, StringsTableFallsBackToEnglishThenTheKey) {
  testkit::LogCapture logs;
  struct Case {
    std::vector<std::string> languages;
    std::string key, expected;
  };
  std::vector<Case> cases = {
      {{"de-DE"}, "Paste", "Einfügen"},
      {{"de-DE"}, "Download", "Download"},   // missing in German: English
      {{"de-DE"}, "Nothing", "Nothing"},     // missing everywhere: the key
      {{"ja", "de"}, "Paste", "Einfügen"},  // first available preferred language
      {{"ja"}, "Paste", "Paste"},
      {{"en"}, "Count", "Count"},            // not text: ignored
      {{"fr"}, "Paste", "Paste"},            // unreadable table: English
  };
  for (const auto& c : cases) EXPECT_EQ(Bundle(root, c.languages).localizedString(c.key), c.expected) << c.key;
  EXPECT_TRUE(logs.contains("fr.lproj/Localizable.json"));

  Bundle english(root, {"en-GB"});
  EXPECT_EQ(english.preferredLocalization(), "en");
  EXPECT_EQ(english.localizedString("Nothing", "fallback", "Localizable"), "fallback");
  EXPECT_EQ(english.localizedString("E1", "", "Errors"), "Broken");
  EXPECT_EQ(english.localizedString("E1", "", "../Errors"), "E1");
  EXPECT_EQ(Bundle(home.file("empty")).localizedString("Paste"), "Paste");
}

TEST_F(BundleTest, LanguageComesFromTheEnvironment) {
  testkit::ScopedEnvironment environment;
  environment.set("LANGUAGE", "de_DE");
  EXPECT_EQ(Bundle(root).localizedString("Paste"), "Einfügen");
}

TEST_F(BundleTest, MainBundleFromEnvironmentTellsStandardFolders) {
  Bundle::setMain(nullptr);
  {
    testkit::ScopedEnvironment environment;
    environment.set(Bundle::kResourcesEnvironmentVariable, root);
    EXPECT_EQ(Bundle::main()->resourcePath(), root);
    EXPECT_EQ(StandardFolders::bundleIdentifier(), "com.example.fixture");
    EXPECT_EQ(StandardFolders::applicationSupport(), home.dataHome() + "/com.example.fixture");
  }

  auto fixture = std::make_shared<Bundle>(home.file("empty"));
  Bundle::setMain(fixture);
  EXPECT_EQ(Bundle::main(), fixture);
  EXPECT_EQ(StandardFolders::bundleIdentifier(), StandardFolders::kDefaultBundleIdentifier);

  Bundle::setMain(nullptr);
  // Beside the build's bin folder: <build>/resources.
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe);
  ASSERT_GT(n, 0);
  std::string binFolder = fs::parentPath(std::string(exe, static_cast<size_t>(n)));
  EXPECT_EQ(Bundle::defaultResourcePath(), fs::parentPath(binFolder) + "/resources");
}

}  // namespace
}  // namespace platform

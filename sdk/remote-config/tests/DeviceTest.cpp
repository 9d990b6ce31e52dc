#include <gtest/gtest.h>

#include "sdk/remote-config/RCNDevice.h"
#include "sdk/remote-config/tests/RemoteConfigTestSupport.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

namespace {

class DeviceTest : public rctest::RemoteConfigTest {};

platform::Locale::EnvLookup only(std::map<std::string, std::string> values) {
  return [values](const std::string& name) -> std::optional<std::string> {
    auto found = values.find(name);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
  };
}

TEST_F(DeviceTest, PreferredLocaleAndCountry) {
  struct Case {
    const char* lang;
    const char* locale;
    std::optional<std::string> country;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", "de_DE", "de"},
      {"en_GB.UTF-8", "en_GB", "gb"},
      {"sw_KE.UTF-8", "en", "ke"},
      {"C", "en", std::nullopt},
      {"pt_BR.UTF-8", "pt_BR", "br"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DeviceInfoPreferredLocale(only({{"LANG", c.lang}})), c.locale) << c.lang;
    EXPECT_EQ(DeviceInfoCountryCode(only({{"LANG", c.lang}})), c.country) << c.lang;
  }
  EXPECT_EQ(DeviceInfoLanguageToLocales().size(), 48u);
  EXPECT_EQ(DeviceInfoAllLocales().size(), 194u);
  EXPECT_EQ(DeviceInfoAllLocales().front(), "sq_AL");
  EXPECT_EQ(DeviceInfoTimeZone(), "Europe/Berlin");
  EXPECT_EQ(DeviceInfoDeviceSubtype(), 0);
}

TEST_F(DeviceTest, ContextAndItsChangeRules) {
  platform::Dictionary context = DeviceInfoContextWithProjectIdentifier("app-1");
  EXPECT_EQ(context.get("app_version"), platform::Value("2.5"));
  EXPECT_EQ(context.get("app_build"), platform::Value("25"));
  EXPECT_EQ(context.get("os_version"), platform::Value(ZULAppEnvironmentUtil::systemVersion()));
  EXPECT_EQ(context.get("device_locale"), platform::Value("en_US"));
  EXPECT_EQ(context.get("VOD_project_Identifier"), platform::Value("app-1"));
  EXPECT_FALSE(DeviceInfoContextWithProjectIdentifier(std::nullopt).contains("VOD_project_Identifier"));

  EXPECT_TRUE(DeviceInfoContextHasChanged({}, "app-1"));
  EXPECT_FALSE(DeviceInfoContextHasChanged(context, "app-1"));
  EXPECT_TRUE(DeviceInfoContextHasChanged(context, "app-2"));
  EXPECT_TRUE(DeviceInfoContextHasChanged(context, std::nullopt));
  // No stored project identifier: any given identifier is no change.
  platform::Dictionary withoutProject = DeviceInfoContextWithProjectIdentifier(std::nullopt);
  EXPECT_FALSE(DeviceInfoContextHasChanged(withoutProject, "anything"));

  // Country or time zone alone is no change; a language of another table entry is.
  environment.set("LANG", "en_GB.UTF-8");
  environment.set("TZ", "Asia/Tokyo");
  ASSERT_EQ(DeviceInfoCountryCode(), "gb");
  EXPECT_FALSE(DeviceInfoContextHasChanged(context, "app-1"));
  environment.set("LANGUAGE", "de_DE");
  EXPECT_TRUE(DeviceInfoContextHasChanged(context, "app-1"));

  // A new build is a change.
  environment.set("LANGUAGE", "en_US");
  writeBundle(platform::Dictionary{{"CFBundleIdentifier", rctest::kBundleIdentifier},
                                   {"CFBundleShortVersionString", "2.5"},
                                   {"CFBundleVersion", "26"}});
  EXPECT_TRUE(DeviceInfoContextHasChanged(context, "app-1"));
}

}  // namespace

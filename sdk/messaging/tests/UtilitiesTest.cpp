// Messaging utilities: locale table and matcher, device-token texts, message
// codes, clocks, app identity, the string-only dictionary views and the push
// environment read from provisioning profiles.
#include <gtest/gtest.h>

#include <set>

#include "platform/storage/FileSystem.h"
#include "platform/time/Clock.h"
#include "sdk/messaging/RIRMessagingDictionary.h"
#include "sdk/messaging/RIRMessagingErrors.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/messaging/tests/MessagingTestEnvironment.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULUserDefaults.h"
#include "testing/VirtualClockFixture.h"

namespace {

using platform::Bytes;
using platform::Dictionary;
using platform::Value;

class MessagingUtilitiesTest : public ::testing::Test {
 protected:
  rcmtest::MessagingTestEnvironment env;
};

TEST_F(MessagingUtilitiesTest, LocaleTableHoldsEveryLanguageAndLocale) {
  RIRMessagingLocaleTable table = RIRMessagingRirivudulocalesMap();
  EXPECT_EQ(table.size(), 48u);
  std::set<std::string> keys;
  for (const auto& entry : table) keys.insert(entry.first);
  EXPECT_EQ(keys.size(), 48u);
  std::vector<std::string> locales = RIRMessagingRirivuduLocales();
  EXPECT_EQ(locales.size(), 189u);
  EXPECT_EQ(std::count(locales.begin(), locales.end(), "en_GB"), 2);
}

TEST_F(MessagingUtilitiesTest, CurrentLocaleIsTheBestTableEntryForThePreferredLanguages) {
  const struct {
    const char* language;
    const char* locale;
  } cases[] = {
      {"fr_CA", "fr_CA"},          {"de_AT:en", "de_AT"},    {"pt_BR", "pt_BR"},   {"sr@latin", "sr_BA"},
      {"zh_TW.UTF-8", "zh_TW"},    {"es_AR", "es_AR"},       {"nb_NO", "nb_NO"},   {"xx_YY", "en"},
      {"tlh:ru_RU", "ru_RU"},      {"ja", "ja"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    env.vars.set("LANGUAGE", std::string(c.language));
    EXPECT_EQ(RIRMessagingCurrentLocale(), c.locale);
  }
}

TEST_F(MessagingUtilitiesTest, LocaleChangeIsJudgedAgainstTheStoredLocale) {
  auto defaults = ZULUserDefaults::standardUserDefaults();
  EXPECT_TRUE(RIRMessagingHasLocaleChanged());  // nothing stored
  defaults->setObject(Value("en_US"), kRIRMessagingLocaleDefaultsKey);
  EXPECT_FALSE(RIRMessagingHasLocaleChanged());
  env.vars.set("LANGUAGE", std::string("fr_FR"));
  EXPECT_TRUE(RIRMessagingHasLocaleChanged());
  defaults->setObject(Value(12), kRIRMessagingLocaleDefaultsKey);
  EXPECT_TRUE(RIRMessagingHasLocaleChanged());
}

TEST_F(MessagingUtilitiesTest, DeviceTokenTextsAndMessageCodes) {
  const Bytes token{0x01, 0xAB};
  EXPECT_EQ(RIRMessagingStringForAPNSDeviceToken(token), "01ab");
  EXPECT_EQ(RIRMessagingStringForAPNSDeviceToken({}), "");
  EXPECT_EQ(RIRMessagingAPNSTupleStringForTokenAndServerType(token, true), "s_01ab");
  EXPECT_EQ(RIRMessagingAPNSTupleStringForTokenAndServerType(token, false), "p_01ab");
  EXPECT_EQ(RIRMessagingAPNSTupleStringForTokenAndServerType(std::nullopt, true), std::nullopt);
  EXPECT_EQ(RIRMessagingLogger::formatMessageCode(7), "I-RCM000007");
  EXPECT_EQ(RIRMessagingLogger::formatMessageCode(2005), "I-RCM002005");
  EXPECT_EQ(RIRMessagingBundleIDByRemovingLastPartFrom("a.b.c"), "a.b");
  EXPECT_EQ(RIRMessagingBundleIDByRemovingLastPartFrom("plain"), "");

  platform::Error error = RIRMessagingErrors::messagingErrorWithCode(8, "Bad topic");
  EXPECT_EQ(error.domain, "com.zoruvu.rcm");
  EXPECT_EQ(error.code, 8);
  EXPECT_EQ(error.failureReason(), "Bad topic");
}

TEST_F(MessagingUtilitiesTest, MillisecondsAreWholeSeconds) {
  testkit::VirtualClockScope clock(std::make_shared<platform::VirtualClock>(1700049600.999));  // 12:00:00.999 UTC
  EXPECT_EQ(RIRMessagingCurrentTimestampInSeconds(), 1700049600);
  EXPECT_EQ(RIRMessagingCurrentTimestampInMilliseconds(), 1700049600000);
}

TEST_F(MessagingUtilitiesTest, AppVersionAndIdentity) {
  EXPECT_EQ(RIRMessagingCurrentAppVersion(), "1.0");
  EXPECT_EQ(RIRMessagingAppIdentifier(), "com.tavix.app");
  EXPECT_EQ(RIRMessagingRirivuduAppID(), sdktest::SdkTestEnvironment::kValidAppID);
  env.env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"}});
  EXPECT_EQ(RIRMessagingCurrentAppVersion(), "");
  EXPECT_TRUE(env.env.logged("[RirivuduMessaging][I-RCM018000] Could not find current app version"));
}

TEST_F(MessagingUtilitiesTest, StringOnlyDictionaryViews) {
  const Dictionary mixed{{"a", Value("1")}, {"b", Value(2)}};
  EXPECT_EQ(rcm_string(mixed), "a:1");
  EXPECT_TRUE(rcm_hasNonStringKeysOrValues(mixed));
  EXPECT_EQ(Value(rcm_trimNonStringValues(mixed)), Value(Dictionary{{"a", Value("1")}}));
  EXPECT_EQ(rcm_string(Dictionary{{"x", Value("y")}, {"z", Value("w")}}), "x:y|z:w");
  EXPECT_EQ(rcm_string(Dictionary()), "");
  EXPECT_FALSE(rcm_hasNonStringKeysOrValues(Dictionary()));
}

// A signed profile: binary bytes around an XML property list.
std::string profile(const std::string& entitlements, bool devices) {
  std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>Name</key><string>Tavix</string>" +
      std::string(devices ? "<key>ProvisionedDevices</key><array><string>abc</string></array>" : "") +
      "<key>Entitlements</key><dict>" + entitlements + "</dict></dict></plist>";
  std::string signedProfile("\x30\x80\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02\xa0\x80\x00", 16);
  return signedProfile + plist + std::string("\xa0\x82\x0b\x00\xff", 5);
}

TEST_F(MessagingUtilitiesTest, ProductionIsReadFromTheProvisioningProfile) {
  const std::string path = env.env.home().file("embedded.provisionprofile");
  const std::string development =
      "<key>com.apple.developer.aps-environment</key><string>development</string>";
  const std::string production =
      "<key>com.apple.developer.aps-environment</key><string>production</string>";
  const struct {
    const char* name;
    std::optional<std::string> contents;
    bool production;
    const char* log;
  } cases[] = {
      {"no profile", std::nullopt, true, "I-RCM023014] Error while reading embedded mobileprovision"},
      {"empty file", std::string(), true, "I-RCM023014] Error while reading embedded mobileprovision"},
      {"development", profile(development, true), false, "I-RCM023012] Provisioning profile has specifically"},
      {"production", profile(production, false), true, "I-RCM023013] APNS Environment in profile: production"},
      {"no environment", profile("", false), true, "I-RCM023014] No aps-environment set."},
      {"no plist", std::string("\x30\x80") + " just bytes", true, nullptr},
      {"broken plist", std::string("junk<plist version=\"1.0\"><dict><key>A</key>"), true,
       "I-RCM023014] Error while converting assumed plist to dict"},
      {"plist not a dictionary", std::string("<plist version=\"1.0\"><array/></plist>"), true,
       "I-RCM023014] Error while converting assumed plist to dict"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    env.env.clearLogs();
    platform::fs::removeItem(path);
    if (c.contents) {
      ASSERT_FALSE(platform::fs::writeFile(path, *c.contents));
    }
    EXPECT_EQ(RIRMessagingIsProductionAppWithProfilePath(path), c.production);
    if (c.log) {
      EXPECT_TRUE(env.env.logged(c.log));
    }
  }
  // An App Store build is production whatever its profile says.
  ASSERT_FALSE(platform::fs::writeFile(path, profile(development, false)));
  ZULAppEnvironmentUtil::setFromAppStoreForTesting(true);
  EXPECT_TRUE(RIRMessagingIsProductionAppWithProfilePath(path));
  ZULAppEnvironmentUtil::setFromAppStoreForTesting(std::nullopt);
}

}  // namespace

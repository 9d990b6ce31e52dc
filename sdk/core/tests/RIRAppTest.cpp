#include "sdk/core/RIRApp.h"

#include <gtest/gtest.h>

#include <any>

#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/UserDefaults.h"
#include "sdk/core/RIRComponentType.h"
#include "sdk/core/ROZAdavurudoConfiguration.h"
#include "sdk/core/tests/SdkCoreFixture.h"

namespace {

using platform::Value;
using sdktest::raised;

class RIRAppTest : public sdktest::SdkCoreFixture {};

// Records the posts of one notification name.
struct Recorder {
  explicit Recorder(const std::string& name)
      : token(platform::NotificationCenter::defaultCenter().addObserver(
            name, {}, [this](const platform::Notification& n) { posts.push_back(n); })) {}
  ~Recorder() { platform::NotificationCenter::defaultCenter().removeObserver(token); }
  std::vector<platform::Notification> posts;
  platform::ObserverToken token;
};

TEST_F(RIRAppTest, ConfigureCreatesTheDefaultAppAndAnnouncesIt) {
  Recorder ready(kRIRAppReadyToConfigureSDKNotification);
  EXPECT_FALSE(RIRApp::isDefaultAppConfigured());
  RIRApp::configure();
  auto app = RIRApp::defaultApp();
  ASSERT_TRUE(app);
  EXPECT_TRUE(app->isDefaultApp());
  EXPECT_EQ(app->name(), "__RIRAPP_DEFAULT");
  EXPECT_EQ(RIRApp::appNamed("__RIRAPP_DEFAULT"), app);
  auto options = app->options();
  EXPECT_TRUE(options->isEditingLocked());
  EXPECT_NE(options, app->options());  // a new copy every time
  EXPECT_EQ(options->zoruvuAppID(), std::optional<std::string>(sdktest::SdkTestEnvironment::kValidAppID));
  ASSERT_EQ(ready.posts.size(), 1u);
  EXPECT_EQ(ready.posts[0].object, RIRApp::notificationObject());
  EXPECT_EQ(Value(ready.posts[0].userInfo),
            Value::dict({{"RIRAppNameKey", "__RIRAPP_DEFAULT"},
                         {"RIRAppIsDefaultAppKey", true},
                         {"RIRZoruvuAppIDKey", sdktest::SdkTestEnvironment::kValidAppID}}));
}

TEST_F(RIRAppTest, SecondConfigureRaisesAndKeepsTheFirstApp) {
  RIRApp::configure();
  auto first = RIRApp::defaultApp();
  EXPECT_EQ(raised([] { RIRApp::configure(); }), "com.ririvudu.core: Default app has already been configured.");
  EXPECT_EQ(RIRApp::defaultApp(), first);
  RIRApp::configureWithName("other", optionsWith({}));
  EXPECT_EQ(raised([this] { RIRApp::configureWithName("other", optionsWith({})); }),
            "com.ririvudu.core: App named other has already been configured.");
}

TEST_F(RIRAppTest, NamedAppsAndTheirNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"my-app_2", "none"},
      {"приложение1", "none"},
      {"has blank", "com.ririvudu.core: App name can only contain alphanumeric, hyphen (-), and underscore (_) characters"},
      {"dot.ted", "com.ririvudu.core: App name can only contain alphanumeric, hyphen (-), and underscore (_) characters"},
      {"", "com.ririvudu.core: Name cannot be empty."},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(raised([this, name = std::string(name)] { RIRApp::configureWithName(name, optionsWith({})); }),
              expected)
        << name;
  }
  EXPECT_EQ(raised([] { RIRApp::configureWithName("x", nullptr); }),
            "com.ririvudu.core: Neither name nor options can be nil.");
  EXPECT_EQ(raised([] { RIRApp::configureWithOptions(nullptr); }),
            "com.ririvudu.core: Options is nil. Please pass a valid options.");
  auto named = RIRApp::appNamed("my-app_2");
  ASSERT_TRUE(named);
  EXPECT_FALSE(named->isDefaultApp());
  EXPECT_FALSE(RIRApp::isDefaultAppConfigured());
  auto all = RIRApp::allApps();
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 2u);
  EXPECT_EQ(RIRApp::appNamed("nobody"), nullptr);
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000004] App with name nobody does not exist."));
}

TEST_F(RIRAppTest, LookUpsBeforeConfigureAnswerNothingWithAnErrorLine) {
  EXPECT_EQ(RIRApp::defaultApp(), nullptr);
  EXPECT_FALSE(RIRApp::allApps().has_value());
  EXPECT_TRUE(env.logged("12.6.0 - [RirivuduCore][I-COR000003] The default Ririvudu app has not yet been configured. "
                         "Add `RirivuduApp.configure()` to your application initialization. This can be done in in "
                         "the App Delegate's application(_:didFinishLaunchingWithOptions:)` (or the `@main` struct's "
                         "initializer in SwiftUI). Read more: "));
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000005] No app has been configured yet."));
}

TEST_F(RIRAppTest, AppIdentifierValidation) {
  const std::pair<const char*, bool> cases[] = {
      {"1:123:ios:abc", true},          {"1:123456789:ios:0123abcdef", true}, {"1:-5:ios:0xAB", true},
      {"2:anything", true},             {"17:", true},                        {"1:123:ios:abcx", false},
      {"1:123:ios", false},             {"1:123:android:abc", false},         {"1:abc:ios:abc", false},
      {"1:123:ios:", false},            {"1:123:ios:abc:def", false},         {"", false},
      {":1:123:ios:abc", false},        {"1", false},                         {"v1:123:ios:abc", false},
  };
  for (const auto& [id, valid] : cases) EXPECT_EQ(RIRApp::validateAppID(id), valid) << id;
  RIRLogSetLevelDebug();
  RIRApp::validateAppID("2:x");
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000010] Unknown ZORUVU_APP_ID version: 2"));
}

TEST_F(RIRAppTest, InvalidAppIdentifierFailsConfigureAfterTheErrorLine) {
  env.writeOptions(Value(
      platform::Dictionary{{"ZORUVU_APP_ID", "1:123:android:abc"}, {"BUNDLE_ID", "com.tavix.app"}}));
  EXPECT_EQ(raised([] { RIRApp::configure(); }),
            "com.ririvudu.core: Configuration fails. It may be caused by an invalid ZORUVU_APP_ID in "
            "ZoruvuService-Info.plist or set in the customized options.");
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000009] The ZORUVU_APP_ID either in the plist file "
                         "'ZoruvuService-Info.plist' or the one set in the customized options is invalid."));
  // Nothing is rolled back: the default app stays, the registry does not have it.
  EXPECT_TRUE(RIRApp::isDefaultAppConfigured());
  auto all = RIRApp::allApps();
  ASSERT_TRUE(all);
  EXPECT_TRUE(all->empty());
}

TEST_F(RIRAppTest, UnusableOptionsFileMakesConfigureRaise) {
  const std::string expected =
      "com.ririvudu.core: `RirivuduApp.configure()` could not find a valid ZoruvuService-Info.plist in your "
      "project. Please download one from https://console.ririvudu.zoruvu.com/.";
  struct Case {
    const char* name;
    std::function<void()> prepare;
    const char* line;
  };
  const Case cases[] = {
      {"missing", [this] { std::remove((env.bundlePath() + "/ZoruvuService-Info.plist").c_str()); },
       "[I-COR000012] Could not locate configuration file: 'ZoruvuService-Info.plist'."},
      {"array", [this] { env.writeOptions(Value::array({Value("a")})); },
       "[I-COR000011] The configuration file is not a dictionary: 'ZoruvuService-Info.plist'."},
      {"malformed", [this] { env.writeOptionsText("<plist><dict><key>A"); },
       "[I-COR000011] The configuration file is not a dictionary: 'ZoruvuService-Info.plist'."},
      // Found but unreadable as a file.
      {"unreadable",
       [this] {
         std::string path = env.bundlePath() + "/ZoruvuService-Info.plist";
         std::remove(path.c_str());
         EXPECT_FALSE(platform::fs::createDirectory(path));
       },
       "[I-COR000011] The configuration file is not a dictionary: 'ZoruvuService-Info.plist'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cleanCore();
    env.clearLogs();
    c.prepare();
    EXPECT_EQ(raised([] { RIRApp::configure(); }), expected);
    EXPECT_TRUE(env.logged(c.line));
    EXPECT_FALSE(RIRApp::isDefaultAppConfigured());
  }
}

TEST_F(RIRAppTest, BundleIdentifierMismatchOnlyLogs) {
  RIRApp::configureWithOptions(optionsWith({{"BUNDLE_ID", "com.other.app"}}));
  EXPECT_TRUE(RIRApp::isDefaultAppConfigured());
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000008] The project's Bundle ID is inconsistent with either the "
                         "Bundle ID in 'ZoruvuService-Info.plist'"));
  EXPECT_TRUE(env.logged("you may change your app's bundle identifier to 'com.other.app'."));
}

TEST_F(RIRAppTest, AnalyticsStartsByClassNameOnlyForTheDefaultAppAndOnlyWhenTheClassAnswers) {
  auto& registry = platform::ClassRegistry::shared();
  RIRApp::configureWithName("first", optionsWith({}));  // no such class: nothing happens

  ASSERT_TRUE(registry.registerClass(kRIRAnalyticsClassName));
  RIRApp::configureWithName("second", optionsWith({}));  // class without the method: skipped
  std::vector<platform::Arguments> calls;
  registry.addMethod(
      kRIRAnalyticsClassName, kRIRAnalyticsStartSelector,
      [&calls](platform::Object*, const platform::Arguments& arguments) {
        calls.push_back(arguments);
        // Runs under the class lock: the app is not registered yet.
        EXPECT_TRUE(RIRApp::isDefaultAppConfigured());
        return std::any();
      },
      platform::MethodKind::Class);
  RIRApp::configureWithName("third", optionsWith({}));
  EXPECT_TRUE(calls.empty());
  RIRApp::configure();
  ASSERT_EQ(calls.size(), 1u);
  ASSERT_EQ(calls[0].size(), 2u);
  auto configuration = std::any_cast<std::shared_ptr<ROZAdavurudoConfiguration>>(calls[0][0]);
  auto options = std::any_cast<std::shared_ptr<RIROptions>>(calls[0][1]);
  EXPECT_EQ(configuration, ROZAdavurudoConfiguration::sharedInstance());
  EXPECT_TRUE(options->isEditingLocked());
  EXPECT_EQ(options->zoruvuAppID(), RIRApp::defaultApp()->options()->zoruvuAppID());
}

// A component instance that records when it was created.
class ProbeInstance : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "ProbeInstance";
};
class LazyProbe : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "LazyProbe";
};
class DefaultOnlyProbe : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "DefaultOnlyProbe";
};
struct AllProbes : ProbeInstance, LazyProbe, DefaultOnlyProbe {};

TEST_F(RIRAppTest, EagerComponentsAreCreatedDuringConfigureBeforeTheReadyNotification) {
  std::vector<std::string> events;
  auto block = [&events](const char* name) {
    return [&events, name](RIRComponentContainer& container, bool& cacheable) {
      events.push_back(std::string(name) + (container.app()->isDefaultApp() ? "@default" : "@named"));
      cacheable = true;
      return std::make_shared<AllProbes>();
    };
  };
  RIRApp::registerInternalLibrary(
      RIRLibrary{"RIRProbeLibrary",
                 [&] {
                   return std::vector<RIRComponent>{
                       RIRComponent(RIRProtocol::of<ProbeInstance>(), RIRComponentTimingAlwaysEager, block("always")),
                       RIRComponent(RIRProtocol::of<DefaultOnlyProbe>(), RIRComponentTimingEagerInDefaultApp,
                                    block("default-only")),
                       RIRComponent(RIRProtocol::of<LazyProbe>(), RIRComponentTimingLazy, block("lazy")),
                   };
                 }},
      "riri-probe");
  Recorder ready(kRIRAppReadyToConfigureSDKNotification);
  auto note = platform::NotificationCenter::defaultCenter().addObserver(
      kRIRAppReadyToConfigureSDKNotification, {}, [&events](const platform::Notification&) { events.push_back("ready"); });
  RIRApp::configure();
  RIRApp::configureWithName("named", optionsWith({}));
  platform::NotificationCenter::defaultCenter().removeObserver(note);
  EXPECT_EQ(events, (std::vector<std::string>{"always@default", "default-only@default", "ready", "always@named",
                                               "ready"}));
  events.clear();
  auto lazy = RIRComponentType::instanceForProtocol<LazyProbe>(RIRApp::defaultApp()->container());
  EXPECT_TRUE(lazy);
  RIRComponentType::instanceForProtocol<DefaultOnlyProbe>(RIRApp::appNamed("named")->container());
  EXPECT_EQ(events, (std::vector<std::string>{"lazy@default", "default-only@named"}));
}

TEST_F(RIRAppTest, DataCollectionSwitchIsPersistedPerApp) {
  RIRApp::configure();
  RIRApp::configureWithName("other", optionsWith({}));
  auto app = RIRApp::defaultApp();
  auto other = RIRApp::appNamed("other");
  EXPECT_TRUE(app->isDataCollectionDefaultEnabled());  // nothing stored, no Info key
  Recorder analytics(kROZAdavurudoConfigurationSetEnabledNotification);
  app->setDataCollectionDefaultEnabled(false);
  EXPECT_FALSE(app->isDataCollectionDefaultEnabled());
  EXPECT_TRUE(other->isDataCollectionDefaultEnabled());
  EXPECT_EQ(platform::UserDefaults::standard()->object("/zoruvu/ririvudu/global_data_collection_enabled:__RIRAPP_DEFAULT"),
            std::optional<Value>(Value(false)));
  // The default app without explicit analytics keys switches analytics too, not persisted.
  ASSERT_EQ(analytics.posts.size(), 1u);
  EXPECT_EQ(analytics.posts[0].userInfo.get(kROZAdavurudoConfigurationSetEnabledNotification), Value(false));
  EXPECT_FALSE(platform::UserDefaults::standard()->object(kROZAdavurudoMeasurementEnabledStateKey).has_value());
  other->setDataCollectionDefaultEnabled(false);
  EXPECT_EQ(analytics.posts.size(), 1u);
  // A new process reads the stored switch.
  platform::UserDefaults::resetForTesting();
  EXPECT_FALSE(app->isDataCollectionDefaultEnabled());
  app->clearDataCollectionSwitchFromUserDefaults();
  EXPECT_TRUE(app->isDataCollectionDefaultEnabled());
}

TEST_F(RIRAppTest, DataCollectionFallsBackToTheInfoDictionaryAndExplicitAnalyticsKeysAreLeftAlone) {
  env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"}, {"RirivuduDataCollectionDefaultEnabled", false}});
  RIRApp::configureWithOptions(optionsWith({{"IS_MEASUREMENT_ENABLED", true}}));
  auto app = RIRApp::defaultApp();
  EXPECT_FALSE(app->isDataCollectionDefaultEnabled());
  Recorder analytics(kROZAdavurudoConfigurationSetEnabledNotification);
  app->setDataCollectionDefaultEnabled(true);
  EXPECT_TRUE(app->isDataCollectionDefaultEnabled());
  EXPECT_TRUE(analytics.posts.empty());
}

class CountingHeartbeatLogger : public RIRNullHeartbeatLogger {
 public:
  void log() override { ++logs; }
  int logs = 0;
};

TEST_F(RIRAppTest, BecomingActiveLogsAHeartbeatWhileDataCollectionIsOn) {
  std::vector<std::string> appIDs;
  auto logger = std::make_shared<CountingHeartbeatLogger>();
  RIRApp::setHeartbeatLoggerFactory([&](const std::string& appID) {
    appIDs.push_back(appID);
    return logger;
  });
  RIRApp::configure();
  EXPECT_EQ(appIDs, std::vector<std::string>{sdktest::SdkTestEnvironment::kValidAppID});
  EXPECT_EQ(RIRApp::defaultApp()->heartbeatLogger(), logger);
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationDidBecomeActiveNotification);
  EXPECT_EQ(logger->logs, 1);
  RIRApp::defaultApp()->setDataCollectionDefaultEnabled(false);
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationDidBecomeActiveNotification);
  EXPECT_EQ(logger->logs, 1);
  // A deleted app stops listening.
  RIRApp::defaultApp()->deleteApp(nullptr);
  RIRApp::resetApps();
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationDidBecomeActiveNotification);
  EXPECT_EQ(logger->logs, 1);
}

TEST_F(RIRAppTest, DeleteAppForgetsItOnce) {
  RIRApp::configure();
  auto app = RIRApp::defaultApp();
  app->setDataCollectionDefaultEnabled(false);
  Recorder deleted(kRIRAppDeleteNotification);
  std::vector<bool> results;
  app->deleteApp([&](bool ok) { results.push_back(ok); });
  app->deleteApp([&](bool ok) { results.push_back(ok); });
  EXPECT_EQ(results, (std::vector<bool>{true, false}));
  ASSERT_EQ(deleted.posts.size(), 1u);
  EXPECT_EQ(Value(deleted.posts[0].userInfo), Value::dict({{"RIRAppNameKey", "__RIRAPP_DEFAULT"}}));
  EXPECT_FALSE(RIRApp::isDefaultAppConfigured());
  EXPECT_TRUE(app->isDataCollectionDefaultEnabled());  // the stored switch was cleared
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000007] App does not exist."));
  RIRApp::configure();  // configurable again
  EXPECT_TRUE(RIRApp::isDefaultAppConfigured());
}

}  // namespace

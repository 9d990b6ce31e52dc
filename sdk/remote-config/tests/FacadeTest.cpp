// The facade over the fakes: activation, reads by source, defaults,
// custom signals, rollouts notifications, the component's option checks,
// personalization logging and the typed layer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/notifications/NotificationCenter.h"
#include "platform/storage/Json.h"
#include "platform/values/Exception.h"
#include "sdk/remote-config/ZUVUduvedOrovarCodable.h"
#include "sdk/remote-config/tests/FacadeFixture.h"
#include "testing/fakes/analytics/FakeAnalyticsConnector.h"

namespace {

using platform::Value;
using testkit::Answer;
using testkit::FakeRemoteConfigService;

// Compact JSON with sorted keys.
std::string json(const Value& value) {
  platform::JsonWriteOptions options;
  options.sortedKeys = true;
  return platform::Json::serialize(value, options).value();
}

class FacadeTest : public rctest::FacadeFixture {
 protected:
  // Fetches `answer` and activates it.
  void fetchAndActivate(ZUVUduvedOrovar& config, Answer answer) {
    service.script({std::move(answer)});
    ASSERT_EQ(fetch(config).status, ZUVUduvedOrovarFetchStatusSuccess);
    clock->advance(1);
    ASSERT_TRUE(activate(config).first);
  }
  std::optional<platform::Error> signals(ZUVUduvedOrovar& config, const platform::Dictionary& values) {
    bool done = false;
    std::optional<platform::Error> result;
    config.setCustomSignals(values, [&](std::optional<platform::Error> error) {
      result = error;
      done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done; }));
    return result;
  }
  static bool runUntil(const std::function<bool()>& predicate) { return testkit::runUntil(predicate, 30); }
};

TEST_F(FacadeTest, Activation) {
  auto config = facade();
  // Before any fetch: nothing to activate.
  EXPECT_EQ(activate(*config), std::make_pair(false, std::optional<platform::Error>()));

  int notifications = 0;
  std::string appName;
  platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
      kZUVUduvedOrovarActivateNotification, {}, [&](const platform::Notification& notification) {
        ++notifications;
        appName = notification.userInfo["RIRAppNameKey"].stringValue();
      });
  service.script({FakeRemoteConfigService::update(R"({"a":"1","ab":"2","b":"3"})")});
  fetch(*config);
  EXPECT_EQ(config->configValueForKey("a")->source(), ZUVUduvedOrovarSourceStatic);
  clock->advance(1);
  EXPECT_EQ(activate(*config), std::make_pair(true, std::optional<platform::Error>()));
  EXPECT_TRUE(runUntil([&] { return notifications == 1; }));
  EXPECT_EQ(appName, config->appName());
  // The A/B update ran through the registered analytics connector, which
  // answered (no experiments yet) instead of failing.
  EXPECT_FALSE(logged("Failed to get conditional user properties from Ririvudu Analytics."));
  // Twice after one fetch: nothing changes the second time.
  EXPECT_EQ(activate(*config), std::make_pair(false, std::optional<platform::Error>()));
  EXPECT_TRUE(logged("Most recently fetched config is already activated."));

  // Reads.
  EXPECT_EQ(config->configValueForKey("a")->stringValue(), "1");
  EXPECT_EQ(config->configValueForKey("a")->source(), ZUVUduvedOrovarSourceRemote);
  EXPECT_EQ(config->keysWithPrefix("a"), (std::set<std::string>{"a", "ab"}));
  EXPECT_EQ(config->keysWithPrefix(""), (std::set<std::string>{"a", "ab", "b"}));
  EXPECT_EQ(config->keysWithPrefix(std::nullopt).size(), 3u);
  EXPECT_EQ(config->allKeysFromSource(ZUVUduvedOrovarSourceRemote).size(), 3u);
  EXPECT_TRUE(config->allKeysFromSource(ZUVUduvedOrovarSourceStatic).empty());
  EXPECT_FALSE(config->configValueForKeySource("a", ZUVUduvedOrovarSourceDefault));
  std::shared_ptr<ZUVUduvedOrovarValue> nowhere = config->configValueForKey("nowhere");
  EXPECT_EQ(nowhere->source(), ZUVUduvedOrovarSourceStatic);
  EXPECT_EQ(nowhere->stringValue(), "");
  EXPECT_FALSE(nowhere->boolValue());
  EXPECT_EQ(config->configValueForKey(std::nullopt)->source(), ZUVUduvedOrovarSourceStatic);

  // Another namespace activates without the notification.
  auto other = facade("other");
  service.script({FakeRemoteConfigService::update(R"({"x":"9"})")});
  fetch(*other);
  clock->advance(1);
  EXPECT_EQ(activate(*other), std::make_pair(true, std::optional<platform::Error>()));
  testkit::runFor(0.2);
  EXPECT_EQ(notifications, 1);
  EXPECT_EQ(other->configValueForKey("x")->stringValue(), "9");
  EXPECT_EQ(config->configValueForKey("x")->source(), ZUVUduvedOrovarSourceStatic);
  platform::NotificationCenter::defaultCenter().removeObserver(token);
}

// Activating 3,000 keys while the database queue is held: a read from
// another thread answers with the activated value at once, and the
// activation reports its end only once its rows are committed.
TEST_F(FacadeTest, ReadsDuringALargeActivationDoNotWaitForTheDatabase) {
  auto config = facade();
  std::string entries = "{";
  for (int index = 0; index < 3000; ++index) {
    entries += (index ? ",\"k" : "\"k") + std::to_string(index) + "\":\"v" + std::to_string(index) + "\"";
  }
  service.script({FakeRemoteConfigService::update(entries + "}")});
  ASSERT_EQ(fetch(*config).status, ZUVUduvedOrovarFetchStatusSuccess);

  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  RCNConfigDBManager::sharedInstance()->databaseOperationQueue().async([&] {
    held = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_TRUE(runUntil([&] { return held.load(); }));
  clock->advance(1);
  std::atomic<bool> completed{false};
  config->activateWithCompletion([&](bool changed, std::optional<platform::Error>) { completed = changed; });
  auto read = std::async(std::launch::async, [&] { return config->configValueForKey("k2999")->stringValue(); });
  const bool answered = read.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  const bool completedWhileHeld = completed;
  release = true;
  ASSERT_TRUE(answered);
  EXPECT_EQ(read.get(), "v2999");
  EXPECT_FALSE(completedWhileHeld);
  ASSERT_TRUE(runUntil([&] { return completed.load(); }));
  settle();
  auto reloaded = RCNConfigContent::initWithDBManager(RCNConfigDBManager::sharedInstance());
  EXPECT_EQ(reloaded->activeConfig()[config->ririvuduNamespace()].size(), 3000u);
}

TEST_F(FacadeTest, FetchAndActivate) {
  auto config = facade();
  config->setConfigSettings(ZUVUduvedOrovarSettings{0, 60});
  service.script({FakeRemoteConfigService::update(R"({"a":"1"})"), Answer::json(500, "{}")});
  std::optional<std::pair<int64_t, std::optional<platform::Error>>> outcome;
  clock->advance(1);
  config->fetchAndActivateWithCompletionHandler([&](int64_t status, std::optional<platform::Error> error) {
    outcome = std::make_pair(status, error);
  });
  ASSERT_TRUE(runUntil([&] { return outcome.has_value(); }));
  EXPECT_EQ(outcome->first, ZUVUduvedOrovarFetchAndActivateStatusSuccessFetchedFromRemote);
  EXPECT_EQ(config->configValueForKey("a")->stringValue(), "1");
  outcome.reset();
  clock->advance(1);
  config->fetchAndActivateWithCompletionHandler([&](int64_t status, std::optional<platform::Error> error) {
    outcome = std::make_pair(status, error);
  });
  ASSERT_TRUE(runUntil([&] { return outcome.has_value(); }));
  EXPECT_EQ(outcome->first, ZUVUduvedOrovarFetchAndActivateStatusError);
  ASSERT_TRUE(outcome->second);
  settle();
}

TEST_F(FacadeTest, Defaults) {
  auto config = facade();
  config->setDefaults(platform::Dictionary{{"n", 1}, {"t", true}, {"s", "x"}, {"list", Value::array({Value(1)})}});
  EXPECT_EQ(config->configValueForKey("n")->stringValue(), "1");
  EXPECT_EQ(config->configValueForKey("t")->stringValue(), "1");
  EXPECT_EQ(config->configValueForKey("list")->stringValue(), "[1]");
  EXPECT_EQ(config->configValueForKey("s")->source(), ZUVUduvedOrovarSourceDefault);
  EXPECT_EQ(config->defaultValueForKey("s")->stringValue(), "x");
  EXPECT_FALSE(config->defaultValueForKey("none"));
  EXPECT_EQ(config->allKeysFromSource(ZUVUduvedOrovarSourceDefault).size(), 4u);

  // From a property list of the main bundle; a missing one changes nothing.
  ASSERT_FALSE(platform::PropertyList::writeFile(home.file("bundle/Defaults.plist"),
                                                 Value(platform::Dictionary{{"p", "from plist"}})));
  config->setDefaultsFromPlistFileName("Defaults");
  EXPECT_EQ(config->configValueForKey("p")->stringValue(), "from plist");
  config->setDefaultsFromPlistFileName("Missing");
  config->setDefaultsFromPlistFileName(std::nullopt);
  EXPECT_EQ(config->configValueForKey("p")->stringValue(), "from plist");
  EXPECT_TRUE(logged("The plist file 'Missing' could not be found by Remote Config."));

  ZUVUduvedOrovarSettings settings = config->configSettings();
  EXPECT_EQ(settings.minimumFetchInterval, 43200);
  EXPECT_EQ(settings.fetchTimeout, 60);
}

TEST_F(FacadeTest, CustomSignals) {
  auto config = facade();
  struct Case {
    std::string name;
    platform::Dictionary values;
    int64_t code;  // 0: success
    std::string stored;
  };
  platform::Dictionary hundred;
  for (int i = 0; i < 99; ++i) hundred.set("k" + std::to_string(i), "v");
  platform::Dictionary oneMore;
  oneMore.set("extra1", "v");
  oneMore.set("extra2", "v");
  const Case cases[] = {
      {"number as text", platform::Dictionary{{"five", 5}, {"s", "x"}}, 0, R"({"five":"5","s":"x"})"},
      {"null for an absent key", platform::Dictionary{{"absent", Value()}}, 0, R"({"five":"5","s":"x"})"},
      {"null removes", platform::Dictionary{{"s", Value()}}, 0, R"({"five":"5"})"},
      {"wrong type", platform::Dictionary{{"d", Value::array({})}}, 8102, R"({"five":"5"})"},
      {"long key", platform::Dictionary{{std::string(251, 'k'), "v"}}, 8103, R"({"five":"5"})"},
      {"long value", platform::Dictionary{{"k", std::string(501, 'v')}}, 8103, R"({"five":"5"})"},
      {"100 entries", hundred, 0, ""},
      {"101 entries", oneMore, 8103, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<platform::Error> error = signals(*config, c.values);
    EXPECT_EQ(error ? error->code : 0, c.code);
    if (error) {
      EXPECT_EQ(error->domain, kZUVUduvedOrovarCustomSignalsErrorDomain);
    }
    settle();
    if (!c.stored.empty()) {
      EXPECT_EQ(json(Value(config->settings()->customSignals())), c.stored);
    }
  }
  EXPECT_EQ(config->settings()->customSignals().size(), 100u);
  EXPECT_TRUE(logged("Keys of updated custom signals:"));
}

class Subscriber : public RIRRolloutsStateSubscriber {
 public:
  void rolloutsStateDidChange(const std::shared_ptr<RIRRolloutsState>& state) override {
    std::lock_guard<std::mutex> lock(mutex);
    states.push_back(state);
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return states.size();
  }
  std::mutex mutex;
  std::vector<std::shared_ptr<RIRRolloutsState>> states;
};

TEST_F(FacadeTest, RolloutsNotifications) {
  auto config = facade();
  auto subscriber = std::make_shared<Subscriber>();
  // Through the interop component: no active values yet, so nothing at once.
  std::shared_ptr<ZUVUduvedOrovarComponent> component =
      ZUVUduvedOrovarComponent::getComponentForApp(RIRApp::defaultApp());
  component->registerRolloutsStateSubscriber(subscriber, "ririvudu");
  EXPECT_EQ(subscriber->count(), 0u);
  fetchAndActivate(*config, FakeRemoteConfigService::update(
                                R"({"a":"on"})", "3",
                                R"("rolloutMetadata":[{"rolloutId":"r1","variantId":"v1","affectedParameterKeys":["a","d"]},)"
                                R"({"rolloutId":"r2"}])"));
  ASSERT_TRUE(runUntil([&] { return subscriber->count() == 1; }));
  std::vector<std::string> seen;
  for (const auto& assignment : subscriber->states[0]->assignments()) {
    seen.push_back(assignment->rolloutId() + "/" + assignment->variantId() + "/" +
                   std::to_string(assignment->templateVersion()) + "/" + assignment->parameterKey() + "=" +
                   assignment->parameterValue());
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"r1/v1/3/a=on", "r1/v1/3/d="}));

  // A new subscriber with active values gets the state at once.
  auto late = std::make_shared<Subscriber>();
  config->addRemoteConfigInteropSubscriber(late);
  EXPECT_EQ(late->count(), 1u);
}

TEST_F(FacadeTest, InstancesAndRequiredOptions) {
  EXPECT_EQ(facade(), facade());
  EXPECT_EQ(facade()->ririvuduNamespace(), "ririvudu:__RIRAPP_DEFAULT");
  EXPECT_FALSE(ZUVUduvedOrovarComponent::getComponentForApp(RIRApp::defaultApp())->remoteConfigForNamespace(std::nullopt));

  struct Case {
    std::vector<const char*> missing;
    std::string named;
  };
  // (An app without a project or app ID cannot be configured: installations refuse it first.)
  const Case cases[] = {{{"ZCM_SENDER_ID"}, "ZCMSenderID"}};
  int index = 0;
  for (const Case& c : cases) {
    platform::Dictionary dictionary = options();
    for (const char* key : c.missing) dictionary.remove(key);
    const std::string name = "partial" + std::to_string(index++);
    auto partial = RIROptions::initInternalWithOptionsDictionary(dictionary);
    RIRApp::configureWithName(name, partial);
    try {
      ZUVUduvedOrovar::remoteConfigWithApp(RIRApp::appNamed(name));
      ADD_FAILURE() << c.named;
    } catch (const platform::Exception& exception) {
      EXPECT_EQ(exception.name, "com.ririvudu.config");
      EXPECT_EQ(exception.reason, "Ririvudu Remote Config is missing the required " + c.named +
                                      " property from the configured RirivuduApp and will not be able to function "
                                      "properly. Please fix this issue to ensure that Ririvudu is correctly "
                                      "configured.");
    }
  }

  RIRApp::resetForTesting();
  try {
    ZUVUduvedOrovar::remoteConfig();
    ADD_FAILURE() << "no exception";
  } catch (const platform::Exception& exception) {
    EXPECT_EQ(exception.name, "RIRAppNotConfigured");
  }
}

TEST_F(FacadeTest, PersonalizationLoggedOncePerChoice) {
  auto connector = std::make_shared<testkit::FakeAnalyticsConnector>();
  auto config = ZUVUduvedOrovar::initWithAppName(RIRApp::defaultApp()->name(), RIRApp::defaultApp()->options(), "p13n",
                                                 RCNConfigDBManager::sharedInstance(),
                                                 RCNConfigContent::sharedInstance(), connector);
  const std::string answer =
      R"("personalizationMetadata":{"k":{"choiceId":"c1","personalizationId":"p1","armIndex":0,"group":"BASELINE"},)"
      R"("partial":{"choiceId":"c2"},"nochoice":{"personalizationId":"p3"}})";
  fetchAndActivate(*config, FakeRemoteConfigService::update(R"({"k":"v","partial":"w","nochoice":"x","plain":"y"})",
                                                            "1", answer));
  auto events = [&] {
    settle();
    std::vector<std::string> lines;
    for (const auto& call : connector->calls()) {
      if (call.kind == testkit::FakeAnalyticsConnector::Call::Kind::Log) {
        lines.push_back(call.origin + " " + call.name + " " + json(Value(call.parameters)));
      }
    }
    return lines;
  };
  config->configValueForKey("k");
  config->configValueForKey("k");
  config->configValueForKey("plain");
  config->configValueForKey("nochoice");
  config->configValueForKey("partial");
  EXPECT_EQ(events(), (std::vector<std::string>{
                          R"(rp personalization_assignment {"arm_index":0,"arm_key":"k","arm_value":"v","group":"BASELINE","personalization_id":"p1"})",
                          R"(rp _fpc {"_fpid":"c1"})",
                          R"(rp personalization_assignment {"arm_key":"partial","arm_value":"w"})",
                          R"(rp _fpc {"_fpid":"c2"})"}));
  // A new activation brings new metadata objects: logged again.
  fetchAndActivate(*config, FakeRemoteConfigService::update(R"({"k":"v2"})", "2", answer));
  config->configValueForKey("k");
  EXPECT_EQ(events().size(), 6u);
}

// The typed layer.
struct Flags {
  bool dark = false;
  int32_t level = 0;
  static Flags decode(coding::Decoder& decoder) {
    auto container = decoder.container();
    return {container.decode<bool>("dark"), container.decode<int32_t>("level")};
  }
  void encode(coding::Encoder& encoder) const {
    auto container = encoder.container();
    container.encode(dark, "dark");
    container.encode(level, "level");
  }
};

TEST_F(FacadeTest, TypedLayer) {
  auto number = std::make_shared<ZUVUduvedOrovarValue>(platform::Bytes{'4', '2'}, ZUVUduvedOrovarSourceRemote);
  auto text = std::make_shared<ZUVUduvedOrovarValue>(platform::Bytes{'a', 'b', 'c'}, ZUVUduvedOrovarSourceRemote);
  EXPECT_EQ(decodeValue<int32_t>(number), 42);
  EXPECT_EQ(decodeValue<std::string>(text), "abc");
  EXPECT_THROW(decodeValue<coding::Date>(number), RemoteConfigValueCodableError);
  EXPECT_NO_THROW(decodeValue<std::optional<coding::Date>>(std::make_shared<ZUVUduvedOrovarValue>()));
  try {
    decodeValue<coding::Date>(number);
  } catch (const RemoteConfigValueCodableError& error) {
    EXPECT_EQ(error.message(), kRemoteConfigDateUnsupported);
  }

  auto config = facade();
  setDefaults(*config, Flags{true, 3});
  Flags flags = decodeConfig<Flags>(*config);
  EXPECT_TRUE(flags.dark);
  EXPECT_EQ(flags.level, 3);
  EXPECT_EQ(decodedValue<int32_t>(*config, "level"), std::optional<int32_t>(3));
  EXPECT_FALSE(decodedValue<Flags>(*config, "level"));
  try {
    setDefaults(*config, std::vector<int32_t>{1, 2});
    ADD_FAILURE() << "no exception";
  } catch (const RemoteConfigCodableError& error) {
    EXPECT_EQ(error.message().rfind("The setDefaults input: ", 0), 0u);
  }

  // Custom signals through a future: the error is thrown from it.
  std::future<void> stored = setCustomSignals(*config, {{"tier", CustomSignalValue(7)}, {"name", "x"}});
  ASSERT_TRUE(runUntil([&] { return stored.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_NO_THROW(stored.get());
  std::future<void> removed = setCustomSignals(*config, {{"name", std::nullopt}});
  ASSERT_TRUE(runUntil([&] { return removed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  removed.get();
  settle();
  EXPECT_EQ(json(Value(config->settings()->customSignals())), R"({"tier":"7"})");
  std::future<void> failed = setCustomSignals(*config, {{std::string(300, 'k'), "x"}});
  ASSERT_TRUE(runUntil([&] { return failed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_THROW(failed.get(), RemoteConfigError);

  // An observable follows activations of the default app.
  auto observable = RemoteConfigValueObservable<std::string>::create("greeting", "fallback");
  EXPECT_EQ(observable->value(), "fallback");
  fetchAndActivate(*config, FakeRemoteConfigService::update(R"({"greeting":"hello"})"));
  ASSERT_TRUE(runUntil([&] { return observable->value() == "hello"; }));
  platform::NotificationCenter::defaultCenter().post(kZUVUduvedOrovarActivateNotification, {},
                                                     platform::Dictionary{{"RIRAppNameKey", "another app"}});
  EXPECT_EQ(observable->value(), "hello");
  RemoteConfigProperty<std::string> property("greeting", "none");
  EXPECT_EQ(property.wrappedValue(), "hello");
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sdk/remote-config/tests/RemoteConfigTestSupport.h"
#include "testing/MainQueuePump.h"

namespace {

using platform::Value;

constexpr const char* kNamespace = "ririvudu:app";

class ContentTest : public rctest::RemoteConfigTest {
 protected:
  void SetUp() override {
    rctest::RemoteConfigTest::SetUp();
    manager = RCNConfigDBManager::create();
    content = RCNConfigContent::initWithDBManager(manager);
  }
  void TearDown() override {
    manager->waitForDatabaseOperationQueue();
    platform::MainQueue::drain();
    rctest::RemoteConfigTest::TearDown();
  }
  // What a new content object loads from the same database.
  std::shared_ptr<RCNConfigContent> reloaded() {
    manager->waitForDatabaseOperationQueue();
    return RCNConfigContent::initWithDBManager(manager);
  }
  static std::string text(const RCNNamespaceConfigs& configs, const std::string& key) {
    auto ns = configs.find(kNamespace);
    if (ns == configs.end()) return "<no namespace>";
    auto found = ns->second.find(key);
    return found == ns->second.end() ? "<none>" : found->second->stringValue();
  }
  std::set<std::string> updated() { return content->getConfigUpdateForNamespace(kNamespace)->updatedKeys(); }
  // Makes a change of the content and commits what it wrote to the database.
  void change(const std::function<void(RCNConfigDBWrites&)>& make) {
    RCNConfigDBWrites writes;
    make(writes);
    manager->commitWrites(std::move(writes));
    manager->waitForDatabaseOperationQueue();
  }

  std::shared_ptr<RCNConfigDBManager> manager;
  std::shared_ptr<RCNConfigContent> content;
};

TEST_F(ContentTest, DefaultsOfEveryKind) {
  const double date = 1700000000;
  platform::Dictionary defaults{
      {"number", 1},
      {"bool", true},
      {"text", "hi"},
      {"bytes", Value::data(platform::Bytes{'b'})},
      {"date", Value::date(date)},
      {"array", Value::array({1, "x"})},
      {"dictionary", Value::dict({{"a", 1}})},
      {"unwritable", Value::array({Value::data(platform::Bytes{1})})},
      {"null", Value()},
  };
  change([&](RCNConfigDBWrites& w) { content->copyFromDictionary(std::optional<platform::Dictionary>(platform::Dictionary{{kNamespace, Value(defaults)}}),
                              RCNDBSourceDefault, kNamespace, w); });
  for (auto configs : {content->defaultConfig(), reloaded()->defaultConfig()}) {
    EXPECT_EQ(text(configs, "number"), "1");
    EXPECT_EQ(text(configs, "bool"), "1");
    EXPECT_EQ(text(configs, "text"), "hi");
    EXPECT_EQ(text(configs, "bytes"), "b");
    EXPECT_EQ(text(configs, "date"), "2023-11-14 23:13:20");  // Europe/Berlin
    EXPECT_EQ(text(configs, "array"), "[1,\"x\"]");
    EXPECT_EQ(text(configs, "dictionary"), "{\"a\":1}");
    EXPECT_EQ(text(configs, "unwritable"), "<none>");
    EXPECT_EQ(text(configs, "null"), "<none>");
    EXPECT_EQ(configs[kNamespace]["number"]->source(), ZUVUduvedOrovarSourceDefault);
  }
  EXPECT_TRUE(logged("Invalid array value for key 'unwritable'"));

  change([&](RCNConfigDBWrites& w) { content->copyFromDictionary(std::optional<platform::Dictionary>(), RCNDBSourceDefault, kNamespace, w); });
  EXPECT_TRUE(logged("I-RCN000007"));
  change([&](RCNConfigDBWrites& w) { content->copyFromDictionary(std::optional<platform::Dictionary>(platform::Dictionary()), RCNDBSourceFetched, kNamespace, w); });
  EXPECT_TRUE(logged("I-RCN000008"));
}

TEST_F(ContentTest, ResponseStatesAndActivation) {
  change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(platform::Dictionary{{"entries", Value::dict({{"k", "v"}})}}, kNamespace, w); });
  EXPECT_TRUE(logged("State field in fetch response is nil."));
  EXPECT_EQ(text(content->fetchedConfig(), "k"), "<no namespace>");

  change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(platform::Dictionary{{"state", "NO_CHANGE"}}, kNamespace, w); });
  EXPECT_EQ(text(content->fetchedConfig(), "k"), "<none>");
  change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(platform::Dictionary{{"state", "UPDATE"}, {"entries", Value::dict({{"k", "v"}, {"empty", ""}})}}, kNamespace, w); });
  EXPECT_EQ(text(content->fetchedConfig(), "k"), "v");
  EXPECT_EQ(text(content->fetchedConfig(), "empty"), "<none>");
  EXPECT_EQ(text(reloaded()->fetchedConfig(), "k"), "v");
  EXPECT_TRUE(reloaded()->activeRolloutMetadata().empty());

  change([&](RCNConfigDBWrites& w) { content->copyFromDictionary(std::optional<RCNNamespaceConfigs>(content->fetchedConfig()), RCNDBSourceActive,
                              kNamespace, w); });
  EXPECT_EQ(text(content->activeConfig(), "k"), "v");
  EXPECT_EQ(text(reloaded()->activeConfig(), "k"), "v");
  EXPECT_EQ(content->getConfigAndMetadataForNamespace(kNamespace).entries.size(), 1u);

  change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(platform::Dictionary{{"state", "EMPTY_CONFIG"}}, kNamespace, w); });
  EXPECT_EQ(text(content->fetchedConfig(), "k"), "<none>");
  EXPECT_EQ(text(reloaded()->fetchedConfig(), "k"), "<no namespace>");
  change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(platform::Dictionary{{"state", "NO_TEMPLATE"}}, kNamespace, w); });
  EXPECT_EQ(text(content->fetchedConfig(), "k"), "<no namespace>");
  change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(platform::Dictionary{{"state", "SOMETHING"}}, kNamespace, w); });
  EXPECT_EQ(text(content->activeConfig(), "k"), "v");
}

TEST_F(ContentTest, WrongTypedResponseFieldsStoreNothing) {
  change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(platform::Dictionary{{"state", "UPDATE"},
                           {"entries", Value::dict({{"good", "1"}, {"number", 2}, {"list", Value::array({})}})},
                           {"personalizationMetadata", Value::dict({{"good", Value::dict()}, {"bad", "x"}})},
                           {"rolloutMetadata", Value::array({Value::dict(), "x"})}},
      kNamespace, w); });
  EXPECT_EQ(text(content->fetchedConfig(), "good"), "1");
  EXPECT_EQ(content->fetchedConfig()[kNamespace].size(), 1u);
  size_t lines = 0;
  ZULLogFlush();
  for (const std::string& line : logs.texts()) lines += line.find("I-RCN000077") != std::string::npos;
  EXPECT_EQ(lines, 1u);
  change([&](RCNConfigDBWrites& w) { content->activatePersonalization(w); });
  EXPECT_TRUE(content->activePersonalization().empty());
  change([&](RCNConfigDBWrites& w) { content->activateRolloutMetadata(w); });
  EXPECT_TRUE(content->activeRolloutMetadata().empty());

  change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(platform::Dictionary{{"state", "UPDATE"}, {"entries", "text"}}, kNamespace, w); });
  EXPECT_TRUE(content->fetchedConfig()[kNamespace].empty());
  change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(platform::Dictionary{{"state", 5}}, kNamespace, w); });
}

TEST_F(ContentTest, UpdateDiff) {
  auto apply = [&](platform::Dictionary response) {
    response.set("state", "UPDATE");
    change([&](RCNConfigDBWrites& w) { content->updateConfigContentWithResponse(response, kNamespace, w); });
  };
  auto activate = [&] {
    change([&](RCNConfigDBWrites& w) { content->copyFromDictionary(std::optional<RCNNamespaceConfigs>(content->fetchedConfig()), RCNDBSourceActive,
                                kNamespace, w); });
    change([&](RCNConfigDBWrites& w) { content->activatePersonalization(w); });
    change([&](RCNConfigDBWrites& w) { content->activateRolloutMetadata(w); });
  };
  apply(platform::Dictionary{{"entries", Value::dict({{"k", "1"}})}});
  activate();
  EXPECT_TRUE(updated().empty());

  struct Case {
    platform::Dictionary response;
    std::set<std::string> keys;
  };
  const Value rollout = Value::dict(
      {{"rolloutId", "r1"}, {"variantId", "v1"}, {"affectedParameterKeys", Value::array({"k", "r"})}});
  const Case cases[] = {
      {platform::Dictionary{{"entries", Value::dict({{"k", "1"}, {"n", "2"}})}}, {"n"}},
      {platform::Dictionary{{"entries", Value::dict({{"k", "changed"}})}}, {"k"}},
      {platform::Dictionary{{"entries", Value::dict()}}, {"k"}},
      {platform::Dictionary{{"entries", Value::dict({{"k", "1"}})}, {"rolloutMetadata", Value::array({rollout})}},
       {"k", "r"}},
      {platform::Dictionary{{"entries", Value::dict({{"k", "1"}})},
                            {"personalizationMetadata", Value::dict({{"p", Value::dict({{"choiceId", "c"}})}})}},
       {"p"}},
  };
  for (const Case& c : cases) {
    apply(c.response);
    EXPECT_EQ(updated(), c.keys) << Value(c.response).description();
  }
  // Active rollouts that the fetch no longer has count too.
  activate();
  EXPECT_TRUE(updated().empty());
  apply(platform::Dictionary{{"entries", Value::dict({{"k", "1"}})}, {"rolloutMetadata", Value::array({rollout})}});
  activate();
  apply(platform::Dictionary{{"entries", Value::dict({{"k", "1"}})}});
  EXPECT_EQ(updated(), (std::set<std::string>{"k", "r"}));

  // Two rollouts naming one key give it both rollout IDs.
  auto map = RCNConfigContent::getParameterKeyToRolloutMetadata(platform::Array{
      rollout, Value::dict({{"rolloutId", "r2"}, {"variantId", "v2"}, {"affectedParameterKeys", Value::array({"k"})}})});
  EXPECT_EQ(Value(map["k"]), Value::dict({{"r1", "v1"}, {"r2", "v2"}}));
}

TEST_F(ContentTest, TheInitialLoadIsWaitedForAndATimeOutIsNotFinal) {
  // Hold the database queue so that the load cannot finish yet.
  std::atomic<bool> release{false};
  manager->databaseOperationQueue().async([&] {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  auto slow = RCNConfigContent::initWithDBManager(manager, 0.05);
  EXPECT_FALSE(slow->initializationSuccessful());
  EXPECT_TRUE(logged("Timed out waiting for fetched config to be loaded from DB"));
  release = true;
  EXPECT_TRUE(testkit::runUntil([&] { return slow->checkAndWaitForInitialDatabaseLoad(); }));
  EXPECT_TRUE(slow->initializationSuccessful());
}

}  // namespace

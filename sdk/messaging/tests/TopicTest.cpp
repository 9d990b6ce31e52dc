// Topic batches and the pending list (with a scripted delegate), the topic
// front and the topic operation against the fake service.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/net/URLError.h"
#include "platform/storage/KeyedArchiver.h"
#include "sdk/messaging/RIRMessagingErrors.h"
#include "sdk/messaging/RIRMessagingPendingTopicsList.h"
#include "sdk/messaging/RIRMessagingPubSub.h"
#include "sdk/messaging/RIRMessagingTokenManager.h"
#include "sdk/messaging/RIRMessagingTopicOperation.h"
#include "sdk/messaging/tests/TokenTestFixture.h"
#include "sdk/utilities/ZULUserDefaults.h"

namespace {

using platform::Bytes;
using platform::Dictionary;
using platform::Value;
using Action = RIRMessagingTopicAction;

// Records each send; completes it with the next scripted outcome (success
// when none is scripted) or keeps it waiting.
class ScriptedDelegate : public RIRMessagingPendingTopicsListDelegate {
 public:
  void pendingTopicsList(RIRMessagingPendingTopicsList&, const std::string& topic, Action action,
                         RIRMessagingTopicOperationCompletion completion) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    sent.push_back((action == RIRMessagingTopicActionSubscribe ? "+" : "-") + topic);
    if (hold) {
      held.push_back(std::move(completion));
      return;
    }
    std::optional<platform::Error> outcome;
    if (!outcomes.empty()) {
      outcome = outcomes.front();
      outcomes.erase(outcomes.begin());
    }
    completion(outcome);
  }
  void pendingTopicsListDidUpdate(RIRMessagingPendingTopicsList& list) override {
    if (beforeSave) beforeSave(list);
    ++updates;
  }
  bool pendingTopicsListCanRequestTopicUpdates(RIRMessagingPendingTopicsList&) override { return canRequest; }

  std::vector<std::string> sentTopics() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return sent;
  }

  std::mutex m_mutex;
  std::vector<std::string> sent;
  std::vector<std::optional<platform::Error>> outcomes;
  std::vector<RIRMessagingTopicOperationCompletion> held;
  bool hold = false;
  std::atomic<bool> canRequest{true};
  std::atomic<int> updates{0};
  // Called at each save, before it is counted.
  std::function<void(RIRMessagingPendingTopicsList&)> beforeSave;
};

class PendingTopicsTest : public testkit::MainQueuePump {
 protected:
  std::shared_ptr<RIRMessagingPendingTopicsList> makeList() {
    auto list = std::make_shared<RIRMessagingPendingTopicsList>();
    list->setDelegate(delegate);
    return list;
  }
  rcmtest::MessagingTestEnvironment env;
  std::shared_ptr<ScriptedDelegate> delegate = std::make_shared<ScriptedDelegate>();
};

TEST_F(PendingTopicsTest, RequestsKeepTheirOrderInBatchesOfOneAction) {
  delegate->hold = true;
  auto list = makeList();
  std::vector<std::string> completed;
  auto note = [&](std::string what) { return [&completed, what](std::optional<platform::Error>) { completed.push_back(what); }; };
  list->addOperationForTopic("/topics/A", RIRMessagingTopicActionSubscribe, note("A1"));
  list->addOperationForTopic("/topics/B", RIRMessagingTopicActionSubscribe, nullptr);
  list->addOperationForTopic("/topics/A", RIRMessagingTopicActionUnsubscribe, note("-A"));
  list->addOperationForTopic("/topics/A", RIRMessagingTopicActionUnsubscribe, note("-A again"));
  ASSERT_EQ(list->numberOfBatches(), 2u);
  EXPECT_EQ(list->batchSnapshot()[0], std::make_pair(RIRMessagingTopicActionSubscribe,
                                                     std::vector<std::string>{"/topics/A", "/topics/B"}));
  EXPECT_EQ(list->batchSnapshot()[1], std::make_pair(RIRMessagingTopicActionUnsubscribe,
                                                     std::vector<std::string>{"/topics/A"}));
  ASSERT_TRUE(runUntil([&] { return delegate->sentTopics().size() == 2; }));
  runFor(0.1);
  EXPECT_EQ(delegate->sentTopics(), (std::vector<std::string>{"+/topics/A", "+/topics/B"}));

  // The unsubscribe goes out only after both subscriptions are done.
  delegate->held.at(0)(std::nullopt);
  runFor(0.1);
  EXPECT_EQ(delegate->sentTopics().size(), 2u);
  delegate->held.at(1)(std::nullopt);
  ASSERT_TRUE(runUntil([&] { return delegate->sentTopics().size() == 3; }));
  EXPECT_EQ(delegate->sentTopics().back(), "-/topics/A");
  delegate->held.at(2)(RIRMessagingErrors::messagingErrorWithCode(0, "refused"));
  ASSERT_TRUE(runUntil([&] { return completed.size() == 3; }));
  EXPECT_EQ(completed, (std::vector<std::string>{"A1", "-A", "-A again"}));
  EXPECT_EQ(list->numberOfBatches(), 0u);
}

// A program may end right after a completion: the finished topic must be
// off the saved list by then, or the next launch sends it again.
TEST_F(PendingTopicsTest, AFinishedTopicIsSavedBeforeItsCompletionIsReported) {
  std::mutex mutex;
  std::condition_variable changed;
  bool reported = false;
  int savesWhenReported = -1;
  // The save of the finished topic holds on for a while: a completion
  // reported before it runs meanwhile, as the main queue is being pumped.
  delegate->beforeSave = [&](RIRMessagingPendingTopicsList& list) {
    if (list.numberOfBatches() != 0) return;
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::milliseconds(500), [&] { return reported; });
  };
  auto list = makeList();
  list->addOperationForTopic("/topics/A", RIRMessagingTopicActionSubscribe, [&](std::optional<platform::Error>) {
    std::lock_guard<std::mutex> lock(mutex);
    savesWhenReported = delegate->updates;
    reported = true;
    changed.notify_all();
  });
  ASSERT_TRUE(runUntil([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return reported;
  }));
  EXPECT_EQ(savesWhenReported, 2);  // the topic's addition and its end
}

TEST_F(PendingTopicsTest, RecoverableFailuresWaitForTheNextResume) {
  delegate->outcomes = {platform::URLError::make(platform::URLError::kNotConnectedToInternet)};
  auto list = makeList();
  std::optional<std::optional<platform::Error>> result;
  list->addOperationForTopic("/topics/A", RIRMessagingTopicActionSubscribe,
                             [&](std::optional<platform::Error> error) { result = error; });
  ASSERT_TRUE(runUntil([&] { return delegate->sentTopics().size() == 1 && list->completedRequests() == 1; }));
  drain();
  EXPECT_FALSE(result);  // still waiting
  EXPECT_EQ(list->numberOfBatches(), 1u);
  EXPECT_TRUE(list->topicsInFlight().empty());

  list->resumeOperationsIfNeeded();
  ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
  EXPECT_FALSE(*result);
  EXPECT_EQ(delegate->sentTopics().size(), 2u);
}

TEST_F(PendingTopicsTest, NothingIsSentWithoutPermissionOrDelegate) {
  delegate->canRequest = false;
  auto list = makeList();
  list->addOperationForTopic("/topics/A", RIRMessagingTopicActionSubscribe, nullptr);
  runFor(0.2);
  EXPECT_TRUE(delegate->sentTopics().empty());
  EXPECT_EQ(list->numberOfBatches(), 1u);

  auto orphan = std::make_shared<RIRMessagingPendingTopicsList>();
  orphan->addOperationForTopic("/topics/B", RIRMessagingTopicActionSubscribe, nullptr);
  orphan->resumeOperationsIfNeeded();
  EXPECT_TRUE(env.env.logged("[I-RCM008000] Attempted to update pending topics without a delegate"));
}

// An archive as an older build could have written it.
class ArchivedBatch : public platform::Archivable {
 public:
  ArchivedBatch(int64_t action, std::vector<std::string> topics) : m_action(action), m_topics(std::move(topics)) {}
  std::string className() const override { return RIRMessagingTopicBatch::kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override {
    archiver.encodeInteger("action", m_action);
    platform::Set topics;
    for (const auto& topic : m_topics) topics.insert(Value(topic));
    archiver.encodeObject("topics", Value(topics));
  }

 private:
  int64_t m_action;
  std::vector<std::string> m_topics;
};

class ArchivedList : public platform::Archivable {
 public:
  explicit ArchivedList(std::vector<std::shared_ptr<platform::Archivable>> batches) : m_batches(std::move(batches)) {}
  std::string className() const override { return RIRMessagingPendingTopicsList::kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override {
    archiver.encodeObject("ts", Value::date(1700000000));
    platform::Array batches;
    for (const auto& batch : m_batches) batches.append(platform::KeyedArchiver::wrap(batch));
    archiver.encodeObject("batches", Value(batches));
  }

 private:
  std::vector<std::shared_ptr<platform::Archivable>> m_batches;
};

TEST_F(PendingTopicsTest, ArchivesDropEmptyBatchesAndReadOddActionsAsSubscribe) {
  RIRMessagingPendingTopicsList::registerClasses();
  ArchivedList archived({std::make_shared<ArchivedBatch>(7, std::vector<std::string>{"/topics/X"}),
                         std::make_shared<ArchivedBatch>(1, std::vector<std::string>{}),
                         std::make_shared<ArchivedBatch>(1, std::vector<std::string>{"/topics/Y"})});
  platform::Result<Value> root = platform::KeyedUnarchiver::unarchivedObject(
      RIRMessagingPendingTopicsList::archiveClasses(), platform::KeyedArchiver::archivedData(archived).value());
  ASSERT_TRUE(root) << root.error().description();
  auto list = std::dynamic_pointer_cast<RIRMessagingPendingTopicsList>(platform::KeyedArchiver::unwrap(root.value()));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->archiveDate(), 1700000000.0);
  ASSERT_EQ(list->numberOfBatches(), 2u);
  EXPECT_EQ(list->batchSnapshot()[0].first, RIRMessagingTopicActionSubscribe);
  EXPECT_EQ(list->batchSnapshot()[1], std::make_pair(RIRMessagingTopicActionUnsubscribe,
                                                     std::vector<std::string>{"/topics/Y"}));

  // After a restore the oldest batch goes first, then the newer ones in order.
  list->setDelegate(delegate);
  list->addOperationForTopic("/topics/Z", RIRMessagingTopicActionSubscribe, nullptr);
  ASSERT_TRUE(runUntil([&] { return delegate->sentTopics().size() == 3; }));
  EXPECT_EQ(delegate->sentTopics(), (std::vector<std::string>{"+/topics/X", "-/topics/Y", "+/topics/Z"}));
}

TEST(TopicNameTest, NamesAndPrefixes) {
  const struct {
    const char* topic;
    bool valid;
  } cases[] = {{"/topics/news", true},         {"/topics/a-b_c.d~e%20", true}, {"/topics/", false},
               {"/topics/two words", false},   {"news", false},                {"/topics/news\n/topics/x", false},
               {"x/topics/news", false},       {"/topics/ünï", false},         {"/topics/%20", true}};
  for (const auto& c : cases) EXPECT_EQ(RIRMessagingPubSub::isValidTopicWithPrefix(c.topic), c.valid) << c.topic;
  EXPECT_EQ(RIRMessagingPubSub::addPrefixToTopic("news"), "/topics/news");
  EXPECT_EQ(RIRMessagingPubSub::addPrefixToTopic("/topics/news"), "/topics/news");
  EXPECT_EQ(RIRMessagingPubSub::removePrefixFromTopic("/topics/news"), "news");
  EXPECT_EQ(RIRMessagingPubSub::removePrefixFromTopic("news"), "news");
  EXPECT_TRUE(RIRMessagingPubSub::hasTopicsPrefix("/topics/"));
  EXPECT_FALSE(RIRMessagingPubSub::hasTopicsPrefix("topics/x"));
}

// --- the front against the fake -----------------------------------------------------------

class TopicFrontTest : public rcmtest::TokenTestFixture {
 protected:
  // A manager holding a check-in and a default token the fake issued.
  void SetUp() override {
    TokenTestFixture::SetUp();
    manager = RIRMessagingTokenManager::initWithHeartbeatLogger(nullptr);
    manager->setRcmSenderID("123456789012");
    fid = installationID();
  }
  void TearDown() override {
    pubsub.reset();
    manager.reset();
    TokenTestFixture::TearDown();
  }
  void obtainDefaultToken() {
    std::optional<std::string> token;
    manager->tokenWithAuthorizedEntity("123456789012", "*",
                                       Dictionary{{"apns_token", Value::data(Bytes{1})}, {"apns_sandbox", Value(false)}},
                                       [&](std::optional<std::string> value, std::optional<platform::Error>) {
                                         token = value;
                                       });
    ASSERT_TRUE(runUntil([&] { return token.has_value(); }));
    manager->saveDefaultTokenInfoInKeychain(*token);
  }
  std::optional<platform::Error> await(const std::function<void(RIRMessagingPubSub::Handler)>& start) {
    return testkit::awaitError(start);
  }

  std::shared_ptr<RIRMessagingTokenManager> manager;
  std::shared_ptr<RIRMessagingPubSub> pubsub;
  std::string fid;
};

TEST_F(TopicFrontTest, SubscriptionsNeedACheckin) {
  pubsub = RIRMessagingPubSub::initWithTokenManager(manager);
  std::optional<platform::Error> error =
      await([&](auto handler) { pubsub->subscribeWithToken("t", "/topics/a", std::nullopt, handler); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 501);
  EXPECT_EQ(error->failureReason(),
            "Device ID and checkin info is not found. Will not proceed with subscription/unsubscription.");
  error = await([&](auto handler) { pubsub->unsubscribeWithToken("t", "bad name", std::nullopt, handler); });
  EXPECT_EQ(error->code, 8);
  EXPECT_EQ(error->failureReason(), "Invalid topic name : 'bad name' for unsubscription.");
  EXPECT_EQ(messagingService.count(Kind::Topic), 0u);
}

TEST_F(TopicFrontTest, TopicChangesPostTheirFormsAndReadTheAnswer) {
  obtainDefaultToken();
  pubsub = RIRMessagingPubSub::initWithTokenManager(manager);
  const std::string token = *manager->defaultRCMToken();
  EXPECT_EQ(await([&](auto handler) { pubsub->subscribeToTopic("/topics/news%20today", handler); }), std::nullopt);
  EXPECT_EQ(messagingService.subscriptions()[token], std::set<std::string>{"/topics/news%20today"});
  ASSERT_EQ(messagingService.count(Kind::Topic), 1u);
  testkit::RecordedRequest request = messagingService.requests(Kind::Topic).at(0);
  const std::string encodedToken = fid + ":APA91b-1";  // ":" stays as it is in a form value
  EXPECT_EQ(request.body, "sender=" + encodedToken + "&app=com.tavix.app&device=" + manager->deviceAuthID() +
                              "&app_ver=1.0&X-zcm.topic=/topics/news%2520today&X-scope=/topics/news%2520today");
  EXPECT_EQ(request.header("Authorization"), "AidLogin " + manager->deviceAuthID() + ":" + manager->secretToken());
  EXPECT_EQ(request.header("info"), manager->versionInfo());
  EXPECT_TRUE(env.env.logged("[I-RCM004003] Successfully subscribed to topic /topics/news%20today"));

  EXPECT_EQ(await([&](auto handler) { pubsub->unsubscribeFromTopic("/topics/news%20today", handler); }), std::nullopt);
  EXPECT_TRUE(messagingService.subscriptions()[token].empty());
  EXPECT_EQ(messagingService.requests(Kind::Topic).at(1).body.substr(request.body.size()), "&delete=true");

  const struct {
    const char* answer;
    const char* reason;
    int status = 200;
  } answers[] = {{"", "Invalid registration response - zero length."},
                 {"Error=TOO_MANY_TOPICS", "Invalid registration response :'Error=TOO_MANY_TOPICS'. It is missing 'token' field."},
                 {"tokens=x", "Invalid registration response :'tokens=x'. It is missing 'token' field."},
                 {"token=x", "The server answered with HTTP status 500.", 500}};
  for (const auto& c : answers) {
    messagingService.script(Kind::Topic, {testkit::Answer::text(c.status, c.answer)});
    std::optional<platform::Error> error = await([&](auto handler) { pubsub->subscribeToTopic("/topics/x", handler); });
    ASSERT_TRUE(error) << c.answer;
    EXPECT_EQ(error->code, 0);
    EXPECT_EQ(error->failureReason(), c.reason);
  }
  EXPECT_TRUE(env.env.logged("[I-RCM004001] Failed to subscribe to topic /topics/x"));

  // Options that are not strings are logged and left out.
  EXPECT_EQ(await([&](auto handler) {
              pubsub->subscribeWithToken(token, "/topics/y", Dictionary{{"a", Value(1)}, {"b", Value("2")}}, handler);
            }),
            std::nullopt);
  EXPECT_TRUE(env.env.logged("[I-RCM009001] Invalid options passed to RIRMessagingPubSub with non-string keys or values."));
}

// Debug logging is on: the check-in secret and the registration token never
// reach the log; the message codes and the rest of each line stay.
TEST_F(TopicFrontTest, TheDebugLogShowsNoSecrets) {
  obtainDefaultToken();
  pubsub = RIRMessagingPubSub::initWithTokenManager(manager);
  ASSERT_EQ(await([&](auto handler) { pubsub->subscribeToTopic("/topics/news", handler); }), std::nullopt);
  // Due again, the check-in sends the secret it holds.
  manager->authService()->checkinPreferences()->setLastCheckinTimestampMillis(1);
  std::atomic<bool> checkedIn{false};
  manager->authService()->fetchCheckinInfoWithHandler(
      [&](std::shared_ptr<RIRMessagingCheckinPreferences>, std::optional<platform::Error>) { checkedIn = true; });
  ASSERT_TRUE(runUntil([&] { return checkedIn.load(); }));
  ASSERT_EQ(messagingService.count(Kind::Checkin), 2u);

  const std::string token = manager->defaultRCMToken().value_or("?");
  const std::string secret = manager->secretToken();
  ASSERT_FALSE(secret.empty());
  for (const std::string& text : env.env.texts()) {
    EXPECT_EQ(text.find(token), std::string::npos) << text;
    EXPECT_EQ(text.find(secret), std::string::npos) << text;
  }
  EXPECT_TRUE(env.env.logged("[I-RCM034001] Token fetch successful, token: <redacted>, authorizedEntity: 123456789012, "
                             "scope:*"));
  EXPECT_TRUE(env.env.logged("[I-RCM017000] Topic subscription request: sender=<redacted>&app=com.tavix.app&device=" +
                             manager->deviceAuthID() + "&app_ver=1.0&X-zcm.topic=/topics/news&X-scope=/topics/news"));
  bool parameters = false;
  for (const std::string& text : env.env.texts()) {
    parameters |= text.find("[I-RCM027006] Checkin parameters: ") != std::string::npos &&
                  text.find("<redacted>") != std::string::npos && text.find("digest-1") != std::string::npos;
  }
  EXPECT_TRUE(parameters);
}

TEST_F(TopicFrontTest, TheEndpointCanBeReplacedByTheEnvironment) {
  EXPECT_EQ(RIRMessagingTopicOperation::topicEndpoint(), installationsService.url() + "/iid/register");
  env.vars.set("RCM_SERVER_ENDPOINT", std::string("http://127.0.0.1:9/elsewhere"));
  EXPECT_EQ(RIRMessagingTopicOperation::topicEndpoint(), "http://127.0.0.1:9/elsewhere");
  env.vars.set("RCM_SERVER_ENDPOINT", std::string(""));
  EXPECT_EQ(RIRMessagingTopicOperation::topicEndpoint(), installationsService.url() + "/iid/register");
}

TEST_F(TopicFrontTest, CancellingATopicOperationCompletesItOnce) {
  obtainDefaultToken();
  messagingService.script(Kind::Topic, {testkit::Answer::text(200, "token=late").after(1)});
  std::vector<std::optional<platform::Error>> outcomes;
  std::mutex mutex;
  auto operation = std::make_shared<RIRMessagingTopicOperation>(
      "/topics/a", RIRMessagingTopicActionSubscribe, manager, Dictionary(), [&](std::optional<platform::Error> error) {
        std::lock_guard<std::mutex> lock(mutex);
        outcomes.push_back(error);
      });
  platform::OperationQueue queue(1);
  queue.add(operation);
  ASSERT_TRUE(runUntil([&] { return messagingService.count(Kind::Topic) == 1; }));
  operation->cancel();
  runFor(1.3);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(outcomes.size(), 1u);
  ASSERT_TRUE(outcomes[0]);
  EXPECT_EQ(outcomes[0]->code, 3005);
  EXPECT_EQ(outcomes[0]->failureReason(), "The topic operation is cancelled.");
}

TEST_F(TopicFrontTest, PendingTopicsSurviveARestartInTheirOrder) {
  pubsub = RIRMessagingPubSub::initWithTokenManager(manager);  // no token yet: nothing is sent
  pubsub->subscribeToTopic("/topics/a", nullptr);
  pubsub->unsubscribeFromTopic("/topics/b", nullptr);
  pubsub->subscribeToTopic("/topics/c", nullptr);
  runFor(0.2);
  EXPECT_EQ(messagingService.count(Kind::Topic), 0u);
  pubsub.reset();

  obtainDefaultToken();
  pubsub = RIRMessagingPubSub::initWithTokenManager(manager);
  ASSERT_EQ(pubsub->pendingTopicUpdates()->numberOfBatches(), 3u);
  pubsub->subscribeToTopic("/topics/d", nullptr);
  ASSERT_TRUE(runUntil([&] { return messagingService.count(Kind::Topic) == 4; }));
  std::vector<std::string> sent;
  for (const auto& request : messagingService.requests(Kind::Topic)) {
    auto items = testkit::FakeMessagingService::formItems(request.body);
    sent.push_back((items.count("delete") ? "-" : "+") + items["X-zcm.topic"]);
  }
  // Batches go out in order; the topics of one batch ({c, d}) together.
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 2),
            (std::vector<std::string>{"+/topics/a", "-/topics/b"}));
  EXPECT_EQ(std::set<std::string>(sent.begin() + 2, sent.end()), (std::set<std::string>{"+/topics/c", "+/topics/d"}));
  ASSERT_TRUE(runUntil([&] { return pubsub->pendingTopicUpdates()->numberOfBatches() == 0; }));

  // An unreadable archive starts an empty list.
  ZULUserDefaults::standardUserDefaults()->setObject(Value::data(Bytes{1, 2, 3}), kRIRMessagingPendingSubscriptionsKey);
  EXPECT_EQ(RIRMessagingPubSub::initWithTokenManager(manager)->pendingTopicUpdates()->numberOfBatches(), 0u);
  EXPECT_TRUE(env.env.logged("[I-RCM009005] Failed to unarchive topic list data"));
}

}  // namespace

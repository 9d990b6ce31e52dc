#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dispatch/MainQueue.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/notifications/NotificationQueue.h"

namespace platform {
namespace {

using Calls = std::vector<std::string>;

struct Item {
  virtual ~Item() = default;
  int id = 0;
};
struct DownloadItem : Item {};

TEST(NotificationCenterTest, NameAndObjectFiltersInRegistrationOrder) {
  NotificationCenter center;
  DownloadItem first, second;
  const Item* firstAsBase = &first;  // filters use identity, whatever the pointer type
  Calls calls;
  auto record = [&](std::string who) { return [&calls, who](const Notification& n) { calls.push_back(who + ":" + n.name); }; };
  center.addObserver("retryDownload", firstAsBase, record("retry-first"));
  center.addObserver("", {}, record("everything"));
  center.addObserver("retryDownload", {}, record("retry-any"));
  center.addObserver("", &second, record("second-any-name"));

  struct Case {
    std::string name;
    NotificationObject object;
    Calls expected;
  };
  const std::vector<Case> cases = {
      {"retryDownload", &first, {"retry-first:retryDownload", "everything:retryDownload", "retry-any:retryDownload"}},
      {"retryDownload", &second,
       {"everything:retryDownload", "retry-any:retryDownload", "second-any-name:retryDownload"}},
      {"retryDownload", {}, {"everything:retryDownload", "retry-any:retryDownload"}},
      {"scrollToBottom", &second, {"everything:scrollToBottom", "second-any-name:scrollToBottom"}},
      {"scrollToBottom", {}, {"everything:scrollToBottom"}},
  };
  for (const Case& c : cases) {
    calls.clear();
    center.post(c.name, c.object);
    EXPECT_EQ(calls, c.expected) << c.name;
  }
}

TEST(NotificationCenterTest, UserInfoPayloadAndSharedObjectReachTheObserver) {
  struct RolloutsState {
    std::vector<std::string> assignments;
  };
  NotificationCenter center;
  auto token = std::make_shared<std::string>("token-1");
  std::string seen;
  center.addObserver("com.ririvudu.iid.notif.refresh-token", {}, [&](const Notification& n) {
    auto object = n.object.as<std::string>();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(n.object.as<int>(), nullptr);
    const RolloutsState* state = n.payloadAs<RolloutsState>();
    ASSERT_NE(state, nullptr);
    seen = *object + " " + *n.userInfo.get("RIRAppNameKey").asString() + " " + state->assignments.at(0);
  });
  center.post("com.ririvudu.iid.notif.refresh-token", token, Dictionary{{"RIRAppNameKey", Value("__RIRAPP_DEFAULT")}},
              RolloutsState{{"rollout_1"}});
  EXPECT_EQ(seen, "token-1 __RIRAPP_DEFAULT rollout_1");
}

TEST(NotificationCenterTest, RemovalAndAdditionDuringDelivery) {
  NotificationCenter center;
  Calls calls;
  ObserverToken selfRemoving, removedByOther, later;
  selfRemoving = center.addObserver("n", {}, [&](const Notification&) {
    calls.push_back("self");
    center.removeObserver(selfRemoving);
  });
  center.addObserver("n", {}, [&](const Notification&) {
    calls.push_back("remover");
    center.removeObserver(removedByOther);
    if (!later) later = center.addObserver("n", {}, [&](const Notification&) { calls.push_back("later"); });
  });
  removedByOther = center.addObserver("n", {}, [&](const Notification&) { calls.push_back("removed"); });

  center.post("n");
  EXPECT_EQ(calls, (Calls{"self", "remover"}));  // "later" was added during this post
  calls.clear();
  center.post("n");
  EXPECT_EQ(calls, (Calls{"remover", "later"}));
  EXPECT_EQ(center.observerCount(), 2u);
  {
    Cancellable scoped = center.removal(later);
  }
  EXPECT_EQ(center.observerCount(), 1u);
}

TEST(NotificationCenterTest, DeadOwnersAreSkippedAndDroppedAndOwnersCanRemoveByName) {
  NotificationCenter center;
  Calls calls;
  auto owner = std::make_shared<DownloadItem>();
  auto survivor = std::make_shared<DownloadItem>();
  center.addObserver(owner, "a", {}, [&](const Notification&) { calls.push_back("dead"); });
  center.addObserver(survivor, "a", {}, [&](const Notification&) { calls.push_back("survivor-a"); });
  center.addObserver(survivor, "b", {}, [&](const Notification&) { calls.push_back("survivor-b"); });
  owner.reset();
  center.post("a");
  EXPECT_EQ(calls, (Calls{"survivor-a"}));
  EXPECT_EQ(center.observerCount(), 2u);  // the dead owner's observer is gone

  const Item* asBase = survivor.get();
  center.removeObserver(asBase, "a");
  center.post("a");
  center.post("b");
  EXPECT_EQ(calls, (Calls{"survivor-a", "survivor-b"}));
  center.removeObserver(survivor);
  EXPECT_EQ(center.observerCount(), 0u);

  std::weak_ptr<DownloadItem> gone;
  {
    auto temporary = std::make_shared<DownloadItem>();
    gone = temporary;
  }
  ObserverOptions options{"a"};
  options.owner = gone;
  EXPECT_FALSE(center.addObserver(options, [](const Notification&) {}));
}

TEST(NotificationCenterTest, ConcurrentPostsAndRegistrations) {
  NotificationCenter center;
  std::atomic<int> heard{0};
  std::atomic<bool> stop{false};
  std::thread poster([&] {
    while (!stop) center.post("tick");
  });
  for (int i = 0; i < 300; ++i) {
    auto owner = std::make_shared<int>(i);
    ObserverToken token = center.addObserver(owner, "tick", {}, [&](const Notification&) { ++heard; });
    if (i % 2) center.removeObserver(token);
  }
  stop = true;
  poster.join();
  center.post("tick");  // every owner is gone: everything is dropped
  EXPECT_EQ(center.observerCount(), 0u);
}

class NotificationQueueTest : public ::testing::Test {
 protected:
  void TearDown() override { MainQueue::drain(); }
};

TEST_F(NotificationQueueTest, QueueObserverRunsOnItsQueue) {
  NotificationCenter center;
  bool onMain = false;
  int calls = 0;
  ObserverOptions options{kApplicationDidBecomeActiveNotification};
  options.queue = mainQueue();
  center.addObserver(options, [&](const Notification&) {
    onMain = mainQueue().isCurrent();
    ++calls;
  });
  std::thread([&] { center.post(kApplicationDidBecomeActiveNotification); }).join();
  EXPECT_EQ(calls, 0);
  ASSERT_TRUE(MainQueue::runUntil([&] { return calls == 1; }, 20));
  EXPECT_TRUE(onMain);
}

TEST_F(NotificationQueueTest, PostAsSoonAsPossibleWaitsForTheMainQueuesNextTurn) {
  Calls calls;
  auto center = std::make_unique<NotificationCenter>();
  center->addObserver("com.ririvudu.iid.notif.apns-token", {}, [&](const Notification& n) {
    calls.push_back(n.name + " " + std::to_string(n.userInfo.get("APNSTokenType").asInt64().value_or(-1)));
  });
  NotificationQueue queue(*center);
  queue.enqueue(Notification{"com.ririvudu.iid.notif.apns-token", {}, Dictionary{{"APNSTokenType", Value(int64_t{2})}}});
  EXPECT_TRUE(calls.empty());
  queue.enqueue(Notification{"com.ririvudu.iid.notif.apns-token"}, PostingStyle::Now);
  EXPECT_EQ(calls.size(), 1u);
  MainQueue::drain();
  EXPECT_EQ(calls, (Calls{"com.ririvudu.iid.notif.apns-token -1", "com.ririvudu.iid.notif.apns-token 2"}));

  queue.enqueue(Notification{"com.ririvudu.iid.notif.apns-token"});
  center.reset();  // the centre is gone before the main queue's turn
  MainQueue::drain();
  EXPECT_EQ(calls.size(), 2u);
}

}  // namespace
}  // namespace platform

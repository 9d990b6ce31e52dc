// The messaging component: start-up at configure, auto-init, the push token,
// incoming messages with their de-duplication, the topic front and the
// remote-notification proxy.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/app/UserNotificationCenter.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/storage/FileSystem.h"
#include "platform/values/Exception.h"
#include "sdk/core/RIRComponentType.h"
#include "sdk/messaging/RIRMessaging.h"
#include "sdk/messaging/RIRMessagingRemoteNotificationsProxy.h"
#include "sdk/messaging/RIRMessagingRmqManager.h"
#include "sdk/messaging/RIRMessagingTokenManager.h"
#include "sdk/messaging/tests/TokenTestFixture.h"
#include "sdk/utilities/ZULAppDelegateSwizzler.h"
#include "sdk/utilities/ZULUserDefaults.h"

namespace {

using platform::Dictionary;
using platform::Value;

class MessagingComponentTest : public rcmtest::TokenTestFixture {
 protected:
  void SetUp() override {
    platform::UserNotificationCenter::setCurrent(center);
    RIRMessagingRemoteNotificationsProxy::resetSharedProxyForTesting();
    ZULAppDelegateSwizzler::clearInterceptors();
    ZULUserDefaults::standardUserDefaults()->removeObjectForKey(kRIRMessagingAutoInitEnabledKey);
    RIRApp::resetForTesting();
    RIRComponentContainer::resetRegistrantsForTesting();
    RIRCoreRegisterLibrary();
    RIRHeartbeatRegisterLibrary();
    RIRInstallationsRegisterLibrary();
    RIRMessagingRegisterLibrary();
  }
  void TearDown() override {
    rcmtest::TokenTestFixture::TearDown();
    RIRMessagingRemoteNotificationsProxy::resetSharedProxyForTesting();
    ZULAppDelegateSwizzler::clearInterceptors();
    platform::UserNotificationCenter::setCurrent(previousCenter);
  }

  std::shared_ptr<RIRMessaging> configure() {
    RIRApp::configure();
    auto messaging = RIRMessaging::messaging();
    EXPECT_TRUE(messaging);
    return messaging;
  }
  // The app as a relaunch finds it: same files, new objects.
  std::shared_ptr<RIRMessaging> relaunch() {
    drain();
    RIRApp::resetForTesting();
    RIRMessagingRemoteNotificationsProxy::resetSharedProxyForTesting();
    return configure();
  }
  // A context message scheduled for later, so that handling it is visible
  // as a pending request.
  static Dictionary contextMessage(const std::string& id, bool contentAvailable = false) {
    Dictionary message{{"zcm.message_id", id}, {"zoruvu.c.cm.lt_start", "2999-01-01 00:00:00"}};
    if (contentAvailable) message.set("aps", Value::dict({{"content-available", 1}}));
    return message;
  }
  size_t scheduled(const std::string& id) {
    size_t count = 0;
    for (const auto& request : center->pendingRequests()) count += request.identifier == id;
    return count;
  }

  std::shared_ptr<platform::UserNotificationCenter> previousCenter = platform::UserNotificationCenter::current();
  std::shared_ptr<platform::UserNotificationCenter> center = std::make_shared<platform::UserNotificationCenter>();
};

TEST_F(MessagingComponentTest, ConfigureStartsMessagingInTheDefaultAppOnly) {
  auto messaging = configure();
  ASSERT_TRUE(messaging);
  EXPECT_TRUE(RIRMessaging::hasSubDirectory("Zoruvu/RirivuduMessaging"));
  EXPECT_TRUE(RIRMessaging::hasSubDirectory("Zoruvu/RirivuduInstanceID"));
  ASSERT_TRUE(messaging->rmq2Manager());
  EXPECT_TRUE(messaging->rmq2Manager()->hasDatabase());
  EXPECT_TRUE(platform::fs::exists(RIRMessagingRmqManager::pathForDatabaseWithName("rmq2")));
  ASSERT_TRUE(messaging->syncMessageManager());
  ASSERT_TRUE(messaging->pubsub());
  ASSERT_TRUE(messaging->reachabilityChecker());
  EXPECT_EQ(messaging->tokenManager()->rcmSenderID(), "123456789012");
  EXPECT_EQ(messaging->tokenManager()->ririvuduAppID(), RIROptions::defaultOptions()->zoruvuAppID());
  EXPECT_TRUE(env.env.logged("RIRMessaging library version 12.6.0"));
  EXPECT_TRUE(RIRMessagingRemoteNotificationsProxy::sharedProxy()->didSwizzleMethods());
  EXPECT_TRUE(env.env.logged("I-RCM001000"));  // the proxy notice
  EXPECT_EQ(RIRMessaging::messaging(), messaging);  // cached

  auto options = RIROptions::defaultOptions();
  RIRApp::configureWithName("second", options);
  auto secondary = RIRApp::appNamed("second");
  ASSERT_TRUE(secondary);
  EXPECT_FALSE(RIRComponentType::instanceForProtocol<RIRMessagingInterop>(secondary->container()));
  EXPECT_TRUE(env.env.logged("Ririvudu Messaging only works with the default app."));
  EXPECT_EQ(RIRMessaging::messaging(), messaging);
}

TEST_F(MessagingComponentTest, AnEmptySenderIDStopsConfiguration) {
  auto options = RIROptions::defaultOptions()->copy();
  options->setEditingLocked(false);
  options->setZCMSenderID(std::string());
  try {
    RIRApp::configureWithOptions(options);
    FAIL() << "configure went through";
  } catch (const platform::Exception& exception) {
    EXPECT_EQ(exception.name, "com.zoruvu.rcm");
    EXPECT_EQ(exception.reason, "Could not configure Ririvudu Messaging. ZCMSenderID must not be nil or empty.");
  }
  EXPECT_TRUE(env.env.logged("Ririvudu not set up correctly, nil or empty senderID."));
}

TEST_F(MessagingComponentTest, AnInfoPlistOptOutLeavesTheProxyOff) {
  env.env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"},
                     {"CFBundleShortVersionString", "1.0"},
                     {"RirivuduAppDelegateProxyEnabled", false}});
  configure();
  EXPECT_FALSE(RIRMessagingRemoteNotificationsProxy::sharedProxy()->didSwizzleMethods());
  EXPECT_FALSE(env.env.logged("Remote Notifications proxy enabled"));
}

TEST_F(MessagingComponentTest, AutoInitFollowsUserDefaultsThenInfoPlistThenDataCollection) {
  const struct {
    std::optional<bool> stored;
    std::optional<bool> plist;
    bool dataCollection;
    bool expected;
  } cases[] = {
      {std::nullopt, std::nullopt, true, true},  {std::nullopt, std::nullopt, false, false},
      {std::nullopt, false, true, false},        {std::nullopt, true, false, true},
      {true, false, false, true},                {false, true, true, false},
  };
  auto messaging = configure();
  auto defaults = ZULUserDefaults::standardUserDefaults();
  for (const auto& c : cases) {
    Dictionary info{{"CFBundleIdentifier", "com.tavix.app"}, {"CFBundleShortVersionString", "1.0"}};
    if (c.plist) info.set(kRIRMessagingPlistAutoInitEnabled, *c.plist);
    env.env.writeInfo(info);
    RIRApp::defaultApp()->setDataCollectionDefaultEnabled(c.dataCollection);
    if (c.stored) {
      defaults->setBool(*c.stored, kRIRMessagingAutoInitEnabledKey);
    } else {
      defaults->removeObjectForKey(kRIRMessagingAutoInitEnabledKey);
    }
    EXPECT_EQ(messaging->isAutoInitEnabled(), c.expected)
        << c.stored.value_or(2) << " " << c.plist.value_or(2) << " " << c.dataCollection;
  }
  defaults->removeObjectForKey(kRIRMessagingAutoInitEnabledKey);
}

TEST_F(MessagingComponentTest, SwitchingAutoInitOnAsksForTheTokenOnceAndTheSwitchIsKept) {
  auto messaging = configure();
  RIRApp::defaultApp()->setDataCollectionDefaultEnabled(false);
  ASSERT_FALSE(messaging->isAutoInitEnabled());
  // Without a push token the token request it starts is declined, visibly.
  auto requests = [&] {
    size_t count = 0;
    for (const std::string& text : env.env.texts()) {
      count += text.find("Declining request for RCM Token since no APNS Token specified") != std::string::npos;
    }
    return count;
  };
  messaging->setAutoInitEnabled(false);
  EXPECT_EQ(requests(), 0u);
  messaging->setAutoInitEnabled(true);  // off to on: asks for the default token
  messaging->setAutoInitEnabled(true);  // already on: nothing more
  EXPECT_EQ(requests(), 1u);
  EXPECT_TRUE(messaging->isAutoInitEnabled());

  platform::UserDefaults::resetForTesting();  // read back from the file, as a relaunch does
  EXPECT_TRUE(ZULUserDefaults::standardUserDefaults()->boolForKey(kRIRMessagingAutoInitEnabledKey));
  messaging = relaunch();
  EXPECT_TRUE(messaging->isAutoInitEnabled());
  messaging->setAutoInitEnabled(false);  // switching off starts nothing
  EXPECT_FALSE(messaging->isAutoInitEnabled());
  EXPECT_EQ(requests(), 1u);
  platform::UserDefaults::resetForTesting();
  EXPECT_FALSE(ZULUserDefaults::standardUserDefaults()->boolForKey(kRIRMessagingAutoInitEnabledKey));
}

TEST_F(MessagingComponentTest, TheSamePushTokenIsAnnouncedOnce) {
  auto messaging = configure();
  int posts = 0;
  auto observer = platform::NotificationCenter::defaultCenter().addObserver(
      kRIRMessagingAPNSTokenNotification, {}, [&](const platform::Notification& notification) {
        ++posts;
        EXPECT_EQ(notification.userInfo["APNSTokenType"], Value(2));
      });
  messaging->setAPNSToken(platform::Bytes{1, 2, 3}, 2);
  messaging->setAPNSToken(platform::Bytes{1, 2, 3}, 2);
  drain();
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(messaging->APNSToken(), (platform::Bytes{1, 2, 3}));
  ASSERT_TRUE(messaging->tokenManager()->currentAPNSInfo());
  platform::NotificationCenter::defaultCenter().removeObserver(observer);
}

TEST_F(MessagingComponentTest, IncomingMessagesAreHandledOnceAndSyncMessagesAcrossRelaunches) {
  auto messaging = configure();
  EXPECT_EQ(messaging->appDidReceiveMessage({}).status, 0);
  EXPECT_EQ(messaging->appDidReceiveMessage(Dictionary{{"k", "v"}}).status, 1);

  // A plain message: its ID is remembered, the second delivery stops early.
  EXPECT_EQ(messaging->appDidReceiveMessage(Dictionary{{"zcm.message_id", "plain"}}).status, 1);
  EXPECT_EQ(messaging->appDidReceiveMessage(Dictionary{{"zcm.message_id", "plain"}}).status, 1);
  EXPECT_EQ(messaging->loggedMessageIDs().count("plain"), 1u);

  // A context message is handled on every delivery.
  EXPECT_EQ(messaging->appDidReceiveMessage(contextMessage("ctx")).status, 1);
  center->removeAllPendingRequests();
  EXPECT_EQ(messaging->appDidReceiveMessage(contextMessage("ctx")).status, 1);
  EXPECT_EQ(scheduled("ctx"), 1u);
  EXPECT_EQ(messaging->loggedMessageIDs().count("ctx"), 0u);

  // A content-available message is recognised again after a relaunch.
  EXPECT_EQ(messaging->appDidReceiveMessage(contextMessage("sync", true)).status, 1);
  EXPECT_EQ(scheduled("sync"), 1u);
  center->removeAllPendingRequests();
  messaging->rmq2Manager()->waitForQueuedWork();
  messaging.reset();
  messaging = relaunch();
  EXPECT_EQ(messaging->appDidReceiveMessage(contextMessage("sync", true)).status, 1);
  EXPECT_EQ(scheduled("sync"), 0u);
  EXPECT_TRUE(messaging->loggedMessageIDs().empty());
  messaging->rmq2Manager()->waitForQueuedWork();
}

TEST_F(MessagingComponentTest, TheProxyHandsNotificationsToMessagingBeforeTheAppsHandler) {
  configure();
  int presented = 0;
  int responded = 0;
  auto delegate = std::make_shared<platform::UserNotificationCenterDelegate>();
  delegate->willPresent = [&](platform::UserNotificationCenter&, const platform::UserNotification& notification,
                              platform::UserNotificationPresentationHandler completion) {
    ++presented;
    // Messaging has scheduled the context message already.
    EXPECT_EQ(scheduled(*notification.request.content.userInfo["zcm.message_id"].asString()), 1u);
    completion(platform::UserNotificationPresentation::None);
  };
  center->setDelegate(delegate);
  auto proxy = RIRMessagingRemoteNotificationsProxy::sharedProxy();
  EXPECT_EQ(proxy->swizzledSelectors(), (std::set<std::string>{kRIRMessagingWillPresentSelector}));

  auto notification = [](const Dictionary& userInfo) {
    platform::UserNotification made;
    made.request.identifier = "n";
    made.request.content.userInfo = userInfo;
    return made;
  };
  center->present(notification(contextMessage("shown")));
  EXPECT_EQ(presented, 1);

  // The delegate has no response callback: responses are not passed on.
  center->respond(platform::UserNotificationResponse{notification(contextMessage("opened"))});
  EXPECT_EQ(scheduled("opened"), 0u);

  // A new delegate with both callbacks takes the interception over.
  auto both = std::make_shared<platform::UserNotificationCenterDelegate>();
  both->willPresent = delegate->willPresent;
  both->didReceiveResponse = [&](platform::UserNotificationCenter&, const platform::UserNotificationResponse& response,
                                 std::function<void()> completion) {
    ++responded;
    EXPECT_EQ(scheduled(*response.notification.request.content.userInfo["zcm.message_id"].asString()), 1u);
    completion();
  };
  center->setDelegate(both);
  EXPECT_EQ(proxy->swizzledSelectors().size(), 2u);
  center->respond(platform::UserNotificationResponse{notification(contextMessage("opened"))});
  EXPECT_EQ(responded, 1);

  // Without a delegate nothing reaches messaging.
  center->setDelegate(nullptr);
  EXPECT_FALSE(proxy->hasSwizzledUserNotificationDelegate());
  center->present(notification(contextMessage("unseen")));
  EXPECT_EQ(scheduled("unseen"), 0u);

  // The application delegate's device token reaches messaging.
  RIRMessagingRemoteNotificationsProxy::applicationDidRegisterForRemoteNotificationsWithDeviceToken({7, 7});
  EXPECT_EQ(RIRMessaging::messaging()->APNSToken(), (platform::Bytes{7, 7}));
}

TEST_F(MessagingComponentTest, TopicsGoThroughTheFrontOnceATokenExists) {
  auto messaging = configure();
  messaging->setAPNSToken(platform::Bytes{0xab, 0xcd});
  std::optional<std::optional<platform::Error>> result;
  messaging->subscribeToTopic("/topics/news", [&](std::optional<platform::Error> error) { result = error; });
  ASSERT_TRUE(runUntil([&] { return result.has_value(); }, 60));
  EXPECT_FALSE(*result) << (*result ? (*result)->localizedDescription() : "");
  EXPECT_TRUE(env.env.logged("Format '/topics/news' is deprecated. Only 'news' should be used in subscribeToTopic."));
  bool subscribed = false;
  for (const auto& [token, topics] : messagingService.subscriptions()) subscribed |= topics.count("/topics/news") > 0;
  EXPECT_TRUE(subscribed);

  result.reset();
  messaging->unsubscribeFromTopic("bad topic!", [&](std::optional<platform::Error> error) { result = error; });
  ASSERT_TRUE(runUntil([&] { return result.has_value(); }, 60));
  ASSERT_TRUE(*result);
  EXPECT_EQ((*result)->code, 8);
  EXPECT_EQ((*result)->userInfo["NSLocalizedFailureReason"], Value("Cannot parse topic name: 'bad topic!'. Will not unsubscribe."));

  EXPECT_EQ(RIRMessaging::normalizeTopic("news"), "/topics/news");
  EXPECT_EQ(RIRMessaging::normalizeTopic(""), std::nullopt);

  result.reset();
  messaging->deleteRCMTokenForSenderID("", [&](std::optional<platform::Error> error) { result = error; });
  ASSERT_TRUE(result && *result);
  EXPECT_EQ((*result)->code, 7);
}

TEST_F(MessagingComponentTest, ARefreshNotificationWithoutATextTokenIsIgnored) {
  auto messaging = configure();
  platform::NotificationCenter::defaultCenter().post(kRIRMessagingRefreshTokenNotification,
                                                     platform::NotificationObject(std::make_shared<Value>(5)));
  EXPECT_TRUE(env.env.logged("I-RCM002015"));

  int refreshed = 0;
  auto observer = platform::NotificationCenter::defaultCenter().addObserver(
      kRIRMessagingRegistrationTokenRefreshedNotification, {}, [&](const platform::Notification&) { ++refreshed; });
  messaging->updateDefaultRCMToken(std::string("tok-1"));
  messaging->updateDefaultRCMToken(std::string("tok-1"));  // unchanged: nothing happens
  drain();
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(messaging->tokenManager()->defaultRCMToken(), "tok-1");
  platform::NotificationCenter::defaultCenter().removeObserver(observer);
}

}  // namespace

// The token manager against the fake services: the push-token requirement,
// reuse of fresh tokens, the refresh notification, cancellation, push-token
// changes, the refresh policy, deletes and the fresh-install cleanup.
#include <gtest/gtest.h>

#include "platform/keychain/Keychain.h"
#include "platform/net/URLError.h"
#include "platform/notifications/NotificationCenter.h"
#include "sdk/messaging/RIRMessagingTokenManager.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/messaging/tests/TokenTestFixture.h"
#include "sdk/utilities/ZULUserDefaults.h"

namespace {

using platform::Bytes;
using platform::Dictionary;
using platform::Value;

constexpr const char* kSender = "123456789012";

class TokenManagerTest : public rcmtest::TokenTestFixture {
 protected:
  void SetUp() override {
    TokenTestFixture::SetUp();
    refreshObserver = platform::NotificationCenter::defaultCenter().addObserver(
        kRIRMessagingRefreshTokenNotification, {}, [this](const platform::Notification& notification) {
          std::shared_ptr<Value> token = notification.object.as<Value>();
          events.push_back("refresh " + (token ? token->description() : std::string("nil")));
        });
  }
  void TearDown() override {
    platform::NotificationCenter::defaultCenter().removeObserver(refreshObserver);
    manager.reset();
    TokenTestFixture::TearDown();
  }

  std::shared_ptr<RIRMessagingTokenManager> makeManager() {
    auto made = RIRMessagingTokenManager::initWithHeartbeatLogger(nullptr);
    made->setRcmSenderID(kSender);
    made->setRirivuduAppID(std::string(sdktest::SdkTestEnvironment::kValidAppID));
    return made;
  }

  struct Outcome {
    std::optional<std::string> token;
    std::optional<platform::Error> error;
    bool done = false;
  };
  std::shared_ptr<Outcome> startToken(const std::optional<Dictionary>& options, const std::string& scope = "*") {
    auto outcome = std::make_shared<Outcome>();
    manager->tokenWithAuthorizedEntity(kSender, scope, options,
                                       [this, outcome](std::optional<std::string> token, std::optional<platform::Error> error) {
                                         EXPECT_TRUE(platform::isMainThread());
                                         events.push_back("handler " + token.value_or(error ? "error" : "none"));
                                         outcome->token = std::move(token);
                                         outcome->error = std::move(error);
                                         outcome->done = true;
                                       });
    return outcome;
  }
  Outcome token(const std::optional<Dictionary>& options, const std::string& scope = "*") {
    std::shared_ptr<Outcome> outcome = startToken(options, scope);
    EXPECT_TRUE(runUntil([&] { return outcome->done; }));
    return *outcome;
  }
  std::optional<platform::Error> await(const std::function<void(RIRMessagingTokenManager::ErrorHandler)>& start) {
    return testkit::awaitError(start);
  }
  static Dictionary apns(Bytes token) {
    return Dictionary{{"apns_token", Value::data(std::move(token))}, {"apns_sandbox", Value(false)}};
  }

  std::shared_ptr<RIRMessagingTokenManager> manager = nullptr;
  std::vector<std::string> events;
  platform::ObserverToken refreshObserver;
};

TEST_F(TokenManagerTest, AFetchNeedsAPushToken) {
  manager = makeManager();
  Outcome refused = token(Dictionary());
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code, 505);
  EXPECT_EQ(refused.error->failureReason(), "No APNS token specified before fetching RCM Token");
  EXPECT_TRUE(env.env.logged("[I-RCM002022] Declining request for RCM Token since no APNS Token specified"));
  manager->tokenWithAuthorizedEntity(kSender, "*", apns({1}), nullptr);
  EXPECT_TRUE(env.env.logged("[I-RCM023000] Invalid nil handler"));
  runFor(0.1);
  EXPECT_EQ(installationsService.server().requestCount(), 0u);

  Outcome noScope = token(apns({1}), "");
  ASSERT_TRUE(noScope.error);
  EXPECT_EQ(noScope.error->code, 503);
}

TEST_F(TokenManagerTest, TheDefaultTokenIsAnnouncedThenReusedWhileFresh) {
  manager = makeManager();
  const std::string fid = installationID();
  Outcome first = token(apns({0x01, 0xAB}));
  ASSERT_FALSE(first.error) << first.error->description();
  EXPECT_EQ(first.token, fid + ":APA91b-1");
  EXPECT_EQ(events, (std::vector<std::string>{"refresh " + fid + ":APA91b-1", "handler " + fid + ":APA91b-1"}));
  EXPECT_EQ(messagingService.count(Kind::Checkin), 1u);
  EXPECT_EQ(messagingService.count(Kind::Register), 1u);
  EXPECT_NE(messagingService.requests(Kind::Register).at(0).body.find("&vod_app_id=1:123456789012:ios:0123abcdef"),
            std::string::npos);
  std::shared_ptr<RIRMessagingTokenInfo> stored = manager->cachedTokenInfoWithAuthorizedEntity(kSender, "*");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->token(), *first.token);

  // Fresh and for the same push token: no request.
  EXPECT_EQ(token(apns({0x01, 0xAB})).token, first.token);
  EXPECT_EQ(messagingService.count(Kind::Register), 1u);
  // Another push token asks again.
  EXPECT_EQ(token(apns({0x02})).token, first.token);
  EXPECT_EQ(messagingService.count(Kind::Register), 2u);
  EXPECT_EQ(manager->cachedTokenInfoWithAuthorizedEntity(kSender, "*")->APNSInfo()->deviceToken(), Bytes{0x02});

  // A token of another scope is no default token: no announcement.
  events.clear();
  ASSERT_TRUE(token(apns({0x02}), "scope-x").token);
  EXPECT_EQ(events.size(), 1u);
}

// A launch re-caches the stored default token before any push token is
// known; the next request with the push token it was issued for reuses it.
TEST_F(TokenManagerTest, ARelaunchReusesTheDefaultTokenForTheSamePushToken) {
  manager = makeManager();
  installationID();
  Outcome first = token(apns({0x01, 0xAB}));
  ASSERT_TRUE(first.token);

  manager = makeManager();  // the next launch: the stored records only
  manager->saveDefaultTokenInfoInKeychain(*first.token);
  std::shared_ptr<RIRMessagingTokenInfo> cached = manager->cachedTokenInfoWithAuthorizedEntity(kSender, "*");
  ASSERT_TRUE(cached);
  EXPECT_TRUE(cached->APNSInfo() && cached->APNSInfo()->deviceToken() == (Bytes{0x01, 0xAB}));
  EXPECT_EQ(token(apns({0x01, 0xAB})).token, first.token);
  EXPECT_EQ(messagingService.count(Kind::Register), 1u);
}

TEST_F(TokenManagerTest, ACancelledFetchIsAnErrorAndSavesNothing) {
  manager = makeManager();
  installationID();
  messagingService.script(Kind::Register, {testkit::Answer::text(200, "token=never").after(5)});
  std::shared_ptr<Outcome> outcome = startToken(apns({0x01}));
  ASSERT_TRUE(runUntil([&] { return messagingService.count(Kind::Register) == 1; }));
  manager->stopAllTokenOperations();
  ASSERT_TRUE(runUntil([&] { return outcome->done; }));
  ASSERT_TRUE(outcome->error);
  EXPECT_TRUE(platform::URLError::isCancelled(*outcome->error));
  EXPECT_FALSE(outcome->token);
  EXPECT_EQ(events, std::vector<std::string>{"handler error"});
  EXPECT_EQ(manager->cachedTokenInfoWithAuthorizedEntity(kSender, "*"), nullptr);
}

TEST_F(TokenManagerTest, PushTokenChangesRefetchTheTokensMadeForAnother) {
  manager = makeManager();
  const std::string fid = installationID();
  manager->setAPNSToken(Bytes{0xAA}, Dictionary{{"APNSTokenType", Value(2)}});
  ASSERT_TRUE(runUntil([&] { return manager->cachedTokenInfoWithAuthorizedEntity(kSender, "*") != nullptr; }));
  EXPECT_EQ(messagingService.count(Kind::Register), 1u);
  EXPECT_NE(messagingService.requests(Kind::Register).at(0).body.find("apns_token=p_aa"), std::string::npos);
  EXPECT_FALSE(manager->currentAPNSInfo()->isSandbox());

  manager->setAPNSToken(Bytes{0xAA}, Dictionary());
  EXPECT_TRUE(env.env.logged("[I-RCM023011] Trying to reset APNS token to the same value. Will return"));
  manager->setAPNSToken(std::nullopt, Dictionary());
  EXPECT_TRUE(env.env.logged("[I-RCM022002] Empty APNS token type"));
  runFor(0.2);
  EXPECT_EQ(messagingService.count(Kind::Register), 1u);

  // A sandbox token replaces it: the record is dropped and fetched again.
  manager->setAPNSToken(Bytes{0xBB}, Dictionary{{"APNSTokenType", Value(1)}});
  EXPECT_TRUE(env.env.logged("[I-RCM034011] Invalidating cached token for 123456789012 (*) due to APNs token change."));
  ASSERT_TRUE(runUntil([&] { return messagingService.count(Kind::Register) == 2; }));
  EXPECT_NE(messagingService.requests(Kind::Register).at(1).body.find("apns_token=s_bb"), std::string::npos);
  ASSERT_TRUE(runUntil([&] {
    auto info = manager->cachedTokenInfoWithAuthorizedEntity(kSender, "*");
    return info && info->APNSInfo() && info->APNSInfo()->deviceToken() == Bytes{0xBB};
  }));
}

TEST_F(TokenManagerTest, TheRefreshPolicyDropsStaleRecordsButKeepsTheDefault) {
  manager = makeManager();
  const std::string fid = installationID();
  ZULUserDefaults::standardUserDefaults()->setObject(Value(RIRMessagingCurrentLocale()), kRIRMessagingLocaleDefaultsKey);
  auto save = [&](const std::string& scope, const std::string& token) {
    auto info = std::make_shared<RIRMessagingTokenInfo>(kSender, scope, token, "1.0",
                                                        std::string(sdktest::SdkTestEnvironment::kValidAppID));
    testkit::awaitError([&](auto handler) { manager->tokenStore().saveTokenInfo(info, handler); });
  };
  save("*", "elsewhere:default");
  save("stale", "elsewhere:other");
  save("fresh", fid + ":fresh");

  EXPECT_TRUE(manager->checkTokenRefreshPolicyWithIID(fid));
  EXPECT_TRUE(manager->cachedTokenInfoWithAuthorizedEntity(kSender, "*"));
  EXPECT_FALSE(manager->cachedTokenInfoWithAuthorizedEntity(kSender, "stale"));
  EXPECT_TRUE(manager->cachedTokenInfoWithAuthorizedEntity(kSender, "fresh"));
  EXPECT_EQ(manager->tokenStore().cachedTokenInfos().size(), 2u);

  save("*", fid + ":default");
  EXPECT_FALSE(manager->checkTokenRefreshPolicyWithIID(fid));
}

TEST_F(TokenManagerTest, DeletesAndTheFullReset) {
  manager = makeManager();
  // Without a check-in nothing is sent.
  EXPECT_EQ(await([&](auto handler) { manager->deleteAllTokensWithHandler(handler); }), std::nullopt);
  EXPECT_EQ(messagingService.count(Kind::Register), 0u);

  const std::string fid = installationID();
  ASSERT_TRUE(token(apns({1})).token);
  ASSERT_TRUE(token(apns({1}), "other").token);
  manager->saveDefaultTokenInfoInKeychain(fid + ":APA91b-1");
  EXPECT_EQ(manager->defaultRCMToken(), fid + ":APA91b-1");

  EXPECT_EQ(await([&](auto handler) { manager->deleteTokenWithAuthorizedEntity(kSender, "other", fid, handler); }),
            std::nullopt);
  EXPECT_FALSE(manager->cachedTokenInfoWithAuthorizedEntity(kSender, "other"));
  EXPECT_EQ(messagingService.tokens().size(), 1u);

  events.clear();
  EXPECT_EQ(await([&](auto handler) { manager->deleteWithHandler(handler); }), std::nullopt);
  const std::string last = messagingService.requests(Kind::Register).back().body;
  EXPECT_NE(last.find("&delete=true&iid-operation=delete&sender=*&appid=" + fid), std::string::npos) << last;
  EXPECT_TRUE(messagingService.tokens().empty());
  EXPECT_FALSE(manager->defaultRCMToken());
  EXPECT_TRUE(manager->tokenStore().cachedTokenInfos().empty());
  EXPECT_EQ(events, std::vector<std::string>{"refresh nil"});
  EXPECT_FALSE(manager->authService()->checkinPreferences());
  EXPECT_FALSE(manager->authService()->hasCheckinPlist());
}

TEST_F(TokenManagerTest, AFreshInstallForgetsTheCheckinAndItsServerRegistrations) {
  // A check-in survives in the keychain while its plist is gone.
  manager = makeManager();
  installationID();
  ASSERT_TRUE(token(apns({1})).token);
  const std::string credentials = manager->deviceAuthID() + "|" + manager->secretToken();
  ASSERT_FALSE(platform::fs::removeItem(
      rcmtest::MessagingTestEnvironment::supportPath("Zoruvu/RirivuduInstanceID/g-checkin.plist")));
  manager.reset();
  const size_t before = messagingService.count(Kind::Register);

  manager = makeManager();
  ASSERT_TRUE(runUntil([&] { return env.env.logged("[I-RCM034007] Successfully deleted ZCM server registrations"); }));
  EXPECT_TRUE(env.env.logged("[I-RCM033002] Removed cached checkin preferences from Keychain because this is a fresh install."));
  ASSERT_EQ(messagingService.count(Kind::Register), before + 1);
  testkit::RecordedRequest request = messagingService.requests(Kind::Register).back();
  EXPECT_EQ(request.header("Authorization"), "AidLogin " + credentials.substr(0, credentials.find('|')) + ":" +
                                                 credentials.substr(credentials.find('|') + 1));
  EXPECT_NE(request.body.find("&delete=true"), std::string::npos);
  EXPECT_EQ(request.body.find("sender="), std::string::npos);
  EXPECT_FALSE(manager->authService()->checkinPreferences());
}

TEST_F(TokenManagerTest, TokenChangesAndTheDefaultTokenShortcut) {
  const struct {
    std::optional<std::string> before;
    std::optional<std::string> after;
    bool changed;
  } cases[] = {{std::nullopt, std::string(""), false}, {std::string(""), std::string(""), false},
               {std::string("a"), std::string("b"), true}, {std::string("a"), std::string("a"), false},
               {std::nullopt, std::string("a"), true},     {std::string("ab"), std::nullopt, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(RIRMessagingTokenManager::hasTokenChangedFromOldToken(c.before, c.after), c.changed)
        << c.before.value_or("nil") << " -> " << c.after.value_or("nil");
  }

  manager = makeManager();
  manager->setRcmSenderID("");
  EXPECT_EQ(manager->tokenAndRequestIfNotExist(), std::nullopt);
  manager->setRcmSenderID(kSender);
  installationID();
  ASSERT_TRUE(token(apns({7})).token);
  EXPECT_EQ(manager->tokenAndRequestIfNotExist(), manager->cachedTokenInfoWithAuthorizedEntity(kSender, "*")->token());
}

}  // namespace

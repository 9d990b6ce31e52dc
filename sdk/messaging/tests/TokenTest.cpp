// Token records and their store, and the token operations against the fake
// services: form bodies, headers, answers, retries and cancellation.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/dispatch/OperationQueue.h"
#include "platform/keychain/Keychain.h"
#include "platform/storage/KeyedArchiver.h"
#include "platform/time/Clock.h"
#include "sdk/installations/RIRInstallationsIIDTokenStore.h"
#include "sdk/messaging/RIRMessagingTokenOperation.h"
#include "sdk/messaging/RIRMessagingTokenStore.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/messaging/tests/TokenTestFixture.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULUserDefaults.h"
#include "testing/VirtualClockFixture.h"

namespace {

using platform::Bytes;
using platform::Dictionary;
using platform::Value;
using Info = RIRMessagingTokenInfo;
using rcmtest::MessagingTestEnvironment;
using rcmtest::TokenTestFixture;

std::shared_ptr<Info> record(const std::string& token, const std::string& scope = "*") {
  auto info = std::make_shared<Info>("123456789012", scope, token, "1.0", sdktest::SdkTestEnvironment::kValidAppID);
  info->setAPNSInfo(std::make_shared<RIRMessagingAPNSInfo>(Bytes{0x01, 0xAB}, false));
  return info;
}

class TokenRecordTest : public testkit::MainQueuePump {
 protected:
  std::optional<platform::Error> save(RIRMessagingTokenStore& store, const std::shared_ptr<Info>& info) {
    return testkit::awaitError([&](auto handler) { store.saveTokenInfo(info, handler); });
  }
  MessagingTestEnvironment env;
};

TEST_F(TokenRecordTest, FreshnessRules) {
  testkit::VirtualClockScope clock;
  const double now = platform::Clock::current()->now();
  ZULUserDefaults::standardUserDefaults()->setObject(Value("en_US"), kRIRMessagingLocaleDefaultsKey);
  const std::string iid = "fid123";
  auto make = [&](const std::string& token, const std::string& scope, std::optional<std::string> version,
                  std::optional<std::string> appID, std::optional<double> savedAgo) {
    auto info = std::make_shared<Info>("s", scope, token, version, appID);
    if (savedAgo) info->setCacheTime(now - *savedAgo);
    return info;
  };
  const std::string app = sdktest::SdkTestEnvironment::kValidAppID;
  const struct {
    const char* name;
    std::shared_ptr<Info> info;
    bool fresh;
  } cases[] = {
      {"fresh", make("fid123:abc", "*", "1.0", app, 10), true},
      {"one second before seven days", make("fid123:abc", "*", "1.0", app, 604799), true},
      {"seven days", make("fid123:abc", "*", "1.0", app, 604800), false},
      {"never saved", make("fid123:abc", "*", "1.0", app, std::nullopt), false},
      {"another installation", make("fid999:abc", "*", "1.0", app, 10), false},
      {"denylisted scope", make("fid123:abc", "riam", "1.0", app, 10), false},
      {"no app version", make("fid123:abc", "*", std::nullopt, app, 10), false},
      {"older app version", make("fid123:abc", "*", "0.9", app, 10), false},
      {"no app ID", make("fid123:abc", "*", "1.0", std::nullopt, 10), false},
      {"another app ID", make("fid123:abc", "*", "1.0", "1:2:ios:3", 10), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.info->isFreshWithIID(iid), c.fresh);
  }
  EXPECT_FALSE(cases[0].info->isFreshWithIID(std::nullopt));
  EXPECT_TRUE(env.env.logged("[I-RCM034004] Invalidating cached token for s (*) due to app version change."));
  env.vars.set("LANGUAGE", std::string("de_DE"));
  EXPECT_FALSE(cases[0].info->isFreshWithIID(iid));
  EXPECT_TRUE(env.env.logged("[I-RCM042002] Invalidating cached token due to locale change"));
}

TEST_F(TokenRecordTest, RecordsRoundTripAndStayReadableByInstallations) {
  RIRMessagingTokenStore store;
  ASSERT_EQ(save(store, record("fid:token-1")), std::nullopt);
  RIRMessagingTokenStore reopened;
  std::shared_ptr<Info> read = reopened.tokenInfoWithAuthorizedEntity("123456789012", "*");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->token(), "fid:token-1");
  EXPECT_EQ(read->appVersion(), "1.0");
  EXPECT_EQ(read->ririvuduAppID(), sdktest::SdkTestEnvironment::kValidAppID);
  ASSERT_TRUE(read->APNSInfo());
  EXPECT_EQ(read->APNSInfo()->deviceToken(), (Bytes{0x01, 0xAB}));
  EXPECT_TRUE(read->cacheTime());
  EXPECT_FALSE(read->needsMigration());

  // The installations library finds the default token where it looks for it.
  platform::KeychainQuery query = RIRMessagingAuthKeychain::keychainQueryForService(
      "123456789012:*", "com.tavix.app", kRIRMessagingTokenKeychainGeneric);
  query.returnData = true;
  platform::KeychainReadResult item = platform::Keychain::shared()->copyMatching(query);
  ASSERT_TRUE(item.data);
  EXPECT_EQ(RIRInstallationsIIDTokenStore::IIDCheckinWithData(*item.data).valueOr(""), "fid:token-1");

  EXPECT_EQ(reopened.tokenInfoWithAuthorizedEntity("123456789012", ""), nullptr);
  EXPECT_EQ(reopened.tokenInfoWithAuthorizedEntity("", "*"), nullptr);
  EXPECT_EQ(reopened.tokenInfoWithAuthorizedEntity("other", "*"), nullptr);

  // Corrupt bytes read as absent.
  EXPECT_EQ(RIRMessagingTokenStore::tokenInfoFromKeychainItem(Bytes{'x', 'y'}), nullptr);
  EXPECT_TRUE(env.env.logged("[I-RCM035015] Unable to parse token info from Keychain item"));
}

// An archive in the older form: the push-token record nested as raw bytes.
class LegacyTokenInfo : public platform::Archivable {
 public:
  std::string className() const override { return "RIRInstanceIDTokenInfo"; }
  void encodeWith(platform::KeyedArchiver& archiver) const override {
    archiver.encodeObject("authorized_entity", Value("123456789012"));
    archiver.encodeObject("scope", Value("*"));
    archiver.encodeObject("token", Value("fid:legacy"));
    archiver.encodeObject("app_version", Value("1.0"));
    platform::KeyedArchiver nested;
    nested.setClassName("RIRInstanceIDAPNSInfo", RIRMessagingAPNSInfo::kClassName);
    nested.encodeRootObject(RIRMessagingAPNSInfo(Bytes{0x0F}, true));
    archiver.encodeObject("apns_info", Value::data(nested.finishEncoding().value()));
  }
};

TEST_F(TokenRecordTest, TheOlderPushTokenFormIsReadAndRewritten) {
  platform::Result<Bytes> legacy = platform::KeyedArchiver::archivedData(LegacyTokenInfo());
  ASSERT_TRUE(legacy);
  std::shared_ptr<Info> decoded = RIRMessagingTokenStore::tokenInfoFromKeychainItem(legacy.value());
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->needsMigration());
  ASSERT_TRUE(decoded->APNSInfo());
  EXPECT_EQ(decoded->APNSInfo()->deviceToken(), Bytes{0x0F});
  EXPECT_TRUE(decoded->APNSInfo()->isSandbox());

  // Stored so, it is rewritten in the current form at its first read.
  platform::KeychainQuery add = RIRMessagingAuthKeychain::keychainQueryForService(
      "123456789012:*", "com.tavix.app", kRIRMessagingTokenKeychainGeneric);
  add.valueData = legacy.value();
  ASSERT_EQ(platform::Keychain::shared()->add(add), platform::kKeychainSuccess);
  RIRMessagingTokenStore store;
  ASSERT_TRUE(store.tokenInfoWithAuthorizedEntity("123456789012", "*"));
  ASSERT_TRUE(runUntil([&] { return env.env.logged("[I-RCM034001] Successful token migration"); }));
  std::shared_ptr<Info> rewritten = RIRMessagingTokenStore().tokenInfoWithAuthorizedEntity("123456789012", "*");
  ASSERT_TRUE(rewritten);
  EXPECT_FALSE(rewritten->needsMigration());
  EXPECT_EQ(rewritten->APNSInfo()->deviceToken(), Bytes{0x0F});

  // A raw form that is not an archive leaves the record without push token.
  class Broken : public LegacyTokenInfo {
    void encodeWith(platform::KeyedArchiver& archiver) const override {
      archiver.encodeObject("authorized_entity", Value("e"));
      archiver.encodeObject("scope", Value("*"));
      archiver.encodeObject("token", Value("t"));
      archiver.encodeObject("apns_info", Value::data(Bytes{1, 2, 3}));
    }
  };
  std::shared_ptr<Info> broken = RIRMessagingTokenStore::tokenInfoFromKeychainItem(
      platform::KeyedArchiver::archivedData(Broken()).value());
  ASSERT_TRUE(broken);
  EXPECT_FALSE(broken->APNSInfo());
  EXPECT_FALSE(broken->needsMigration());
  EXPECT_TRUE(env.env.logged("[I-RCM042000] Could not parse raw APNS Info while parsing archived token info."));
}

TEST_F(TokenRecordTest, ListingAndRemovingRecords) {
  RIRMessagingTokenStore store;
  ASSERT_EQ(save(store, record("fid:a")), std::nullopt);
  ASSERT_EQ(save(store, record("fid:b", "scope-b")), std::nullopt);
  ASSERT_EQ(save(store, record("fid:c", "scope-c")), std::nullopt);
  EXPECT_EQ(store.cachedTokenInfos().size(), 3u);  // every record, not just one

  store.removeTokenWithAuthorizedEntity("123456789012", "scope-b");
  store.removeTokenWithAuthorizedEntity("", "*");
  EXPECT_TRUE(env.env.logged("[I-RCM033012] Will not delete token with invalid entity: , scope: *"));
  EXPECT_EQ(store.cachedTokenInfos().size(), 2u);
  EXPECT_FALSE(testkit::awaitError([&](auto handler) { store.removeAllTokensWithHandler(handler); }));
  EXPECT_TRUE(store.cachedTokenInfos().empty());
  EXPECT_EQ(store.tokenInfoWithAuthorizedEntity("123456789012", "*"), nullptr);
}

TEST(APNSInfoTest, EqualityAndTokenOptions) {
  auto a = std::make_shared<RIRMessagingAPNSInfo>(Bytes{1, 2}, true);
  EXPECT_TRUE(a->isEqualToAPNSInfo(std::make_shared<RIRMessagingAPNSInfo>(Bytes{1, 2}, true)));
  EXPECT_FALSE(a->isEqualToAPNSInfo(std::make_shared<RIRMessagingAPNSInfo>(Bytes{1, 2}, false)));
  EXPECT_FALSE(a->isEqualToAPNSInfo(std::make_shared<RIRMessagingAPNSInfo>(Bytes{1, 3}, true)));
  EXPECT_FALSE(a->isEqualToAPNSInfo(nullptr));
  EXPECT_TRUE(RIRMessagingAPNSInfo::initWithTokenOptionsDictionary(
      Dictionary{{"apns_token", Value::data(Bytes{1})}, {"apns_sandbox", Value(true)}}));
  EXPECT_FALSE(RIRMessagingAPNSInfo::initWithTokenOptionsDictionary(Dictionary{{"apns_token", Value::data(Bytes{1})}}));
  EXPECT_FALSE(RIRMessagingAPNSInfo::initWithTokenOptionsDictionary(
      Dictionary{{"apns_token", Value("01")}, {"apns_sandbox", Value(true)}}));
}

// --- operations against the fakes -----------------------------------------------------

class TokenOperationTest : public TokenTestFixture {
 protected:
  struct Outcome {
    RIRMessagingTokenOperationResult result = RIRMessagingTokenOperationSucceeded;
    std::optional<std::string> token;
    std::optional<platform::Error> error;
    int calls = 0;
  };

  // Runs the operation on a one-at-a-time queue and waits for its end.
  Outcome run(const std::shared_ptr<RIRMessagingTokenOperation>& operation, bool cancelFirst = false) {
    auto outcome = std::make_shared<Outcome>();
    operation->addCompletionHandler([outcome](RIRMessagingTokenOperationResult result, std::optional<std::string> token,
                                              std::optional<platform::Error> error) {
      outcome->result = result;
      outcome->token = std::move(token);
      outcome->error = std::move(error);
      ++outcome->calls;
    });
    platform::OperationQueue queue(1, cancelFirst);
    queue.add(operation);
    if (cancelFirst) {
      operation->cancel();
      queue.resume();
    }
    EXPECT_TRUE(runUntil([&] { return operation->isFinished(); }));
    runFor(0.05);
    EXPECT_EQ(outcome->calls, 1);
    return *outcome;
  }

  std::shared_ptr<RIRMessagingCheckinPreferences> checkin() {
    auto prefs = std::make_shared<RIRMessagingCheckinPreferences>("3987654321012345678", "8123456789012345678");
    prefs->setVersionInfo("vi-1");
    return prefs;
  }

  // The fake knows the device of checkin().
  void checkInTheDevice() {
    std::string body = R"({"id":0,"security_token":0})";
    httplibPost("/checkin", body);
  }
  void httplibPost(const std::string& path, const std::string& body) {
    platform::HttpRequest request(messagingService.url() + path, "POST");
    request.setBody(body);
    std::atomic<bool> done{false};
    auto session = platform::HttpSession::create();
    session->dataTask(request, [&](platform::HttpResult) { done = true; })->resume();
    ASSERT_TRUE(runUntil([&] { return done.load(); }));
  }

  std::shared_ptr<RIRMessagingTokenFetchOperation> fetch(Dictionary options = {}) {
    return std::make_shared<RIRMessagingTokenFetchOperation>("123456789012", "*", options, checkin(), installationID(),
                                                             nullptr);
  }
};

TEST_F(TokenOperationTest, FetchAndDeleteSendTheirFormsByteForByte) {
  checkInTheDevice();
  const std::string fid = installationID();
  Outcome fetched = run(fetch(Dictionary{{"apns_token", Value::data(Bytes{0x01, 0xAB})},
                                         {"apns_sandbox", Value(false)},
                                         {"vod_app_id", Value("1:2:ios:a+b&c=d")}}));
  ASSERT_FALSE(fetched.error) << fetched.error->description();
  EXPECT_EQ(fetched.result, RIRMessagingTokenOperationSucceeded);
  EXPECT_EQ(fetched.token, fid + ":APA91b-1");

  const std::string common = "X-osv=" + ZULAppEnvironmentUtil::systemVersion() +
                             "&device=3987654321012345678&X-scope=*&plat=2&app=com.tavix.app&app_ver=1.0"
                             "&X-cliv=riid-12.6.0";
  ASSERT_EQ(messagingService.count(Kind::Register), 1u);
  testkit::RecordedRequest request = messagingService.requests(Kind::Register).at(0);
  EXPECT_EQ(request.body, common + "&sender=123456789012&X-subtype=123456789012&appid=" + fid +
                              "&apns_token=p_01ab&vod_app_id=1:2:ios:a%2Bb%26c%3Dd");
  EXPECT_EQ(request.header("Authorization"), "AidLogin 3987654321012345678:8123456789012345678");
  EXPECT_EQ(request.header("app"), "com.tavix.app");
  EXPECT_EQ(request.header("info"), "vi-1");
  EXPECT_EQ(request.header("x-zoruvu-ririvudu-installations-auth"), installationsService.installations().at(fid).authToken);
  EXPECT_EQ(request.header("X-ririvudu-client-log-type"), "0");
  EXPECT_EQ(request.header("X-ririvudu-client"), RIRApp::ririvuduUserAgent());
  EXPECT_FALSE(request.header("X-ririvudu-client").empty());

  Outcome deleted = run(std::make_shared<RIRMessagingTokenDeleteOperation>(
      "123456789012", "*", checkin(), fid, RIRMessagingTokenActionDeleteTokenAndIID, nullptr));
  EXPECT_EQ(deleted.result, RIRMessagingTokenOperationSucceeded);
  EXPECT_FALSE(deleted.token);
  request = messagingService.requests(Kind::Register).at(1);
  EXPECT_EQ(request.body, common + "&delete=true&iid-operation=delete&sender=123456789012&appid=" + fid);
  EXPECT_FALSE(request.hasHeader("info"));
  EXPECT_TRUE(messagingService.tokens().empty());

  // Without a push-token environment no "apns_token" item goes out.
  run(fetch(Dictionary{{"apns_token", Value::data(Bytes{0x01})}}));
  EXPECT_EQ(messagingService.requests(Kind::Register).at(2).body.find("apns_token"), std::string::npos);
}

TEST_F(TokenOperationTest, FetchAnswersAndDeleteAnswers) {
  checkInTheDevice();
  const struct {
    const char* body;
    RIRMessagingTokenOperationResult result;
    const char* token;
    int64_t code;
    const char* reason;
    int status = 200;
  } fetches[] = {
      {"token=abc", RIRMessagingTokenOperationSucceeded, "abc", 0, nullptr},
      {"token=abc\nfoo=bar", RIRMessagingTokenOperationSucceeded, "abc", 0, nullptr},
      {"token=ab=cd==", RIRMessagingTokenOperationSucceeded, "ab=cd==", 0, nullptr},
      {"Error=RST", RIRMessagingTokenOperationError, nullptr, 2001, "Identity is invalid. Server request identity reset."},
      {"Error=FOO:RST", RIRMessagingTokenOperationError, nullptr, 2001, nullptr},
      {"Error=SERVICE_NOT_AVAILABLE", RIRMessagingTokenOperationError, nullptr, 0, "SERVICE_NOT_AVAILABLE"},
      {"", RIRMessagingTokenOperationError, nullptr, 0, "Empty response."},
      {"<html>oops</html>", RIRMessagingTokenOperationError, nullptr, 0,
       "Invalid fetch response, expected 'token' or 'Error' key"},
      // The status decides before the body does.
      {"token=abc", RIRMessagingTokenOperationError, nullptr, 0, "The server answered with HTTP status 500.", 500},
      {"token=abc", RIRMessagingTokenOperationError, nullptr, 0, "The server answered with HTTP status 404.", 404},
  };
  for (const auto& c : fetches) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    messagingService.script(Kind::Register, {testkit::Answer::text(c.status, c.body)});
    Outcome outcome = run(fetch());
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.token, c.token ? std::optional<std::string>(c.token) : std::nullopt);
    if (c.result == RIRMessagingTokenOperationError) {
      ASSERT_TRUE(outcome.error);
      EXPECT_EQ(outcome.error->domain, "com.zoruvu.rcm");
      EXPECT_EQ(outcome.error->code, c.code);
      if (c.reason) {
        EXPECT_EQ(outcome.error->failureReason(), c.reason);
      }
    }
  }

  const struct {
    const char* body;
    bool ok;
    int status = 200;
  } deletes[] = {{"deleted=fid", true}, {"token=x", true}, {"nope", false}, {"", false}, {"deleted=fid", false, 503}};
  for (const auto& c : deletes) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    messagingService.script(Kind::Register, {testkit::Answer::text(c.status, c.body)});
    Outcome outcome = run(std::make_shared<RIRMessagingTokenDeleteOperation>(
        "123456789012", "*", checkin(), installationID(), RIRMessagingTokenActionDeleteToken, nullptr));
    EXPECT_EQ(outcome.result, c.ok ? RIRMessagingTokenOperationSucceeded : RIRMessagingTokenOperationError);
  }
  EXPECT_TRUE(env.env.logged("[I-RCM041002] Invalid unregister response <HTTP response: status 200"));
}

TEST_F(TokenOperationTest, PhoneRegistrationErrorsRetryWithGrowingWaits) {
  checkInTheDevice();
  const std::string fid = installationID();
  testkit::VirtualClockScope clockScope;
  auto clock = clockScope.clock();
  messagingService.script(Kind::Register, {testkit::Answer::text(200, "Error=PHONE_REGISTRATION_ERROR"),
                                           testkit::Answer::text(200, "Error=X:PHONE_REGISTRATION_ERROR")});
  auto operation = fetch();
  auto done = std::make_shared<std::atomic<bool>>(false);
  operation->addCompletionHandler([done](auto, auto, auto) { *done = true; });
  platform::OperationQueue queue(1);
  queue.add(operation);
  ASSERT_TRUE(runUntil([&] { return operation->scheduledRetries() == 1; }));
  clock->advance(0.999);
  drain();
  EXPECT_EQ(messagingService.count(Kind::Register), 1u);
  clock->advance(0.001);  // 1 s after the first answer
  ASSERT_TRUE(runUntil([&] { return operation->scheduledRetries() == 2; }));
  clock->advance(1.999);
  drain();
  EXPECT_EQ(messagingService.count(Kind::Register), 2u);
  EXPECT_TRUE(operation->isExecuting());
  clock->advance(0.001);  // 2 s after the second
  ASSERT_TRUE(runUntil([&] { return done->load(); }));
  EXPECT_EQ(operation->result(), RIRMessagingTokenOperationSucceeded);
  EXPECT_EQ(RIRMessagingTokenFetchOperation::phoneRegistrationRetries(), 2);

  // After ten retries in the process the answer is an invalid response.
  RIRMessagingTokenFetchOperation::setPhoneRegistrationRetriesForTesting(10);
  messagingService.script(Kind::Register, {testkit::Answer::text(200, "Error=PHONE_REGISTRATION_ERROR")});
  Outcome outcome = run(fetch());
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->failureReason(), "Invalid fetch response, expected 'token' or 'Error' key");
}

TEST_F(TokenOperationTest, NoCheckinOrACancelMeansNoRequest) {
  Outcome noCheckin = run(std::make_shared<RIRMessagingTokenFetchOperation>(
      "123456789012", "*", Dictionary(), std::make_shared<RIRMessagingCheckinPreferences>(), "fid", nullptr));
  EXPECT_EQ(noCheckin.result, RIRMessagingTokenOperationError);
  EXPECT_EQ(noCheckin.error->code, 6);
  EXPECT_EQ(noCheckin.error->failureReason(), "Failed to checkin before token registration.");
  EXPECT_EQ(installationsService.count(testkit::FakeInstallationsService::Kind::GenerateToken), 0u);

  Outcome cancelled = run(fetch(), true);
  EXPECT_EQ(cancelled.result, RIRMessagingTokenOperationCancelled);
  EXPECT_FALSE(cancelled.error);
  EXPECT_FALSE(cancelled.token);
  EXPECT_EQ(messagingService.count(Kind::Register), 0u);

  // Cancelling while the request is out finishes at once; the answer is ignored.
  checkInTheDevice();
  messagingService.script(Kind::Register, {testkit::Answer::text(200, "token=late").after(1)});
  auto operation = fetch();
  auto outcome = std::make_shared<Outcome>();
  operation->addCompletionHandler([outcome](auto result, auto token, auto error) {
    outcome->result = result;
    outcome->token = token;
    outcome->error = error;
    ++outcome->calls;
  });
  platform::OperationQueue queue(1);
  queue.add(operation);
  ASSERT_TRUE(runUntil([&] { return messagingService.count(Kind::Register) == 1; }));
  operation->cancel();
  EXPECT_TRUE(operation->isFinished());
  runFor(1.3);
  EXPECT_EQ(outcome->calls, 1);
  EXPECT_EQ(outcome->result, RIRMessagingTokenOperationCancelled);
}

}  // namespace

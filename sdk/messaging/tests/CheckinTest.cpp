// Check-in: the record and its validity, the plist-and-keychain store, one
// check-in request against the fake service, and the auth service's single
// flight, saving, notification and retry timer.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/keychain/Keychain.h"
#include "platform/net/URLError.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Json.h"
#include "platform/storage/PropertyList.h"
#include "sdk/messaging/RIRMessagingAuthService.h"
#include "sdk/messaging/RIRMessagingCheckinService.h"
#include "sdk/messaging/RIRMessagingCheckinStore.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/messaging/tests/MessagingTestEnvironment.h"
#include "sdk/utilities/ZULUserDefaults.h"
#include "testing/MainQueuePump.h"
#include "testing/VirtualClockFixture.h"
#include "testing/fakes/messaging/FakeMessagingService.h"

namespace {

using platform::Dictionary;
using platform::Value;
using Prefs = RIRMessagingCheckinPreferences;
using Kind = testkit::FakeMessagingService::Kind;

constexpr const char* kPlist = "Zoruvu/RirivuduInstanceID/g-checkin.plist";

std::optional<std::string> keychainItem() {
  platform::KeychainQuery query = RIRMessagingAuthKeychain::keychainQueryForService(
      kRIRMessagingCheckinKeychainService, "com.tavix.app", kRIRMessagingCheckinKeychainGeneric);
  query.returnData = true;
  query.matchLimitOne = true;
  platform::KeychainReadResult read = platform::Keychain::shared()->copyMatching(query);
  if (!read.data) return std::nullopt;
  return std::string(read.data->begin(), read.data->end());
}

void putKeychainItem(const std::string& contents) {
  platform::KeychainQuery query = RIRMessagingAuthKeychain::keychainQueryForService(
      kRIRMessagingCheckinKeychainService, "com.tavix.app", kRIRMessagingCheckinKeychainGeneric);
  query.valueData = platform::Bytes(contents.begin(), contents.end());
  ASSERT_EQ(platform::Keychain::shared()->add(query), platform::kKeychainSuccess);
}

std::shared_ptr<Prefs> record(const std::string& deviceID, const std::string& secret, int64_t timestamp) {
  auto prefs = std::make_shared<Prefs>(deviceID, secret);
  prefs->setDigest("d1");
  prefs->setVersionInfo("v1");
  prefs->setDeviceDataVersion("ddv");
  prefs->setZServicesData(Dictionary{{"k", Value("v")}});
  prefs->setLastCheckinTimestampMillis(timestamp);
  return prefs;
}

class CheckinTest : public testkit::MainQueuePump {
 protected:

  // Filled on whichever thread the handler runs; `done` is set last.
  struct Outcome {
    Outcome() = default;
    Outcome(const Outcome& other) : checkin(other.checkin), error(other.error), done(other.done.load()) {}
    std::shared_ptr<Prefs> checkin;
    std::optional<platform::Error> error;
    std::atomic<bool> done{false};
  };

  std::shared_ptr<Outcome> startFetch(RIRMessagingAuthService& auth) {
    auto outcome = std::make_shared<Outcome>();
    auth.fetchCheckinInfoWithHandler([outcome](std::shared_ptr<Prefs> checkin, std::optional<platform::Error> error) {
      EXPECT_FALSE(outcome->done) << "handler called twice";
      outcome->checkin = std::move(checkin);
      outcome->error = std::move(error);
      outcome->done = true;
    });
    return outcome;
  }
  Outcome fetch(RIRMessagingAuthService& auth) {
    std::shared_ptr<Outcome> outcome = startFetch(auth);
    EXPECT_TRUE(runUntil([&] { return outcome->done.load(); }));
    return *outcome;
  }
  std::optional<platform::Error> save(RIRMessagingCheckinStore& store, const std::shared_ptr<Prefs>& prefs) {
    return testkit::awaitError([&](auto handler) { store.saveCheckinPreferences(prefs, handler); });
  }
  void storeLocale() {
    ZULUserDefaults::standardUserDefaults()->setObject(Value(RIRMessagingCurrentLocale()),
                                                       kRIRMessagingLocaleDefaultsKey);
  }

  testkit::FakeMessagingService service;
  rcmtest::MessagingTestEnvironment env{service.url()};
};

TEST_F(CheckinTest, KeychainContentHasExactlyTwoNonEmptyParts) {
  const struct {
    const char* content;
    const char* deviceID;
    const char* secret;
  } cases[] = {{"123|456", "123", "456"}, {"123|", nullptr, nullptr}, {"|456", nullptr, nullptr},
               {"123", nullptr, nullptr}, {"1|2|3", nullptr, nullptr}, {"", nullptr, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    std::shared_ptr<Prefs> prefs = Prefs::preferencesFromKeychainContents(c.content);
    if (!c.deviceID) {
      EXPECT_FALSE(prefs);
      continue;
    }
    ASSERT_TRUE(prefs);
    EXPECT_EQ(prefs->deviceID(), c.deviceID);
    EXPECT_EQ(prefs->secretToken(), c.secret);
    EXPECT_EQ(prefs->checkinKeychainContent(), c.content);
  }
  EXPECT_EQ(Prefs::checkinKeychainContent("1|2", 2), std::nullopt);
  EXPECT_EQ(Prefs("1", "").checkinKeychainContent(), std::nullopt);
}

TEST_F(CheckinTest, ValidityEndsSevenDaysAfterTheCheckin) {
  testkit::VirtualClockScope clock;
  const int64_t now = RIRMessagingCurrentTimestampInMilliseconds();
  auto defaults = ZULUserDefaults::standardUserDefaults();

  // The first test ever stores the locale and trusts the credentials.
  auto ancient = record("1", "2", 0);
  EXPECT_TRUE(ancient->hasValidCheckinInfo());
  EXPECT_EQ(defaults->stringForKey(kRIRMessagingLocaleDefaultsKey), Value("en_US"));
  EXPECT_FALSE(ancient->hasValidCheckinInfo());  // from now on by age

  EXPECT_TRUE(record("1", "2", now - 604799000)->hasValidCheckinInfo());
  EXPECT_FALSE(record("1", "2", now - 604800000)->hasValidCheckinInfo());
  EXPECT_FALSE(record("1", "", now)->hasValidCheckinInfo());

  // A changed language makes the next test stale and stores the new locale.
  env.vars.set("LANGUAGE", std::string("fr_FR"));
  auto fresh = record("1", "2", now);
  EXPECT_FALSE(fresh->hasValidCheckinInfo());
  EXPECT_EQ(defaults->stringForKey(kRIRMessagingLocaleDefaultsKey), Value("fr_FR"));
  EXPECT_TRUE(fresh->hasValidCheckinInfo());
}

TEST_F(CheckinTest, StoreKeepsCredentialsInTheKeychainAndTheRestInThePlist) {
  RIRMessagingCheckinStore store;
  EXPECT_FALSE(store.hasCheckinPlist());
  EXPECT_EQ(store.cachedCheckinPreferences(), nullptr);

  EXPECT_EQ(save(store, record("3987654321012345678", "8123456789012345678", 1700000000000)), std::nullopt);
  EXPECT_TRUE(store.hasCheckinPlist());
  EXPECT_EQ(keychainItem(), "3987654321012345678|8123456789012345678");
  platform::Result<Dictionary> plist =
      platform::PropertyList::readDictionary(rcmtest::MessagingTestEnvironment::supportPath(kPlist));
  ASSERT_TRUE(plist);
  EXPECT_EQ(platform::fs::attributes(rcmtest::MessagingTestEnvironment::supportPath(kPlist)).value().permissions,
            0600u);
  EXPECT_EQ(Value(plist.value()),
            Value(Dictionary{{"ZMSInstanceIDDigestKey", Value("d1")},
                             {"ZMSInstanceIDVersionInfo", Value("v1")},
                             {"ZMSInstanceIDDeviceDataVersion", Value("ddv")},
                             {"ZMSInstanceIDLastCheckinTimestampKey", Value(1700000000000LL)},
                             {"ZMSInstanceIDZServicesData", Value(Dictionary{{"k", Value("v")}})}}));

  RIRMessagingCheckinStore reopened;
  std::shared_ptr<Prefs> loaded = reopened.cachedCheckinPreferences();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->deviceID(), "3987654321012345678");
  EXPECT_EQ(loaded->secretToken(), "8123456789012345678");
  EXPECT_EQ(loaded->digest(), "d1");
  EXPECT_EQ(loaded->lastCheckinTimestampMillis(), 1700000000000);
  EXPECT_EQ(Value(loaded->zServicesData()), Value(Dictionary{{"k", Value("v")}}));

  // An incomplete record is refused with code 6.
  std::optional<platform::Error> refused = save(store, record("1", "", 0));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->code, 6);
  EXPECT_EQ(refused->failureReason(), "Failed to get checkin keychain content from memory.");
}

TEST_F(CheckinTest, StoreReadsLegacyCorruptAndPartialFiles) {
  const std::string path = rcmtest::MessagingTestEnvironment::supportPath(kPlist);
  // Legacy keys alone make a record.
  ASSERT_FALSE(platform::PropertyList::writeFile(
      path, Value(Dictionary{{"ZMSInstanceIDDeviceAuthIdKey", Value("11")},
                             {"ZMSInstanceIDSecretTokenKey", Value("22")},
                             {"ZMSInstanceIDDigestKey", Value("legacy")},
                             {"ZMSInstanceIDLastCheckinTimestampKey", Value(5LL)}})));
  std::shared_ptr<Prefs> legacy = RIRMessagingCheckinStore().cachedCheckinPreferences();
  ASSERT_TRUE(legacy);
  EXPECT_EQ(legacy->deviceID(), "11");
  EXPECT_EQ(legacy->secretToken(), "22");
  EXPECT_EQ(legacy->digest(), "legacy");
  EXPECT_EQ(legacy->lastCheckinTimestampMillis(), 5);

  // Neither keychain nor legacy credentials: no record, although a plist exists.
  ASSERT_FALSE(platform::PropertyList::writeFile(path, Value(Dictionary{{"ZMSInstanceIDDigestKey", Value("x")}})));
  EXPECT_EQ(RIRMessagingCheckinStore().cachedCheckinPreferences(), nullptr);

  // The keychain wins over legacy keys; a corrupt plist leaves only the credentials.
  putKeychainItem("33|44");
  ASSERT_FALSE(platform::fs::writeFile(path, std::string("<plist><dict><key>broken")));
  std::shared_ptr<Prefs> corrupt = RIRMessagingCheckinStore().cachedCheckinPreferences();
  ASSERT_TRUE(corrupt);
  EXPECT_EQ(corrupt->checkinKeychainContent(), "33|44");
  EXPECT_EQ(corrupt->lastCheckinTimestampMillis(), 0);
  EXPECT_EQ(corrupt->digest(), "");
}

TEST_F(CheckinTest, AFailedPlistWriteRemovesTheCredentials) {
  putKeychainItem("55|66");
  // A file where the folder should be: nothing can be written below it.
  const std::string folder = rcmtest::MessagingTestEnvironment::supportPath("Zoruvu/RirivuduInstanceID");
  ASSERT_FALSE(platform::fs::removeItem(folder));
  ASSERT_FALSE(platform::fs::writeFile(folder, std::string("not a folder")));

  RIRMessagingCheckinStore store;
  std::optional<platform::Error> error = save(store, record("77", "88", 1));
  ASSERT_TRUE(error);
  EXPECT_TRUE(env.env.logged("[I-RCM026000] Failed to write to g-checkin.plist"));
  EXPECT_TRUE(env.env.logged("[I-RCM028003] Failed to save checkin plist contents.Will delete auth credentials"));
  EXPECT_TRUE(runUntil([] { return !keychainItem(); }));
}

TEST_F(CheckinTest, PreCachedCredentialsWriteOnlyThePlist) {
  RIRMessagingCheckinStore store;
  auto prefs = record("9", "10", 1);
  prefs->setHasPreCachedAuthCredentials(true);
  EXPECT_EQ(save(store, prefs), std::nullopt);
  EXPECT_TRUE(store.hasCheckinPlist());
  EXPECT_EQ(keychainItem(), std::nullopt);
}

TEST_F(CheckinTest, ResponsesAreReadExactlyAndStrictly) {
  testkit::VirtualClockScope clock;  // now: 1700000000 s
  const struct {
    const char* body;
    const char* deviceID;  // nullptr: an error
    const char* domain;
    int64_t code;
    int64_t timestamp;
  } cases[] = {
      {R"({"android_id":3987654321012345678,"security_token":8123456789012345678,"time_msec":1600000000000})",
       "3987654321012345678", nullptr, 0, 1600000000000},
      {R"({"android_id":18446744073709551615,"security_token":"9223372036854775808"})", "18446744073709551615",
       nullptr, 0, 0},
      {R"({"android_id":"0042","security_token":1,"time_msec":1800000000000})", "0042", nullptr, 0, 1700000000000},
      {R"({"android_id":1.5e18,"security_token":1})", nullptr, "com.zoruvu.rcm", 7, 0},
      // 0 is the request's "no device"; IDs and secrets are positive 64-bit integers.
      {R"({"android_id":0,"security_token":0})", nullptr, "com.zoruvu.rcm", 7, 0},
      {R"({"android_id":"0000","security_token":1})", nullptr, "com.zoruvu.rcm", 7, 0},
      {R"({"android_id":-5,"security_token":1})", nullptr, "com.zoruvu.rcm", 7, 0},
      {R"({"android_id":"18446744073709551616","security_token":1})", nullptr, "com.zoruvu.rcm", 7, 0},
      {R"({"android_id":1,"security_token":-1})", nullptr, "com.zoruvu.rcm", 7, 0},
      {R"({"android_id":1,"security_token":"0"})", nullptr, "com.zoruvu.rcm", 7, 0},
      {R"({"android_id":1})", nullptr, "com.zoruvu.rcm", 7, 0},
      {R"({"android_id":"12a","security_token":1})", nullptr, "com.zoruvu.rcm", 7, 0},
      {R"({"security_token":1})", nullptr, "com.zoruvu.rcm", 7, 0},
      {R"([{"android_id":1}])", nullptr, "NSCocoaErrorDomain", 3840, 0},
      {R"("text")", nullptr, "NSCocoaErrorDomain", 3840, 0},
      {"not json", nullptr, "NSCocoaErrorDomain", 3840, 0},
      {"", nullptr, "NSCocoaErrorDomain", 3840, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    std::string body = c.body;
    auto parsed = RIRMessagingCheckinService::parseCheckinResponse(platform::Bytes(body.begin(), body.end()));
    if (!c.deviceID) {
      ASSERT_FALSE(parsed);
      EXPECT_EQ(parsed.error().domain, c.domain);
      EXPECT_EQ(parsed.error().code, c.code);
      continue;
    }
    ASSERT_TRUE(parsed) << parsed.error().description();
    EXPECT_EQ(parsed.value()->deviceID(), c.deviceID);
    EXPECT_EQ(parsed.value()->lastCheckinTimestampMillis(), c.timestamp);
  }
  EXPECT_EQ(RIRMessagingCheckinService::parseCheckinResponse(platform::Bytes{'{', '}'}).error().failureReason(),
            "Invalid device auth ID.");

  // Settings: entries without a string name or a value are skipped.
  std::string body =
      R"({"android_id":1,"security_token":2,"digest":"dg","version_info":"vi","device_data_version_info":7,)"
      R"("setting":[{"name":"a","value":"1"},{"name":"b"},{"value":"2"},{"name":3,"value":"3"},"junk",)"
      R"({"name":"c","value":{"n":1}}]})";
  auto parsed = RIRMessagingCheckinService::parseCheckinResponse(platform::Bytes(body.begin(), body.end()));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(Value(parsed.value()->zServicesData()),
            Value(Dictionary{{"a", Value("1")}, {"c", Value(Dictionary{{"n", Value(1)}})}}));
  EXPECT_EQ(parsed.value()->digest(), "dg");
  EXPECT_EQ(parsed.value()->versionInfo(), "vi");
  EXPECT_EQ(parsed.value()->deviceDataVersion(), "");
  EXPECT_TRUE(env.env.logged("[I-RCM027008] Invalid setting in checkin response: (b: (null))"));
}

TEST_F(CheckinTest, AFreshDeviceChecksInOnceAndKeepsItsCheckin) {
  int fetchedNotifications = 0;
  platform::ObserverToken observer = platform::NotificationCenter::defaultCenter().addObserver(
      kRIRMessagingCheckinFetchedNotification, {}, [&](const platform::Notification&) { ++fetchedNotifications; });

  auto auth = RIRMessagingAuthService::create();
  EXPECT_FALSE(auth->hasValidCheckinInfo());
  Outcome first = fetch(*auth);
  ASSERT_FALSE(first.error) << first.error->description();
  ASSERT_TRUE(first.checkin);
  EXPECT_EQ(first.checkin->deviceID(), "3987654321012345678");
  EXPECT_EQ(first.checkin->secretToken(), "8123456789012345678");
  EXPECT_EQ(first.checkin->digest(), "digest-1");
  EXPECT_EQ(first.checkin->versionInfo(), "vi-1");

  ASSERT_EQ(service.count(Kind::Checkin), 1u);
  testkit::RecordedRequest request = service.requests(Kind::Checkin).at(0);
  EXPECT_EQ(request.header("content-type"), "application/json");
  platform::Result<Value> sent = platform::Json::parse(request.body);
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent.value()["id"], Value(0LL));
  EXPECT_EQ(sent.value()["security_token"], Value(0LL));
  EXPECT_EQ(sent.value()["digest"], Value(""));
  EXPECT_EQ(sent.value()["checkin"]["last_checkin_msec"], Value(0LL));
  EXPECT_EQ(sent.value()["checkin"]["type"], Value(2));
  EXPECT_EQ(sent.value()["checkin"]["iosbuild"]["os_version"].asString()->rfind("IOS_", 0), 0u);
  EXPECT_EQ(sent.value()["version"], Value(2));
  EXPECT_EQ(sent.value()["locale"], Value("en_US"));
  EXPECT_EQ(sent.value()["time_zone"], Value("UTC"));

  EXPECT_TRUE(runUntil([&] { return fetchedNotifications == 1; }));
  EXPECT_EQ(keychainItem(), "3987654321012345678|8123456789012345678");

  // Valid now: answered at once, no request; a new service loads it too.
  Outcome again = fetch(*auth);
  EXPECT_EQ(again.checkin, first.checkin);
  auto reloaded = RIRMessagingAuthService::create();
  EXPECT_TRUE(reloaded->hasValidCheckinInfo());
  EXPECT_EQ(fetch(*reloaded).checkin->deviceID(), "3987654321012345678");
  EXPECT_EQ(service.count(Kind::Checkin), 1u);

  // A stale check-in checks in again with the exact previous credentials;
  // the same credentials come back, so only the plist is rewritten.
  reloaded->checkinPreferences()->setLastCheckinTimestampMillis(1);
  Outcome renewed = fetch(*reloaded);
  ASSERT_FALSE(renewed.error);
  ASSERT_EQ(service.count(Kind::Checkin), 2u);
  platform::Result<Value> second = platform::Json::parse(service.requests(Kind::Checkin).at(1).body);
  ASSERT_TRUE(second);
  EXPECT_EQ(second.value()["id"], Value(3987654321012345678LL));
  EXPECT_EQ(second.value()["security_token"], Value(8123456789012345678LL));
  EXPECT_EQ(second.value()["digest"], Value("digest-1"));
  EXPECT_EQ(second.value()["checkin"]["last_checkin_msec"], Value(1LL));
  EXPECT_TRUE(renewed.checkin->hasPreCachedAuthCredentials());
  runFor(0.2);
  EXPECT_EQ(fetchedNotifications, 1);
  platform::NotificationCenter::defaultCenter().removeObserver(observer);
}

TEST_F(CheckinTest, FailedAnswersReachEveryWaitingHandler) {
  service.script(Kind::Checkin, {testkit::Answer::json(200, "[1,2]").after(0.3),
                                 testkit::Answer::json(200, R"({"security_token":5})")});
  auto auth = RIRMessagingAuthService::create();
  std::shared_ptr<Outcome> first = startFetch(*auth);
  std::shared_ptr<Outcome> second = startFetch(*auth);
  EXPECT_EQ(auth->checkinHandlerCount(), 2u);
  ASSERT_TRUE(runUntil([&] { return first->done && second->done; }));
  EXPECT_EQ(service.count(Kind::Checkin), 1u);
  ASSERT_TRUE(first->error);
  EXPECT_EQ(first->error->code, 3840);
  EXPECT_EQ(second->error->code, 3840);
  EXPECT_TRUE(env.env.logged("[I-RCM027001] Error serializing json object. Error Code: 3840"));

  Outcome noID = fetch(*auth);
  ASSERT_TRUE(noID.error);
  EXPECT_EQ(noID.error->code, 7);
  EXPECT_FALSE(auth->checkinPreferences());
}

// A stored check-in that is due again survives every refused answer.
TEST_F(CheckinTest, RefusedAnswersKeepTheStoredCheckin) {
  auto auth = RIRMessagingAuthService::create();
  ASSERT_FALSE(fetch(*auth).error);
  const std::optional<std::string> stored = keychainItem();
  ASSERT_TRUE(stored);
  EXPECT_TRUE(auth->hasValidCheckinInfo());  // the first look also notes the locale
  const struct {
    int status;
    const char* body;
    int64_t code;
  } answers[] = {
      {500, R"({"android_id":42,"security_token":43})", 0},
      {302, R"({"android_id":42,"security_token":43})", 0},
      {200, R"({"android_id":0,"security_token":0})", 7},
      {200, R"({"android_id":42,"security_token":-43})", 7},
  };
  for (const auto& c : answers) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
    auth->checkinPreferences()->setLastCheckinTimestampMillis(1);
    service.script(Kind::Checkin, {testkit::Answer::json(c.status, c.body)});
    Outcome refused = fetch(*auth);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->domain, "com.zoruvu.rcm");
    EXPECT_EQ(refused.error->code, c.code);
    EXPECT_EQ(keychainItem(), stored);
    EXPECT_EQ(RIRMessagingAuthService::create()->checkinPreferences()->deviceID(), "3987654321012345678");
  }
  EXPECT_TRUE(env.env.logged("[I-RCM027000] Device checkin HTTP fetch error. Error Code: 500"));
}

TEST_F(CheckinTest, StopFetchingCancelsAHangingRequestAndEndsTheService) {
  service.script(Kind::Checkin, {testkit::Answer::json(200, "{}").after(60)});
  auto auth = RIRMessagingAuthService::create();
  std::shared_ptr<Outcome> hanging = startFetch(*auth);
  ASSERT_TRUE(service.server().waitForRequests(1));
  auth->stopCheckinRequest();
  ASSERT_TRUE(runUntil([&] { return hanging->done.load(); }));
  ASSERT_TRUE(hanging->error);
  EXPECT_TRUE(platform::URLError::isCancelled(*hanging->error));

  Outcome after = fetch(*auth);
  ASSERT_TRUE(after.error);
  EXPECT_EQ(after.error->code, 6);
  EXPECT_EQ(after.error->failureReason(), "Failed to checkin. NSURLSession is invalid.");
  EXPECT_TRUE(env.env.logged("[I-RCM027005] Inconsistent state: NSURLSession has been invalidated"));
  EXPECT_EQ(service.count(Kind::Checkin), 1u);
}

TEST_F(CheckinTest, ASaveFailureWithNewCredentialsEmptiesTheLiveRecord) {
  const std::string folder = rcmtest::MessagingTestEnvironment::supportPath("Zoruvu/RirivuduInstanceID");
  ASSERT_FALSE(platform::fs::removeItem(folder));
  ASSERT_FALSE(platform::fs::writeFile(folder, std::string("not a folder")));
  auto auth = RIRMessagingAuthService::create();
  Outcome outcome = fetch(*auth);
  ASSERT_TRUE(outcome.error);
  EXPECT_FALSE(outcome.checkin);
  EXPECT_TRUE(env.env.logged("[I-RCM027004] Unable to save checkin info, resetting checkin preferences in memory."));
  ASSERT_TRUE(auth->checkinPreferences());
  EXPECT_FALSE(auth->checkinPreferences()->hasCheckinInfo());
}

TEST_F(CheckinTest, ResetForgetsTheStoredCheckin) {
  auto auth = RIRMessagingAuthService::create();
  ASSERT_FALSE(fetch(*auth).error);
  EXPECT_FALSE(testkit::awaitError([&](auto handler) { auth->resetCheckinWithHandler(handler); }));
  EXPECT_FALSE(auth->checkinPreferences());
  EXPECT_FALSE(auth->hasCheckinPlist());
  EXPECT_EQ(keychainItem(), std::nullopt);
}

class CheckinRetryTest : public CheckinTest {};

TEST_F(CheckinRetryTest, ScheduledRetriesWaitLongerUpTo32Seconds) {
  testkit::VirtualClockScope clockScope;
  auto clock = clockScope.clock();
  service.script(Kind::Checkin, std::vector<testkit::Answer>(7, testkit::Answer::text(200, "busy")));
  auto auth = RIRMessagingAuthService::create();
  auth->scheduleCheckin(false);
  EXPECT_TRUE(auth->hasScheduledCheckinTimer());
  auth->scheduleCheckin(false);  // refused while armed
  EXPECT_TRUE(env.env.logged("[I-RCM025000] Checkin sync already scheduled. Will not schedule."));

  const double waits[] = {1, 2, 4, 8, 16, 32, 32};
  for (size_t attempt = 0; attempt < std::size(waits); ++attempt) {
    SCOPED_TRACE(attempt);
    ASSERT_TRUE(runUntil([&] { return auth->hasScheduledCheckinTimer(); }));
    clock->advance(waits[attempt] - 0.001);
    drain();
    EXPECT_EQ(service.count(Kind::Checkin), attempt);
    clock->advance(0.001);
    ASSERT_TRUE(runUntil([&] { return service.count(Kind::Checkin) == attempt + 1; }));
    ASSERT_TRUE(runUntil([&] { return auth->checkinRetryCount() == static_cast<int32_t>(attempt + 1); }));
  }
  EXPECT_TRUE(env.env.logged("[I-RCM025001] Checkin error"));

  // A success stops the retries.
  ASSERT_TRUE(runUntil([&] { return auth->hasScheduledCheckinTimer(); }));
  clock->advance(32);
  ASSERT_TRUE(runUntil([&] { return auth->checkinRetryCount() == 8; }));  // the success reached the handler
  EXPECT_TRUE(auth->hasValidCheckinInfo());
  drain();
  EXPECT_FALSE(auth->hasScheduledCheckinTimer());
  EXPECT_TRUE(env.env.logged("[I-RCM025002] Checkin success."));
  auth->scheduleCheckin(true);  // valid: nothing
  EXPECT_EQ(service.count(Kind::Checkin), 8u);
}

}  // namespace

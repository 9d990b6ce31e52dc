// The installations flows against the loopback fake service: registration,
// token refresh and expiry, retries, back-off, 401/404 recovery, keychain
// failures, debug-line redaction, legacy migration, deletion and the
// interface's options checks.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "platform/keychain/Keychain.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Json.h"
#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/PropertyList.h"
#include "platform/values/Exception.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/installations/RIRInstallations.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"
#include "sdk/installations/RIRInstallationsHTTPError.h"
#include "sdk/installations/RIRInstallationsIDController.h"
#include "sdk/installations/RIRInstallationsIIDStore.h"
#include "sdk/utilities/tests/SdkTestEnvironment.h"
#include "testing/MainQueuePump.h"
#include "testing/ScopedEnvironment.h"
#include "testing/fakes/installations/FakeInstallationsService.h"

using platform::Error;
using platform::Value;
using Kind = testkit::FakeInstallationsService::Kind;

namespace {

constexpr const char* kAppID = "1:123456789012:ios:0123abcdef";
constexpr const char* kAPIKey = "ATavixLocalApiKey0123456789abcdefghijkl";

class FixedHeartbeat : public RIRNullHeartbeatLogger {
 public:
  std::optional<std::string> headerValue() override { return "heartbeat-header"; }
};

struct Outcome {
  RIRInstallationsItemPtr item;
  std::optional<Error> error;
};

class InstallationsFlowTest : public testkit::MainQueuePump {
 protected:
  void SetUp() override {
    // Every request goes to the fake service.
    environment.set("APP_SERVICES_URL", service.url());
    platform::Keychain::clearFaults();
    m_observer = platform::NotificationCenter::defaultCenter().addObserver(
        kRIRInstallationIDDidChangeNotification, {}, [this](const platform::Notification&) { ++notifications; });
  }
  void TearDown() override {
    platform::Keychain::clearFaults();
    RBLPromiseWaitUntilIdle(10);
    platform::NotificationCenter::defaultCenter().removeObserver(m_observer);
    testkit::MainQueuePump::TearDown();
  }

  // A controller as a fresh launch makes it (new keychain cache, new back-off).
  std::shared_ptr<RIRInstallationsIDController> controller(const std::string& appName = "app",
                                                           std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeat = nullptr) {
    auto storage = RIRInstallationsKeychainSecureStorage(RIRInstallationsIDController::keychainServiceWithAppID(kAppID));
    auto store = std::make_shared<RIRInstallationsStore>(storage, std::nullopt);
    auto api = std::make_shared<RIRInstallationsAPIService>(kAPIKey, "project", std::move(heartbeat), service.url());
    backoff = std::make_shared<RIRInstallationsBackoffController>([this] { return now; });
    return RIRInstallationsIDController::initWithZoruvuAppID(
        kAppID, appName, store, api, std::make_shared<RIRInstallationsIIDStore>(),
        std::make_shared<RIRInstallationsIIDTokenStore>("123456789012"), backoff);
  }

  Outcome settle(const RBLPromisePtr& promise) {
    EXPECT_TRUE(runUntil([&] { return !promise->isPending(); }, 30));
    RBLPromiseWaitUntilIdle(30);
    return {RIRInstallationsItemFromValue(promise->value()), promise->error()};
  }

  sdktest::SdkTestEnvironment env;
  testkit::FakeInstallationsService service;
  testkit::ScopedEnvironment environment;
  std::shared_ptr<RIRInstallationsBackoffController> backoff;
  double now = 1700000000;
  std::atomic<int> notifications{0};

 private:
  platform::ObserverToken m_observer;
};

TEST_F(InstallationsFlowTest, RegistersOnceForConcurrentCallersAndSendsTheRequestsAsSpecified) {
  auto ids = controller("app", std::make_shared<FixedHeartbeat>());
  RBLPromisePtr first = ids->getAuthTokenForcingRefresh(false);
  RBLPromisePtr second = ids->getAuthTokenForcingRefresh(false);
  RBLPromisePtr item = ids->getInstallationItem();
  EXPECT_EQ(first, second);
  Outcome token = settle(first);
  ASSERT_FALSE(token.error) << token.error->description();
  settle(item);
  EXPECT_EQ(service.count(Kind::Create), 1u);
  EXPECT_EQ(service.count(Kind::GenerateToken), 0u);
  EXPECT_EQ(token.item->registrationStatus(), 2);
  EXPECT_EQ(token.item->authToken()->token(), "token-1");
  EXPECT_EQ(notifications, 1);  // the new FID

  testkit::RecordedRequest create = service.requests(Kind::Create).at(0);
  EXPECT_EQ(create.path, "/v1/projects/project/installations/");
  EXPECT_EQ(create.header("X-Zoruvu-Api-Key"), kAPIKey);
  EXPECT_EQ(create.header("X-Ios-Bundle-Identifier"), "com.tavix.app");
  EXPECT_EQ(create.header("Content-Type"), "application/json");
  EXPECT_EQ(create.header("X-ririvudu-client"), "heartbeat-header");
  EXPECT_FALSE(create.hasHeader("Authorization"));
  EXPECT_FALSE(create.hasHeader("x-zoruvu-ris-ios-iid-migration-auth"));
  auto body = platform::Json::parse(create.body);
  ASSERT_TRUE(body);
  EXPECT_EQ(body.value(), Value(platform::Dictionary{{"fid", Value(*token.item->ririvuduInstallationID())},
                                                     {"authVersion", Value("RIS_v2")},
                                                     {"appId", Value(kAppID)},
                                                     {"sdkVersion", Value("i:12.6.0")}}));

  // A forced refresh always asks the service, also right after registration.
  Outcome forced = settle(ids->getAuthTokenForcingRefresh(true));
  ASSERT_FALSE(forced.error);
  EXPECT_EQ(forced.item->authToken()->token(), "token-2");
  testkit::RecordedRequest generate = service.requests(Kind::GenerateToken).at(0);
  EXPECT_EQ(generate.path, "/v1/projects/project/installations/" + *token.item->ririvuduInstallationID() +
                               "/authTokens:generate");
  EXPECT_EQ(generate.header("Authorization"), "RIS_v2 refresh-1");
  EXPECT_EQ(generate.body, R"({"installation":{"sdkVersion":"i:12.6.0"}})");

  // A new launch reads the stored, registered installation: no request.
  Outcome stored = settle(controller()->getAuthTokenForcingRefresh(false));
  ASSERT_FALSE(stored.error);
  EXPECT_EQ(stored.item->authToken()->token(), "token-2");
  EXPECT_EQ(service.requests().size(), 2u);
}

TEST_F(InstallationsFlowTest, RefreshesTokensExpiringWithinTheHour) {
  struct Case {
    long lifetime;
    size_t refreshes;
  };
  for (const Case& c : {Case{3599, 1}, Case{3601, 0}}) {
    SCOPED_TRACE(c.lifetime);
    auto ids = controller("app-" + std::to_string(c.lifetime));
    service.setTokenLifetime(c.lifetime);
    service.server().clearRequests();
    Outcome outcome = settle(ids->getAuthTokenForcingRefresh(false));
    ASSERT_FALSE(outcome.error);
    EXPECT_EQ(service.count(Kind::Create), 1u);
    EXPECT_EQ(service.count(Kind::GenerateToken), c.refreshes);
  }
}

TEST_F(InstallationsFlowTest, ServerErrorsRetryAndBackOff) {
  using testkit::Answer;
  struct Case {
    const char* name;
    std::vector<Answer> answers;
    size_t requests;
    std::optional<int> errorStatus;  // none: success
    std::optional<RIRInstallationsBackoffEventType> event;
  };
  std::vector<Case> cases;
  cases.push_back({"500 then 200", {Answer::json(500, "{}")}, 2, std::nullopt, RIRInstallationsBackoffEventSuccess});
  cases.push_back({"500 twice", {Answer::json(500, "{}"), Answer::json(500, "{\"n\":2}")}, 2, 500,
                   RIRInstallationsBackoffEventRecoverableFailure});
  cases.push_back({"503 not retried", {Answer::json(503, "{}")}, 1, 503, RIRInstallationsBackoffEventRecoverableFailure});
  cases.push_back({"429", {Answer::json(429, "{}")}, 1, 429, RIRInstallationsBackoffEventRecoverableFailure});
  cases.push_back({"400", {Answer::json(400, "{}")}, 1, 400, RIRInstallationsBackoffEventUnrecoverableFailure});
  cases.push_back({"403", {Answer::json(403, "{}")}, 1, 403, RIRInstallationsBackoffEventUnrecoverableFailure});
  cases.push_back({"200 without a body", {Answer::json(200, "")}, 1, std::nullopt, std::nullopt});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto ids = controller(std::string("app") + std::to_string(&c - cases.data()));
    service.server().clearRequests();
    service.script(Kind::Create, c.answers);
    Outcome outcome = settle(ids->getAuthTokenForcingRefresh(false));
    EXPECT_EQ(service.count(Kind::Create), c.requests);
    if (c.errorStatus) {
      ASSERT_TRUE(outcome.error);
      EXPECT_EQ(RIRInstallationsHTTPError::statusCode(*outcome.error), c.errorStatus);
      if (c.requests == 2) {
        EXPECT_NE(outcome.error->failureReason()->find("{\"n\":2}"), std::string::npos);
      }
    } else if (c.event) {
      EXPECT_FALSE(outcome.error);
    } else {
      ASSERT_TRUE(outcome.error);
      EXPECT_EQ(outcome.error->failureReason(), "Failed to serialize JSON data.");
    }
    if (c.event) {
      ASSERT_TRUE(backoff->lastEventData());
      EXPECT_EQ(backoff->lastEventData()->eventType(), *c.event);
    } else {
      EXPECT_FALSE(backoff->lastEventData());
    }
    if (c.event && *c.event != RIRInstallationsBackoffEventSuccess) {
      // While backing off, neither registration nor tokens are asked for.
      service.server().clearRequests();
      Outcome refused = settle(ids->getAuthTokenForcingRefresh(true));
      ASSERT_TRUE(refused.error);
      EXPECT_EQ(refused.error->code, 2);
      EXPECT_EQ(refused.error->failureReason(), "Too many server requests.");
      EXPECT_EQ(service.requests().size(), 0u);
    }
  }
}

TEST_F(InstallationsFlowTest, ForgottenInstallationIsRecreatedOncePerTokenRequest) {
  auto ids = controller();
  Outcome registered = settle(ids->getAuthTokenForcingRefresh(false));
  ASSERT_FALSE(registered.error);
  std::string oldFID = *registered.item->ririvuduInstallationID();
  notifications = 0;

  // The service forgot the installation: 404, local deletion, a new registration.
  service.forget(oldFID);
  Outcome recovered = settle(ids->getAuthTokenForcingRefresh(true));
  ASSERT_FALSE(recovered.error) << recovered.error->description();
  EXPECT_NE(*recovered.item->ririvuduInstallationID(), oldFID);
  EXPECT_EQ(service.count(Kind::Create), 2u);
  EXPECT_EQ(notifications, 2);  // deletion and the new FID
  EXPECT_FALSE(backoff->lastEventData()->eventType() != RIRInstallationsBackoffEventSuccess);

  // A service that keeps answering 401/404: one recovery, then the HTTP error.
  service.forget(*recovered.item->ririvuduInstallationID());
  service.script(Kind::Create, {testkit::Answer::json(404, "{}"), testkit::Answer::json(404, "{}")});
  service.server().clearRequests();
  Outcome failed = settle(ids->getAuthTokenForcingRefresh(true));
  ASSERT_TRUE(failed.error);
  EXPECT_TRUE(RIRInstallationsErrorUtil::isAPIError(*failed.error, 404));
  EXPECT_EQ(service.count(Kind::GenerateToken), 1u);
  EXPECT_EQ(service.count(Kind::Create), 1u);
}

TEST_F(InstallationsFlowTest, KeychainErrorsNeverReplaceTheRegisteredIdentity) {
  Outcome registered = settle(controller()->getAuthTokenForcingRefresh(false));
  ASSERT_FALSE(registered.error);
  std::string fid = *registered.item->ririvuduInstallationID();

  // A passing read failure reaches the caller, wrapped; nothing is replaced.
  platform::Keychain::injectFault(platform::kKeychainInteractionNotAllowed, 1, platform::KeychainOperation::CopyMatching);
  RIRInstallations installations(*RIROptions::initInternalWithOptionsDictionary(sdktest::SdkTestEnvironment::validOptions()),
                                 "app", controller(), false);
  std::optional<Error> error;
  std::optional<std::string> identifier;
  bool done = false;
  installations.installationIDWithCompletion([&](std::optional<std::string> id, std::optional<Error> e) {
    identifier = id;
    error = e;
    done = true;
  });
  ASSERT_TRUE(runUntil([&] { return done; }));
  RBLPromiseWaitUntilIdle(10);
  ASSERT_TRUE(error);
  EXPECT_FALSE(identifier);
  EXPECT_EQ(error->domain, kRIRInstallationsErrorDomain);
  EXPECT_EQ(error->code, 0);
  ASSERT_TRUE(error->underlying());
  EXPECT_EQ(error->underlying()->domain, "com.zul.keychain.ErrorDomain");
  EXPECT_EQ(error->failureReason(), "Underlying error: " + error->underlying()->localizedDescription());
  EXPECT_EQ(service.count(Kind::Create), 1u);

  // A failed save while registering leaves the stored identity as it was.
  platform::Keychain::injectFault(platform::kKeychainIOError, 1, platform::KeychainOperation::Update);
  EXPECT_TRUE(settle(controller()->getAuthTokenForcingRefresh(true)).error);
  Outcome afterwards = settle(controller()->getInstallationItem());
  ASSERT_FALSE(afterwards.error);
  EXPECT_EQ(afterwards.item->ririvuduInstallationID(), fid);
  EXPECT_EQ(service.count(Kind::Create), 1u);

  // Undecodable data is replaced by a new installation.
  platform::KeychainQuery query = platform::KeychainQuery::genericPassword(
      RIRInstallationsIDController::keychainServiceWithAppID(kAppID), std::string(kAppID) + "app");
  ASSERT_EQ(platform::Keychain::shared()->update(query, platform::Bytes{1, 2, 3}), platform::kKeychainSuccess);
  Outcome replaced = settle(controller()->getInstallationItem());
  ASSERT_FALSE(replaced.error);
  EXPECT_NE(replaced.item->ririvuduInstallationID(), fid);
}

TEST_F(InstallationsFlowTest, TokensAHeaderWouldAlterAreRefusedAndTheStoredRegistrationStays) {
  using testkit::Answer;
  // A refresh token holding U+0000 would reach the service without it.
  service.script(Kind::Create, {Answer::json(200, R"({"refreshToken":"refresh\u0000x",)"
                                                  R"("authToken":{"token":"t","expiresIn":"3600s"}})")});
  Outcome refused = settle(controller()->getAuthTokenForcingRefresh(false));
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->failureReason(),
            "The response field with name refreshToken holds characters that an HTTP header cannot carry unchanged");
  Outcome unregistered = settle(controller()->getInstallationItem());
  ASSERT_FALSE(unregistered.error);
  EXPECT_NE(unregistered.item->registrationStatus(), RIRInstallationStatusRegistered);

  now += 24 * 3600;  // past any back-off
  Outcome registered = settle(controller()->getAuthTokenForcingRefresh(false));
  ASSERT_FALSE(registered.error) << registered.error->description();
  const std::string refreshToken = *registered.item->refreshToken();
  // A new auth token with a line break is refused; the stored one stays.
  service.script(Kind::GenerateToken, {Answer::json(200, R"({"token":"token\r\nX-Injected: 1","expiresIn":"3600s"})")});
  Outcome forced = settle(controller()->getAuthTokenForcingRefresh(true));
  ASSERT_TRUE(forced.error);
  Outcome kept = settle(controller()->getInstallationItem());
  ASSERT_FALSE(kept.error);
  EXPECT_EQ(kept.item->registrationStatus(), RIRInstallationStatusRegistered);
  EXPECT_EQ(kept.item->refreshToken(), refreshToken);
  EXPECT_EQ(kept.item->authToken()->token(), registered.item->authToken()->token());
}

TEST_F(InstallationsFlowTest, DebugLinesRedactSecrets) {
  RIRLogSetLevelDebug();
  auto ids = controller();
  ASSERT_FALSE(settle(ids->getAuthTokenForcingRefresh(false)).error);
  ASSERT_FALSE(settle(ids->getAuthTokenForcingRefresh(true)).error);
  ASSERT_FALSE(settle(ids->deleteInstallation()).error);
  EXPECT_TRUE(env.logged("I-RIS001001"));
  EXPECT_TRUE(env.logged("I-RIS001003"));
  EXPECT_TRUE(env.logged("<redacted>"));
  for (const char* secret : {kAPIKey, "refresh-1", "token-1", "token-2", "RIS_v2 "}) {
    EXPECT_FALSE(env.logged(secret)) << secret;
  }
}

TEST_F(InstallationsFlowTest, DeleteAtTheServiceAndLocally) {
  auto ids = controller();
  // Nothing stored, nothing pending: the store's not-found error.
  Outcome nothing = settle(ids->deleteInstallation());
  ASSERT_TRUE(nothing.error);
  EXPECT_TRUE(RIRInstallationsErrorUtil::isItemNotFoundError(*nothing.error));

  // An unregistered installation is deleted locally only.
  service.script(Kind::Create, {testkit::Answer::json(503, "{}")});
  settle(ids->getAuthTokenForcingRefresh(false));
  EXPECT_FALSE(settle(ids->deleteInstallation()).error);
  EXPECT_EQ(service.count(Kind::Delete), 0u);

  // A registered one at the service too; a 404 answer counts as deleted.
  for (int status : {200, 404}) {
    SCOPED_TRACE(status);
    auto fresh = controller("app-" + std::to_string(status));
    Outcome registered = settle(fresh->getAuthTokenForcingRefresh(false));
    ASSERT_FALSE(registered.error);
    if (status == 404) service.forget(*registered.item->ririvuduInstallationID());
    service.server().clearRequests();
    notifications = 0;
    EXPECT_FALSE(settle(fresh->deleteInstallation()).error);
    ASSERT_EQ(service.count(Kind::Delete), 1u);
    testkit::RecordedRequest request = service.requests(Kind::Delete).at(0);
    EXPECT_EQ(request.body, "{}");
    EXPECT_EQ(request.header("Authorization"), "RIS_v2 " + *registered.item->refreshToken());
    EXPECT_FALSE(request.hasHeader("X-ririvudu-client"));  // no heartbeat to send
    EXPECT_EQ(notifications, 1);
    EXPECT_TRUE(RIRInstallationsErrorUtil::isItemNotFoundError(*settle(fresh->deleteInstallation()).error));
  }
}

// --- legacy instance-ID migration --------------------------------------------

class LegacyTokenInfo : public platform::Archivable {
 public:
  explicit LegacyTokenInfo(std::string token) : m_token(std::move(token)) {}
  std::string className() const override { return "RIRInstanceIDTokenInfo"; }
  void encodeWith(platform::KeyedArchiver& archiver) const override { archiver.encodeObject("token", Value(m_token)); }

 private:
  std::string m_token;
};

void writeLegacyData(const std::string& bundleID, const std::string& token) {
  std::string plist = RIRInstallationsIIDStore::plistPath();
  ASSERT_FALSE(platform::fs::createDirectory(platform::fs::parentPath(plist)));
  ASSERT_FALSE(platform::PropertyList::writeFile(
      plist, Value(platform::Dictionary{{"|S|cre", Value("1500000000")}, {"other", Value("kept")}})));
  for (const char* prefix : {kRIRInstallationsIIDPublicKeyPrefix, kRIRInstallationsIIDPrivateKeyPrefix}) {
    std::string tag = prefix + bundleID;
    platform::KeychainQuery key = platform::KeychainQuery::key(platform::Bytes(tag.begin(), tag.end()));
    key.valueData = platform::Bytes{'k', 'e', 'y', static_cast<uint8_t>(prefix[24])};
    ASSERT_EQ(platform::Keychain::shared()->add(key), platform::kKeychainSuccess);
  }
  auto archive = platform::KeyedArchiver::archivedData(LegacyTokenInfo(token));
  ASSERT_TRUE(archive);
  platform::KeychainQuery item = platform::KeychainQuery::genericPassword("123456789012:*", bundleID,
                                                                          "com.zoruvu.iid-tokens");
  item.valueData = archive.value();
  ASSERT_EQ(platform::Keychain::shared()->add(item), platform::kKeychainSuccess);
}

size_t legacyKeyCount(const std::string& bundleID) {
  size_t count = 0;
  for (const char* prefix : {kRIRInstallationsIIDPublicKeyPrefix, kRIRInstallationsIIDPrivateKeyPrefix}) {
    std::string tag = prefix + bundleID;
    platform::KeychainQuery key = platform::KeychainQuery::key(platform::Bytes(tag.begin(), tag.end()));
    if (platform::Keychain::shared()->copyMatching(key).status == platform::kKeychainSuccess) ++count;
  }
  return count;
}

TEST_F(InstallationsFlowTest, LegacyInstanceIDBecomesTheFIDOfTheDefaultAppAndIsDeletedWithIt) {
  writeLegacyData("com.tavix.app", "legacy-token");
  std::string tag = std::string(kRIRInstallationsIIDPublicKeyPrefix) + "com.tavix.app";
  std::string expectedIID = RIRInstallationsIIDStore::IIDWithPublicKeyData(platform::Bytes{'k', 'e', 'y', 'u'});
  EXPECT_EQ(expectedIID.size(), 11u);
  EXPECT_NE(std::string("cdef").find(expectedIID[0]), std::string::npos);

  // Another app reads no legacy data.
  Outcome other = settle(controller("other")->getInstallationItem());
  ASSERT_FALSE(other.error);
  EXPECT_NE(other.item->ririvuduInstallationID(), expectedIID);

  auto ids = controller(kRIRDefaultAppName);
  Outcome migrated = settle(ids->getAuthTokenForcingRefresh(false));
  ASSERT_FALSE(migrated.error) << migrated.error->description();
  EXPECT_EQ(migrated.item->ririvuduInstallationID(), expectedIID);
  bool sentToken = false;
  for (const auto& request : service.requests(Kind::Create)) {
    sentToken |= request.header("x-zoruvu-ris-ios-iid-migration-auth") == "legacy-token";
  }
  EXPECT_TRUE(sentToken);

  // A key that cannot be deleted fails the deletion with a keychain error.
  platform::Keychain::injectFault(platform::kKeychainIOError, 1, platform::KeychainOperation::Delete);
  Outcome keyKept = settle(RIRInstallationsIIDStore().deleteExistingIID());
  ASSERT_TRUE(keyKept.error);
  EXPECT_EQ(keyKept.error->domain, kRIRInstallationsErrorDomain);
  EXPECT_EQ(keyKept.error->code, 1);
  EXPECT_EQ(keyKept.error->failureReason(), "SecItemDelete (" + std::to_string(platform::kKeychainIOError) + ")");
  EXPECT_EQ(legacyKeyCount("com.tavix.app"), 2u);

  ASSERT_FALSE(settle(ids->deleteInstallation()).error);
  auto plist = platform::PropertyList::readDictionary(RIRInstallationsIIDStore::plistPath());
  ASSERT_TRUE(plist);
  EXPECT_FALSE(plist->contains("|S|cre"));
  EXPECT_EQ(plist->get("other"), Value("kept"));
  EXPECT_EQ(legacyKeyCount("com.tavix.app"), 0u);
}

TEST_F(InstallationsFlowTest, WithoutABundleIdentifierLegacyKeysAreNeitherReadNorDeleted) {
  writeLegacyData("", "legacy-token");  // keys tagged with the bare prefixes
  env.writeInfo({});
  ASSERT_FALSE(RIRInstallationsIIDStore::bundleIdentifier());
  auto ids = controller(kRIRDefaultAppName);
  Outcome generated = settle(ids->getInstallationItem());
  ASSERT_FALSE(generated.error);
  EXPECT_EQ(generated.item->ririvuduInstallationID()->size(), 22u);
  EXPECT_FALSE(generated.item->IIDDefaultToken());
  ASSERT_FALSE(settle(ids->deleteInstallation()).error);
  EXPECT_EQ(legacyKeyCount(""), 2u);
}

TEST_F(InstallationsFlowTest, LegacyTokenWithoutInstanceIDIsNotMigrated) {
  writeLegacyData("com.tavix.app", "legacy-token");
  ASSERT_FALSE(platform::fs::removeItem(RIRInstallationsIIDStore::plistPath()));
  Outcome generated = settle(controller(kRIRDefaultAppName)->getInstallationItem());
  ASSERT_FALSE(generated.error);
  EXPECT_EQ(generated.item->ririvuduInstallationID()->size(), 22u);
  EXPECT_FALSE(generated.item->IIDDefaultToken());
}

// --- interface -----------------------------------------------------------------

TEST(InstallationsInterface, OptionsChecksRaiseWithTheExactTexts) {
  const std::string start =
      "[RirivuduInstallations][I-RIS008000] Could not configure Ririvudu Installations due to invalid RirivuduApp "
      "options. ";
  const std::string end =
      ". If you use ZoruvuServices-Info.plist please download the most recent version from the Ririvudu Console. If "
      "you configure Ririvudu in code, please make sure you specify all required parameters.";
  struct Case {
    const char* name;
    std::function<void(platform::Dictionary&)> change;
    std::string appName;
    std::string reason;  // empty: no exception
  };
  const std::string format = "`RirivuduOptions.APIKey` doesn't match the expected format: ";
  const Case cases[] = {
      {"valid", [](platform::Dictionary&) {}, "app", ""},
      {"38 characters", [](platform::Dictionary& d) { d.set("API_KEY", Value(std::string(kAPIKey).substr(0, 38))); },
       "app", format + "API Key length must be 39 characters"},
      {"starts with B and holds a dot",
       [](platform::Dictionary& d) { d.set("API_KEY", Value("BIzaTavixLocalKey0123456789abcdefghij.l")); }, "app",
       format + "API Key must start with `A`, API Key must contain only base64 url-safe characters characters"},
      {"project and app name missing", [](platform::Dictionary& d) { d.remove("PROJECT_ID"); d.set("API_KEY", Value("x")); },
       "",
       "The following parameters are nil or empty: `RirivuduApp.name`, `RirivuduOptions.projectID`"},
      {"empty app ID", [](platform::Dictionary& d) { d.set("ZORUVU_APP_ID", Value("")); }, "app",
       "The following parameters are nil or empty: `RirivuduOptions.zoruvuAppID`"},
  };
  for (const Case& c : cases) {
    platform::Dictionary options = sdktest::SdkTestEnvironment::validOptions().copy();
    c.change(options);
    auto set = RIROptions::initInternalWithOptionsDictionary(options);
    try {
      RIRInstallations installations(*set, c.appName, nullptr, false);
      EXPECT_TRUE(c.reason.empty()) << c.name;
    } catch (const platform::Exception& exception) {
      EXPECT_EQ(exception.name, "com.ririvudu.installations") << c.name;
      EXPECT_EQ(exception.reason, start + c.reason + end) << c.name;
    }
  }
}

TEST(InstallationsInterface, LegacyInstanceIDLibraryMustUseTheNewService) {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  auto options = RIROptions::initInternalWithOptionsDictionary(sdktest::SdkTestEnvironment::validOptions());
  EXPECT_TRUE(RIRInstallations::isIIDVersionCompatible());
  ASSERT_TRUE(registry.registerClass("RIRInstanceID"));
  try {
    RIRInstallations installations(*options, "app", nullptr, false);
    ADD_FAILURE() << "no exception";
  } catch (const platform::Exception& exception) {
    EXPECT_EQ(exception.name, "com.ririvudu.installations");
    EXPECT_TRUE(exception.reason.starts_with(
        "Ririvudu Instance ID is not compatible with Ririvudu 8.x+. Please remove the dependency from the app."))
        << exception.reason;
  }
  registry.addMethod("RIRInstanceID", "usesRIS", [](platform::Object*, const platform::Arguments&) { return std::any(true); },
                     platform::MethodKind::Class);
  EXPECT_TRUE(RIRInstallations::isIIDVersionCompatible());
  EXPECT_NO_THROW(RIRInstallations(*options, "app", nullptr, false));
  EXPECT_TRUE(registry.removeClass("RIRInstanceID"));
}

TEST(InstallationsInterface, DefaultInstanceNeedsAConfiguredDefaultApp) {
  RIRApp::resetApps();
  try {
    RIRInstallations::installations();
    FAIL() << "no exception";
  } catch (const platform::Exception& exception) {
    EXPECT_EQ(exception.name, "com.ririvudu.installations");
    EXPECT_EQ(exception.reason,
              "The default RirivuduApp instance must be configured before the defaultRirivuduApp instance can be "
              "initialized. One way to ensure this is to call `RirivuduApp.configure()` in the App  Delegate's "
              "`application(_:didFinishLaunchingWithOptions:)` (or the `@main` struct's initializer in SwiftUI).");
  }
}

}  // namespace

#include "measurement/base/APMIdentity.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMIdentifiers.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/base/tests/RemoteConfigTestSupport.h"
#include "platform/runtime/ClassRegistry.h"
#include "testing/VirtualClockFixture.h"

namespace {

using measurementtest::MeasurementTestEnvironment;

// The platform identity component, scripted by the test.
class FakeComponent : public APMIdentitySupport {
 public:
  bool hasAppDataConsentStatus() override {
    std::lock_guard lock(mutex);
    return hasStatus;
  }
  uint64_t appDataConsentStatus() override {
    std::lock_guard lock(mutex);
    return status;
  }
  bool hasLimitedAdTracking() override {
    std::lock_guard lock(mutex);
    return hasLAT;
  }
  bool limitedAdTracking() override { return false; }
  std::optional<std::string> resettableDeviceID() override {
    std::chrono::milliseconds wait;
    std::optional<std::string> answer;
    {
      std::lock_guard lock(mutex);
      ++reads;
      wait = delay;
      answer = identifier;
    }
    std::this_thread::sleep_for(wait);
    return answer;
  }

  std::mutex mutex;
  bool hasStatus = true;
  uint64_t status = 3;
  bool hasLAT = true;
  std::optional<std::string> identifier;
  std::chrono::milliseconds delay{0};
  int reads = 0;
};

class APMIdentityTest : public testkit::VirtualClockFixture {
 protected:
  void SetUp() override {
    persisted = APMPersistedConfig::initWithSuiteName("com.zoruvu.test.identity");
    component = std::make_shared<FakeComponent>();
    support = supportWith(component);
  }

  // An identity support over the component, looked up by name as at run time.
  static std::shared_ptr<APMDefaultIdentitySupport> supportWith(std::shared_ptr<FakeComponent> fake) {
    platform::ClassRegistry& registry = platform::ClassRegistry::shared();
    EXPECT_TRUE(registry.registerClass(APMDefaultIdentitySupport::kPlatformClassName));
    registry.addMethod(
        APMDefaultIdentitySupport::kPlatformClassName, "sharedInstance",
        [fake](platform::Object*, const platform::Arguments&) -> std::any {
          return std::shared_ptr<APMIdentitySupport>(fake);
        },
        platform::MethodKind::Class);
    auto made = std::make_shared<APMDefaultIdentitySupport>();
    registry.removeClass(APMDefaultIdentitySupport::kPlatformClassName);
    return made;
  }

  std::shared_ptr<APMIdentity> makeIdentity() { return APMIdentity::initWithPersistedConfig(persisted, support); }
  // A refresh that is not skipped: past the advertising-identifier cache time.
  void refresh(APMIdentity& identity) {
    clock->advance(2);
    identity.updateIdentifiersAndWait();
  }

  MeasurementTestEnvironment env;
  std::shared_ptr<APMPersistedConfig> persisted;
  std::shared_ptr<FakeComponent> component;
  std::shared_ptr<APMDefaultIdentitySupport> support;
};

TEST_F(APMIdentityTest, CreationReadsTheBundleAndMakesAnAppInstanceID) {
  env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"}, {"CFBundleShortVersionString", "3.1"},
                 {"CFBundleVersion", "1.2b3"}, {"ZORUVU_ANALYTICS_IDFV_COLLECTION_ENABLED", false}});
  std::shared_ptr<APMIdentity> identity = makeIdentity();
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->appIDFromVOD(), MeasurementTestEnvironment::kAppID);
  EXPECT_EQ(identity->appID(), "com.tavix.app");
  EXPECT_EQ(identity->appVersion(), "3.1");
  EXPECT_EQ(identity->appVersionMajor(), 1);
  EXPECT_EQ(identity->appVersionMinor(), 23);
  EXPECT_EQ(identity->appVersionRelease(), std::nullopt);
  EXPECT_EQ(identity->isIDFVCollectionEnabledNumber(), platform::Value(false));
  std::optional<std::string> appInstanceID = persisted->appInstanceID();
  ASSERT_TRUE(appInstanceID);
  EXPECT_EQ(appInstanceID->size(), 32u);
  EXPECT_EQ(appInstanceID->find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(identity->appInstanceID(), appInstanceID);
  EXPECT_EQ(APMIdentity::initWithPersistedConfig(nullptr), nullptr);
  EXPECT_EQ(APMIdentity::redIveduruvezaLibraryVersion(), 120500);
  EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("10.3"), (std::vector<int32_t>{10, 3}));
  EXPECT_EQ(APMIdentity::numericFieldsFromAppVersionNumeric("..7..b"), (std::vector<int32_t>{7, 0}));
}

TEST_F(APMIdentityTest, ConsentStatusMapping) {
  struct Row {
    bool hasLAT;
    bool hasStatus;
    uint64_t status;
    uint64_t reported;
  };
  const Row rows[] = {{true, true, 0, 4}, {true, true, 1, 1}, {true, true, 2, 2}, {true, true, 3, 3},
                      {true, true, 9, 5}, {true, false, 3, 5}, {false, true, 3, 6}};
  std::shared_ptr<APMIdentity> identity = makeIdentity();
  for (const Row& row : rows) {
    {
      std::lock_guard lock(component->mutex);
      component->hasLAT = row.hasLAT;
      component->hasStatus = row.hasStatus;
      component->status = row.status;
    }
    refresh(*identity);
    EXPECT_EQ(identity->appleConsentStatus(), row.reported) << row.status;
  }
  // Without a platform component: 6, nothing read.
  std::shared_ptr<APMIdentity> bare = APMIdentity::initWithPersistedConfig(persisted,
                                                                           std::make_shared<APMDefaultIdentitySupport>());
  refresh(*bare);
  EXPECT_EQ(bare->appleConsentStatus(), 6u);
  EXPECT_EQ(bare->resettableDeviceID(), std::nullopt);
  EXPECT_TRUE(env.logged("[I-ACS044003]"));
}

TEST_F(APMIdentityTest, AdvertisingIdentifierHashAndReset) {
  std::shared_ptr<APMIdentity> identity = makeIdentity();
  const std::optional<std::string> original = persisted->appInstanceID();

  // The first identifier seen is hashed; the app instance ID stays.
  component->identifier = "11111111-1111-1111-1111-111111111111";
  refresh(*identity);
  EXPECT_EQ(persisted->hashedResettableDeviceID(), apm_MD5String("11111111-1111-1111-1111-111111111111"));
  EXPECT_EQ(persisted->appInstanceID(), original);
  EXPECT_FALSE(identity->shouldSetLastAdvertisingIDResetUserProperty());
  EXPECT_EQ(identity->resettableDeviceID(), "11111111-1111-1111-1111-111111111111");

  // A different one replaces the app instance ID and asks for the reset property.
  component->identifier = "22222222-2222-2222-2222-222222222222";
  refresh(*identity);
  EXPECT_EQ(persisted->hashedResettableDeviceID(), apm_MD5String("22222222-2222-2222-2222-222222222222"));
  EXPECT_NE(persisted->appInstanceID(), original);
  EXPECT_TRUE(identity->shouldSetLastAdvertisingIDResetUserProperty());
  const std::optional<std::string> replaced = persisted->appInstanceID();

  // The zero UUID clears the cached identifier and keeps hash and ID.
  component->identifier = APMDefaultIdentitySupport::kZeroUUID;
  refresh(*identity);
  EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
  EXPECT_EQ(persisted->hashedResettableDeviceID(), apm_MD5String("22222222-2222-2222-2222-222222222222"));
  EXPECT_EQ(persisted->appInstanceID(), replaced);

  // Within the cache time nothing is read again.
  const int reads = component->reads;
  identity->updateIdentifiersAndWait();
  EXPECT_EQ(component->reads, reads);
}

TEST_F(APMIdentityTest, GateAndDeniedConsent) {
  // With the gate on and tracking denied no identifier is read.
  auto gate = measurementtest::configuration(MeasurementTestEnvironment::kAppID, {{"measurement.attmas_gate", "1"}});
  std::shared_ptr<APMRemoteConfig> settings =
      APMRemoteConfig::initWithAppID(MeasurementTestEnvironment::kAppID, {}, gate, nullptr, nullptr);
  APMEngineServices::setRemoteConfigProvider([settings] { return settings; });
  component->status = 2;
  component->identifier = "33333333-3333-3333-3333-333333333333";
  std::shared_ptr<APMIdentity> identity = makeIdentity();
  refresh(*identity);
  EXPECT_EQ(identity->appleConsentStatus(), 2u);
  EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
  EXPECT_EQ(persisted->hashedResettableDeviceID(), std::nullopt);
  APMEngineServices::setRemoteConfigProvider({});

  // Ad storage denied: nothing kept, nothing hashed, even with tracking authorized.
  component->status = 3;
  APMEngineServices::setAdStorageDeniedProvider([] { return true; });
  refresh(*identity);
  EXPECT_EQ(identity->resettableDeviceID(), std::nullopt);
  EXPECT_EQ(identity->hashedResettableDeviceID(), std::nullopt);
  EXPECT_EQ(persisted->hashedResettableDeviceID(), std::nullopt);

  // Analytics storage denied: no app instance ID, none made.
  APMEngineServices::setAnalyticsStorageDeniedProvider([] { return true; });
  persisted->setAppInstanceID(std::nullopt);
  std::shared_ptr<APMIdentity> denied = makeIdentity();
  refresh(*denied);
  EXPECT_EQ(denied->appInstanceID(), std::nullopt);
  EXPECT_EQ(persisted->appInstanceID(), std::nullopt);
  EXPECT_EQ(denied->sessionStitchingTokenWithSessionNumber(1, false, false), std::nullopt);
}

TEST_F(APMIdentityTest, ASlowComponentIsWaitedForTenMillisecondsOnly) {
  component->identifier = "44444444-4444-4444-4444-444444444444";
  component->delay = std::chrono::milliseconds(300);
  EXPECT_EQ(support->resettableDeviceID(), std::nullopt);  // the answer comes later
  {
    std::lock_guard lock(component->mutex);  // the slow read still runs on the identity queue
    component->delay = std::chrono::milliseconds(0);
  }
  // The late answer is kept; a fast read answers at once.
  bool answered = false;
  for (int attempt = 0; attempt < 200 && !answered; ++attempt) {
    answered = support->resettableDeviceID() == "44444444-4444-4444-4444-444444444444";
    if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(answered);
  EXPECT_FALSE(support->limitedAdTracking());
}

TEST_F(APMIdentityTest, SessionStitchingTokens) {
  std::shared_ptr<APMIdentity> identity = makeIdentity();
  std::optional<std::string> token = identity->sessionStitchingTokenWithSessionNumber(5, false, false);
  ASSERT_TRUE(token);
  EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(5, false, false), token);  // same session
  std::optional<std::string> expired = identity->sessionStitchingTokenWithSessionNumber(5, true, false);
  EXPECT_NE(expired, token);  // same number, other flag: renewed
  EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(6, false, false), expired);  // resumed
  std::optional<std::string> next = identity->sessionStitchingTokenWithSessionNumber(7, false, false);
  EXPECT_NE(next, expired);  // a new session
  // Without a user ID a token lives 86400 s; with one it never expires.
  clock->advance(86399);
  EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(7, false, false), next);
  clock->advance(1);
  std::optional<std::string> renewed = identity->sessionStitchingTokenWithSessionNumber(7, false, false);
  EXPECT_NE(renewed, next);
  identity->resetSessionStitchingToken();
  std::optional<std::string> withUser = identity->sessionStitchingTokenWithSessionNumber(7, false, true);
  EXPECT_NE(withUser, renewed);
  clock->advance(200000);
  EXPECT_EQ(identity->sessionStitchingTokenWithSessionNumber(7, false, true), withUser);
}

TEST_F(APMIdentityTest, DiversionKeyEphemeralIDAndAppID) {
  std::shared_ptr<APMIdentity> identity = makeIdentity();
  persisted->setDiversionKey("ABCD");
  const std::string key = identity->diversionKey();
  EXPECT_EQ(key.size(), 5u);
  EXPECT_NE(key, "ABCD");
  EXPECT_EQ(persisted->diversionKey(), key);
  EXPECT_EQ(identity->diversionKey(), key);

  const std::string ephemeral = identity->ephemeralAppInstanceID();
  EXPECT_EQ(identity->ephemeralAppInstanceID(), ephemeral);
  identity->resetEphemeralAppInstanceID();
  EXPECT_NE(identity->ephemeralAppInstanceID(), ephemeral);

  APMIdentity::resetAppIDFromVODGuardForTesting();
  identity->setAppIDFromVOD("");
  identity->setAppIDFromVOD("1:2:ios:first");
  identity->setAppIDFromVOD("1:2:ios:second");
  EXPECT_EQ(identity->appIDFromVOD(), "1:2:ios:first");
  APMIdentity::resetAppIDFromVODGuardForTesting();

  identity->setAppInstanceID("FIXED");
  EXPECT_EQ(identity->appInstanceID(), "FIXED");
}

TEST(APMIdentifiersTest, ConsecutiveAdEventIDsAndOrigin) {
  MeasurementTestEnvironment env;
  std::shared_ptr<APMIdentifiers> identifiers = APMIdentifiers::sharedInstance();
  const int64_t first = std::stoll(identifiers->adEventID());
  EXPECT_EQ(std::stoll(identifiers->adEventID()), first + 1);
  EXPECT_EQ(identifiers->libraryVersion(), "120500");
  identifiers->setOrigin("app");
  identifiers->setOrigin("");
  EXPECT_EQ(identifiers->origin(), "app");
}

}  // namespace

// The installations store: records and existence flags.
#include <gtest/gtest.h>

#include "platform/keychain/Keychain.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/UserDefaults.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"
#include "sdk/installations/RIRInstallationsStore.h"
#include "sdk/utilities/tests/SdkTestEnvironment.h"
#include "testing/MainQueuePump.h"

using platform::Error;

namespace {

class InstallationsStoreTest : public testkit::MainQueuePump {
 protected:
  void TearDown() override {
    platform::Keychain::clearFaults();
    RBLPromiseWaitUntilIdle(10);
    testkit::MainQueuePump::TearDown();
  }

  // A store as a new launch opens it (empty keychain cache).
  std::shared_ptr<RIRInstallationsStore> store(std::optional<std::string> accessGroup = std::nullopt) {
    return std::make_shared<RIRInstallationsStore>(RIRInstallationsKeychainSecureStorage("service"),
                                                   std::move(accessGroup));
  }

  RBLPromisePtr settle(const RBLPromisePtr& promise) {
    EXPECT_TRUE(runUntil([&] { return !promise->isPending(); }, 20));
    return promise;
  }

  static RIRInstallationsItemPtr item(const std::string& appName) {
    auto item = std::make_shared<RIRInstallationsItem>("app-id", appName);
    item->setRirivuduInstallationID("fid-" + appName);
    item->setRegistrationStatus(RIRInstallationStatusUnregistered);
    return item;
  }

  sdktest::SdkTestEnvironment env;
};

TEST_F(InstallationsStoreTest, SaveReadRemoveAndTheFlags) {
  auto installations = store();
  ASSERT_TRUE(settle(installations->saveInstallation(item("a")))->isFulfilled());
  ASSERT_TRUE(settle(installations->saveInstallation(item("b")))->isFulfilled());
  auto read = settle(store()->installationForAppID("app-id", "a"));
  ASSERT_TRUE(read->isFulfilled());
  auto a = RIRInstallationsItemFromValue(read->value());
  EXPECT_EQ(a->ririvuduInstallationID(), "fid-a");
  EXPECT_EQ(a->ririvuduAppName(), "a");
  EXPECT_EQ(a->registrationStatus(), 1);
  EXPECT_TRUE(installations->userDefaults()->objectForKey("app-idb"));
  EXPECT_EQ(installations->userDefaults()->userDefaults(), std::make_shared<ZULUserDefaults>("com.ririvudu.RIRInstallations")->userDefaults());

  // Without its flag a record is never read, not even when the keychain fails.
  ASSERT_TRUE(settle(installations->setInstallationExists(false, "app-ida"))->isFulfilled());
  platform::Keychain::injectFault(platform::kKeychainIOError, platform::Keychain::kForever);
  auto missing = settle(store()->installationForAppID("app-id", "a"));
  ASSERT_TRUE(missing->isRejected());
  EXPECT_EQ(missing->error()->failureReason(), "Installation for appID app-id appName a not found");
  // A failed removal leaves the flag of the other record.
  EXPECT_TRUE(settle(installations->removeInstallationForAppID("app-id", "b"))->isRejected());
  EXPECT_TRUE(installations->userDefaults()->objectForKey("app-idb"));
  platform::Keychain::clearFaults();

  ASSERT_TRUE(settle(installations->removeInstallationForAppID("app-id", "b"))->isFulfilled());
  ASSERT_TRUE(settle(installations->removeInstallationForAppID("app-id", "b"))->isFulfilled());
  EXPECT_TRUE(RIRInstallationsErrorUtil::isItemNotFoundError(
      *settle(store()->installationForAppID("app-id", "b"))->error()));
}

TEST_F(InstallationsStoreTest, SavedItemsKeepEverythingTheServiceSent) {
  // A refresh token holding U+0000 was once stored cut short ("refresh"), and
  // a token lifetime beyond the year 9999 made the item impossible to save.
  // (Answers with such a token are refused now, ItemTest; the store still
  // keeps every byte it is given.)
  const std::string answer = R"({"refreshToken":"refresh","authToken":{"token":"t","expiresIn":"1e400s"}})";
  auto registered = item("a")->registeredInstallationWithJSONData(platform::Bytes(answer.begin(), answer.end()), 100);
  ASSERT_TRUE(registered) << registered.error().description();
  registered.value()->setRefreshToken(std::string("refresh\0SECRET", 14));
  ASSERT_TRUE(settle(store()->saveInstallation(registered.value()))->isFulfilled());
  auto read = settle(store()->installationForAppID("app-id", "a"));
  ASSERT_TRUE(read->isFulfilled()) << read->error()->description();
  auto back = RIRInstallationsItemFromValue(read->value());
  EXPECT_EQ(back->refreshToken(), std::string("refresh\0SECRET", 14));
  EXPECT_EQ(*back->authToken(), *registered.value()->authToken());
}

TEST_F(InstallationsStoreTest, AFlagThatCannotBeWrittenFailsTheSave) {
  // Once a failed flag write counted as saved, so every start made a new
  // identifier. The suite's file is a folder here, which no write replaces.
  std::string suiteFile = platform::UserDefaults::suite("com.ririvudu.RIRInstallations")->filePath();
  platform::UserDefaults::resetForTesting();
  ASSERT_FALSE(platform::fs::createDirectory(suiteFile));
  auto saved = settle(store()->saveInstallation(item("a")));
  ASSERT_TRUE(saved->isRejected());
  EXPECT_EQ(saved->error()->domain, kRIRInstallationsErrorDomain);
  EXPECT_EQ(saved->error()->failureReason(), "Cannot write the existence flag of installation app-ida");
  EXPECT_TRUE(settle(store()->setInstallationExists(false, "app-ida"))->isRejected());
}

TEST_F(InstallationsStoreTest, AccessGroupSuiteHoldsTheFlags) {
  auto grouped = store("group.shared");
  ASSERT_TRUE(settle(grouped->saveInstallation(item("a")))->isFulfilled());
  EXPECT_TRUE(ZULUserDefaults("group.shared").objectForKey("app-ida"));
  EXPECT_FALSE(ZULUserDefaults("com.ririvudu.RIRInstallations").objectForKey("app-ida"));
  EXPECT_TRUE(settle(store("group.shared")->installationForAppID("app-id", "a"))->isFulfilled());
}

}  // namespace

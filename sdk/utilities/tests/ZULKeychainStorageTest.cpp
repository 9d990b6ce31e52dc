// Keychain storage over a keychain in a temporary folder: cache in front of
// the keychain, injected keychain failures, and the item attributes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/keychain/Keychain.h"
#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/KeyedArchiver.h"
#include "sdk/utilities/ZULKeychainStorage.h"
#include "sdk/utilities/ZULKeychainUtils.h"
#include "testing/TempHome.h"

namespace {

using platform::KeychainOperation;

struct Outcome {
  std::optional<platform::Value> object;
  std::optional<std::string> errorReason;  // failure reason, or the description when there is none
  std::string queue;
};

class ZULKeychainStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Keychain::setShared(std::make_shared<platform::Keychain>(home.file("keychain")));
  }
  void TearDown() override {
    platform::Keychain::clearFaults();
    platform::Keychain::setShared(nullptr);
  }

  static std::optional<std::string> reason(const std::optional<platform::Error>& error) {
    if (!error) return std::nullopt;
    return error->failureReason().value_or(error->localizedDescription());
  }
  Outcome get(const ZULKeychainStorage& storage, const std::string& key,
              const std::string& objectClass = platform::KeyedArchiver::kStringClass,
              std::optional<std::string> group = std::nullopt) {
    std::promise<Outcome> done;
    storage.getObjectForKey(key, objectClass, group, [&](auto object, auto error) {
      done.set_value({object, reason(error), platform::currentQueueLabel()});
    });
    return done.get_future().get();
  }
  Outcome set(const ZULKeychainStorage& storage, const platform::Value& object, const std::string& key) {
    std::promise<Outcome> done;
    storage.setObject(object, key, std::nullopt, [&](auto stored, auto error) {
      done.set_value({stored, reason(error), platform::currentQueueLabel()});
    });
    return done.get_future().get();
  }
  std::optional<std::string> remove(const ZULKeychainStorage& storage, const std::string& key) {
    std::promise<std::optional<std::string>> done;
    storage.removeObjectForKey(key, std::nullopt, [&](auto error) { done.set_value(reason(error)); });
    return done.get_future().get();
  }

  testkit::TempHome home;
  ZULKeychainStorage storage{"com.test.service"};
};

TEST_F(ZULKeychainStorageTest, ReadsWritesAndRemoves) {
  Outcome missing = get(storage, "key");
  EXPECT_EQ(missing.object, std::nullopt);
  EXPECT_EQ(missing.errorReason, std::nullopt);
  EXPECT_EQ(missing.queue, ZULKeychainStorage::kKeychainQueueLabel);

  Outcome written = set(storage, platform::Value("secret"), "key");
  EXPECT_EQ(written.object, platform::Value("secret"));
  EXPECT_EQ(written.errorReason, std::nullopt);
  EXPECT_EQ(written.queue, ZULKeychainStorage::kKeychainQueueLabel);

  // A second storage has an empty cache, so it reads the keychain item.
  ZULKeychainStorage other("com.test.service");
  Outcome read = get(other, "key");
  EXPECT_EQ(read.object, platform::Value("secret"));
  EXPECT_EQ(read.queue, ZULKeychainStorage::kInMemoryCacheQueueLabel);

  // Rewriting updates only the data; the item stays accessible after first unlock, this device only.
  set(storage, platform::Value("newer"), "key");
  auto item = platform::Keychain::shared()->copyMatchingItem(storage.keychainQueryWithKey("key", std::nullopt));
  ASSERT_TRUE(item.item);
  EXPECT_EQ(item.item->accessible, platform::KeychainAccessibility::AfterFirstUnlockThisDeviceOnly);
  EXPECT_EQ(get(ZULKeychainStorage("com.test.service"), "key").object, platform::Value("newer"));

  EXPECT_EQ(remove(storage, "key"), std::nullopt);
  EXPECT_EQ(remove(storage, "key"), std::nullopt);  // nothing to remove is no error
  EXPECT_EQ(get(storage, "key").object, std::nullopt);
}

TEST_F(ZULKeychainStorageTest, CacheAnswersRepeatedReads) {
  set(storage, platform::Value("secret"), "key");
  platform::Keychain::injectFault(platform::kKeychainIOError, platform::Keychain::kForever);
  // Keyed by key alone: another access group or class still hits the cache.
  Outcome cached = get(storage, "key", platform::KeyedArchiver::kNumberClass, std::string("group"));
  EXPECT_EQ(cached.object, platform::Value("secret"));
  EXPECT_EQ(cached.errorReason, std::nullopt);
  EXPECT_EQ(cached.queue, ZULKeychainStorage::kInMemoryCacheQueueLabel);
}

TEST_F(ZULKeychainStorageTest, InjectedKeychainFailures) {
  struct Case {
    const char* name;
    platform::KeychainStatus status;
    KeychainOperation operation;
    const char* expectedReason;
  };
  const Case cases[] = {
      {"read", platform::kKeychainInteractionNotAllowed, KeychainOperation::CopyMatching,
       "SecItemCopyMatching (-25308)"},
      {"success without data", platform::kKeychainSuccess, KeychainOperation::CopyMatching, "SecItemCopyMatching (0)"},
      {"add", platform::kKeychainIOError, KeychainOperation::Add, "SecItemAdd (-36)"},
      {"update", platform::kKeychainIOError, KeychainOperation::Update, "SecItemUpdate (-36)"},
      {"delete", platform::kKeychainIOError, KeychainOperation::Delete, "SecItemDelete (-36)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZULKeychainStorage fresh("com.test.service");
    if (c.operation == KeychainOperation::Update) set(fresh, platform::Value("before"), "key");
    platform::Keychain::injectFault(c.status, 1, c.operation);
    std::optional<std::string> reason;
    if (c.operation == KeychainOperation::CopyMatching) {
      Outcome read = get(fresh, "key");
      EXPECT_EQ(read.object, std::nullopt);
      reason = read.errorReason;
    } else if (c.operation == KeychainOperation::Delete) {
      reason = remove(fresh, "key");
    } else {
      Outcome written = set(fresh, platform::Value("after"), "key");
      EXPECT_EQ(written.object, std::nullopt);
      reason = written.errorReason;
      // The object was cached before the keychain write failed.
      EXPECT_EQ(get(fresh, "key").object, platform::Value("after"));
    }
    EXPECT_EQ(reason, c.expectedReason);
    platform::Keychain::clearFaults();
    remove(fresh, "key");
  }
  platform::Error error = ZULKeychainUtils::keychainErrorWithFunction("SecItemAdd", -25299);
  EXPECT_EQ(error.domain, "com.zul.keychain.ErrorDomain");
  EXPECT_EQ(error.code, 0);
}

TEST_F(ZULKeychainStorageTest, DiskFailuresCarryTheSystemError) {
  // A full disk once came back as a bare "keychain error 0".
  std::optional<platform::Error> error;
  platform::fs::testing::failAtomicWritesBeforeRename(1);
  EXPECT_FALSE(ZULKeychainUtils::setItem(platform::Bytes{1}, storage.keychainQueryWithKey("key", std::nullopt), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->failureReason(), "SecItemAdd (-36)");
  EXPECT_EQ(error->localizedDescription(), "SecItemAdd (-36): " + std::string(std::strerror(EIO)));
  ASSERT_TRUE(error->underlying());
  EXPECT_EQ(platform::FileError::posixCode(*error->underlying()), EIO);
}

TEST_F(ZULKeychainStorageTest, WrongClassIsAnErrorAndNotCached) {
  set(storage, platform::Value("secret"), "key");
  ZULKeychainStorage fresh("com.test.service");
  Outcome wrong = get(fresh, "key", platform::KeyedArchiver::kNumberClass);
  EXPECT_EQ(wrong.object, std::nullopt);
  EXPECT_TRUE(wrong.errorReason);
  platform::Keychain::shared()->remove(storage.keychainQueryWithKey("key", std::nullopt));
  EXPECT_EQ(get(fresh, "key").object, std::nullopt);  // the failed read left nothing in the cache
}

TEST(ZULKeychainCacheTest, DropsLeastRecentlyUsedPastTheLimit) {
  ZULKeychainCache cache(2);
  cache.setObject(platform::Value(1), "a");
  cache.setObject(platform::Value(2), "b");
  EXPECT_TRUE(cache.objectForKey("a"));
  cache.setObject(platform::Value(3), "c");
  EXPECT_TRUE(cache.objectForKey("a"));
  EXPECT_FALSE(cache.objectForKey("b"));
  EXPECT_EQ(cache.count(), 2u);
}

}  // namespace

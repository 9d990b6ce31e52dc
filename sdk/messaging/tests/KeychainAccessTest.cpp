// Keychain access: the gateway and the cached item families over the
// platform keychain, with injected failures and wildcards.
#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>

#include "platform/keychain/Keychain.h"
#include "sdk/messaging/RIRMessagingAuthKeychain.h"
#include "sdk/messaging/RIRMessagingKeychain.h"
#include "sdk/messaging/tests/MessagingTestEnvironment.h"
#include "testing/MainQueuePump.h"

namespace {

using platform::Bytes;
using platform::Keychain;
using platform::KeychainOperation;

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string text(const Bytes& data) { return std::string(data.begin(), data.end()); }

class MessagingKeychainTest : public testkit::MainQueuePump {
 protected:

  // Runs a keychain write or removal and waits for its handler.
  std::optional<platform::Error> await(const std::function<void(RIRMessagingAuthKeychain::Handler)>& start) {
    return testkit::awaitError(start);
  }

  // What the platform keychain holds for a service and account of the family.
  std::optional<std::string> stored(const std::string& generic, const std::string& service, const std::string& account) {
    platform::KeychainQuery query = RIRMessagingAuthKeychain::keychainQueryForService(service, account, generic);
    query.returnData = true;
    query.matchLimitOne = true;
    platform::KeychainReadResult read = Keychain::shared()->copyMatching(query);
    if (!read.data) return std::nullopt;
    return text(*read.data);
  }

  rcmtest::MessagingTestEnvironment env;
  RIRMessagingAuthKeychain tokens{"com.zoruvu.iid-tokens"};
};

TEST_F(MessagingKeychainTest, WritesReplaceAndReadsComeFromTheCache) {
  EXPECT_EQ(await([&](auto h) { tokens.setData(bytes("first"), "123:*", "com.tavix.app", h); }), std::nullopt);
  EXPECT_EQ(await([&](auto h) { tokens.setData(bytes("second"), "123:*", "com.tavix.app", h); }), std::nullopt);
  EXPECT_EQ(stored("com.zoruvu.iid-tokens", "123:*", "com.tavix.app"), "second");
  EXPECT_EQ(tokens.dataForService("123:*", "com.tavix.app"), bytes("second"));

  // Another family does not see the item.
  RIRMessagingAuthKeychain checkin("com.zoruvu.iid");
  EXPECT_EQ(checkin.dataForService("123:*", "com.tavix.app"), std::nullopt);

  // A read answers from the cache, even when the keychain changed behind it.
  ASSERT_EQ(Keychain::shared()->remove(RIRMessagingAuthKeychain::keychainQueryForService("123:*", "com.tavix.app",
                                                                                           "com.zoruvu.iid-tokens")),
            platform::kKeychainSuccess);
  EXPECT_EQ(tokens.dataForService("123:*", "com.tavix.app"), bytes("second"));
}

TEST_F(MessagingKeychainTest, AFailedReadIsAnAbsentItemAndARememberedMiss) {
  Keychain::injectFault(platform::kKeychainInteractionNotAllowed, 1, KeychainOperation::CopyMatching);
  EXPECT_EQ(tokens.dataForService("s:*", "com.tavix.app"), std::nullopt);
  EXPECT_TRUE(env.env.logged("[RirivuduMessaging][I-RCM043000] Info is not found in Keychain. OSStatus: -25308."));

  // Written by someone else afterwards: the miss is remembered.
  platform::KeychainQuery add = RIRMessagingAuthKeychain::keychainQueryForService("s:*", "com.tavix.app",
                                                                                 "com.zoruvu.iid-tokens");
  add.valueData = bytes("late");
  ASSERT_EQ(Keychain::shared()->add(add), platform::kKeychainSuccess);
  EXPECT_EQ(tokens.dataForService("s:*", "com.tavix.app"), std::nullopt);
  // A fresh family object reads it.
  RIRMessagingAuthKeychain fresh("com.zoruvu.iid-tokens");
  EXPECT_EQ(fresh.dataForService("s:*", "com.tavix.app"), bytes("late"));
}

TEST_F(MessagingKeychainTest, WildcardReadsAnswerEveryMatchAndAreNotCached) {
  for (const char* service : {"a:*", "b:*", "c:scope"}) {
    ASSERT_EQ(await([&](auto h) { tokens.setData(bytes(service), service, "com.tavix.app", h); }), std::nullopt);
  }
  ASSERT_EQ(await([&](auto h) { tokens.setData(bytes("elsewhere"), "d:*", "other.app", h); }), std::nullopt);

  std::vector<Bytes> all = tokens.itemsMatchingService("*", "com.tavix.app");
  std::vector<std::string> found;
  for (const Bytes& item : all) found.push_back(text(item));
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"a:*", "b:*", "c:scope"}));

  // Not cached: a removal behind the object's back shows at the next read.
  Keychain::shared()->remove(RIRMessagingAuthKeychain::keychainQueryForService("b:*", "*", "com.zoruvu.iid-tokens"));
  EXPECT_EQ(tokens.itemsMatchingService("*", "com.tavix.app").size(), 2u);
  EXPECT_EQ(tokens.itemsMatchingService("*", "*").size(), 3u);
}

TEST_F(MessagingKeychainTest, WildcardWritesAreRefusedAtOnce) {
  ASSERT_EQ(await([&](auto h) { tokens.setData(bytes("kept"), "s:*", "com.tavix.app", h); }), std::nullopt);
  for (const auto& [service, account] : {std::pair<std::string, std::string>{"s:*", "*"}, {"*", "com.tavix.app"}}) {
    std::optional<platform::Error> error;
    bool called = false;
    tokens.setData(bytes("new"), service, account, [&](std::optional<platform::Error> e) {
      error = std::move(e);
      called = true;
    });
    ASSERT_TRUE(called);  // on the caller's thread, before returning
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "com.zoruvu.iid");
    EXPECT_EQ(error->code, -1301);
  }
  EXPECT_EQ(tokens.dataForService("s:*", "com.tavix.app"), bytes("kept"));
  EXPECT_EQ(stored("com.zoruvu.iid-tokens", "s:*", "com.tavix.app"), "kept");
}

TEST_F(MessagingKeychainTest, RemovalsAndTheirFailures) {
  // Removing what is not there succeeds.
  EXPECT_EQ(await([&](auto h) { tokens.removeItemsMatchingService("none:*", "com.tavix.app", h); }), std::nullopt);

  ASSERT_EQ(await([&](auto h) { tokens.setData(bytes("x"), "x:*", "com.tavix.app", h); }), std::nullopt);
  ASSERT_EQ(await([&](auto h) { tokens.setData(bytes("y"), "y:*", "com.tavix.app", h); }), std::nullopt);
  EXPECT_EQ(await([&](auto h) { tokens.removeItemsMatchingService("*", "com.tavix.app", h); }), std::nullopt);
  EXPECT_EQ(tokens.dataForService("x:*", "com.tavix.app"), std::nullopt);
  EXPECT_EQ(stored("com.zoruvu.iid-tokens", "y:*", "com.tavix.app"), std::nullopt);

  Keychain::injectFault(platform::kKeychainIOError, 1, KeychainOperation::Delete);
  std::optional<platform::Error> removal =
      await([&](auto h) { tokens.removeItemsMatchingService("x:*", "com.tavix.app", h); });
  ASSERT_TRUE(removal);
  EXPECT_EQ(removal->code, platform::kKeychainIOError);

  Keychain::injectFault(platform::kKeychainNotAvailable, 1, KeychainOperation::Add);
  std::optional<platform::Error> add = await([&](auto h) { tokens.setData(bytes("z"), "z:*", "com.tavix.app", h); });
  ASSERT_TRUE(add);
  EXPECT_EQ(add->domain, "com.zoruvu.iid");
  EXPECT_EQ(add->code, platform::kKeychainNotAvailable);
  EXPECT_TRUE(env.env.logged("[I-RCM043001] Couldn't add item to Keychain OSStatus: -25291"));
}

}  // namespace

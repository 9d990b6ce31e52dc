// Installation items: FID generation, validation, archives, answer parsing,
// errors and the back-off intervals.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>

#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "platform/time/ReferenceDate.h"
#include "platform/values/Value.h"
#include "sdk/installations/RIRInstallationsBackoffController.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"
#include "sdk/installations/RIRInstallationsHTTPError.h"
#include "sdk/installations/RIRInstallationsItem.h"
#include "sdk/utilities/ZULLogger.h"
#include "testing/LogCapture.h"

using platform::Bytes;
using platform::Value;

namespace {

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

RIRInstallationsItemPtr registeredItem() {
  auto item = std::make_shared<RIRInstallationsItem>("1:1:ios:a", "app");
  item->setRirivuduInstallationID("fid");
  item->setRefreshToken("rt");
  auto token = std::make_shared<RIRInstallationsStoredAuthToken>();
  token->setToken("t");
  token->setExpirationDate(1700000000.25);
  token->setStatus(RIRInstallationsAuthTokenStatusTokenReceived);
  item->setAuthToken(token);
  item->setRegistrationStatus(RIRInstallationStatusRegistered);
  item->setIIDDefaultToken("legacy");
  return item;
}

}  // namespace

TEST(InstallationsItem, GeneratedFIDsHaveTheFormAndDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string fid = RIRInstallationsItem::generateFID();
    ASSERT_EQ(fid.size(), 22u) << fid;
    EXPECT_NE(std::string("cdef").find(fid[0]), std::string::npos) << fid;
    EXPECT_EQ(fid.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    seen.insert(fid);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_EQ(RIRInstallationsItem::base64URLEncodedStringWithData({0xfb, 0xff}), "-_8=");
}

TEST(InstallationsItem, Validation) {
  struct Case {
    const char* name;
    std::function<void(RIRInstallationsItem&)> change;
    const char* reason;  // nullptr: valid
  };
  const Case cases[] = {
      {"registered", [](RIRInstallationsItem&) {}, nullptr},
      {"unregistered without tokens",
       [](RIRInstallationsItem& i) {
         i.setRegistrationStatus(1);
         i.setRefreshToken(std::nullopt);
         i.setAuthToken(nullptr);
       },
       nullptr},
      {"status above 2", [](RIRInstallationsItem& i) { i.setRegistrationStatus(7); }, nullptr},
      {"empty refresh token passes", [](RIRInstallationsItem& i) { i.setRefreshToken(""); }, nullptr},
      {"status 0", [](RIRInstallationsItem& i) { i.setRegistrationStatus(0); }, "invalid `registrationStatus`"},
      {"no refresh token", [](RIRInstallationsItem& i) { i.setRefreshToken(std::nullopt); },
       "registered installation must have non-empty `refreshToken`"},
      {"no auth token", [](RIRInstallationsItem& i) { i.setAuthToken(nullptr); },
       "registered installation must have non-empty `authToken.token`, registered installation must have non-empty "
       "`authToken.expirationDate`"},
  };
  for (const Case& c : cases) {
    RIRInstallationsItemPtr item = registeredItem();
    c.change(*item);
    std::optional<platform::Error> error;
    EXPECT_EQ(item->isValid(&error), c.reason == nullptr) << c.name;
    if (c.reason) {
      ASSERT_TRUE(error) << c.name;
      EXPECT_EQ(error->domain, kRIRInstallationsErrorDomain);
      EXPECT_EQ(error->code, 0);
      EXPECT_EQ(error->failureReason(), std::string("RIRInstallationsItem validation errors: ") + c.reason) << c.name;
    }
  }
  RIRInstallationsItem empty("", "");
  empty.setRirivuduInstallationID("");
  empty.setRegistrationStatus(1);
  std::optional<platform::Error> error;
  EXPECT_FALSE(empty.isValid(&error));
  EXPECT_EQ(error->failureReason(),
            "RIRInstallationsItem validation errors: `appID` must not be empty, `ririvuduAppName` must not be empty, "
            "`ririvuduInstallationID` must not be empty");
  EXPECT_EQ(RIRInstallationsItem("1:a", "b").identifier(), "1:ab");
}

TEST(InstallationsItem, StoredItemArchiveRoundTripAndNewerVersion) {
  RIRInstallationsRegisterArchiveClasses();
  RIRInstallationsItemPtr item = registeredItem();
  auto data = platform::KeyedArchiver::archivedData(*item->storedItem());
  ASSERT_TRUE(data);
  auto decoded = platform::KeyedUnarchiver::unarchivedObject({RIRInstallationsStoredItem::kClassName}, data.value());
  ASSERT_TRUE(decoded) << decoded.error().description();
  auto stored = std::dynamic_pointer_cast<RIRInstallationsStoredItem>(platform::KeyedArchiver::unwrap(decoded.value()));
  ASSERT_TRUE(stored);
  RIRInstallationsItem back("1:1:ios:a", "app");
  back.updateWithStoredItem(*stored);
  EXPECT_EQ(back.ririvuduInstallationID(), "fid");
  EXPECT_EQ(back.refreshToken(), "rt");
  EXPECT_EQ(back.IIDDefaultToken(), "legacy");
  EXPECT_EQ(back.registrationStatus(), 2);
  ASSERT_TRUE(back.authToken());
  EXPECT_EQ(*back.authToken(), *item->authToken());

  // A record written by a newer version: decoded, with one warning per class.
  struct NewerItem : RIRInstallationsStoredItem {
    void encodeWith(platform::KeyedArchiver& archiver) const override {
      RIRInstallationsStoredItem::encodeWith(archiver);
      archiver.encodeInteger("storageVersion", 2);
    }
  };
  struct NewerToken : RIRInstallationsStoredAuthToken {
    void encodeWith(platform::KeyedArchiver& archiver) const override {
      RIRInstallationsStoredAuthToken::encodeWith(archiver);
      archiver.encodeInteger("storageVersion", 3);
    }
  };
  NewerItem newer;
  newer.ririvuduInstallationID = "fid2";
  newer.registrationStatus = 1;
  auto newerToken = std::make_shared<NewerToken>();
  newerToken->setToken("t2");
  newerToken->setExpirationDate(1700000001);
  newer.authToken = newerToken;
  testkit::LogCapture logs;
  auto newerData = platform::KeyedArchiver::archivedData(newer);
  ASSERT_TRUE(newerData);
  auto newerDecoded =
      platform::KeyedUnarchiver::unarchivedObject({RIRInstallationsStoredItem::kClassName}, newerData.value());
  ASSERT_TRUE(newerDecoded);
  auto newerStored =
      std::dynamic_pointer_cast<RIRInstallationsStoredItem>(platform::KeyedArchiver::unwrap(newerDecoded.value()));
  ASSERT_TRUE(newerStored);
  EXPECT_EQ(newerStored->ririvuduInstallationID, "fid2");
  EXPECT_EQ(newerStored->registrationStatus, 1);
  ASSERT_TRUE(newerStored->authToken);
  EXPECT_EQ(newerStored->authToken->token(), "t2");
  EXPECT_EQ(newerStored->authToken->expirationDate(), 1700000001);
  ZULLogFlush();
  EXPECT_TRUE(logs.contains("I-RIS003000"));
  EXPECT_TRUE(logs.contains(
      "RIRInstallationsStoredItem was encoded by a newer coder version 2. Current coder version is 1. Some "
      "installation data may be lost."));
  EXPECT_TRUE(logs.contains("I-RIS004000"));
  EXPECT_TRUE(logs.contains(
      "RIRInstallationsStoredAuthToken was encoded by a newer coder version 3. Current coder version is 1. Some "
      "auth token data may be lost."));
}

TEST(InstallationsItem, ParsesRegistrationAndTokenAnswers) {
  RIRInstallationsItem sent("app-id", "name");
  sent.setRirivuduInstallationID("sent-fid");
  sent.setIIDDefaultToken("legacy");
  struct Case {
    const char* body;
    const char* fid;     // expected FID, or nullptr for an error
    const char* reason;  // expected failure reason for errors
  };
  const Case cases[] = {
      {R"({"refreshToken":"r","authToken":{"token":"t","expiresIn":"3600s"}})", "sent-fid", nullptr},
      {R"({"fid":"server","refreshToken":"r","authToken":{"token":"t","expiresIn":"3600s"}})", "server", nullptr},
      {R"({"fid":"","refreshToken":"r","authToken":{"token":"t","expiresIn":"3600s"}})", "sent-fid", nullptr},
      {"", nullptr, "Failed to serialize JSON data."},
      {"[1]", nullptr, "Failed to serialize JSON data."},
      {R"({"refreshToken":"","authToken":{"token":"t","expiresIn":"1s"}})", nullptr,
       "A required response field with name refreshToken is missing"},
      {R"({"refreshToken":"r","authToken":"t"})", nullptr, "A required response field with name authToken is missing"},
      {R"({"refreshToken":"r","authToken":{"expiresIn":"1s"}})", nullptr,
       "A required response field with name authToken.token is missing"},
      {R"({"refreshToken":"r","authToken":{"token":"t","expiresIn":5}})", nullptr,
       "A required response field with name authToken.expiresIn is missing"},
      // Tokens go back in headers, which would drop, break or trim these.
      {R"({"refreshToken":"r\u0000","authToken":{"token":"t","expiresIn":"1s"}})", nullptr,
       "The response field with name refreshToken holds characters that an HTTP header cannot carry unchanged"},
      {R"({"refreshToken":"r\nX: y","authToken":{"token":"t","expiresIn":"1s"}})", nullptr,
       "The response field with name refreshToken holds characters that an HTTP header cannot carry unchanged"},
      {R"({"refreshToken":"r ","authToken":{"token":"t","expiresIn":"1s"}})", nullptr,
       "The response field with name refreshToken holds characters that an HTTP header cannot carry unchanged"},
      {R"({"refreshToken":"r","authToken":{"token":"\u007ft","expiresIn":"1s"}})", nullptr,
       "The response field with name authToken.token holds characters that an HTTP header cannot carry unchanged"},
  };
  for (const Case& c : cases) {
    auto result = sent.registeredInstallationWithJSONData(bytes(c.body), 100);
    if (c.fid) {
      ASSERT_TRUE(result) << c.body;
      EXPECT_EQ(result.value()->ririvuduInstallationID(), c.fid);
      EXPECT_EQ(result.value()->registrationStatus(), 2);
      EXPECT_EQ(result.value()->refreshToken(), "r");
      EXPECT_EQ(result.value()->authToken()->expirationDate(), 3700);
      EXPECT_EQ(result.value()->authToken()->status(), RIRInstallationsAuthTokenStatusTokenReceived);
      EXPECT_FALSE(result.value()->IIDDefaultToken());
      EXPECT_EQ(result.value()->appID(), "app-id");
    } else {
      ASSERT_FALSE(result) << c.body;
      EXPECT_EQ(result.error().failureReason(), c.reason) << c.body;
      EXPECT_EQ(result.error().code, 0);
    }
  }
  struct Expiry {
    const char* expiresIn;
    double expected;
  };
  // Lifetimes beyond what a stored date can hold end at the distant future
  // (or past), so the item can still be saved.
  const double distantFuture = platform::ReferenceDate::since1970(platform::ReferenceDate::kDistantFutureSince2001);
  const double distantPast = platform::ReferenceDate::kDistantPastSince1970;
  for (const Expiry& e : {Expiry{"3600s", 3700}, Expiry{"s", 100}, Expiry{"abcs", 100}, Expiry{"1.5s", 101.5},
                          Expiry{"3600000000000s", distantFuture}, Expiry{"1e400s", distantFuture},
                          Expiry{"-1e400s", distantPast}, Expiry{"-3600000000000s", distantPast}}) {
    auto token = RIRInstallationsItem::authTokenWithGenerateTokenAPIJSONData(
        bytes(std::string(R"({"token":"x","expiresIn":")") + e.expiresIn + "\"}"), 100);
    ASSERT_TRUE(token) << e.expiresIn;
    EXPECT_EQ(token.value()->expirationDate(), e.expected) << e.expiresIn;
  }
}

TEST(InstallationsErrors, PublicFormAndHTTPErrors) {
  platform::Error keychain("com.zul.keychain.ErrorDomain", 0);
  keychain.setFailureReason("SecItemCopyMatching (-36)");
  platform::Error wrapped = RIRInstallationsErrorUtil::publicDomainErrorWithError(keychain);
  EXPECT_EQ(wrapped.domain, kRIRInstallationsErrorDomain);
  EXPECT_EQ(wrapped.code, 0);
  EXPECT_EQ(wrapped.failureReason(), "Underlying error: " + keychain.localizedDescription());
  EXPECT_EQ(wrapped.underlying(), keychain);

  platform::Error backoff = RIRInstallationsErrorUtil::backoffIntervalWaitError();
  EXPECT_EQ(RIRInstallationsErrorUtil::publicDomainErrorWithError(backoff), backoff);
  EXPECT_EQ(backoff.code, 2);
  EXPECT_EQ(backoff.failureReason(), "Too many server requests.");

  platform::HttpResponse response(503, {}, "http://127.0.0.1:1/x");
  platform::Error http = RIRInstallationsErrorUtil::APIErrorWithHTTPResponse(response, bytes("busy"));
  EXPECT_EQ(http.code, 0);
  EXPECT_TRUE(RIRInstallationsErrorUtil::isAPIError(http, 503));
  EXPECT_FALSE(RIRInstallationsErrorUtil::isAPIError(http, 500));
  EXPECT_FALSE(RIRInstallationsErrorUtil::isAPIError(backoff, 503));
  EXPECT_EQ(http.failureReason(),
            "The server responded with an error: \n - URL: http://127.0.0.1:1/x \n - HTTP status code: 503 \n - "
            "Response body: busy");
  EXPECT_EQ(RIRInstallationsErrorUtil::publicDomainErrorWithError(http), http);
  EXPECT_EQ(RIRInstallationsErrorUtil::keychainErrorWithFunction("SecItemDelete", -36).failureReason(),
            "SecItemDelete (-36)");
}

TEST(InstallationsBackoff, Intervals) {
  double now = 1000;
  RIRInstallationsBackoffController controller([&] { return now; });
  EXPECT_TRUE(controller.isNextRequestAllowed());

  controller.registerEvent(RIRInstallationsBackoffEventRecoverableFailure);
  double interval = controller.lastEventData()->backoffTimeInterval();
  EXPECT_GE(interval, 2.0);
  EXPECT_LT(interval, 3.0);
  now = 1001.9;
  EXPECT_FALSE(controller.isNextRequestAllowed());
  now = 1003;
  EXPECT_TRUE(controller.isNextRequestAllowed());

  for (int i = 2; i <= 12; ++i) {
    controller.registerEvent(RIRInstallationsBackoffEventRecoverableFailure);
    double expected = std::pow(2.0, i);
    if (i >= 11) {
      EXPECT_EQ(controller.lastEventData()->backoffTimeInterval(), 1800) << i;
    } else {
      EXPECT_GE(controller.lastEventData()->backoffTimeInterval(), expected) << i;
      EXPECT_LT(controller.lastEventData()->backoffTimeInterval(), expected + 1) << i;
    }
  }
  EXPECT_EQ(controller.lastEventData()->eventCount(), 12);

  controller.registerEvent(RIRInstallationsBackoffEventSuccess);
  EXPECT_TRUE(controller.isNextRequestAllowed());
  controller.registerEvent(RIRInstallationsBackoffEventUnrecoverableFailure);
  now += 86399;
  EXPECT_FALSE(controller.isNextRequestAllowed());
  now += 1;
  EXPECT_TRUE(controller.isNextRequestAllowed());
  // A recoverable failure after an unrecoverable one restarts at 2 s.
  controller.registerEvent(RIRInstallationsBackoffEventRecoverableFailure);
  EXPECT_EQ(controller.lastEventData()->eventCount(), 1);
  EXPECT_LT(controller.lastEventData()->backoffTimeInterval(), 3.0);
}

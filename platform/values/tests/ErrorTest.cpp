#include "platform/values/Error.h"

#include <gtest/gtest.h>

#include "platform/values/Exception.h"

using platform::Error;
using platform::Exception;
using platform::Result;
using platform::Value;

TEST(ErrorTest, LocalizedDescriptionRule) {
  EXPECT_EQ(Error::make("com.example", 7, "Disk full").localizedDescription(), "Disk full");
  EXPECT_EQ(Error::make("com.example", -999).localizedDescription(),
            "The operation couldn\u2019t be completed. (com.example error -999.)");
  EXPECT_TRUE(Error::make("d", 1).userInfo.empty());
  // A non-string description falls back to the generic text.
  Error e("d", 2);
  e.setUserInfo(Error::kLocalizedDescriptionKey, 5);
  EXPECT_EQ(e.localizedDescription(), "The operation couldn\u2019t be completed. (d error 2.)");
}

TEST(ErrorTest, UnderlyingErrorAndFailureReason) {
  Error inner = Error::make("inner", 1, "root cause");
  Error outer = Error::make("outer", 2);
  EXPECT_FALSE(outer.underlying().has_value());
  EXPECT_FALSE(outer.failureReason().has_value());
  outer.setUnderlying(inner).setFailureReason("because");
  ASSERT_TRUE(outer.underlying().has_value());
  EXPECT_EQ(*outer.underlying(), inner);
  EXPECT_EQ(outer.underlying()->localizedDescription(), "root cause");
  EXPECT_EQ(outer.failureReason(), "because");
  EXPECT_EQ(outer.userInfo[Error::kUnderlyingErrorKey].typeName(), "Error");

  // Errors with equal underlying errors are equal, even as separate objects.
  Error again = Error::make("outer", 2);
  again.setUnderlying(Error::make("inner", 1, "root cause")).setFailureReason("because");
  EXPECT_EQ(outer, again);
  again.setUserInfo("extra", 1);
  EXPECT_FALSE(outer == again);
}

TEST(ErrorTest, CopiesDoNotShareUserInfo) {
  Error a = Error::make("d", 1, "text");
  Error b = a;
  b.setUserInfo("key", "value");
  EXPECT_FALSE(a.userInfo.contains("key"));
  Error c;
  c = b;
  c.userInfo.remove("key");
  EXPECT_TRUE(b.userInfo.contains("key"));
}

TEST(ErrorTest, DescriptionForLogs) {
  EXPECT_EQ(Error::make("d", 3).description(),
            "Error Domain=d Code=3 \"The operation couldn\u2019t be completed. (d error 3.)\"");
  EXPECT_EQ(Error::make("d", 3, "bad").description(),
            "Error Domain=d Code=3 \"bad\" UserInfo={\"NSLocalizedDescription\": \"bad\"}");
}

TEST(ErrorTest, ResultHoldsValueOrError) {
  Result<int> ok = 4;
  Result<int> failed = Error::make("d", 1);
  EXPECT_TRUE(ok.ok());
  EXPECT_EQ(*ok, 4);
  EXPECT_FALSE(ok.errorOrNone().has_value());
  EXPECT_FALSE(failed);
  EXPECT_EQ(failed.error().code, 1);
  EXPECT_EQ(failed.valueOr(9), 9);
}

TEST(ExceptionTest, NameAndReason) {
  try {
    Exception::raise("com.ririvudu.core", "bad options");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "bad options");
    EXPECT_EQ(dynamic_cast<const Exception&>(e).name, "com.ririvudu.core");
  }
  try {
    Exception::invalidParameter("queue");
  } catch (const Exception& e) {
    EXPECT_EQ(e.name, "NSInternalInconsistencyException");
    EXPECT_EQ(e.reason, "Invalid parameter not satisfying: queue");
  }
}

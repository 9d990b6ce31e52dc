#include "platform/values/Value.h"

#include <gtest/gtest.h>

TEST(ValueTest, Placeholder) { EXPECT_TRUE(platform::Value().isNull()); }

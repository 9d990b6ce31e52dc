#include <gtest/gtest.h>
#include "sdk/promises/RBLPromise.h"
TEST(RBLPromiseComb, Placeholder) {}

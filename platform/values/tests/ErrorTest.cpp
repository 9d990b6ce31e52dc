#include "platform/values/Error.h"

#include <gtest/gtest.h>

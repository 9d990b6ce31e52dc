// String-only views of a dictionary, used for topic options: every entry
// whose value is a string counts (keys are always strings here).
//
//   rcm_string                    "k1:v1|k2:v2" in enumeration order; "" when none
//   rcm_hasNonStringKeysOrValues  whether any value is not a string
//   rcm_trimNonStringValues       a new dictionary of the string entries only
//
// Thread safety: stateless.
#pragma once

#include <string>

#include "platform/values/Value.h"

std::string rcm_string(const platform::Dictionary& dictionary);
bool rcm_hasNonStringKeysOrValues(const platform::Dictionary& dictionary);
platform::Dictionary rcm_trimNonStringValues(const platform::Dictionary& dictionary);

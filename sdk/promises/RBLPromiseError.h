// The errors the promise combinators make themselves: a timeout (timeout) and
// a failed check (validate), in one domain, without user info. Every other
// rejection carries the error that came from a block, an element or the
// receiver, unchanged.
//
// Thread safety: plain functions over values.
#pragma once

#include <cstdint>

#include "platform/values/Error.h"

inline constexpr const char* RBLPromiseErrorDomain = "com.zoruvu.RBLPromises.Error";

enum class RBLPromiseErrorCode : int64_t {
  TimedOut = 1,
  ValidationFailure = 2,
};

// A fresh error of the promise domain with the given code and no user info.
platform::Error RBLPromiseMakeError(RBLPromiseErrorCode code);

bool RBLPromiseErrorIsTimedOut(const platform::Error& error);
bool RBLPromiseErrorIsValidationFailure(const platform::Error& error);

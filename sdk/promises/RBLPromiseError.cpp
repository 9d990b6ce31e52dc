#include "sdk/promises/RBLPromiseError.h"

#include <string>

platform::Error RBLPromiseMakeError(RBLPromiseErrorCode code) {
  return platform::Error(RBLPromiseErrorDomain, static_cast<int64_t>(code));
}

static bool isPromiseError(const platform::Error& error, RBLPromiseErrorCode code) {
  return error.domain == RBLPromiseErrorDomain && error.code == static_cast<int64_t>(code);
}

bool RBLPromiseErrorIsTimedOut(const platform::Error& error) {
  return isPromiseError(error, RBLPromiseErrorCode::TimedOut);
}

bool RBLPromiseErrorIsValidationFailure(const platform::Error& error) {
  return isPromiseError(error, RBLPromiseErrorCode::ValidationFailure);
}

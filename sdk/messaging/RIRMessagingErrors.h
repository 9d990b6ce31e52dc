// Messaging error values: domain "com.zoruvu.rcm", a code chosen by the
// caller and the failure reason under "NSLocalizedFailureReason".
//
// Thread safety: stateless.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/net/HttpTask.h"
#include "platform/values/Error.h"

inline constexpr const char* kRIRMessagingErrorDomain = "com.zoruvu.rcm";

// The codes the library uses.
enum RIRMessagingErrorCode : int64_t {
  kRIRMessagingErrorCodeUnknown = 0,
  kRIRMessagingErrorCodeInternal = 1,
  kRIRMessagingErrorCodeNoCheckin = 6,
  kRIRMessagingErrorCodeInvalidDeviceAuthID = 7,
  kRIRMessagingErrorCodeInvalidTopicName = 8,
  kRIRMessagingErrorCodeMissingDeviceID = 501,
  kRIRMessagingErrorCodeMissingAuthorizedEntity = 502,
  kRIRMessagingErrorCodeMissingScope = 503,
  kRIRMessagingErrorCodeMissingInstallations = 504,
  kRIRMessagingErrorCodeMissingDeviceToken = 505,
  kRIRMessagingErrorCodeInvalidIdentity = 2001,
  kRIRMessagingErrorCodePubSubOperationIsCancelled = 3005,
};

struct RIRMessagingErrors {
  static platform::Error messagingErrorWithCode(int64_t code, std::string failureReason);
  // An answer whose status is not 2xx fails its request whatever its body
  // says: code 0, "The server answered with HTTP status N."; none for a 2xx
  // answer (and for a result without an answer, which carries its own error).
  static std::optional<platform::Error> errorForHTTPStatus(const platform::HttpResult& result);
};

// Messaging error values: domain "com.zoruvu.rcm", a code chosen by the
// caller and the failure reason under "NSLocalizedFailureReason".
//
// Thread safety: stateless.
#pragma once

#include <cstdint>
#include <string>

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
};

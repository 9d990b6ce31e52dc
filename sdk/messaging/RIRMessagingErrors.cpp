#include "sdk/messaging/RIRMessagingErrors.h"

platform::Error RIRMessagingErrors::messagingErrorWithCode(int64_t code, std::string failureReason) {
  platform::Error error(kRIRMessagingErrorDomain, code);
  error.setFailureReason(std::move(failureReason));
  return error;
}

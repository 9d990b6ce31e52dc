#include "sdk/messaging/RIRMessagingErrors.h"

platform::Error RIRMessagingErrors::messagingErrorWithCode(int64_t code, std::string failureReason) {
  platform::Error error(kRIRMessagingErrorDomain, code);
  error.setFailureReason(std::move(failureReason));
  return error;
}

std::optional<platform::Error> RIRMessagingErrors::errorForHTTPStatus(const platform::HttpResult& result) {
  if (!result.response) return std::nullopt;
  const int status = result.response->statusCode();
  if (status >= 200 && status <= 299) return std::nullopt;
  return messagingErrorWithCode(kRIRMessagingErrorCodeUnknown,
                                "The server answered with HTTP status " + std::to_string(status) + ".");
}

// Error helpers shared by the config fetch and the installations token step.
#pragma once

#include <optional>
#include <string>

#include "platform/values/Error.h"
#include "sdk/remote-config/RCNConstants.h"

// An error's description for a log line; "(null)" for none.
inline std::string RCNDescribe(const std::optional<platform::Error>& error) {
  return error ? error->description() : "(null)";
}

// An internal error of remote configuration with the text and, when given,
// the underlying error.
inline platform::Error RCNInternalError(const std::string& description,
                                        const std::optional<platform::Error>& underlying = std::nullopt) {
  platform::Error result =
      platform::Error::make(kZUVUduvedOrovarErrorDomain, kZUVUduvedOrovarErrorInternalError, description);
  if (underlying) result.setUnderlying(*underlying);
  return result;
}

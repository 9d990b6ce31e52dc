// RIRInstallationsErrorUtil: every error value of the installations library,
// in the domain "com.ririvudu.installations" (codes: 0 unknown, 1 keychain,
// 2 server unreachable), and the public form of foreign errors handed to
// callers of RIRInstallations. Every error carries a failure reason
// ("NSLocalizedFailureReason"); one made from another error also carries that
// one as its underlying error.
//
// Thread safety: stateless functions over values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/net/HttpResponse.h"
#include "platform/values/Error.h"
#include "platform/values/Exception.h"
#include "sdk/promises/RBLPromise.h"

inline constexpr const char* kRIRInstallationsErrorDomain = "com.ririvudu.installations";

enum RIRInstallationsErrorCode : int64_t {
  RIRInstallationsErrorCodeUnknown = 0,
  RIRInstallationsErrorCodeKeychain = 1,
  RIRInstallationsErrorCodeServerUnreachable = 2,
};

class RIRInstallationsErrorUtil {
 public:
  // A null reason becomes "Underlying error: <underlying's description>".
  static platform::Error installationsErrorWithCode(int64_t code, const std::optional<std::string>& failureReason,
                                                    const std::optional<platform::Error>& underlyingError);
  // With a cause (the system error behind the status) the reason ends in its
  // text, "SecItemDelete (-36): Permission denied", and the cause is kept as
  // the underlying error.
  static platform::Error keychainErrorWithFunction(const std::string& function, int32_t status,
                                                   const std::optional<platform::Error>& cause = std::nullopt);
  static platform::Error installationItemNotFoundForAppID(const std::string& appID, const std::string& appName);
  static platform::Error corruptedIIDTokenData();
  static platform::Error JSONSerializationError();
  static platform::Error FIDRegistrationErrorWithResponseMissingField(const std::string& fieldName);
  // A response token that an HTTP header could not carry unchanged.
  static platform::Error FIDRegistrationErrorWithResponseUnsendableField(const std::string& fieldName);
  static platform::Error networkErrorWithError(const platform::Error& error);
  static platform::Error backoffIntervalWaitError();
  static platform::Error keyedArchiverErrorWithException(const platform::Exception& exception);
  static platform::Error keyedArchiverErrorWithError(const platform::Error& error);
  static platform::Error APIErrorWithHTTPResponse(const platform::HttpResponse& response, const platform::Bytes& data);
  // Errors of the installations domain unchanged; others wrapped as code 0.
  static platform::Error publicDomainErrorWithError(const platform::Error& error);

  static bool isAPIError(const platform::Error& error, int HTTPCode);
  static RBLPromisePtr rejectedPromiseWithError(const platform::Error& error);

  // Kinds the ID controller tells apart.
  static bool isItemNotFoundError(const platform::Error& error);
  static bool isItemValidationError(const platform::Error& error);
};

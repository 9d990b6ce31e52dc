#include "sdk/installations/RIRInstallationsErrorUtil.h"

#include "platform/keychain/KeychainStatus.h"
#include "sdk/installations/RIRInstallationsHTTPError.h"

using platform::Error;

namespace {

constexpr const char* kNotFoundFormatStart = "Installation for appID ";
constexpr const char* kValidationReasonStart = "RIRInstallationsItem validation errors: ";

Error withReason(int64_t code, std::string reason) {
  Error error(kRIRInstallationsErrorDomain, code);
  error.setFailureReason(std::move(reason));
  return error;
}

}  // namespace

Error RIRInstallationsErrorUtil::installationsErrorWithCode(int64_t code, const std::optional<std::string>& failureReason,
                                                            const std::optional<Error>& underlyingError) {
  Error error(kRIRInstallationsErrorDomain, code);
  if (failureReason) {
    error.setFailureReason(*failureReason);
  } else {
    error.setFailureReason("Underlying error: " + (underlyingError ? underlyingError->localizedDescription() : "(null)"));
  }
  if (underlyingError) error.setUnderlying(*underlyingError);
  return error;
}

Error RIRInstallationsErrorUtil::keychainErrorWithFunction(const std::string& function, int32_t status,
                                                           const std::optional<Error>& cause) {
  std::string reason = function + " (" + std::to_string(static_cast<long>(status)) + ")";
  if (!cause) return withReason(RIRInstallationsErrorCodeKeychain, std::move(reason));
  return installationsErrorWithCode(RIRInstallationsErrorCodeKeychain,
                                    reason + ": " + platform::keychainCauseText(*cause), cause);
}

Error RIRInstallationsErrorUtil::installationItemNotFoundForAppID(const std::string& appID, const std::string& appName) {
  return withReason(RIRInstallationsErrorCodeUnknown,
                    std::string(kNotFoundFormatStart) + appID + " appName " + appName + " not found");
}

Error RIRInstallationsErrorUtil::corruptedIIDTokenData() {
  return withReason(RIRInstallationsErrorCodeUnknown,
                    "IID token data stored in Keychain is corrupted or in an incompatible format.");
}

Error RIRInstallationsErrorUtil::JSONSerializationError() {
  return withReason(RIRInstallationsErrorCodeUnknown, "Failed to serialize JSON data.");
}

Error RIRInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField(const std::string& fieldName) {
  return withReason(RIRInstallationsErrorCodeUnknown,
                    "A required response field with name " + fieldName + " is missing");
}

Error RIRInstallationsErrorUtil::FIDRegistrationErrorWithResponseUnsendableField(const std::string& fieldName) {
  return withReason(RIRInstallationsErrorCodeUnknown,
                    "The response field with name " + fieldName +
                        " holds characters that an HTTP header cannot carry unchanged");
}

Error RIRInstallationsErrorUtil::networkErrorWithError(const Error& error) {
  return installationsErrorWithCode(RIRInstallationsErrorCodeServerUnreachable, "Network connection error.", error);
}

Error RIRInstallationsErrorUtil::backoffIntervalWaitError() {
  return withReason(RIRInstallationsErrorCodeServerUnreachable, "Too many server requests.");
}

Error RIRInstallationsErrorUtil::keyedArchiverErrorWithException(const platform::Exception& exception) {
  return withReason(RIRInstallationsErrorCodeUnknown, "NSKeyedArchiver exception with name: " + exception.name +
                                                          ", reason: " + exception.reason + ", userInfo: (null)");
}

Error RIRInstallationsErrorUtil::keyedArchiverErrorWithError(const Error& error) {
  return installationsErrorWithCode(RIRInstallationsErrorCodeUnknown, "NSKeyedArchiver error.", error);
}

Error RIRInstallationsErrorUtil::APIErrorWithHTTPResponse(const platform::HttpResponse& response,
                                                          const platform::Bytes& data) {
  return RIRInstallationsHTTPError::errorWithHTTPResponse(response, data);
}

Error RIRInstallationsErrorUtil::publicDomainErrorWithError(const Error& error) {
  if (error.domain == kRIRInstallationsErrorDomain) return error;
  return installationsErrorWithCode(RIRInstallationsErrorCodeUnknown, std::nullopt, error);
}

bool RIRInstallationsErrorUtil::isAPIError(const Error& error, int HTTPCode) {
  std::optional<int> status = RIRInstallationsHTTPError::statusCode(error);
  return status && *status == HTTPCode;
}

RBLPromisePtr RIRInstallationsErrorUtil::rejectedPromiseWithError(const Error& error) {
  RBLPromisePtr promise = RBLPromise::pendingPromise();
  promise->reject(error);
  return promise;
}

bool RIRInstallationsErrorUtil::isItemNotFoundError(const Error& error) {
  std::optional<std::string> reason = error.failureReason();
  return error.domain == kRIRInstallationsErrorDomain && error.code == RIRInstallationsErrorCodeUnknown && reason &&
         reason->starts_with(kNotFoundFormatStart) && reason->ends_with(" not found") && !error.underlying();
}

bool RIRInstallationsErrorUtil::isItemValidationError(const Error& error) {
  std::optional<std::string> reason = error.failureReason();
  return error.domain == kRIRInstallationsErrorDomain && error.code == RIRInstallationsErrorCodeUnknown && reason &&
         reason->starts_with(kValidationReasonStart);
}

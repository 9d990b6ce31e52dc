#include "sdk/installations/RIRInstallationsHTTPError.h"

#include <string>

#include "sdk/installations/RIRInstallationsErrorUtil.h"

using platform::Error;
using platform::Value;

Error RIRInstallationsHTTPError::errorWithHTTPResponse(const platform::HttpResponse& response,
                                                       const platform::Bytes& data) {
  Error error(kRIRInstallationsErrorDomain, errorCodeWithHTTPCode(response.statusCode()));
  error.setFailureReason("The server responded with an error: \n - URL: " + response.url() +
                         " \n - HTTP status code: " + std::to_string(static_cast<long>(response.statusCode())) +
                         " \n - Response body: " + std::string(data.begin(), data.end()));
  error.setUserInfo(kHTTPResponseKey, Value::opaque(std::make_shared<platform::HttpResponse>(response), "HTTPResponse"));
  error.setUserInfo(kDataKey, Value::data(data));
  return error;
}

std::shared_ptr<platform::HttpResponse> RIRInstallationsHTTPError::HTTPResponse(const Error& error) {
  if (error.domain != kRIRInstallationsErrorDomain) return nullptr;
  const Value* value = error.userInfo.find(kHTTPResponseKey);
  return value ? value->asOpaque<platform::HttpResponse>() : nullptr;
}

platform::Bytes RIRInstallationsHTTPError::data(const Error& error) {
  const Value* value = error.userInfo.find(kDataKey);
  const platform::Bytes* bytes = value ? value->asData() : nullptr;
  return bytes ? *bytes : platform::Bytes{};
}

std::optional<int> RIRInstallationsHTTPError::statusCode(const Error& error) {
  auto response = HTTPResponse(error);
  if (!response) return std::nullopt;
  return response->statusCode();
}

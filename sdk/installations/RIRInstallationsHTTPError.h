// RIRInstallationsHTTPError: the error for an HTTP answer outside 200..299:
// domain "com.ririvudu.installations", code 0 for every status, the HTTP
// response under "HTTPResponse" (an opaque platform::HttpResponse) and the
// body under "data", and the failure reason
// "The server responded with an error: \n - URL: <url> \n - HTTP status code:
// <status> \n - Response body: <body as UTF-8>".
//
// Thread safety: stateless functions over values.
#pragma once

#include <memory>
#include <optional>

#include "platform/net/HttpResponse.h"
#include "platform/values/Error.h"

class RIRInstallationsHTTPError {
 public:
  static constexpr const char* kHTTPResponseKey = "HTTPResponse";
  static constexpr const char* kDataKey = "data";

  static platform::Error errorWithHTTPResponse(const platform::HttpResponse& response, const platform::Bytes& data);
  // 0 for every status.
  static int64_t errorCodeWithHTTPCode(int HTTPCode) {
    (void)HTTPCode;
    return 0;
  }

  // The response of an HTTP error; nullptr for any other error.
  static std::shared_ptr<platform::HttpResponse> HTTPResponse(const platform::Error& error);
  static platform::Bytes data(const platform::Error& error);
  static bool isHTTPError(const platform::Error& error) { return HTTPResponse(error) != nullptr; }
  static std::optional<int> statusCode(const platform::Error& error);
};

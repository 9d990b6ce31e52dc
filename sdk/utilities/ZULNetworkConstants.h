// ZULNetworkConstants: the error domain, error codes, log levels and message
// codes shared by the HTTP helper (ZULNetwork) and its URL session layer
// (ZULNetworkURLSession).
//
// Every error of the domain carries a short text under the user-info key
// "Context". Message codes are shown as "I-NET%06ld".
//
// Thread safety: constants and a stateless builder.
#pragma once

#include <cstdint>
#include <string>

#include "platform/values/Error.h"

inline constexpr const char* kZULNetworkErrorDomain = "com.zul.network.ErrorDomain";
inline constexpr const char* kZULNetworkErrorContext = "Context";

// The URL is empty, or not an http or https address with a host.
inline constexpr int64_t kZULNetworkErrorCodeInvalidURL = 1;
inline constexpr int64_t kZULNetworkErrorCodeSessionCreation = 2;
inline constexpr int64_t kZULNetworkErrorCodeGzip = 3;
inline constexpr int64_t kZULNetworkErrorCodeRequestCreation = 4;
inline constexpr int64_t kZULNetworkErrorCodeEmptyResponse = 5;

using ZULNetworkLogLevel = int;
inline constexpr ZULNetworkLogLevel kZULNetworkLogLevelError = 3;
inline constexpr ZULNetworkLogLevel kZULNetworkLogLevelWarning = 4;
inline constexpr ZULNetworkLogLevel kZULNetworkLogLevelInfo = 6;
inline constexpr ZULNetworkLogLevel kZULNetworkLogLevelDebug = 7;

// HTTP helper.
inline constexpr int64_t kZULNetworkMessageCodeNetwork000 = 900000;  // uploading
inline constexpr int64_t kZULNetworkMessageCodeNetwork001 = 900001;  // downloading
inline constexpr int64_t kZULNetworkMessageCodeNetwork002 = 900002;  // request or delegate failure
inline constexpr int64_t kZULNetworkMessageCodeNetwork003 = 900003;  // background session lost
// URL session layer.
inline constexpr int64_t kZULNetworkMessageCodeURLSession000 = 901000;
inline constexpr int64_t kZULNetworkMessageCodeURLSession001 = 901001;
inline constexpr int64_t kZULNetworkMessageCodeURLSession002 = 901002;
inline constexpr int64_t kZULNetworkMessageCodeURLSession009 = 901009;
inline constexpr int64_t kZULNetworkMessageCodeURLSession010 = 901010;
inline constexpr int64_t kZULNetworkMessageCodeURLSession011 = 901011;
inline constexpr int64_t kZULNetworkMessageCodeURLSession012 = 901012;
inline constexpr int64_t kZULNetworkMessageCodeURLSession013 = 901013;
inline constexpr int64_t kZULNetworkMessageCodeURLSession014 = 901014;
inline constexpr int64_t kZULNetworkMessageCodeURLSession015 = 901015;
inline constexpr int64_t kZULNetworkMessageCodeURLSession016 = 901016;
inline constexpr int64_t kZULNetworkMessageCodeURLSession017 = 901017;
inline constexpr int64_t kZULNetworkMessageCodeURLSession019 = 901019;

// An error of the domain with `context` under "Context".
inline platform::Error ZULNetworkMakeError(int64_t code, const std::string& context) {
  platform::Error error(kZULNetworkErrorDomain, code);
  error.setUserInfo(kZULNetworkErrorContext, platform::Value(context));
  return error;
}

// URLError: the one error domain of the HTTP layer, "NSURLErrorDomain", with
// stable codes for every transport failure. HTTP statuses are never errors
// here. Each error carries a fixed English description, the failing URL under
// "NSErrorFailingURLStringKey" and, when libcurl said more, its text under
// "NSDebugDescription".
//
// Thread safety: stateless.
#pragma once

#include <cstdint>
#include <string>

#include "platform/values/Error.h"

namespace platform {

struct URLError {
  static constexpr const char* kDomain = "NSURLErrorDomain";
  static constexpr const char* kFailingURLStringKey = "NSErrorFailingURLStringKey";
  static constexpr const char* kDebugDescriptionKey = "NSDebugDescription";

  static constexpr int64_t kUnknown = -1;
  static constexpr int64_t kCancelled = -999;
  static constexpr int64_t kBadURL = -1000;
  static constexpr int64_t kTimedOut = -1001;
  static constexpr int64_t kUnsupportedURL = -1002;
  static constexpr int64_t kCannotFindHost = -1003;
  static constexpr int64_t kCannotConnectToHost = -1004;
  static constexpr int64_t kNetworkConnectionLost = -1005;
  static constexpr int64_t kHTTPTooManyRedirects = -1007;
  static constexpr int64_t kNotConnectedToInternet = -1009;
  static constexpr int64_t kBadServerResponse = -1011;
  static constexpr int64_t kCannotDecodeContentData = -1015;
  static constexpr int64_t kFileDoesNotExist = -1100;
  static constexpr int64_t kDataLengthExceedsMaximum = -1103;
  static constexpr int64_t kSecureConnectionFailed = -1200;
  static constexpr int64_t kServerCertificateUntrusted = -1202;
  static constexpr int64_t kCannotCreateFile = -3000;
  static constexpr int64_t kCannotWriteToFile = -3003;

  // An error of the domain with the code's fixed description.
  static Error make(int64_t code, const std::string& url = {}, const std::string& detail = {});
  static std::string descriptionForCode(int64_t code);
  // True for errors of this domain.
  static bool is(const Error& error) { return error.domain == kDomain; }
  static bool isCancelled(const Error& error) { return is(error) && error.code == kCancelled; }
};

}  // namespace platform

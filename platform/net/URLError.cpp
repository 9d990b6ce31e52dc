#include "platform/net/URLError.h"

namespace platform {

std::string URLError::descriptionForCode(int64_t code) {
  switch (code) {
    case kCancelled: return "cancelled";
    case kBadURL: return "bad URL";
    case kTimedOut: return "The request timed out.";
    case kUnsupportedURL: return "unsupported URL";
    case kCannotFindHost: return "A server with the specified hostname could not be found.";
    case kCannotConnectToHost: return "Could not connect to the server.";
    case kNetworkConnectionLost: return "The network connection was lost.";
    case kHTTPTooManyRedirects: return "too many HTTP redirects";
    case kNotConnectedToInternet: return "The Internet connection appears to be offline.";
    case kBadServerResponse: return "bad server response";
    case kCannotDecodeContentData: return "cannot decode raw data";
    case kFileDoesNotExist: return "The requested file does not exist.";
    case kDataLengthExceedsMaximum: return "resource exceeds maximum size";
    case kSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case kServerCertificateUntrusted: return "The certificate for this server is invalid.";
    case kCannotCreateFile: return "cannot create file";
    case kCannotWriteToFile: return "cannot write to file";
    default: return "unknown error";
  }
}

Error URLError::make(int64_t code, const std::string& url, const std::string& detail) {
  Error error = Error::make(kDomain, code, descriptionForCode(code));
  if (!url.empty()) error.setUserInfo(kFailingURLStringKey, Value(url));
  if (!detail.empty()) error.setUserInfo(kDebugDescriptionKey, Value(detail));
  return error;
}

}  // namespace platform

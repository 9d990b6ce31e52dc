#include "platform/keychain/KeychainStatus.h"

#include "platform/storage/FileError.h"

namespace platform {

std::string keychainStatusDescription(KeychainStatus status) {
  const char* text = "unknown status";
  switch (status) {
    case kKeychainSuccess: text = "success"; break;
    case kKeychainIOError: text = "I/O error"; break;
    case kKeychainParamError: text = "invalid parameter"; break;
    case kKeychainNotAvailable: text = "no keychain available"; break;
    case kKeychainDuplicateItem: text = "duplicate item"; break;
    case kKeychainItemNotFound: text = "item not found"; break;
    case kKeychainInteractionNotAllowed: text = "interaction not allowed"; break;
    case kKeychainDecodeError: text = "decode error"; break;
    default: break;
  }
  return std::string(text) + " (" + std::to_string(status) + ")";
}

std::string keychainCauseText(const Error& cause) {
  std::optional<Error> posix = cause.underlying();
  if (posix && posix->domain == FileError::kPosixDomain) return posix->localizedDescription();
  return cause.localizedDescription();
}

}  // namespace platform

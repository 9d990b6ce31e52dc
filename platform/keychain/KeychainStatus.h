// KeychainStatus: the status codes the keychain operations return. They are
// the original platform's values, so callers can pass them on unchanged and
// compare against the numbers their own error tables name.
//
// Thread safety: constants only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/values/Error.h"

namespace platform {

using KeychainStatus = int32_t;

inline constexpr KeychainStatus kKeychainSuccess = 0;              // errSecSuccess
inline constexpr KeychainStatus kKeychainIOError = -36;            // errSecIO
inline constexpr KeychainStatus kKeychainParamError = -50;         // errSecParam
inline constexpr KeychainStatus kKeychainNotAvailable = -25291;    // errSecNotAvailable
inline constexpr KeychainStatus kKeychainDuplicateItem = -25299;   // errSecDuplicateItem
inline constexpr KeychainStatus kKeychainItemNotFound = -25300;    // errSecItemNotFound
inline constexpr KeychainStatus kKeychainInteractionNotAllowed = -25308;  // errSecInteractionNotAllowed
inline constexpr KeychainStatus kKeychainDecodeError = -26275;     // errSecDecode

// A short English text for logs: "item not found (-25300)".
std::string keychainStatusDescription(KeychainStatus status);

// The words of the system error behind a failed operation (the cause a
// keychain result carries): the errno text of a file error ("No space left
// on device"), else the cause's own description.
std::string keychainCauseText(const Error& cause);

}  // namespace platform

// ZULKeychainUtils: read, write and delete one keychain item with a uniform
// query, turning keychain statuses into errors in "com.zul.keychain.ErrorDomain"
// (code 0, failure reason "<function> (<status>)"). When the keychain names
// the system error behind a status (a full disk), the error also carries it:
// as its underlying error and in its description, "<function> (<status>):
// <system text>".
//
//   getItemWithQuery     the item's data; none and no error when there is
//                        no item; none and an error for any other status
//                        (also success without data, reported as status 0).
//   setItem              updates the data of an existing item (its other
//                        attributes stay) or adds a new item accessible
//                        after first unlock, this device only.
//   removeItemWithQuery  success also when there was no item.
// Every query gets useDataProtectionKeychain. The error out-parameter may be
// null; when given it is set to none on success. Without it, a failed
// look-up inside setItem counts as a missing item.
//
// Thread safety: stateless and synchronous; any thread (the platform
// keychain serialises its operations).
#pragma once

#include <optional>
#include <string>

#include "platform/keychain/Keychain.h"
#include "platform/values/Error.h"

class ZULKeychainUtils {
 public:
  static constexpr const char* kErrorDomain = "com.zul.keychain.ErrorDomain";

  static std::optional<platform::Bytes> getItemWithQuery(const platform::KeychainQuery& query,
                                                         std::optional<platform::Error>* error = nullptr);
  static bool setItem(const platform::Bytes& item, const platform::KeychainQuery& query,
                      std::optional<platform::Error>* error = nullptr);
  static bool removeItemWithQuery(const platform::KeychainQuery& query,
                                  std::optional<platform::Error>* error = nullptr);
  static platform::KeychainQuery multiplatformQueryWithQuery(const platform::KeychainQuery& query);
  static platform::Error keychainErrorWithFunction(const std::string& function, platform::KeychainStatus status,
                                                   const std::optional<platform::Error>& cause = std::nullopt);
};

#include "sdk/utilities/ZULKeychainUtils.h"

namespace {

void setError(std::optional<platform::Error>* out, std::optional<platform::Error> error) {
  if (out != nullptr) *out = std::move(error);
}

}  // namespace

platform::KeychainQuery ZULKeychainUtils::multiplatformQueryWithQuery(const platform::KeychainQuery& query) {
  platform::KeychainQuery copy = query;
  copy.useDataProtectionKeychain = true;
  return copy;
}

platform::Error ZULKeychainUtils::keychainErrorWithFunction(const std::string& function,
                                                            platform::KeychainStatus status,
                                                            const std::optional<platform::Error>& cause) {
  platform::Error error(kErrorDomain, 0);
  const std::string reason = function + " (" + std::to_string(static_cast<long>(status)) + ")";
  error.setFailureReason(reason);
  if (cause) {
    // The system's own words ("No space left on device") instead of a bare code.
    error.setUserInfo(platform::Error::kLocalizedDescriptionKey,
                      platform::Value(reason + ": " + platform::keychainCauseText(*cause)));
    error.setUnderlying(*cause);
  }
  return error;
}

std::optional<platform::Bytes> ZULKeychainUtils::getItemWithQuery(const platform::KeychainQuery& query,
                                                                  std::optional<platform::Error>* error) {
  platform::KeychainQuery search = multiplatformQueryWithQuery(query);
  search.returnData = true;
  search.matchLimitOne = true;
  platform::KeychainReadResult result = platform::Keychain::shared()->copyMatching(search);
  if (result.status == platform::kKeychainSuccess && result.data) {
    setError(error, std::nullopt);
    return std::move(result.data);
  }
  if (result.status == platform::kKeychainItemNotFound) {
    setError(error, std::nullopt);
    return std::nullopt;
  }
  setError(error, keychainErrorWithFunction("SecItemCopyMatching", result.status, result.cause));
  return std::nullopt;
}

bool ZULKeychainUtils::setItem(const platform::Bytes& item, const platform::KeychainQuery& query,
                               std::optional<platform::Error>* error) {
  platform::KeychainQuery base = multiplatformQueryWithQuery(query);
  std::optional<platform::Bytes> existing = getItemWithQuery(base, error);
  if (error != nullptr && *error) return false;

  platform::KeychainStatus status;
  const char* function;
  std::optional<platform::Error> cause;
  if (existing) {
    function = "SecItemUpdate";
    status = platform::Keychain::shared()->update(base, item, &cause);
  } else {
    function = "SecItemAdd";
    platform::KeychainQuery add = base;
    add.accessible = platform::KeychainAccessibility::AfterFirstUnlockThisDeviceOnly;
    add.valueData = item;
    status = platform::Keychain::shared()->add(add, &cause);
  }
  if (status != platform::kKeychainSuccess) {
    setError(error, keychainErrorWithFunction(function, status, cause));
    return false;
  }
  setError(error, std::nullopt);
  return true;
}

bool ZULKeychainUtils::removeItemWithQuery(const platform::KeychainQuery& query,
                                           std::optional<platform::Error>* error) {
  std::optional<platform::Error> cause;
  platform::KeychainStatus status = platform::Keychain::shared()->remove(multiplatformQueryWithQuery(query), &cause);
  if (status == platform::kKeychainSuccess || status == platform::kKeychainItemNotFound) {
    setError(error, std::nullopt);
    return true;
  }
  setError(error, keychainErrorWithFunction("SecItemDelete", status, cause));
  return false;
}

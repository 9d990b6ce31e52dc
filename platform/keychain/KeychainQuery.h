// KeychainQuery and KeychainItem: what a keychain operation asks for, and
// what an item holds.
//
// A query names the item class and the attributes to match. For generic
// passwords: service, account, generic attribute and access group; a
// service, account or generic attribute that is empty or "*" is not part of
// the query (matches any value), and so is an empty access group. For keys:
// key type and application tag (raw bytes); an absent one matches any.
//
// `returnData` and `matchLimitOne` matter to copyMatching only (at most one
// item is ever returned). `valueData` and `accessible` matter to add only:
// accessibility is fixed when the item is created and update never changes
// it. `useDataProtectionKeychain` and `specificKeychain` are accepted and
// ignored: there is one keychain.
//
// Thread safety: plain values.
#pragma once

#include <optional>
#include <string>

#include "platform/values/Value.h"

namespace platform {

enum class KeychainItemClass { GenericPassword, Key };

enum class KeychainKeyType { RSA };

// When an item may be read. Kept as an attribute only; nothing is locked.
enum class KeychainAccessibility {
  WhenUnlocked,
  AfterFirstUnlock,
  WhenUnlockedThisDeviceOnly,
  AfterFirstUnlockThisDeviceOnly,
};

struct KeychainQuery {
  KeychainItemClass itemClass = KeychainItemClass::GenericPassword;

  // Generic passwords.
  std::optional<std::string> service;
  std::optional<std::string> account;
  std::optional<std::string> generic;
  std::optional<std::string> accessGroup;

  // Keys.
  std::optional<KeychainKeyType> keyType;
  std::optional<Bytes> applicationTag;

  bool returnData = false;
  bool matchLimitOne = false;

  // Add only.
  std::optional<Bytes> valueData;
  std::optional<KeychainAccessibility> accessible;

  // Accepted and ignored.
  bool useDataProtectionKeychain = false;
  const void* specificKeychain = nullptr;

  // A generic-password query; "*" or empty service/account/generic are left out.
  static KeychainQuery genericPassword(std::string service, std::string account,
                                       std::string generic = {});
  // A key query for an RSA key with this application tag.
  static KeychainQuery key(Bytes applicationTag);
};

// One stored item, as copyMatchingItem reports it.
struct KeychainItem {
  KeychainItemClass itemClass = KeychainItemClass::GenericPassword;
  std::string service;
  std::string account;
  std::string generic;
  std::string accessGroup;
  std::optional<KeychainKeyType> keyType;
  Bytes applicationTag;
  std::optional<KeychainAccessibility> accessible;
  Bytes data;
  double creationDate = 0;      // seconds since 1970
  double modificationDate = 0;  // seconds since 1970
};

}  // namespace platform

// RIRInstallationsIIDStore: reads and deletes the instance identifier of an
// older identity library: a marker ("|S|cre") in the property list
// "Zoruvu/RirivuduInstanceID/com.zoruvu.iid-keypair.plist" under Application
// Support, and an RSA key pair in the keychain tagged
// "com.zoruvu.iid.keypair.public-<bundle id>" / "...private-<bundle id>".
// The identifier is derived from the SHA-1 of the public key (11 base64url
// characters starting with "c".."f"). It never writes legacy data.
//
// Without a main-bundle identifier no key tag can be formed: the key look-up
// finds nothing and the key deletion is skipped (a query without a tag would
// match keys of every tag).
//
// Thread safety: any thread; the work runs on the global utility queue.
#pragma once

#include <optional>
#include <string>

#include "platform/values/Error.h"
#include "platform/values/Value.h"
#include "sdk/promises/RBLPromise.h"

inline constexpr const char* kRIRInstallationsIIDCreationTimePlistKey = "|S|cre";
inline constexpr const char* kRIRInstallationsIIDPublicKeyPrefix = "com.zoruvu.iid.keypair.public-";
inline constexpr const char* kRIRInstallationsIIDPrivateKeyPrefix = "com.zoruvu.iid.keypair.private-";

class RIRInstallationsIIDStore {
 public:
  // Fulfilled with the legacy identifier (string); rejected when there is none.
  RBLPromisePtr existingIID() const;
  // Fulfilled with null once the marker and both keys are gone.
  RBLPromisePtr deleteExistingIID() const;

  static std::string plistPath();
  static bool hasPlistIIDFlag();
  static std::optional<platform::Error> deleteIIDFlagFromPlist();
  static std::optional<platform::Bytes> IIDPublicKeyData();
  static std::string IIDWithPublicKeyData(const platform::Bytes& publicKeyData);
  // The main bundle's identifier, if any.
  static std::optional<std::string> bundleIdentifier();
};

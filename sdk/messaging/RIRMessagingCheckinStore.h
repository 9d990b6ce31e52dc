// RIRMessagingCheckinStore: where the check-in lives between launches. The
// credentials ("DEVICEID|SECRET") are a keychain item (generic
// "com.zoruvu.iid", service "com.zoruvu.iid.checkin", account the bundle
// identifier); the rest is the property list "g-checkin.plist" in
// "Zoruvu/RirivuduInstanceID" under Application Support. The keychain wins
// for the credentials; a plist alone supplies them only through its legacy
// keys "ZMSInstanceIDDeviceAuthIdKey" and "ZMSInstanceIDSecretTokenKey".
//
//   saveCheckinPreferences  a record without complete credentials or plist
//       fails with code 6; the plist is written first; when that fails the
//       keychain item is removed and the write error reported; when it
//       succeeds, the keychain item is written (unless the record says its
//       credentials are pre-cached) and its result reported.
//   removeCheckinPreferences  deletes the plist, then the keychain item.
//
// Handlers run on the main queue when a keychain write or removal reports,
// else on the caller's thread.
//
// Thread safety: every member may be called from any thread; the auth
// service runs one check-in at a time through it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/values/Error.h"
#include "sdk/messaging/RIRMessagingAuthKeychain.h"
#include "sdk/messaging/RIRMessagingBackupExcludedPlist.h"
#include "sdk/messaging/RIRMessagingCheckinPreferences.h"

inline constexpr const char* kRIRMessagingCheckinFileName = "g-checkin";
inline constexpr const char* kRIRMessagingInstanceIDSubDirectory = "Zoruvu/RirivuduInstanceID";
inline constexpr const char* kRIRMessagingCheckinKeychainGeneric = "com.zoruvu.iid";
inline constexpr const char* kRIRMessagingCheckinKeychainService = "com.zoruvu.iid.checkin";

class RIRMessagingCheckinStore {
 public:
  using Handler = std::function<void(std::optional<platform::Error> error)>;

  RIRMessagingCheckinStore();

  bool hasCheckinPlist() const;
  void saveCheckinPreferences(const std::shared_ptr<RIRMessagingCheckinPreferences>& preferences, Handler handler);
  void removeCheckinPreferencesWithHandler(Handler handler);
  std::shared_ptr<RIRMessagingCheckinPreferences> cachedCheckinPreferences();

  // The keychain account: the main bundle's identifier.
  static std::string bundleIdentifierForKeychainAccount();

  RIRMessagingBackupExcludedPlist& plist() { return m_plist; }
  RIRMessagingAuthKeychain& keychain() { return m_keychain; }

 private:
  RIRMessagingBackupExcludedPlist m_plist;
  RIRMessagingAuthKeychain m_keychain;
};

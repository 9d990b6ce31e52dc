// RIRMessagingCheckinPreferences: the device's check-in with the messaging
// service: device ID and secret (decimal digits), the server's digest,
// version info, device data version and settings, and the time of the
// check-in in milliseconds since 1970.
//
// Two stored forms: the keychain content "DEVICEID|SECRET", and the property
// list of the other fields (checkinPlistContents, keys kRIRMessagingCheckin*).
//
// Validity (hasValidCheckinInfo): credentials present and younger than
// 604,800 s (exactly seven days old is stale). The first validity test after
// the messaging locale was never stored stores it and answers YES whatever
// the age; a test that finds the locale changed stores the new one and
// answers NO.
//
// Thread safety: every member may be called from any thread (one lock per
// record); the validity test reads and writes the standard user defaults.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/values/Value.h"

inline constexpr const char* kRIRMessagingCheckinDigestKey = "ZMSInstanceIDDigestKey";
inline constexpr const char* kRIRMessagingCheckinVersionInfoKey = "ZMSInstanceIDVersionInfo";
inline constexpr const char* kRIRMessagingCheckinDeviceDataVersionKey = "ZMSInstanceIDDeviceDataVersion";
inline constexpr const char* kRIRMessagingCheckinLastCheckinTimestampKey = "ZMSInstanceIDLastCheckinTimestampKey";
inline constexpr const char* kRIRMessagingCheckinZServicesDataKey = "ZMSInstanceIDZServicesData";
inline constexpr const char* kRIRMessagingCheckinDeviceAuthIdKey = "ZMSInstanceIDDeviceAuthIdKey";
inline constexpr const char* kRIRMessagingCheckinSecretTokenKey = "ZMSInstanceIDSecretTokenKey";
inline constexpr int64_t kRIRMessagingCheckinValiditySeconds = 604800;

class RIRMessagingCheckinPreferences {
 public:
  RIRMessagingCheckinPreferences() = default;
  RIRMessagingCheckinPreferences(std::string deviceID, std::string secretToken);
  RIRMessagingCheckinPreferences(const RIRMessagingCheckinPreferences& other);

  // "A|B" -> (A, B); none unless exactly two non-empty parts.
  static std::shared_ptr<RIRMessagingCheckinPreferences> preferencesFromKeychainContents(const std::string& contents);
  static std::optional<std::string> checkinDeviceIDFromKeychainContent(const std::string& contents);
  static std::optional<std::string> checkinSecretFromKeychainContent(const std::string& contents);
  static std::optional<std::string> checkinKeychainContent(const std::string& contents, size_t index);

  // "DEVICEID|SECRET", none unless both are non-empty.
  std::optional<std::string> checkinKeychainContent() const;
  platform::Dictionary checkinPlistContents() const;
  // Applies the keys present (strings for the texts, an integer timestamp,
  // a dictionary of settings); other keys and ill-typed values are ignored.
  void updateWithCheckinPlistContents(const platform::Dictionary& contents);

  bool hasCheckinInfo() const;
  bool hasValidCheckinInfo() const;
  // Clears every field but the pre-cached flag.
  void reset();

  std::string deviceID() const;
  std::string secretToken() const;
  std::string digest() const;
  std::string versionInfo() const;
  std::string deviceDataVersion() const;
  platform::Dictionary zServicesData() const;  // a copy
  int64_t lastCheckinTimestampMillis() const;
  bool hasPreCachedAuthCredentials() const;
  void setDeviceID(std::string value);
  void setSecretToken(std::string value);
  void setDigest(std::string value);
  void setVersionInfo(std::string value);
  void setDeviceDataVersion(std::string value);
  void setZServicesData(platform::Dictionary value);
  void setLastCheckinTimestampMillis(int64_t value);
  void setHasPreCachedAuthCredentials(bool value);

 private:
  mutable std::mutex m_mutex;
  std::string m_deviceID;
  std::string m_secretToken;
  std::string m_digest;
  std::string m_versionInfo;
  std::string m_deviceDataVersion;
  platform::Dictionary m_zServicesData;
  int64_t m_lastCheckinTimestampMillis = 0;
  bool m_hasPreCachedAuthCredentials = false;
};

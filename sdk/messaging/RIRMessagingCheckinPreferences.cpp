#include "sdk/messaging/RIRMessagingCheckinPreferences.h"

#include <vector>

#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/utilities/ZULUserDefaults.h"

using platform::Value;

RIRMessagingCheckinPreferences::RIRMessagingCheckinPreferences(std::string deviceID, std::string secretToken)
    : m_deviceID(std::move(deviceID)), m_secretToken(std::move(secretToken)) {}

RIRMessagingCheckinPreferences::RIRMessagingCheckinPreferences(const RIRMessagingCheckinPreferences& other) {
  std::lock_guard<std::mutex> lock(other.m_mutex);
  m_deviceID = other.m_deviceID;
  m_secretToken = other.m_secretToken;
  m_digest = other.m_digest;
  m_versionInfo = other.m_versionInfo;
  m_deviceDataVersion = other.m_deviceDataVersion;
  m_zServicesData = other.m_zServicesData.copy();
  m_lastCheckinTimestampMillis = other.m_lastCheckinTimestampMillis;
  m_hasPreCachedAuthCredentials = other.m_hasPreCachedAuthCredentials;
}

std::optional<std::string> RIRMessagingCheckinPreferences::checkinKeychainContent(const std::string& contents,
                                                                                  size_t index) {
  std::vector<std::string> parts = RIRMessagingSplit(contents, '|');
  if (index > 1 || parts.size() != 2) return std::nullopt;
  return parts[index];
}

std::optional<std::string> RIRMessagingCheckinPreferences::checkinDeviceIDFromKeychainContent(
    const std::string& contents) {
  return checkinKeychainContent(contents, 0);
}

std::optional<std::string> RIRMessagingCheckinPreferences::checkinSecretFromKeychainContent(
    const std::string& contents) {
  return checkinKeychainContent(contents, 1);
}

std::shared_ptr<RIRMessagingCheckinPreferences> RIRMessagingCheckinPreferences::preferencesFromKeychainContents(
    const std::string& contents) {
  std::optional<std::string> deviceID = checkinDeviceIDFromKeychainContent(contents);
  std::optional<std::string> secret = checkinSecretFromKeychainContent(contents);
  if (!deviceID || !secret || deviceID->empty() || secret->empty()) return nullptr;
  return std::make_shared<RIRMessagingCheckinPreferences>(*deviceID, *secret);
}

std::optional<std::string> RIRMessagingCheckinPreferences::checkinKeychainContent() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_deviceID.empty() || m_secretToken.empty()) return std::nullopt;
  return m_deviceID + "|" + m_secretToken;
}

platform::Dictionary RIRMessagingCheckinPreferences::checkinPlistContents() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return platform::Dictionary{
      {kRIRMessagingCheckinDigestKey, Value(m_digest)},
      {kRIRMessagingCheckinVersionInfoKey, Value(m_versionInfo)},
      {kRIRMessagingCheckinDeviceDataVersionKey, Value(m_deviceDataVersion)},
      {kRIRMessagingCheckinLastCheckinTimestampKey, Value(static_cast<long long>(m_lastCheckinTimestampMillis))},
      {kRIRMessagingCheckinZServicesDataKey, Value(m_zServicesData.copy())},
  };
}

void RIRMessagingCheckinPreferences::updateWithCheckinPlistContents(const platform::Dictionary& contents) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& [key, value] : contents) {
    const std::string* text = value.asString();
    if (key == kRIRMessagingCheckinDigestKey) {
      if (text) m_digest = *text;
    } else if (key == kRIRMessagingCheckinVersionInfoKey) {
      if (text) m_versionInfo = *text;
    } else if (key == kRIRMessagingCheckinDeviceDataVersionKey) {
      if (text) m_deviceDataVersion = *text;
    } else if (key == kRIRMessagingCheckinLastCheckinTimestampKey) {
      if (value.isNumeric() || value.isString()) m_lastCheckinTimestampMillis = value.longLongValue();
    } else if (key == kRIRMessagingCheckinZServicesDataKey) {
      if (auto settings = value.asDictionary()) m_zServicesData = settings->copy();
    }
  }
}

bool RIRMessagingCheckinPreferences::hasCheckinInfo() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return !m_deviceID.empty() && !m_secretToken.empty();
}

bool RIRMessagingCheckinPreferences::hasValidCheckinInfo() const {
  const int64_t now = RIRMessagingCurrentTimestampInMilliseconds();
  const bool has = hasCheckinInfo();
  std::shared_ptr<ZULUserDefaults> defaults = ZULUserDefaults::standardUserDefaults();
  std::optional<Value> stored = defaults->stringForKey(kRIRMessagingLocaleDefaultsKey);
  if (!stored && has) {
    defaults->setObject(Value(RIRMessagingCurrentLocale()), kRIRMessagingLocaleDefaultsKey);
    return true;
  }
  if (RIRMessagingHasLocaleChanged()) {
    defaults->setObject(Value(RIRMessagingCurrentLocale()), kRIRMessagingLocaleDefaultsKey);
    return false;
  }
  const double ageSeconds = static_cast<double>(now - lastCheckinTimestampMillis()) / 1000.0;
  return has && ageSeconds < static_cast<double>(kRIRMessagingCheckinValiditySeconds);
}

void RIRMessagingCheckinPreferences::reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_deviceID.clear();
  m_secretToken.clear();
  m_digest.clear();
  m_versionInfo.clear();
  m_zServicesData = platform::Dictionary();
  m_deviceDataVersion.clear();
  m_lastCheckinTimestampMillis = 0;
}

#define RCM_CHECKIN_FIELD(Type, getter, setter, member)          \
  Type RIRMessagingCheckinPreferences::getter() const {          \
    std::lock_guard<std::mutex> lock(m_mutex);                   \
    return member;                                               \
  }                                                              \
  void RIRMessagingCheckinPreferences::setter(Type value) {      \
    std::lock_guard<std::mutex> lock(m_mutex);                   \
    member = std::move(value);                                   \
  }

RCM_CHECKIN_FIELD(std::string, deviceID, setDeviceID, m_deviceID)
RCM_CHECKIN_FIELD(std::string, secretToken, setSecretToken, m_secretToken)
RCM_CHECKIN_FIELD(std::string, digest, setDigest, m_digest)
RCM_CHECKIN_FIELD(std::string, versionInfo, setVersionInfo, m_versionInfo)
RCM_CHECKIN_FIELD(std::string, deviceDataVersion, setDeviceDataVersion, m_deviceDataVersion)
RCM_CHECKIN_FIELD(int64_t, lastCheckinTimestampMillis, setLastCheckinTimestampMillis, m_lastCheckinTimestampMillis)
RCM_CHECKIN_FIELD(bool, hasPreCachedAuthCredentials, setHasPreCachedAuthCredentials, m_hasPreCachedAuthCredentials)

#undef RCM_CHECKIN_FIELD

platform::Dictionary RIRMessagingCheckinPreferences::zServicesData() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_zServicesData.copy();
}

void RIRMessagingCheckinPreferences::setZServicesData(platform::Dictionary value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_zServicesData = std::move(value);
}

// RIRMessagingAPNSInfo: the push device token a registration token was
// issued for, and whether it belongs to the sandbox environment. Archived
// under "device_token" (data) and "sandbox" (bool), class name
// "RIRMessagingAPNSInfo"; a record without "device_token" does not decode.
//
// Token options (the dictionary the token manager builds) carry it as
// "apns_token" (data) and "apns_sandbox" (bool or number).
//
// Thread safety: immutable once made.
#pragma once

#include <memory>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "platform/values/Value.h"

inline constexpr const char* kRIRMessagingTokenOptionsAPNSKey = "apns_token";
inline constexpr const char* kRIRMessagingTokenOptionsAPNSIsSandboxKey = "apns_sandbox";
inline constexpr const char* kRIRMessagingTokenOptionsAppIDKey = "vod_app_id";

class RIRMessagingAPNSInfo : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "RIRMessagingAPNSInfo";
  static constexpr const char* kLegacyClassName = "RIRInstanceIDAPNSInfo";

  RIRMessagingAPNSInfo(platform::Bytes deviceToken, bool sandbox)
      : m_deviceToken(std::move(deviceToken)), m_sandbox(sandbox) {}

  // None unless "apns_token" is data and "apns_sandbox" a number or bool.
  static std::shared_ptr<RIRMessagingAPNSInfo> initWithTokenOptionsDictionary(const platform::Dictionary& options);
  static std::shared_ptr<RIRMessagingAPNSInfo> initWithCoder(platform::KeyedUnarchiver& coder);
  // Registers the decoder with the archive registry (idempotent).
  static void registerClass();

  const platform::Bytes& deviceToken() const { return m_deviceToken; }
  bool isSandbox() const { return m_sandbox; }
  // Same bytes and the same environment; a null other is never equal.
  bool isEqualToAPNSInfo(const std::shared_ptr<const RIRMessagingAPNSInfo>& other) const;

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;

 private:
  platform::Bytes m_deviceToken;
  bool m_sandbox = false;
};

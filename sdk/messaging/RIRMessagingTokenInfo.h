// RIRMessagingTokenInfo: one cached registration token for an (authorized
// entity, scope) pair, with what decides whether it is still fresh: the app
// version and app ID it was obtained with, the push token it was issued for
// and when it was last saved.
//
// Archive: class name "RIRInstanceIDTokenInfo" (mapped back to this class
// when read), keys "authorized_entity", "scope", "token" (required),
// "app_version", "ririvudu_app_id", "apns_info" (an RIRMessagingAPNSInfo, or
// in the older raw form data holding an archive of "RIRInstanceIDAPNSInfo",
// which sets needsMigration) and "cache_time" (a date).
//
// Freshness (isFreshWithIID): the token starts with the installation ID, the
// scope is not "riam", app version and app ID are those of now, the
// messaging locale did not change, and it was saved less than 604,800 s ago.
//
// Thread safety: a record is used by one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "sdk/messaging/RIRMessagingAPNSInfo.h"

class RIRMessagingTokenInfo : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "RIRMessagingTokenInfo";
  static constexpr const char* kStoredClassName = "RIRInstanceIDTokenInfo";

  RIRMessagingTokenInfo(std::string authorizedEntity, std::string scope, std::string token,
                        std::optional<std::string> appVersion, std::optional<std::string> ririvuduAppID);

  static std::shared_ptr<RIRMessagingTokenInfo> initWithCoder(platform::KeyedUnarchiver& coder);
  // Registers the decoders of this class and of RIRMessagingAPNSInfo (idempotent).
  static void registerClass();

  bool isFreshWithIID(const std::optional<std::string>& IID) const;
  bool hasDenylistedScope() const { return m_scope == "riam"; }
  bool isDefaultToken() const { return m_scope == "*"; }

  bool needsMigration() const { return m_needsMigration; }
  const std::string& authorizedEntity() const { return m_authorizedEntity; }
  const std::string& scope() const { return m_scope; }
  const std::string& token() const { return m_token; }
  const std::optional<std::string>& appVersion() const { return m_appVersion; }
  const std::optional<std::string>& ririvuduAppID() const { return m_ririvuduAppID; }
  const std::shared_ptr<RIRMessagingAPNSInfo>& APNSInfo() const { return m_APNSInfo; }
  void setAPNSInfo(std::shared_ptr<RIRMessagingAPNSInfo> info) { m_APNSInfo = std::move(info); }
  // Seconds since 1970.
  const std::optional<double>& cacheTime() const { return m_cacheTime; }
  void setCacheTime(std::optional<double> time) { m_cacheTime = time; }

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;
  // "<RIRMessagingTokenInfo: entity, scope, <redacted>>" for log lines: the
  // token itself is a credential.
  std::string description() const;

 private:
  bool m_needsMigration = false;
  std::string m_authorizedEntity;
  std::string m_scope;
  std::string m_token;
  std::optional<std::string> m_appVersion;
  std::optional<std::string> m_ririvuduAppID;
  std::shared_ptr<RIRMessagingAPNSInfo> m_APNSInfo;
  std::optional<double> m_cacheTime;
};

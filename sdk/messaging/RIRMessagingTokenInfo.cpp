#include "sdk/messaging/RIRMessagingTokenInfo.h"

#include <mutex>

#include "platform/storage/ArchiveClassRegistry.h"
#include "platform/storage/KeyedArchiver.h"
#include "sdk/installations/RIRInstallationsLogger.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingUtilities.h"

using platform::KeyedArchiver;
using platform::Value;

namespace {

constexpr long kCodeAppVersionChanged = 34004;
constexpr long kCodeRawAPNSInfo = 42000;
constexpr long kCodeAppIDChanged = 42001;
constexpr long kCodeLocaleChanged = 42002;

std::optional<std::string> optionalString(platform::KeyedUnarchiver& coder, const std::string& key) {
  platform::Result<Value> value = coder.decodeObject(key, {KeyedArchiver::kStringClass});
  if (!value || !value->isString()) return std::nullopt;
  return *value->asString();
}

// The older form: an archive of its own, written under the older class name.
std::shared_ptr<RIRMessagingAPNSInfo> rawAPNSInfo(const platform::Bytes& data) {
  auto unarchiver = platform::KeyedUnarchiver::forReadingFromData(data);
  if (!unarchiver) return nullptr;
  unarchiver.value()->setClass(RIRMessagingAPNSInfo::kClassName, RIRMessagingAPNSInfo::kLegacyClassName);
  platform::Result<Value> root = unarchiver.value()->decodeTopLevelObject({RIRMessagingAPNSInfo::kClassName});
  if (!root) return nullptr;
  return std::dynamic_pointer_cast<RIRMessagingAPNSInfo>(KeyedArchiver::unwrap(root.value()));
}

}  // namespace

RIRMessagingTokenInfo::RIRMessagingTokenInfo(std::string authorizedEntity, std::string scope, std::string token,
                                             std::optional<std::string> appVersion,
                                             std::optional<std::string> ririvuduAppID)
    : m_authorizedEntity(std::move(authorizedEntity)),
      m_scope(std::move(scope)),
      m_token(std::move(token)),
      m_appVersion(std::move(appVersion)),
      m_ririvuduAppID(std::move(ririvuduAppID)) {}

void RIRMessagingTokenInfo::registerClass() {
  RIRMessagingAPNSInfo::registerClass();
  static std::once_flag once;
  std::call_once(once, [] {
    platform::ArchiveClassRegistry::registerClass(
        kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
          return initWithCoder(coder);
        });
  });
}

std::shared_ptr<RIRMessagingTokenInfo> RIRMessagingTokenInfo::initWithCoder(platform::KeyedUnarchiver& coder) {
  std::optional<std::string> entity = optionalString(coder, "authorized_entity");
  std::optional<std::string> scope = optionalString(coder, "scope");
  std::optional<std::string> token = optionalString(coder, "token");
  if (!entity || !scope || !token) return nullptr;
  auto info = std::make_shared<RIRMessagingTokenInfo>(*entity, *scope, *token, optionalString(coder, "app_version"),
                                                      optionalString(coder, "ririvudu_app_id"));
  platform::Result<Value> date = coder.decodeObject("cache_time", {KeyedArchiver::kDateClass});
  if (date && date->isDate()) info->m_cacheTime = *date->asDate();

  // Last, so that an unexpected value cannot spoil the keys before it.
  if (coder.containsValueForKey("apns_info")) {
    platform::Result<Value> apns =
        coder.decodeObject("apns_info", {RIRMessagingAPNSInfo::kClassName, KeyedArchiver::kDataClass});
    if (apns && apns->isData()) {
      info->m_APNSInfo = rawAPNSInfo(*apns->asData());
      info->m_needsMigration = static_cast<bool>(info->m_APNSInfo);
    } else if (apns) {
      info->m_APNSInfo = std::dynamic_pointer_cast<RIRMessagingAPNSInfo>(KeyedArchiver::unwrap(apns.value()));
    }
    if (!info->m_APNSInfo) {
      RIRMessagingSharedLogger().logFuncInfo(kCodeRawAPNSInfo,
                                             "Could not parse raw APNS Info while parsing archived token info.");
    }
  }
  return info;
}

void RIRMessagingTokenInfo::encodeWith(KeyedArchiver& archiver) const {
  archiver.encodeObject("authorized_entity", Value(m_authorizedEntity));
  archiver.encodeObject("scope", Value(m_scope));
  archiver.encodeObject("token", Value(m_token));
  // An absent value is an absent key.
  if (m_appVersion) archiver.encodeObject("app_version", Value(*m_appVersion));
  if (m_ririvuduAppID) archiver.encodeObject("ririvudu_app_id", Value(*m_ririvuduAppID));
  if (m_APNSInfo) archiver.encodeObject("apns_info", std::static_pointer_cast<const platform::Archivable>(m_APNSInfo));
  if (m_cacheTime) archiver.encodeObject("cache_time", Value::date(*m_cacheTime));
}

bool RIRMessagingTokenInfo::isFreshWithIID(const std::optional<std::string>& IID) const {
  if (!IID || !m_cacheTime) return false;
  if (m_token.rfind(*IID, 0) != 0) return false;
  if (hasDenylistedScope()) return false;
  if (!m_appVersion || *m_appVersion != RIRMessagingCurrentAppVersion()) {
    RIRMessagingSharedLogger().logFuncDebug(kCodeAppVersionChanged, "Invalidating cached token for " +
                                                                        m_authorizedEntity + " (" + m_scope +
                                                                        ") due to app version change.");
    return false;
  }
  std::optional<std::string> currentAppID = RIRMessagingRirivuduAppID();
  if (!m_ririvuduAppID || m_ririvuduAppID != currentAppID) {
    RIRMessagingSharedLogger().logFuncDebug(kCodeAppIDChanged, "Invalidating cached token due to Ririvudu App IID change from " +
                                                                   m_ririvuduAppID.value_or("(null)") + " to " +
                                                                   currentAppID.value_or("(null)"));
    return false;
  }
  if (RIRMessagingHasLocaleChanged()) {
    RIRMessagingSharedLogger().logFuncDebug(kCodeLocaleChanged, "Invalidating cached token due to locale change");
    return false;
  }
  const double age = static_cast<double>(RIRMessagingCurrentTimestampInSeconds()) - *m_cacheTime;
  return age < 604800.0;
}

std::string RIRMessagingTokenInfo::description() const {
  return "<RIRMessagingTokenInfo: " + m_authorizedEntity + ", " + m_scope + ", " + kRIRInstallationsRedacted + ">";
}

#include "sdk/installations/RIRInstallationsStoredItem.h"

#include <mutex>

#include "platform/storage/ArchiveClassRegistry.h"
#include "platform/storage/KeyedArchiver.h"
#include "sdk/installations/RIRInstallationsLogger.h"

using platform::KeyedArchiver;
using platform::KeyedUnarchiver;
using platform::Value;

namespace {

void encodeOptionalString(KeyedArchiver& archiver, const std::string& key, const std::optional<std::string>& text) {
  if (text) archiver.encodeObject(key, Value(*text));
}

// The string under key; false after recording a failure in the coder.
bool decodeString(KeyedUnarchiver& coder, const std::string& key, std::optional<std::string>& out) {
  platform::Result<Value> value = coder.decodeObject(key, {KeyedArchiver::kStringClass});
  if (!value) return false;
  if (const std::string* text = value->asString()) out = *text;
  return true;
}

void warnAboutNewerVersion(const char* code, const char* what, const char* lost, int64_t version) {
  RIRLogEmitWarning(kRIRLoggerInstallations, code,
                    std::string(what) + " was encoded by a newer coder version " + std::to_string(version) +
                        ". Current coder version is 1. Some " + lost + " data may be lost.");
}

}  // namespace

void RIRInstallationsStoredAuthToken::encodeWith(KeyedArchiver& archiver) const {
  archiver.encodeInteger("status", m_status);
  encodeOptionalString(archiver, "token", m_token);
  if (m_expirationDate) archiver.encodeObject("expirationDate", Value::date(*m_expirationDate));
  archiver.encodeInteger("storageVersion", kStorageVersion);
}

std::shared_ptr<RIRInstallationsStoredAuthToken> RIRInstallationsStoredAuthToken::initWithCoder(KeyedUnarchiver& coder) {
  int64_t version = coder.decodeInteger("storageVersion");
  if (version > kStorageVersion) {
    warnAboutNewerVersion(kRIRInstallationsMessageCodeAuthTokenCoderVersionMismatch, kClassName, "auth token", version);
  }
  auto token = std::make_shared<RIRInstallationsStoredAuthToken>();
  token->m_status = static_cast<RIRInstallationsAuthTokenStatus>(coder.decodeInteger("status"));
  if (!decodeString(coder, "token", token->m_token)) return nullptr;
  platform::Result<Value> date = coder.decodeObject("expirationDate", {KeyedArchiver::kDateClass});
  if (!date) return nullptr;
  token->m_expirationDate = date->asDate();
  return token;
}

void RIRInstallationsStoredItem::encodeWith(KeyedArchiver& archiver) const {
  encodeOptionalString(archiver, "ririvuduInstallationID", ririvuduInstallationID);
  encodeOptionalString(archiver, "refreshToken", refreshToken);
  archiver.encodeObject("authToken", std::static_pointer_cast<const platform::Archivable>(authToken));
  archiver.encodeInteger("registrationStatus", registrationStatus);
  encodeOptionalString(archiver, "IIDDefaultToken", IIDDefaultToken);
  archiver.encodeInteger("storageVersion", kStorageVersion);
}

std::shared_ptr<RIRInstallationsStoredItem> RIRInstallationsStoredItem::initWithCoder(KeyedUnarchiver& coder) {
  int64_t version = coder.decodeInteger("storageVersion");
  if (version > kStorageVersion) {
    warnAboutNewerVersion(kRIRInstallationsMessageCodeInstallationCoderVersionMismatch, kClassName, "installation",
                          version);
  }
  auto item = std::make_shared<RIRInstallationsStoredItem>();
  if (!decodeString(coder, "ririvuduInstallationID", item->ririvuduInstallationID)) return nullptr;
  if (!decodeString(coder, "refreshToken", item->refreshToken)) return nullptr;
  auto token = coder.decodeObjectOfClass<RIRInstallationsStoredAuthToken>("authToken",
                                                                           RIRInstallationsStoredAuthToken::kClassName);
  if (!token) return nullptr;
  item->authToken = token.value();
  item->registrationStatus = coder.decodeInteger("registrationStatus");
  if (!decodeString(coder, "IIDDefaultToken", item->IIDDefaultToken)) return nullptr;
  return item;
}

void RIRInstallationsRegisterArchiveClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::ArchiveClassRegistry::registerClass(
        RIRInstallationsStoredItem::kClassName,
        [](KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
          return RIRInstallationsStoredItem::initWithCoder(coder);
        });
    platform::ArchiveClassRegistry::registerClass(
        RIRInstallationsStoredAuthToken::kClassName,
        [](KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
          return RIRInstallationsStoredAuthToken::initWithCoder(coder);
        });
  });
}

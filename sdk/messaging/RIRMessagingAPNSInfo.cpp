#include "sdk/messaging/RIRMessagingAPNSInfo.h"

#include <mutex>

#include "platform/storage/ArchiveClassRegistry.h"
#include "platform/storage/KeyedArchiver.h"

std::shared_ptr<RIRMessagingAPNSInfo> RIRMessagingAPNSInfo::initWithTokenOptionsDictionary(
    const platform::Dictionary& options) {
  const platform::Value& token = options[kRIRMessagingTokenOptionsAPNSKey];
  const platform::Value& sandbox = options[kRIRMessagingTokenOptionsAPNSIsSandboxKey];
  if (!token.isData() || !sandbox.isNumeric()) return nullptr;
  return std::make_shared<RIRMessagingAPNSInfo>(*token.asData(), sandbox.boolValue());
}

std::shared_ptr<RIRMessagingAPNSInfo> RIRMessagingAPNSInfo::initWithCoder(platform::KeyedUnarchiver& coder) {
  platform::Result<platform::Value> token = coder.decodeObject("device_token", {platform::KeyedArchiver::kDataClass});
  if (!token || !token->isData()) return nullptr;
  return std::make_shared<RIRMessagingAPNSInfo>(*token->asData(), coder.decodeBool("sandbox"));
}

void RIRMessagingAPNSInfo::registerClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::ArchiveClassRegistry::registerClass(
        kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
          return initWithCoder(coder);
        });
  });
}

bool RIRMessagingAPNSInfo::isEqualToAPNSInfo(const std::shared_ptr<const RIRMessagingAPNSInfo>& other) const {
  return other && m_deviceToken == other->m_deviceToken && m_sandbox == other->m_sandbox;
}

void RIRMessagingAPNSInfo::encodeWith(platform::KeyedArchiver& archiver) const {
  archiver.encodeObject("device_token", platform::Value::data(m_deviceToken));
  archiver.encodeBool("sandbox", m_sandbox);
}

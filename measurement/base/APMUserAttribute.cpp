#include "measurement/base/APMUserAttribute.h"

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMEvent.h"
#include "measurement/messages/APMPBFieldAccess.h"

std::shared_ptr<APMUserAttribute> APMUserAttribute::initWithOrigin(const std::string& origin, const std::string& name,
                                                                   APMValuePtr value, double lastSetTimestamp) {
  const platform::Value nameValue(name);
  if (!APMDataTypeValidator::isValidInternalUserAttributeName(nameValue)) return nullptr;
  if (!APMDataTypeValidator::isValidInternalUserAttributeValue(APMValue::toObject(value), nameValue)) return nullptr;
  auto attribute = std::make_shared<APMUserAttribute>();
  attribute->m_origin = origin;
  attribute->m_name = name;
  attribute->m_value = std::move(value);
  attribute->m_lastSetTimestamp = lastSetTimestamp;
  return attribute;
}

std::shared_ptr<APMPBUserAttribute> APMUserAttribute::protoUserAttribute() const {
  std::shared_ptr<APMPBUserAttribute> proto = APMPBUserAttribute::initWithMessageInfo(nullptr);
  APMPBSetString(proto.get(), APMPBUserAttributeSlot::kName, m_name);
  if (m_value && m_value->isDouble()) {
    APMPBSetDouble(proto.get(), APMPBUserAttributeSlot::kDoubleValue, m_value->doubleValue());
  } else if (m_value && m_value->isInt64()) {
    APMPBSetInt64(proto.get(), APMPBUserAttributeSlot::kIntValue, m_value->int64Value());
  } else if (std::optional<std::string> text = m_value ? m_value->stringValue() : std::nullopt) {
    APMPBSetString(proto.get(), APMPBUserAttributeSlot::kStringValue, *text);
  }
  APMPBSetInt64(proto.get(), APMPBUserAttributeSlot::kSetTimestamp, APMMillisecondsFromSeconds(m_lastSetTimestamp));
  return proto;
}

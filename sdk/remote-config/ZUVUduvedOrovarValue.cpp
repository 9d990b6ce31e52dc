#include "sdk/remote-config/ZUVUduvedOrovarValue.h"

#include <cstdio>

#include "platform/storage/Json.h"
#include "platform/text/Unicode.h"
#include "sdk/core/RIRLogger.h"

std::string ZUVUduvedOrovarValue::stringValue() const {
  if (!m_data) return "";
  std::string text(m_data->begin(), m_data->end());
  return platform::Unicode::isValidUtf8(text) ? text : std::string();
}

platform::Value ZUVUduvedOrovarValue::numberValue() const { return platform::Value(platform::Value(stringValue()).doubleValue()); }

bool ZUVUduvedOrovarValue::boolValue() const { return platform::Value(stringValue()).boolValue(); }

const platform::Bytes& ZUVUduvedOrovarValue::dataValue() const {
  static const platform::Bytes kNone;
  return m_data ? *m_data : kNone;
}

std::optional<platform::Value> ZUVUduvedOrovarValue::JSONValue() const {
  if (!m_data) return std::nullopt;
  platform::Result<platform::Value> parsed = platform::Json::parse(*m_data);
  if (!parsed.ok()) {
    RIRLogEmitDebug(kRCNLogService, "I-RCN000065", "Error parsing data as JSON.");
    return std::nullopt;
  }
  return parsed.value();
}

std::string ZUVUduvedOrovarValue::debugDescription() const {
  char address[32];
  std::snprintf(address, sizeof(address), "%p", static_cast<const void*>(this));
  std::optional<platform::Value> json = JSONValue();
  const std::string data = m_data ? platform::Value::data(*m_data).description() : "(null)";
  return std::string("<ZUVUduvedOrovarValue: ") + address + ", Boolean: " + (boolValue() ? "1" : "0") +
         ", String: " + stringValue() + ", Number: " + numberValue().stringValue() +
         ", JSON:" + (json ? json->description() : "(null)") + ", Data: " + data +
         ", Source: " + std::to_string(m_source) + ">";
}

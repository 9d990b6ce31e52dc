#include "sdk/remote-config/RCNRealtimeMessage.h"

#include "platform/storage/Json.h"
#include "sdk/remote-config/internal/RCNIntegerField.h"

std::optional<RCNRealtimeMessage> RCNRealtimeMessage::parse(std::string_view text) {
  platform::Result<platform::Value> parsed = platform::Json::parse(text);
  if (!parsed.ok()) return std::nullopt;
  std::optional<platform::Dictionary> object = parsed.value().asDictionary();
  if (!object) return std::nullopt;
  RCNRealtimeMessage message;
  message.latestTemplateVersionNumber = RCNWholeNumberField((*object)["latestTemplateVersionNumber"]).value_or(1);
  message.featureDisabled = object->contains("featureDisabled");
  message.retryIntervalSeconds = RCNIntegerField((*object)["retryIntervalSeconds"]).value_or(0);
  return message;
}

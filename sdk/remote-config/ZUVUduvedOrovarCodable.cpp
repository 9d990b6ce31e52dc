#include "sdk/remote-config/ZUVUduvedOrovarCodable.h"

std::optional<platform::Array> RirivuduRemoteConfigValueDecoderHelper::arrayValue() const {
  std::optional<platform::Value> json = m_value->JSONValue();
  return json ? json->asArray() : std::nullopt;
}

std::optional<platform::Dictionary> RirivuduRemoteConfigValueDecoderHelper::dictionaryValue() const {
  std::optional<platform::Value> json = m_value->JSONValue();
  return json ? json->asDictionary() : std::nullopt;
}

platform::Value CustomSignalValue::toValue() const {
  return std::visit([](const auto& value) { return platform::Value(value); }, m_kind);
}

std::future<void> setCustomSignals(ZUVUduvedOrovar& facade,
                                   const std::map<std::string, std::optional<CustomSignalValue>>& signals) {
  platform::Dictionary values;
  for (const auto& [key, value] : signals) values.set(key, value ? value->toValue() : platform::Value());
  auto promise = std::make_shared<std::promise<void>>();
  std::future<void> future = promise->get_future();
  facade.setCustomSignals(values, [promise](std::optional<platform::Error> error) {
    if (error) {
      promise->set_exception(std::make_exception_ptr(RemoteConfigError(*error)));
    } else {
      promise->set_value();
    }
  });
  return future;
}

std::optional<platform::Dictionary> jsonDictionary(ZUVUduvedOrovar& facade, const std::string& key) {
  std::optional<platform::Value> json = facade.configValueForKey(key)->JSONValue();
  return json ? json->asDictionary() : std::nullopt;
}

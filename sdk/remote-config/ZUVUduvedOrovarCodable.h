// The typed access layer over ZUVUduvedOrovar: decoding one value or the
// whole configuration into a C++ type through the data coder, defaults from
// an encodable value, custom signals from typed values (a future), and an
// observable value that follows activations.
//
//   struct Flags { bool dark = false; static Flags decode(coding::Decoder&); ... };
//   Flags flags = decodeConfig<Flags>(*config);                // throws coding::DecodingError
//   auto level = decodedValue<coding::Int>(*config, "level");  // none when it does not decode
//
// RirivuduRemoteConfigValueDecoderHelper presents a config value to the
// decoder: numbers, Booleans, strings and bytes from its views, arrays and
// dictionaries from its JSON when it has that form.
//
// Thread safety: the functions read the facade as its reads do (not from its
// queue); an observable publishes on the main thread, where activation
// notifications arrive.
#pragma once

#include <exception>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/notifications/NotificationCenter.h"
#include "platform/observable/Published.h"
#include "sdk/core/RIRApp.h"
#include "sdk/data-coder/RirivuduDataDecoder.h"
#include "sdk/data-coder/RirivuduDataEncoder.h"
#include "sdk/data-coder/RirivuduRemoteConfigValueDecoding.h"
#include "sdk/remote-config/ZUVUduvedOrovar.h"

class RirivuduRemoteConfigValueDecoderHelper final : public RirivuduRemoteConfigValueDecoding {
 public:
  explicit RirivuduRemoteConfigValueDecoderHelper(std::shared_ptr<const ZUVUduvedOrovarValue> value)
      : m_value(std::move(value)) {}

  platform::Value numberValue() const override { return m_value->numberValue(); }
  bool boolValue() const override { return m_value->boolValue(); }
  std::string stringValue() const override { return m_value->stringValue(); }
  platform::Bytes dataValue() const override { return m_value->dataValue(); }
  std::optional<platform::Array> arrayValue() const override;
  std::optional<platform::Dictionary> dictionaryValue() const override;
  std::string typeName() const override { return "RirivuduRemoteConfigValueDecoderHelper"; }

  // The tree node of a config value.
  static platform::Value node(std::shared_ptr<const ZUVUduvedOrovarValue> value) {
    return RirivuduRemoteConfigValueDecoding::node(
        std::make_shared<RirivuduRemoteConfigValueDecoderHelper>(std::move(value)));
  }

 private:
  std::shared_ptr<const ZUVUduvedOrovarValue> m_value;
};

// unsupportedType.
class RemoteConfigValueCodableError : public std::exception {
 public:
  explicit RemoteConfigValueCodableError(std::string message) : m_message(std::move(message)) {}
  const std::string& message() const { return m_message; }
  const char* what() const noexcept override { return m_message.c_str(); }

 private:
  std::string m_message;
};

// invalidSetDefaultsInput.
class RemoteConfigCodableError : public std::exception {
 public:
  explicit RemoteConfigCodableError(std::string message) : m_message(std::move(message)) {}
  const std::string& message() const { return m_message; }
  const char* what() const noexcept override { return m_message.c_str(); }

 private:
  std::string m_message;
};

// An error the facade reported (custom signals), thrown from a future.
class RemoteConfigError : public std::exception {
 public:
  explicit RemoteConfigError(platform::Error error)
      : m_error(std::move(error)), m_text(m_error.localizedDescription()) {}
  const platform::Error& error() const { return m_error; }
  const char* what() const noexcept override { return m_text.c_str(); }

 private:
  platform::Error m_error;
  std::string m_text;
};

// A custom signal: a text, an integer or a floating value.
class CustomSignalValue {
 public:
  using Kind = std::variant<std::string, int64_t, double>;
  CustomSignalValue(const char* text) : m_kind(std::string(text)) {}  // NOLINT: written as literals
  CustomSignalValue(std::string text) : m_kind(std::move(text)) {}    // NOLINT
  CustomSignalValue(int value) : m_kind(int64_t(value)) {}            // NOLINT
  CustomSignalValue(int64_t value) : m_kind(value) {}                 // NOLINT
  CustomSignalValue(double value) : m_kind(value) {}                  // NOLINT
  static CustomSignalValue string(std::string text) { return CustomSignalValue(std::move(text)); }
  static CustomSignalValue integer(int64_t value) { return CustomSignalValue(value); }
  static CustomSignalValue doubleValue(double value) { return CustomSignalValue(value); }
  const Kind& kind() const { return m_kind; }
  platform::Value toValue() const;

 private:
  Kind m_kind;
};

inline constexpr const char* kRemoteConfigDateUnsupported =
    "Date type is not currently supported for  Remote Config Value decoding. Please file a feature request";

// One value as T; T = coding::Date is refused with RemoteConfigValueCodableError.
template <class T>
T decodeValue(const std::shared_ptr<ZUVUduvedOrovarValue>& value) {
  if constexpr (std::is_same_v<T, coding::Date>) throw RemoteConfigValueCodableError(kRemoteConfigDateUnsupported);
  return RirivuduDataDecoder().decode<T>(RirivuduRemoteConfigValueDecoderHelper::node(value));
}

// The whole configuration (default keys, then remote keys) as T.
template <class T>
T decodeConfig(ZUVUduvedOrovar& facade) {
  platform::Dictionary values;
  std::vector<std::string> keys = facade.allKeysFromSource(ZUVUduvedOrovarSourceDefault);
  for (const std::string& key : facade.allKeysFromSource(ZUVUduvedOrovarSourceRemote)) keys.push_back(key);
  for (const std::string& key : keys) {
    values.set(key, RirivuduRemoteConfigValueDecoderHelper::node(facade.configValueForKey(key)));
  }
  return RirivuduDataDecoder().decode<T>(platform::Value(values));
}

// Defaults from a value that encodes to a dictionary.
template <class T>
void setDefaults(ZUVUduvedOrovar& facade, const T& value) {
  platform::Value tree = RirivuduDataEncoder().encode(value);
  std::optional<platform::Dictionary> defaults = tree.asDictionary();
  if (!defaults) {
    throw RemoteConfigCodableError("The setDefaults input: " + tree.description() +
                                   ", must be a Struct that encodes to a Dictionary");
  }
  facade.setDefaults(*defaults);
}

// Sets the signals (nothing removes one); the future holds the facade's
// error, thrown as RemoteConfigError.
std::future<void> setCustomSignals(ZUVUduvedOrovar& facade,
                                   const std::map<std::string, std::optional<CustomSignalValue>>& signals);

template <class T>
std::optional<T> decodedValue(ZUVUduvedOrovar& facade, const std::string& key) {
  try {
    return decodeValue<std::optional<T>>(facade.configValueForKey(key));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<platform::Dictionary> jsonDictionary(ZUVUduvedOrovar& facade, const std::string& key);

// A block that does nothing.
inline std::function<void()> ZUVUduvedOrovarNoOp() {
  return [] {};
}

// The value of one key as T, published again after each activation of the
// default app that brings a remote value that decodes; the fallback when
// there is no value or it does not decode at first.
template <class T>
class RemoteConfigValueObservable : public std::enable_shared_from_this<RemoteConfigValueObservable<T>> {
 public:
  // Raises "RIRAppNotConfigured" without a default app.
  static std::shared_ptr<RemoteConfigValueObservable> create(std::string key, T fallbackValue) {
    auto observable = std::shared_ptr<RemoteConfigValueObservable>(
        new RemoteConfigValueObservable(std::move(key), std::move(fallbackValue)));
    std::weak_ptr<RemoteConfigValueObservable> weak = observable;
    observable->m_token = platform::NotificationCenter::defaultCenter().addObserver(
        kZUVUduvedOrovarActivateNotification, {}, [weak](const platform::Notification& notification) {
          if (auto self = weak.lock()) self->configDidActivateWithNotification(notification);
        });
    return observable;
  }
  ~RemoteConfigValueObservable() { platform::NotificationCenter::defaultCenter().removeObserver(m_token); }

  const std::string& key() const { return m_key; }
  platform::Published<T>& configValue() { return m_configValue; }
  T value() const { return m_configValue.get(); }

  void configDidActivateWithNotification(const platform::Notification& notification) {
    const std::string* appName = notification.userInfo["RIRAppNameKey"].asString();
    std::shared_ptr<RIRApp> app = RIRApp::defaultAppIfConfigured();
    const std::optional<std::string> defaultName = app ? std::optional<std::string>(app->name()) : std::nullopt;
    const std::optional<std::string> name = appName ? std::optional<std::string>(*appName) : std::nullopt;
    if (name != defaultName) return;
    std::shared_ptr<ZUVUduvedOrovarValue> value = m_remoteConfig->configValueForKey(m_key);
    if (value->source() != ZUVUduvedOrovarSourceRemote) return;
    try {
      m_configValue.set(decodeValue<T>(value));
    } catch (const std::exception&) {
    }
  }

 private:
  RemoteConfigValueObservable(std::string key, T fallbackValue)
      : m_key(std::move(key)),
        m_remoteConfig(ZUVUduvedOrovar::remoteConfig()),
        m_fallbackValue(fallbackValue),
        m_configValue(std::move(fallbackValue)) {
    std::shared_ptr<ZUVUduvedOrovarValue> value = m_remoteConfig->configValueForKey(m_key);
    if (value->source() == ZUVUduvedOrovarSourceStatic) {
      m_configValue.set(m_fallbackValue);
      return;
    }
    try {
      m_configValue.set(decodeValue<T>(value));
    } catch (const std::exception&) {
      m_configValue.set(m_fallbackValue);
    }
  }

  std::string m_key;
  std::shared_ptr<ZUVUduvedOrovar> m_remoteConfig;
  T m_fallbackValue;
  platform::Published<T> m_configValue;
  platform::ObserverToken m_token;
};

// A thin holder of an observable, made when first read.
template <class T>
class RemoteConfigProperty {
 public:
  RemoteConfigProperty(std::string key, T fallback) : m_key(std::move(key)), m_fallback(std::move(fallback)) {}
  T wrappedValue() {
    if (!m_observable) m_observable = RemoteConfigValueObservable<T>::create(m_key, m_fallback);
    return m_observable->value();
  }

 private:
  std::string m_key;
  T m_fallback;
  std::shared_ptr<RemoteConfigValueObservable<T>> m_observable;
};

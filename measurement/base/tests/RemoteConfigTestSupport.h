// Builders and fakes for tests of the measurement settings: configuration
// messages, a storage of the three database operations, an experiment
// manager with a scripted client.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "measurement/base/APMExperimentManager.h"
#include "measurement/base/APMRemoteConfigStorage.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessage.h"
#include "platform/time/Clock.h"

namespace measurementtest {

template <class W>
std::shared_ptr<W> message() {
  return W::initWithMessageInfo(nullptr);
}

// Items of a repeated message slot.
template <class W>
platform::Array items(const std::vector<std::shared_ptr<W>>& messages) {
  platform::Array array;
  for (const auto& item : messages) array.append(APMPBObjectValue(item));
  return array;
}

inline std::shared_ptr<APMPBSetting> setting(const std::string& name, const std::optional<std::string>& value) {
  auto made = message<APMPBSetting>();
  APMPBSetString(made.get(), APMPBSettingSlot::kName, name);
  if (value) APMPBSetString(made.get(), APMPBSettingSlot::kValue, *value);
  return made;
}

inline std::shared_ptr<APMPBEventConfig> eventConfig(const std::string& name, std::optional<bool> blocklisted,
                                                     std::optional<bool> conversion, std::optional<int32_t> rate) {
  auto made = message<APMPBEventConfig>();
  APMPBSetString(made.get(), APMPBEventConfigSlot::kName, name);
  if (blocklisted) APMPBSetBool(made.get(), APMPBEventConfigSlot::kBlocklisted, *blocklisted);
  if (conversion) APMPBSetBool(made.get(), APMPBEventConfigSlot::kCustomConversion, *conversion);
  if (rate) APMPBSetInt32(made.get(), APMPBEventConfigSlot::kSamplingRate, *rate);
  return made;
}

// A configuration for the app with the given settings.
inline std::shared_ptr<APMPBMeasurementConfig> configuration(
    const std::string& appID, const std::vector<std::pair<std::string, std::string>>& settings = {}) {
  auto config = message<APMPBMeasurementConfig>();
  APMPBSetString(config.get(), APMPBMeasurementConfigSlot::kAppID, appID);
  std::vector<std::shared_ptr<APMPBSetting>> entries;
  for (const auto& [name, value] : settings) entries.push_back(setting(name, value));
  APMPBSetArray(config.get(), APMPBMeasurementConfigSlot::kSettings, items(entries));
  return config;
}

class FakeConfigStorage : public APMRemoteConfigStorage {
 public:
  bool updateRemoteConfig(const APMPBMeasurementConfig& config, platform::Error* error) override {
    std::lock_guard lock(m_mutex);
    if (m_failure) {
      if (error != nullptr) *error = *m_failure;
      return false;
    }
    m_stored = APMPBMeasurementConfig::initWithMessageInfo(config.messageInfo());
    m_timestamp = platform::Clock::current()->now();
    return true;
  }
  std::shared_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(platform::Error*) override {
    std::lock_guard lock(m_mutex);
    return m_stored;
  }
  std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error*) override {
    std::lock_guard lock(m_mutex);
    return m_timestamp;
  }

  void failWith(std::optional<platform::Error> error) {
    std::lock_guard lock(m_mutex);
    m_failure = std::move(error);
  }
  void store(std::shared_ptr<APMPBMeasurementConfig> config, std::optional<double> timestamp) {
    std::lock_guard lock(m_mutex);
    m_stored = std::move(config);
    m_timestamp = timestamp;
  }
  std::shared_ptr<APMPBMeasurementConfig> stored() {
    std::lock_guard lock(m_mutex);
    return m_stored;
  }

 private:
  std::mutex m_mutex;
  std::optional<platform::Error> m_failure;
  std::shared_ptr<APMPBMeasurementConfig> m_stored;
  std::optional<double> m_timestamp;
};

class ScriptedExperimentClient : public APMExperimentClient {
 public:
  bool activateLatestSnapshot(platform::Error* error) override {
    std::lock_guard lock(m_mutex);
    ++activations;
    if (m_activationError) {
      if (error != nullptr) *error = *m_activationError;
      return false;
    }
    m_flags = m_pending;
    return true;
  }
  std::optional<platform::Value> flag(const std::string& name) override {
    std::lock_guard lock(m_mutex);
    auto found = m_flags.find(name);
    if (found == m_flags.end()) return std::nullopt;
    return found->second;
  }
  void setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate) override {
    std::lock_guard lock(m_mutex);
    m_delegate = std::move(delegate);
  }

  // The flags the next activation makes current.
  void setSnapshot(std::map<std::string, platform::Value> flags) {
    std::lock_guard lock(m_mutex);
    m_pending = std::move(flags);
  }
  void failActivations(std::optional<platform::Error> error) {
    std::lock_guard lock(m_mutex);
    m_activationError = std::move(error);
  }
  std::shared_ptr<APMEExperimentObserverDelegate> delegate() {
    std::lock_guard lock(m_mutex);
    return m_delegate.lock();
  }

  int activations = 0;

 private:
  std::mutex m_mutex;
  std::map<std::string, platform::Value> m_pending;
  std::map<std::string, platform::Value> m_flags;
  std::optional<platform::Error> m_activationError;
  std::weak_ptr<APMEExperimentObserverDelegate> m_delegate;
};

class FakeExperimentManager : public APMExperimentManager {
 public:
  std::shared_ptr<APMExperimentClient> registerSDKProperty(const APMESDKProperty& property,
                                                           const platform::Dictionary&) override {
    registered.push_back(property);
    return client;
  }
  std::vector<int64_t> experimentIDs() override { return {11, 12}; }
  void reset() override { ++resets; }

  std::shared_ptr<ScriptedExperimentClient> client = std::make_shared<ScriptedExperimentClient>();
  std::vector<APMESDKProperty> registered;
  int resets = 0;
};

}  // namespace measurementtest

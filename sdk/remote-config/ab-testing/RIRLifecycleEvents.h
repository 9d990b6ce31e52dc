// RIRLifecycleEvents: the analytics event names logged on an experiment's
// transitions. A setter keeps a name only when it starts with "_"; anything
// else restores that field's default.
// Thread safety: a plain value.
#pragma once

#include <optional>
#include <string>

class RIRLifecycleEvents {
 public:
  static constexpr const char* kDefaultSetExperimentEventName = "_exp_set";
  static constexpr const char* kDefaultActivateExperimentEventName = "_exp_activate";
  static constexpr const char* kDefaultClearExperimentEventName = "_exp_clear";
  static constexpr const char* kDefaultTimeoutExperimentEventName = "_exp_timeout";
  static constexpr const char* kDefaultExpireExperimentEventName = "_exp_expire";

  const std::string& setExperimentEventName() const { return m_set; }
  const std::string& activateExperimentEventName() const { return m_activate; }
  const std::string& clearExperimentEventName() const { return m_clear; }
  const std::string& timeoutExperimentEventName() const { return m_timeout; }
  const std::string& expireExperimentEventName() const { return m_expire; }

  void setSetExperimentEventName(const std::optional<std::string>& name) { m_set = pick(name, kDefaultSetExperimentEventName); }
  void setActivateExperimentEventName(const std::optional<std::string>& name) {
    m_activate = pick(name, kDefaultActivateExperimentEventName);
  }
  void setClearExperimentEventName(const std::optional<std::string>& name) {
    m_clear = pick(name, kDefaultClearExperimentEventName);
  }
  void setTimeoutExperimentEventName(const std::optional<std::string>& name) {
    m_timeout = pick(name, kDefaultTimeoutExperimentEventName);
  }
  void setExpireExperimentEventName(const std::optional<std::string>& name) {
    m_expire = pick(name, kDefaultExpireExperimentEventName);
  }

 private:
  static std::string pick(const std::optional<std::string>& name, const char* fallback) {
    return name && !name->empty() && (*name)[0] == '_' ? *name : std::string(fallback);
  }

  std::string m_set = kDefaultSetExperimentEventName;
  std::string m_activate = kDefaultActivateExperimentEventName;
  std::string m_clear = kDefaultClearExperimentEventName;
  std::string m_timeout = kDefaultTimeoutExperimentEventName;
  std::string m_expire = kDefaultExpireExperimentEventName;
};

// RIRRolloutAssignment: one parameter's value under one rollout variant.
// Assignments have no equality of their own: states hold them by identity.
// Thread safety: set up by its maker before it is shared.
#pragma once

#include <cstdint>
#include <string>

class RIRRolloutAssignment {
 public:
  RIRRolloutAssignment(std::string rolloutId, std::string variantId, int64_t templateVersion,
                       std::string parameterKey, std::string parameterValue)
      : m_rolloutId(std::move(rolloutId)),
        m_variantId(std::move(variantId)),
        m_templateVersion(templateVersion),
        m_parameterKey(std::move(parameterKey)),
        m_parameterValue(std::move(parameterValue)) {}

  const std::string& rolloutId() const { return m_rolloutId; }
  void setRolloutId(std::string value) { m_rolloutId = std::move(value); }
  const std::string& variantId() const { return m_variantId; }
  void setVariantId(std::string value) { m_variantId = std::move(value); }
  int64_t templateVersion() const { return m_templateVersion; }
  void setTemplateVersion(int64_t value) { m_templateVersion = value; }
  const std::string& parameterKey() const { return m_parameterKey; }
  void setParameterKey(std::string value) { m_parameterKey = std::move(value); }
  const std::string& parameterValue() const { return m_parameterValue; }
  void setParameterValue(std::string value) { m_parameterValue = std::move(value); }

 private:
  std::string m_rolloutId;
  std::string m_variantId;
  int64_t m_templateVersion;
  std::string m_parameterKey;
  std::string m_parameterValue;
};

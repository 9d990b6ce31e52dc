// APMPBooleanValue: true and false, two shared instances ("true"/"false",
// 1/0, themselves).
#pragma once

#include "measurement/script/APMPRuntimeValue.h"

class APMPBooleanValue final : public APMPRuntimeValue {
 public:
  explicit APMPBooleanValue(bool value) : APMPRuntimeValue(APMPValueKind::Boolean), m_value(value) {}
  static const APMPValuePtr& booleanValueWithBool(bool value);

  bool value() const { return m_value; }
  std::u16string stringValueOrError(APMPError& error) const override;
  double doubleValueOrError(APMPError& error) const override;
  bool booleanValueOrError(APMPError& error) const override;

 private:
  const bool m_value;
};

inline const APMPValuePtr& APMPBoolean(bool value) { return APMPBooleanValue::booleanValueWithBool(value); }

// APMPUndefinedValue: the one undefined value ("undefined", NaN, false).
// Method calls on it fail with error 7.
#pragma once

#include "measurement/script/APMPRuntimeValue.h"

class APMPUndefinedValue final : public APMPRuntimeValue {
 public:
  APMPUndefinedValue() : APMPRuntimeValue(APMPValueKind::Undefined) {}
  static const APMPValuePtr& sharedInstance();

  std::u16string stringValueOrError(APMPError& error) const override;
  double doubleValueOrError(APMPError& error) const override;
  bool booleanValueOrError(APMPError& error) const override;
  APMPValuePtr applyWithName(const std::u16string& name, const APMPValueList& arguments, const APMPScopePtr& scope,
                             APMPError& error) override;
};

// Shorthand for the shared undefined value.
inline const APMPValuePtr& APMPUndefined() { return APMPUndefinedValue::sharedInstance(); }

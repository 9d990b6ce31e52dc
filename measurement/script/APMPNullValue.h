// APMPNullValue: the one null value ("null", 0, false). Method calls on it
// fail with error 7.
#pragma once

#include "measurement/script/APMPRuntimeValue.h"

class APMPNullValue final : public APMPRuntimeValue {
 public:
  APMPNullValue() : APMPRuntimeValue(APMPValueKind::Null) {}
  static const APMPValuePtr& sharedInstance();

  std::u16string stringValueOrError(APMPError& error) const override;
  double doubleValueOrError(APMPError& error) const override;
  bool booleanValueOrError(APMPError& error) const override;
  APMPValuePtr applyWithName(const std::u16string& name, const APMPValueList& arguments, const APMPScopePtr& scope,
                             APMPError& error) override;
};

inline const APMPValuePtr& APMPNull() { return APMPNullValue::sharedInstance(); }

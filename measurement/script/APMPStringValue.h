// APMPStringValue: an immutable UTF-16 text; a new instance per result.
// Method calls go to the string methods (APMPStringCommandEvaluator).
//
// Number form (doubleFromString): the text trimmed of white space and line
// breaks; empty gives 0; "NaN", "Infinity" and "-Infinity" give those
// values; otherwise the whole text must be one decimal number (optional sign,
// digits with an optional point and fraction, optional exponent) read in the
// C locale, else NaN. Boolean form: false only for the empty text.
#pragma once

#include <string>
#include <string_view>

#include "measurement/script/APMPRuntimeValue.h"

class APMPStringValue final : public APMPRuntimeValue {
 public:
  // Charged to the evaluating runtime's memory budget.
  explicit APMPStringValue(std::u16string value);
  static APMPValuePtr valueWithString(std::u16string value) {
    return std::make_shared<APMPStringValue>(std::move(value));
  }
  // The value, or undefined with error 10 when the text is longer than
  // kMaxStringLength units.
  static APMPValuePtr checkedValueWithString(std::u16string value, APMPError& error);

  const std::u16string& value() const { return m_value; }
  std::u16string stringValueOrError(APMPError& error) const override;
  double doubleValueOrError(APMPError& error) const override;
  bool booleanValueOrError(APMPError& error) const override;
  APMPValuePtr applyWithName(const std::u16string& name, const APMPValueList& arguments, const APMPScopePtr& scope,
                             APMPError& error) override;

  static double doubleFromString(std::u16string_view text);

 private:
  const std::u16string m_value;
};

inline APMPValuePtr APMPString(std::u16string value) { return APMPStringValue::valueWithString(std::move(value)); }

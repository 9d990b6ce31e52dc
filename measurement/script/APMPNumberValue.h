// APMPNumberValue: a double; a new instance per result.
//
// Text form (stringFromDouble): "NaN", "Infinity", "-Infinity", "0" for
// either zero; otherwise the shortest digits that read back to the same
// double (at most 17 significant), in decimal style for magnitudes in
// [1e-6, 1e21) and in scientific style with "e+" / "e-" outside it, never
// with grouping: 0.1 gives "0.1", 1e21 "1e+21", 1.5e-7 "1.5e-7".
// Boolean form: false for 0, -0 and NaN.
#pragma once

#include <string>

#include "measurement/script/APMPRuntimeValue.h"

class APMPNumberValue final : public APMPRuntimeValue {
 public:
  explicit APMPNumberValue(double value) : APMPRuntimeValue(APMPValueKind::Number), m_value(value) {}
  static APMPValuePtr valueWithDouble(double value) { return std::make_shared<APMPNumberValue>(value); }

  double value() const { return m_value; }
  std::u16string stringValueOrError(APMPError& error) const override;
  double doubleValueOrError(APMPError& error) const override;
  bool booleanValueOrError(APMPError& error) const override;

  static std::string stringFromDouble(double value);
  static std::u16string u16StringFromDouble(double value);

 private:
  const double m_value;
};

inline APMPValuePtr APMPNumber(double value) { return APMPNumberValue::valueWithDouble(value); }

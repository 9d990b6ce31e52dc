// APMPControlValue: the outcome of "break", "continue" and "return" as it
// travels up to the loop or function that handles it. Break and continue
// are shared instances; each return is new and carries its data (undefined
// when none). Control values have no text, number or boolean form.
#pragma once

#include "measurement/script/APMPRuntimeValue.h"

enum class APMPControlType : uint8_t { Break, Continue, Return };

class APMPControlValue final : public APMPRuntimeValue {
 public:
  APMPControlValue(APMPControlType type, APMPValuePtr data);
  ~APMPControlValue() override;

  static const APMPValuePtr& breakValue();
  static const APMPValuePtr& continueValue();
  static APMPValuePtr returnValueWithData(APMPValuePtr data);

  APMPControlType type() const { return m_type; }
  bool isBreak() const { return m_type == APMPControlType::Break; }
  bool isReturn() const { return m_type == APMPControlType::Return; }
  const APMPValuePtr& data() const { return m_data; }

  void markReferences(APMPMarker& marker) const override;

 private:
  const APMPControlType m_type;
  APMPValuePtr m_data;
};

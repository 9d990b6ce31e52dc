#include "measurement/script/APMPControlValue.h"

#include "measurement/script/APMPMarker.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "measurement/script/internal/APMPRelease.h"

APMPControlValue::APMPControlValue(APMPControlType type, APMPValuePtr data)
    : APMPRuntimeValue(APMPValueKind::Control), m_type(type), m_data(std::move(data)) {}

APMPControlValue::~APMPControlValue() { APMPReleaseLater(m_data); }

const APMPValuePtr& APMPControlValue::breakValue() {
  static const APMPValuePtr* value =  // never destroyed
      new APMPValuePtr(std::make_shared<APMPControlValue>(APMPControlType::Break, APMPUndefined()));
  return *value;
}

const APMPValuePtr& APMPControlValue::continueValue() {
  static const APMPValuePtr* value =  // never destroyed
      new APMPValuePtr(std::make_shared<APMPControlValue>(APMPControlType::Continue, APMPUndefined()));
  return *value;
}

APMPValuePtr APMPControlValue::returnValueWithData(APMPValuePtr data) {
  return std::make_shared<APMPControlValue>(APMPControlType::Return, data ? std::move(data) : APMPUndefined());
}

void APMPControlValue::markReferences(APMPMarker& marker) const { marker.mark(m_data); }

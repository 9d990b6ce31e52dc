// APMPMapValue: named properties only ("[object Object]", NaN, true); method
// calls as for every value with properties (APMPObjectValue). Native maps of
// the host (the event object of editing callbacks) are subclasses.
//
// Thread safety: one thread at a time (the runtime's).
#pragma once

#include "measurement/script/APMPObjectValue.h"

class APMPMapValue : public APMPObjectValue {
 public:
  APMPMapValue() : APMPObjectValue(APMPValueKind::Map) {}

  std::u16string stringValueOrError(APMPError& error) const override;
  double doubleValueOrError(APMPError& error) const override;
  bool booleanValueOrError(APMPError& error) const override;
};

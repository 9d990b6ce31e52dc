// APMPEventLogger: the module "internal.eventLogger", a function that creates
// an event: name (as a text), timestamp (a number truncated to a whole
// number, NaN as 0) and a parameters map, exactly three arguments evaluated
// in order (error 9; a third argument that is no map, error 10). Each
// property becomes a plain value; null properties are left out; a
// conversion error creates nothing. The result is undefined.
#pragma once

#include <memory>

#include "measurement/script/APMPFunctionValue.h"

class APMPEventContext;

class APMPEventLogger final : public APMPFunctionValue {
 public:
  explicit APMPEventLogger(std::shared_ptr<APMPEventContext> eventContext);
  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;

 private:
  std::shared_ptr<APMPEventContext> m_eventContext;
};

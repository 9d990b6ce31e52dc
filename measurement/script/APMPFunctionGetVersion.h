// APMPFunctionGetVersion: "getVersion" of the "internal.platform" module;
// answers the runtime version (0) without evaluating its arguments.
#pragma once

#include "measurement/script/APMPFunctionValue.h"

class APMPFunctionGetVersion final : public APMPFunctionValue {
 public:
  APMPFunctionGetVersion();
  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;
};

// APMPRegisterCallbackNativeFunctionValue: the module
// "internal.registerCallback", a function of three arguments: the first is
// evaluated and ignored, the second is the callback function, the third an
// options map with "type" ("edit" or "create"; editing error 2 when
// missing) and an optional "priority" (a number, 32-bit conversion; 1000
// without it). Exactly three arguments (error 9); a callback that is no
// function or options that are no map fail with error 10. The result is
// always undefined.
#pragma once

#include <memory>

#include "measurement/script/APMPFunctionValue.h"

class APMPEditingCallbackHandler;

class APMPRegisterCallbackNativeFunctionValue final : public APMPFunctionValue {
 public:
  explicit APMPRegisterCallbackNativeFunctionValue(std::shared_ptr<APMPEditingCallbackHandler> handler);
  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;

 private:
  std::shared_ptr<APMPEditingCallbackHandler> m_handler;
};

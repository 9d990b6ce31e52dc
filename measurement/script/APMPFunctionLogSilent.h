// APMPFunctionLogSilent: "silent" of the logger module; calling it gives the
// function itself, and its property "log" logs with silent on and monitored
// on.
#pragma once

#include <memory>

#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPLoggerDelegate.h"

class APMPFunctionLogSilent final : public APMPFunctionValue {
 public:
  explicit APMPFunctionLogSilent(std::shared_ptr<APMPLoggerDelegate> logger);
  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;
};

// APMPFunctionLogUnmonitored: "unmonitored" of the logger module; calling it
// gives the function itself, and its property "log" logs with silent off and
// monitored off.
#pragma once

#include <memory>

#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPLoggerDelegate.h"

class APMPFunctionLogUnmonitored final : public APMPFunctionValue {
 public:
  explicit APMPFunctionLogUnmonitored(std::shared_ptr<APMPLoggerDelegate> logger);
  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;
};

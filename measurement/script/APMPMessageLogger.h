// APMPMessageLogger: the module "internal.logger". Calling it gives
// undefined (arguments not evaluated); its properties are "log" (silent off,
// monitored on), "silent" and "unmonitored".
#pragma once

#include <memory>

#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPLoggerDelegate.h"

class APMPMessageLogger final : public APMPFunctionValue {
 public:
  explicit APMPMessageLogger(std::shared_ptr<APMPLoggerDelegate> logger);
  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;
};

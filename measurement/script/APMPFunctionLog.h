// APMPFunctionLog: "log" of the logger module (and of its "silent" and
// "unmonitored" variants). log(message) logs at program level 4;
// log(level, message, context...) takes the level's integer part, the message
// and up to three context values, all as texts (more than five arguments are
// evaluated, the rest ignored). At least one argument (error 9); a conversion
// error stops before anything is logged. The result is undefined.
#pragma once

#include <memory>

#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPLoggerDelegate.h"

class APMPFunctionLog final : public APMPFunctionValue {
 public:
  APMPFunctionLog(std::shared_ptr<APMPLoggerDelegate> logger, bool silent, bool monitored);
  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;

 private:
  std::shared_ptr<APMPLoggerDelegate> m_logger;
  bool m_silent;
  bool m_monitored;
};

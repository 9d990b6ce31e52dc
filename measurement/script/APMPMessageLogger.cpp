#include "measurement/script/APMPMessageLogger.h"

#include "measurement/script/APMPFunctionLog.h"
#include "measurement/script/APMPFunctionLogSilent.h"
#include "measurement/script/APMPFunctionLogUnmonitored.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPUndefinedValue.h"

APMPMessageLogger::APMPMessageLogger(std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(u"internal.logger", {}, {}, std::make_shared<APMPScope>()) {
  setValueForProperty(std::make_shared<APMPFunctionLog>(logger, false, true), u"log");
  setValueForProperty(std::make_shared<APMPFunctionLogSilent>(logger), u"silent");
  setValueForProperty(std::make_shared<APMPFunctionLogUnmonitored>(logger), u"unmonitored");
}

APMPValuePtr APMPMessageLogger::invokeWithArguments(const APMPValueList&, const APMPScopePtr&, APMPError&) {
  return APMPUndefined();
}

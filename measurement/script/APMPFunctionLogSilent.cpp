#include "measurement/script/APMPFunctionLogSilent.h"

#include "measurement/script/APMPFunctionLog.h"
#include "measurement/script/APMPScope.h"

APMPFunctionLogSilent::APMPFunctionLogSilent(std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(u"silent", {}, {}, std::make_shared<APMPScope>()) {
  setValueForProperty(std::make_shared<APMPFunctionLog>(std::move(logger), true, true), u"log");
}

APMPValuePtr APMPFunctionLogSilent::invokeWithArguments(const APMPValueList&, const APMPScopePtr&, APMPError&) {
  return shared_from_this();
}

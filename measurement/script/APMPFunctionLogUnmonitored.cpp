#include "measurement/script/APMPFunctionLogUnmonitored.h"

#include "measurement/script/APMPFunctionLog.h"
#include "measurement/script/APMPScope.h"

APMPFunctionLogUnmonitored::APMPFunctionLogUnmonitored(std::shared_ptr<APMPLoggerDelegate> logger)
    : APMPFunctionValue(u"unmonitored", {}, {}, std::make_shared<APMPScope>()) {
  setValueForProperty(std::make_shared<APMPFunctionLog>(std::move(logger), false, false), u"log");
}

APMPValuePtr APMPFunctionLogUnmonitored::invokeWithArguments(const APMPValueList&, const APMPScopePtr&,
                                                             APMPError&) {
  return shared_from_this();
}

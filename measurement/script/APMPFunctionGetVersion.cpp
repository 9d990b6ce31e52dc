#include "measurement/script/APMPFunctionGetVersion.h"

#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPRuntime.h"
#include "measurement/script/APMPScope.h"

APMPFunctionGetVersion::APMPFunctionGetVersion()
    : APMPFunctionValue(u"getVersion", {}, {}, std::make_shared<APMPScope>()) {}

APMPValuePtr APMPFunctionGetVersion::invokeWithArguments(const APMPValueList&, const APMPScopePtr&, APMPError&) {
  return APMPNumber(APMPRuntime::runtimeVersion());
}

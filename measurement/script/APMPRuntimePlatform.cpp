#include "measurement/script/APMPRuntimePlatform.h"

#include "measurement/script/APMPFunctionGetVersion.h"
#include "measurement/script/APMPScope.h"

APMPRuntimePlatform::APMPRuntimePlatform()
    : APMPFunctionValue(u"internal.platform", {}, {}, std::make_shared<APMPScope>()) {
  setValueForProperty(std::make_shared<APMPFunctionGetVersion>(), u"getVersion");
}

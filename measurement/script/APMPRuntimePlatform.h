// APMPRuntimePlatform: the module "internal.platform", a function without
// statements (calling it gives undefined) whose property "getVersion" answers
// the runtime version.
#pragma once

#include "measurement/script/APMPFunctionValue.h"

class APMPRuntimePlatform final : public APMPFunctionValue {
 public:
  APMPRuntimePlatform();
};

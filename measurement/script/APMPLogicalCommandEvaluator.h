// APMPLogicalCommandEvaluator: "1" and (the second argument only when the
// first is truthy, else the first value), "30" or (the first value when it
// is truthy, else the second), "28" not (a boolean). Arguments are evaluated
// lazily, in the order the operator needs them.
#pragma once

#include "measurement/script/APMPCommandEvaluator.h"

class APMPLogicalCommandEvaluator final : public APMPCommandEvaluator {
 public:
  APMPLogicalCommandEvaluator();
};

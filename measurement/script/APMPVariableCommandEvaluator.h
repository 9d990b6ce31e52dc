// APMPVariableCommandEvaluator: names, properties and literals. Every
// argument is evaluated first, in order (the first error stops); handlers
// check counts (error 9) and kinds (error 10).
//
//   "3"  name, value: assignment to a declared name (error 2 otherwise)
//   "41" names...: declared here as undefined
//   "52" name, value, ...: declared here as constants
//   "15" name: its value (undefined when missing)
//   "16", "17" object, key: property read
//   "43" object, key, value: property store (error 6 on null/undefined)
//   "7"  values...: a new array        "8" key, value, ...: a new map
//   "40" value: its type name          "44" undefined      "45" null
#pragma once

#include "measurement/script/APMPCommandEvaluator.h"

class APMPVariableCommandEvaluator final : public APMPCommandEvaluator {
 public:
  APMPVariableCommandEvaluator();
};

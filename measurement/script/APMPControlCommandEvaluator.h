// APMPControlCommandEvaluator: method calls, blocks, branches, switch,
// return/break/continue and function definitions. Handlers receive the raw
// argument statements and evaluate what they need themselves (counts refused
// with error 9, kinds with error 10).
//
//   "2"  target, method name, argument array: the target's method call
//   "4"  break          "6"  continue        "36" return [value]
//   "5", "9"  an array of statements, executed in the current scope
//   "13" each argument evaluated; the last value (control values refused)
//   "22" if: condition [, then [, else]]; an array branch is executed
//   "38" switch: discriminant, case array, body array (fall-through, an
//        extra last body is the default)
//   "39" condition ? then : else
//   "46" the raw arguments as an array (a statement list for later)
//   "51" function: name, parameter array, body statements...
//   "50" as "51", and assigned under its name
//   "53" the arguments executed in a new child scope
#pragma once

#include "measurement/script/APMPCommandEvaluator.h"

class APMPControlCommandEvaluator final : public APMPCommandEvaluator {
 public:
  APMPControlCommandEvaluator();
};

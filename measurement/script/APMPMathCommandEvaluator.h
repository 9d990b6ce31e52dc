// APMPMathCommandEvaluator: arithmetic on evaluated arguments.
//
//   "0"  a + b: text concatenation when either is an array, function, map or
//        string (a result longer than the text bound fails with error 10),
//        else the numeric sum
//   "37" a - b   "26" a * b   "10" a / b (IEEE)   "25" fmod(a, b)
//   "27" -a (so 0 gives -0)
//   "34", "35" the one argument unchanged; "32", "33" the first of two
#pragma once

#include "measurement/script/APMPCommandEvaluator.h"

class APMPMathCommandEvaluator final : public APMPCommandEvaluator {
 public:
  APMPMathCommandEvaluator();
};

// APMPBitwiseCommandEvaluator: bit operations on evaluated arguments, each
// operand converted to a number and then to 32 bits (APMPToInt32).
//
//   "56" a & b   "59" a | b   "62" a ^ b   "58" ~a
//   "57" a << (b & 31) as a signed 32-bit result
//   "60" a >> (b & 31), arithmetic
//   "61" a as unsigned >> (b & 31), logical (never negative)
#pragma once

#include "measurement/script/APMPCommandEvaluator.h"

class APMPBitwiseCommandEvaluator final : public APMPCommandEvaluator {
 public:
  APMPBitwiseCommandEvaluator();
};

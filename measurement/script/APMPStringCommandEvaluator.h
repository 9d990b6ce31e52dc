// APMPStringCommandEvaluator: the 17 methods of string values.
//
// A process-wide table from method name to routine, made once and read-only
// afterwards. evaluateCommand fails with error 17 for an unknown method
// (before any argument is evaluated); otherwise every argument is evaluated
// in order in the caller's scope and the routine runs on the receiver's
// UTF-16 units. Counts are checked (error 9), number arguments take their
// integer part (NaN as 0), "not found" is -1, and no result text is longer
// than the text bound (error 10).
//
//   charAt concat hasOwnProperty indexOf lastIndexOf match replace search
//   slice split substring toLowerCase toLocaleLowerCase toUpperCase
//   toLocaleUpperCase toString trim
//
// match and search compile their pattern with the platform's regular
// expressions (no options) and run under its work limits: a bad pattern, or
// one that exceeds the limits, fails the call with the regular-expression
// error.
#pragma once

#include <string>
#include <unordered_map>

#include "measurement/script/APMPRuntimeValue.h"

class APMPStringCommandEvaluator {
 public:
  static const APMPStringCommandEvaluator& sharedInstance();

  APMPStringCommandEvaluator();
  APMPValuePtr evaluateCommand(const std::u16string& method, const std::u16string& receiver,
                               const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) const;

 private:
  using Handler = APMPValuePtr (*)(const std::u16string& receiver, const APMPValueList& values,
                                   const APMPScopePtr& scope, APMPError& error);
  std::unordered_map<std::u16string, Handler> m_handlers;
};

// APMPArrayCommandEvaluator: the 21 methods of array values.
//
// A process-wide table from method name to routine, made once and read-only
// afterwards. evaluateCommand fails with error 17 for an unknown method
// (before any argument is evaluated); otherwise every argument is evaluated
// in order in the caller's scope and the routine runs on the receiver.
//
//   concat every filter forEach hasOwnProperty indexOf join lastIndexOf map
//   pop push reduce reduceRight reverse shift slice some sort splice
//   toString unshift
//
// Callback methods (every, filter, forEach, map, some) take exactly one
// function (error 10 otherwise), read the count once and call it for each
// index below that count that still holds an element, with the element,
// the index and the receiver, in the caller's scope; the first error stops.
// reduce and reduceRight skip holes and fail with error 8 on an array
// without elements when no starting value is given.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "measurement/script/APMPRuntimeValue.h"

class APMPArrayValue;

class APMPArrayCommandEvaluator {
 public:
  static const APMPArrayCommandEvaluator& sharedInstance();

  APMPArrayCommandEvaluator();
  APMPValuePtr evaluateCommand(const std::u16string& method, const std::shared_ptr<APMPArrayValue>& receiver,
                               const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) const;

 private:
  using Handler = APMPValuePtr (*)(const std::shared_ptr<APMPArrayValue>& receiver, const APMPValueList& values,
                                   const APMPScopePtr& scope, APMPError& error);
  std::unordered_map<std::u16string, Handler> m_handlers;
};

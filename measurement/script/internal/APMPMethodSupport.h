// What the string and array methods share: their number arguments, the
// range of slice, and the call of a routine from a method table.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPRuntimeValue.h"
#include "measurement/script/APMPUndefinedValue.h"

// The number's integer part (NaN as 0); none after a conversion error.
std::optional<double> APMPIntegerArgument(const APMPValuePtr& value, APMPError& error);

// slice(start, end) over `count` units or elements: integer parts, negative
// values counting from the end, both clamped to [0, count], start 0 and end
// count by default (a NaN end too), end never before start. None after a
// conversion error.
std::optional<std::pair<double, double>> APMPSliceRange(const APMPValueList& values, double count, APMPError& error);

// Looks the method up (error 17 for an unknown one, before any argument is
// evaluated), evaluates the arguments in order in the scope, and runs the
// routine with the receiver.
template <typename Receiver, typename Routine>
APMPValuePtr APMPCallMethod(const std::unordered_map<std::u16string, Routine>& routines, const std::u16string& method,
                            const Receiver& receiver, const APMPValueList& arguments, const APMPScopePtr& scope,
                            APMPError& error) {
  const auto found = routines.find(method);
  if (found == routines.end()) {
    error.set(kAPMPErrorUnknownMethod);
    return APMPUndefined();
  }
  const std::optional<APMPValueList> values = APMPEvaluator::evaluateArguments(arguments, scope, error);
  if (!values) return APMPUndefined();
  return found->second(receiver, *values, scope, error);
}

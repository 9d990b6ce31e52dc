// APMPEvaluator: the entry through which all code evaluates values.
//
// evaluateStatement first takes one step of the runtime's instruction
// counter (a value that is no statement then evaluates to itself, a
// statement to the result of its command: the family registered for its
// opcode, or a call of the function it names). Statements nest at most
// kMaxNesting deep on one thread (function calls included); deeper nesting
// fails with error 18 instead of exhausting the native stack.
//
// evaluateArguments evaluates a list of argument statements in order and
// stops at the first error (none).
//
// executeStatements runs a list in order in one scope and stops at the first
// error (undefined) or at the first control value (which becomes the
// result); otherwise the last value, undefined for an empty list.
//
// Thread safety: any thread; one runtime's values on one thread at a time.
#pragma once

#include <optional>

#include "measurement/script/APMPRuntimeValue.h"

class APMPEvaluator {
 public:
  static constexpr int kMaxNesting = 1000;

  static APMPValuePtr evaluateStatement(const APMPValuePtr& value, const APMPScopePtr& scope, APMPError& error);
  static std::optional<APMPValueList> evaluateArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                                        APMPError& error);
  static APMPValuePtr executeStatements(const APMPValueList& statements, const APMPScopePtr& scope,
                                        APMPError& error);
};

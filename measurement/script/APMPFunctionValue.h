// APMPFunctionValue: a function of the script language, or a native one.
//
// A script function has a name, parameter names, body statements and the
// scope it was defined in. Calling it (invokeWithEvaluatedArguments) makes a
// child scope of the defining scope (closures are lexical), declares each
// parameter with the argument at its position (undefined when missing;
// surplus arguments are dropped), runs the body there and answers the data
// of a "return", else the body's result as it is (the last statement's
// value, or a break or continue that escaped the body).
//
// invokeWithArguments takes unevaluated argument statements and the caller's
// scope: it evaluates them in order there (the first error stops) and calls
// invokeWithEvaluatedArguments. Native functions of the host override either.
//
// Text form: the name; number NaN; boolean true. Properties and method
// calls as for every value with properties (APMPObjectValue).
//
// Thread safety: one thread at a time (the runtime's).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/script/APMPObjectValue.h"

class APMPFunctionValue : public APMPObjectValue, public std::enable_shared_from_this<APMPFunctionValue> {
 public:
  APMPFunctionValue(std::u16string functionName, std::vector<std::u16string> parameterNames, APMPValueList statements,
                    APMPScopePtr definingScope);
  ~APMPFunctionValue() override;

  const std::u16string& functionName() const { return m_functionName; }
  const std::vector<std::u16string>& parameterNames() const { return m_parameters; }
  const APMPValueList& statements() const { return m_statements; }
  const APMPScopePtr& definingScope() const { return m_definingScope; }

  virtual APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                           APMPError& error);
  virtual APMPValuePtr invokeWithEvaluatedArguments(const APMPValueList& values, APMPError& error);

  std::u16string stringValueOrError(APMPError& error) const override;
  double doubleValueOrError(APMPError& error) const override;
  bool booleanValueOrError(APMPError& error) const override;
  void markReferences(APMPMarker& marker) const override;
  void dropReferences() override;

 private:
  std::u16string m_functionName;
  std::vector<std::u16string> m_parameters;
  APMPValueList m_statements;
  APMPScopePtr m_definingScope;
};

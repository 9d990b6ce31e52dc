// APMPFunctionEvaluator: statements whose name is no opcode. The name is
// looked up in the scope; a function value there is invoked with the raw
// argument statements in that scope and its result returned; any other
// value, or none, yields undefined without error.
#pragma once

#include "measurement/script/APMPCommandEvaluator.h"

class APMPFunctionEvaluator final : public APMPCommandEvaluator {
 public:
  APMPValuePtr evaluateCommand(const APMPStatementValue& statement, const APMPScopePtr& scope,
                               APMPError& error) const override;
};

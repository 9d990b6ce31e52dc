// APMPComparisonCommandEvaluator: "12" loose equality, "29" its negation,
// "20" strict equality, "21" its negation, and the orderings "18" (a > b),
// "19" (a >= b), "23" (a < b), "24" (a <= b) by relational comparison
// (APMPComparison.h). Exactly 2 arguments (error 9 before either is
// evaluated), both evaluated in order; the result is a boolean.
#pragma once

#include "measurement/script/APMPCommandEvaluator.h"

class APMPComparisonCommandEvaluator final : public APMPCommandEvaluator {
 public:
  APMPComparisonCommandEvaluator();
  APMPValuePtr evaluateCommand(const APMPStatementValue& statement, const APMPScopePtr& scope,
                               APMPError& error) const override;
};

// APMPCommandRegistrar: the process-wide table from opcode to command family.
//
// Made once on first use (thread-safe), with the families registered in the
// order bitwise, comparison, control, logical, loop, math, variable (a later
// registration of an opcode replaces an earlier one; these do not overlap),
// and read-only afterwards. Opcodes "11", "14", "31", "48" and "49" are
// unassigned: statements named so, like every other name, call the function
// of that name (APMPFunctionEvaluator).
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "measurement/script/APMPCommandEvaluator.h"
#include "measurement/script/APMPFunctionEvaluator.h"

class APMPCommandRegistrar {
 public:
  static const APMPCommandRegistrar& sharedInstance();

  APMPCommandRegistrar();
  void registerEvaluator(std::unique_ptr<APMPCommandEvaluator> evaluator);

  // One step of the counter, then the value itself or its command's result.
  APMPValuePtr evaluateStatement(const APMPValuePtr& value, const APMPScopePtr& scope, APMPError& error) const;
  // The family of an opcode; nullptr for names that call functions.
  const APMPCommandEvaluator* evaluatorForOpcode(int opcode) const;

 private:
  std::vector<std::unique_ptr<APMPCommandEvaluator>> m_families;
  std::array<const APMPCommandEvaluator*, APMPCommandEvaluator::kOpcodeCount> m_commandEvaluators{};
  APMPFunctionEvaluator m_functionEvaluator;
};

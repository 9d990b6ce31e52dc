#include "measurement/script/APMPCommandRegistrar.h"

#include "measurement/script/APMPBitwiseCommandEvaluator.h"
#include "measurement/script/APMPComparisonCommandEvaluator.h"
#include "measurement/script/APMPControlCommandEvaluator.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPInstructionCounter.h"
#include "measurement/script/APMPLogicalCommandEvaluator.h"
#include "measurement/script/APMPLoopCommandEvaluator.h"
#include "measurement/script/APMPMathCommandEvaluator.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "measurement/script/APMPVariableCommandEvaluator.h"
#include "measurement/script/internal/APMPMemoryCharge.h"

namespace {

// Statement nesting on this thread.
thread_local int tNesting = 0;

class NestingGuard {
 public:
  NestingGuard() { ++tNesting; }
  ~NestingGuard() { --tNesting; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  bool exceeded() const { return tNesting > APMPEvaluator::kMaxNesting; }
};

}  // namespace

const APMPCommandRegistrar& APMPCommandRegistrar::sharedInstance() {
  static const APMPCommandRegistrar* instance = new APMPCommandRegistrar();  // never destroyed
  return *instance;
}

APMPCommandRegistrar::APMPCommandRegistrar() {
  registerEvaluator(std::make_unique<APMPBitwiseCommandEvaluator>());
  registerEvaluator(std::make_unique<APMPComparisonCommandEvaluator>());
  registerEvaluator(std::make_unique<APMPControlCommandEvaluator>());
  registerEvaluator(std::make_unique<APMPLogicalCommandEvaluator>());
  registerEvaluator(std::make_unique<APMPLoopCommandEvaluator>());
  registerEvaluator(std::make_unique<APMPMathCommandEvaluator>());
  registerEvaluator(std::make_unique<APMPVariableCommandEvaluator>());
}

void APMPCommandRegistrar::registerEvaluator(std::unique_ptr<APMPCommandEvaluator> evaluator) {
  for (int opcode : evaluator->supportedOpcodes()) m_commandEvaluators[static_cast<size_t>(opcode)] = evaluator.get();
  m_families.push_back(std::move(evaluator));
}

const APMPCommandEvaluator* APMPCommandRegistrar::evaluatorForOpcode(int opcode) const {
  if (opcode < 0 || opcode >= APMPCommandEvaluator::kOpcodeCount) return nullptr;
  return m_commandEvaluators[static_cast<size_t>(opcode)];
}

APMPValuePtr APMPCommandRegistrar::evaluateStatement(const APMPValuePtr& value, const APMPScopePtr& scope,
                                                     APMPError& error) const {
  APMPInstructionCounter* counter = scope->instructionCounter();
  if (counter != nullptr && !counter->step(error)) return APMPUndefined();
  if (!value->isStatement()) return value;
  const APMPMemoryChargeScope charge(counter);
  const NestingGuard nesting;
  if (nesting.exceeded()) {
    error.set(kAPMPErrorLimitReached);
    return APMPUndefined();
  }
  const auto& statement = static_cast<const APMPStatementValue&>(*value);
  const APMPCommandEvaluator* family = evaluatorForOpcode(statement.opcode());
  if (family == nullptr) family = &m_functionEvaluator;
  return family->evaluateCommand(statement, scope, error);
}

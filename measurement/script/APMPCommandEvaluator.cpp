#include "measurement/script/APMPCommandEvaluator.h"

#include <optional>

#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPUndefinedValue.h"

APMPValuePtr APMPCommandEvaluator::evaluateCommand(const APMPStatementValue& statement, const APMPScopePtr& scope,
                                                   APMPError& error) const {
  const Handler handler = handlerFor(statement.opcode());
  if (handler == nullptr) return APMPUndefined();
  if (m_passing == ArgumentPassing::Raw) return handler(statement.arguments(), scope, error);
  std::optional<APMPValueList> values = APMPEvaluator::evaluateArguments(statement.arguments(), scope, error);
  if (!values) return APMPUndefined();
  return handler(*values, scope, error);
}

std::vector<int> APMPCommandEvaluator::supportedOpcodes() const {
  std::vector<int> opcodes;
  for (int opcode = 0; opcode < kOpcodeCount; ++opcode) {
    if (m_handlers[static_cast<size_t>(opcode)] != nullptr) opcodes.push_back(opcode);
  }
  return opcodes;
}

std::vector<std::u16string> APMPCommandEvaluator::allSupportedCommands() const {
  std::vector<std::u16string> names;
  for (int opcode : supportedOpcodes()) names.push_back(APMPNumberValue::u16StringFromDouble(opcode));
  return names;
}

bool APMPCheckArgumentCount(const APMPValueList& arguments, size_t count, APMPError& error) {
  if (arguments.size() == count) return true;
  error.set(kAPMPErrorArgumentCount);
  return false;
}

bool APMPCheckArgumentRange(const APMPValueList& arguments, size_t least, size_t most, APMPError& error) {
  if (arguments.size() >= least && arguments.size() <= most) return true;
  error.set(kAPMPErrorArgumentCount);
  return false;
}

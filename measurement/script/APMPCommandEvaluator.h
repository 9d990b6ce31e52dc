// APMPCommandEvaluator: the base of the command families (math, logical,
// bitwise, loop, comparison, control, variable) and of the function-call
// evaluator.
//
// A family holds one table from opcode to a plain handler routine, filled
// once when it is made and read-only afterwards; it keeps no other state, so
// one instance serves every runtime on every thread. evaluateCommand runs
// the handler of the statement's opcode with the statement's arguments, the
// scope and the error slot; an opcode the family does not know yields
// undefined. Families made with ArgumentPassing::Evaluated (comparison,
// variable, math, bitwise) evaluate every argument in order first (the first
// error stops) and hand the values to the handler; the others hand the raw
// argument statements over.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "measurement/script/APMPRuntimeValue.h"

class APMPStatementValue;

class APMPCommandEvaluator {
 public:
  static constexpr int kOpcodeCount = 67;  // "0" .. "66"

  enum class ArgumentPassing { Raw, Evaluated };

  explicit APMPCommandEvaluator(ArgumentPassing passing = ArgumentPassing::Raw) : m_passing(passing) {}
  virtual ~APMPCommandEvaluator() = default;

  virtual APMPValuePtr evaluateCommand(const APMPStatementValue& statement, const APMPScopePtr& scope,
                                       APMPError& error) const;
  // The opcodes of the table, as their decimal names.
  std::vector<std::u16string> allSupportedCommands() const;
  std::vector<int> supportedOpcodes() const;

 protected:
  using Handler = APMPValuePtr (*)(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error);

  void addHandler(int opcode, Handler handler) { m_handlers[static_cast<size_t>(opcode)] = handler; }
  // nullptr for an opcode outside the table.
  Handler handlerFor(int opcode) const {
    return opcode >= 0 && opcode < kOpcodeCount ? m_handlers[static_cast<size_t>(opcode)] : nullptr;
  }

 private:
  ArgumentPassing m_passing;
  std::array<Handler, kOpcodeCount> m_handlers{};
};

// Argument-count checks shared by the handlers: NO with error 9.
bool APMPCheckArgumentCount(const APMPValueList& arguments, size_t count, APMPError& error);
bool APMPCheckArgumentRange(const APMPValueList& arguments, size_t least, size_t most, APMPError& error);

// APMPStatementValue: an unevaluated statement, its command name and its
// argument values (literals and nested statements). Statements are values:
// they can sit in arrays and be evaluated later (bodies of blocks, loops and
// functions). The command name is an opcode "0".."66" (kept as its number
// for dispatch) or the name of a function to call. Statements have no text,
// number or boolean form (errors 5, 4, 3).
#pragma once

#include <string>

#include "measurement/script/APMPRuntimeValue.h"

class APMPStatementValue final : public APMPRuntimeValue {
 public:
  static constexpr int kNoOpcode = -1;

  APMPStatementValue(std::u16string functionName, APMPValueList arguments);
  ~APMPStatementValue() override;

  const std::u16string& functionName() const { return m_functionName; }
  const APMPValueList& arguments() const { return m_arguments; }
  // The opcode the name spells in canonical decimal (no sign, no leading
  // zero), kNoOpcode for any other name.
  int opcode() const { return m_opcode; }

  void markReferences(APMPMarker& marker) const override;

 private:
  std::u16string m_functionName;
  APMPValueList m_arguments;
  int m_opcode;
};

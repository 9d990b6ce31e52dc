// ScriptNotation: script programs written as JSON values, turned into the
// wire messages the runtime's converter reads (so tests and the probe go
// through the converter).
//
// Entities:
//   "text"                 a string literal
//   12.5                   a number literal
//   true / false           a boolean literal
//   ["COMMAND", ARG, ...]  a statement (opcode or function name) with its
//                          arguments, each an entity
//   {"n": "NaN" | "Infinity" | "-Infinity" | "-0"}
//                          a number literal with that value
//   {"kind": K, "cmd": "...", "args": [...], "s": "...", "b": B, "d": D}
//                          a raw entity with exactly the fields given (any
//                          subset), for damaged or unusual nodes
// Programs: a JSON array of top-level statements, or
//   {"instructions": [...], "activities": [{"name": "...", "data": [...]}]}.
//
// Failure: a value of none of these forms gives nullptr with `error` set to
// a short reason. Nesting deeper than kMaxNotationDepth is refused.
//
// Thread safety: pure; any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "measurement/messages/APMPBMessage.h"
#include "platform/values/Value.h"

namespace testkit {

inline constexpr int kMaxNotationDepth = 5000;

// JSON text of a notation (fragments allowed, nesting up to
// kMaxNotationDepth); none with `error` set.
std::optional<platform::Value> parseNotation(std::string_view json, std::string& error);

// Fills an empty RuntimeEntity in place; NO with `error` set.
bool fillRuntimeEntity(NANOMessageBase& entity, const platform::Value& notation, std::string& error);
std::shared_ptr<APMPBRuntimeEntity> runtimeEntityFromNotation(const platform::Value& notation, std::string& error);
std::shared_ptr<APMPBProgram> programFromNotation(const platform::Value& notation, std::string& error);

}  // namespace testkit

// ScriptRun: runs programs written in the entity notation (ScriptNotation.h)
// in a runtime and describes their results, for the tests and the probe.
//
// describeScriptValue gives the probe's forms: "number TEXT" (the runtime's
// own number text), "string \"...\"" (JSON-escaped), "boolean true|false",
// "undefined", "null", "array [E,...]" (elements in these forms without the
// kind word; holes empty; an array met again inside itself as [...]),
// "map", "function NAME", and for the internal kinds "statement NAME" and
// "control break|continue|return". describeScriptError gives
// "error DOMAIN CODE".
//
// Thread safety: as the runtime's (one thread per runtime).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "measurement/script/APMPRuntime.h"
#include "platform/values/Error.h"

namespace testkit {

struct ScriptRun {
  APMPValuePtr value;                    // the result (undefined after an error)
  std::optional<platform::Error> error;  // the run's error, if any
  int32_t steps = 0;                     // the runtime's instruction count afterwards
  // "error DOMAIN CODE" or the value's description, taken when the run
  // ended (values a runtime made are emptied when it goes); "bad notation:
  // REASON" when the notation did not build.
  std::string text;
};

// One entity, run as a one-statement program.
ScriptRun runScriptEntity(APMPRuntime& runtime, std::string_view entityJson);
// A JSON array of top-level statements.
ScriptRun runScriptProgram(APMPRuntime& runtime, std::string_view programJson);
// In a fresh runtime (gone when they return: use the text).
ScriptRun runScriptEntity(std::string_view entityJson);
ScriptRun runScriptProgram(std::string_view programJson);

std::string describeScriptValue(const APMPValuePtr& value);
std::string describeScriptError(const platform::Error& error);

}  // namespace testkit

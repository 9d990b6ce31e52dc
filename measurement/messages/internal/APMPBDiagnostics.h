// Where the wire messages' diagnostic lines go.
//
// The C routines and wire callbacks write "<ERROR>" lines to standard output
// through the platform console, in order. The size-cap text has no line end
// of its own: it is kept and written in front of the next console line of the
// same thread, as the bytes would run on a terminal. The field operations
// write their "<Nano/Failure>" and other lines to the platform system log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace apmpb {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

void consoleLine(std::string_view text);
// Text without a line end, written before the next console line.
void consoleFragment(std::string_view text);
// Writes a pending fragment as a line of its own (nothing when none).
void flushConsoleFragment();

void systemLog(std::string_view text);
// "<Nano/Failure> Field type isn't KIND. ..." for a slot of another kind.
[[gnu::cold]] void logWrongKind(const char* messageName, int32_t slot, const char* kind);

}  // namespace apmpb

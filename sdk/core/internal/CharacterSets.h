// Character tests on UTF-8 text used by app names and library names.
// Thread safety: stateless.
#pragma once

#include <string_view>

namespace rir_internal {

// Every character is a Unicode letter, mark or number, or one of `extra`
// (ASCII characters). Malformed UTF-8 fails.
bool consistsOfAlphanumericsAnd(std::string_view text, std::string_view extra);

}  // namespace rir_internal

// Structural checks run before bytes are handed to libplist, whose parsers
// recurse once per nesting level and would overflow the stack on deeply
// nested (or, for binary, cyclic) input, whose string getters abort on a
// string holding a NUL character and which drops unpaired UTF-16 surrogates.
// Bounds, reference ranges, cycles, nesting depth and the characters of
// strings are checked without recursion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform::storage_internal {

// Empty when the binary plist is safe to parse, else the reason.
std::optional<std::string> checkBinaryPlist(const uint8_t* data, size_t size, size_t maxDepth);
// Empty when the XML text nests arrays and dictionaries at most maxDepth deep.
std::optional<std::string> checkXmlPlistDepth(const char* text, size_t size, size_t maxDepth);

}  // namespace platform::storage_internal

// Structural checks run before bytes are handed to libplist, whose parsers
// recurse once per nesting level and would overflow the stack on deeply
// nested (or, for binary, cyclic) input, whose string getters abort on a
// string holding a NUL character, which drops unpaired UTF-16 surrogates and
// which copies an object once per reference to it (so a few bytes of shared
// references can expand to millions of objects). Bounds, reference ranges,
// cycles, nesting depth, the expanded object count and the characters of
// strings are checked without recursion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform::storage_internal {

// Empty when the binary plist is safe to parse, else the reason. The tree it
// expands to (every reference counted as a copy) holds at most maxObjects
// objects, keys included.
std::optional<std::string> checkBinaryPlist(const uint8_t* data, size_t size, size_t maxDepth, uint64_t maxObjects);
// Empty when the XML text nests arrays and dictionaries at most maxDepth deep.
std::optional<std::string> checkXmlPlistDepth(const char* text, size_t size, size_t maxDepth);

}  // namespace platform::storage_internal

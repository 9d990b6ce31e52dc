// Small text helpers of the engine: splitting at line breaks (U+000A to
// U+000D, U+0085, U+2028, U+2029; each break separates, so "\r\n" gives an
// empty piece), trimming, and counting user-perceived characters
// (grapheme clusters) on ICU.
//
// Stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavix::engine_internal {

std::vector<std::string_view> splitLines(std::string_view text);
std::string trimmed(std::string_view text);
size_t characterCount(std::string_view utf8);
std::string characterPrefix(std::string_view utf8, size_t count);
// The longest prefix of at most `maxBytes` bytes that ends on a boundary of
// user-perceived characters (extended grapheme clusters), so an accent or a
// joined emoji is never split from its base.
std::string characterPrefixWithin(std::string_view utf8, size_t maxBytes);
bool contains(std::string_view text, std::string_view part);
std::string removeAll(std::string_view text, std::string_view part);

}  // namespace tavix::engine_internal

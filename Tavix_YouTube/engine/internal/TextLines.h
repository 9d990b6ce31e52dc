// Small text helpers of the engine: splitting at line breaks (U+000A to
// U+000D, U+0085, U+2028, U+2029; each break separates, so "\r\n" gives an
// empty piece), trimming, and counting user-perceived characters
// (grapheme clusters) on ICU.
//
// Stateless; safe from any thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tavix::engine_internal {

std::vector<std::string_view> splitLines(std::string_view text);
// Calls visit(line) for each piece splitLines would give, without a list.
template <typename Visit>
void forEachLine(std::string_view text, Visit&& visit) {
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    // Eight bytes at a time while none can begin a break (every break begins
    // with a byte from 0x0A to 0x0D, or with 0xC2 or 0xE2).
    while (i + 8 <= text.size()) {
      uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      constexpr uint64_t kOnes = 0x0101010101010101ull;
      constexpr uint64_t kHighs = 0x8080808080808080ull;
      const uint64_t belowSpace = (word - kOnes * 0x0E) & ~word & kHighs;  // some byte < 0x0E
      if (belowSpace || (word & kHighs)) break;
      i += 8;
    }
    if (i >= text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    size_t breakLength = 0;
    if (c >= 0x0A && c <= 0x0D) {
      breakLength = 1;
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
      breakLength = 2;
    } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      breakLength = 3;
    }
    if (breakLength) {
      visit(text.substr(start, i - start));
      i += breakLength;
      start = i;
    } else {
      ++i;
    }
  }
  visit(text.substr(start));
}
std::string trimmed(std::string_view text);
size_t characterCount(std::string_view utf8);
std::string characterPrefix(std::string_view utf8, size_t count);
// The longest prefix of at most `maxBytes` bytes that ends on a boundary of
// user-perceived characters (extended grapheme clusters), so an accent or a
// joined emoji is never split from its base.
std::string characterPrefixWithin(std::string_view utf8, size_t maxBytes);
inline bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }
std::string removeAll(std::string_view text, std::string_view part);

}  // namespace tavix::engine_internal

// Scanners for the three fixed patterns of the downloader's progress lines,
// written out by hand over std::string_view (no regular-expression engine,
// no conversion, no allocation):
//
//   percent  \d+\.?\d*%              findPercent: the number before the "%"
//   speed    at\s+[\d\.]+\w+iB/s     findSpeed:   the whole match
//   size     of\s+[\d\.]+\w+iB       findSize:    the whole match
//
// Each answers the leftmost match, and for it the text a backtracking regular
// expression engine picks (greedy quantifiers), exactly as the platform's
// regular expressions would. The classes keep their Unicode meaning there:
// \d is a decimal digit (general category Nd), \s a White_Space character,
// \w an alphabetic character, a mark, a decimal digit, a connector
// punctuation or U+200C/U+200D. Ill-formed UTF-8 bytes belong to no class
// (the regular expressions saw U+FFFD there).
//
// Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string_view>

namespace tavix::engine_internal {

bool isDigitCharacter(char32_t c);
bool isSpaceCharacter(char32_t c);
bool isWordCharacter(char32_t c);

std::optional<std::string_view> findPercent(std::string_view line);
std::optional<std::string_view> findSpeed(std::string_view line);
std::optional<std::string_view> findSize(std::string_view line);

}  // namespace tavix::engine_internal

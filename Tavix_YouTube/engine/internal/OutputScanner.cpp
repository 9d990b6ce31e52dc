#include "Tavix_YouTube/engine/internal/OutputScanner.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace tavix::engine_internal {

namespace {

// One character of the line: its code point (negative for an ill-formed
// sequence, which matches nothing) and its length in bytes.
struct Character {
  int32_t code;
  size_t length;
};

inline Character characterAt(std::string_view line, size_t at) {
  const auto byte = static_cast<unsigned char>(line[at]);
  if (byte < 0x80) return {byte, 1};
  const auto* text = reinterpret_cast<const uint8_t*>(line.data());
  const auto length = static_cast<int32_t>(line.size());
  auto next = static_cast<int32_t>(at);
  UChar32 code;
  U8_NEXT(text, next, length, code);
  return {code, static_cast<size_t>(next) - at};
}

template <typename Class>
inline bool classAt(std::string_view line, size_t at, Class isMember, size_t& length) {
  const Character c = characterAt(line, at);
  length = c.length;
  return c.code >= 0 && isMember(static_cast<char32_t>(c.code));
}

// End of the run of `isMember` characters that begins at `at`.
template <typename Class>
inline size_t runEnd(std::string_view line, size_t at, Class isMember) {
  size_t length = 0;
  while (at < line.size() && classAt(line, at, isMember, length)) at += length;
  return at;
}

bool isDigitOrDot(char32_t c) { return c == '.' || isDigitCharacter(c); }

// `literal` \s+ [\d\.]+ \w+ `suffix`, leftmost match.
std::optional<std::string_view> findQuantity(std::string_view line, std::string_view literal, std::string_view suffix) {
  for (size_t start = line.find(literal); start != std::string_view::npos; start = line.find(literal, start + 1)) {
    const size_t spaces = start + literal.size();
    const size_t number = runEnd(line, spaces, isSpaceCharacter);
    if (number == spaces) continue;
    const size_t numberEnd = runEnd(line, number, isDigitOrDot);
    if (numberEnd == number) continue;
    // The number takes its whole run (no whitespace, digit or dot can follow
    // it in the word), and the word then ends at the last place where the
    // suffix follows (greedy \w+ giving back as little as it can).
    size_t matchEnd = std::string_view::npos;
    size_t length = 0;
    for (size_t at = numberEnd; at < line.size() && classAt(line, at, isWordCharacter, length);) {
      at += length;
      if (line.substr(at, suffix.size()) == suffix) matchEnd = at + suffix.size();
    }
    if (matchEnd != std::string_view::npos) return line.substr(start, matchEnd - start);
    // Else the number gives back its last digit to the word: the suffix must
    // follow the number directly, and the number keep a character.
    if (line.substr(numberEnd, suffix.size()) == suffix) {
      size_t last = number;
      size_t lastLength = 0;
      for (size_t at = number; at < numberEnd; at += lastLength) {
        last = at;
        lastLength = characterAt(line, at).length;
      }
      if (last > number && classAt(line, last, isDigitCharacter, length)) {
        return line.substr(start, numberEnd + suffix.size() - start);
      }
    }
  }
  return std::nullopt;
}

}  // namespace

bool isDigitCharacter(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  return u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER;
}

bool isSpaceCharacter(char32_t c) {
  if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE);
}

bool isWordCharacter(char32_t c) {
  if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  if (c == 0x200C || c == 0x200D) return true;
  const auto code = static_cast<UChar32>(c);
  return u_hasBinaryProperty(code, UCHAR_ALPHABETIC) ||
         (U_GET_GC_MASK(code) & (U_GC_M_MASK | U_GC_ND_MASK | U_GC_PC_MASK)) != 0;
}

std::optional<std::string_view> findPercent(std::string_view line) {
  size_t at = 0;
  size_t length = 0;
  while (at < line.size()) {
    if (!classAt(line, at, isDigitCharacter, length)) {
      at += length;
      continue;
    }
    // \d+ takes its run; then "%" directly, or "." and a (possibly empty)
    // run of digits and "%". Starting later inside the same run ends the same
    // way, so the search goes on after it.
    const size_t start = at;
    const size_t digitsEnd = runEnd(line, at, isDigitCharacter);
    size_t percent = digitsEnd;
    if (percent < line.size() && line[percent] == '.') percent = runEnd(line, percent + 1, isDigitCharacter);
    if (percent < line.size() && line[percent] == '%') return line.substr(start, percent - start);
    at = digitsEnd;
  }
  return std::nullopt;
}

std::optional<std::string_view> findSpeed(std::string_view line) { return findQuantity(line, "at", "iB/s"); }

std::optional<std::string_view> findSize(std::string_view line) { return findQuantity(line, "of", "iB"); }

}  // namespace tavix::engine_internal

#include "sdk/data-coder/SnakeCase.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <vector>

#include "platform/text/Unicode.h"

namespace coding {

namespace {

struct CodePoint {
  UChar32 value;  // negative for an ill-formed byte sequence
  size_t offset;
};

std::vector<CodePoint> codePoints(std::string_view text) {
  std::vector<CodePoint> points;
  int32_t index = 0;
  const auto length = static_cast<int32_t>(text.size());
  while (index < length) {
    const size_t offset = static_cast<size_t>(index);
    UChar32 c = 0;
    U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), index, length, c);
    points.push_back({c, offset});
  }
  return points;
}

bool isUpper(UChar32 c) {
  if (c < 0) return false;
  const int8_t type = u_charType(c);
  return type == U_UPPERCASE_LETTER || type == U_TITLECASE_LETTER;
}

bool isLower(UChar32 c) { return c >= 0 && u_charType(c) == U_LOWERCASE_LETTER; }

}  // namespace

std::string lowercased(std::string_view text) { return platform::Unicode::lowercase(text); }

std::string capitalized(std::string_view text) {
  std::string result;
  bool wordStart = true;
  std::vector<CodePoint> points = codePoints(text);
  for (size_t index = 0; index < points.size(); ++index) {
    const size_t end = index + 1 < points.size() ? points[index + 1].offset : text.size();
    std::string_view character = text.substr(points[index].offset, end - points[index].offset);
    const UChar32 c = points[index].value;
    const bool separator = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (separator) {
      result += character;
      wordStart = true;
      continue;
    }
    result += wordStart ? platform::Unicode::uppercase(character) : platform::Unicode::lowercase(character);
    wordStart = false;
  }
  return result;
}

std::string toSnakeCase(std::string_view key) {
  if (key.empty()) return std::string(key);
  std::vector<CodePoint> points = codePoints(key);
  const size_t count = points.size();
  auto offsetOf = [&](size_t index) { return index < count ? points[index].offset : key.size(); };
  auto find = [&](size_t from, bool (*test)(UChar32)) {
    for (size_t index = from; index < count; ++index) {
      if (test(points[index].value)) return index;
    }
    return count;
  };

  std::vector<std::pair<size_t, size_t>> words;  // code point ranges
  size_t wordStart = 0;
  size_t searchFrom = 1;
  while (true) {
    const size_t upper = find(searchFrom, isUpper);
    if (upper == count) break;
    words.emplace_back(wordStart, upper);
    const size_t lower = find(upper, isLower);
    if (lower == count) {
      wordStart = upper;
      break;
    }
    if (lower == upper + 1) {
      wordStart = upper;
    } else {
      words.emplace_back(upper, lower - 1);
      wordStart = lower - 1;
    }
    searchFrom = lower + 1;
  }
  words.emplace_back(wordStart, count);

  std::string result;
  for (size_t index = 0; index < words.size(); ++index) {
    if (index > 0) result += '_';
    const size_t begin = offsetOf(words[index].first);
    const size_t end = offsetOf(words[index].second);
    result += lowercased(key.substr(begin, end - begin));
  }
  return result;
}

}  // namespace coding

#include "Tavix_YouTube/engine/internal/TextLines.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <memory>

#include "platform/text/Unicode.h"

namespace tavix::engine_internal {

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  forEachLine(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}

std::string trimmed(std::string_view text) { return platform::Unicode::trimWhitespaceAndNewlines(text); }

namespace {
// Byte offsets of grapheme-cluster boundaries, up to `limit` clusters.
template <typename Visit>
void forEachBoundary(std::string_view utf8, Visit visit) {
  UErrorCode status = U_ZERO_ERROR;
  UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
  if (U_FAILURE(status)) return;
  std::unique_ptr<UText, decltype(&utext_close)> textGuard(text, utext_close);
  UBreakIterator* it = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
  if (U_FAILURE(status)) return;
  std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> itGuard(it, ubrk_close);
  ubrk_setUText(it, text, &status);
  if (U_FAILURE(status)) return;
  ubrk_first(it);
  for (int32_t next = ubrk_next(it); next != UBRK_DONE; next = ubrk_next(it)) {
    if (!visit(static_cast<size_t>(next))) return;
  }
}
}  // namespace

size_t characterCount(std::string_view utf8) {
  size_t count = 0;
  forEachBoundary(utf8, [&](size_t) {
    ++count;
    return true;
  });
  return count;
}

std::string characterPrefix(std::string_view utf8, size_t count) {
  if (count == 0) return {};
  size_t seen = 0;
  size_t end = utf8.size();
  forEachBoundary(utf8, [&](size_t offset) {
    if (++seen == count) {
      end = offset;
      return false;
    }
    return true;
  });
  return std::string(utf8.substr(0, end));
}

std::string characterPrefixWithin(std::string_view utf8, size_t maxBytes) {
  if (utf8.size() <= maxBytes) return std::string(utf8);
  size_t end = 0;
  forEachBoundary(utf8, [&](size_t offset) {
    if (offset > maxBytes) return false;
    end = offset;
    return true;
  });
  return std::string(utf8.substr(0, end));
}

std::string removeAll(std::string_view text, std::string_view part) {
  std::string result;
  if (part.empty()) return std::string(text);
  size_t start = 0;
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, start)) {
    result.append(text.substr(start, at - start));
    start = at + part.size();
  }
  result.append(text.substr(start));
  return result;
}

}  // namespace tavix::engine_internal

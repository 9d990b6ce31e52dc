#include "Tavix_YouTube/engine/Utf8ChunkDecoder.h"

#include <unicode/utf8.h>

#include "platform/text/Unicode.h"

namespace tavix {

namespace {
// Length of the incomplete character at the end of `bytes` (0 when the text
// ends on a character boundary or the tail cannot begin a valid character).
size_t incompleteTail(std::string_view bytes) {
  const size_t n = bytes.size();
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    unsigned char c = static_cast<unsigned char>(bytes[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
    size_t need = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    if (need <= back) return 0;  // complete (or a plain byte)
    // The lead byte and what follows must be a valid beginning of a character;
    // complete it with continuation bytes to check with the full validator.
    std::string probe(bytes.substr(n - back));
    probe.append(need - back, static_cast<char>(0x80));
    // 0x80 may be too low for leads with a restricted second byte (E0, F0);
    // try the highest continuation value as well before declining.
    if (platform::Unicode::isValidUtf8(probe)) return back;
    std::string high(bytes.substr(n - back));
    high.append(need - back, static_cast<char>(0xBF));
    if (platform::Unicode::isValidUtf8(high)) return back;
    return 0;
  }
  return 0;
}

// Well-formed sequences copied, each maximal ill-formed part replaced by U+FFFD.
std::string lossyUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  const int32_t length = static_cast<int32_t>(bytes.size());
  int32_t i = 0;
  while (i < length) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(bytes.data() + start, static_cast<size_t>(i - start));
    }
  }
  return out;
}
}  // namespace

std::optional<std::string> Utf8ChunkDecoder::decode(std::string_view chunk) {
  std::string bytes = std::move(m_carry);
  m_carry.clear();
  bytes.append(chunk);
  size_t tail = incompleteTail(bytes);
  if (tail > 0) {
    m_carry = bytes.substr(bytes.size() - tail);
    bytes.resize(bytes.size() - tail);
  }
  if (bytes.empty()) return std::nullopt;
  if (!platform::Unicode::isValidUtf8(bytes)) return lossyUtf8(bytes);
  return bytes;
}

}  // namespace tavix

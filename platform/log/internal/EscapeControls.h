// The written form of a console or log line: control characters escaped, so
// that text from outside (a page's title, a server's message) can neither
// drive the terminal (escape sequences) nor split or overwrite the line.
//
//   "\n" "\r" "\t" "\e" for those four, "\xHH" for the other C0 characters
//   and DEL, "\u0080" ... "\u009f" for the C1 characters (written in UTF-8
//   as C2 80 ... C2 9F). Everything else, ill-formed UTF-8 included, stays.
//
// Pure; any thread.
#pragma once

#include <string>
#include <string_view>

namespace platform::internal {

inline bool isEscapedControl(std::string_view text, size_t at) {
  const auto byte = static_cast<unsigned char>(text[at]);
  if (byte < 0x20 || byte == 0x7F) return true;
  return byte == 0xC2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
         static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

// Appends the written form of `text` to `out`.
inline void appendEscapingControls(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t at = 0; at < text.size(); ++at) {
    if (!isEscapedControl(text, at)) {
      out.push_back(text[at]);
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[at]);
    switch (byte) {
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '\t': out.append("\\t"); break;
      case 0x1B: out.append("\\e"); break;
      case 0xC2: {
        const auto next = static_cast<unsigned char>(text[++at]);
        out.append("\\u00");
        out.push_back(kHex[next >> 4]);
        out.push_back(kHex[next & 0xF]);
        break;
      }
      default:
        out.append("\\x");
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0xF]);
    }
  }
}

}  // namespace platform::internal

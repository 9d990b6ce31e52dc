// Utf8ChunkDecoder: turns the byte chunks of one pipe into UTF-8 texts.
//
// A chunk may end inside a multi-byte character; those trailing bytes (at
// most three, and only when they could still start a valid character) are
// kept and put in front of the next chunk instead of making the whole chunk
// invalid. Any other ill-formed bytes are decoded lossily: each maximal
// ill-formed part becomes U+FFFD, so the text around them (an "ERROR:" line
// of the same read, say) is kept. finish() at end of file drops an incomplete
// tail.
//
// Thread safety: one decoder per stream, used by one thread at a time.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavix {

class Utf8ChunkDecoder {
 public:
  // The text of this chunk (with any carried bytes in front, ill-formed bytes
  // replaced), or none when there is nothing to hand on yet.
  std::optional<std::string> decode(std::string_view chunk);
  // End of stream: forgets an incomplete tail.
  void finish() { m_carry.clear(); }
  const std::string& pending() const { return m_carry; }

 private:
  std::string m_carry;
};

}  // namespace tavix

// Base64 text from outside (header values, stored tokens): decoding is
// strict and never crashes; whatever decodes re-encodes to text of the same
// length (padding as given) that decodes to the same bytes (unused low bits
// of the last character are not checked, so the text itself may differ);
// any bytes encode and decode back unchanged in both alphabets.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/text/Base64.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::Base64;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (auto alphabet : {Base64::Alphabet::Standard, Base64::Alphabet::Url}) {
    auto decoded = Base64::decode(text, alphabet);
    if (decoded) {
      const bool padded = !text.empty() && text.back() == '=';
      std::string again = Base64::encode(*decoded, alphabet, padded || text.size() % 4 == 0);
      FUZZ_CHECK(again.size() == text.size());
      FUZZ_CHECK(Base64::decode(again, alphabet) == decoded);
      FUZZ_CHECK(Base64::decode(text, alphabet, Base64::Padding::Required).has_value() ==
                 (text.size() % 4 == 0));
    }
    std::string encoded = Base64::encode(std::span<const uint8_t>(data, size), alphabet);
    auto back = Base64::decode(encoded, alphabet, Base64::Padding::Required);
    FUZZ_CHECK(back && back->size() == size && std::equal(back->begin(), back->end(), data));
    std::string bare = Base64::encode(std::span<const uint8_t>(data, size), alphabet, false);
    FUZZ_CHECK(bare.find('=') == std::string::npos && Base64::decode(bare, alphabet) == back);
  }
  return 0;
}

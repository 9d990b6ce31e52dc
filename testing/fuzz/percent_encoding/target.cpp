// Percent-encoded text from outside (addresses, form values): decoding is
// strict and never crashes; decode() gives valid UTF-8 only; every encoder's
// output decodes back to its input and holds only the characters of its set
// plus "%XX".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text/PercentEncoding.h"
#include "platform/text/Unicode.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::PercentEncoding;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto bytes = PercentEncoding::decodeBytes(text);
  auto decoded = PercentEncoding::decode(text);
  FUZZ_CHECK(!decoded || (bytes && *decoded == *bytes && platform::Unicode::isValidUtf8(*decoded)));
  FUZZ_CHECK(decoded.has_value() == (bytes && platform::Unicode::isValidUtf8(*bytes)));
  FUZZ_CHECK(!bytes || bytes->size() <= text.size());

  using Encoder = std::string (*)(std::string_view);
  for (Encoder encode : {&PercentEncoding::encodeAlphanumericDash, &PercentEncoding::encodeQuery,
                         &PercentEncoding::encodeFormComponent, &PercentEncoding::encodePath,
                         &PercentEncoding::encodeFragment, &PercentEncoding::encodeUserInfo,
                         &PercentEncoding::encodeHost}) {
    std::string encoded = encode(text);
    auto back = PercentEncoding::decodeBytes(encoded);
    FUZZ_CHECK(back && *back == text);
    for (size_t i = 0; i < encoded.size(); ++i) {
      char c = encoded[i];
      FUZZ_CHECK(c == '%' || PercentEncoding::isPathChar(c) || c == '/' || c == '?');
    }
  }
  std::string form = PercentEncoding::encodeFormComponent(text);
  FUZZ_CHECK(form.find_first_of("&=+") == std::string::npos);
  return 0;
}

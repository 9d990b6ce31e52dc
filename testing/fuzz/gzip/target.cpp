// Gzip and zlib streams from outside (stored bundles, answers): inflating
// gives the bytes or an error of the documented codes, never a crash, and
// never more than the caller's size limit; the SDK wrapper gives the same
// outcome; whatever is compressed inflates back to the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/crypto/Gzip.h"
#include "sdk/utilities/ZULGzip.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::Gzip;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  auto inflated = Gzip::inflate(input);
  if (inflated) {
    FUZZ_CHECK(inflated->has_value() == (size != 0));
  } else {
    const auto code = inflated.error().code;
    FUZZ_CHECK(inflated.error().domain == Gzip::kErrorDomain);
    FUZZ_CHECK(code == Gzip::kErrorZlib || code == Gzip::kErrorTrailingBytes || code == Gzip::kErrorOutputTooLarge);
  }

  platform::Error error;
  auto wrapped = ZULGzip::zul_dataByInflatingGzippedData(input, &error);
  if (inflated) {
    FUZZ_CHECK(wrapped == *inflated);
  } else {
    FUZZ_CHECK(!wrapped && error.code == inflated.error().code);
  }

  constexpr size_t kSmallLimit = 1024;
  auto limited = Gzip::inflate(input, kSmallLimit);
  if (inflated && inflated->has_value() && (*inflated)->size() > kSmallLimit) {
    FUZZ_CHECK(!limited && limited.error().code == Gzip::kErrorOutputTooLarge);
  } else if (limited && inflated) {
    FUZZ_CHECK(*limited == *inflated);
  }

  auto compressed = Gzip::compress(input);
  FUZZ_CHECK(compressed.ok());
  if (size == 0) {
    FUZZ_CHECK(!compressed->has_value());
    return 0;
  }
  FUZZ_CHECK(compressed->has_value() && (*compressed)->size() >= 2 && (**compressed)[0] == 0x1f &&
             (**compressed)[1] == 0x8b);
  auto back = Gzip::inflate(**compressed);
  FUZZ_CHECK(back.ok() && back->has_value());
  FUZZ_CHECK(std::equal((*back)->begin(), (*back)->end(), input.begin(), input.end()));
  return 0;
}

// Numbers read from outside text (answers, stored values, arguments):
// parsing never crashes and never yields NaN or infinity; a parsed number
// formats back to text that parses to the same number; scanning the front
// of any text gives a finite value or a saturated one.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/text/NumberText.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::NumberText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto i = NumberText::parseInt64(text)) {
    FUZZ_CHECK(NumberText::parseInt64(NumberText::format(*i)) == i);
    FUZZ_CHECK(NumberText::scanInt64(text) == *i);
  }
  if (auto u = NumberText::parseUInt64(text)) {
    FUZZ_CHECK(NumberText::parseUInt64(NumberText::format(*u)) == u);
  }
  if (auto d = NumberText::parseDouble(text)) {
    FUZZ_CHECK(std::isfinite(*d));
    auto again = NumberText::parseDouble(NumberText::formatDouble(*d));
    FUZZ_CHECK(again && (*again == *d));
    FUZZ_CHECK(NumberText::scanDouble(text) == *d);
  }
  FUZZ_CHECK(!std::isnan(NumberText::scanDouble(text)));
  NumberText::scanInt64(text);
  return 0;
}

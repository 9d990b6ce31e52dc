// JSON text from outside (service answers, heartbeat files): parsing is an
// error or a value, never a crash; a parsed value writes back as JSON and
// reads back equal (numbers keep their value, 64-bit integers exact).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/storage/Json.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::Json;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (bool fragments : {false, true}) {
    Json::ReadOptions options;
    options.allowFragments = fragments;
    auto parsed = Json::parse(text, options);
    if (!parsed) {
      FUZZ_CHECK(parsed.error().domain == Json::kErrorDomain && parsed.error().code == Json::kErrorCode);
      continue;
    }
    Json::WriteOptions write;
    write.allowFragments = true;
    auto written = Json::serialize(*parsed, write);
    FUZZ_CHECK(written.ok());
    Json::ReadOptions readBack;
    readBack.allowFragments = true;
    auto again = Json::parse(*written, readBack);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(*again == *parsed);
  }
  return 0;
}

// Measurement text from outside: URL argument strings, escaped arguments and
// decimal numbers (audience filter values from the configuration). Parsing
// never crashes; a parsed argument dictionary writes back to a query string
// that parses to the same dictionary; an accepted decimal's canonical text
// parses back to an equal number and rounds to money symmetrically.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDecimal.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "platform/text/Unicode.h"
#include "testing/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The monitor keeps its sample in preferences: a folder of our own.
  static char folder[] = "/tmp/fuzz-measurement-text-XXXXXX";
  if (mkdtemp(folder) != nullptr) {
    setenv("HOME", folder, 1);
    setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
  }
  // The monitor's start-up work runs now, not during the exit.
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::optional<std::string> unescaped = apm_stringByUnescapingFromURLArgument(text);
  FUZZ_CHECK(!unescaped || platform::Unicode::isValidUtf8(*unescaped));

  const platform::Dictionary arguments = apm_dictionaryWithHttpArgumentsString(text);
  const std::string query = apm_queryString(arguments);
  FUZZ_CHECK(platform::Value(apm_dictionaryWithHttpArgumentsString(query)) == platform::Value(arguments));

  std::optional<APMDecimal> number = APMDecimalNumberFromString(text);
  if (number) {
    std::optional<APMDecimal> again = APMDecimal::parse(number->canonicalText());
    FUZZ_CHECK(again && *again == *number);
    FUZZ_CHECK(APMIsDecimalString(text));
    // Money in millionths rounds half away from zero: symmetric in the sign,
    // and a factor of -1 is the negated number.
    std::optional<int64_t> millionths = number->roundedInt64(1, 6);
    std::optional<int64_t> negated = number->negated().roundedInt64(1, 6);
    FUZZ_CHECK(number->roundedInt64(-1, 6) == negated);
    if (millionths && negated && *millionths != std::numeric_limits<int64_t>::min()) {
      FUZZ_CHECK(*negated == -*millionths);
    }
  }
  // The monitor's lines are written before the next input (or the exit).
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  return 0;
}

// APMNumericUtil: a random signed 64-bit integer from the process's secure
// random source (platform::RandomSource::current()). Any thread.
#pragma once

#include <cstdint>

class APMNumericUtil {
 public:
  static int64_t randomInt64();
};

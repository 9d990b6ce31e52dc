#include "measurement/base/APMNumericUtil.h"

#include <array>
#include <cstring>

#include "platform/crypto/RandomSource.h"

int64_t APMNumericUtil::randomInt64() {
  std::array<uint8_t, 8> bytes{};
  platform::RandomSource::current()->fill(bytes);
  int64_t value = 0;
  std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

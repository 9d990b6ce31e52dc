// Measurement wire messages from outside (configuration responses, stored
// bundles and events): the first byte picks one of the 46 types, the rest is
// decoded as that type. Decoding never crashes or hangs; whatever decodes
// re-encodes, the re-encoding decodes to the same fields and encodes to the
// same bytes again, and a copy encodes the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "measurement/messages/APMPBMessageType.h"
#include "platform/log/Console.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

std::vector<uint8_t> encoded(const APMPBMessageInfo* info, bool* ok) {
  uint8_t* buffer = nullptr;
  const int32_t length = info->type->encode(info, &buffer);
  *ok = length >= 0;
  std::vector<uint8_t> bytes;
  if (length > 0) bytes.assign(buffer, buffer + length);
  std::free(buffer);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The decoder's diagnostic lines are expected here; keep them off the terminal.
  platform::console::setWriter([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto types = APMPBAllMessageTypes();
  const APMPBMessageType& type = *types[data[0] % types.size()];
  APMPBMessageInfo* info = type.newMessageInfo();
  if (type.decode(data + 1, size - 1, info)) {
    bool ok = false;
    const std::vector<uint8_t> once = encoded(info, &ok);
    FUZZ_CHECK(ok);
    APMPBMessageInfo* again = type.newMessageInfo();
    FUZZ_CHECK(type.decode(once.data(), once.size(), again));
    FUZZ_CHECK(encoded(again, &ok) == once && ok);
    APMPBMessageInfo* copy = nullptr;
    FUZZ_CHECK(type.copyMessageInfo(&copy, info));
    FUZZ_CHECK(encoded(copy, &ok) == once && ok);
    type.freeMessageInfo(copy);
    type.freeMessageInfo(again);
  }
  type.freeMessageInfo(info);
  return 0;
}

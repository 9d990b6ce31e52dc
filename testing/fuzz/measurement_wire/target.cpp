// Measurement wire messages from outside (configuration responses, stored
// bundles and events): the first byte picks one of the 46 types, the rest is
// decoded as that type. Decoding never crashes or hangs, and what it holds
// on the heap afterwards stays within the decode's bound, whatever the input
// asks for; whatever decodes re-encodes, the re-encoding decodes to the same
// fields and encodes to the same bytes again, and a copy encodes the same.
#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "measurement/messages/APMPBMessageType.h"
#include "platform/log/Console.h"
#include "testing/fuzz/FuzzCheck.h"

#if defined(__SANITIZE_ADDRESS__)
#define FUZZ_HEAP_FROM_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FUZZ_HEAP_FROM_SANITIZER 1
#endif
#endif
#ifdef FUZZ_HEAP_FROM_SANITIZER
// The address sanitizer's allocator keeps the heap (g++ ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// Bytes in use on the heap now.
size_t heapInUse() {
#ifdef FUZZ_HEAP_FROM_SANITIZER
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

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
  const size_t before = heapInUse();
  APMPBMessageInfo* info = type.newMessageInfo();
  const bool decoded = type.decode(data + 1, size - 1, info);
  // What the decode keeps (or left behind on failure) is within its bound;
  // a little room for the diagnostic lines' text.
  const size_t after = heapInUse();
  FUZZ_CHECK(after < before || after - before <= kAPMPBMaxDecodeMemory + (size_t(64) << 10));
  if (decoded) {
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

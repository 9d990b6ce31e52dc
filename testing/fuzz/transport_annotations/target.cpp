// Stored custom bytes of an event (a JSON object of annotations): reading the
// annotations, changing them and encoding the event for upload never crash;
// the setters keep bytes they cannot read unchanged, and an encoding is
// refused only for the size limits.
#include <cstddef>
#include <cstdint>

#include "sdk/transport/ZDTCCTNanopbHelpers.h"
#include "sdk/transport/ZDTCOREvent.h"
#include "testing/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const platform::Bytes bytes(data, data + size);
  auto event = ZDTCOREvent::initWithMappingID("1249", 1000);
  event->setCustomBytes(bytes);
  event->setClockSnapshot(ZDTCORClock(1, 2, 3, 4));

  const bool needs = event->needsNetworkConnectionInfoPopulated();
  const std::optional<platform::Bytes> record = event->networkConnectionInfoData();
  const std::optional<int64_t> code = event->eventCode();
  platform::Result<platform::Bytes> encoded = ZDTCCTEncodeLogEvent(*event);
  FUZZ_CHECK(encoded.ok() || size > 65535 || (record && record->size() > 65535));
  FUZZ_CHECK(!ZDTCCTEncodeBatchedLogRequest({event}).empty() == encoded.ok());

  // Writing back what was read keeps it readable.
  event->setEventCode(code);
  event->setNeedsNetworkConnectionInfoPopulated(needs);
  if (record && !record->empty()) event->setNetworkConnectionInfoData(*record);
  if (event->customBytes() && *event->customBytes() != bytes) {
    FUZZ_CHECK(event->eventCode() == code);
    if (record && !record->empty()) FUZZ_CHECK(event->networkConnectionInfoData() == record);
  }
  return 0;
}

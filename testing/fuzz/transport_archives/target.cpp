// Stored transport records (event files, the client-metrics record): damaged
// bytes decode to an error, never a crash; a decoded event has its payload
// bytes and archives back to an equal event; a decoded metrics record
// archives back to an equal record.
#include <cstddef>
#include <cstdint>

#include "sdk/transport/ZDTCOREvent.h"
#include "sdk/transport/ZDTCORMetricsMetadata.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "testing/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const platform::Bytes bytes(data, data + size);

  auto decoded = ZDTCORDecodeArchive(ZDTCOREvent::kClassName, bytes);
  if (decoded) {
    auto event = std::dynamic_pointer_cast<ZDTCOREvent>(decoded.value());
    FUZZ_CHECK(event != nullptr && event->serializedDataObjectBytes().has_value());
    ZDTCORArchiveResult archive = ZDTCOREncodeArchive(*event);
    FUZZ_CHECK(archive.data.has_value());
    auto again = ZDTCORDecodeArchive(ZDTCOREvent::kClassName, *archive.data);
    FUZZ_CHECK(again.ok());
    auto event2 = std::dynamic_pointer_cast<ZDTCOREvent>(again.value());
    FUZZ_CHECK(event2 != nullptr && event2->isEqual(*event) && event2->expirationDate() == event->expirationDate() &&
               event2->customBytes() == event->customBytes());
  }

  auto metrics = ZDTCORDecodeArchive(ZDTCORMetricsMetadata::kClassName, bytes);
  if (metrics) {
    auto record = std::dynamic_pointer_cast<ZDTCORMetricsMetadata>(metrics.value());
    FUZZ_CHECK(record != nullptr);
    ZDTCORArchiveResult archive = ZDTCOREncodeArchive(*record);
    FUZZ_CHECK(archive.data.has_value());
    auto again = ZDTCORDecodeArchive(ZDTCORMetricsMetadata::kClassName, *archive.data);
    FUZZ_CHECK(again.ok());
    auto record2 = std::dynamic_pointer_cast<ZDTCORMetricsMetadata>(again.value());
    FUZZ_CHECK(record2 != nullptr && *record2 == *record);
  }
  return 0;
}

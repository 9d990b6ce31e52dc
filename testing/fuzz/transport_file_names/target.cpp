// Names of the transport's event files and batch folders, parsed whenever a
// batch is made, a batch is removed or expired items are swept. The input's
// first line is parsed as both kinds of name; its rest is the mapping ID of
// an event whose name is built and parsed back. Odd names parse to nothing or
// to parts that build the same parts again, never a crash; built names give
// back what they were built from (the mapping ID percent-decoded, whole,
// "-" included).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/storage/FileSystem.h"
#include "platform/text/PercentEncoding.h"
#include "sdk/transport/ZDTCORFlatFileStorage.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "testing/fuzz/FuzzCheck.h"
#include "testing/fuzz/FuzzHome.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Building a name creates the storage's folders: under a home of our own.
  fuzzing::useTemporaryHome("transport-names");
  ZDTCORSetRootDirectoryForTesting(std::string(std::getenv("HOME")) + "/zoruvu-sdks-events");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\n');
  const std::string name = input.substr(0, split);

  if (std::optional<ZDTCOREventComponents> parts = ZDTCORFlatFileStorage::eventComponentsFromFilename(name)) {
    FUZZ_CHECK(parts->eventID.find('-') == std::string::npos);
    // The expiration is a 64-bit integer as a double; 2^63 stands for the largest.
    const int64_t seconds = parts->expiration >= 0x1p63 ? INT64_MAX : static_cast<int64_t>(parts->expiration);
    const std::string again = parts->eventID + "-" + std::to_string(parts->qosTier) + "-" + std::to_string(seconds) +
                              "-" + parts->mappingID;
    std::optional<ZDTCOREventComponents> reparsed = ZDTCORFlatFileStorage::eventComponentsFromFilename(again);
    FUZZ_CHECK(reparsed && reparsed->eventID == parts->eventID && reparsed->qosTier == parts->qosTier &&
               reparsed->expiration == parts->expiration && reparsed->mappingID == parts->mappingID);
    platform::PercentEncoding::decode(parts->mappingID);
  }
  if (std::optional<ZDTCORBatchComponents> parts = ZDTCORFlatFileStorage::batchComponentsFromFilename(name)) {
    FUZZ_CHECK(name.find('-') != std::string::npos);
  }

  if (split == std::string::npos) return 0;
  const std::string mappingID = input.substr(split + 1);
  const int64_t tier = size > 0 ? static_cast<int64_t>(data[0]) : 0;
  const double expiration = size > 1 ? static_cast<double>(data[1]) * 1e7 + 0.75 : 0;
  const std::string built = platform::fs::lastPathComponent(
      ZDTCORFlatFileStorage::pathForTarget(1000, "0123456789ABCDEF", tier, expiration, mappingID));
  std::optional<ZDTCOREventComponents> parts = ZDTCORFlatFileStorage::eventComponentsFromFilename(built);
  FUZZ_CHECK(parts && parts->eventID == "0123456789ABCDEF" && parts->qosTier == tier &&
             parts->expiration == static_cast<double>(static_cast<uint64_t>(expiration)));
  FUZZ_CHECK(platform::PercentEncoding::decodeBytes(parts->mappingID) == mappingID);

  const std::string batch = platform::fs::lastPathComponent(
      ZDTCORFlatFileStorage::batchPathForTarget(1000 + tier, static_cast<int64_t>(size), expiration));
  std::optional<ZDTCORBatchComponents> batchParts = ZDTCORFlatFileStorage::batchComponentsFromFilename(batch);
  FUZZ_CHECK(batchParts && batchParts->target == 1000 + tier && batchParts->batchID == static_cast<int64_t>(size) &&
             batchParts->expiration == static_cast<double>(static_cast<uint64_t>(expiration)));
  return 0;
}

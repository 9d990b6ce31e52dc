// Heartbeat storage files (JSON): a damaged or hostile file is no bundle,
// never a crash; a bundle that decodes writes back as JSON and decodes to the
// same stored form, and taking in a new heartbeat and building the request
// header from it works on whatever was stored.
#include <cstddef>
#include <cstdint>

#include "platform/storage/Json.h"
#include "sdk/core/HeartbeatsBundle.h"
#include "testing/fuzz/FuzzCheck.h"

using RirivuduCoreInternal::Heartbeat;
using RirivuduCoreInternal::HeartbeatsBundle;
using RirivuduCoreInternal::HeartbeatsPayload;
using RirivuduCoreInternal::TimePeriod;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto json = platform::Json::parse(platform::Bytes(data, data + size));
  if (!json) return 0;
  std::optional<HeartbeatsBundle> bundle = HeartbeatsBundle::decode(*json);
  if (!bundle) return 0;

  const platform::Value stored = bundle->encode();
  auto text = platform::Json::serializeData(stored);
  FUZZ_CHECK(text.ok());
  auto reread = platform::Json::parse(*text);
  FUZZ_CHECK(reread.ok());
  std::optional<HeartbeatsBundle> again = HeartbeatsBundle::decode(*reread);
  FUZZ_CHECK(again && again->encode() == stored);

  // A new day's heartbeat, the header of what is held, and taking it out.
  Heartbeat heartbeat;
  heartbeat.agent = "fuzz/1";
  heartbeat.date = 1700006400;
  heartbeat.timePeriods = {TimePeriod::daily};
  again->addHeartbeat(heartbeat);
  HeartbeatsPayload payload = again->toHeartbeatsPayload();
  auto decodedPayload = HeartbeatsPayload::decode(payload.encode());
  FUZZ_CHECK(decodedPayload.has_value());
  payload.headerValue();
  again->takeHeartbeat(heartbeat.date);
  return 0;
}

// Experiment payloads of the config fetch service (also what the config
// database gives back at start): any bytes either give no payload or one
// whose conditional user property is well formed, and the latest start time
// never goes back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sdk/remote-config/ab-testing/ABTConditionalUserPropertyController.h"
#include "sdk/remote-config/ab-testing/ABTExperimentPayload.h"
#include "sdk/remote-config/ab-testing/RIRExperimentController.h"
#include "testing/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const platform::Bytes bytes(data, data + size);
  std::shared_ptr<ABTExperimentPayload> payload = ABTExperimentPayload::parseFromData(bytes);

  RIRExperimentController controller(nullptr);
  const double latest = controller.latestExperimentStartTimestampBetweenTimestamp(1000, {bytes});
  FUZZ_CHECK(latest >= 1000);
  if (!payload) return 0;

  ABTConditionalUserPropertyController properties(nullptr);
  const platform::Dictionary property = properties.createExperimentFromOrigin("rrc", *payload, RIRLifecycleEvents());
  FUZZ_CHECK(property["name"].isString() && property["value"].isString());
  FUZZ_CHECK(property["creationTimestamp"].isNumber());
  FUZZ_CHECK(property["triggeredEvent"]["name"].isString());
  const int32_t policy = ABTConditionalUserPropertyController::overflowPolicyWithPayload(*payload, 0);
  FUZZ_CHECK(policy == 1 || policy == 2);
  return 0;
}

// Experiment payloads of the config fetch service (also what the config
// database gives back at start): any bytes either give no payload or one
// whose conditional user property is well formed, and the latest start time
// never goes back. The same bytes as a measurement experiment answer and as
// a stored measurement snapshot: no crash, and every snapshot made keeps its
// flags reachable by name and survives its own encoding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/features/experiments/APMETaskManager.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/dispatch/SerialQueue.h"
#include "sdk/remote-config/ab-testing/ABTConditionalUserPropertyController.h"
#include "sdk/remote-config/ab-testing/ABTExperimentPayload.h"
#include "sdk/remote-config/ab-testing/RIRExperimentController.h"
#include "testing/fuzz/FuzzCheck.h"
#include "testing/fuzz/FuzzHome.h"

namespace {

void checkSnapshot(const APMESnapshot& snapshot) {
  for (const std::shared_ptr<APMEExperiment>& experiment : snapshot.experiments()) FUZZ_CHECK(experiment != nullptr);
  std::shared_ptr<APMPBSnapshot> proto = snapshot.proto();
  FUZZ_CHECK(proto != nullptr);
  std::optional<platform::Bytes> encoded = proto->protoBuffer();
  FUZZ_CHECK(encoded.has_value());
  std::shared_ptr<APMPBSnapshot> again = APMPBSnapshot::initWithBuffer(*encoded);
  FUZZ_CHECK(again != nullptr && APMESnapshot::initWithProtobuf(*again) != nullptr);
}

// Reads answers only: no queue work, database, alarm or network.
const APMETaskManager& answerReader() {
  static const auto* const reader = new std::shared_ptr<APMETaskManager>(APMETaskManager::initWithQueue(
      platform::SerialQueue("fuzz.experiments"), nullptr, nullptr, nullptr, "", 0, nullptr));
  return **reader;
}

void checkMeasurementExperiments(const platform::Bytes& bytes) {
  if (std::shared_ptr<APMPBSnapshot> stored = APMPBSnapshot::initWithBuffer(bytes)) {
    if (std::shared_ptr<APMESnapshot> snapshot = APMESnapshot::initWithProtobuf(*stored)) checkSnapshot(*snapshot);
  }
  if (std::optional<APMETaskManager::Snapshots> snapshots = answerReader().experimentSnapshotsFromData(bytes)) {
    for (const std::shared_ptr<APMESnapshot>& snapshot : *snapshots) {
      FUZZ_CHECK(snapshot != nullptr);
      checkSnapshot(*snapshot);
    }
  }
  std::shared_ptr<APMPBExperimentResponse> response = APMPBExperimentResponse::initWithBuffer(bytes);
  if (std::optional<APMETaskManager::Errors> errors = answerReader().errorsFromExperimentResponse(response.get())) {
    for (const auto& [name, error] : *errors) FUZZ_CHECK(!name.empty() && error.code < 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::useTemporaryHome("experiment_payload");
  // The monitor's start-up work runs now, not during the exit.
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const platform::Bytes bytes(data, data + size);
  checkMeasurementExperiments(bytes);
  // The monitor's work for the lines written runs now, never during the exit.
  APMEngineServices::monitor()->monitorQueue().sync([] {});
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

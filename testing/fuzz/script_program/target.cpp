// An event-editing program from the measurement configuration, as the
// editing instance runs it: any bytes that decode as a Program are loaded
// (top-level statements and activities) and, when they load, run on one
// event. Whatever the program does, loading and each event end within the
// evaluation budget, without a crash, a hang or unbounded memory, and the
// event that comes out is a plain value again.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "measurement/script/APMPEventEditing.h"
#include "measurement/script/APMPInstructionCounter.h"
#include "measurement/script/APMPMessageLogger.h"
#include "measurement/script/APMPRuntime.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

// The logger module's lines go nowhere (the monitor would write files).
class QuietLogger final : public APMPLoggerDelegate {
 public:
  void logWithLevel(int64_t, const std::string&, const std::vector<std::string>&, bool, bool) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::shared_ptr<APMPBProgram> program = APMPBProgram::initWithBuffer(std::span(data, size));
  if (!program) return 0;
  APMPEventEditing editing;
  // The settings' modules: remote values and metadata as descriptions, the
  // logger made here.
  editing.setModuleCreator(
      []() -> APMEventEditingModule {
        return APMEventEditingKeyValueStore{"internal.remoteConfig", [](const std::string& key) {
                                              return key == "measurement.upload.interval"
                                                         ? std::optional<std::string>("3600")
                                                         : std::nullopt;
                                            }};
      },
      "internal.remoteConfig");
  editing.setModuleCreator(
      []() -> APMEventEditingModule {
        return APMEventEditingObjectProvider{"internal.appMetadata", [] {
                                               return platform::Value::dict(
                                                   {{"platform", "macos"}, {"vod_version", int64_t(120500)}});
                                             }};
      },
      "internal.appMetadata");
  editing.setModuleCreator(
      []() -> APMPValuePtr { return std::make_shared<APMPMessageLogger>(std::make_shared<QuietLogger>()); },
      "internal.logger");
  platform::Error error;
  const bool loaded = editing.loadProgram(*program, &error);
  FUZZ_CHECK(editing.runtime().getInstructionCount() <= APMPInstructionCounter::kLimit);
  if (loaded) {
    const APMPEvent event("purchase", 1700000000000.0,
                          {{"value", 2.5}, {"count", int64_t(3)}, {"_c", int64_t(1)}, {"currency", "EUR"}});
    editing.handleEvent(event, &error);
    FUZZ_CHECK(editing.runtime().getInstructionCount() <= APMPInstructionCounter::kLimit);
    // What comes out can be described and compared like any event.
    editing.outputEvent().isEqualToEvent(event);
    for (const APMPEvent& created : editing.eventsToLog()) platform::Value(created.parameters()).description();
  }
  return 0;
}

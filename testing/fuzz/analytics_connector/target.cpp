// What another SDK component hands the analytics connector: any JSON object
// read as a conditional user property, an event or event parameters never
// crashes, and only entries of the expected types are taken.

#include <cstddef>
#include <cstdint>
#include <string>

#include "measurement/base/APMEngineServices.h"
#include "measurement/engine/ROZAdavurudoConnector.h"
#include "platform/storage/Json.h"
#include "testing/fuzz/FuzzCheck.h"
#include "testing/fuzz/FuzzHome.h"

using platform::Dictionary;
using platform::Value;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The monitor keeps its samples in a preferences suite.
  fuzzing::useTemporaryHome("analytics-connector");
  // The monitor's start-up work runs now, not during the exit.
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::Result<Value> parsed = platform::Json::parse(std::string(reinterpret_cast<const char*>(data), size));
  if (!parsed) return 0;
  const std::optional<Dictionary> dictionary = parsed.value().asDictionary();
  if (!dictionary) return 0;

  std::shared_ptr<APMConditionalUserProperty> property =
      ROZAdavurudoConnector::conditionalUserPropertyFromDictionary(*dictionary);
  FUZZ_CHECK(property != nullptr);
  const Value* name = dictionary->find("name");
  FUZZ_CHECK(property->name() == (name != nullptr && name->isString() ? *name->asString() : std::string()));
  const Value* value = dictionary->find("value");
  FUZZ_CHECK(static_cast<bool>(property->value()) == (value != nullptr && (value->isString() || value->isNumber())));
  if (!dictionary->contains("triggeredEvent")) FUZZ_CHECK(property->triggeredEvent() == nullptr);
  if (std::shared_ptr<APMEvent> event = property->expiredEvent()) FUZZ_CHECK(!event->name().empty());

  ROZAdavurudoConnector::eventFromDictionary(*dictionary);
  for (const auto& [key, entry] : ROZAdavurudoConnector::simplifiedParametersFromEventParameters(*dictionary)) {
    FUZZ_CHECK(entry.isString() || entry.isNumber());
  }
  // The monitor's lines are written before the next input (or the exit).
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  return 0;
}

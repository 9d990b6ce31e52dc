// Analytics subcommands of bundling and configuration, within the analytics
// session: analytics-config stores a configuration (in the fake
// configuration service's notation) as a 200 answer would, analytics-bundle
// bundles the raw events as the upload pass does and prints the queue,
// analytics-log-n logs one event many times.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/ROZAdavurudo.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/crypto/Digest.h"
#include "platform/text/NumberText.h"
#include "testing/fakes/measurement/MeasurementConfigNotation.h"
#include "testing/probes/sdk/AnalyticsSession.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

using platform::Value;
using Bundle = APMPBMeasurementBundleSlot;

// The bound of analytics-log-n's count.
constexpr int64_t kMaxLogCount = 100000;

int badArgument(const std::string& message) {
  result("error: " + message);
  return 2;
}

AnalyticsSession& session() { return AnalyticsSession::shared(); }

std::optional<Value> jsonArgument(const std::string& argument) {
  std::string error;
  std::optional<Value> json = parseJsonArgument(argument, error);
  if (!json) badArgument(error);
  return json;
}

int storeConfiguration(const Value& notation) {
  std::optional<std::string> error;
  std::optional<int64_t> refusal;
  const bool ran = session().onWorkerQueue([&](APMMeasurement& engine) {
    std::string reason;
    std::shared_ptr<APMPBMeasurementConfig> config =
        testkit::measurementConfigFromNotation(notation, engine.appID(), reason);
    std::optional<platform::Bytes> bytes = config ? config->protoBuffer() : std::nullopt;
    if (!bytes) {
      error = config ? "the configuration does not encode" : reason;
      return;
    }
    int64_t code = 0;
    if (!engine.storeRemoteConfigData(*bytes, &code)) {
      refusal = code;
      return;
    }
    engine.remoteConfigFetchFollowUps();
  });
  if (!ran) return badArgument("no measurement engine");
  if (error) return badArgument(*error);
  if (!session().settle()) return 1;
  result(refusal ? "config refused " + std::to_string(*refusal) : std::string("config stored"));
  return 0;
}

std::string hexOf(const NANOMessageBase* message) {
  std::optional<platform::Bytes> bytes = message ? message->protoBuffer() : std::nullopt;
  return bytes ? platform::Digest::hex(*bytes) : std::string("-");
}

// One scalar item of a slot as the bundle lines write it.
std::string scalarText(APMPBFieldFlags flags, const Value& value) {
  if (flags & kAPMPBFieldBool) return value.boolValue() ? "1" : "0";
  if (flags & kAPMPBFieldUInt32) return std::to_string(value.numberAs<uint32_t>());
  if (flags & kAPMPBFieldUInt64) return std::to_string(value.numberAs<uint64_t>());
  if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldInt64)) return std::to_string(value.longLongValue());
  if (flags & (kAPMPBFieldFloat | kAPMPBFieldDouble)) return timeText(value.doubleValue());
  return value.stringValue();
}

// The value of a present singular scalar slot, as an array item would be.
Value slotValue(const APMPBMeasurementBundle& bundle, int32_t slot, APMPBFieldFlags flags) {
  if (flags & kAPMPBFieldBool) return Value(APMPBGetBool(&bundle, slot));
  if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32)) return Value(APMPBGetInt32(&bundle, slot));
  if (flags & kAPMPBFieldUInt32) return Value(static_cast<uint32_t>(APMPBGetInt32(&bundle, slot)));
  if (flags & kAPMPBFieldInt64) return Value(static_cast<long long>(APMPBGetInt64(&bundle, slot)));
  if (flags & kAPMPBFieldUInt64) return Value(static_cast<unsigned long long>(APMPBGetInt64(&bundle, slot)));
  if (flags & kAPMPBFieldFloat) return Value(static_cast<double>(APMPBGetFloat(&bundle, slot)));
  if (flags & kAPMPBFieldDouble) return Value(APMPBGetDouble(&bundle, slot));
  return Value(APMPBGetString(&bundle, slot).value_or(""));
}

void printEvents(const std::string& prefix, const APMPBMeasurementBundle& bundle) {
  for (const Value& item : APMPBGetArray<APMPBEvent>(&bundle, Bundle::kEvents).value_or(platform::Array())) {
    std::shared_ptr<APMPBEvent> proto = APMPBObjectFromValue<APMPBEvent>(item);
    std::shared_ptr<APMEvent> event = proto ? APMEvent::initWithEventProto(proto.get()) : nullptr;
    std::string line = prefix + "event " + APMPBGetString(proto.get(), APMPBEventSlot::kName).value_or("") +
                       " t=" + std::to_string(APMPBGetInt64(proto.get(), APMPBEventSlot::kTimestamp));
    if (APMPBHasField(proto.get(), APMPBEventSlot::kEltValue)) {
      line += " elt=" + std::to_string(APMPBGetInt64(proto.get(), APMPBEventSlot::kEltValue));
    }
    result(line + " " + AnalyticsSession::parameterText(event ? event->parameters() : platform::Dictionary()));
  }
}

void printAttributes(const std::string& prefix, const APMPBMeasurementBundle& bundle) {
  for (const Value& item :
       APMPBGetArray<APMPBUserAttribute>(&bundle, Bundle::kUserAttributes).value_or(platform::Array())) {
    std::shared_ptr<APMPBUserAttribute> attribute = APMPBObjectFromValue<APMPBUserAttribute>(item);
    Value value;
    if (APMPBHasField(attribute.get(), APMPBUserAttributeSlot::kStringValue)) {
      value = Value(APMPBGetString(attribute.get(), APMPBUserAttributeSlot::kStringValue).value_or(""));
    } else if (APMPBHasField(attribute.get(), APMPBUserAttributeSlot::kIntValue)) {
      value = Value(static_cast<long long>(APMPBGetInt64(attribute.get(), APMPBUserAttributeSlot::kIntValue)));
    } else if (APMPBHasField(attribute.get(), APMPBUserAttributeSlot::kDoubleValue)) {
      value = Value(APMPBGetDouble(attribute.get(), APMPBUserAttributeSlot::kDoubleValue));
    }
    result(prefix + "attr " + APMPBGetString(attribute.get(), APMPBUserAttributeSlot::kName).value_or("") + "=" +
           compactJson(value));
  }
}

void printAudiences(const std::string& prefix, const APMPBMeasurementBundle& bundle) {
  using Result = APMPBAudienceLeafFilterResultSlot;
  for (const Value& item : APMPBGetArray<APMPBAudienceLeafFilterResult>(&bundle, Bundle::kAudienceEvaluationResults)
                               .value_or(platform::Array())) {
    std::shared_ptr<APMPBAudienceLeafFilterResult> entry = APMPBObjectFromValue<APMPBAudienceLeafFilterResult>(item);
    auto current = APMPBGetMessage<APMPBResultData>(entry.get(), Result::kCurrentData);
    auto previous = APMPBGetMessage<APMPBResultData>(entry.get(), Result::kPreviousData);
    std::string isNew = "-";
    if (APMPBHasField(entry.get(), Result::kNewAudience))
      isNew = APMPBGetBool(entry.get(), Result::kNewAudience) ? "1" : "0";
    result(prefix + "aud " + std::to_string(APMPBGetInt32(entry.get(), Result::kAudienceID)) +
           " cur=" + hexOf(current.get()) + " prev=" + (previous ? hexOf(previous.get()) : "-") + " new=" + isNew);
  }
}

void printCampaign(const std::string& prefix, const APMPBMeasurementBundle& bundle) {
  using Campaign = APMPBAdCampaignInfoSlot;
  std::shared_ptr<APMPBAdCampaignInfo> campaign =
      APMPBGetMessage<APMPBAdCampaignInfo>(&bundle, Bundle::kAdCampaignInfo);
  if (!campaign) return;
  std::string line = prefix + "campaign";
  for (const auto& [name, slot] : {std::pair{"gclid", Campaign::kGclid}, std::pair{"gbraid", Campaign::kGbraid},
                                   std::pair{"gad_source", Campaign::kGadSource}}) {
    if (APMPBHasField(campaign.get(), slot))
      line += std::string(" ") + name + "=" + APMPBGetString(campaign.get(), slot).value_or("");
  }
  if (APMPBHasField(campaign.get(), Campaign::kTimestamp)) {
    line += " ts=" + std::to_string(APMPBGetInt64(campaign.get(), Campaign::kTimestamp));
  }
  std::string gad;
  for (const Value& item : APMPBGetArray<APMPBDeepLinkGadParamsEntry>(campaign.get(), Campaign::kDeepLinkGadParams)
                               .value_or(platform::Array())) {
    std::shared_ptr<APMPBDeepLinkGadParamsEntry> entry = APMPBObjectFromValue<APMPBDeepLinkGadParamsEntry>(item);
    gad += (gad.empty() ? "" : ",") + APMPBGetString(entry.get(), APMPBDeepLinkGadParamsEntrySlot::kKey).value_or("") +
           ":" + APMPBGetString(entry.get(), APMPBDeepLinkGadParamsEntrySlot::kValue).value_or("");
  }
  if (!gad.empty()) line += " gad=" + gad;
  result(line);
}

// Every other present scalar slot, by ascending tag.
void printScalars(const std::string& prefix, const APMPBMeasurementBundle& bundle) {
  const APMPBMessageType& type = bundle.messageType();
  std::vector<int32_t> slots;
  for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
    if (!(type.flags[slot] & kAPMPBFieldMessage)) slots.push_back(static_cast<int32_t>(slot));
  }
  std::sort(slots.begin(), slots.end(),
            [&type](int32_t a, int32_t b) { return type.slots[a].tag < type.slots[b].tag; });
  for (int32_t slot : slots) {
    const APMPBFieldFlags flags = type.flags[slot];
    std::string text;
    if (flags & kAPMPBFieldRepeated) {
      const platform::Array items = APMPBGetArray(&bundle, slot).value_or(platform::Array());
      if (items.empty()) continue;
      for (const Value& item : items) text += (text.empty() ? "" : ",") + scalarText(flags, item);
    } else {
      if (!APMPBHasField(&bundle, slot)) continue;
      text = scalarText(flags, slotValue(bundle, slot, flags));
    }
    result(prefix + "t" + std::to_string(type.slots[slot].tag) + "=" + text);
  }
}

int bundleAndPrint() {
  std::vector<std::shared_ptr<APMPBMeasurementBundle>> bundles;
  const bool ran = session().onWorkerQueue([&bundles](APMMeasurement& engine) {
    const auto iterations = static_cast<int64_t>(engine.remoteConfigInstance()->maxBundlesCreatedPerIteration());
    for (int64_t made = 0; made < iterations && engine.bundleRawEvents(); ++made) {
    }
    platform::Error error;
    std::optional<std::vector<APMDatabase::QueuedBundle>> queued =
        engine.database()->queryBundlesWithCountLimit(1000000, INT32_MAX, &error);
    for (const APMDatabase::QueuedBundle& entry : queued.value_or(std::vector<APMDatabase::QueuedBundle>())) {
      bundles.push_back(entry.first);
    }
  });
  if (!ran) return badArgument("no measurement engine");
  if (!session().settle()) return 1;
  if (bundles.empty()) result("bundle none");
  for (size_t index = 0; index < bundles.size(); ++index) {
    const std::string prefix = "bundle " + std::to_string(index + 1) + " ";
    const APMPBMeasurementBundle& bundle = *bundles[index];
    printEvents(prefix, bundle);
    printAttributes(prefix, bundle);
    printAudiences(prefix, bundle);
    printCampaign(prefix, bundle);
    printScalars(prefix, bundle);
  }
  return 0;
}

}  // namespace

std::vector<Subcommand> analyticsBundleSubcommands() {
  return {
      {"analytics-config", 1, "analytics-config JSON",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<Value> notation = jsonArgument(arguments[0]);
         if (!notation) return 2;
         return storeConfiguration(*notation);
       }},
      {"analytics-bundle", 0, "analytics-bundle",
       [](const std::vector<std::string>&) {
         if (int refused = session().requireStarted()) return refused;
         return bundleAndPrint();
       }},
      {"analytics-log-n", 3, "analytics-log-n COUNT NAME JSON",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<int64_t> count = platform::NumberText::parseInt64(arguments[0]);
         if (!count || *count < 0 || *count > kMaxLogCount) {
           return badArgument("COUNT must be an integer from 0 to " + std::to_string(kMaxLogCount));
         }
         std::optional<Value> parameters = jsonArgument(arguments[2]);
         if (!parameters) return 2;
         if (!parameters->isDictionary()) return badArgument("JSON must be an object");
         for (int64_t index = 0; index < *count; ++index) {
           ROZAdavurudo::logEventWithName(arguments[1], *parameters->asDictionary());
         }
         if (!session().settle()) return 1;
         result("logged " + std::to_string(*count));
         return 0;
       }},
  };
}

}  // namespace sdkprobe

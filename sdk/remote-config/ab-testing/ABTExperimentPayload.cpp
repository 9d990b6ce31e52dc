#include "sdk/remote-config/ab-testing/ABTExperimentPayload.h"

#include <cmath>

#include "platform/storage/Json.h"
#include "platform/time/DateFormatter.h"
#include "sdk/remote-config/ab-testing/ABTConstants.h"
#include "sdk/remote-config/internal/RCNIntegerField.h"

using platform::Value;

namespace {

std::string text(const platform::Dictionary& dictionary, const char* key) {
  const std::string* value = dictionary[key].asString();
  return value ? *value : std::string();
}

}  // namespace

std::shared_ptr<ABTExperimentPayload> ABTExperimentPayload::parseFromData(const platform::Bytes& data) {
  platform::JsonReadOptions options;
  options.allowFragments = true;
  platform::Result<Value> parsed = platform::Json::parse(data, options);
  if (!parsed.ok()) return nullptr;
  std::optional<platform::Dictionary> dictionary = parsed.value().asDictionary();
  if (!dictionary) return nullptr;
  return std::make_shared<ABTExperimentPayload>(*dictionary);
}

std::optional<int64_t> ABTExperimentPayload::parseStartTime(const std::string& text) {
  static const platform::DateFormatter formatter = platform::DateFormatter::utc("yyyy-MM-dd'T'HH:mm:ss.SSS'Z'");
  std::optional<double> seconds = formatter.parse(text);
  if (!seconds) return std::nullopt;
  // Rounded: the text has whole milliseconds, a double of seconds may not.
  return std::llround(*seconds * 1000);
}

ABTExperimentPayload::ABTExperimentPayload(const platform::Dictionary& dictionary) {
  const Value& policy = dictionary.get("overflowPolicy");
  if (const std::string* name = policy.asString()) {
    m_overflowPolicy = *name == "DISCARD_OLDEST"  ? ABTExperimentPayloadExperimentOverflowPolicyDiscardOldest
                       : *name == "IGNORE_NEWEST" ? ABTExperimentPayloadExperimentOverflowPolicyIgnoreNewest
                                                  : ABTExperimentPayloadExperimentOverflowPolicyUnrecognizedValue;
  } else if (policy.isNumber()) {
    m_overflowPolicy = policy.intValue();
  }
  m_experimentId = text(dictionary, "experimentId");
  m_variantId = text(dictionary, "variantId");
  if (const std::string* start = dictionary["experimentStartTime"].asString()) {
    m_experimentStartTimeMillis = parseStartTime(*start).value_or(0);
  } else {
    m_experimentStartTimeMillis = RCNIntegerField(dictionary.get("experimentStartTimeMillis")).value_or(0);
  }
  m_triggerEvent = text(dictionary, "triggerEvent");
  m_triggerTimeoutMillis = RCNIntegerField(dictionary.get("triggerTimeoutMillis")).value_or(0);
  m_timeToLiveMillis = RCNIntegerField(dictionary.get("timeToLiveMillis")).value_or(0);
  m_setEventToLog = text(dictionary, "setEventToLog");
  m_activateEventToLog = text(dictionary, "activateEventToLog");
  m_clearEventToLog = text(dictionary, "clearEventToLog");
  m_timeoutEventToLog = text(dictionary, "timeoutEventToLog");
  m_ttlExpiryEventToLog = text(dictionary, "ttlExpiryEventToLog");
  if (std::optional<platform::Array> ongoing = dictionary.get("ongoingExperiments").asArray()) {
    for (const Value& item : *ongoing) {
      if (const std::string* identifier = item["experimentId"].asString()) m_ongoingExperiments.emplace_back(*identifier);
    }
  }
}

bool ABTExperimentPayload::overflowPolicyIsValid() const {
  return m_overflowPolicy == ABTExperimentPayloadExperimentOverflowPolicyDiscardOldest ||
         m_overflowPolicy == ABTExperimentPayloadExperimentOverflowPolicyIgnoreNewest;
}

// ABTExperimentPayload: one experiment description from a service backend,
// and ABTExperimentLite, just an experiment ID.
//
// parseFromData reads JSON (any top level) and gives nothing when that fails
// or the top level is no object. Every field is type-checked; a value of the
// wrong type counts as absent:
//   texts ("experimentId", "variantId", "triggerEvent", the five
//   "...EventToLog") must be strings;
//   "overflowPolicy": "DISCARD_OLDEST" 1, "IGNORE_NEWEST" 2, any other text
//   999, a number its integer value, absent 0;
//   "experimentStartTime": a UTC text "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" as
//   milliseconds since 1970 (0 when it does not parse); without it
//   "experimentStartTimeMillis";
//   the integer fields take a JSON number or a decimal string, else 0;
//   "ongoingExperiments": the objects of the array that have a text
//   "experimentId".
//
// Thread safety: immutable after parsing (clearTriggerEvent aside).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Value.h"

class ABTExperimentLite {
 public:
  explicit ABTExperimentLite(std::string experimentId) : m_experimentId(std::move(experimentId)) {}
  const std::string& experimentId() const { return m_experimentId; }

 private:
  std::string m_experimentId;
};

class ABTExperimentPayload {
 public:
  static std::shared_ptr<ABTExperimentPayload> parseFromData(const platform::Bytes& data);
  explicit ABTExperimentPayload(const platform::Dictionary& dictionary);

  int32_t overflowPolicy() const { return m_overflowPolicy; }
  void setOverflowPolicy(int32_t policy) { m_overflowPolicy = policy; }
  bool overflowPolicyIsValid() const;
  const std::string& experimentId() const { return m_experimentId; }
  const std::string& variantId() const { return m_variantId; }
  int64_t experimentStartTimeMillis() const { return m_experimentStartTimeMillis; }
  const std::string& triggerEvent() const { return m_triggerEvent; }
  void clearTriggerEvent() { m_triggerEvent.clear(); }
  int64_t triggerTimeoutMillis() const { return m_triggerTimeoutMillis; }
  int64_t timeToLiveMillis() const { return m_timeToLiveMillis; }
  const std::string& setEventToLog() const { return m_setEventToLog; }
  const std::string& activateEventToLog() const { return m_activateEventToLog; }
  const std::string& clearEventToLog() const { return m_clearEventToLog; }
  const std::string& timeoutEventToLog() const { return m_timeoutEventToLog; }
  const std::string& ttlExpiryEventToLog() const { return m_ttlExpiryEventToLog; }
  const std::vector<ABTExperimentLite>& ongoingExperiments() const { return m_ongoingExperiments; }

  // Milliseconds since 1970 of "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" (UTC), none when it does not parse.
  static std::optional<int64_t> parseStartTime(const std::string& text);

 private:
  int32_t m_overflowPolicy = 0;
  std::string m_experimentId;
  std::string m_variantId;
  int64_t m_experimentStartTimeMillis = 0;
  std::string m_triggerEvent;
  int64_t m_triggerTimeoutMillis = 0;
  int64_t m_timeToLiveMillis = 0;
  std::string m_setEventToLog;
  std::string m_activateEventToLog;
  std::string m_clearEventToLog;
  std::string m_timeoutEventToLog;
  std::string m_ttlExpiryEventToLog;
  std::vector<ABTExperimentLite> m_ongoingExperiments;
};

// APMSequenceTimestampsCache: per audience, the timestamps (seconds) at which
// each sequence filter matched, in the order added; one entry per whole
// second. Owned by the worker queue.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "measurement/messages/APMPBMessage.h"

class APMSequenceTimestampsCache {
 public:
  // Nullptr without an audience ID.
  static std::shared_ptr<APMSequenceTimestampsCache> initWithAudienceID(std::optional<int32_t> audienceID);

  int32_t audienceID() const { return m_audienceID; }
  // A copy of the filter's list; none when the filter has none.
  std::optional<std::vector<double>> sequenceTimestampsForFilterID(std::optional<int32_t> filterID) const;
  // Appends unless the last entry is the same whole second (42000 when earlier).
  void addEventFilterTimestamp(double timestamp, std::optional<int32_t> filterID);
  // Replaces the list with the time alone (42001 when earlier than the last).
  void setUserPropertyTimestamp(double timestamp, std::optional<int32_t> filterID);
  // One SequenceFilterResultTimestamp per filter, in ascending filter order.
  std::vector<std::shared_ptr<APMPBSequenceFilterResultTimestamp>> sequenceFilterResultTimestamps() const;

 private:
  int32_t m_audienceID = 0;
  std::map<int32_t, std::vector<double>> m_allSequenceTimestampsByFilterID;
};

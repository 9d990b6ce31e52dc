#include "measurement/base/APMSequenceTimestampsCache.h"

#include <algorithm>

#include "measurement/base/APMEngineServices.h"
#include "measurement/messages/APMPBFieldAccess.h"

namespace {

int64_t wholeSeconds(double seconds) { return platform::Value(seconds).numberAs<int64_t>(); }

}  // namespace

std::shared_ptr<APMSequenceTimestampsCache> APMSequenceTimestampsCache::initWithAudienceID(
    std::optional<int32_t> audienceID) {
  if (!audienceID) return nullptr;
  auto cache = std::make_shared<APMSequenceTimestampsCache>();
  cache->m_audienceID = *audienceID;
  return cache;
}

std::optional<std::vector<double>> APMSequenceTimestampsCache::sequenceTimestampsForFilterID(
    std::optional<int32_t> filterID) const {
  if (!filterID) return std::nullopt;
  auto found = m_allSequenceTimestampsByFilterID.find(*filterID);
  if (found == m_allSequenceTimestampsByFilterID.end()) return std::nullopt;
  return found->second;
}

void APMSequenceTimestampsCache::addEventFilterTimestamp(double timestamp, std::optional<int32_t> filterID) {
  if (!filterID) return;
  std::vector<double>& list = m_allSequenceTimestampsByFilterID[*filterID];
  if (!list.empty() && timestamp < list.back()) {
    APMEngineServices::monitor()->logWithLevel(5, 42000,
                                               "Adding a sequence timestamp less than the last added timestamp");
  }
  if (!list.empty() && wholeSeconds(list.back()) == wholeSeconds(timestamp)) return;
  list.push_back(timestamp);
}

void APMSequenceTimestampsCache::setUserPropertyTimestamp(double timestamp, std::optional<int32_t> filterID) {
  if (!filterID) return;
  std::vector<double>& list = m_allSequenceTimestampsByFilterID[*filterID];
  if (!list.empty() && timestamp < list.back()) {
    APMEngineServices::monitor()->logWithLevel(5, 42001, "Setting a sequence timestamp less than the last set timestamp");
  }
  list.assign(1, timestamp);
}

std::vector<std::shared_ptr<APMPBSequenceFilterResultTimestamp>>
APMSequenceTimestampsCache::sequenceFilterResultTimestamps() const {
  std::vector<std::shared_ptr<APMPBSequenceFilterResultTimestamp>> messages;
  for (const auto& [filterID, list] : m_allSequenceTimestampsByFilterID) {
    auto message = APMPBSequenceFilterResultTimestamp::initWithMessageInfo(nullptr);
    APMPBSetInt32(message.get(), APMPBSequenceFilterResultTimestampSlot::kFilterID, filterID);
    if (!list.empty()) {
      std::vector<double> sorted = list;
      std::sort(sorted.begin(), sorted.end());
      platform::Array timestamps;
      for (double timestamp : sorted) timestamps.append(platform::Value(static_cast<long long>(wholeSeconds(timestamp))));
      APMPBSetArray(message.get(), APMPBSequenceFilterResultTimestampSlot::kEvalTimestamps, timestamps);
    }
    messages.push_back(message);
  }
  return messages;
}

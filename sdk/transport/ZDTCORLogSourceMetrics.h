// ZDTCORLogSourceMetrics: counts of dropped events per log source (mapping
// ID) and drop reason.
//
// Drop reasons: 1 expired, 2 storage full, 5 rejected by the server (400).
// Archived as "ZDTCORLogSourceMetrics" with the map under
// "droppedEventCounterByLogSource": a dictionary from mapping ID to a
// dictionary from the reason in decimal to the count. Decoding accepts only
// that shape (dictionaries, strings, numbers); anything else fails it.
//
// Thread safety: an immutable value.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "sdk/transport/ZDTCOREvent.h"

enum ZDTCOREventDropReason : int64_t {
  ZDTCOREventDropReasonUnknown = 0,
  ZDTCOREventDropReasonMessageTooOld = 1,
  ZDTCOREventDropReasonStorageFull = 2,
  ZDTCOREventDropReasonPayloadTooBig = 3,
  ZDTCOREventDropReasonMaxRetriesReached = 4,
  ZDTCOREventDropReasonInvalidPayload = 5,
  ZDTCOREventDropReasonServerError = 6,
};

class ZDTCORLogSourceMetrics : public platform::Archivable {
 public:
  using ReasonCounts = std::map<int64_t, int64_t>;
  using Counts = std::map<std::string, ReasonCounts>;

  static constexpr const char* kClassName = "ZDTCORLogSourceMetrics";
  static constexpr const char* kDroppedEventCounterByLogSourceKey = "droppedEventCounterByLogSource";

  ZDTCORLogSourceMetrics() = default;
  explicit ZDTCORLogSourceMetrics(Counts counts) : m_counts(std::move(counts)) {}

  static std::shared_ptr<ZDTCORLogSourceMetrics> metrics() { return std::make_shared<ZDTCORLogSourceMetrics>(); }
  // One count per event with a non-empty mapping ID, for `reason`.
  static std::shared_ptr<ZDTCORLogSourceMetrics> metricsWithEvents(const ZDTCOREventSet& events, int64_t reason);

  const Counts& droppedEventCounterByLogSource() const { return m_counts; }

  // Per mapping ID and reason, the sum of both counts (saturating).
  std::shared_ptr<ZDTCORLogSourceMetrics> logSourceMetricsByMergingWithLogSourceMetrics(
      const ZDTCORLogSourceMetrics& other) const;

  // A copy of `first` with every entry of `second`: combine(a, b) for keys
  // both hold, the second's value otherwise.
  template <typename Key, typename T>
  static std::map<Key, T> dictionaryByMergingDictionary(const std::map<Key, T>& first, const std::map<Key, T>& second,
                                                        const std::function<T(const T&, const T&)>& combine) {
    std::map<Key, T> merged = first;
    for (const auto& [key, value] : second) {
      auto found = merged.find(key);
      if (found != merged.end()) {
        found->second = combine(found->second, value);
      } else {
        merged.emplace(key, value);
      }
    }
    return merged;
  }

  bool isEqualToLogSourceMetrics(const ZDTCORLogSourceMetrics& other) const { return m_counts == other.m_counts; }
  bool operator==(const ZDTCORLogSourceMetrics& other) const { return isEqualToLogSourceMetrics(other); }
  size_t hash() const;
  std::string description() const;

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;
  static std::shared_ptr<ZDTCORLogSourceMetrics> initWithCoder(platform::KeyedUnarchiver& coder);

 private:
  Counts m_counts;
};

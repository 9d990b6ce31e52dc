#include "sdk/transport/ZDTCORLogSourceMetrics.h"

#include <limits>

#include "platform/storage/KeyedArchiver.h"
#include "platform/text/NumberText.h"

using platform::Dictionary;
using platform::KeyedArchiver;
using platform::Value;

namespace {

int64_t saturatingSum(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return sum;
}

}  // namespace

std::shared_ptr<ZDTCORLogSourceMetrics> ZDTCORLogSourceMetrics::metricsWithEvents(const ZDTCOREventSet& events,
                                                                                 int64_t reason) {
  Counts counts;
  for (const std::shared_ptr<ZDTCOREvent>& event : events) {
    if (!event || event->mappingID().empty()) continue;
    int64_t& count = counts[event->mappingID()][reason];
    count = saturatingSum(count, 1);
  }
  return std::make_shared<ZDTCORLogSourceMetrics>(std::move(counts));
}

std::shared_ptr<ZDTCORLogSourceMetrics> ZDTCORLogSourceMetrics::logSourceMetricsByMergingWithLogSourceMetrics(
    const ZDTCORLogSourceMetrics& other) const {
  const std::function<int64_t(const int64_t&, const int64_t&)> addCounts = [](const int64_t& x, const int64_t& y) {
    return saturatingSum(x, y);
  };
  const std::function<ReasonCounts(const ReasonCounts&, const ReasonCounts&)> mergeReasons =
      [&addCounts](const ReasonCounts& a, const ReasonCounts& b) {
        return dictionaryByMergingDictionary<int64_t, int64_t>(a, b, addCounts);
      };
  return std::make_shared<ZDTCORLogSourceMetrics>(
      dictionaryByMergingDictionary<std::string, ReasonCounts>(m_counts, other.m_counts, mergeReasons));
}

size_t ZDTCORLogSourceMetrics::hash() const {
  size_t result = m_counts.size();
  std::hash<std::string> text;
  std::hash<int64_t> number;
  for (const auto& [source, reasons] : m_counts) {
    size_t entry = text(source);
    for (const auto& [reason, count] : reasons) entry ^= number(reason) * 31 + number(count);
    result ^= entry;
  }
  return result;
}

std::string ZDTCORLogSourceMetrics::description() const {
  std::string text = "<ZDTCORLogSourceMetrics> {";
  bool firstSource = true;
  for (const auto& [source, reasons] : m_counts) {
    text += (firstSource ? " " : ", ") + source + ": {";
    firstSource = false;
    bool firstReason = true;
    for (const auto& [reason, count] : reasons) {
      text += (firstReason ? "" : ", ") + std::to_string(reason) + ": " + std::to_string(count);
      firstReason = false;
    }
    text += "}";
  }
  return text + " }";
}

void ZDTCORLogSourceMetrics::encodeWith(KeyedArchiver& archiver) const {
  Dictionary sources;
  for (const auto& [source, reasons] : m_counts) {
    Dictionary byReason;
    for (const auto& [reason, count] : reasons) byReason.set(std::to_string(reason), Value(count));
    sources.set(source, Value(byReason));
  }
  archiver.encodeObject(kDroppedEventCounterByLogSourceKey, Value(sources));
}

std::shared_ptr<ZDTCORLogSourceMetrics> ZDTCORLogSourceMetrics::initWithCoder(platform::KeyedUnarchiver& coder) {
  platform::Result<Value> stored = coder.decodeObject(
      kDroppedEventCounterByLogSourceKey,
      {KeyedArchiver::kDictionaryClass, KeyedArchiver::kStringClass, KeyedArchiver::kNumberClass});
  if (!stored) return nullptr;
  std::optional<Dictionary> sources = stored->asDictionary();
  if (!sources) return nullptr;
  Counts counts;
  for (const auto& [source, value] : *sources) {
    std::optional<Dictionary> reasons = value.asDictionary();
    if (!reasons) return nullptr;
    ReasonCounts& byReason = counts[source];
    for (const auto& [reasonText, count] : *reasons) {
      std::optional<int64_t> reason = platform::NumberText::parseInt64(reasonText);
      if (!reason || !count.isNumber()) return nullptr;
      byReason[*reason] = count.numberAs<int64_t>();
    }
  }
  return std::make_shared<ZDTCORLogSourceMetrics>(std::move(counts));
}

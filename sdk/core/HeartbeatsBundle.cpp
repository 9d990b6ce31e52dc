#include "sdk/core/HeartbeatsBundle.h"

#include <algorithm>
#include <utility>
#include <variant>
#include <vector>

#include "platform/time/ReferenceDate.h"

namespace RirivuduCoreInternal {

namespace {

std::map<TimePeriod, double> initialLastAddedDates() {
  std::map<TimePeriod, double> dates;
  for (TimePeriod period : allTimePeriods()) dates[period] = platform::ReferenceDate::kDistantPastSince1970;
  return dates;
}

}  // namespace

HeartbeatsBundle::HeartbeatsBundle(int64_t capacity)
    : capacity(capacity), lastAddedHeartbeatDates(initialLastAddedDates()), buffer(capacity) {}

HeartbeatsBundle::HeartbeatsBundle(int64_t capacity, std::map<TimePeriod, double> lastAdded,
                                   RingBuffer<Heartbeat> buffer)
    : capacity(capacity), lastAddedHeartbeatDates(std::move(lastAdded)), buffer(std::move(buffer)) {}

void HeartbeatsBundle::addHeartbeat(const Heartbeat& heartbeat) {
  if (capacity <= 0) return;
  RingBuffer<Heartbeat>::PushResult pushed = buffer.pushElement(heartbeat);
  if (auto* displaced = std::get_if<std::optional<Heartbeat>>(&pushed)) {
    if (*displaced) {
      for (auto& [period, date] : lastAddedHeartbeatDates) {
        if (date == (*displaced)->date) date = platform::ReferenceDate::kDistantPastSince1970;
      }
    }
    for (TimePeriod period : heartbeat.timePeriods) lastAddedHeartbeatDates[period] = heartbeat.date;
    return;
  }
  // The buffer could not take it: start over with a heartbeat naming the failure.
  const OutOfBoundsPush& error = std::get<OutOfBoundsPush>(pushed);
  *this = HeartbeatsBundle(capacity);
  std::string reason = error.description();
  std::replace(reason.begin(), reason.end(), ' ', '-');
  Heartbeat diagnostic{heartbeat.agent + " error/" + reason, heartbeat.date, 0, heartbeat.timePeriods};
  if (std::holds_alternative<std::optional<Heartbeat>>(buffer.pushElement(diagnostic))) {
    for (TimePeriod period : diagnostic.timePeriods) lastAddedHeartbeatDates[period] = diagnostic.date;
  }
}

std::optional<Heartbeat> HeartbeatsBundle::takeHeartbeat(double date) {
  std::vector<Heartbeat> popped;
  std::optional<Heartbeat> taken;
  while (std::optional<Heartbeat> heartbeat = buffer.popElement()) {
    if (heartbeat->date == date) {
      taken = std::move(heartbeat);
      break;
    }
    popped.push_back(std::move(*heartbeat));
  }
  for (auto it = popped.rbegin(); it != popped.rend(); ++it) buffer.pushElement(*it);
  return taken;
}

HeartbeatsPayload HeartbeatsBundle::toHeartbeatsPayload() const {
  std::map<std::string, std::vector<double>> datesByAgent;  // byte order of the agents
  for (const Heartbeat& heartbeat : buffer.elements()) datesByAgent[heartbeat.agent].push_back(heartbeat.date);
  HeartbeatsPayload payload;
  for (auto& [agent, dates] : datesByAgent) payload.userAgentPayloads.push_back({agent, std::move(dates)});
  return payload;
}

platform::Value HeartbeatsBundle::encode() const {
  platform::Array lastAdded;
  for (const auto& [period, date] : lastAddedHeartbeatDates) {
    lastAdded.append(platform::Value(static_cast<int64_t>(period)));
    lastAdded.append(encodeHeartbeatDate(date));
  }
  platform::Array slots;
  for (const auto& slot : buffer.circularQueue()) slots.append(slot ? slot->encode() : platform::Value());
  platform::Dictionary ring{{"circularQueue", platform::Value(slots)},
                            {"tailIndex", platform::Value(buffer.tailIndex())}};
  return platform::Value(platform::Dictionary{{"capacity", platform::Value(capacity)},
                                              {"lastAddedHeartbeatDates", platform::Value(lastAdded)},
                                              {"buffer", platform::Value(ring)}});
}

std::optional<HeartbeatsBundle> HeartbeatsBundle::decode(const platform::Value& value) {
  if (!value.isDictionary()) return std::nullopt;
  std::optional<int64_t> capacity = decodeHeartbeatInteger(value["capacity"]);
  std::optional<platform::Array> lastAdded = value["lastAddedHeartbeatDates"].asArray();
  const platform::Value& ring = value["buffer"];
  std::optional<platform::Array> slots = ring["circularQueue"].asArray();
  std::optional<int64_t> tailIndex = decodeHeartbeatInteger(ring["tailIndex"]);
  if (!capacity || !lastAdded || !slots || !tailIndex || lastAdded->size() % 2 != 0) return std::nullopt;

  std::map<TimePeriod, double> dates;
  for (size_t index = 0; index < lastAdded->size(); index += 2) {
    std::optional<TimePeriod> period = timePeriodFromRawValue((*lastAdded)[index]);
    std::optional<double> date = decodeHeartbeatDate((*lastAdded)[index + 1]);
    if (!period || !date) return std::nullopt;
    dates[*period] = *date;
  }

  std::vector<std::optional<Heartbeat>> circularQueue;
  circularQueue.reserve(slots->size());
  for (const platform::Value& slot : *slots) {
    if (slot.isNull()) {
      circularQueue.emplace_back();
      continue;
    }
    std::optional<Heartbeat> heartbeat = Heartbeat::decode(slot);
    if (!heartbeat) return std::nullopt;
    circularQueue.push_back(std::move(heartbeat));
  }

  // A ring that does not fit its own fields would be read or written out of
  // bounds later; such a file is no bundle.
  RingBuffer<Heartbeat> buffer(std::move(circularQueue), *tailIndex);
  if (buffer.slotCount() != *capacity || !buffer.tailIndexInRange()) return std::nullopt;
  return HeartbeatsBundle(*capacity, std::move(dates), std::move(buffer));
}

}  // namespace RirivuduCoreInternal

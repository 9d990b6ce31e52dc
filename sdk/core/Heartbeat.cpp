#include "sdk/core/Heartbeat.h"

#include <cmath>

#include "platform/time/ReferenceDate.h"

namespace RirivuduCoreInternal {

std::optional<TimePeriod> timePeriodFromRawValue(const platform::Value& raw) {
  std::optional<int64_t> value = decodeHeartbeatInteger(raw);
  if (!value) return std::nullopt;
  for (TimePeriod period : allTimePeriods()) {
    if (static_cast<int64_t>(period) == *value) return period;
  }
  return std::nullopt;
}

platform::Value encodeHeartbeatDate(double secondsSince1970) {
  return platform::Value(platform::ReferenceDate::since2001(secondsSince1970));
}

std::optional<double> decodeHeartbeatDate(const platform::Value& value) {
  std::optional<double> since2001 = value.asDouble();
  // A date outside the calendar (from a damaged file) would reach the
  // request header as nonsense text: it makes the record unreadable.
  if (!since2001 || !(*since2001 >= platform::ReferenceDate::kDistantPastSince2001 &&
                      *since2001 <= platform::ReferenceDate::kDistantFutureSince2001)) {
    return std::nullopt;
  }
  return platform::ReferenceDate::since1970(*since2001);
}

std::optional<int64_t> decodeHeartbeatInteger(const platform::Value& value) { return value.asInt64(); }

platform::Value Heartbeat::encode() const {
  platform::Array periods;
  for (TimePeriod period : timePeriods) periods.append(platform::Value(static_cast<int64_t>(period)));
  return platform::Value(platform::Dictionary{{"agent", platform::Value(agent)},
                                              {"date", encodeHeartbeatDate(date)},
                                              {"version", platform::Value(version)},
                                              {"timePeriods", platform::Value(periods)}});
}

std::optional<Heartbeat> Heartbeat::decode(const platform::Value& value) {
  if (!value.isDictionary()) return std::nullopt;
  const std::string* agent = value["agent"].asString();
  std::optional<double> date = decodeHeartbeatDate(value["date"]);
  std::optional<int64_t> version = decodeHeartbeatInteger(value["version"]);
  std::optional<platform::Array> periods = value["timePeriods"].asArray();
  if (agent == nullptr || !date || !version || !periods) return std::nullopt;
  Heartbeat heartbeat{*agent, *date, *version, {}};
  for (const platform::Value& raw : *periods) {
    std::optional<TimePeriod> period = timePeriodFromRawValue(raw);
    if (!period) return std::nullopt;
    heartbeat.timePeriods.push_back(*period);
  }
  return heartbeat;
}

}  // namespace RirivuduCoreInternal

// Heartbeat: one day's record that the SDK was used, with the user agent of
// that moment. TimePeriod is the period a heartbeat counts for (only daily).
//
// Stored form (JSON object, every key required):
//   {"agent": text, "date": seconds since 2001 (number),
//    "version": integer, "timePeriods": [raw values, e.g. 1]}
// Dates are held here as seconds since 1970 (the clock's axis).
//
// Thread safety: plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Value.h"

namespace RirivuduCoreInternal {

enum class TimePeriod : int64_t { daily = 1 };

// Every period, in declaration order.
inline const std::vector<TimePeriod>& allTimePeriods() {
  static const std::vector<TimePeriod> all{TimePeriod::daily};
  return all;
}
// Length of the period in seconds.
inline double timeInterval(TimePeriod period) {
  switch (period) {
    case TimePeriod::daily:
      return 86400;
  }
  return 86400;
}
// The period with that raw value; none for an unknown value.
std::optional<TimePeriod> timePeriodFromRawValue(const platform::Value& raw);

// Stored-form helpers shared by the heartbeat types: dates are numbers of
// seconds since 2001 between the distant past and the distant future;
// integers must be exact.
platform::Value encodeHeartbeatDate(double secondsSince1970);
std::optional<double> decodeHeartbeatDate(const platform::Value& value);
std::optional<int64_t> decodeHeartbeatInteger(const platform::Value& value);

struct Heartbeat {
  std::string agent;
  double date = 0;  // start of a UTC day, seconds since 1970
  int64_t version = 0;
  std::vector<TimePeriod> timePeriods;

  platform::Value encode() const;
  // None when a key is missing or holds the wrong kind of value.
  static std::optional<Heartbeat> decode(const platform::Value& value);

  bool operator==(const Heartbeat&) const = default;
};

}  // namespace RirivuduCoreInternal

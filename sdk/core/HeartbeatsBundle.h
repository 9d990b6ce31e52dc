// HeartbeatsBundle: what one app identifier's heartbeat file holds: a ring
// buffer of heartbeats, its capacity, and per time period the date of the
// last heartbeat added for it (the distant past at first).
//
// Stored form (JSON object, every key required):
//   {"capacity": integer,
//    "lastAddedHeartbeatDates": [period raw value, date, period, date, ...],
//    "buffer": {"circularQueue": [heartbeat or null per slot], "tailIndex": integer}}
// with dates as seconds since 2001. decode() refuses a bundle whose slot
// count differs from its capacity or whose tailIndex is outside its slots,
// so such a file counts as no bundle and is replaced at the next write.
//
// Thread safety: a plain value; used on its identifier's storage queue.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "platform/values/Value.h"
#include "sdk/core/Heartbeat.h"
#include "sdk/core/HeartbeatsPayload.h"
#include "sdk/core/RingBuffer.h"

namespace RirivuduCoreInternal {

struct HeartbeatsBundle {
  int64_t capacity = 0;
  std::map<TimePeriod, double> lastAddedHeartbeatDates;  // seconds since 1970
  RingBuffer<Heartbeat> buffer;

  // `capacity` empty slots, every period at the distant past.
  explicit HeartbeatsBundle(int64_t capacity);
  HeartbeatsBundle(int64_t capacity, std::map<TimePeriod, double> lastAdded, RingBuffer<Heartbeat> buffer);

  // Adds nothing when capacity <= 0. A displaced heartbeat's date is
  // forgotten in lastAddedHeartbeatDates; a failed push (out-of-range tail)
  // replaces the bundle by a new one holding a diagnostic heartbeat.
  void addHeartbeat(const Heartbeat& heartbeat);
  // Takes out the most recent heartbeat dated `date` (seconds since 1970),
  // keeping the others in place.
  std::optional<Heartbeat> takeHeartbeat(double date);
  HeartbeatsPayload toHeartbeatsPayload() const;

  platform::Value encode() const;
  static std::optional<HeartbeatsBundle> decode(const platform::Value& value);
};

}  // namespace RirivuduCoreInternal

// ZDTCORClock: a snapshot of the clocks when an event was sent.
//
//   timeMillis                wall clock, milliseconds since 1970 (truncated)
//   timezoneOffsetSeconds     the local time zone's offset from GMT
//   kernelBootTimeNanoseconds when the kernel booted, nanoseconds since 1970
//                             (the kernel's boot time in whole seconds, so
//                             the same for every snapshot of one boot)
//   uptimeNanoseconds         wall clock minus boot time, in nanoseconds
//
// Archived as "ZDTCORClock" with four 64-bit keys. isAfter() orders clocks of
// different boots by boot time alone, and clocks of one boot by wall time
// plus time-zone offset.
//
// Thread safety: an immutable value.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"

class ZDTCORClock : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "ZDTCORClock";
  static constexpr const char* kTimeMillisKey = "ZDTCORClockTimeMillis";
  static constexpr const char* kTimezoneOffsetSecondsKey = "ZDTCORClockTimezoneOffsetSeconds";
  static constexpr const char* kKernelBootTimeKey = "ZDTCORClockKernelBootTime";
  static constexpr const char* kUptimeKey = "ZDTCORClockUptime";

  ZDTCORClock() = default;
  ZDTCORClock(int64_t timeMillis, int64_t timezoneOffsetSeconds, int64_t kernelBootTimeNanoseconds,
              int64_t uptimeNanoseconds)
      : m_timeMillis(timeMillis),
        m_timezoneOffsetSeconds(timezoneOffsetSeconds),
        m_kernelBootTimeNanoseconds(kernelBootTimeNanoseconds),
        m_uptimeNanoseconds(uptimeNanoseconds) {}

  // A snapshot taken now from platform::Clock::current().
  static ZDTCORClock snapshot();
  // A snapshot whose timeMillis lies `millisInTheFuture` ahead (saturating).
  static ZDTCORClock clockSnapshotInTheFuture(uint64_t millisInTheFuture);

  int64_t timeMillis() const { return m_timeMillis; }
  int64_t timezoneOffsetSeconds() const { return m_timezoneOffsetSeconds; }
  int64_t kernelBootTimeNanoseconds() const { return m_kernelBootTimeNanoseconds; }
  int64_t uptimeNanoseconds() const { return m_uptimeNanoseconds; }
  int64_t kernelBootTime() const { return m_kernelBootTimeNanoseconds; }
  int64_t uptime() const { return m_uptimeNanoseconds; }
  int64_t uptimeMilliseconds() const { return m_uptimeNanoseconds / 1000000; }

  bool isAfter(const ZDTCORClock& other) const;

  size_t hash() const;
  bool operator==(const ZDTCORClock& other) const {
    return m_timeMillis == other.m_timeMillis && m_timezoneOffsetSeconds == other.m_timezoneOffsetSeconds &&
           m_kernelBootTimeNanoseconds == other.m_kernelBootTimeNanoseconds &&
           m_uptimeNanoseconds == other.m_uptimeNanoseconds;
  }

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;
  static std::shared_ptr<ZDTCORClock> initWithCoder(platform::KeyedUnarchiver& coder);

 private:
  int64_t m_timeMillis = 0;
  int64_t m_timezoneOffsetSeconds = 0;
  int64_t m_kernelBootTimeNanoseconds = 0;
  int64_t m_uptimeNanoseconds = 0;
};

#include "sdk/transport/ZDTCORClock.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "platform/storage/KeyedArchiver.h"
#include "platform/time/Clock.h"
#include "platform/time/TimeZone.h"

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;

int64_t saturatingAdd(int64_t a, uint64_t b) {
  const __int128 sum = static_cast<__int128>(a) + static_cast<__int128>(b);
  return sum > std::numeric_limits<int64_t>::max() ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(sum);
}

}  // namespace

ZDTCORClock ZDTCORClock::snapshot() {
  std::shared_ptr<platform::Clock> clock = platform::Clock::current();
  // The boot time is read before and after the wall clock until both reads
  // agree, so that the uptime belongs to that boot.
  const int64_t kernelBoot = clock->kernelBootTime();
  const int64_t bootNanos = kernelBoot >= 0 ? kernelBoot * kNanosPerSecond : 0;
  double wall = clock->now();
  for (int attempt = 0; attempt < 100; ++attempt) {
    int64_t after = clock->kernelBootTime();
    if ((after >= 0 ? after * kNanosPerSecond : 0) == bootNanos) break;
    wall = clock->now();
  }
  const double wallSeconds = std::floor(wall);
  const int64_t wallMicros = static_cast<int64_t>(std::llround((wall - wallSeconds) * 1e6));
  const int64_t uptime = static_cast<int64_t>(wallSeconds) * kNanosPerSecond - bootNanos + wallMicros * 1000;
  const int64_t millis = static_cast<int64_t>(std::trunc(wall * 1000.0));
  return ZDTCORClock(millis, platform::TimeZone::currentGmtOffset(), bootNanos, uptime);
}

ZDTCORClock ZDTCORClock::clockSnapshotInTheFuture(uint64_t millisInTheFuture) {
  ZDTCORClock clock = snapshot();
  clock.m_timeMillis = saturatingAdd(clock.m_timeMillis, millisInTheFuture);
  return clock;
}

bool ZDTCORClock::isAfter(const ZDTCORClock& other) const {
  if (m_kernelBootTimeNanoseconds != other.m_kernelBootTimeNanoseconds) {
    return m_kernelBootTimeNanoseconds > other.m_kernelBootTimeNanoseconds;
  }
  // Compared as 128-bit sums so that extreme values cannot overflow.
  return static_cast<__int128>(m_timeMillis) + m_timezoneOffsetSeconds >
         static_cast<__int128>(other.m_timeMillis) + other.m_timezoneOffsetSeconds;
}

size_t ZDTCORClock::hash() const {
  std::hash<int64_t> h;
  return h(m_timeMillis) ^ h(m_timezoneOffsetSeconds) ^ h(m_kernelBootTimeNanoseconds) ^ h(m_uptimeNanoseconds);
}

void ZDTCORClock::encodeWith(platform::KeyedArchiver& archiver) const {
  archiver.encodeInt64(kTimeMillisKey, m_timeMillis);
  archiver.encodeInt64(kTimezoneOffsetSecondsKey, m_timezoneOffsetSeconds);
  archiver.encodeInt64(kKernelBootTimeKey, m_kernelBootTimeNanoseconds);
  archiver.encodeInt64(kUptimeKey, m_uptimeNanoseconds);
}

std::shared_ptr<ZDTCORClock> ZDTCORClock::initWithCoder(platform::KeyedUnarchiver& coder) {
  return std::make_shared<ZDTCORClock>(coder.decodeInt64(kTimeMillisKey), coder.decodeInt64(kTimezoneOffsetSecondsKey),
                                       coder.decodeInt64(kKernelBootTimeKey), coder.decodeInt64(kUptimeKey));
}

// TimeZone: facts about the local time zone.
//
// `gmtOffset(at)` is the local offset east of GMT in seconds at a given
// instant, `currentGmtOffset()` the offset now (by `Clock::current()`).
// `name()` is the IANA name ("Europe/Berlin"), taken from the first source
// that gives a plausible name: the TZ variable (":Name", "Name" or a path
// under a zoneinfo folder), the system's time-zone name file (/etc/timezone),
// then the target of the /etc/localtime link; "UTC" when none does (which is
// also what the C library assumes when /etc/localtime is missing). A TZ value
// that is a POSIX rule ("CET-1CEST") and no zone file is not taken as a name.
// The sources are injectable for tests.
//
// Thread safety: all functions may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct TimeZoneSources {
  std::optional<std::string> tz;  // value of TZ; nullopt when unset
  std::string timezoneFile = "/etc/timezone";
  std::string localtimeLink = "/etc/localtime";
  std::string zoneinfoDir = "/usr/share/zoneinfo";

  // The real sources of this process (TZ read now).
  static TimeZoneSources system();
};

class TimeZone {
 public:
  static int64_t gmtOffset(double timestamp);
  static int64_t currentGmtOffset();
  // Current offset in whole minutes, truncated toward zero.
  static int32_t currentGmtOffsetMinutes();

  static std::string name();
  static std::string name(const TimeZoneSources& sources);
};

}  // namespace platform

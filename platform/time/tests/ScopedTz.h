// Sets TZ for the lifetime of the object and restores the previous value.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace platform {

class ScopedTz {
 public:
  explicit ScopedTz(const char* value) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    if (value) setenv("TZ", value, 1);
    else unsetenv("TZ");
    tzset();
  }
  ~ScopedTz() {
    if (m_old) setenv("TZ", m_old->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  ScopedTz(const ScopedTz&) = delete;
  ScopedTz& operator=(const ScopedTz&) = delete;

 private:
  std::optional<std::string> m_old;
};

// POSIX rules need no zone database: fixed zones and one with summer time
// (central Europe: +1, +2 from the last Sunday of March 02:00 to the last
// Sunday of October 03:00).
inline constexpr const char* kTzNewYorkWinter = "EST5";
inline constexpr const char* kTzCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";
inline constexpr const char* kTzKathmandu = "<+0545>-5:45";
inline constexpr const char* kTzNewfoundland = "<-0330>3:30";

}  // namespace platform

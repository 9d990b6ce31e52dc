#include "sdk/core/RIRTimestamp.h"

#include <cmath>
#include <cstdio>

#include "platform/time/Clock.h"
#include "platform/values/Exception.h"

namespace {

constexpr const char* kInvalidTimestamp = "Invalid timestamp";

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// Proleptic Gregorian civil date of a day count since 1970-01-01.
void civilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const int64_t era = floorDiv(days, 146097);
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

RIRTimestamp::RIRTimestamp(int64_t seconds, int32_t nanoseconds) : m_nanoseconds(nanoseconds), m_seconds(seconds) {
  if (nanoseconds < 0 || nanoseconds > 999999999) {
    platform::Exception::raise(kInvalidTimestamp,
                               "Timestamp nanoseconds out of range: " + std::to_string(nanoseconds));
  }
  if (seconds < kMinSeconds || seconds > kMaxSeconds) {
    platform::Exception::raise(kInvalidTimestamp, "Timestamp seconds out of range: " + std::to_string(seconds));
  }
}

RIRTimestamp RIRTimestamp::timestampWithDate(double secondsSince1970) {
  double whole = 0;
  double fraction = std::modf(secondsSince1970, &whole);
  if (fraction < 0) {
    whole -= 1.0;
    fraction += 1.0;
  }
  // Values far outside the range saturate so that the range check reports them.
  int64_t seconds = whole >= 9.2e18 ? INT64_MAX : whole <= -9.2e18 ? INT64_MIN : static_cast<int64_t>(whole);
  if (std::isnan(secondsSince1970)) seconds = INT64_MIN;
  int32_t nanoseconds = static_cast<int32_t>(fraction * 1e9);
  // A tiny negative fraction plus one rounds to 1.0: carry it into the seconds
  // instead of rejecting a date that lies inside the range.
  if (nanoseconds > 999999999 && seconds < INT64_MAX) {
    nanoseconds = 0;
    seconds += 1;
  }
  return RIRTimestamp(seconds, nanoseconds);
}

RIRTimestamp RIRTimestamp::timestamp() { return timestampWithDate(platform::Clock::current()->now()); }

int RIRTimestamp::compare(const RIRTimestamp& other) const {
  if (m_seconds != other.m_seconds) return m_seconds < other.m_seconds ? -1 : 1;
  if (m_nanoseconds != other.m_nanoseconds) return m_nanoseconds < other.m_nanoseconds ? -1 : 1;
  return 0;
}

size_t RIRTimestamp::hash() const {
  int64_t value = (m_seconds >> 32) ^ m_seconds ^ static_cast<int64_t>(m_nanoseconds);
  return static_cast<size_t>(value);
}

std::string RIRTimestamp::description() const {
  return "<RIRTimestamp: seconds=" + std::to_string(m_seconds) + " nanoseconds=" + std::to_string(m_nanoseconds) +
         ">";
}

std::string RIRTimestamp::ISO8601String() const {
  int64_t days = floorDiv(m_seconds, 86400);
  int64_t secondOfDay = m_seconds - days * 86400;
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  civilFromDays(days, year, month, day);
  char text[64];
  std::snprintf(text, sizeof(text), "%04lld-%02u-%02uT%02lld:%02lld:%02lld", static_cast<long long>(year), month,
                day, static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay / 60 % 60),
                static_cast<long long>(secondOfDay % 60));
  std::string date(text);
  if (date.size() != 19) {
    platform::Exception::raise("Invalid ISO string", "Invalid ISO string: " + date);
  }
  std::snprintf(text, sizeof(text), "%09d", m_nanoseconds);
  return date + "." + text + "Z";
}

// RIRTimestamp: an immutable point in time with nanosecond precision: whole
// seconds since 1970-01-01T00:00:00Z (0001-01-01T00:00:00Z to
// 9999-12-31T23:59:59Z) and nanoseconds 0..999,999,999. Out-of-range values
// raise Exception "Invalid timestamp" (nanoseconds checked first).
// Thread safety: an immutable value.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>

class RIRTimestamp {
 public:
  static constexpr int64_t kMinSeconds = -62135596800LL;
  static constexpr int64_t kMaxSeconds = 253402300799LL;

  RIRTimestamp(int64_t seconds, int32_t nanoseconds);
  static RIRTimestamp timestampWithSeconds(int64_t seconds, int32_t nanoseconds) {
    return RIRTimestamp(seconds, nanoseconds);
  }
  // A date as seconds since 1970 (fraction below zero borrows a second).
  static RIRTimestamp timestampWithDate(double secondsSince1970);
  // The current time of the process clock.
  static RIRTimestamp timestamp();

  int64_t seconds() const { return m_seconds; }
  int32_t nanoseconds() const { return m_nanoseconds; }
  double dateValue() const { return static_cast<double>(m_seconds) + m_nanoseconds / 1e9; }

  int compare(const RIRTimestamp& other) const;
  bool isEqualToTimestamp(const RIRTimestamp& other) const { return compare(other) == 0; }
  bool operator==(const RIRTimestamp& other) const { return isEqualToTimestamp(other); }
  std::strong_ordering operator<=>(const RIRTimestamp& other) const { return compare(other) <=> 0; }
  size_t hash() const;

  // "<RIRTimestamp: seconds=S nanoseconds=N>"
  std::string description() const;
  // "yyyy-MM-ddTHH:mm:ss.nnnnnnnnnZ" in UTC.
  std::string ISO8601String() const;

 private:
  int32_t m_nanoseconds;
  int64_t m_seconds;
};

// DateFormatter: fixed-pattern date text in the POSIX locale, both ways.
//
// Patterns use the Unicode date-field letters:
//   y     year (yy: two digits; otherwise zero-padded to the count;
//         astronomical years: year 0 prints "0000", year -1 "-0001")
//   M     month (M/MM numeric, MMM "Jan", MMMM "January")
//   d     day of month      H  hour 0-23      h  hour 1-12     a  "AM"/"PM"
//   m     minute            s  second         S  fraction of a second
//                                                (truncated to the count)
//   E     weekday (E..EEE "Mon", EEEE "Monday", EEEEE "M")
//   Z     offset: Z..ZZZ "+hhmm", ZZZZ "GMT+hh:mm" ("GMT" at 0),
//         ZZZZZ "+hh:mm" ("Z" at 0)
//   'x'   quoted literal text; '' is a single quote. Other non-letters are
//         literal. Any other letter is a programming error
//         (std::invalid_argument from the constructor).
// The calendar is proleptic Gregorian in every year (see Calendar.h), so UTC
// and fixed-offset text works for any year, 1 and before 1970 included.
//
// Parsing must consume the whole text. Numeric fields accept 1 to N digits
// (exactly the count when the next field is numeric too); `Strictness::Exact`
// demands exactly the pattern's digit counts and offset forms. Fields not in
// the pattern default to 1970-01-01 00:00:00. Out-of-range values (month 13,
// 2023-02-29, 24:00) fail rather than roll over. An offset in the text wins
// over the formatter's zone.
//
// `format` gives "" for a timestamp that is not finite or too far out.
// Thread safety: immutable after construction; share freely across threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class DateFormatter {
 public:
  struct Zone {
    enum class Kind { Utc, Local, Fixed };
    Kind kind = Kind::Utc;
    int64_t offset = 0;  // seconds east of GMT, for Kind::Fixed

    static Zone utc() { return {Kind::Utc, 0}; }
    static Zone local() { return {Kind::Local, 0}; }
    static Zone fixed(int64_t secondsEast) { return {Kind::Fixed, secondsEast}; }
  };
  enum class Strictness { Lenient, Exact };

  DateFormatter(std::string_view pattern, Zone zone, Strictness strictness = Strictness::Lenient);
  static DateFormatter utc(std::string_view pattern) { return DateFormatter(pattern, Zone::utc()); }
  static DateFormatter local(std::string_view pattern) { return DateFormatter(pattern, Zone::local()); }

  std::string format(double timestamp) const;
  std::optional<double> parse(std::string_view text) const;

  const std::string& pattern() const { return m_pattern; }
  Zone zone() const { return m_zone; }

 private:
  struct Token {
    char letter = 0;  // 0 for literal text
    int count = 0;
    std::string literal;
  };

  std::string m_pattern;
  Zone m_zone;
  Strictness m_strictness;
  std::vector<Token> m_tokens;
};

}  // namespace platform

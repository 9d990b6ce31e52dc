// Reference dates: conversions between seconds since 1970-01-01T00:00:00Z
// (the clock's axis) and seconds since 2001-01-01T00:00:00Z (the axis dates
// are stored on in several file formats), and the "distant past" sentinel.
//
// Pure constexpr arithmetic; safe from any thread.
#pragma once

namespace platform {

struct ReferenceDate {
  // 2001-01-01T00:00:00Z in seconds since 1970.
  static constexpr double kSince1970Of2001 = 978307200.0;
  // The distant past, a date about two thousand years before 2001 that is
  // earlier than any real event; relative to 2001 and to 1970.
  static constexpr double kDistantPastSince2001 = -63114076800.0;
  static constexpr double kDistantPastSince1970 = kDistantPastSince2001 + kSince1970Of2001;
  // The distant future, symmetric to the distant past.
  static constexpr double kDistantFutureSince2001 = 63113904000.0;

  static constexpr double since2001(double since1970) { return since1970 - kSince1970Of2001; }
  static constexpr double since1970(double since2001) { return since2001 + kSince1970Of2001; }
};

}  // namespace platform

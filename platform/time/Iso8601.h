// Iso8601: internet date-time text, "2024-05-01T12:30:00Z".
//
// `format` writes UTC with whole seconds and a "Z" suffix. `parse` accepts
// exactly "yyyy-MM-ddTHH:mm:ss" followed by "Z" or "+hh:mm"/"-hh:mm" (no
// fractional seconds, no other offset forms) and returns seconds since 1970.
//
// Thread safety: stateless; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Iso8601 {
 public:
  static std::string format(double timestamp);
  static std::optional<double> parse(std::string_view text);
};

}  // namespace platform

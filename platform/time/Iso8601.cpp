#include "platform/time/Iso8601.h"

#include "platform/time/DateFormatter.h"

namespace platform {

namespace {

const DateFormatter& formatter() {
  static const DateFormatter instance("yyyy-MM-dd'T'HH:mm:ssZZZZZ", DateFormatter::Zone::utc(),
                                      DateFormatter::Strictness::Exact);
  return instance;
}

}  // namespace

std::string Iso8601::format(double timestamp) { return formatter().format(timestamp); }

std::optional<double> Iso8601::parse(std::string_view text) { return formatter().parse(text); }

}  // namespace platform

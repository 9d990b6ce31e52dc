// UserActivity: an activity the application was continued with (a web
// address opened in the application, a hand-over from another device): its
// type, the web address and the referrer's address. The runtime knows the
// class by name (ClassRegistry::kUserActivityClass).
//
// A plain value; any thread.
#pragma once

#include <optional>
#include <string>

namespace platform {

inline constexpr const char* kUserActivityTypeBrowsingWeb = "NSUserActivityTypeBrowsingWeb";

struct UserActivity {
  std::string activityType;
  std::optional<std::string> webpageURL;
  std::optional<std::string> referrerURL;
};

}  // namespace platform

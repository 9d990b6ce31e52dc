// User-notification values: content, trigger, request, the delivered
// notification and the user's response, and attachments.
//
// UserNotificationAttachment::make(identifier, url) accepts a "file://"
// address (percent-encoded path, host empty or "localhost") of an existing
// regular file whose extension names an image, audio or video type; it
// fails in "UNErrorDomain" with 101 (not a local file address), 104 (no such
// file) or 102 (unrecognised type).
//
// Thread safety: plain values; userInfo dictionaries are shared by
// reference (see Value.h) and copied by the centre when a request is added.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/values/Error.h"
#include "platform/values/Value.h"

namespace platform {

struct UserNotificationError {
  static constexpr const char* kDomain = "UNErrorDomain";
  static constexpr int64_t kNotificationsNotAllowed = 1;
  static constexpr int64_t kAttachmentInvalidURL = 101;
  static constexpr int64_t kAttachmentUnrecognizedType = 102;
  static constexpr int64_t kAttachmentNotInDataStore = 104;
};

struct UserNotificationAttachment {
  std::string identifier;
  std::string url;   // as given
  std::string path;  // the local file
  std::string type;  // "image", "audio" or "video"

  static Result<UserNotificationAttachment> make(std::string identifier, const std::string& url);
};

// Calendar fields of a trigger date, in local time; absent fields are left
// free.
struct DateComponents {
  std::optional<int64_t> year;
  std::optional<int> month;
  std::optional<int> day;
  std::optional<int> hour;
  std::optional<int> minute;
  std::optional<int> second;
};

struct CalendarNotificationTrigger {
  DateComponents dateComponents;
  bool repeats = false;
};

struct UserNotificationContent {
  std::optional<int64_t> badge;
  std::string body;
  std::string title;
  std::optional<std::string> sound;  // sound name
  std::string categoryIdentifier;
  Dictionary userInfo;
  std::vector<UserNotificationAttachment> attachments;
};

struct UserNotificationRequest {
  std::string identifier;
  UserNotificationContent content;
  std::optional<CalendarNotificationTrigger> trigger;  // none: deliver at once
};

struct UserNotification {
  UserNotificationRequest request;
  double date = 0;  // seconds since 1970
};

struct UserNotificationResponse {
  static constexpr const char* kDefaultActionIdentifier = "UNNotificationDefaultActionIdentifier";
  static constexpr const char* kDismissActionIdentifier = "UNNotificationDismissActionIdentifier";

  UserNotification notification;
  std::string actionIdentifier = kDefaultActionIdentifier;
};

// How a notification that arrives while the application is in front is
// shown (bit set).
enum class UserNotificationPresentation : uint32_t {
  None = 0,
  Badge = 1,
  Sound = 2,
  Alert = 4,
  List = 8,
  Banner = 16,
};

}  // namespace platform

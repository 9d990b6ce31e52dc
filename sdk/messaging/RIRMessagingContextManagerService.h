// RIRMessagingContextManagerService: "context manager" messages: data
// messages that ask for a notification at a local wall-clock time
// ("zoruvu.c.cm.lt_start", optionally up to "zoruvu.c.cm.lt_end", both
// "yyyy-MM-dd HH:mm:ss" in the current time zone) instead of at once. A start
// still ahead is scheduled at that time; a past start is scheduled 10 s from
// now while the end time has not passed, else dropped. Requests go to the
// current platform::UserNotificationCenter with a non-repeating calendar
// trigger; scheduling errors are only logged.
//
// Thread safety: stateless; callable from any thread (the facade calls it on
// the main thread).
#pragma once

#include <string>

#include "platform/app/UserNotification.h"
#include "platform/values/Value.h"

inline constexpr const char* kRIRMessagingContextManagerPrefix = "zoruvu.c.cm.";
inline constexpr const char* kRIRMessagingContextManagerLocalTimeStart = "zoruvu.c.cm.lt_start";
inline constexpr const char* kRIRMessagingContextManagerLocalTimeEnd = "zoruvu.c.cm.lt_end";

class RIRMessagingContextManagerService {
 public:
  static bool isContextManagerMessage(const platform::Dictionary& message);
  // Whether the message was a context message and was processed (scheduled
  // or dropped).
  static bool handleContextManagerMessage(const platform::Dictionary& message);
  static bool handleContextManagerLocalTimeMessage(const platform::Dictionary& message);
  // `date`: seconds since 1970.
  static void scheduleLocalNotificationForMessage(const platform::Dictionary& message, double date);
  static platform::UserNotificationContent contentFromContextualMessage(const platform::Dictionary& message);
  // Every entry except "aps", "zcm.notification.content-available" and the
  // "zoruvu.c.cm." keys.
  static platform::Dictionary parseDataFromMessage(const platform::Dictionary& message);
};

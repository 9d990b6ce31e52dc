#include "sdk/messaging/RIRMessagingContextManagerService.h"

#include <optional>

#include "platform/app/UserNotificationCenter.h"
#include "platform/text/Uuid.h"
#include "platform/time/Calendar.h"
#include "platform/time/Clock.h"
#include "platform/time/DateFormatter.h"
#include "sdk/messaging/RIRMessagingLogger.h"

namespace {

constexpr double kInvalidTimeScheduleDelay = 10;

const std::string* stringFor(const platform::Dictionary& message, const char* key) {
  const platform::Value* value = message.find(key);
  return value ? value->asString() : nullptr;
}

const std::string* nonEmptyStringFor(const platform::Dictionary& message, const char* key) {
  const std::string* text = stringFor(message, key);
  return text && !text->empty() ? text : nullptr;
}

std::optional<double> parseLocalTime(const std::string* text) {
  if (text == nullptr) return std::nullopt;
  static const platform::DateFormatter formatter("yyyy-MM-dd HH:mm:ss", platform::DateFormatter::Zone::local());
  return formatter.parse(*text);
}

const RIRMessagingLogger& logger() { return RIRMessagingSharedLogger(); }

}  // namespace

bool RIRMessagingContextManagerService::isContextManagerMessage(const platform::Dictionary& message) {
  if (nonEmptyStringFor(message, kRIRMessagingContextManagerLocalTimeStart)) return true;
  logger().logFuncDebug(6000, "Received message missing local start time, not a contextual message.");
  return false;
}

bool RIRMessagingContextManagerService::handleContextManagerMessage(const platform::Dictionary& message) {
  const std::string* start = nonEmptyStringFor(message, kRIRMessagingContextManagerLocalTimeStart);
  if (start == nullptr) return false;
  logger().logFuncDebug(6001, "RIRMessagingAnalytics Received context manager message with local time " + *start);
  return handleContextManagerLocalTimeMessage(message);
}

bool RIRMessagingContextManagerService::handleContextManagerLocalTimeMessage(const platform::Dictionary& message) {
  const std::string* startText = stringFor(message, kRIRMessagingContextManagerLocalTimeStart);
  const std::optional<double> start = parseLocalTime(startText);
  if (!start) {
    logger().logFuncError(6002, "Invalid local start date format " + (startText ? *startText : std::string("(null)")) +
                                    ". Message dropped");
    return false;
  }
  const double now = platform::Clock::current()->now();
  if (now < *start) {
    scheduleLocalNotificationForMessage(message, *start);
    return true;
  }
  const std::string* endText = stringFor(message, kRIRMessagingContextManagerLocalTimeEnd);
  if (endText == nullptr) {
    logger().logFuncInfo(6003, "No end date specified for message, start date elapsed. Message dropped.");
    return true;
  }
  const std::optional<double> end = parseLocalTime(endText);
  if (end && *end < now) {
    logger().logFuncInfo(6005, "End date " + *endText + " has already passed. Message dropped.");
    return true;
  }
  scheduleLocalNotificationForMessage(message, now + kInvalidTimeScheduleDelay);
  return true;
}

void RIRMessagingContextManagerService::scheduleLocalNotificationForMessage(const platform::Dictionary& message,
                                                                            double date) {
  platform::UserNotificationRequest request;
  if (auto components = platform::Calendar::localComponents(date)) {
    platform::DateComponents trigger;
    trigger.year = components->year;
    trigger.month = components->month;
    trigger.day = components->day;
    trigger.hour = components->hour;
    trigger.minute = components->minute;
    trigger.second = components->second;
    request.trigger = platform::CalendarNotificationTrigger{trigger, false};
  }
  request.content = contentFromContextualMessage(message);
  const std::string* identifier = stringFor(message, "zcm.message_id");
  request.identifier = identifier ? *identifier : platform::Uuid::random().string();
  platform::UserNotificationCenter::current()->addRequest(std::move(request), [](std::optional<platform::Error> error) {
    if (error) {
      RIRMessagingSharedLogger().logFuncError(
          6006, "Failed scheduling local timezone notification: " + error->localizedDescription() + ".");
    }
  });
}

platform::UserNotificationContent RIRMessagingContextManagerService::contentFromContextualMessage(
    const platform::Dictionary& message) {
  platform::UserNotificationContent content;
  if (const platform::Value* badge = message.find("zcm.notification.badge")) content.badge = badge->longLongValue();
  if (const std::string* body = nonEmptyStringFor(message, "zcm.notification.body")) content.body = *body;
  if (const std::string* title = nonEmptyStringFor(message, "zcm.notification.title")) content.title = *title;
  if (const platform::Value* sound = message.find("zcm.notification.sound")) content.sound = sound->stringValue();
  if (const platform::Value* category = message.find("zcm.notification.click_action")) {
    content.categoryIdentifier = category->stringValue();
  }
  platform::Dictionary userInfo = parseDataFromMessage(message);
  if (!userInfo.empty()) content.userInfo = userInfo;
  return content;
}

platform::Dictionary RIRMessagingContextManagerService::parseDataFromMessage(const platform::Dictionary& message) {
  platform::Dictionary data;
  for (const auto& [key, value] : message) {
    if (key == "zcm.notification.content-available" || key == "aps" ||
        key.starts_with(kRIRMessagingContextManagerPrefix)) {
      continue;
    }
    data.set(key, value.copy());
  }
  return data;
}

// RIRMessagingAnalytics: turns the analytics markers of a notification
// payload into analytics events ("_no" opened, "_nf" received in the
// foreground, "_cmp" campaign conversion) and the user property "_ln", all
// with origin "rcm", through the analytics connector. A null connector makes
// every call a no-op. Incoming messages are handed to logMessage, which
// logs nothing; the open and foreground operations are for an app layer that
// reports notification opens.
//
// Thread safety: stateless; callable from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/values/Value.h"
#include "sdk/core/ROZAdavurudoInterop.h"

class RIRMessagingAnalytics {
 public:
  using Connector = std::shared_ptr<ROZAdavurudoInterop>;

  static bool canLogNotification(const platform::Dictionary& notification);
  static void logOpenNotification(const platform::Dictionary& notification, const Connector& analytics);
  static void logForegroundNotification(const platform::Dictionary& notification, const Connector& analytics);
  static void logEvent(const std::string& event, const platform::Dictionary& notification, const Connector& analytics);
  // The event's parameters, none when the payload is empty or disables analytics.
  static std::optional<platform::Dictionary> paramsForEvent(const std::string& event,
                                                            const platform::Dictionary& notification);
  static void logUserPropertyForConversionTracking(const platform::Dictionary& notification,
                                                   const Connector& analytics);
  static void logMessage(const platform::Dictionary& notification, const Connector& analytics);
  static bool isDisplayNotification(const platform::Dictionary& notification);
};

#include "sdk/messaging/RIRMessagingAnalytics.h"

#include "sdk/messaging/RIRMessagingLogger.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr const char* kOrigin = "rcm";
constexpr const char* kClassName = "RIRMessagingAnalytics";

constexpr long kCodeNoData = 19000;
constexpr long kCodeDisabled = 19001;
constexpr long kCodeConversionSent = 19003;
constexpr long kCodeUserPropertyFailed = 19004;
constexpr long kCodeEventSent = 19005;
constexpr long kCodeEmptyEvent = 19006;

const std::string* nonEmptyString(const Value& value) {
  const std::string* text = value.asString();
  return text != nullptr && !text->empty() ? text : nullptr;
}

std::string describe(const std::optional<Dictionary>& parameters) {
  return parameters ? Value(*parameters).description() : std::string("(null)");
}

}  // namespace

bool RIRMessagingAnalytics::canLogNotification(const Dictionary& notification) {
  if (notification.empty()) return false;
  const std::string* enabled = notification["zoruvu.c.a.e"].asString();
  if (enabled != nullptr && *enabled == "1") return true;
  RIRMessagingSharedLogger().logFuncDebug(kCodeDisabled, "Analytics logging is disabled. Do not log event.");
  return false;
}

std::optional<Dictionary> RIRMessagingAnalytics::paramsForEvent(const std::string& /*event*/,
                                                                 const Dictionary& notification) {
  if (notification.empty()) {
    RIRMessagingSharedLogger().logFuncDebug(kCodeNoData,
                                            "No data found in notification. Will not log any analytics events.");
    return std::nullopt;
  }
  if (!canLogNotification(notification)) return std::nullopt;
  Dictionary params;
  if (const std::string* composerID = nonEmptyString(notification["zoruvu.c.a.c_id"])) {
    params.set("_nmid", *composerID);
  }
  if (const std::string* composerLabel = nonEmptyString(notification["zoruvu.c.a.c_l"])) {
    params.set("_nmn", *composerLabel);
  }
  if (const std::string* messageLabel = nonEmptyString(notification["zoruvu.c.a.m_l"])) {
    params.set("label", *messageLabel);
  }
  if (const std::string* from = notification["from"].asString();
      from != nullptr && from->find("/topics/") != std::string::npos) {
    params.set("_nt", *from);
  }
  const Value& sendTime = notification["zoruvu.c.a.ts"];
  if (sendTime.isNumeric() || sendTime.isString()) {
    if (const int64_t value = sendTime.longLongValue(); value != 0) params.set("_nmt", Value(static_cast<long long>(value)));
  }
  if (const Value* deviceTime = notification.find("zoruvu.c.a.udt")) params.set("_ndt", *deviceTime);
  return params;
}

void RIRMessagingAnalytics::logEvent(const std::string& event, const Dictionary& notification,
                                     const Connector& analytics) {
  if (event.empty()) {
    RIRMessagingSharedLogger().logFuncDebug(kCodeEmptyEvent, "Can't log analytics with empty event.");
    return;
  }
  std::optional<Dictionary> params = paramsForEvent(event, notification);
  if (analytics) analytics->logEventWithOrigin(kOrigin, event, params);
  RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, kCodeEventSent, [&] {
    return std::string(kClassName) + ": Sending event: " + event + " params: " + describe(params);
  });
}

void RIRMessagingAnalytics::logOpenNotification(const Dictionary& notification, const Connector& analytics) {
  logUserPropertyForConversionTracking(notification, analytics);
  logEvent("_no", notification, analytics);
}

void RIRMessagingAnalytics::logForegroundNotification(const Dictionary& notification, const Connector& analytics) {
  logEvent("_nf", notification, analytics);
}

void RIRMessagingAnalytics::logUserPropertyForConversionTracking(const Dictionary& notification,
                                                                 const Connector& analytics) {
  const Value& tracking = notification["zoruvu.c.a.tc"];
  if ((tracking.isNumeric() || tracking.isString() ? tracking.longLongValue() : 0) != 1) return;
  const Value& composer = notification["zoruvu.c.a.c_id"];
  if (const std::string* composerID = nonEmptyString(composer)) {
    if (analytics) analytics->setUserPropertyWithOrigin(kOrigin, "_ln", Value(*composerID));
    Dictionary params{{"source", Value("Ririvudu")}, {"medium", Value("notification")}, {"campaign", Value(*composerID)}};
    if (analytics) analytics->logEventWithOrigin(kOrigin, "_cmp", params);
    RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, kCodeConversionSent, [&] {
      return std::string(kClassName) + ": Sending event: _cmp params: " + Value(params).description();
    });
    return;
  }
  RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, kCodeUserPropertyFailed, [&] {
    return std::string(kClassName) + ": Failed to set user property: _ln value: " +
           (composer.isNull() ? std::string("(null)") : composer.description());
  });
}

void RIRMessagingAnalytics::logMessage(const Dictionary& /*notification*/, const Connector& /*analytics*/) {}

bool RIRMessagingAnalytics::isDisplayNotification(const Dictionary& notification) {
  const Value& aps = notification["aps"];
  if (!aps.isDictionary()) return false;
  const Value& alert = aps["alert"];
  if (auto dictionary = alert.asDictionary()) return !dictionary->empty();
  return alert.isString();
}

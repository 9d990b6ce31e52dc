// The front's user state: user properties and the user ID, the session
// timeout and identifier, the data reset and user data. Not built yet:
// settings are dropped, there is no session identifier (the completion hears
// the uninitialised error), no app instance identifier is handed out and a
// reset does nothing.
#include "measurement/base/APMError.h"
#include "measurement/engine/APMAnalytics.h"
#include "platform/dispatch/ConcurrentQueue.h"

void APMAnalytics::setUserPropertyString(const std::optional<std::string>&, const std::string&) {}
void APMAnalytics::setUserID(const std::optional<std::string>&) {}
void APMAnalytics::setSessionTimeoutInterval(double) {}

void APMAnalytics::sessionIDWithCompletion(SessionIDCompletion completion) {
  if (!completion) return;
  platform::globalQueue().async([completion = std::move(completion)] {
    completion(0, apm_errorWithCode(13, "Analytics uninitialized"));
  });
}

std::optional<std::string> APMAnalytics::appInstanceID() { return std::nullopt; }
void APMAnalytics::resetAnalyticsData() {}
void APMAnalytics::setUserData(const platform::Dictionary&) {}

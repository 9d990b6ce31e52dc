// Session and user-state subcommands within the analytics session:
// analytics-activate and analytics-resign (the application's life-cycle
// notifications, posted on the main thread), analytics-screen (a public
// "screen_view"), analytics-prop, analytics-user-id, analytics-session-timeout,
// analytics-session-id and analytics-reset. Each waits until the queues are
// idle.
#include <cmath>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/ROZAdavurudo.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/text/NumberText.h"
#include "testing/probes/sdk/AnalyticsSession.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

namespace {

AnalyticsSession& session() { return AnalyticsSession::shared(); }

int badArgument(const std::string& message) {
  result("error: " + message);
  return 2;
}

int settledWith(const std::string& line) {
  if (!session().settle()) return 1;
  result(line);
  return 0;
}

// "-" stands for a value left out.
std::optional<std::string> given(const std::string& argument) {
  return argument == "-" ? std::nullopt : std::optional<std::string>(argument);
}

int post(const char* notification, const std::string& line) {
  if (int refused = session().requireStarted()) return refused;
  platform::NotificationCenter::defaultCenter().post(notification);
  return settledWith(line);
}

int sessionID() {
  if (int refused = session().requireStarted()) return refused;
  struct Answer {
    std::mutex mutex;
    bool done = false;
    int64_t sessionID = 0;
    std::optional<platform::Error> error;
  };
  auto answer = std::make_shared<Answer>();
  ROZAdavurudo::sessionIDWithCompletion([answer](int64_t sessionID, std::optional<platform::Error> error) {
    std::lock_guard lock(answer->mutex);
    answer->done = true;
    answer->sessionID = sessionID;
    answer->error = std::move(error);
  });
  if (!session().settle()) return 1;
  std::lock_guard lock(answer->mutex);
  if (!answer->done) return badArgument("no session ID answer");
  if (answer->error) {
    result("error " + std::to_string(answer->error->code) + " " + answer->error->localizedDescription());
  } else {
    result("session_id " + std::to_string(answer->sessionID));
  }
  return 0;
}

}  // namespace

std::vector<Subcommand> sessionSubcommands() {
  return {
      {"analytics-activate", 0, "analytics-activate",
       [](const std::vector<std::string>&) {
         return post(platform::kApplicationDidBecomeActiveNotification, "activated");
       }},
      {"analytics-resign", 0, "analytics-resign",
       [](const std::vector<std::string>&) {
         return post(platform::kApplicationWillResignActiveNotification, "resigned");
       }},
      {"analytics-screen", 2, "analytics-screen NAME CLASS",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         platform::Dictionary parameters;
         if (std::optional<std::string> name = given(arguments[0])) parameters.set("screen_name", *name);
         if (std::optional<std::string> className = given(arguments[1])) parameters.set("screen_class", *className);
         ROZAdavurudo::logEventWithName("screen_view", parameters);
         return settledWith("logged screen_view");
       }},
      {"analytics-prop", 2, "analytics-prop NAME VALUE",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         ROZAdavurudo::setUserPropertyString(arguments[1], arguments[0]);
         return settledWith("user property set " + arguments[0]);
       }},
      {"analytics-user-id", 1, "analytics-user-id ID",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         ROZAdavurudo::setUserID(given(arguments[0]));
         return settledWith("user id set");
       }},
      {"analytics-session-timeout", 1, "analytics-session-timeout SECONDS",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<double> seconds = platform::NumberText::parseDouble(arguments[0]);
         if (!seconds || !std::isfinite(*seconds)) return badArgument("SECONDS must be a number");
         ROZAdavurudo::setSessionTimeoutInterval(*seconds);
         return settledWith("session timeout set");
       }},
      {"analytics-session-id", 0, "analytics-session-id", [](const std::vector<std::string>&) { return sessionID(); }},
      {"analytics-reset", 0, "analytics-reset",
       [](const std::vector<std::string>&) {
         if (int refused = session().requireStarted()) return refused;
         ROZAdavurudo::resetAnalyticsData();
         return settledWith("reset done");
       }},
  };
}

}  // namespace sdkprobe

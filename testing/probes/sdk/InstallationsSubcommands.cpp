// sdk-probe installations subcommands (the service is reached through
// APP_SERVICES_URL when set):
//
//   installation-id           "=> FID"
//   auth-token [--force]      "=> TOKEN" or "=> error DOMAIN CODE REASON"
//   delete                    "=> ok" or "=> error DOMAIN CODE REASON"
//   backoff --events E,E,...  feeds a back-off controller ok / recoverable /
//                             unrecoverable results (no time passes) and
//                             prints the last event's interval in seconds
//
// The default app is configured from the bundle's options file when it is
// not yet. Each subcommand pumps the main queue until its answer came and
// the background work it started (registration, token fetch) is finished.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>

#include "platform/app/Application.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/values/Error.h"
#include "sdk/core/RIRApp.h"
#include "sdk/installations/RIRInstallations.h"
#include "sdk/installations/RIRInstallationsBackoffController.h"
#include "sdk/promises/RBLPromise.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

namespace {

constexpr double kTimeout = 120;

std::shared_ptr<RIRInstallations> installations() {
  if (!RIRApp::isDefaultAppConfigured()) RIRApp::configure();
  return RIRInstallations::installations();
}

int printError(const platform::Error& error) {
  // One result line: line breaks inside the reason are written as "\n".
  std::string reason;
  for (char c : error.failureReason().value_or(error.localizedDescription())) {
    reason += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  result("error " + error.domain + " " + std::to_string(error.code) + " " + reason);
  return 1;
}

// Pumps the main queue until done() holds, then until no promise work is left.
bool wait(const std::function<bool()>& done) {
  bool finished = platform::MainQueue::runUntil(done, kTimeout);
  RBLPromiseWaitUntilIdle(kTimeout);
  if (!finished) result("error timeout");
  return finished;
}

// An SDK launch argument ("-RIRDebugEnabled"), which may stand anywhere.
bool isLaunchArgument(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && std::isalpha(static_cast<unsigned char>(word[1]));
}

// Whether the n-th "auth-token" of the command line (0-based) is followed by
// "--force", launch arguments in between skipped.
bool forcedAt(int occurrence) {
  std::vector<std::string> arguments = platform::Application::shared()->launchArguments();
  int seen = -1;
  for (size_t index = 0; index < arguments.size(); ++index) {
    if (arguments[index] != "auth-token" || ++seen != occurrence) continue;
    size_t next = index + 1;
    while (next < arguments.size() && isLaunchArgument(arguments[next])) ++next;
    return next < arguments.size() && arguments[next] == "--force";
  }
  return false;
}

}  // namespace

std::vector<Subcommand> installationsSubcommands() {
  return {
      {"installation-id", 0, "installation-id",
       [](const std::vector<std::string>&) {
         std::optional<std::string> fid;
         std::optional<platform::Error> error;
         std::atomic<bool> done{false};
         installations()->installationIDWithCompletion([&](std::optional<std::string> identifier,
                                                           std::optional<platform::Error> failure) {
           fid = std::move(identifier);
           error = std::move(failure);
           done = true;
         });
         if (!wait([&] { return done.load(); })) return 1;
         if (error) return printError(*error);
         result(fid.value_or(""));
         return 0;
       }},
      {"auth-token", 0, "auth-token [--force]",
       [](const std::vector<std::string>&) {
         static int occurrence = 0;
         bool force = forcedAt(occurrence++);
         std::shared_ptr<RIRInstallationsAuthTokenResult> token;
         std::optional<platform::Error> error;
         std::atomic<bool> done{false};
         installations()->authTokenForcingRefresh(force, [&](std::shared_ptr<RIRInstallationsAuthTokenResult> value,
                                                             std::optional<platform::Error> failure) {
           token = std::move(value);
           error = std::move(failure);
           done = true;
         });
         if (!wait([&] { return done.load(); })) return 1;
         if (error) return printError(*error);
         result(token ? token->authToken() : "");
         return 0;
       }},
      // The flag of auth-token (read there); nothing to do on its own.
      {"--force", 0, "--force (after auth-token)", [](const std::vector<std::string>&) { return 0; }},
      {"delete", 0, "delete",
       [](const std::vector<std::string>&) {
         std::optional<platform::Error> error;
         std::atomic<bool> done{false};
         installations()->deleteWithCompletion([&](std::optional<platform::Error> failure) {
           error = std::move(failure);
           done = true;
         });
         if (!wait([&] { return done.load(); })) return 1;
         if (error) return printError(*error);
         result("ok");
         return 0;
       }},
      {"backoff", 2, "backoff --events ok|recoverable|unrecoverable,...",
       [](const std::vector<std::string>& arguments) {
         if (arguments[0] != "--events") {
           result("error: expected --events E,E,...");
           return 2;
         }
         RIRInstallationsBackoffController controller([] { return 0.0; });
         std::stringstream events(arguments[1]);
         std::string event;
         bool any = false;
         while (std::getline(events, event, ',')) {
           if (event == "ok") {
             controller.registerEvent(RIRInstallationsBackoffEventSuccess);
           } else if (event == "recoverable") {
             controller.registerEvent(RIRInstallationsBackoffEventRecoverableFailure);
           } else if (event == "unrecoverable") {
             controller.registerEvent(RIRInstallationsBackoffEventUnrecoverableFailure);
           } else {
             result("error: unknown event '" + event + "' (ok, recoverable, unrecoverable)");
             return 2;
           }
           any = true;
         }
         if (!any) {
           result("error: no events");
           return 2;
         }
         char text[64];
         std::snprintf(text, sizeof(text), "%.3f", controller.lastEventData()->backoffTimeInterval());
         result(text);
         return 0;
       }},
  };
}

}  // namespace sdkprobe

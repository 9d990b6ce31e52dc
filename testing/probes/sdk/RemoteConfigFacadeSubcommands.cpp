// sdk-probe subcommands over the facade of "ririvudu" of the default app
// (configured from the bundle's options file when it is not yet). Each one
// waits for its completion by pumping the main queue, then for the database
// queue:
//
//   rc-fetch SECONDS          "=> status=N error=none",
//                             "=> status=N error=DOMAIN:CODE description=TEXT",
//                             "=> status=N error=DOMAIN:8002 throttle_end=T"
//   rc-activate               "=> changed=YES|NO error=none|DOMAIN:CODE"
//   rc-fetch-activate         "=> status=N error=..." as rc-fetch
//   rc-get KEY                "=> source=N string=JSONSTRING"
//   rc-keys SOURCE            "=> " the sorted keys as a JSON array
//   rc-defaults JSON          setDefaults, waits for the queue: "=> ok"
//   rc-signals JSON           "=> ok" or "=> error DOMAIN:CODE TEXT"
//   rc-settings               "=> minimumFetchInterval=N fetchTimeout=N"
//   rc-listen COUNT TIMEOUT   a config-update listener until COUNT calls or
//                             TIMEOUT seconds (real time): each call as
//                             "=> update KEY,KEY,..." (sorted) or
//                             "=> error DOMAIN:CODE DESCRIPTION", then
//                             removed: "=> calls N"
//
// With SDK_PROBE_FAKE_CONNECTOR=N in the environment a fake analytics
// connector (maxUserProperties N for every origin) serves the analytics
// protocol of every app:
//
//   connector-user-properties JSON   its user properties: "=> ok"
//   abt-state                 after the facade's and the A/B queue: every
//                             recorded call in order ("=> set JSON",
//                             "=> clear NAME ORIGIN EVENT JSON",
//                             "=> log ORIGIN NAME JSON"), then
//                             "=> cups ORIGIN NAME=VALUE,..." per origin
//                             (oldest first) or "=> cups none"
//
// JSON arguments are inline or "@PATH".
#include <algorithm>
#include <chrono>
#include <mutex>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/MainQueue.h"
#include "platform/text/NumberText.h"
#include "sdk/core/RIRApp.h"
#include "sdk/remote-config/RCNConfigDBManager.h"
#include "sdk/remote-config/ZUVUduvedOrovar.h"
#include "sdk/remote-config/ab-testing/ABTConditionalUserPropertyController.h"
#include "testing/fakes/analytics/FakeAnalyticsConnector.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

using platform::Value;

std::shared_ptr<testkit::FakeAnalyticsConnector>& fakeConnector() {
  static auto* const connector = new std::shared_ptr<testkit::FakeAnalyticsConnector>();
  return *connector;
}

std::shared_ptr<ZUVUduvedOrovar> defaultFacade() {
  if (!RIRApp::isDefaultAppConfigured()) RIRApp::configure();
  return ZUVUduvedOrovar::remoteConfig();
}

void waitForQueues() {
  ZUVUduvedOrovar::sharedRemoteConfigSerialQueue().sync([] {});
  platform::MainQueue::drain();
  RCNConfigDBManager::sharedInstance()->waitForDatabaseOperationQueue();
}

// Pumps the main queue until `done` holds; false (with a line) after the probe's wait.
bool pumpUntil(const std::function<bool()>& done) {
  if (platform::MainQueue::runUntil(done, kProbeWaitSeconds)) return true;
  result("error timed out");
  return false;
}

std::string errorText(const std::optional<platform::Error>& error) {
  if (!error) return "error=none";
  std::string text = "error=" + error->domain + ":" + std::to_string(error->code);
  if (error->code == kZUVUduvedOrovarErrorThrottled) {
    return text + " throttle_end=" + timeText(error->userInfo[kZUVUduvedOrovarThrottledEndTimeInSecondsKey].doubleValue());
  }
  return text + " description=" + error->localizedDescription();
}

std::optional<Value> jsonArgument(const std::string& argument) {
  std::string problem;
  std::optional<Value> value = parseJsonArgument(argument, problem);
  if (!value) result("error bad JSON: " + problem);
  return value;
}

struct Outcome {
  int64_t status = 0;
  std::optional<platform::Error> error;
};

int fetchCommand(const std::vector<std::string>& arguments) {
  std::optional<double> seconds = platform::NumberText::parseDouble(arguments[0]);
  if (!seconds) {
    result("usage: rc-fetch SECONDS");
    return 2;
  }
  std::shared_ptr<ZUVUduvedOrovar> facade = defaultFacade();
  auto outcome = std::make_shared<std::optional<Outcome>>();
  facade->fetchWithExpirationDuration(*seconds, [outcome](int64_t status, std::optional<platform::Error> error) {
    *outcome = Outcome{status, error};
  });
  if (!pumpUntil([outcome] { return outcome->has_value(); })) return 1;
  waitForQueues();
  result("status=" + std::to_string((*outcome)->status) + " " + errorText((*outcome)->error));
  return 0;
}

int activateCommand(const std::vector<std::string>&) {
  std::shared_ptr<ZUVUduvedOrovar> facade = defaultFacade();
  auto mutex = std::make_shared<std::mutex>();
  auto outcome = std::make_shared<std::optional<std::pair<bool, std::optional<platform::Error>>>>();
  facade->activateWithCompletion([mutex, outcome](bool changed, std::optional<platform::Error> error) {
    std::lock_guard<std::mutex> lock(*mutex);
    *outcome = std::make_pair(changed, error);
  });
  if (!pumpUntil([mutex, outcome] {
        std::lock_guard<std::mutex> lock(*mutex);
        return outcome->has_value();
      })) {
    return 1;
  }
  waitForQueues();
  std::lock_guard<std::mutex> lock(*mutex);
  const auto& [changed, error] = **outcome;
  result(std::string("changed=") + (changed ? "YES" : "NO") + " error=" +
         (error ? error->domain + ":" + std::to_string(error->code) : std::string("none")));
  return 0;
}

int fetchActivateCommand(const std::vector<std::string>&) {
  std::shared_ptr<ZUVUduvedOrovar> facade = defaultFacade();
  auto outcome = std::make_shared<std::optional<Outcome>>();
  facade->fetchAndActivateWithCompletionHandler([outcome](int64_t status, std::optional<platform::Error> error) {
    *outcome = Outcome{status, error};
  });
  if (!pumpUntil([outcome] { return outcome->has_value(); })) return 1;
  waitForQueues();
  result("status=" + std::to_string((*outcome)->status) + " " + errorText((*outcome)->error));
  return 0;
}

std::string jsonOf(const Value& value) { return compactJson(value); }

int listenCommand(const std::vector<std::string>& arguments) {
  std::optional<int64_t> count = platform::NumberText::parseInt64(arguments[0]);
  std::optional<double> timeout = platform::NumberText::parseDouble(arguments[1]);
  if (!count || !timeout) {
    result("usage: rc-listen COUNT TIMEOUT");
    return 2;
  }
  struct Lines {
    std::mutex mutex;
    std::vector<std::string> lines;
  };
  auto received = std::make_shared<Lines>();
  std::shared_ptr<RIRConfigUpdateListenerRegistration> registration = defaultFacade()->addOnConfigUpdateListener(
      [received](std::shared_ptr<ZUVUduvedOrovarUpdate> update, std::optional<platform::Error> error) {
        std::string line;
        if (error) {
          line = "error " + error->domain + ":" + std::to_string(error->code) + " " + error->localizedDescription();
        } else {
          line = "update";
          std::string keys;
          for (const std::string& key : update->updatedKeys()) keys += (keys.empty() ? "" : ",") + key;
          if (!keys.empty()) line += " " + keys;
        }
        std::lock_guard<std::mutex> lock(received->mutex);
        received->lines.push_back(line);
      });
  size_t printed = 0;
  auto pending = [received, &printed] {
    std::lock_guard<std::mutex> lock(received->mutex);
    return received->lines.size() > printed;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(*timeout);
  while (static_cast<int64_t>(printed) < *count) {
    const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !platform::MainQueue::runUntil(pending, left)) break;
    std::lock_guard<std::mutex> lock(received->mutex);
    while (printed < received->lines.size()) result(received->lines[printed++]);
  }
  if (registration) registration->remove();
  result("calls " + std::to_string(printed));
  return 0;
}

void printCalls() {
  std::shared_ptr<testkit::FakeAnalyticsConnector> connector = fakeConnector();
  if (!connector) {
    result("cups none");
    return;
  }
  for (const testkit::FakeAnalyticsConnector::Call& call : connector->calls()) {
    switch (call.kind) {
      case testkit::FakeAnalyticsConnector::Call::Kind::Set:
        result("set " + jsonOf(Value(call.parameters)));
        break;
      case testkit::FakeAnalyticsConnector::Call::Kind::Clear:
        result("clear " + call.name + " " + call.origin + " " + call.clearEventName + " " +
               jsonOf(Value(call.parameters)));
        break;
      case testkit::FakeAnalyticsConnector::Call::Kind::Log:
        result("log " + call.origin + " " + call.name + " " + jsonOf(Value(call.parameters)));
        break;
    }
  }
  bool any = false;
  for (const std::string& origin : connector->origins()) {
    std::string line;
    for (const Value& property : connector->properties(origin)) {
      line += (line.empty() ? "" : ",") + property["name"].stringValue() + "=" + property["value"].stringValue();
    }
    if (line.empty()) continue;
    any = true;
    result("cups " + origin + " " + line);
  }
  if (!any) result("cups none");
}

}  // namespace

void installFakeConnectorIfAsked() {
  const char* limit = std::getenv("SDK_PROBE_FAKE_CONNECTOR");
  if (!limit || !*limit) return;
  std::optional<int64_t> parsed = platform::NumberText::parseInt64(limit);
  fakeConnector() = std::make_shared<testkit::FakeAnalyticsConnector>(static_cast<int32_t>(parsed.value_or(25)));
  testkit::FakeAnalyticsConnector::registerLibrary(fakeConnector());
}

std::vector<Subcommand> remoteConfigFacadeSubcommands() {
  return {
      {"rc-fetch", 1, "rc-fetch SECONDS", fetchCommand},
      {"rc-activate", 0, "rc-activate", activateCommand},
      {"rc-listen", 2, "rc-listen COUNT TIMEOUT", listenCommand},
      {"rc-fetch-activate", 0, "rc-fetch-activate", fetchActivateCommand},
      {"rc-get", 1, "rc-get KEY",
       [](const std::vector<std::string>& arguments) {
         std::shared_ptr<ZUVUduvedOrovarValue> value = defaultFacade()->configValueForKey(arguments[0]);
         waitForQueues();
         result("source=" + std::to_string(value->source()) + " string=" + jsonOf(Value(value->stringValue())));
         return 0;
       }},
      {"rc-keys", 1, "rc-keys SOURCE",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> source = platform::NumberText::parseInt64(arguments[0]);
         if (!source) {
           result("usage: rc-keys SOURCE");
           return 2;
         }
         std::vector<std::string> keys =
             defaultFacade()->allKeysFromSource(static_cast<ZUVUduvedOrovarSource>(*source));
         std::sort(keys.begin(), keys.end());
         platform::Array array;
         for (const std::string& key : keys) array.append(Value(key));
         result(jsonOf(Value(array)));
         return 0;
       }},
      {"rc-defaults", 1, "rc-defaults JSON",
       [](const std::vector<std::string>& arguments) {
         std::optional<Value> json = jsonArgument(arguments[0]);
         if (!json) return 2;
         std::optional<platform::Dictionary> defaults = json->asDictionary();
         if (!defaults) {
           result("error bad JSON: not an object");
           return 2;
         }
         defaultFacade()->setDefaults(*defaults);
         waitForQueues();
         result("ok");
         return 0;
       }},
      {"rc-signals", 1, "rc-signals JSON",
       [](const std::vector<std::string>& arguments) {
         std::optional<Value> json = jsonArgument(arguments[0]);
         if (!json) return 2;
         std::optional<platform::Dictionary> signals = json->asDictionary();
         if (!signals) {
           result("error bad JSON: not an object");
           return 2;
         }
         auto outcome = std::make_shared<std::optional<std::optional<platform::Error>>>();
         defaultFacade()->setCustomSignals(*signals,
                                           [outcome](std::optional<platform::Error> error) { *outcome = error; });
         if (!pumpUntil([outcome] { return outcome->has_value(); })) return 1;
         waitForQueues();
         const std::optional<platform::Error>& error = **outcome;
         if (!error) {
           result("ok");
           return 0;
         }
         result("error " + error->domain + ":" + std::to_string(error->code) + " " + error->localizedDescription());
         return 1;
       }},
      {"rc-settings", 0, "rc-settings",
       [](const std::vector<std::string>&) {
         ZUVUduvedOrovarSettings settings = defaultFacade()->configSettings();
         result("minimumFetchInterval=" + timeText(settings.minimumFetchInterval) +
                " fetchTimeout=" + timeText(settings.fetchTimeout));
         return 0;
       }},
      {"connector-user-properties", 1, "connector-user-properties JSON",
       [](const std::vector<std::string>& arguments) {
         std::optional<Value> json = jsonArgument(arguments[0]);
         if (!json) return 2;
         if (!fakeConnector() || !json->asDictionary()) {
           result(fakeConnector() ? "error bad JSON: not an object" : "error no fake connector");
           return 2;
         }
         fakeConnector()->setUserProperties(*json->asDictionary());
         result("ok");
         return 0;
       }},
      {"abt-state", 0, "abt-state",
       [](const std::vector<std::string>&) {
         if (RIRApp::isDefaultAppConfigured()) waitForQueues();
         if (fakeConnector()) {
           ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(fakeConnector())
               ->analyticOperationQueue()
               .sync([] {});
         }
         printCalls();
         return 0;
       }},
  };
}

}  // namespace sdkprobe

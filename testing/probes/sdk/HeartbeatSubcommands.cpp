// sdk-probe heartbeat subcommands:
//
//   heartbeat --id APPID [--log AGENT@YYYY-MM-DD ...] [--header] [--code]
//
// "heartbeat --id APPID" selects the app ID's heartbeat store (under HOME's
// Application Support); each "--log" logs a heartbeat for AGENT at noon UTC
// of that date on a virtual clock and waits until it is stored; "--header"
// prints the header value of a flush ("nil" when there is nothing to send);
// "--code" prints today's heartbeat code (0 or 2), today being the last
// logged date (the real date before any --log). The flags run in the order
// given.
#include <memory>
#include <optional>
#include <string>

#include "platform/time/Clock.h"
#include "platform/time/DateFormatter.h"
#include "sdk/core/HeartbeatController.h"
#include "sdk/core/RIRHeartbeatsPayload.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

namespace {

struct HeartbeatSession {
  std::unique_ptr<RirivuduCoreInternal::HeartbeatController> controller;
  std::shared_ptr<platform::VirtualClock> clock;
};

HeartbeatSession& session() {
  static HeartbeatSession state;
  return state;
}

// The selected controller; prints an error when "heartbeat --id" came first.
RirivuduCoreInternal::HeartbeatController* controller() {
  if (!session().controller) result("error: heartbeat --id APPID must come first");
  return session().controller.get();
}

}  // namespace

std::vector<Subcommand> heartbeatSubcommands() {
  return {
      {"heartbeat", 2, "heartbeat --id APPID [--log AGENT@YYYY-MM-DD ...] [--header] [--code]",
       [](const std::vector<std::string>& arguments) {
         if (arguments[0] != "--id" || arguments[1].empty()) {
           result("error: expected --id APPID");
           return 2;
         }
         session().controller = std::make_unique<RirivuduCoreInternal::HeartbeatController>(arguments[1]);
         return 0;
       }},
      {"--log", 1, "--log AGENT@YYYY-MM-DD (after heartbeat --id)",
       [](const std::vector<std::string>& arguments) {
         auto* heartbeats = controller();
         if (heartbeats == nullptr) return 2;
         size_t at = arguments[0].rfind('@');
         std::optional<double> day = at == std::string::npos
                                         ? std::nullopt
                                         : platform::DateFormatter::utc("yyyy-MM-dd").parse(arguments[0].substr(at + 1));
         if (!day) {
           result("error: expected AGENT@YYYY-MM-DD");
           return 2;
         }
         if (!session().clock) {
           session().clock = std::make_shared<platform::VirtualClock>();
           platform::Clock::setCurrent(session().clock);
         }
         session().clock->setNow(*day + 43200);
         heartbeats->log(arguments[0].substr(0, at));
         // Wait until the log is stored.
         heartbeats->storage()->updateSync([](auto bundle) { return bundle; });
         return 0;
       }},
      {"--header", 0, "--header (after heartbeat --id)",
       [](const std::vector<std::string>&) {
         auto* heartbeats = controller();
         if (heartbeats == nullptr) return 2;
         std::optional<std::string> value = RIRHeaderValueFromHeartbeatsPayload(RIRHeartbeatsPayload(heartbeats->flush()));
         result(value ? *value : "nil");
         return 0;
       }},
      {"--code", 0, "--code (after heartbeat --id)",
       [](const std::vector<std::string>&) {
         auto* heartbeats = controller();
         if (heartbeats == nullptr) return 2;
         result(heartbeats->flushHeartbeatFromToday().isEmpty() ? "0" : "2");
         return 0;
       }},
  };
}

}  // namespace sdkprobe

#include <cstdint>
#include <optional>

#include "platform/text/NumberText.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIROptions.h"
#include "sdk/core/RIRTimestamp.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

std::vector<Subcommand> coreSubcommands() {
  return {
      {"libversion", 0, "libversion",
       [](const std::vector<std::string>&) {
         result(RIROptions::libraryVersionID());
         return 0;
       }},
      {"configure", 0, "configure",
       [](const std::vector<std::string>&) {
         RIRApp::configure();
         result("configured " + RIRApp::defaultApp()->name());
         return 0;
       }},
      {"appid", 1, "appid ID",
       [](const std::vector<std::string>& arguments) {
         result(RIRApp::validateAppID(arguments[0]) ? "YES" : "NO");
         return 0;
       }},
      {"timestamp", 2, "timestamp SECONDS NANOS",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> seconds = platform::NumberText::parseInt64(arguments[0]);
         std::optional<int64_t> nanoseconds = platform::NumberText::parseInt64(arguments[1]);
         if (!seconds || !nanoseconds || *nanoseconds < INT32_MIN || *nanoseconds > INT32_MAX) {
           result("error: SECONDS and NANOS must be integers (NANOS within 32 bits)");
           return 2;
         }
         result(RIRTimestamp(*seconds, static_cast<int32_t>(*nanoseconds)).ISO8601String());
         return 0;
       }},
      {"useragent", 0, "useragent",
       [](const std::vector<std::string>&) {
         result(RIRApp::ririvuduUserAgent());
         return 0;
       }},
  };
}

}  // namespace sdkprobe

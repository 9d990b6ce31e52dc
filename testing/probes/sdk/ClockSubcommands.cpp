// Generic time and randomness subcommands: a virtual clock that every
// platform timer follows, moved by hand, and a constant random source.
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/crypto/RandomSource.h"
#include "platform/dispatch/TimerWork.h"
#include "platform/text/NumberText.h"
#include "platform/time/Clock.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

namespace {

// Every byte is the same.
class ConstantRandomSource : public platform::RandomSource {
 public:
  explicit ConstantRandomSource(uint8_t byte) : m_byte(byte) {}
  void fill(std::span<uint8_t> out) override {
    for (uint8_t& byte : out) byte = m_byte;
  }

 private:
  const uint8_t m_byte;
};

std::shared_ptr<platform::VirtualClock> virtualClock() {
  return std::dynamic_pointer_cast<platform::VirtualClock>(platform::Clock::current());
}

}  // namespace

std::string timeText(double seconds) {
  if (std::isfinite(seconds) && std::trunc(seconds) == seconds && std::fabs(seconds) < 9e15) {
    return platform::NumberText::format(static_cast<int64_t>(seconds));
  }
  return platform::NumberText::formatDouble(seconds);
}

std::vector<Subcommand> clockSubcommands() {
  return {
      {"clock", 1, "clock EPOCH",
       [](const std::vector<std::string>& arguments) {
         std::optional<double> epoch = platform::NumberText::parseDouble(arguments[0]);
         if (!epoch || !std::isfinite(*epoch)) {
           result("error: EPOCH must be a number of seconds since 1970");
           return 2;
         }
         platform::Clock::setCurrent(std::make_shared<platform::VirtualClock>(*epoch));
         result("clock " + timeText(*epoch));
         return 0;
       }},
      {"advance", 1, "advance SECONDS",
       [](const std::vector<std::string>& arguments) {
         std::optional<double> seconds = platform::NumberText::parseDouble(arguments[0]);
         std::shared_ptr<platform::VirtualClock> clock = virtualClock();
         if (!seconds || !std::isfinite(*seconds) || *seconds < 0) {
           result("error: SECONDS must be a number of seconds, at least 0");
           return 2;
         }
         if (!clock) {
           result("error: no virtual clock (use clock EPOCH first)");
           return 2;
         }
         clock->advance(*seconds);
         if (!platform::waitForTimerWork(kProbeWaitSeconds)) {
           result("error: timer work still running after " + timeText(kProbeWaitSeconds) + " s");
           return 1;
         }
         result("at " + timeText(clock->now()));
         return 0;
       }},
      {"random", 1, "random BYTE",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> byte = platform::NumberText::parseInt64(arguments[0]);
         if (!byte || *byte < 0 || *byte > 255) {
           result("error: BYTE must be an integer from 0 to 255");
           return 2;
         }
         platform::RandomSource::setCurrent(std::make_shared<ConstantRandomSource>(static_cast<uint8_t>(*byte)));
         result("random " + arguments[0]);
         return 0;
       }},
  };
}

}  // namespace sdkprobe

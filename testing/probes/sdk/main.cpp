// sdk-probe: command-line driver of the SDK for tests and diagnosis.
//
//   sdk-probe [SDK launch arguments] SUBCOMMAND [ARGS] [SUBCOMMAND [ARGS] ...]
//
// Subcommands run in order in one process, on the main thread, after the
// libraries' ordered registration. Results go to standard output on lines
// beginning "=> "; the SDK's log lines go to standard error. Arguments that
// begin with "-" and a letter are launch arguments for the SDK (for example
// -RIRDebugEnabled) and may appear anywhere. An SDK exception is printed as
// "=> exception NAME: REASON" and ends the run with status 1. The bundle is
// that of APP_RESOURCES, the folders those of HOME. With SDK_PROBE_WITHOUT_ANALYTICS
// set (tests of another library alone), configuring the SDK starts no analytics.
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/app/Application.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/log/Console.h"
#include "platform/runtime/EndProcess.h"
#include "platform/values/Exception.h"
#include "sdk/registration/RIRRegistration.h"
#include "sdk/utilities/ZULLogger.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

void result(const std::string& text) { platform::console::line("=> " + text); }

namespace {
std::vector<std::function<void()>>& finishHooks() {
  static std::vector<std::function<void()>> hooks;
  return hooks;
}
}  // namespace

void atFinish(std::function<void()> hook) { finishHooks().push_back(std::move(hook)); }

namespace {

// Every area's subcommands; later areas append their list here.
std::vector<Subcommand> allSubcommands() {
  std::vector<std::vector<Subcommand>> areas = {
      coreSubcommands(),
      heartbeatSubcommands(),
      installationsSubcommands(),
      networkSubcommands(),
      wireSubcommands(),
      clockSubcommands(),
      measurementBaseSubcommands(),
      coderSubcommands(),
      transportSubcommands(),
      remoteConfigSubcommands(),
      remoteConfigFacadeSubcommands(),
      measurementSettingsSubcommands(),
      measurementDatabaseSubcommands(),
      measurementEventSubcommands(),
      scriptSubcommands(),
      messagingSubcommands(),
      analyticsSubcommands(),
      purchaseAdsSubcommands(),
      analyticsBundleSubcommands(),
      campaignSubcommands(),
      connectorSubcommands(),
      sessionSubcommands(),
  };
  std::vector<Subcommand> all;
  for (auto& area : areas) all.insert(all.end(), area.begin(), area.end());
  return all;
}

int usage(const std::vector<Subcommand>& subcommands) {
  std::fprintf(stderr, "usage: sdk-probe [-SDK launch arguments] SUBCOMMAND [ARGS] ...\nsubcommands:\n");
  for (const Subcommand& subcommand : subcommands) std::fprintf(stderr, "  %s\n", subcommand.usage.c_str());
  return 2;
}

// What the stores have queued is written; the rest of the SDK's queued work
// may still run: the process ends without exit-time destructors under it.
[[noreturn]] void finish(int status) {
  for (const std::function<void()>& hook : finishHooks()) hook();
  platform::ExitDrain::drain();
  ZULLogFlush();
  platform::endProcess(status);
}

}  // namespace
}  // namespace sdkprobe

int main(int argc, char** argv) {
  using namespace sdkprobe;
  std::vector<Subcommand> subcommands = allSubcommands();
  std::map<std::string, const Subcommand*> byName;
  for (const Subcommand& subcommand : subcommands) byName[subcommand.name] = &subcommand;

  platform::Application::shared()->setLaunchArguments(argc, argv);
  std::vector<std::string> words;
  for (int index = 1; index < argc; ++index) {
    std::string word = argv[index];
    // A launch argument for the SDK ("-RIRDebugEnabled"); "-1" is a number.
    if (word.size() > 1 && word[0] == '-' && std::isalpha(static_cast<unsigned char>(word[1]))) continue;
    words.push_back(word);
  }
  if (words.empty()) return usage(subcommands);

  installFakeConnectorIfAsked();
  RIRRegisterAll();
  withoutAnalyticsIfAsked();
  int status = 0;
  size_t position = 0;
  while (position < words.size()) {
    auto found = byName.find(words[position]);
    if (found == byName.end()) {
      std::fprintf(stderr, "sdk-probe: unknown subcommand '%s'\n", words[position].c_str());
      finish(usage(subcommands));
    }
    const Subcommand& subcommand = *found->second;
    size_t count = static_cast<size_t>(subcommand.argumentCount);
    if (subcommand.countArguments) {
      count = subcommand.countArguments(std::vector<std::string>(words.begin() + static_cast<long>(position) + 1,
                                                                 words.end()));
    }
    if (position + 1 + count > words.size()) {
      std::fprintf(stderr, "sdk-probe: usage: %s\n", subcommand.usage.c_str());
      finish(2);
    }
    std::vector<std::string> arguments(words.begin() + static_cast<long>(position) + 1,
                                       words.begin() + static_cast<long>(position) + 1 + static_cast<long>(count));
    position += 1 + count;
    try {
      // The run fails when any subcommand failed, not only the last one.
      const int ran = subcommand.run(arguments);
      if (status == 0) status = ran;
    } catch (const platform::Exception& exception) {
      result("exception " + exception.name + ": " + exception.reason);
      finish(1);
    }
  }
  finish(status);
}

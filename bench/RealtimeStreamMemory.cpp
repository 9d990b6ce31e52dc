// Resident memory of the realtime update stream against hostile services:
// the default app's facade listens for SECONDS (default 10) to a loopback
// realtime fake that writes as fast as the connection takes
//
//   nested     "{" without end (the message buffer overflows again and again)
//   utf8       messages with invalid UTF-8 (each one an 8003 to the listener)
//   versions   small messages naming a newer template (automatic fetches)
//   closing    a 200 that ends at once, answered again on every connection
//
// beside a quiet stream (a 200 that writes nothing), the reference. For each
// it prints the process's largest resident size while listening, its growth
// over the size before, and what the service saw (connections, fetches) and
// the listener heard:
//
//   quiet     rss_max_mb=21.3 growth_mb=0.4 connections=1 fetches=0 calls=0
//
// The fakes run in this process too; they hold one round of chunks each.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "platform/storage/FileSystem.h"
#include "sdk/core/RIRApp.h"
#include "sdk/registration/RIRRegistration.h"
#include "sdk/remote-config/ZUVUduvedOrovar.h"
#include "testing/ProgramRun.h"
#include "testing/fakes/installations/FakeInstallationsService.h"
#include "testing/fakes/remote-config/FakeRealtimeService.h"
#include "testing/fakes/remote-config/FakeRemoteConfigService.h"

namespace {

using testkit::Answer;
using testkit::FakeRealtimeService;

double residentMegabytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
  }
  return 0;
}

// A 200 whose chunk list is written over and over for as long as the connection takes it.
Answer endless(const std::string& unit) {
  std::string chunk;
  while (chunk.size() < 64 * 1024) chunk += unit;
  Answer answer = FakeRealtimeService::streaming({chunk}, 0);
  answer.repeat = size_t(1) << 40;
  return answer;
}

struct Kind {
  const char* name;
  std::vector<Answer> answers;
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
  char folder[] = "/tmp/bench-realtime-memory-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string home = folder;
  setenv("HOME", folder, 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
  setenv("APP_KEYCHAIN_ROOT", (home + "/keychain").c_str(), 1);
  setenv("APP_RESOURCES", (testkit::binFolder() + "/../resources").c_str(), 1);
  setenv("APP_REACHABILITY", "reachable", 1);

  int status = 0;
  {
    testkit::FakeInstallationsService installations;
    testkit::FakeRemoteConfigService service{installations.server()};
    FakeRealtimeService stream{installations.server()};
    setenv("APP_SERVICES_URL", installations.url().c_str(), 1);
    RIRRegisterAll();
    RIRApp::configure();
    std::shared_ptr<ZUVUduvedOrovar> config = ZUVUduvedOrovar::remoteConfig();

    std::vector<Answer> closings(64, FakeRealtimeService::closing({"\n"}, 0));
    const Kind kinds[] = {
        {"quiet", {FakeRealtimeService::streaming({"\n"})}},
        {"nested", {endless("{")}},
        {"utf8", {endless("{\"latestTemplateVersionNumber\": 1, \"note\": \"\xff\xfe\"}\n")}},
        {"versions", {endless("{\"latestTemplateVersionNumber\": 2}\n")}},
        {"closing", closings},
    };
    for (const Kind& kind : kinds) {
      stream.script(kind.answers);
      const size_t connections = stream.connectionCount();
      const size_t fetches = service.fetchCount();
      const double before = residentMegabytes();
      std::atomic<double> peak{before};
      std::atomic<bool> sampling{true};
      std::thread sampler([&] {
        while (sampling) {
          peak = std::max(peak.load(), residentMegabytes());
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      });
      auto calls = std::make_shared<std::atomic<long>>(0);
      auto registration = config->addOnConfigUpdateListener(
          [calls](std::shared_ptr<ZUVUduvedOrovarUpdate>, std::optional<platform::Error>) { ++*calls; });
      platform::MainQueue::runFor(seconds);
      registration->remove();
      sampling = false;
      sampler.join();
      platform::MainQueue::runFor(0.5);
      std::printf("%-9s rss_max_mb=%.1f growth_mb=%.1f connections=%zu fetches=%zu calls=%ld\n", kind.name,
                  peak.load(), peak.load() - before, stream.connectionCount() - connections,
                  service.fetchCount() - fetches, calls->load());
      std::fflush(stdout);
      if (peak.load() > 50) status = 1;
      // The next kind starts without a back-off left from this one.
      config->settings()->setRealtimeRetryCount(0);
      config->settings()->updateRealtimeBackoffTimeWithInterval(0);
    }
    ZUVUduvedOrovar::sharedRemoteConfigSerialQueue().sync([] {});
  }
  platform::fs::removeItem(folder);
  return status;
}

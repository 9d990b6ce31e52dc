#include "sdk/core/RIRLogger.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/storage/UserDefaults.h"
#include "sdk/core/RIRVersion.h"
#include "sdk/utilities/ZULBundleAccess.h"

namespace {

std::mutex g_setUpMutex;
std::atomic<bool> g_setUpDone{false};
std::atomic<bool> g_analyticsDebug{false};

bool hasArgument(const std::vector<std::string>& arguments, std::string_view argument) {
  return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
}

void RIRLogSetUp() {
  ZULLogSetVersionString(RIRCoreVersionString());
  std::vector<std::string> arguments = ZULBundleAccess::launchArguments();
  auto defaults = platform::UserDefaults::standard();
  bool stored = defaults->boolFor(kRIRDebugModeDefaultsKey);
  if (hasArgument(arguments, "-RIRDebugDisabled")) {
    defaults->remove(kRIRDebugModeDefaultsKey);
    ZULLogSetUp();
  } else if (stored || hasArgument(arguments, "-RIRDebugEnabled")) {
    defaults->setBool(kRIRDebugModeDefaultsKey, true);
    ZULLogSetUp();
    ZULLogForceDebugMode();
  } else {
    ZULLogSetUp();
  }
}

}  // namespace

void RIRLogEnsureSetUp() {
  if (g_setUpDone.load(std::memory_order_acquire)) return;
  std::lock_guard lock(g_setUpMutex);
  if (g_setUpDone.load(std::memory_order_relaxed)) return;
  RIRLogSetUp();
  g_setUpDone.store(true, std::memory_order_release);
}

void RIRLogEmit(ZULLoggerLevel level, std::string_view category, std::string_view messageCode,
                std::string_view message) {
  RIRLogEnsureSetUp();
  bool force = g_analyticsDebug.load() && category == RIRLogServiceAnalytics;
  ZULLogEmit(level, kRIRLoggerSubsystem, category, force, messageCode, message);
}

void RIRLogSetLevel(ZULLoggerLevel level) {
  RIRLogEnsureSetUp();
  ZULLogSetLevel(level);
}

ZULLoggerLevel RIRLogGetLevel() {
  RIRLogEnsureSetUp();
  return ZULLogGetLevel();
}

bool RIRLogIsLoggable(ZULLoggerLevel level, bool analyticsComponent) {
  RIRLogEnsureSetUp();
  if (analyticsComponent && g_analyticsDebug.load()) return true;
  return ZULLogIsLoggable(level);
}

void RIRLogSetAnalyticsDebugMode(bool enabled) { g_analyticsDebug.store(enabled); }

void RIRLogResetForTesting() {
  std::lock_guard lock(g_setUpMutex);
  ZULLogResetForTesting();
  g_analyticsDebug.store(false);
  g_setUpDone.store(false, std::memory_order_release);
}

#include "measurement/base/APMEngineServices.h"

#include <mutex>

#include "measurement/base/APMMonitor.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

std::shared_ptr<APMMonitor> APMEngineServices::monitor() {
  // Made once and kept for the whole process: queued console lines and
  // samples may still run while statics are destroyed at exit.
  static std::shared_ptr<APMMonitor>* const shared =
      new std::shared_ptr<APMMonitor>(APMMonitor::initWithLibraryVersion(kMeasurementLibraryVersion));
  return *shared;
}

bool APMEngineServices::isFromAppStore() { return ZULAppEnvironmentUtil::isFromAppStore(); }

std::string APMEngineServices::deviceModel() { return ZULAppEnvironmentUtil::deviceModel(); }

namespace {

std::mutex& internalEventLoggerMutex() {
  static std::mutex mutex;
  return mutex;
}

APMEngineServices::InternalEventLogger& internalEventLogger() {
  static auto* logger = new APMEngineServices::InternalEventLogger();
  return *logger;
}

}  // namespace

void APMEngineServices::logInternalEvent(const std::string& origin, const std::string& name,
                                         const platform::Dictionary& parameters) {
  InternalEventLogger logger;
  {
    std::lock_guard lock(internalEventLoggerMutex());
    logger = internalEventLogger();
  }
  if (logger) logger(origin, name, parameters);
}

void APMEngineServices::setInternalEventLogger(InternalEventLogger logger) {
  std::lock_guard lock(internalEventLoggerMutex());
  internalEventLogger() = std::move(logger);
}

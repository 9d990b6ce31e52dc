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

#include "measurement/script/APMPixieLogger.h"

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMLogContext.h"

int64_t APMPixieLogger::monitorLevel(int64_t level, bool silent, bool monitored) {
  switch (level) {
    case 2:
      return 8;
    case 3:
      return 7;
    case 5:
      return silent ? 5 : monitored ? 4 : 3;
    case 6:
      return silent ? 2 : monitored ? 1 : 0;
    default:
      return 6;
  }
}

void APMPixieLogger::logWithLevel(int64_t level, const std::string& message, const std::vector<std::string>& context,
                                  bool silent, bool monitored) {
  std::vector<APMLogContext> contexts(context.begin(), context.end());
  APMEngineServices::monitor()->logWithLevelContexts(monitorLevel(level, silent, monitored), kMessageCode, message,
                                                     contexts);
}

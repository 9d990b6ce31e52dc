#include "measurement/base/APMEnvironmentInfo.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "measurement/base/APMEngineServices.h"
#include "platform/time/Locale.h"
#include "platform/time/TimeZone.h"
#include "platform/text/Unicode.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

std::shared_ptr<APMEnvironmentInfo> APMEnvironmentInfo::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<APMEnvironmentInfo>(std::make_shared<APMEnvironmentInfo>());
  return *shared;
}

std::string APMEnvironmentInfo::deviceModel() {
  static const std::string model = [] {
    errno = 0;
    std::string read = APMEngineServices::deviceModel();
    if (read.empty()) {
      APMEngineServices::monitor()->logWithLevel(2, 14000, "Failed to get device model",
                                                 platform::Value(std::string(std::strerror(errno))));
    }
    return read;
  }();
  return model;
}

std::string APMEnvironmentInfo::deviceOSVersion() { return ZULAppEnvironmentUtil::systemVersion(); }

std::optional<std::string> APMEnvironmentInfo::userDefaultLanguage() {
  std::vector<std::string> languages = platform::Locale::preferredLanguages();
  if (languages.empty() || languages.front().empty()) {
    APMEngineServices::monitor()->logWithLevel(2, 14001, "Failed to get preferred language");
    return std::nullopt;
  }
  return platform::Unicode::lowercase(languages.front());
}

int32_t APMEnvironmentInfo::timeZoneOffsetMinutes() { return platform::TimeZone::currentGmtOffsetMinutes(); }

// APMEnvironmentInfo: device model (read once per process), system version,
// the user's first preferred language (lower-cased) and the local time
// zone's offset in minutes. Any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class APMEnvironmentInfo {
 public:
  static std::shared_ptr<APMEnvironmentInfo> sharedInstance();

  std::string deviceModel();
  std::string deviceOSVersion();
  // None (and 14001) without a preferred language.
  std::optional<std::string> userDefaultLanguage();
  int32_t timeZoneOffsetMinutes();
};

// APMZoruvuServiceFileUtil: finds and reads the options file
// "ZoruvuService-Info.plist" of the main bundle (platform::Bundle::main(),
// the bundle of APP_RESOURCES). Any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/values/Value.h"

class APMZoruvuServiceFileUtil {
 public:
  // The file's path, or none when the bundle has no such resource.
  static std::optional<std::string> zoruvuServiceInfoPlistPath();
  // The file as a dictionary; none without a path or when it cannot be read.
  static std::optional<platform::Dictionary> dictionaryFromZoruvuServiceInfoPlist();
};

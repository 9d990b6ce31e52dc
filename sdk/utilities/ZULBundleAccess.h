// ZULBundleAccess: what the SDK reads of the application bundle and process,
// in one place: the main bundle's resource folder, Info dictionary,
// resources by name and type and identifier (platform::Bundle::main()), the
// App Store receipt (none on this platform) and the launch arguments
// (platform::Application::shared(); when nobody set them, the process's own
// from /proc/self/cmdline).
//
// Tests point the SDK at a fixture bundle with platform::Bundle::setMain and
// set arguments with platform::Application::shared()->setLaunchArguments.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/values/Value.h"

class ZULBundleAccess {
 public:
  static std::string resourcePath();
  static platform::Dictionary infoDictionary();
  static std::optional<std::string> pathForResource(const std::string& name, const std::string& type);
  // "CFBundleIdentifier" of the Info dictionary, else the standard folders'
  // bundle identifier.
  static std::string bundleIdentifier();
  // No App Store receipt exists on this platform: none.
  static std::optional<std::string> appStoreReceiptPath();
  static std::vector<std::string> launchArguments();
};

// ZULBundleAccess: what the SDK reads of the application bundle and process:
// the bundle's resource folder, its Info dictionary, resources by name and
// type, the bundle identifier, the App Store receipt address and the
// process's launch arguments.
//
// The resource folder is $APP_RESOURCES when set, else "<executable
// folder>/../resources", else "<executable folder>/resources". The Info
// dictionary is read from "<resources>/Info.plist" on every call (an absent
// or unreadable file gives an empty dictionary), so tests may point
// APP_RESOURCES elsewhere at any time. Launch arguments come from
// /proc/self/cmdline (the program name first) unless overridden.
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
  // "<resources>/<name>.<type>" when that file exists, else none.
  static std::optional<std::string> pathForResource(const std::string& name, const std::string& type);
  // "CFBundleIdentifier" of the Info dictionary, else the standard folders'
  // bundle identifier.
  static std::string bundleIdentifier();
  // No App Store receipt exists on this platform: none.
  static std::optional<std::string> appStoreReceiptPath();

  static std::vector<std::string> launchArguments();
  // Replaces the launch arguments (tests and the probe); none restores the
  // process's own.
  static void setLaunchArguments(std::optional<std::vector<std::string>> arguments);
};

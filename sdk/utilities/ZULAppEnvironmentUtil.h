// ZULAppEnvironmentUtil: facts about the environment the SDK runs in.
//
// True facts of the running Linux system: the device model (the DMI product
// name, else the machine field of uname) and the system version (the kernel
// release's major.minor[.patch], patch only when not 0). Constants of this
// build: platform "macos", deployment type "swiftpm", never a simulator, an
// app extension or an app clip. An App Store build needs an encrypted main
// executable, which a Linux executable never is, so isFromAppStore() is NO
// unless a test overrides it.
//
// Thread safety: every function may be called from any thread; cached values
// are built once.
#pragma once

#include <optional>
#include <string>

class ZULAppEnvironmentUtil {
 public:
  static bool isFromAppStore();
  static bool isAppStoreReceiptSandbox();
  static bool isSimulator() { return false; }
  // The value of a system-control entry. "hw.model" reads the DMI product
  // name; other dotted names read /proc/sys (e.g. "kernel.ostype"). None when
  // unknown or empty.
  static std::optional<std::string> getSysctlEntry(const std::string& name);
  static std::string deviceModel();
  static std::optional<std::string> deviceSimulatorModel();
  static std::string systemVersion();
  // major.minor.patch -> "major.minor" or "major.minor.patch" (patch != 0).
  static std::string formatSystemVersion(long major, long minor, long patch);
  // The version numbers at the start of a kernel release text ("6.1.0-18-amd64").
  static std::string systemVersionFromRelease(const std::string& release);
  static bool isAppExtension() { return false; }
  static bool isAppClip() { return false; }
  static bool supportsBackgroundURLSessionUploads() { return !isAppExtension() && !isAppClip(); }
  static std::string applePlatform() { return "macos"; }
  static std::string appleDevicePlatform() { return applePlatform(); }
  static std::string deploymentType() { return "swiftpm"; }

  // Tests: pretend (or stop pretending, with none) to be an App Store build.
  static void setFromAppStoreForTesting(std::optional<bool> value);
};

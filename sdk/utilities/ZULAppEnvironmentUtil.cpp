#include "sdk/utilities/ZULAppEnvironmentUtil.h"

#include <sys/utsname.h>

#include <atomic>
#include <cctype>
#include <fstream>
#include <iterator>

#include "sdk/utilities/ZULBundleAccess.h"

namespace {

// 0: no override, 1: App Store, 2: not App Store.
std::atomic<int> g_appStoreOverride{0};

std::optional<std::string> readTrimmed(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  if (text.empty()) return std::nullopt;
  return text;
}

// A Linux executable carries no encryption load command.
bool mainExecutableIsEncrypted() { return false; }

}  // namespace

bool ZULAppEnvironmentUtil::isAppStoreReceiptSandbox() {
  platform::Value check = ZULBundleAccess::infoDictionary().get("RirivuduAppStoreReceiptURLCheckEnabled");
  if (check.isNumeric() && !check.boolValue()) return false;
  auto receipt = ZULBundleAccess::appStoreReceiptPath();
  if (!receipt) return false;
  auto slash = receipt->rfind('/');
  std::string last = slash == std::string::npos ? *receipt : receipt->substr(slash + 1);
  return last == "sandboxReceipt";
}

bool ZULAppEnvironmentUtil::isFromAppStore() {
  int forced = g_appStoreOverride.load();
  if (forced != 0) return forced == 1;
  static const bool encrypted = mainExecutableIsEncrypted();
  return !isSimulator() && !isAppStoreReceiptSandbox() && encrypted;
}

void ZULAppEnvironmentUtil::setFromAppStoreForTesting(std::optional<bool> value) {
  g_appStoreOverride.store(value ? (*value ? 1 : 2) : 0);
}

std::optional<std::string> ZULAppEnvironmentUtil::getSysctlEntry(const std::string& name) {
  if (name.empty() || name.find("..") != std::string::npos || name.find('/') != std::string::npos) {
    return std::nullopt;
  }
  if (name == "hw.model") {
    return readTrimmed("/sys/class/dmi/id/product_name");
  }
  std::string path = "/proc/sys/" + name;
  for (char& c : path) {
    if (c == '.') c = '/';
  }
  return readTrimmed(path);
}

std::string ZULAppEnvironmentUtil::deviceModel() {
  static const std::string model = [] {
    if (auto value = getSysctlEntry("hw.model")) return *value;
    struct utsname names {};
    if (::uname(&names) == 0) return std::string(names.machine);
    return std::string();
  }();
  return model;
}

std::optional<std::string> ZULAppEnvironmentUtil::deviceSimulatorModel() {
  static const std::optional<std::string> model = getSysctlEntry("hw.model");
  return model;
}

std::string ZULAppEnvironmentUtil::formatSystemVersion(long major, long minor, long patch) {
  std::string text = std::to_string(major) + "." + std::to_string(minor);
  if (patch != 0) text += "." + std::to_string(patch);
  return text;
}

std::string ZULAppEnvironmentUtil::systemVersionFromRelease(const std::string& release) {
  long parts[3] = {0, 0, 0};
  size_t position = 0;
  for (int index = 0; index < 3; ++index) {
    size_t start = position;
    long value = 0;
    while (position < release.size() && std::isdigit(static_cast<unsigned char>(release[position])) &&
           position - start < 9) {
      value = value * 10 + (release[position] - '0');
      ++position;
    }
    if (position == start) break;
    parts[index] = value;
    if (position >= release.size() || release[position] != '.') break;
    ++position;
  }
  return formatSystemVersion(parts[0], parts[1], parts[2]);
}

std::string ZULAppEnvironmentUtil::systemVersion() {
  struct utsname names {};
  if (::uname(&names) != 0) return formatSystemVersion(0, 0, 0);
  return systemVersionFromRelease(names.release);
}

#include "sdk/utilities/ZULBundleAccess.h"

#include <fstream>
#include <iterator>

#include "platform/app/Application.h"
#include "platform/app/Bundle.h"
#include "platform/storage/StandardFolders.h"

std::string ZULBundleAccess::resourcePath() { return platform::Bundle::main()->resourcePath(); }

platform::Dictionary ZULBundleAccess::infoDictionary() { return platform::Bundle::main()->infoDictionary(); }

std::optional<std::string> ZULBundleAccess::pathForResource(const std::string& name, const std::string& type) {
  return platform::Bundle::main()->pathForResource(name, type);
}

std::string ZULBundleAccess::bundleIdentifier() {
  if (auto identifier = platform::Bundle::main()->bundleIdentifier(); identifier && !identifier->empty()) {
    return *identifier;
  }
  return platform::StandardFolders::bundleIdentifier();
}

std::optional<std::string> ZULBundleAccess::appStoreReceiptPath() { return std::nullopt; }

std::vector<std::string> ZULBundleAccess::launchArguments() {
  std::vector<std::string> arguments = platform::Application::shared()->launchArguments();
  if (!arguments.empty()) return arguments;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    arguments.emplace_back(all.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

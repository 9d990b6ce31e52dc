#include "sdk/utilities/ZULBundleAccess.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"

namespace {

std::mutex g_argumentsMutex;
std::optional<std::vector<std::string>> g_argumentsOverride;

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string executableFolder() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string ZULBundleAccess::resourcePath() {
  if (const char* env = std::getenv("APP_RESOURCES"); env != nullptr && *env != '\0') {
    return env;
  }
  std::string folder = executableFolder();
  if (folder.empty()) return {};
  if (isDirectory(folder + "/../resources")) return folder + "/../resources";
  return folder + "/resources";
}

platform::Dictionary ZULBundleAccess::infoDictionary() {
  auto result = platform::PropertyList::readDictionary(resourcePath() + "/Info.plist");
  if (!result.ok()) return platform::Dictionary();
  return result.value();
}

std::optional<std::string> ZULBundleAccess::pathForResource(const std::string& name, const std::string& type) {
  if (name.empty()) return std::nullopt;
  std::string root = resourcePath();
  if (root.empty()) return std::nullopt;
  std::string path = root + "/" + name + (type.empty() ? std::string() : "." + type);
  if (!isRegularFile(path)) return std::nullopt;
  return path;
}

std::string ZULBundleAccess::bundleIdentifier() {
  platform::Value identifier = infoDictionary().get("CFBundleIdentifier");
  if (const std::string* text = identifier.asString(); text != nullptr && !text->empty()) return *text;
  return platform::StandardFolders::bundleIdentifier();
}

std::optional<std::string> ZULBundleAccess::appStoreReceiptPath() { return std::nullopt; }

std::vector<std::string> ZULBundleAccess::launchArguments() {
  {
    std::lock_guard lock(g_argumentsMutex);
    if (g_argumentsOverride) return *g_argumentsOverride;
  }
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    arguments.emplace_back(all.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

void ZULBundleAccess::setLaunchArguments(std::optional<std::vector<std::string>> arguments) {
  std::lock_guard lock(g_argumentsMutex);
  g_argumentsOverride = std::move(arguments);
}

#include "platform/storage/StandardFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/storage/FileSystem.h"

namespace platform {

namespace {

std::mutex g_mutex;
std::string g_bundleIdentifier = StandardFolders::kDefaultBundleIdentifier;

std::string xdg(const char* variable, const char* defaultBelowHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') {
    return value;
  }
  std::string home = StandardFolders::home();
  return home.empty() ? std::string() : fs::joinPath(home, defaultBelowHome);
}

std::string inBundleFolder(const std::string& base) {
  return base.empty() ? std::string() : fs::joinPath(base, StandardFolders::bundleIdentifier());
}

}  // namespace

void StandardFolders::setBundleIdentifier(std::string identifier) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_bundleIdentifier = identifier.empty() ? std::string(kDefaultBundleIdentifier) : std::move(identifier);
}

std::string StandardFolders::bundleIdentifier() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_bundleIdentifier;
}

std::string StandardFolders::home() {
  const char* value = std::getenv("HOME");
  if (value != nullptr && value[0] != '\0') {
    return value;
  }
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry {};
  struct passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return {};
}

std::string StandardFolders::dataHome() { return xdg("XDG_DATA_HOME", ".local/share"); }
std::string StandardFolders::cacheHome() { return xdg("XDG_CACHE_HOME", ".cache"); }
std::string StandardFolders::configHome() { return xdg("XDG_CONFIG_HOME", ".config"); }

std::string StandardFolders::applicationSupport() { return inBundleFolder(dataHome()); }
std::string StandardFolders::caches() { return inBundleFolder(cacheHome()); }
std::string StandardFolders::library() { return inBundleFolder(configHome()); }

std::string StandardFolders::preferences() {
  std::string lib = library();
  return lib.empty() ? lib : fs::joinPath(lib, "Preferences");
}

std::string StandardFolders::documents() {
  std::string support = applicationSupport();
  return support.empty() ? support : fs::joinPath(support, "Documents");
}

std::string StandardFolders::temporary() { return fs::temporaryDirectory(); }

std::string StandardFolders::expandTilde(std::string_view path) {
  if (path.empty() || path[0] != '~' || (path.size() > 1 && path[1] != '/')) {
    return std::string(path);
  }
  std::string homeFolder = home();
  if (homeFolder.empty()) {
    return std::string(path);
  }
  if (path.size() == 1) {
    return homeFolder;
  }
  return fs::joinPath(homeFolder, path.substr(2));
}

}  // namespace platform

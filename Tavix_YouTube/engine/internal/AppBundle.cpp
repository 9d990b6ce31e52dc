#include "Tavix_YouTube/engine/internal/AppBundle.h"

#include <cstdlib>
#include <filesystem>

#include "platform/storage/FileSystem.h"

namespace tavix::engine_internal {

namespace {
std::string resourceFolder() {
  if (const char* env = std::getenv("APP_RESOURCES"); env && *env) return env;
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return (exe.parent_path().parent_path() / "resources").string();
}
}  // namespace

std::optional<std::string> resourcePath(std::string_view name) {
  std::string folder = resourceFolder();
  if (folder.empty() || name.empty()) return std::nullopt;
  std::string path = platform::fs::joinPath(folder, name);
  if (!platform::fs::exists(path)) return std::nullopt;
  return path;
}

std::string localizedString(std::string_view key) { return std::string(key); }

void selectFileInFileManager(const std::string& path) { (void)path; }

}  // namespace tavix::engine_internal

#include "platform/storage/ArchiveClassRegistry.h"

#include <map>
#include <mutex>

namespace platform {

namespace {
std::mutex g_mutex;
std::map<std::string, ArchivableFactory>& table() {
  static auto* factories = new std::map<std::string, ArchivableFactory>();
  return *factories;
}
}  // namespace

void ArchiveClassRegistry::registerClass(const std::string& className, ArchivableFactory factory) {
  std::lock_guard<std::mutex> lock(g_mutex);
  table()[className] = std::move(factory);
}

void ArchiveClassRegistry::unregisterClass(const std::string& className) {
  std::lock_guard<std::mutex> lock(g_mutex);
  table().erase(className);
}

ArchivableFactory ArchiveClassRegistry::factory(const std::string& className) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = table().find(className);
  return it == table().end() ? ArchivableFactory() : it->second;
}

}  // namespace platform

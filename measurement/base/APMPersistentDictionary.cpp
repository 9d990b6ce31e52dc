#include "measurement/base/APMPersistentDictionary.h"

#include "measurement/base/APMASLLogger.h"
#include "measurement/base/APMFileLocations.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "sdk/utilities/ZULLogger.h"

namespace {

constexpr const char* kCategory = "<RedIveduruveza>";

std::atomic<int64_t> g_writes{0};

void logLine(ZULLoggerLevel level, int64_t code, const std::string& message) {
  ZULLogEmit(level, APMASLLogger::kSubsystem, kCategory, false, APMASLLogger::messageCodeText(code), message);
}

}  // namespace

std::shared_ptr<APMPersistentDictionary> APMPersistentDictionary::initWithFileName(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  const std::string path = APMMeasurementPlistPath(fileName);
  if (path.empty()) return nullptr;
  if (platform::fs::createDirectory(platform::fs::parentPath(path), true, 0700)) {
    logLine(ZULLoggerLevelError, 43004, "Cannot create subdirectories for config plist files.");
    return nullptr;
  }
  return std::shared_ptr<APMPersistentDictionary>(new APMPersistentDictionary(path));
}

APMPersistentDictionary::APMPersistentDictionary(std::string filePath)
    : m_filePath(std::move(filePath)), m_serialQueue(kQueueLabel) {
  // It holds identifiers: a copy found readable by others is made private.
  platform::fs::restrictToOwner(m_filePath);
  platform::ExitDrain::registerQueue(m_serialQueue);
  platform::Result<platform::Dictionary> stored = platform::PropertyList::readDictionary(m_filePath);
  if (stored) m_content = stored.value();
}

APMPersistentDictionary::~APMPersistentDictionary() {
  bool pending = false;
  {
    std::lock_guard lock(m_mutex);
    pending = m_hasPendingPersistence;
  }
  if (pending) persistToDisk();
}

std::optional<platform::Value> APMPersistentDictionary::objectForKey(const std::string& key) {
  if (key.empty()) {
    logLine(ZULLoggerLevelWarning, 43001, "Cannot get object for invalid config key.");
    return std::nullopt;
  }
  std::lock_guard lock(m_mutex);
  const platform::Value* value = m_content.find(key);
  if (value == nullptr) return std::nullopt;
  return value->copy();
}

void APMPersistentDictionary::setObject(const platform::Value& object, const std::string& key) {
  if (key.empty()) {
    logLine(ZULLoggerLevelWarning, 43002, "Cannot set object for invalid config key.");
    return;
  }
  if (object.isNull()) {
    std::lock_guard lock(m_mutex);
    if (m_content.remove(key)) changedLocked();
    return;
  }
  if (!isAllowedValue(object)) {
    logLine(ZULLoggerLevelWarning, 43003,
            "Cannot set invalid object to config. Must be a string, number, array, dictionary, date, or data. Value " +
                object.description());
    return;
  }
  std::lock_guard lock(m_mutex);
  const platform::Value* current = m_content.find(key);
  if (current != nullptr && *current == object) return;
  m_content.set(key, object.copy());
  changedLocked();
}

void APMPersistentDictionary::clearAllData() {
  std::lock_guard lock(m_mutex);
  if (m_content.empty()) return;
  m_content.clear();
  changedLocked();
}

void APMPersistentDictionary::schedulePersistToDisk() {
  std::lock_guard lock(m_mutex);
  changedLocked();
}

void APMPersistentDictionary::changedLocked() {
  if (m_hasPendingPersistence) return;
  m_hasPendingPersistence = true;
  std::weak_ptr<APMPersistentDictionary> weak = weak_from_this();
  m_serialQueue.after(kPersistDelay, [weak] {
    if (std::shared_ptr<APMPersistentDictionary> strong = weak.lock()) strong->persistToDisk();
  });
}

void APMPersistentDictionary::persistToDisk() {
  platform::Dictionary snapshot;
  {
    std::lock_guard lock(m_mutex);
    snapshot = m_content.copy();
    m_hasPendingPersistence = false;
  }
  if (platform::PropertyList::writeFile(m_filePath, platform::Value(snapshot), platform::PropertyListFormat::Xml,
                                        0600)) {
    logLine(ZULLoggerLevelError, 43000, "Cannot persist configs to disk");
    return;
  }
  ++g_writes;
}

bool APMPersistentDictionary::hasPendingPersistence() const {
  std::lock_guard lock(m_mutex);
  return m_hasPendingPersistence;
}

int64_t APMPersistentDictionary::writeCount() { return g_writes.load(); }

#include "measurement/base/APMUserDefaults.h"

#include "measurement/base/APMASLLogger.h"
#include "measurement/base/APMFileLocations.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Preferences.h"
#include "sdk/utilities/ZULLogger.h"

namespace {

constexpr const char* kCategory = "<RedIveduruveza>";

void logWarning(int64_t code, const std::string& message) {
  ZULLogEmitWarning(APMASLLogger::kSubsystem, kCategory, false, APMASLLogger::messageCodeText(code), message);
}

}  // namespace

std::shared_ptr<APMUserDefaults> APMUserDefaults::sharedUserDefaults() {
  static const auto* const shared = new std::shared_ptr<APMUserDefaults>([] {
    auto defaults = std::make_shared<APMUserDefaults>();
    defaults->setIsPreferenceFileExcluded(true);
    return defaults;
  }());
  return *shared;
}

APMUserDefaults::APMUserDefaults(std::optional<std::string> suiteName)
    : m_suiteName(std::move(suiteName)),
      m_appNameRef(m_suiteName && !m_suiteName->empty() ? *m_suiteName
                                                         : std::string(platform::Preferences::kCurrentApplication)) {}

std::optional<platform::Value> APMUserDefaults::objectForKey(const std::string& key) {
  if (key.empty()) {
    logWarning(41001, "Cannot get object for invalid user default key.");
    return std::nullopt;
  }
  return platform::Preferences::copyValue(key, m_appNameRef);
}

void APMUserDefaults::setObject(const platform::Value& object, const std::string& key) {
  if (key.empty()) {
    logWarning(41002, "Cannot set object for invalid user default key.");
    return;
  }
  if (!object.isNull() && !isAllowedValue(object)) {
    logWarning(41003, "Cannot set invalid object to user defaults. Must be a string or number or an array. Value " +
                          object.description());
    return;
  }
  platform::Preferences::setValue(key, object.copy(), m_appNameRef);
}

void APMUserDefaults::clearAllData() {
  std::vector<std::string> keys = platform::Preferences::keyList(m_appNameRef);
  if (keys.empty()) return;
  platform::Preferences::setMultiple(platform::Dictionary(), keys, m_appNameRef);
}

void APMUserDefaults::synchronize() {
  if (!platform::Preferences::synchronize(m_appNameRef)) {
    ZULLogEmitError(APMASLLogger::kSubsystem, kCategory, false, APMASLLogger::messageCodeText(41004),
                    "Cannot synchronize user defaults to disk");
  }
  std::lock_guard lock(m_mutex);
  if (m_isPreferenceFileExcluded) return;
  const std::string path = APMPreferencesPlistPath(m_suiteName.value_or(""));
  if (path.empty() || !platform::fs::exists(path)) return;
  platform::Error error;
  if (APMExcludeFromBackup(path, &error)) {
    m_isPreferenceFileExcluded = true;
  } else {
    logWarning(41000, "Failed to exclude preferences file from backup. Error code " + error.description());
  }
}

bool APMUserDefaults::isPreferenceFileExcluded() const {
  std::lock_guard lock(m_mutex);
  return m_isPreferenceFileExcluded;
}

void APMUserDefaults::setIsPreferenceFileExcluded(bool excluded) {
  std::lock_guard lock(m_mutex);
  m_isPreferenceFileExcluded = excluded;
}

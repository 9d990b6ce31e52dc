// APMUserDefaults: the measurement engine's store over the platform's
// preferences (platform::Preferences): the application's own preferences
// (no suite name) or a named suite. Keys and values are checked before they
// reach the platform (APMConfigStore's rules); problems are written straight
// to the shared logger under "com.zoruvu.ririvudu.analytics" /
// "<RedIveduruveza>" with the codes 41000-41004 and otherwise ignored.
//
// synchronize() writes the suite to disk and then, once, excludes the suite's
// preference file (APMPreferencesPlistPath of the suite) from backups; while
// that file does not exist yet, every synchronize tries again.
// sharedUserDefaults() is the application's own preferences, made once; it
// never touches backup attributes.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/base/APMConfigStore.h"

class APMUserDefaults : public APMConfigStore {
 public:
  static std::shared_ptr<APMUserDefaults> sharedUserDefaults();

  // An empty name means the application's own preferences.
  explicit APMUserDefaults(std::optional<std::string> suiteName = std::nullopt);

  const std::optional<std::string>& suiteName() const { return m_suiteName; }
  // The platform domain of every call: the suite, or "" for the application.
  const std::string& appNameRef() const { return m_appNameRef; }

  std::optional<platform::Value> objectForKey(const std::string& key) override;
  void setObject(const platform::Value& object, const std::string& key) override;
  void clearAllData() override;
  void synchronize() override;

  bool isPreferenceFileExcluded() const;
  void setIsPreferenceFileExcluded(bool excluded);

 private:
  const std::optional<std::string> m_suiteName;
  const std::string m_appNameRef;
  mutable std::mutex m_mutex;
  bool m_isPreferenceFileExcluded = false;
};

// Bundle: the application's resource folder and what it holds.
//
// Folder: the main bundle's folder is $APP_RESOURCES when set and not
// empty, else "<folder of the executable>/../resources" (the build lays out
// <build>/resources beside <build>/bin). bundlePath() and resourcePath() are
// both that folder: on this platform the bundle is its resource folder.
//
// Info dictionary: "Info.plist" in the folder (XML or binary), read once.
// Missing gives an empty dictionary; unreadable gives an empty dictionary
// and an error log line. Returned containers are copies.
//
// Resources: pathForResource(name, type) looks for "<name>.<type>" (or the
// exact name when type is empty) in the folder, then in the chosen
// language's "<lang>.lproj" folder, then in "en.lproj". A name that is empty,
// absolute or contains a ".." component finds nothing. A dangling link is
// not a resource.
//
// Strings tables: "<lang>.lproj/<table>.json" holding one JSON object of
// key -> text (the default table is "Localizable"; entries that are not text
// are ignored; an unreadable file counts as empty and is logged). The
// language is the best match of the preferred languages (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG; see platform::Locale) among the "*.lproj" folders, "en"
// when nothing matches. localizedString looks in that table, then in the
// English one, then answers `value` when not empty, else the key itself.
// Tables are loaded once per bundle and cached.
//
// The main bundle is created on first use and can be replaced (tests). When
// a main bundle with a bundle identifier is installed, StandardFolders is
// told the identifier, so that the application's folders carry its name.
//
// Thread safety: all members may be called from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/values/Value.h"

namespace platform {

class Bundle {
 public:
  static constexpr const char* kResourcesEnvironmentVariable = "APP_RESOURCES";
  static constexpr const char* kInfoFileName = "Info.plist";
  static constexpr const char* kDefaultTable = "Localizable";
  static constexpr const char* kDevelopmentLanguage = "en";
  static constexpr const char* kIdentifierKey = "CFBundleIdentifier";
  static constexpr const char* kShortVersionKey = "CFBundleShortVersionString";
  static constexpr const char* kVersionKey = "CFBundleVersion";

  // A bundle at this folder. Empty `preferredLanguages`: from the environment.
  explicit Bundle(std::string path, std::vector<std::string> preferredLanguages = {});

  static std::shared_ptr<Bundle> main();
  // nullptr makes the next main() create the default bundle again.
  static void setMain(std::shared_ptr<Bundle> bundle);
  // $APP_RESOURCES, else <executable folder>/../resources ("" when unknown).
  static std::string defaultResourcePath();

  const std::string& bundlePath() const { return m_path; }
  const std::string& resourcePath() const { return m_path; }

  Dictionary infoDictionary() const;
  // The Info value for `key`; null when absent.
  Value objectForInfoDictionaryKey(std::string_view key) const;
  // Info strings; none when absent or not a string.
  std::optional<std::string> bundleIdentifier() const;
  std::optional<std::string> shortVersionString() const;
  std::optional<std::string> version() const;

  std::optional<std::string> pathForResource(std::string_view name, std::string_view type = {}) const;

  std::string localizedString(const std::string& key) const;
  std::string localizedString(const std::string& key, const std::string& value,
                              const std::string& table = kDefaultTable) const;
  // Languages with a "<lang>.lproj" folder, sorted.
  std::vector<std::string> localizations() const;
  // The language whose tables are used.
  std::string preferredLocalization() const;

 private:
  using Table = std::map<std::string, std::string, std::less<>>;
  const Dictionary& info() const;  // caller holds m_mutex
  const Table& table(const std::string& language, const std::string& name) const;  // holds m_mutex
  const std::string& language() const;  // caller holds m_mutex

  std::string m_path;
  std::vector<std::string> m_preferredLanguages;
  mutable std::mutex m_mutex;
  mutable std::optional<Dictionary> m_info;
  mutable std::optional<std::string> m_language;
  mutable std::map<std::string, Table> m_tables;  // "<lang>/<table>"
};

}  // namespace platform

// StandardFolders: where the application keeps its files.
//
//   home()               $HOME, else the password entry's folder, else "".
//   applicationSupport() <data home>/<bundle id>   data home: $XDG_DATA_HOME or ~/.local/share
//   caches()             <cache home>/<bundle id>  cache home: $XDG_CACHE_HOME or ~/.cache
//   library()            <config home>/<bundle id> config home: $XDG_CONFIG_HOME or ~/.config
//   preferences()        library()/Preferences     (user-defaults suites: <name>.plist)
//   documents()          <data home>/<bundle id>/Documents
//
// Preferences sit inside library() so that "Library/Preferences/<suite>.plist"
// and the user-defaults file of that suite are the same file. An XDG variable
// that is unset, empty or relative is ignored, as the XDG rules say. Every
// call reads the environment again, so tests can point HOME and XDG_* at a
// temporary folder. A folder that cannot be resolved (no home) is "".
// Folders are not created here.
//
// The bundle identifier defaults to "com.tavix.app"; the application sets it
// once at start-up. Thread safety: all functions may be called from any thread.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class StandardFolders {
 public:
  static constexpr const char* kDefaultBundleIdentifier = "com.tavix.app";

  static void setBundleIdentifier(std::string identifier);  // "" restores the default
  static std::string bundleIdentifier();

  static std::string home();
  static std::string dataHome();
  static std::string cacheHome();
  static std::string configHome();

  static std::string applicationSupport();
  static std::string caches();
  static std::string library();
  static std::string preferences();
  static std::string documents();
  static std::string temporary();

  // "~" and "~/x" become the home folder (and "<home>/x"); only a leading "~"
  // is expanded and "~user" is left alone.
  static std::string expandTilde(std::string_view path);
};

}  // namespace platform

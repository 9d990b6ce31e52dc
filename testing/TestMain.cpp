// The main() of every test program. Before any test runs, the process is
// given an environment of its own, so that no test reads the caller's:
//
//   APP_RESOURCES      the build's bundle folder, <build>/resources
//   HOME, XDG_*_HOME   folders inside a fresh temporary folder (removed at exit)
//   XDG_RUNTIME_DIR    a private folder inside it
//   APP_KEYCHAIN_ROOT  a keychain folder inside it
//   TMPDIR, TEST_TMPDIR  a temporary folder inside it, so that temporary
//                      files of test programs running side by side never meet
//   APP_SERVICES_URL   http://127.0.0.1:9, a loopback port nothing answers on, so
//                      that no request of a test leaves the machine
//   APP_REACHABILITY   removed (the real reachability)
//   LANGUAGE, LC_ALL, LC_MESSAGES        removed, LANG=C.UTF-8 (English texts)
//
// A test that needs other values sets them itself (testkit::TempHome,
// testkit::ScopedEnvironment) and puts them back when it ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "testing/BuildPaths.h"

namespace {

class OwnEnvironment {
 public:
  OwnEnvironment() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tavix-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create the test's temporary folder");
    m_root = pattern;
    const std::string home = m_root + "/home";
    set("APP_RESOURCES", testkit::binaryDir() + "/resources");
    set("HOME", home);
    set("XDG_DATA_HOME", folder(home + "/.local/share"));
    set("XDG_CACHE_HOME", folder(home + "/.cache"));
    set("XDG_CONFIG_HOME", folder(home + "/.config"));
    set("XDG_STATE_HOME", folder(home + "/.local/state"));
    set("XDG_RUNTIME_DIR", folder(m_root + "/runtime"));
    ::chmod((m_root + "/runtime").c_str(), 0700);
    set("APP_KEYCHAIN_ROOT", m_root + "/keychain");
    set("TMPDIR", folder(m_root + "/tmp"));
    set("TEST_TMPDIR", m_root + "/tmp");
    set("APP_SERVICES_URL", "http://127.0.0.1:9");
    for (const char* name : {"APP_REACHABILITY", "LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
      ::unsetenv(name);
    }
    set("LANG", "C.UTF-8");
  }
  ~OwnEnvironment() {
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
  }

 private:
  static void set(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
  static std::string folder(const std::string& path) {
    std::filesystem::create_directories(path);
    return path;
  }
  std::string m_root;
};

}  // namespace

int main(int argc, char** argv) {
  const OwnEnvironment environment;
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}

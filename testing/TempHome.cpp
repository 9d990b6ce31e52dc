#include "testing/TempHome.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/dispatch/ExitDrain.h"

namespace testkit {

TempHome::TempHome() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/testhome-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("TempHome: mkdtemp failed");
  m_path = pattern;
  const std::pair<const char*, std::string> variables[] = {
      {"HOME", m_path},
      {"XDG_DATA_HOME", dataHome()},
      {"XDG_CACHE_HOME", cacheHome()},
      {"XDG_CONFIG_HOME", configHome()},
      {"XDG_STATE_HOME", stateHome()},
  };
  for (const auto& [name, value] : variables) {
    std::filesystem::create_directories(value);
    m_environment.set(name, value);
  }
  m_environment.set("APP_KEYCHAIN_ROOT", keychainRoot());
}

TempHome::~TempHome() {
  // Writes the test's stores still have queued land in this home, not in a
  // removed folder or in the next test's.
  platform::ExitDrain::drain();
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

}  // namespace testkit

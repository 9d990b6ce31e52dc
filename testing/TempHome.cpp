#include "testing/TempHome.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

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
    const char* old = std::getenv(name);
    m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    std::filesystem::create_directories(value);
    ::setenv(name, value.c_str(), 1);
  }
}

TempHome::~TempHome() {
  for (const auto& [name, value] : m_saved) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

}  // namespace testkit

// ScopedEnvironment: environment variables set or removed for one scope and
// put back as they were when it ends. Header-only, so that every test
// program can use it without linking the test kit.
//
//   testkit::ScopedEnvironment env;
//   env.set("APP_REACHABILITY", "reachable");
//   env.unset("APP_SERVICES_URL");
//
// Thread safety: changes the process environment; use it while no other
// thread reads the variables it touches.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace testkit {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : m_saved) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void set(const std::string& name, const std::string& value) {
    remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void unset(const std::string& name) {
    remember(name);
    ::unsetenv(name.c_str());
  }

 private:
  void remember(const std::string& name) {
    if (m_saved.count(name)) return;
    const char* old = std::getenv(name.c_str());
    m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> m_saved;  // first value seen per name
};

}  // namespace testkit

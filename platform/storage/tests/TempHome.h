// A temporary HOME with XDG folders inside it, restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/storage/UserDefaults.h"

namespace platform::storage_test {

class TempHome : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/storage-test-XXXXXX";
    m_root = ::mkdtemp(pattern);
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"}) {
      const char* old = std::getenv(name);
      m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    ::setenv("HOME", m_root.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CACHE_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    UserDefaults::resetForTesting();
  }
  void TearDown() override {
    UserDefaults::resetForTesting();
    for (auto& [name, value] : m_saved) {
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
  }
  std::string path(const std::string& rel) const { return m_root + "/" + rel; }

  std::string m_root;
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

}  // namespace platform::storage_test

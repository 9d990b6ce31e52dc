// TempHome: a fresh temporary home folder for one test. Sets HOME,
// XDG_DATA_HOME, XDG_CACHE_HOME, XDG_CONFIG_HOME and XDG_STATE_HOME to
// folders inside it (created) and APP_KEYCHAIN_ROOT to keychainRoot() (made
// by the first write). On destruction it waits for the writes the stores
// have queued (platform::ExitDrain), removes the whole tree and restores the
// previous values. Use it as a fixture member, or derive
// from TempHomeTest.
//
// Thread safety: changes the process environment; construct and destroy it
// while no other thread reads those variables.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testing/ScopedEnvironment.h"

namespace testkit {

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::string& path() const { return m_path; }
  std::string dataHome() const { return m_path + "/.local/share"; }
  std::string cacheHome() const { return m_path + "/.cache"; }
  std::string configHome() const { return m_path + "/.config"; }
  std::string stateHome() const { return m_path + "/.local/state"; }
  std::string keychainRoot() const { return m_path + "/keychain"; }
  // path() + "/" + relative
  std::string file(const std::string& relative) const { return m_path + "/" + relative; }

 private:
  std::string m_path;
  ScopedEnvironment m_environment;
};

class TempHomeTest : public ::testing::Test {
 protected:
  TempHome home;
};

}  // namespace testkit

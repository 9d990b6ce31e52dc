// The fixtures restore what they changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/log/Log.h"
#include "testing/BuildPaths.h"
#include "platform/time/Clock.h"
#include "testing/LogCapture.h"
#include "testing/ScopedEnvironment.h"
#include "testing/TempHome.h"
#include "testing/VirtualClockFixture.h"

namespace testkit {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "<unset>";
}

TEST(FixturesTest, TempHomeSetsAndRestoresTheEnvironmentAndRemovesTheTree) {
  ScopedEnvironment outer;
  outer.set("XDG_CACHE_HOME", "/before/cache");
  outer.unset("XDG_DATA_HOME");
  std::string home = env("HOME");
  std::string path;
  {
    TempHome temp;
    path = temp.path();
    EXPECT_EQ(env("HOME"), path);
    EXPECT_EQ(env("XDG_DATA_HOME"), temp.dataHome());
    EXPECT_EQ(env("APP_KEYCHAIN_ROOT"), temp.keychainRoot());
    EXPECT_EQ(::access(temp.cacheHome().c_str(), W_OK), 0);
    FILE* f = std::fopen(temp.file("note").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  EXPECT_EQ(env("HOME"), home);
  EXPECT_EQ(env("XDG_CACHE_HOME"), "/before/cache");
  EXPECT_EQ(env("XDG_DATA_HOME"), "<unset>");
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST(FixturesTest, ScopedEnvironmentPutsBackWhatItChanged) {
  const std::string home = env("HOME");
  ::unsetenv("FIXTURES_TEST_UNSET");
  {
    ScopedEnvironment scoped;
    scoped.set("HOME", "/elsewhere");
    scoped.set("HOME", "/elsewhere/again");  // the first value is the one put back
    scoped.set("FIXTURES_TEST_UNSET", "x");
    scoped.unset("XDG_CONFIG_HOME");
    EXPECT_EQ(env("HOME"), "/elsewhere/again");
    EXPECT_EQ(env("FIXTURES_TEST_UNSET"), "x");
    EXPECT_EQ(env("XDG_CONFIG_HOME"), "<unset>");
  }
  EXPECT_EQ(env("HOME"), home);
  EXPECT_EQ(env("FIXTURES_TEST_UNSET"), "<unset>");
  EXPECT_NE(env("XDG_CONFIG_HOME"), "<unset>");
}

// Every test program starts in an environment of its own (testing/TestMain.cpp).
TEST(FixturesTest, TestProgramsOwnTheirEnvironment) {
  const std::string home = env("HOME");
  const std::string root = home.substr(0, home.rfind('/'));
  EXPECT_EQ(env("APP_RESOURCES"), testkit::binaryDir() + "/resources");
  EXPECT_EQ(env("APP_SERVICES_URL"), "http://127.0.0.1:9");
  EXPECT_EQ(env("APP_REACHABILITY"), "<unset>");
  EXPECT_EQ(env("APP_KEYCHAIN_ROOT"), root + "/keychain");
  EXPECT_EQ(env("XDG_CONFIG_HOME"), home + "/.config");
  EXPECT_EQ(env("TMPDIR"), root + "/tmp");
  EXPECT_EQ(::access(home.c_str(), W_OK), 0);
}

TEST(FixturesTest, VirtualClockAndLogCaptureAreScoped) {
  auto before = platform::Clock::current();
  {
    VirtualClockScope scope;
    EXPECT_EQ(platform::Clock::current(), scope.clock());
    double t = platform::Clock::current()->now();
    scope.clock()->advance(3600);
    EXPECT_DOUBLE_EQ(platform::Clock::current()->now(), t + 3600);
  }
  EXPECT_EQ(platform::Clock::current(), before);

  {
    LogCapture logs;
    platform::Log::handle("kit", "[Test]").write(platform::LogType::Error, "captured line");
    EXPECT_TRUE(logs.contains("captured line"));
  }
}

}  // namespace
}  // namespace testkit

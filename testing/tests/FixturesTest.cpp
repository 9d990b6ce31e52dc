// The fixtures restore what they changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/log/Log.h"
#include "platform/time/Clock.h"
#include "testing/LogCapture.h"
#include "testing/TempHome.h"
#include "testing/VirtualClockFixture.h"

namespace testkit {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "<unset>";
}

TEST(FixturesTest, TempHomeSetsAndRestoresTheEnvironmentAndRemovesTheTree) {
  ::setenv("XDG_CACHE_HOME", "/before/cache", 1);
  ::unsetenv("XDG_DATA_HOME");
  std::string home = env("HOME");
  std::string path;
  {
    TempHome temp;
    path = temp.path();
    EXPECT_EQ(env("HOME"), path);
    EXPECT_EQ(env("XDG_DATA_HOME"), temp.dataHome());
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

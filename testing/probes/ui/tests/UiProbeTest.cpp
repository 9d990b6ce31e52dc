// Runs the ui-probe program as the test driver is used: results on "=> " lines.
#include <gtest/gtest.h>

#include <string>

#include "testing/ProgramRun.h"

namespace {

using ProbeRun = testkit::ProgramRun;

// The probe sits beside this test program in <build>/bin; the bundle is <build>/resources.
ProbeRun runProbe(const std::string& language, const std::string& arguments) {
  return testkit::runCommand("env -u APP_RESOURCES LC_ALL= LC_MESSAGES= LANG= LANGUAGE=" + language + " '" +
                             testkit::builtProgram("ui-probe") + "' " + arguments + " 2>/dev/null");
}

TEST(UiProbeTest, CommandsPrintTheirResult) {
  struct Case {
    const char* language;
    const char* arguments;
    const char* out;
  } cases[] = {
      {"en", "plural 1", "=> 1 download\n"},
      {"en", "plural 5", "=> 5 downloads\n"},
      // English counts take the English rule: one only for exactly 1.
      {"en", "plural 21", "=> 21 downloads\n"},
      {"en", "plural 101", "=> 101 downloads\n"},
      {"en", "plural 3", "=> 3 downloads\n"},
      // --lang overrides the system's choice.
      {"ru", "plural 21 --lang en", "=> 21 downloads\n"},
      {"en", "plural 21 --lang ru", "=> 21 загрузка\n"},
      {"en", "plural 3 --lang ru", "=> 3 загрузки\n"},
      {"en", "plural 1 --lang en", "=> 1 download\n"},
      {"ru", "plural 21", "=> 21 загрузка\n"},
      {"ru", "plural 3", "=> 3 загрузки\n"},
      {"ru", "plural 112", "=> 112 загрузок\n"},
      {"ru", "plural 1000", "=> 1000 загрузок\n"},
      // 1 -> 2 downloads: 70 more at the top and at the bottom; width back to 1000.
      {"en", "window --count 2 --frame 100,200,1200,600 --visible 0,0,1920,1080", "=> 100,130,1000,740\n"},
      {"en", "window --count 0 --frame 10,-300,1000,860 --visible 0,25,1920,1055", "=> 10,25,1000,400\n"},
      {"en", "window --count 10 --frame 0,900,1000,400 --visible 0,0,1920,1080", "=> 0,220,1000,860\n"},
      // Taller than the visible frame: meets its top and overhangs below.
      {"en", "window --count 3 --frame 0,0,1000,400 --visible 0,0,1280,800", "=> 0,-60,1000,860\n"},
      // Half points and large coordinates are printed exactly.
      {"en", "window --count 1 --frame 12345.25,10001,1000,401 --visible 0,0,40000,40000",
       "=> 12345.25,9901.5,1000,600\n"},
      {"en", "event --quality p720", "=> download_720\n"},
      {"en", "event --quality mp3", "=> download_m3\n"},
      {"en", "event --quality best", "=> download_best\n"},
      {"ru", "event --quality p1080", "=> download_1080\n"},
      {"ru", "event --quality best", "=> download_лучшее\n"},
  };
  for (const auto& c : cases) {
    const ProbeRun run = runProbe(c.language, c.arguments);
    EXPECT_EQ(run.status, 0) << c.arguments;
    EXPECT_EQ(run.out, c.out) << c.arguments;
  }
}

TEST(UiProbeTest, BadArgumentsPrintNoResult) {
  const char* cases[] = {
      "",
      "plural",
      "plural x",
      "plural 1 --lang",
      "plural 1 --lang de",
      "plural 1 --language en",
      "plural 1 --lang en extra",
      "window --count 1 --frame 0,0,1000 --visible 0,0,1920,1080",
      "window --count 1 --frame 0,0,1000,400, --visible 0,0,1920,1080",
      "window --count 1 --frame 0,0,nan,400 --visible 0,0,1920,1080",
      "window --count 1 --frame 0,0,1000,400",
      "event --quality 720p",
      "event --quality",
      "unknown",
  };
  for (const char* arguments : cases) {
    const ProbeRun run = runProbe("en", arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_EQ(run.out, "") << arguments;
  }
}

}  // namespace

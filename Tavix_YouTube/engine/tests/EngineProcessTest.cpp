// The engine against the fake downloader: command lines, the queue and its
// slots, ends of runs and their statuses, titles, renames, and the engine-probe
// driver.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include "Tavix_YouTube/engine/tests/EngineFixture.h"
#include "platform/time/DateFormatter.h"
#include "testing/LoopbackServer.h"
#include "testing/ProgramRun.h"
#include "testing/VirtualClockFixture.h"

using tavix::DownloadItem;
using tavix::DownloadManager;
using tavix::DownloadStatus;
using tavix::Quality;

namespace {

class EngineProcess : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    useFakeDownloader();
  }
  std::string flag(const std::string& name) const { return home.file(name); }
  void release(const std::string& name) { ASSERT_FALSE(platform::fs::writeFile(flag(name), "")); }
};

TEST_F(EngineProcess, CommandLineEndsOptionsBeforeTheAddress) {
  link("/usr/bin/ffmpeg", "ffmpeg");
  writeScenario("exit 0\n");
  auto item = add("-oops.instagram.com", Quality::mp3);
  ASSERT_TRUE(runUntil([&] { return settled() && recordedRuns().size() == 2; }));
  auto runs = recordedRuns();
  std::string download = runs[0].find("--get-title") == std::string::npos ? runs[0] : runs[1];
  std::string title = runs[0].find("--get-title") == std::string::npos ? runs[1] : runs[0];
  EXPECT_EQ(download, "[\"" + bundle + "/yt-dlp\",\"-f\",\"best[ext=mp4]/best\",\"--output\","
                      "\"~/Downloads/Instagram_Video_MP3.mp3\",\"--progress\",\"--extract-audio\",\"--audio-format\","
                      "\"mp3\",\"--audio-quality\",\"0\",\"--ffmpeg-location\",\"" + bundle + "\",\"--continue\",\"--\","
                      "\"-oops.instagram.com\"]");
  EXPECT_EQ(title, "[\"" + bundle + "/yt-dlp\",\"--get-title\",\"--get-thumbnail\",\"--\",\"-oops.instagram.com\"]");
  // The logged argument line is the one without the address.
  EXPECT_TRUE(printed("   yt-dlp arguments: [\"-f\", \"best[ext=mp4]/best\", \"--output\", "
                      "\"~/Downloads/Instagram_Video_MP3.mp3\", \"--progress\", \"--extract-audio\", \"--audio-format\", "
                      "\"mp3\", \"--audio-quality\", \"0\", \"--ffmpeg-location\", \"" + bundle + "\", \"--continue\"]"));
  EXPECT_TRUE(item->status.get() == DownloadStatus::completed);
}

TEST_F(EngineProcess, MissingDownloaderFailsEveryItem) {
  ASSERT_EQ(::unlink((bundle + "/yt-dlp").c_str()), 0);
  auto item = add("https://youtu.be/x");
  EXPECT_TRUE(item->status.get() == DownloadStatus::failed);
  EXPECT_EQ(item->errorMessage.get(), "yt-dlp not found");
  EXPECT_EQ(manager->currentDownloadCount(), 0u);
}

TEST_F(EngineProcess, AtMostTwoRunAndTheNextStartsWhenOneEnds) {
  writeScenario("@/a wait " + flag("a") + "\n@/b wait " + flag("b") + "\n@/c exit 0\n");
  auto a = add("http://h/a");
  auto b = add("http://h/b");
  auto c = add("http://h/c");
  EXPECT_TRUE(a->status.get() == DownloadStatus::downloading);
  EXPECT_TRUE(b->status.get() == DownloadStatus::downloading);
  EXPECT_TRUE(c->status.get() == DownloadStatus::queued);
  EXPECT_EQ(manager->currentDownloadCount(), 2u);
  release("a");
  ASSERT_TRUE(runUntil([&] { return c->status.get() == DownloadStatus::completed; }));
  EXPECT_TRUE(a->status.get() == DownloadStatus::completed);
  EXPECT_EQ(a->progress.get(), 100);
  EXPECT_TRUE(b->status.get() == DownloadStatus::downloading);
  release("b");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
}

TEST_F(EngineProcess, FailureIsClassifiedFromStandardError) {
  writeScenario("out [download]  10.0% of 1.00MiB at 1.00KiB/s\\r\nerr WARNING: x\\nERROR: Private video\\n\nexit 1\n");
  auto item = add("https://www.youtube.com/watch?v=1");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
  EXPECT_TRUE(item->status.get() == DownloadStatus::failed);
  EXPECT_EQ(item->errorMessage.get(), "Private video - cannot download");
  EXPECT_EQ(item->progress.get(), 10);
  EXPECT_TRUE(printed("   Exit code: 1"));
  EXPECT_TRUE(printed("🔴 yt-dlp error: WARNING: x\nERROR: Private video"));
}

// A character split across two reads of the error pipe keeps the message.
TEST_F(EngineProcess, ErrorTextSplitInsideACharacterIsKept) {
  writeScenario("err ERROR: \\xd0\nsleep 0.2\nerr \\x9f\\xd1\\x80\\xd0\\xb8\\xd0\\xb2\\xd0\\xb5\\xd1\\x82\\n\nexit 1\n");
  auto item = add("http://h/x");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
  EXPECT_EQ(item->errorMessage.get(), "Привет");
}

// A read holding an ill-formed byte is still read: its progress line and the
// ERROR line that decides the message are not lost.
TEST_F(EngineProcess, InvalidBytesCostOnlyThemselves) {
  writeScenario("out [download] \\xff 45.0% of 2.00MiB at 1.00MiB/s\\r\n"
                "err WARNING: caf\\xe9 page\\nERROR: Video unavailable\\n\nexit 1\n");
  auto item = add("http://h/x");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
  EXPECT_EQ(item->progress.get(), 45);
  EXPECT_EQ(item->errorMessage.get(), "Video is unavailable");
  EXPECT_TRUE(printed("🔴 yt-dlp error: WARNING: caf\xEF\xBF\xBD page\nERROR: Video unavailable"));
}

// The end of a run is handled only after all its output was parsed.
TEST_F(EngineProcess, LastOutputIsParsedBeforeTheEnd) {
  std::string scenarioText;
  for (int i = 1; i <= 50; ++i) scenarioText += "out [download] " + std::to_string(i) + ".0% of 5.00MiB at 1.00MiB/s\\r\n";
  writeScenario(scenarioText + "exit 3\n");
  double progressAtEnd = -1;
  auto item = add("http://h/x");
  auto token = item->status.subscribe([&](const DownloadStatus& s) {
    if (s == DownloadStatus::failed) progressAtEnd = item->progress.get();
  });
  ASSERT_TRUE(runUntil([&] { return settled(); }));
  EXPECT_EQ(progressAtEnd, 50);
}

struct EndCase {
  const char* name;
  std::function<void(DownloadItem&)> act;  // what the user does while it runs
  DownloadStatus expected;
  bool pausedLine;
};

TEST_F(EngineProcess, EndByTerminateSignal) {
  const EndCase cases[] = {
      {"pause", [](DownloadItem& i) { i.pause(); }, DownloadStatus::paused, true},
      {"cancel", [](DownloadItem& i) { i.cancel(); }, DownloadStatus::cancelled, false},
      // Nobody paused or cancelled: an unexplained SIGTERM is a failure.
      {"killed by someone else", [](DownloadItem& i) { ::kill(i.downloadProcess()->processIdentifier(), SIGTERM); },
       DownloadStatus::failed, false},
  };
  writeScenario("touch " + flag("started") + "\nwait " + flag("never") + "\n");
  for (const EndCase& c : cases) {
    ::unlink(flag("started").c_str());
    const size_t linesBefore = console.lines().size();
    auto item = add("http://h/x");
    ASSERT_TRUE(runUntil([&] { return platform::fs::exists(flag("started")); })) << c.name;
    c.act(*item);
    ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 0; })) << c.name;
    EXPECT_TRUE(item->status.get() == c.expected) << c.name << ": " << item->status.get().caseName();
    auto lines = console.lines();
    bool paused = std::find(lines.begin() + static_cast<long>(linesBefore), lines.end(),
                            "⏸️ Download paused: Downloaded_Video") != lines.end();
    EXPECT_EQ(paused, c.pausedLine) << c.name;
    if (c.expected == DownloadStatus::failed) {
      EXPECT_EQ(item->errorMessage.get(), "Download failed (exit code: 15)");
    }
    manager->clearCompleted();
    manager->removeDownload(item->id);
  }
}

// Pause and an immediate retry: the old process still holds its slot until its
// end is handled, and that late end touches neither the new run nor the item.
TEST_F(EngineProcess, QuickRetryAfterPauseKeepsTheSlotCount) {
  writeScenario("@/a touch " + flag("a-started") + "\n@/a wait " + flag("never") + "\n@/c wait " + flag("never") +
                "\n@/d wait " + flag("never") + "\n");
  auto a = add("http://h/a");
  ASSERT_TRUE(runUntil([&] { return platform::fs::exists(flag("a-started")); }));
  a->pause();
  a->retry();
  EXPECT_TRUE(a->status.get() == DownloadStatus::downloading);
  EXPECT_EQ(manager->currentDownloadCount(), 2u);
  auto c = add("http://h/c");
  EXPECT_TRUE(c->status.get() == DownloadStatus::queued) << "no third download while the old one ends";
  ASSERT_TRUE(runUntil([&] { return c->status.get() == DownloadStatus::downloading; }));
  auto d = add("http://h/d");
  runFor(0.3);
  EXPECT_TRUE(a->status.get() == DownloadStatus::downloading) << a->errorMessage.get();
  EXPECT_TRUE(d->status.get() == DownloadStatus::queued);
  EXPECT_EQ(manager->currentDownloadCount(), 2u);
  EXPECT_FALSE(printed("⏸️ Download paused: Downloaded_Video")) << "the stale end reports nothing";
}

// Pause and cancel end the media tool the downloader started, too.
TEST_F(EngineProcess, TerminateReachesTheDownloadersChildren) {
  writeScenario("child " + flag("child.pid") + "\ntouch " + flag("started") + "\nwait " + flag("never") + "\n");
  auto item = add("http://h/x");
  ASSERT_TRUE(runUntil([&] { return platform::fs::exists(flag("started")); }));
  std::ifstream in(flag("child.pid"));
  pid_t child = 0;
  in >> child;
  ASSERT_GT(child, 0);
  item->pause();
  ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 0; }));
  auto alive = [child] {
    if (::kill(child, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    std::string pid, comm, state;
    stat >> pid >> comm >> state;
    return state != "Z";
  };
  bool ended = runUntil([&] { return !alive(); }, 5);
  if (!ended) ::kill(child, SIGKILL);
  EXPECT_TRUE(ended) << "the media tool outlived a pause";
  EXPECT_TRUE(item->status.get() == DownloadStatus::paused);
}

// Two items of the same title never share an output path, and a retry
// resumes its own partial file.
TEST_F(EngineProcess, OutputNamesAreReservedPerItem) {
  writeScenario("@/a touch " + flag("a-started") + "\n@/a wait " + flag("never") + "\n@/b wait " + flag("never") +
                "\n@/c exit 0\n");
  auto a = add("http://h/a");
  auto b = add("http://h/b");
  ASSERT_TRUE(runUntil([&] { return platform::fs::exists(flag("a-started")); }));
  EXPECT_EQ(a->filePath.get(), "~/Downloads/Downloaded_Video_720.mp4");
  EXPECT_NE(b->filePath.get(), a->filePath.get());
  // a leaves a partial file behind and is paused.
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/Downloaded_Video_720.mp4.part", "partial"));
  a->pause();
  ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 1; }));
  auto c = add("http://h/c");  // takes the free slot; must not take a's name
  ASSERT_TRUE(runUntil([&] { return c->status.get() == DownloadStatus::completed; }));
  EXPECT_NE(c->filePath.get(), a->filePath.get());
  EXPECT_NE(c->filePath.get(), b->filePath.get());
  a->retry();
  ASSERT_TRUE(runUntil([&] { return a->status.get() == DownloadStatus::downloading; }));
  EXPECT_EQ(a->filePath.get(), "~/Downloads/Downloaded_Video_720.mp4");
}

// Fifty items at once: never more than two downloads and two title queries
// run, and every item still gets both, in order of adding.
TEST_F(EngineProcess, TitleQueriesAreBoundedLikeDownloads) {
  const std::string titles = flag("titles");
  const std::string downloaders = flag("downloads");
  writeScenario("title enter " + titles + "\ntitle sleep 0.02\ntitle leave " + titles + "\nenter " + downloaders +
                "\nsleep 0.02\nleave " + downloaders + "\n");
  const size_t kItems = 50;
  // The order in which the engine starts its title queries, seen at launch.
  std::vector<size_t> order;
  manager = tavix::DownloadManager::create();
  manager->setLauncher([&order](platform::Task& process) {
    const std::vector<std::string>& arguments = process.arguments();
    if (std::find(arguments.begin(), arguments.end(), "--get-title") != arguments.end()) {
      order.push_back(std::stoul(arguments.back().substr(arguments.back().rfind("http://h/") + 9)));
    }
    return process.launch();
  });
  for (size_t i = 0; i < kItems; ++i) add("http://h/" + std::to_string(i));
  EXPECT_EQ(manager->titleQueryCount(), kItems);
  ASSERT_TRUE(runUntil([&] { return settled() && manager->titleQueryCount() == 0; }, 120));
  for (const std::string& counts : {titles + ".counts", downloaders + ".counts"}) {
    std::ifstream in(counts);
    size_t runs = 0;
    size_t most = 0;
    for (size_t running; in >> running; ++runs) most = std::max(most, running);
    EXPECT_EQ(runs, kItems) << counts;
    EXPECT_LE(most, 2u) << counts;
    EXPECT_GE(most, 1u) << counts;
  }
  // Every item got its title query, started in order of adding.
  ASSERT_EQ(order.size(), kItems);
  for (size_t position = 0; position < kItems; ++position) EXPECT_EQ(order[position], position);
}

// Working files left by an item that is gone (removed, or from an earlier
// run of the program) are never resumed by a new item of the same name.
TEST_F(EngineProcess, LeftoverWorkingFilesKeepTheirName) {
  testkit::VirtualClockScope clockScope;
  const std::string stamp = platform::DateFormatter::local("HH_mm_ss").format(platform::Clock::current()->now());
  writeScenario("@/a sibling .f137.mp4.part 100\n@/a touch " + flag("a-started") + "\n@/a wait " + flag("never") +
                "\n@/b output 3\n@/c output 3\n");
  auto a = add("http://h/a");
  ASSERT_TRUE(runUntil([&] { return platform::fs::exists(flag("a-started")); }));
  EXPECT_EQ(a->filePath.get(), "~/Downloads/Downloaded_Video_720.mp4");
  a->cancel();
  manager->removeDownload(a->id);
  ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 0; }));
  auto b = add("http://h/b");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
  EXPECT_EQ(b->filePath.get(), "~/Downloads/Downloaded_Video_720_" + stamp + ".mp4");
  // A new manager (the next start of the program) sees the same files.
  manager = DownloadManager::create();
  auto c = add("http://h/c");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
  EXPECT_EQ(c->filePath.get(), "~/Downloads/Downloaded_Video_720_" + stamp + "_2.mp4");
  EXPECT_TRUE(platform::fs::exists(downloads + "/Downloaded_Video_720.f137.mp4.part"));
}

// A retry never takes the final file of a run that did not succeed as done
// (a conversion cut short leaves one), but resumes the partial download.
TEST_F(EngineProcess, RetryRemovesTheUnfinishedFinalFileOnly) {
  writeScenario("touch " + flag("started") + "\nwait " + flag("go") + "\nsibling .m4a.part 10\noutput 5\nexit 1\n");
  auto item = add("http://h/x", Quality::mp3);
  ASSERT_TRUE(runUntil([&] { return platform::fs::exists(flag("started")); }));
  release("go");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
  ASSERT_TRUE(item->status.get() == DownloadStatus::failed);
  const std::string final = downloads + "/Downloaded_Video_MP3.mp3";
  ASSERT_TRUE(platform::fs::exists(final));
  ASSERT_FALSE(platform::fs::removeItem(flag("go")));
  ASSERT_FALSE(platform::fs::removeItem(flag("started")));
  item->retry();
  ASSERT_TRUE(runUntil([&] { return platform::fs::exists(flag("started")); }));
  EXPECT_EQ(item->filePath.get(), "~/Downloads/Downloaded_Video_MP3.mp3");
  EXPECT_FALSE(platform::fs::exists(final));
  EXPECT_TRUE(platform::fs::exists(downloads + "/Downloaded_Video_MP3.m4a.part"));
  EXPECT_TRUE(printed("🧹 Removing unfinished file: " + final));
  release("go");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
}

// The title query names the row and, after success, the file; a file that
// already holds the chosen name is never replaced.
TEST_F(EngineProcess, RealTitleRenamesWithoutReplacing) {
  testkit::VirtualClockScope clockScope;
  const std::string stamp = platform::DateFormatter::local("HH_mm_ss").format(platform::Clock::current()->now());
  testkit::LoopbackServer server;
  server.on("GET", "/t.png", testkit::Answer::text(200, std::string("\x89PNG\r\n\x1a\n", 8) + "data", "image/png"));
  writeScenario("title out Real: Title\\n" + server.url("/t.png") + "\\n\nwait " + flag("go") +
                "\noutput 2048\nexit 0\n");
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/Real_ Title_720.mp4", "older"));
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/Real_ Title_720_" + stamp + ".mp4", "oldest"));
  auto item = add("http://h/x");
  ASSERT_TRUE(runUntil([&] { return item->realVideoTitle.get().has_value(); }));
  release("go");
  ASSERT_TRUE(runUntil([&] { return settled() && item->thumbnail.get().has_value(); }));
  EXPECT_EQ(item->displayTitle.get(), "Real: Title");
  EXPECT_EQ(item->videoTitle.get(), "Real: Title");
  EXPECT_EQ(item->thumbnail.get()->format(), "png");
  EXPECT_EQ(item->filePath.get(), "~/Downloads/Real_ Title_720_" + stamp + "_2.mp4");
  EXPECT_EQ(platform::fs::readTextFile(downloads + "/Real_ Title_720.mp4").value(), "older");
  EXPECT_EQ(platform::fs::readTextFile(downloads + "/Real_ Title_720_" + stamp + ".mp4").value(), "oldest");
  EXPECT_EQ(platform::fs::fileSize(downloads + "/Real_ Title_720_" + stamp + "_2.mp4").value(), 2048u);
  EXPECT_FALSE(platform::fs::exists(downloads + "/Downloaded_Video_720.mp4"));
  EXPECT_TRUE(printed("✅ Successfully renamed file:"));
}

TEST_F(EngineProcess, TitleThatIsPartOfTheFallbackIsIgnored) {
  writeScenario("title out Video\\n\ntitle touch " + flag("titled") + "\nwait " + flag("titled") + "\nexit 0\n");
  auto item = add("https://youtu.be/x");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
  EXPECT_EQ(item->displayTitle.get(), "https://youtu.be/x");
  EXPECT_FALSE(item->realVideoTitle.get());
  EXPECT_TRUE(printed("📁 No need to rename file - no real title or same title"));
}

// ---------------------------------------------------------------- engine-probe

std::string runProbe(const std::string& arguments, const std::string& input = {}) {
  std::string command = enginetest::binaryDir() + "/bin/engine-probe " + arguments;
  if (!input.empty()) {
    std::string file = platform::fs::createTemporaryFile().value();
    EXPECT_FALSE(platform::fs::writeFile(file, input));
    command += " < " + file;
  }
  return testkit::runCommand(command).out;
}

TEST_F(EngineProcess, ProbeSubcommands) {
  environment.set("APP_RESOURCES", bundle);
  EXPECT_EQ(runProbe("formatbytes 1536"), "=> 1.5 KB\n");
  EXPECT_EQ(runProbe("classify --exit 137", "nothing useful\n"), "=> Download failed (exit code: 137)\n");
  // A chunk that begins inside "ж" is joined with the end of the one before.
  EXPECT_EQ(runProbe("parse", "x\xD0\f\xB6 [download] 45.3% of 10.00MiB at 1.00MiB/s\r"),
            "=> progress=0.00 size=[] speed=[] stage=[]\n"
            "=> progress=45.30 size=[10.00MiB] speed=[1.00MiB/s] stage=[]\n");
  std::string args = runProbe("args --quality p360 'https://youtu.be/x'");
  EXPECT_NE(args.find("=> [\"" + bundle + "/yt-dlp\",\"-f\",\"18/b[height<=360]\""), std::string::npos) << args;
  EXPECT_NE(args.find("\"--continue\",\"--\",\"https://youtu.be/x\"]\n"), std::string::npos) << args;
  EXPECT_NE(runProbe("clean 'https://youtube.com/watch?v=1&t=2'").find("=> https://youtube.com/watch?v=1\n"),
            std::string::npos);
  writeScenario("output 10\nexit 0\n");
  std::string download = runProbe("download --quality best http://h/a");
  // The engine's own lines pass through, from the manager's construction on.
  EXPECT_EQ(download.rfind("🔄 Processing queue:\n   Queued items: 0\n   Available slots: 2\n"
                           "   Current downloads: 0\n🔄 Processing queue:\n",
                           0),
            0u)
      << download;
  EXPECT_NE(download.find("=> item 1 status=completed error=[] file=[~/Downloads/Downloaded_Video_Best.mp4] "
                          "title=[http://h/a]"),
            std::string::npos)
      << download;
}

// download waits for the title queries too; a session drives one manager
// step by step.
TEST_F(EngineProcess, ProbeSession) {
  ::setenv("APP_RESOURCES", bundle.c_str(), 1);
  writeScenario("@/a title exit 1\n@/b title exit 1\n@/c title sleep 0.5\n@/c title out Clip title\\n\n"
                "@/a sibling .f1.m4a.part 7\n@/a touch " + flag("a") + "\n@/a wait " + flag("never") +
                "\n@/b output 12\n@/c output 12\n");
  // The title comes after the download has ended; the line still carries it.
  std::string download = runProbe("download --quality best http://h/c");
  EXPECT_TRUE(std::regex_search(download, std::regex("\n=> item 1 status=completed error=\\[\\] file=\\[~/Downloads/"
                                                     "[^\n]*_Best.mp4\\] title=\\[Clip title\\]\n$")))
      << download;
  ASSERT_FALSE(platform::fs::removeItem(downloads));
  ASSERT_FALSE(platform::fs::createDirectory(downloads));
  // Two seconds for the first downloader to start and write its working
  // file, also on a loaded machine or in a sanitizer build.
  std::string out = runProbe("session", "add p720 http://h/a\nwait 2\nsettle 0.1\ndump\npause 1\nremove 1\n"
                                        "add p720 http://h/b\nsettle 60\ndump\nfiles\n");
  EXPECT_NE(out.find("=> item 1 status=downloading progress=0.00 stage=[] error=[] "
                     "file=[~/Downloads/Downloaded_Video_720.mp4] title=[http://h/a]\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("=> item 1 status=paused "), std::string::npos) << out;
  // The second item does not take the first one's name: its working file is there.
  EXPECT_TRUE(std::regex_search(out, std::regex("\n=> item 2 status=completed progress=100.00 stage=\\[\\] error=\\[\\] "
                                                "file=\\[~/Downloads/Downloaded_Video_720_(\\d\\d_){2}\\d\\d.mp4\\] "
                                                "title=\\[http://h/b\\]\n=> file Downloaded_Video_720.f1.m4a.part 7\n"
                                                "=> file Downloaded_Video_720_(\\d\\d_){2}\\d\\d.mp4 12\n$")))
      << out;
  // The engine's own lines pass through unchanged.
  EXPECT_NE(out.find("\n🎬 Starting download with title: 'Downloaded_Video'\n"), std::string::npos) << out;
  testkit::ProgramRun bad =
      testkit::runCommand("echo 'jump 3' | '" + enginetest::binaryDir() + "/bin/engine-probe' session");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.out.find("=> error unknown step: jump 3\n"), std::string::npos) << bad.out;
  ::unsetenv("APP_RESOURCES");
}

}  // namespace

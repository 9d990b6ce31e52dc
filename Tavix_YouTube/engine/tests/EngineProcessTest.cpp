// The engine against the fake downloader: command lines, the queue and its
// slots, ends of runs and their statuses, titles, renames, and the engine-probe
// driver.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
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
                      "\"mp3\",\"--audio-quality\",\"0\",\"--ffmpeg-location\",\"" + bundle + "\",\"--print-to-file\","
                      "\"video:[duration] %(duration)s\",\"/dev/stdout\",\"--continue\",\"--\",\"-oops.instagram.com\"]");
  EXPECT_EQ(title, "[\"" + bundle + "/yt-dlp\",\"--get-title\",\"--get-thumbnail\",\"--\",\"-oops.instagram.com\"]");
  // The logged argument line is the one without the address.
  EXPECT_TRUE(printed("   yt-dlp arguments: [\"-f\", \"best[ext=mp4]/best\", \"--output\", "
                      "\"~/Downloads/Instagram_Video_MP3.mp3\", \"--progress\", \"--extract-audio\", \"--audio-format\", "
                      "\"mp3\", \"--audio-quality\", \"0\", \"--ffmpeg-location\", \"" + bundle + "\", \"--print-to-file\", "
                      "\"video:[duration] %(duration)s\", \"/dev/stdout\", \"--continue\"]"));
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
  EXPECT_TRUE(printed("🔴 yt-dlp error: WARNING: x\\nERROR: Private video"));
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
  EXPECT_TRUE(printed("🔴 yt-dlp error: WARNING: caf\xEF\xBF\xBD page\\nERROR: Video unavailable"));
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

// An unfinished item that is cancelled, removed or cleared deletes its own
// working files (the partial download and a cut final file) once its
// downloader has ended; a pause keeps them for the retry, and the files of
// another item of the same title stay.
TEST_F(EngineProcess, CancelledOrRemovedItemsDeleteTheirWorkingFiles) {
  testkit::VirtualClockScope clockScope;
  const std::string stamp = platform::DateFormatter::local("HH_mm_ss").format(platform::Clock::current()->now());
  struct Case {
    const char* name;
    std::function<void(DownloadItem&)> act;  // what the user does while a runs
    bool deleted;
  } cases[] = {
      {"cancel", [this](DownloadItem& a) {
         a.cancel();
         manager->removeDownload(a.id);
       }, true},
      {"pause, then remove", [this](DownloadItem& a) {
         a.pause();
         ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 1; }));
         manager->removeDownload(a.id);
       }, true},
      {"fail, then clear", [this](DownloadItem& a) {
         release("go-a");
         ASSERT_TRUE(runUntil([&] { return a.status.get() == DownloadStatus::failed; }));
         manager->clearCompleted();
       }, true},
      {"pause", [](DownloadItem& a) { a.pause(); }, false},
  };
  writeScenario("@/a sibling .f137.mp4.part 100\n@/a output 5\n@/a touch " + flag("a-started") + "\n@/a wait " +
                flag("go-a") + "\n@/a exit 1\n@/b sibling .f140.m4a.part 100\n@/b touch " + flag("b-started") +
                "\n@/b wait " + flag("never") + "\n");
  const std::string aPart = downloads + "/Downloaded_Video_720.f137.mp4.part";
  const std::string aFinal = downloads + "/Downloaded_Video_720.mp4";
  const std::string bPart = downloads + "/Downloaded_Video_720_" + stamp + ".f140.m4a.part";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"a-started", "b-started", "go-a"}) ::unlink(flag(name).c_str());
    manager = DownloadManager::create();
    auto a = add("http://h/a");
    auto b = add("http://h/b");
    ASSERT_TRUE(runUntil([&] { return platform::fs::exists(flag("a-started")) && platform::fs::exists(flag("b-started")); }));
    ASSERT_EQ(b->filePath.get(), "~/Downloads/Downloaded_Video_720_" + stamp + ".mp4");
    c.act(*a);
    ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 1; }));
    EXPECT_EQ(platform::fs::exists(aPart), !c.deleted);
    EXPECT_EQ(platform::fs::exists(aFinal), !c.deleted);
    EXPECT_TRUE(platform::fs::exists(bPart)) << "another item's file went too";
    for (const auto& item : manager->downloads.get()) item->cancel();
    manager->clearCompleted();
    ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 0; }));
    for (const std::string& path : {aPart, aFinal, bPart}) (void)platform::fs::removeItem(path);
  }
}

// A quit (or a kill) leaves the working files of unfinished items behind: the
// next start deletes them, not those of a finished download, not a file no
// download of ours made, and not those of another manager still running.
TEST_F(EngineProcess, WorkingFilesOfAQuitAreDeletedAtTheNextStart) {
  testkit::VirtualClockScope clockScope;
  const std::string stamp = platform::DateFormatter::local("HH_mm_ss").format(platform::Clock::current()->now());
  writeScenario("@/a sibling .f137.mp4.part 100\n@/a touch " + flag("a-started") + "\n@/a wait " + flag("never") +
                "\n@/c output 3\n");
  const std::string foreign = downloads + "/Clip_720.mp4.part";
  ASSERT_FALSE(platform::fs::writeFile(foreign, "not ours"));
  auto c = add("http://h/c");
  ASSERT_TRUE(runUntil([&] { return c->status.get() == DownloadStatus::completed; }));
  auto a = add("http://h/a");
  ASSERT_TRUE(runUntil([&] { return platform::fs::exists(flag("a-started")); }));
  const std::string aPart = downloads + "/Downloaded_Video_720_" + stamp + ".f137.mp4.part";
  ASSERT_TRUE(platform::fs::exists(aPart));
  // Another instance starting meanwhile leaves the running one's files alone.
  auto other = DownloadManager::create();
  EXPECT_TRUE(platform::fs::exists(aPart));
  // Quit: the children are stopped, their ends never handled.
  manager->stopProcesses();
  EXPECT_FALSE(a->downloadProcess()->isRunning());
  manager.reset();
  EXPECT_TRUE(platform::fs::exists(aPart)) << "deleted before the next start";
  manager = DownloadManager::create();
  EXPECT_FALSE(platform::fs::exists(aPart));
  EXPECT_TRUE(platform::fs::exists(downloads + "/Downloaded_Video_720.mp4")) << "the finished download went";
  EXPECT_EQ(platform::fs::readTextFile(foreign).value(), "not ours");
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

// A title that arrives after the download has completed renames the
// finished file then, by the same rules: a unique name that replaces no
// file, and the row's path follows.
TEST_F(EngineProcess, TitleAfterCompletionRenamesTheFinishedFile) {
  testkit::VirtualClockScope clockScope;
  const std::string stamp = platform::DateFormatter::local("HH_mm_ss").format(platform::Clock::current()->now());
  writeScenario("title wait " + flag("title") + "\ntitle out Late: title\\n\noutput 2048\nexit 0\n");
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/Late_ title_720.mp4", "older"));
  auto item = add("http://h/x");
  ASSERT_TRUE(runUntil([&] { return item->status.get() == DownloadStatus::completed; }));
  EXPECT_EQ(item->filePath.get(), "~/Downloads/Downloaded_Video_720.mp4");
  release("title");
  ASSERT_TRUE(runUntil([&] { return manager->titleQueryCount() == 0; }));
  EXPECT_EQ(item->displayTitle.get(), "Late: title");
  EXPECT_EQ(item->videoTitle.get(), "Late: title");
  EXPECT_EQ(item->filePath.get(), "~/Downloads/Late_ title_720_" + stamp + ".mp4");
  EXPECT_EQ(platform::fs::fileSize(downloads + "/Late_ title_720_" + stamp + ".mp4").value(), 2048u);
  EXPECT_FALSE(platform::fs::exists(downloads + "/Downloaded_Video_720.mp4"));
  EXPECT_EQ(platform::fs::readTextFile(downloads + "/Late_ title_720.mp4").value(), "older");
}

// With the media tool among the resources, a file the downloader called done
// is complete only when its packets cover the video: the duration the
// downloader reported, else the one in the file's header, within a second.
// A cut or damaged file fails its item and stays for a retry.
TEST_F(EngineProcess, FinishedFileIsCheckedBeforeItCounts) {
  link("/usr/bin/ffprobe", "ffprobe");
  // Four seconds with its index first: cut anywhere, the header still says 4 s.
  const std::string clip = home.file("clip.mp4");
  ASSERT_EQ(testkit::runCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=4:size=160x120:rate=10 -f lavfi "
                                "-i sine=duration=4 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest -movflags +faststart '" +
                                clip + "'").status, 0);
  const uint64_t size = platform::fs::fileSize(clip).value();
  struct Case {
    const char* name;
    std::string output;    // the scenario's lines that make the file and report the duration
    const char* expected;  // the failure message, "" for completed
  } cases[] = {
      {"whole, duration reported", "out [duration] 4.0\\n\ncopy " + clip, ""},
      {"whole, no duration reported", "out [duration] NA\\n\ncopy " + clip, ""},
      {"a little short of the reported duration", "out [duration] 4.6\\n\ncopy " + clip, ""},
      {"cut after its index", "out [duration] NA\\n\ncopy " + clip + " " + std::to_string(size / 2),
       "Download incomplete - 0:01 of 0:04 received"},
      {"shorter than the reported video", "out [duration] 10\\n\ncopy " + clip, "Download incomplete - 0:04 of 0:10 received"},
      {"not a media file", "output 5000", "Downloaded file is damaged or missing"},
      {"no file at all", "", "Downloaded file is damaged or missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeScenario(c.output + "\nexit 0\n");
    auto item = add("http://h/x");
    ASSERT_TRUE(runUntil([&] { return settled(); }, 30));
    if (std::string(c.expected).empty()) {
      EXPECT_TRUE(item->status.get() == DownloadStatus::completed) << item->errorMessage.get();
    } else {
      EXPECT_TRUE(item->status.get() == DownloadStatus::failed);
      EXPECT_EQ(item->errorMessage.get(), c.expected);
      if (!c.output.empty()) {
        EXPECT_TRUE(platform::fs::exists(downloads + "/Downloaded_Video_720.mp4")) << "not kept for a retry";
      }
    }
    manager->clearCompleted();
    ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 0 && manager->titleQueryCount() == 0; }));
    (void)platform::fs::removeItem(downloads + "/Downloaded_Video_720.mp4");
  }
}

// A title from the page reaches the console with its control characters
// escaped (a terminal escape would recolour the user's terminal); the row
// keeps it as it is and the file name has none of them.
TEST_F(EngineProcess, TitleControlCharactersReachTheConsoleEscaped) {
  writeScenario("title out \\x1b[31mRed\\x1b[0m\\x07 clip\\n\nwait " + flag("go") + "\noutput 10\nexit 0\n");
  auto item = add("http://h/x");
  ASSERT_TRUE(runUntil([&] { return item->realVideoTitle.get().has_value(); }));
  release("go");
  ASSERT_TRUE(runUntil([&] { return settled(); }));
  EXPECT_EQ(item->displayTitle.get(), "\x1b[31mRed\x1b[0m\x07 clip");
  EXPECT_TRUE(printed("📝 Got real title for http://h/x: '\\e[31mRed\\e[0m\\x07 clip'"));
  for (const std::string& line : console.lines()) EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  EXPECT_EQ(item->filePath.get(), "~/Downloads/_[31mRed_[0m_ clip_720.mp4");
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

// A session whose input ends while a download runs stops what it started:
// the downloader, the media tool it runs and the title query.
TEST_F(EngineProcess, ProbeStopsItsProcessesAtTheEndOfItsInput) {
  environment.set("APP_RESOURCES", bundle);
  writeScenario("title pid " + flag("title.pid") + "\ntitle sleep 600\nchild " + flag("tool.pid") + "\npid " +
                flag("downloader.pid") + "\nsleep 600\n");
  // The session reads a pipe the test keeps open until the children run.
  const std::string input = flag("input");
  ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
  platform::Task probe;
  probe.setExecutablePath("/bin/sh");
  probe.setArguments({"-c", "exec '" + enginetest::binaryDir() + "/bin/engine-probe' session < '" + input + "'"});
  probe.setStandardOutput(platform::Task::Output::discard);
  ASSERT_FALSE(probe.launch());
  std::vector<pid_t> children;
  {
    std::ofstream steps(input);
    steps << "add p720 http://h/a" << std::endl;
    ASSERT_TRUE(runUntil([&] {
      return platform::fs::exists(flag("title.pid")) && platform::fs::exists(flag("tool.pid")) &&
             platform::fs::exists(flag("downloader.pid"));
    }));
    for (const char* name : {"title.pid", "tool.pid", "downloader.pid"}) {
      std::ifstream in(flag(name));
      pid_t pid = 0;
      in >> pid;
      children.push_back(pid);
    }
  }  // the end of the input
  probe.waitUntilExit();
  EXPECT_EQ(probe.terminationStatus(), 0);
  for (pid_t pid : children) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string number, command, state;
    const bool running = static_cast<bool>(stat >> number >> command >> state) && state != "Z";
    if (running) ::kill(pid, SIGKILL);
    EXPECT_FALSE(running) << pid << " outlived the session";
  }
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
  // The second item does not take the first one's name, which was still held
  // (its downloader ending); once it had ended, the removed item's working
  // file went.
  EXPECT_TRUE(std::regex_search(out, std::regex("\n=> item 2 status=completed progress=100.00 stage=\\[\\] error=\\[\\] "
                                                "file=\\[~/Downloads/Downloaded_Video_720_(\\d\\d_){2}\\d\\d.mp4\\] "
                                                "title=\\[http://h/b\\]\n"
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

// End to end with the real downloader and media tool of the system: a short
// clip made with ffmpeg is served from a loopback server (as a plain file and
// as a two-stream DASH manifest) and downloaded through DownloadManager.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "Tavix_YouTube/engine/tests/EngineFixture.h"
#include "platform/storage/StandardFolders.h"
#include "testing/LoopbackServer.h"
#include "testing/MediaServer.h"
#include "testing/ProgramRun.h"

using tavix::DownloadStatus;
using tavix::Quality;

namespace {

class EngineEndToEnd : public enginetest::EngineTest {
 protected:
  static void SetUpTestSuite() {
    media = platform::fs::temporaryDirectory() + "/engine-e2e-" + std::to_string(::getpid());
    ASSERT_FALSE(platform::fs::createDirectory(media + "/dash"));
    ASSERT_FALSE(platform::fs::createDirectory(media + "/www.instagram.com"));
    std::string clip = media + "/www.instagram.com/clip.mp4";
    std::string make = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=duration=2:size=320x240:rate=15 "
                       "-f lavfi -i sine=frequency=440:duration=2 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest '" +
                       clip + "' && cp '" + clip + "' '" + media + "/clip.mp4' && ffmpeg -nostdin -hide_banner "
                       "-loglevel error -y -i '" + clip + "' -map 0:v -map 0:a -c copy -f dash '" + media +
                       "/dash/manifest.mpd'";
    ASSERT_EQ(std::system(make.c_str()), 0);
  }
  static void TearDownTestSuite() { (void)platform::fs::removeItem(media); }

  void SetUp() override {
    EngineTest::SetUp();
    for (const char* tool : {"yt-dlp", "ffmpeg", "ffprobe"}) link(std::string("/usr/bin/") + tool, tool);
    server.onPrefix("GET", "/", [](const testkit::RecordedRequest& request) {
      auto body = platform::fs::readFile(media + request.path);
      if (!body.ok() || request.path.find("..") != std::string::npos) return testkit::Answer::text(404, "");
      return testkit::Answer::text(200, std::string(body.value().begin(), body.value().end()),
                                   "application/octet-stream");
    });
  }

  static inline std::string media;
  testkit::LoopbackServer server;
};

TEST_F(EngineEndToEnd, MergedDownloadCompletesAndTakesTheRealTitle) {
  auto item = add(server.url("/dash/manifest.mpd"), Quality::p720);
  ASSERT_TRUE(runUntil([&] { return settled(); }, 60));
  ASSERT_TRUE(item->status.get() == DownloadStatus::completed) << item->errorMessage.get();
  EXPECT_EQ(item->progress.get(), 100);
  std::string path = platform::StandardFolders::expandTilde(item->filePath.get());
  EXPECT_TRUE(platform::fs::exists(path)) << path;
  EXPECT_GT(platform::fs::fileSize(path).value(), 1000u);
  // The title query usually ends first; then the file carries the real title.
  if (item->realVideoTitle.get()) {
    EXPECT_EQ(item->filePath.get(), "~/Downloads/manifest_720.mp4");
  }
}

TEST_F(EngineEndToEnd, AudioIsExtractedToMp3) {
  auto item = add(server.url("/www.instagram.com/clip.mp4"), Quality::mp3);
  ASSERT_TRUE(runUntil([&] { return settled(); }, 60));
  ASSERT_TRUE(item->status.get() == DownloadStatus::completed) << item->errorMessage.get();
  std::string path = platform::StandardFolders::expandTilde(item->filePath.get());
  ASSERT_EQ(path.substr(path.size() - 4), ".mp3");
  auto bytes = platform::fs::readFile(path);
  ASSERT_TRUE(bytes.ok()) << path;
  ASSERT_GT(bytes.value().size(), 3u);
  bool id3 = bytes.value()[0] == 'I' && bytes.value()[1] == 'D' && bytes.value()[2] == '3';
  bool frame = bytes.value()[0] == 0xFF && (bytes.value()[1] & 0xE0) == 0xE0;
  EXPECT_TRUE(id3 || frame) << "not an MP3 file";
}

TEST_F(EngineEndToEnd, UnavailableFormatFailsWithItsMessage) {
  // A plain file has no height, so the 720p selection finds no format.
  auto item = add(server.url("/clip.mp4"), Quality::p720);
  ASSERT_TRUE(runUntil([&] { return settled(); }, 60));
  EXPECT_TRUE(item->status.get() == DownloadStatus::failed);
  EXPECT_EQ(item->errorMessage.get(), "Requested quality not available for this video");
  EXPECT_TRUE(printed("   Exit code: 1"));
}

// The real downloader against a throttled media server (byte ranges, so the
// downloader resumes): a video that takes a name another video's working
// files still hold, a conversion cut short and retried, and the merge stage.
class EngineRealDownloads : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    for (const char* tool : {"yt-dlp", "ffmpeg", "ffprobe"}) link(std::string("/usr/bin/") + tool, tool);
    media = home.file("media");
    ASSERT_FALSE(platform::fs::createDirectory(media + "/www.instagram.com"));
    server = std::make_unique<testkit::MediaServer>(media);
  }
  void TearDown() override {
    EngineTest::TearDown();
    server.reset();
  }

  static void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }
  // A video of one colour (and a tone), served as a DASH manifest of
  // one-second segments at /NAME/manifest.mpd.
  void makeDashVideo(const std::string& name, const std::string& colour) {
    const std::string folder = media + "/" + name;
    ASSERT_FALSE(platform::fs::createDirectory(folder));
    run("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i color=c=" + colour +
        ":size=160x120:rate=10:duration=6 -f lavfi -i sine=frequency=440:duration=6 -c:v libx264 -g 10 "
        "-pix_fmt yuv420p -c:a aac -shortest '" + folder + "/source.mp4' && ffmpeg -nostdin -hide_banner "
        "-loglevel error -y -i '" + folder + "/source.mp4' -map 0:v -map 0:a -c copy -f dash -seg_duration 1 '" +
        folder + "/manifest.mpd'");
  }
  // An audio track of `seconds` at /www.instagram.com/NAME.mp4 (about 32 KB a second).
  void makeAudio(const std::string& name, int seconds, int frequency) {
    run("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i sine=frequency=" + std::to_string(frequency) +
        ":duration=" + std::to_string(seconds) + " -c:a aac -b:a 256k -movflags +faststart '" + media +
        "/www.instagram.com/" + name + ".mp4'");
  }
  static double duration(const std::string& path) {
    auto out = testkit::runCommand("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "'");
    return std::atof(out.out.c_str());
  }
  // The colour of the first frame, averaged to one pixel.
  static std::array<int, 3> firstFrameColour(const std::string& path) {
    auto out = testkit::runCommand("ffmpeg -nostdin -v error -i '" + path +
                                   "' -frames:v 1 -vf scale=1:1 -f rawvideo -pix_fmt rgb24 - | od -An -tu1");
    std::array<int, 3> rgb{-1, -1, -1};
    std::istringstream in(out.out);
    in >> rgb[0] >> rgb[1] >> rgb[2];
    return rgb;
  }
  static bool isBlue(const std::array<int, 3>& rgb) { return rgb[2] > 150 && rgb[0] < 100; }
  uint64_t sizeOf(const std::string& name) const {
    auto size = platform::fs::fileSize(downloads + "/" + name);
    return size.ok() ? size.value() : 0;
  }
  std::string pathOf(const tavix::DownloadItem& item) const {
    return platform::StandardFolders::expandTilde(item.filePath.get());
  }

  std::string media;
  std::unique_ptr<testkit::MediaServer> server;
};

// A merged download cancelled after a few segments leaves its working files;
// the next video of the same site class (same fallback name) comes out as
// its own content, and shows the merge stage at 95 %.
TEST_F(EngineRealDownloads, CancelledMergedDownloadIsNotResumedByTheNextVideo) {
  makeDashVideo("red", "red");
  makeDashVideo("blue", "blue");
  server->setRequestDelay(0.3);
  auto red = add(server->url("/red/manifest.mpd"), Quality::p720);
  ASSERT_TRUE(server->waitForRequest("/red/chunk-stream0-00003.m4s"));
  red->cancel();
  manager->removeDownload(red->id);
  ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 0; }, 60));
  server->setRequestDelay(0);
  auto blue = add(server->url("/blue/manifest.mpd"), Quality::p720);
  bool merging = false;
  auto watch = blue->progress.subscribe([&](double progress) {
    if (progress == 95 && blue->downloadStage.get() == "Processing...") merging = true;
  });
  ASSERT_TRUE(runUntil([&] { return settled() && manager->titleQueryCount() == 0; }, 90));
  ASSERT_TRUE(blue->status.get() == DownloadStatus::completed) << blue->errorMessage.get();
  EXPECT_TRUE(isBlue(firstFrameColour(pathOf(*blue)))) << blue->filePath.get();
  EXPECT_NEAR(duration(pathOf(*blue)), 6, 0.5);
  EXPECT_TRUE(merging) << "the merge stage was never shown";
}

// The same across a restart of the program: the working files of a download
// that was running when the program ended belong to no one.
TEST_F(EngineRealDownloads, WorkingFilesFromAnEarlierRunAreNotResumed) {
  makeDashVideo("red", "red");
  makeDashVideo("blue", "blue");
  server->setRequestDelay(0.3);
  auto red = add(server->url("/red/manifest.mpd"), Quality::p720);
  ASSERT_TRUE(server->waitForRequest("/red/chunk-stream0-00003.m4s"));
  red->downloadProcess()->kill();
  ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 0; }, 60));
  server->setRequestDelay(0);
  manager = tavix::DownloadManager::create();
  auto blue = add(server->url("/blue/manifest.mpd"), Quality::p720);
  ASSERT_TRUE(runUntil([&] { return settled() && manager->titleQueryCount() == 0; }, 90));
  ASSERT_TRUE(blue->status.get() == DownloadStatus::completed) << blue->errorMessage.get();
  EXPECT_TRUE(isBlue(firstFrameColour(pathOf(*blue)))) << blue->filePath.get();
}

// An audio download paused and removed deletes its pre-conversion file
// "X_MP3.mp4.part"; the next audio download of the site class gets its own.
TEST_F(EngineRealDownloads, RemovedAudioDownloadIsNotResumedByTheNextOne) {
  makeAudio("long", 30, 300);
  makeAudio("short", 12, 600);
  server->setRate(150 * 1024);
  auto first = add(server->url("/www.instagram.com/long.mp4"), Quality::mp3);
  ASSERT_TRUE(runUntil([&] { return sizeOf("Instagram_Video_MP3.mp4.part") >= 200 * 1024; }, 60));
  first->pause();
  ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 0; }, 60));
  manager->removeDownload(first->id);
  server->setRate(0);
  auto second = add(server->url("/www.instagram.com/short.mp4"), Quality::mp3);
  ASSERT_TRUE(runUntil([&] { return settled() && manager->titleQueryCount() == 0; }, 90));
  ASSERT_TRUE(second->status.get() == DownloadStatus::completed) << second->errorMessage.get();
  EXPECT_NEAR(duration(pathOf(*second)), 12, 0.5) << second->filePath.get();
  EXPECT_FALSE(platform::fs::exists(downloads + "/Instagram_Video_MP3.mp4.part")) << "the removed one's partial file stays";
}

// A server that ends the answer early without having given a length: the
// downloader exits 0 with half the video, which its packets show (its
// header, written first, still says the whole length). The item fails and
// keeps the file; a retry against a server that sends it all completes.
TEST_F(EngineRealDownloads, DownloadCutShortByTheServerFails) {
  run("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=duration=6:size=160x120:rate=10 -f lavfi "
      "-i sine=duration=6 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest -movflags +faststart '" + media +
      "/www.instagram.com/clip.mp4'");
  server->setCutAfter(platform::fs::fileSize(media + "/www.instagram.com/clip.mp4").value() / 2);
  auto item = add(server->url("/www.instagram.com/clip.mp4"), Quality::p720);
  ASSERT_TRUE(runUntil([&] { return settled() && manager->titleQueryCount() == 0; }, 90));
  ASSERT_TRUE(item->status.get() == DownloadStatus::failed);
  EXPECT_EQ(item->errorMessage.get().rfind("Download incomplete - ", 0), 0u) << item->errorMessage.get();
  EXPECT_TRUE(printed("   Exit code: 0"));
  EXPECT_TRUE(platform::fs::exists(pathOf(*item))) << "the file is not kept for a retry";
  server->setCutAfter(0);
  item->retry();
  ASSERT_TRUE(runUntil([&] { return settled(); }, 90));
  ASSERT_TRUE(item->status.get() == DownloadStatus::completed) << item->errorMessage.get();
  EXPECT_NEAR(duration(pathOf(*item)), 6, 0.5);
}

// Pausing during the conversion leaves a truncated MP3; the retry converts
// again instead of taking it as done.
TEST_F(EngineRealDownloads, AudioPausedDuringConversionIsWholeAfterRetry) {
  // A media tool that converts to MP3 no faster than the audio plays.
  ASSERT_EQ(::unlink((bundle + "/ffmpeg").c_str()), 0);
  ASSERT_FALSE(platform::fs::writeFile(bundle + "/ffmpeg",
                                       "#!/bin/sh\nfor a in \"$@\"; do\n  if [ \"$a\" = libmp3lame ]; then exec "
                                       "/usr/bin/ffmpeg -re \"$@\"; fi\ndone\nexec /usr/bin/ffmpeg \"$@\"\n",
                                       0755));
  makeAudio("clip", 8, 440);
  auto item = add(server->url("/www.instagram.com/clip.mp4"), Quality::mp3);
  const std::string converted = downloads + "/Instagram_Video_MP3.mp3";
  ASSERT_TRUE(runUntil([&] { return platform::fs::exists(converted); }, 60));
  runFor(1.5);
  item->pause();
  ASSERT_TRUE(runUntil([&] { return manager->currentDownloadCount() == 0; }, 60));
  ASSERT_TRUE(item->status.get() == DownloadStatus::paused);
  ASSERT_TRUE(platform::fs::exists(converted)) << "the pause did not land during the conversion";
  ASSERT_LT(duration(converted), 6) << "the pause did not land during the conversion";
  item->retry();
  ASSERT_TRUE(runUntil([&] { return settled() && manager->titleQueryCount() == 0; }, 90));
  ASSERT_TRUE(item->status.get() == DownloadStatus::completed) << item->errorMessage.get();
  EXPECT_NEAR(duration(pathOf(*item)), 8, 0.5) << item->filePath.get();
}

}  // namespace

// End to end with the real downloader and media tool of the system: a short
// clip made with ffmpeg is served from a loopback server (as a plain file and
// as a two-stream DASH manifest) and downloaded through DownloadManager.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Tavix_YouTube/engine/tests/EngineFixture.h"
#include "platform/storage/StandardFolders.h"
#include "testing/LoopbackServer.h"

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

}  // namespace

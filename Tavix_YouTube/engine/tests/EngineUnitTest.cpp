// Engine behaviour that needs no child process: names of statuses and
// qualities, output parsing, failure classification, sizes, address
// cleaning, site rules, file naming and the UTF-8 chunk carry-over.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>

#include "Tavix_YouTube/engine/Utf8ChunkDecoder.h"
#include "Tavix_YouTube/engine/internal/MediaCheck.h"
#include "Tavix_YouTube/engine/internal/ThumbnailLoader.h"
#include "Tavix_YouTube/engine/internal/WorkingFileJournal.h"
#include "Tavix_YouTube/engine/tests/EngineFixture.h"
#include "platform/text/Unicode.h"
#include "platform/time/DateFormatter.h"
#include "testing/LoopbackServer.h"
#include "testing/VirtualClockFixture.h"

using tavix::DownloadItem;
using tavix::DownloadManager;
using tavix::DownloadStatus;
using tavix::Quality;

namespace {

class EngineUnit : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    manager = DownloadManager::create();
  }
};

TEST_F(EngineUnit, NamesComeFromTheStringsTableAndCompareByText) {
  EXPECT_EQ(DownloadStatus::queued.localizedName(), "Queued");
  EXPECT_EQ(Quality::p360.localizedName(), "360p");
  EXPECT_TRUE(DownloadStatus::fromRawValue("queued") == DownloadStatus::queued);
  EXPECT_FALSE(DownloadStatus::fromRawValue("Queued"));
  EXPECT_TRUE(Quality::fromRawValue("p720") == Quality::p720);
  EXPECT_FALSE(Quality::fromRawValue("720p"));
  // Every text of one enumeration is distinct in every language we ship.
  for (const char* language : {"en", "ru"}) {
    platform::Bundle::setMain(std::make_shared<platform::Bundle>(
        enginetest::sourceDir() + "/resources", std::vector<std::string>{language}));
    for (size_t i = 0; i < 6; ++i) {
      for (size_t j = i + 1; j < 6; ++j) {
        EXPECT_FALSE(DownloadStatus::allCases()[i] == DownloadStatus::allCases()[j]) << language;
        EXPECT_FALSE(Quality::allCases()[i] == Quality::allCases()[j]) << language;
      }
    }
    EXPECT_EQ(Quality::p1080.localizedName(), "1080p") << "quality names are the same in every language";
  }
  // Without a table the key is the text.
  platform::Bundle::setMain(std::make_shared<platform::Bundle>(home.file("empty")));
  EXPECT_EQ(Quality::p360.localizedName(), "quality.360p");
}

TEST_F(EngineUnit, NewItemAndItemOperations) {
  auto item = std::make_shared<DownloadItem>("https://x", Quality::mp3);
  EXPECT_TRUE(item->status.get() == DownloadStatus::queued);
  EXPECT_EQ(item->progress.get(), 0);
  EXPECT_FALSE(item->realVideoTitle.get());
  EXPECT_FALSE(item->thumbnail.get());
  item->cancel();  // never started
  EXPECT_TRUE(item->status.get() == DownloadStatus::cancelled);
  item->downloadStage.set("Processing...");
  item->speed.set("1MiB/s");
  item->errorMessage.set("bad");
  int retries = 0;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      "retryDownload", platform::NotificationObject(item.get()), [&](const platform::Notification&) { ++retries; });
  item->retry();
  platform::NotificationCenter::defaultCenter().removeObserver(token);
  EXPECT_EQ(retries, 1);
  EXPECT_TRUE(item->status.get() == DownloadStatus::queued);
  EXPECT_EQ(item->speed.get(), "");
  EXPECT_EQ(item->errorMessage.get(), "");
  EXPECT_EQ(item->downloadStage.get(), "Processing...");
}

struct ParseCase {
  const char* stage;
  const char* line;
  double progress;
  const char* size;
  const char* speed;
};

TEST_F(EngineUnit, ParseOutputLines) {
  const ParseCase cases[] = {
      {"", "[download]  45.3% of   10.00MiB at    1.23MiB/s ETA 00:05", 45.3, "  10.00MiB", "   1.23MiB/s"},
      {"Downloading video...", "[download]  45.3% of   10.00MiB at    1.23MiB/s", 45.3 * 0.7, "~  10.00MiB (video)",
       "   1.23MiB/s"},
      {"Downloading audio...", "[download]  50% of 2.00MiB at 1.00KiB/s", 50 * 0.2 + 70, "~2.00MiB (audio)",
       "1.00KiB/s"},
      // An estimated size does not match: neither progress nor size, but the speed.
      {"", "[download]  50.0% of ~   1.63KiB at  247.78KiB/s ETA 00:00 (frag 0/2)", 0, "", " 247.78KiB/s"},
      {"", "[download] Destination: /tmp/x.mp4", 0, "", ""},
      {"", "[download] 100% of   11.27KiB in 00:00:00 at 509.61KiB/s", 100, "  11.27KiB", "509.61KiB/s"},
      {"Processing...", "[download]  12.5% of 1.00MiB", 12.5, "1.00MiB", ""},
  };
  for (const ParseCase& c : cases) {
    DownloadItem item("u", Quality::best);
    item.downloadStage.set(c.stage);
    manager->parseOutput(c.line, item);
    EXPECT_DOUBLE_EQ(item.progress.get(), c.progress) << c.line;
    EXPECT_EQ(item.fileSize.get(), c.size) << c.line;
    EXPECT_EQ(item.speed.get(), c.speed) << c.line;
  }
  // Both announcements of the merge: the media tool's and the downloader's own.
  for (const char* merge : {"[ffmpeg] Merging formats into \"x.mp4\"", "[Merger] Merging formats into \"x.mp4\""}) {
    DownloadItem item("u", Quality::best);
    item.speed.set("1KiB/s");
    manager->parseOutput(merge, item);
    EXPECT_EQ(item.progress.get(), 95) << merge;
    EXPECT_EQ(item.speed.get(), "") << merge;
    EXPECT_EQ(item.downloadStage.get(), "Processing...") << merge;
    manager->parseOutput("[download] Downloading video 1 of 2", item);
    EXPECT_EQ(item.downloadStage.get(), "Downloading video...");
  }
  // Other lines of either source change nothing.
  DownloadItem item("u", Quality::best);
  manager->parseOutput("[Merger] Deleting 100% of nothing\n[ffmpeg] 100% Destination: x", item);
  EXPECT_EQ(item.downloadStage.get(), "");
  EXPECT_EQ(item.fileSize.get(), "");
}

TEST_F(EngineUnit, ParseOutputReadsTheSizeFromDiskOnlyOutsideDownloadLines) {
  ASSERT_FALSE(platform::fs::writeFile(home.file("Downloads/a.mp4"), std::string(1536, 'x')));
  DownloadItem item("u", Quality::best);
  item.filePath.set("~/Downloads/a.mp4");
  manager->parseOutput("[download] a.mp4 has already been downloaded", item);
  EXPECT_EQ(item.fileSize.get(), "");
  manager->parseOutput("[Extract] 100% done", item);
  EXPECT_EQ(item.fileSize.get(), "1.5 KB");
  item.filePath.set("~/Downloads/missing.mp4");
  item.fileSize.set("");
  manager->parseOutput("x has already been downloaded", item);
  EXPECT_EQ(item.fileSize.get(), "");
}

// Recorded output of the Debian downloader: a direct file with audio
// extraction, and a two-stream download that ends with a merge.
TEST_F(EngineUnit, RecordedDownloaderOutput) {
  auto read = [](const std::string& name) {
    std::ifstream in(enginetest::sourceDir() + "/testing/fake-downloader/samples/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  {
    std::string output = read("direct-mp3.stdout");
    ASSERT_NE(output.find("\r[download]"), std::string::npos) << "progress lines end with CR";
    DownloadItem item("u", Quality::mp3);
    manager->parseOutput(output, item);
    EXPECT_EQ(item.progress.get(), 100);
    EXPECT_EQ(item.fileSize.get(), "  29.67KiB");
    EXPECT_NE(item.speed.get().find("iB/s"), std::string::npos);
  }
  {
    std::string output = read("dash-merge.stdout");
    ASSERT_NE(output.find("[Merger] Merging formats into"), std::string::npos);
    DownloadItem item("u", Quality::p720);
    manager->parseOutput(output, item);
    // This downloader announces the merge as "[Merger] Merging formats".
    EXPECT_EQ(item.progress.get(), 95);
    EXPECT_EQ(item.fileSize.get(), "  18.82KiB");
    EXPECT_EQ(item.downloadStage.get(), "Processing...");
    EXPECT_EQ(item.speed.get(), "");
  }
}

TEST_F(EngineUnit, ClassifyError) {
  const std::string longLine = "ERROR: " + std::string(150, 'x');
  const struct {
    std::string text;
    int status;
    std::string message;
  } cases[] = {
      {"WARNING: HTTP Error 404\nERROR: Video unavailable", 1, "Network error - check your internet connection"},
      {longLine + "\nERROR: Video unavailable", 1, "Video is unavailable"},
      {"ERROR:", 1, "Download failed - video may not be available"},
      {"", 137, "Download failed (exit code: 137)"},
      {"", -3, "Download failed (exit code: -3)"},
      {"", 2, "Invalid arguments or URL format"},
      {"", 101, "Network error - please check your connection"},
      {"ffmpeg is broken\nERROR: Permission denied", 1, "Permission denied - check download folder permissions"},
      {"ERROR: ffmpeg not found", 1, "Video processing failed - ffmpeg not available"},
      {"ERROR: [generic] clip: Requested format is not available. Use --list-formats", 1,
       "Requested quality not available for this video"},
      {"ERROR:  ERROR: Что-то пошло не так \r\n", 1, "Что-то пошло не так"},
      {"Sign in to confirm your age", 1, "Age-restricted video"},
      {"x: No space left on device", 1, "Not enough storage space"},
  };
  for (const auto& c : cases) EXPECT_EQ(DownloadManager::classifyError(c.text, c.status), c.message) << c.text;
}

TEST_F(EngineUnit, FormatBytesIsTheSameInEveryLocale) {
  const struct {
    double count;
    const char* text;
  } cases[] = {{1023, "1023 B"}, {1024, "1.0 KB"}, {1536, "1.5 KB"}, {1048576, "1.0 MB"}, {1073741824, "1.0 GB"}};
  const char* previous = std::setlocale(LC_ALL, nullptr);
  std::string saved = previous ? previous : "C";
  // A count far beyond any file still gets all its digits.
  std::setlocale(LC_ALL, "C");
  char huge[400];
  std::snprintf(huge, sizeof huge, "%.1f GB", 1e300 / 1073741824.0);
  for (const char* locale : {"C", "de_DE.UTF-8", "ru_RU.UTF-8"}) {
    std::setlocale(LC_ALL, locale);  // may be unavailable: then C stays
    for (const auto& c : cases) EXPECT_EQ(DownloadManager::formatBytes(c.count), c.text) << locale;
    EXPECT_EQ(DownloadManager::formatBytes(1e300), huge) << locale;
  }
  std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(EngineUnit, CleanURL) {
  EXPECT_EQ(manager->cleanURL("https://www.youtube.com/watch?v=abc&list=PL1#t=3"), "https://www.youtube.com/watch?v=abc");
  EXPECT_TRUE(printed("   Cleaned:  https://www.youtube.com/watch?v=abc"));
  // The kept value is written as it was.
  EXPECT_EQ(manager->cleanURL("https://h/w?x=1&v=a+b%20c%2B&v=2"), "https://h/w?v=a+b%20c%2B");
  size_t before = console.lines().size();
  EXPECT_EQ(manager->cleanURL("https://youtu.be/abc"), "https://youtu.be/abc");
  EXPECT_EQ(manager->cleanURL("not an address"), "not an address");
  EXPECT_EQ(manager->cleanURL("https://x.com/watch?v"), "https://x.com/watch?v");
  EXPECT_EQ(console.lines().size(), before);
}

TEST_F(EngineUnit, SitesAndFormats) {
  EXPECT_EQ(DownloadManager::fallbackTitle("https://www.instagram.com/reel/1"), "Instagram_Video");
  EXPECT_EQ(DownloadManager::fallbackTitle("https://fb.watch/1"), "Facebook_Video");
  EXPECT_EQ(DownloadManager::fallbackTitle("https://youtu.be/1"), "YouTube_Video");
  EXPECT_EQ(DownloadManager::fallbackTitle("https://WWW.TIKTOK.COM/1"), "Downloaded_Video");
  EXPECT_EQ(DownloadManager::formatSelector("https://www.tiktok.com/1", Quality::mp3), "best[ext=mp4]/best");
  EXPECT_EQ(DownloadManager::formatSelector("https://WWW.INSTAGRAM.COM/1", Quality::p360), "18/b[height<=360]");
  EXPECT_EQ(DownloadManager::formatSelector("https://a.b/1", Quality::best), "bv*[ext=mp4]+ba*[ext=m4a]/18");
}

class EngineNaming : public EngineUnit {
 protected:
  testkit::VirtualClockScope clockScope;
  std::string stamp() const {
    return platform::DateFormatter::local("HH_mm_ss").format(platform::Clock::current()->now());
  }
};

TEST_F(EngineNaming, CreateUniqueFilename) {
  EXPECT_EQ(manager->createUniqueFilename("a/b:c?*d", "720", "mp4"), "a_b_c__d_720.mp4");
  EXPECT_EQ(manager->createUniqueFilename("", "720", "mp4"), "YouTube_Video_720.mp4");
  EXPECT_TRUE(printed("⚠️ Empty video title, using fallback: YouTube_Video"));
  EXPECT_EQ(manager->createUniqueFilename("Morvessa", "MP3", "mp3"), "YouTube_Video_MP3.mp3");
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/YouTube_Video_720.mp4", "x"));
  EXPECT_EQ(manager->createUniqueFilename("", "720", "mp4"), "YouTube_Video_720_" + stamp() + ".mp4");
  EXPECT_TRUE(printed("   File exists, adding timestamp: 'YouTube_Video_720_" + stamp() + ".mp4'"));
  // A downloader's partial file counts as taken too.
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/T_720.mp4.part", "x"));
  EXPECT_EQ(manager->createUniqueFilename("T", "720", "mp4"), "T_720_" + stamp() + ".mp4");
}

TEST_F(EngineNaming, OverLongTitlesAreCutAtACharacterBoundary) {
  std::string title;
  for (int i = 0; i < 200; ++i) title += "ж";  // 400 bytes
  for (std::string t : {title, "a" + title, std::string(600, 'b')}) {
    std::string name = manager->createUniqueFilename(t, "1080", "mp4");
    EXPECT_TRUE(platform::Unicode::isValidUtf8(name));
    EXPECT_LE(name.size() + std::string(".part").size(), DownloadManager::kMaxFileNameBytes);
    EXPECT_EQ(name.substr(name.size() - 9), "_1080.mp4");
    // The name can really be created, with the downloader's temporary suffix.
    EXPECT_FALSE(platform::fs::writeFile(downloads + "/" + name + ".part", "x")) << name;
    // And a second one, with the time stamp and a counter, still fits.
    std::string second = manager->createUniqueFilename(t, "1080", "mp4");
    EXPECT_NE(second, name);
    EXPECT_FALSE(platform::fs::writeFile(downloads + "/" + second + ".part", "x")) << second;
  }
}

// Titles come from web pages: control characters and terminal escapes never
// reach a file name, a name never starts hidden, and the length cut keeps
// whole user-perceived characters.
TEST_F(EngineNaming, TitlesFromPagesGiveSafeNames) {
  const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // 18 bytes
  // Label "1080" and "mp4" leave 206 bytes for the title.
  const struct {
    std::string title;
    std::string name;
  } cases[] = {
      {"a\tb\nc\x01" "d\x7F" "e", "a_b_c_d_e_1080.mp4"},
      {"\x1B[31mred\x1B[0m", "_[31mred_[0m_1080.mp4"},
      {".hidden", "hidden_1080.mp4"},
      {"...", "YouTube_Video_1080.mp4"},
      {". x", " x_1080.mp4"},
      {"a.b.", "a.b._1080.mp4"},
      {std::string(205, 'a') + "e\xCC\x81", std::string(205, 'a') + "_1080.mp4"},  // e + combining acute
      {std::string(200, 'a') + family, std::string(200, 'a') + "_1080.mp4"},
      {std::string(100, 'a') + family + "b", std::string(100, 'a') + family + "b_1080.mp4"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(manager->createUniqueFilename(c.title, "1080", "mp4"), c.name) << c.title;
  }
  EXPECT_TRUE(printed("⚠️ Empty video title, using fallback: YouTube_Video"));
}

// A stem is taken by any file that begins with it and "." or "_": the
// downloader's working files of merged formats and of audio conversion.
TEST_F(EngineNaming, WorkingFilesTakeTheirStem) {
  const struct {
    std::string existing;
    bool taken;
  } cases[] = {
      {"T_720.f137.mp4.part", true}, {"T_720.f1.m4a", true},   {"T_720.mp4.ytdl", true},
      {"T_720.temp.mp4", true},      {"T_720_other.mp4", true},    {"T_7200.mp4", false},
      {"T_720", false},              {"XT_720.mp4", false},
  };
  for (const auto& c : cases) {
    const std::string path = downloads + "/" + c.existing;
    ASSERT_FALSE(platform::fs::writeFile(path, "x"));
    const std::string expected = c.taken ? "T_720_" + stamp() + ".mp4" : "T_720.mp4";
    EXPECT_EQ(manager->createUniqueFilename("T", "720", "mp4"), expected) << c.existing;
    ASSERT_FALSE(platform::fs::removeItem(path));
  }
  // The audio download's pre-conversion file takes its stem too.
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/T_MP3.m4a.part", "x"));
  EXPECT_EQ(manager->createUniqueFilename("T", "MP3", "mp3"), "T_MP3_" + stamp() + ".mp3");
  // The time-stamped stem and its counters are checked the same way.
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/T_MP3_" + stamp() + ".mp4.part", "x"));
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/T_MP3_" + stamp() + "_2.mp3", "x"));
  EXPECT_EQ(manager->createUniqueFilename("T", "MP3", "mp3"), "T_MP3_" + stamp() + "_3.mp3");
}

class FakeFolderPanel : public tavix::FolderPanel {
 public:
  std::optional<std::string> runModal(const tavix::FolderPanelOptions& options) override {
    shown.push_back(options);
    return answer;
  }
  std::optional<std::string> answer;
  std::vector<tavix::FolderPanelOptions> shown;
};

TEST_F(EngineUnit, ChooseCustomFolderThroughThePanel) {
  manager->chooseCustomFolder();  // no panel: nothing happens
  EXPECT_EQ(manager->downloadFolder.get(), "~/Downloads");
  auto panel = std::make_shared<FakeFolderPanel>();
  manager->setFolderPanel(panel);
  const struct {
    std::optional<std::string> answer;
    std::string folder;
    std::string displayName;
  } cases[] = {
      {home.path() + "/Videos/Клипы", "~/Videos/Клипы", "Клипы"},
      {home.path(), "~", platform::fs::lastPathComponent(home.path())},
      // Only a leading home folder becomes "~": a sibling sharing its text does not.
      {home.path() + "2/x", home.path() + "2/x", "x"},
      {"/srv/media", "/srv/media", "media"},
      {std::nullopt, "/srv/media", "media"},  // cancelled: unchanged
  };
  for (const auto& c : cases) {
    panel->answer = c.answer;
    manager->chooseCustomFolder();
    EXPECT_EQ(manager->downloadFolder.get(), c.folder);
    EXPECT_EQ(manager->downloadFolderDisplayName.get(), c.displayName);
  }
  ASSERT_EQ(panel->shown.size(), 5u);
  const tavix::FolderPanelOptions& options = panel->shown[0];
  EXPECT_TRUE(options.canChooseDirectories);
  EXPECT_FALSE(options.canChooseFiles);
  EXPECT_TRUE(options.canCreateDirectories);
  EXPECT_FALSE(options.allowsMultipleSelection);
  EXPECT_EQ(options.prompt, "Выбрать папку");
  EXPECT_EQ(options.title, "Выбор папки для загрузок");
  // Downloads then go to the chosen folder.
  panel->answer = home.path() + "/Videos/Клипы";
  manager->chooseCustomFolder();
  EXPECT_EQ(manager->createUniqueFilename("T", "720", "mp4"), "T_720.mp4");
  EXPECT_TRUE(printed("   Checking path: '" + home.path() + "/Videos/Клипы/T_720.mp4'"));
}

TEST(EngineUtf8, ChunksSplitInsideACharacterAreJoined) {
  tavix::Utf8ChunkDecoder decoder;
  std::string text = "ERROR: Привет ✓ 😀\n";
  std::string joined;
  // Every split point, including inside 2-, 3- and 4-byte characters.
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    tavix::Utf8ChunkDecoder d;
    std::string out;
    if (auto a = d.decode(text.substr(0, cut))) out += *a;
    if (auto b = d.decode(text.substr(cut))) out += *b;
    EXPECT_EQ(out, text) << cut;
  }
  EXPECT_FALSE(decoder.decode(""));
  EXPECT_EQ(decoder.decode("ok"), "ok");
  EXPECT_FALSE(decoder.decode("\xD0"));
  decoder.finish();
  EXPECT_EQ(decoder.decode("ok"), "ok");
}

// Ill-formed bytes cost only themselves: the rest of the read, an ERROR line
// included, is kept and classified.
TEST(EngineUtf8, InvalidBytesAreReplacedNotDropped) {
  const std::string replacement = "\xEF\xBF\xBD";
  const struct {
    std::string chunk;
    std::string text;
  } cases[] = {
      {"\xFF\xFE", replacement + replacement},
      {"ab\xC0\xAF" "cd", "ab" + replacement + replacement + "cd"},  // overlong "/"
      {"x\xED\xA0\x80y", "x" + replacement + replacement + replacement + "y"},  // a surrogate
      {"\xE2\x9C" "z", replacement + "z"},  // a cut sequence inside the chunk
      {"WARNING: caf\xE9\nERROR: Video unavailable\n", "WARNING: caf" + replacement + "\nERROR: Video unavailable\n"},
  };
  for (const auto& c : cases) {
    tavix::Utf8ChunkDecoder decoder;
    auto text = decoder.decode(c.chunk);
    ASSERT_TRUE(text) << c.chunk;
    EXPECT_EQ(*text, c.text) << c.chunk;
    EXPECT_TRUE(platform::Unicode::isValidUtf8(*text));
  }
  tavix::Utf8ChunkDecoder decoder;
  // A character cut at the end of a read still waits for the next one.
  EXPECT_EQ(decoder.decode("ERROR: \xFF Private video \xD0"), "ERROR: " + replacement + " Private video ");
  EXPECT_EQ(decoder.decode("\xB6\n"), "ж\n");
  EXPECT_EQ(DownloadManager::classifyError(*tavix::Utf8ChunkDecoder().decode("ERROR: \xFF\xFE" "broken page\n"), 1),
            replacement + replacement + "broken page");
}

TEST(EngineThumbnail, OnlyHttpWithinTheCap) {
  testkit::LoopbackServer server;
  std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, 'p');
  server.on("GET", "/small.png", testkit::Answer::text(200, png, "image/png"));
  server.on("GET", "/huge.png", testkit::Answer::text(200, png + std::string(11 * 1024 * 1024, 'p'), "image/png"));
  auto load = [](const std::string& url, size_t cap) {
    std::promise<std::optional<platform::Bytes>> done;
    auto future = done.get_future();
    bool started = tavix::engine_internal::loadThumbnail(url, cap, 30, [&](std::optional<platform::Bytes> data) {
      done.set_value(std::move(data));
    });
    if (!started) return std::optional<std::optional<platform::Bytes>>();
    return std::optional<std::optional<platform::Bytes>>(future.get());
  };
  auto small = load(server.url("/small.png"), DownloadManager::kMaxThumbnailBytes);
  ASSERT_TRUE(small && *small);
  EXPECT_TRUE(tavix::Thumbnail::fromData(**small));
  auto huge = load(server.url("/huge.png"), DownloadManager::kMaxThumbnailBytes);
  ASSERT_TRUE(huge);
  EXPECT_FALSE(*huge);
  EXPECT_FALSE(load("file:///etc/passwd", DownloadManager::kMaxThumbnailBytes));
  EXPECT_FALSE(load("ftp://127.0.0.1/x.png", DownloadManager::kMaxThumbnailBytes));
  EXPECT_FALSE(tavix::Thumbnail::fromData(platform::Bytes{'<', 'h', 't', 'm', 'l'}));
}

}  // namespace

// ---------------------------------------------------------------- file check

namespace {

using tavix::engine_internal::mediaCheckFailure;
using tavix::engine_internal::PacketListing;
using tavix::engine_internal::reportedDuration;

// The media tool's listing, fed in pieces of `chunk` bytes.
PacketListing listed(const std::string& output, size_t chunk) {
  PacketListing listing;
  for (size_t at = 0; at < output.size(); at += chunk) listing.feed(std::string_view(output).substr(at, chunk));
  listing.finish();
  return listing;
}

}  // namespace

// The listing's packets give the span they cover whatever the chunks; odd
// lines are skipped, a line longer than the bound is skipped whole.
TEST(EngineFileCheck, PacketListingCoversItsPackets) {
  const std::string longLine = "packet|pts_time=" + std::string(PacketListing::kMaxLineBytes, '9') + "|duration_time=1\n";
  struct Case {
    const char* name;
    std::string output;
    uint64_t packets;
    std::optional<double> covered;
    std::optional<double> header;
  } cases[] = {
      {"two streams", "packet|pts_time=-0.023220|duration_time=0.023220|side_data|\n\npacket|pts_time=0.000000|"
                      "duration_time=0.100000\npacket|pts_time=3.900000|duration_time=0.100000\nformat|duration=4.000000\n",
       3, 4.02322, 4.0},
      {"no packets, header only", "format|duration=4.000000\n", 0, std::nullopt, 4.0},
      {"absent times", "packet|pts_time=N/A|duration_time=N/A\npacket|pts_time=1.5|duration_time=N/A\nformat|duration=N/A",
       1, 0.0, std::nullopt},
      {"nonsense numbers", "packet|pts_time=1e308|duration_time=1\npacket|pts_time=nan|duration_time=1\n"
                           "packet|pts_time=2|duration_time=-5\nformat|duration=-1\n",
       1, 0.0, std::nullopt},
      {"a line too long", longLine + "packet|pts_time=1|duration_time=1\n", 1, 1.0, std::nullopt},
      {"no line break at the end", "packet|pts_time=0|duration_time=2", 1, 2.0, std::nullopt},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {size_t(1), size_t(7), size_t(4096)}) {
      SCOPED_TRACE(std::string(c.name) + " in chunks of " + std::to_string(chunk));
      const PacketListing listing = listed(c.output, chunk);
      EXPECT_EQ(listing.packetCount(), c.packets);
      ASSERT_EQ(listing.coveredSeconds().has_value(), c.covered.has_value());
      if (c.covered) {
        EXPECT_NEAR(*listing.coveredSeconds(), *c.covered, 1e-9);
      }
      EXPECT_EQ(listing.headerSeconds(), c.header);
    }
  }
}

TEST(EngineFileCheck, VerdictAndReportedDuration) {
  EXPECT_EQ(reportedDuration("[duration] 212.5"), 212.5);
  EXPECT_EQ(reportedDuration("[duration] 42\r"), 42.0);
  for (const char* none : {"[duration] NA", "[duration] ", "[duration] -3", "[duration] 1e99", "duration 4", "[download] 4"}) {
    EXPECT_FALSE(reportedDuration(none).has_value()) << none;
  }
  const PacketListing whole = listed("packet|pts_time=0|duration_time=4\nformat|duration=4\n", 4096);
  const PacketListing cut = listed("packet|pts_time=0|duration_time=2.5\nformat|duration=62.9\n", 4096);
  const PacketListing empty = listed("format|duration=4\n", 4096);
  struct Case {
    const char* name;
    int status;
    const PacketListing& listing;
    std::optional<double> reported;
    std::optional<std::string> failure;
  } cases[] = {
      {"whole by its header", 0, whole, std::nullopt, std::nullopt},
      {"whole by the report, within a second", 0, whole, 4.9, std::nullopt},
      {"short of the report", 0, whole, 5.1, "Download incomplete - 0:04 of 0:05 received"},
      {"cut, by its header", 0, cut, std::nullopt, "Download incomplete - 0:02 of 1:02 received"},
      {"an hour reported", 0, cut, 3725, "Download incomplete - 0:02 of 1:02:05 received"},
      {"no packets", 0, empty, 4.0, "Downloaded file is damaged or missing"},
      {"the tool failed", 1, whole, 4.0, "Downloaded file is damaged or missing"},
  };
  for (const Case& c : cases) EXPECT_EQ(mediaCheckFailure(c.status, c.listing, c.reported), c.failure) << c.name;
}

// ---------------------------------------------------------------- working-file journal

using tavix::engine_internal::WorkingFileJournal;
using tavix::engine_internal::WorkingName;

TEST(EngineJournal, RecordsRoundTripAndDamagedOnesNameNothing) {
  const std::vector<WorkingName> names = {{"/home/u/Downloads", "Clip \"one\"_720"}, {"/tmp/x", "Ж_MP3"}};
  EXPECT_EQ(WorkingFileJournal::decode(WorkingFileJournal::encode(names)), names);
  EXPECT_EQ(WorkingFileJournal::decode(WorkingFileJournal::encode({})), std::vector<WorkingName>{});
  for (const char* damaged : {"", "{", "[]", "{\"names\":{}}", "{\"names\":[1]}", "{\"names\":[{\"folder\":\"/a\"}]}",
                              "{\"names\":[{\"folder\":\"relative\",\"stem\":\"x\"}]}",
                              "{\"names\":[{\"folder\":\"/a\",\"stem\":\"a/b\"}]}",
                              "{\"names\":[{\"folder\":\"/a\",\"stem\":\"..\"}]}",
                              "{\"names\":[{\"folder\":\"/a\",\"stem\":\"\"}]}"}) {
    EXPECT_FALSE(WorkingFileJournal::decode(damaged).has_value()) << damaged;
  }
  EXPECT_FALSE(WorkingFileJournal::decode(std::string(WorkingFileJournal::kMaxRecordBytes + 1, ' ')).has_value());
}

// A record left by a manager that is gone has its working files removed, but
// only files of its names (stem + "."), and a damaged record removes nothing.
TEST_F(EngineUnit, LeftoversOfGoneManagersAreRemoved) {
  const std::string folder = home.file("journal");
  for (const char* file : {"X_720.mp4.part", "X_720.f137.mp4", "X_720_12_00_00.mp4", "X_7200.mp4", "Y_720.mp4.part"}) {
    ASSERT_FALSE(platform::fs::writeFile(downloads + "/" + file, "x"));
  }
  ASSERT_FALSE(platform::fs::createDirectory(downloads + "/X_720.d"));
  WorkingFileJournal alive(folder);
  alive.record({{downloads, "Y_720"}});
  {
    WorkingFileJournal gone(folder);
    gone.record({{downloads, "X_720"}});
    EXPECT_EQ(WorkingFileJournal(folder).removeLeftovers(), 0u) << "a running manager's files went";
  }  // gone: quit or killed, its lock is free
  ASSERT_FALSE(platform::fs::writeFile(folder + "/damaged.json", "{\"names\":[{\"folder\":\"/\",\"stem\":\"\"}]}"));
  EXPECT_EQ(WorkingFileJournal(folder).removeLeftovers(), 2u);
  auto left = platform::fs::contentsOfDirectory(downloads).value();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"X_720.d", "X_7200.mp4", "X_720_12_00_00.mp4", "Y_720.mp4.part"}));
  // Only the running manager's record and lock are left.
  EXPECT_EQ(platform::fs::contentsOfDirectory(folder).value().size(), 2u);
}

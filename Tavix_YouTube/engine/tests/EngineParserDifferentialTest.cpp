// The output parser's hand-written scanners against the regular expressions
// they replace: the character classes for every code point, then every line
// of the recorded downloader output and of a large generated stream (progress
// lines with odd spacing, estimates, Unicode digits and letters, ill-formed
// bytes, every kind of line break), both per pattern and as item fields.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "Tavix_YouTube/engine/internal/OutputScanner.h"
#include "Tavix_YouTube/engine/internal/TextLines.h"
#include "Tavix_YouTube/engine/tests/EngineFixture.h"
#include "platform/log/Console.h"
#include "platform/text/NumberText.h"
#include "platform/text/Regex.h"
#include "platform/text/Unicode.h"

namespace {

using tavix::DownloadItem;
using tavix::engine_internal::contains;
using tavix::engine_internal::removeAll;

constexpr const char* kPercent = R"(\d+\.?\d*%)";
constexpr const char* kSpeed = R"(at\s+[\d\.]+\w+iB/s)";
constexpr const char* kSize = R"(of\s+[\d\.]+\w+iB)";

std::optional<std::string> regexMatch(const char* pattern, std::string_view text) {
  static std::map<std::string, platform::Regex> compiled;
  auto it = compiled.find(pattern);
  if (it == compiled.end()) it = compiled.emplace(pattern, platform::Regex::compile(pattern).value()).first;
  auto result = it->second.firstMatch(text);
  if (!result.ok() || !result.value()) return std::nullopt;
  return result.value()->text();
}

std::optional<std::string> owned(std::optional<std::string_view> text) {
  return text ? std::optional<std::string>(std::string(*text)) : std::nullopt;
}

// The parser as it was, on regular expressions: the reference.
void referenceParse(std::string_view text, DownloadItem& item, tavix::DownloadManager& manager) {
  auto updateProgress = [&](std::string_view line, double percent) {
    std::optional<std::string> sizeMatch = regexMatch(kSize, line);
    if (!sizeMatch) return;
    std::string size = removeAll(*sizeMatch, "of ");
    std::string stage = item.downloadStage.get();
    if (contains(stage, "video")) {
      item.progress.set(percent * 0.7 / 100.0 * 100.0);
      item.fileSize.set("~" + size + " (video)");
    } else if (contains(stage, "audio")) {
      item.progress.set(percent * 0.2 / 100.0 * 100.0 + 70.0);
      item.fileSize.set("~" + size + " (audio)");
    } else {
      item.progress.set(percent);
      item.fileSize.set(size);
    }
  };
  for (std::string_view l : tavix::engine_internal::splitLines(text)) {
    if (l.empty()) continue;
    if (contains(l, "[download]")) {
      if (contains(l, "Downloading video")) {
        item.downloadStage.set("Downloading video...");
      } else if (contains(l, "Downloading audio")) {
        item.downloadStage.set("Downloading audio...");
      } else if (contains(l, "has already been downloaded")) {
        continue;
      }
      if (contains(l, "%") && contains(l, "of")) {
        if (std::optional<std::string> percentText = regexMatch(kPercent, l)) {
          percentText->pop_back();
          if (std::optional<double> percent = platform::NumberText::parseDouble(*percentText)) {
            updateProgress(l, *percent);
          }
        }
        if (std::optional<std::string> speedText = regexMatch(kSpeed, l)) item.speed.set(removeAll(*speedText, "at "));
      }
    } else if (contains(l, "[ffmpeg]") || l.starts_with("[Merger]")) {
      if (contains(l, "Merging formats")) {
        item.downloadStage.set("Processing...");
        item.progress.set(95.0);
        item.speed.set("");
      }
    } else if (contains(l, "100%") || contains(l, "has already been downloaded")) {
      manager.updateFileSizeFromDisk(item);
    }
  }
}

std::string utf8(char32_t c) {
  std::u16string units;
  if (c > 0xFFFF) {
    units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    units += static_cast<char16_t>(c);
  }
  return platform::Unicode::toUtf8(units);
}

// Pieces that the generated lines are made of; each may land anywhere.
const std::vector<std::string>& pieces() {
  static const std::vector<std::string> kPieces = {
      "[download]", "[download] ", "  ", " ", "\t", "of", "of ", "of   ", "at", "at ", "at    ", "~", "~ ",
      "%", "45", "45.3", "100", "0.0", "3.", ".5", "1.2.3", "99999999999999999999999999", "7", "0", ".",
      "MiB", "KiB", "GiB", "iB", "B", "MiB/s", "KiB/s", "iB/s", "/s", "MB", "B/s", "MiBiB", "iBiB/s", "Mi", "x_1",
      " ETA 00:05", " (frag 1/2)", " in 00:00:00", "Unknown B/s", "Downloading video", "Downloading audio",
      " has already been downloaded", "Destination: a.mp4", "[ffmpeg] Merging formats", "[Merger]",
      "[Merger] Merging formats into \"x.mp4\"", "Merging formats",
      utf8(0x00A0), utf8(0x3000), utf8(0x2009), utf8(0x200B),  // white space, and a zero-width space that is not
      utf8(0x0664) + utf8(0x0665), utf8(0xFF14), utf8(0x0967),       // Arabic-Indic, fullwidth, Devanagari digits
      utf8(0x00B2), utf8(0x2165),                                    // superscript two, roman six: not decimal digits
      "Ж", "ЖiB", utf8(0x0301), utf8(0x200C), utf8(0x200D), utf8(0x203F), "é", "😀", utf8(0x1D7CE),
      "\xFF", "\xC0\xAF", "\xE2\x9C", "\xED\xA0\x80", std::string("\0", 1),
      "\r", "\n", "\r\n", utf8(0x2028), utf8(0x0085),
  };
  return kPieces;
}

// Lines shaped like the downloader's, bent in many small ways.
std::string generatedStream(size_t lines, uint32_t seed) {
  std::mt19937 random(seed);
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  const auto& bits = pieces();
  const char* stages[] = {"[download] Downloading video 1 of 2\n", "[download] Downloading audio\n",
                          "[Merger] Merging formats into \"x\"\n", ""};
  const char* spaces[] = {" ", "  ", "   ", "\t", "", "\xC2\xA0"};
  const char* units[] = {"MiB", "KiB", "GiB", "iB", "B", "Mi", "ЖiB", "MiBiB", "M\xCC\x81iB"};
  std::string out;
  for (size_t i = 0; i < lines; ++i) {
    if (pick(50) == 0) out += stages[pick(4)];
    std::string line = pick(10) ? "[download] " : bits[pick(bits.size())];
    // A progress line: percent, size (sometimes an estimate), speed, rest.
    line += std::string(spaces[pick(6)]) + std::to_string(pick(101));
    if (pick(2)) line += "." + std::to_string(pick(10));
    line += pick(8) ? "%" : "";
    line += std::string(" of") + spaces[pick(6)] + (pick(6) ? "" : "~") + spaces[pick(3)];
    line += std::to_string(pick(1000)) + (pick(3) ? "." + std::to_string(pick(100)) : "") + units[pick(9)];
    line += std::string(" at") + spaces[pick(6)] + std::to_string(pick(1000)) + "." + std::to_string(pick(100));
    line += std::string(units[pick(9)]) + (pick(5) ? "/s" : "");
    // Then a few arbitrary pieces anywhere.
    for (int extra = static_cast<int>(pick(4)); extra > 0; --extra) {
      line.insert(pick(line.size() + 1), bits[pick(bits.size())]);
    }
    const char* breaks[] = {"\r", "\n", "\r\n", "\xE2\x80\xA8", "\xC2\x85"};
    out += line + breaks[pick(5)];
  }
  return out;
}

std::string readSample(const std::string& name) {
  std::ifstream in(enginetest::sourceDir() + "/testing/fake-downloader/samples/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class EngineParserDifferential : public enginetest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    manager = tavix::DownloadManager::create();
  }

  // Every line through the three scanners and their patterns.
  void compareLines(const std::string& text) {
    size_t compared = 0;
    tavix::engine_internal::forEachLine(text, [&](std::string_view line) {
      std::optional<std::string> percent = regexMatch(kPercent, line);
      if (percent) percent->pop_back();
      ASSERT_EQ(owned(tavix::engine_internal::findPercent(line)), percent) << line;
      ASSERT_EQ(owned(tavix::engine_internal::findSpeed(line)), regexMatch(kSpeed, line)) << line;
      ASSERT_EQ(owned(tavix::engine_internal::findSize(line)), regexMatch(kSize, line)) << line;
      ++compared;
    });
    EXPECT_GT(compared, 0u);
  }

  // The text in chunks through both parsers; the items agree after each.
  void compareItems(const std::string& text, size_t chunk) {
    DownloadItem ours("u", tavix::Quality::best);
    DownloadItem reference("u", tavix::Quality::best);
    for (DownloadItem* item : {&ours, &reference}) item->filePath.set("~/Downloads/sized.mp4");
    for (size_t at = 0; at < text.size(); at += chunk) {
      const std::string_view piece = std::string_view(text).substr(at, chunk);
      manager->parseOutput(piece, ours);
      referenceParse(piece, reference, *manager);
      ASSERT_EQ(ours.progress.get(), reference.progress.get()) << piece;
      ASSERT_EQ(ours.fileSize.get(), reference.fileSize.get()) << piece;
      ASSERT_EQ(ours.speed.get(), reference.speed.get()) << piece;
      ASSERT_EQ(ours.downloadStage.get(), reference.downloadStage.get()) << piece;
    }
  }
};

// \d, \s and \w as the regular expressions have them, for every code point.
TEST_F(EngineParserDifferential, CharacterClassesForEveryCodePoint) {
  std::u16string all;
  std::vector<char32_t> codes;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    codes.push_back(c);
    if (c > 0xFFFF) {
      all += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      all += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      all += static_cast<char16_t>(c);
    }
  }
  const struct {
    const char* pattern;
    bool (*ours)(char32_t);
  } classes[] = {{R"(\d)", tavix::engine_internal::isDigitCharacter},
                 {R"(\s)", tavix::engine_internal::isSpaceCharacter},
                 {R"(\w)", tavix::engine_internal::isWordCharacter}};
  for (const auto& cls : classes) {
    platform::RegexOptions options;
    options.timeLimit = 0;
    auto matches = platform::Regex::compile(cls.pattern, options).value().allMatches(all);
    ASSERT_TRUE(matches.ok()) << cls.pattern;
    std::set<size_t> matched;
    for (const auto& match : matches.value()) matched.insert(match.location());
    size_t unit = 0;
    size_t members = 0;
    for (char32_t c : codes) {
      const bool expected = matched.count(unit) > 0;
      ASSERT_EQ(cls.ours(c), expected) << cls.pattern << " U+" << std::hex << static_cast<uint32_t>(c);
      members += expected;
      unit += c > 0xFFFF ? 2 : 1;
    }
    EXPECT_GT(members, 10u) << cls.pattern;
  }
}

TEST_F(EngineParserDifferential, RecordedOutput) {
  for (const char* sample : {"direct-mp3.stdout", "dash-merge.stdout", "dash-merge.stderr"}) {
    SCOPED_TRACE(sample);
    const std::string text = readSample(sample);
    ASSERT_FALSE(text.empty());
    compareLines(text);
    for (size_t chunk : {size_t(7), size_t(64), text.size()}) compareItems(text, chunk);
  }
}

TEST_F(EngineParserDifferential, GeneratedStream) {
  ASSERT_FALSE(platform::fs::writeFile(downloads + "/sized.mp4", std::string(3000, 'x')));
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const std::string text = generatedStream(6000, seed);
    compareLines(text);
    compareItems(text, 97 + seed);
  }
  // Every piece on its own, and each pair, as a line of its own.
  const auto& bits = pieces();
  std::string pairs;
  for (const auto& a : bits) {
    for (const auto& b : bits) pairs += "[download] 12.5% of 3" + a + "iB at 1" + b + "iB/s\n" + a + b + "\n";
  }
  compareLines(pairs);
  compareItems(pairs, pairs.size());
}

}  // namespace

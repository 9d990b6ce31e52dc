#include "platform/time/TimeZone.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/time/Clock.h"
#include "platform/time/tests/ScopedTz.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class TimeZoneNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_root = fs::temp_directory_path() / ("tz-test-" + std::to_string(::getpid()));
    fs::remove_all(m_root);
    fs::create_directories(m_root / "zoneinfo" / "Etc");
    std::ofstream(m_root / "zoneinfo" / "Etc" / "GMT+5") << "TZif";
    m_sources.tz = std::nullopt;
    m_sources.timezoneFile = (m_root / "timezone").string();
    m_sources.localtimeLink = (m_root / "localtime").string();
    m_sources.zoneinfoDir = (m_root / "zoneinfo").string();
  }
  void TearDown() override { fs::remove_all(m_root); }

  void writeNameFile(const std::string& text) { std::ofstream(m_sources.timezoneFile) << text; }
  void linkLocaltime(const std::string& target) { fs::create_symlink(target, m_sources.localtimeLink); }

  fs::path m_root;
  TimeZoneSources m_sources;
};

TEST_F(TimeZoneNameTest, TzVariableComesFirstInEveryForm) {
  writeNameFile("Europe/Paris\n");
  linkLocaltime("/usr/share/zoneinfo/Asia/Tokyo");
  const std::pair<const char*, const char*> cases[] = {
      {"America/New_York", "America/New_York"},
      {":Europe/Berlin", "Europe/Berlin"},
      {"/usr/share/zoneinfo/Australia/Sydney", "Australia/Sydney"},
      {":/usr/share/zoneinfo/posix/Europe/Rome", "Europe/Rome"},
      {"UTC", "UTC"},
      {"Etc/GMT+5", "Etc/GMT+5"},        // digits, but a zone file of that name exists
      {"CET-1CEST,M3.5.0", "Europe/Paris"},  // a POSIX rule is no name: next source
      {"EST5EDT", "Europe/Paris"},
      {"", "Europe/Paris"},
      {"../../etc/passwd", "Europe/Paris"},
      {"/tmp/not-a-zone", "Europe/Paris"},
  };
  for (auto [tz, expected] : cases) {
    SCOPED_TRACE(tz);
    m_sources.tz = tz;
    EXPECT_EQ(TimeZone::name(m_sources), expected);
  }
}

TEST_F(TimeZoneNameTest, NameFileThenLocaltimeLinkThenUtc) {
  EXPECT_EQ(TimeZone::name(m_sources), "UTC");
  linkLocaltime("../usr/share/zoneinfo/right/America/Argentina/Buenos_Aires");
  EXPECT_EQ(TimeZone::name(m_sources), "America/Argentina/Buenos_Aires");
  writeNameFile("  not a zone name!\n");
  EXPECT_EQ(TimeZone::name(m_sources), "America/Argentina/Buenos_Aires");
  writeNameFile("Europe/Lisbon  \r\nsecond line ignored\n");
  EXPECT_EQ(TimeZone::name(m_sources), "Europe/Lisbon");
}

TEST_F(TimeZoneNameTest, LocaltimeThatIsNoLinkOrPointsElsewhereGivesUtc) {
  std::ofstream(m_sources.localtimeLink) << "TZif";
  EXPECT_EQ(TimeZone::name(m_sources), "UTC");
  fs::remove(m_sources.localtimeLink);
  linkLocaltime("/opt/somewhere/else");
  EXPECT_EQ(TimeZone::name(m_sources), "UTC");
}

TEST(TimeZoneTest, SystemSourcesReadTz) {
  ScopedTz tz(":Pacific/Auckland");
  EXPECT_EQ(TimeZoneSources::system().tz, ":Pacific/Auckland");
  EXPECT_EQ(TimeZone::name(), "Pacific/Auckland");
}

TEST(TimeZoneTest, OffsetsFollowTzAndTheInjectedClock) {
  auto clock = std::make_shared<VirtualClock>(1719835200.0);  // 2024-07-01T12:00:00Z
  Clock::setCurrent(clock);
  {
    ScopedTz tz(kTzCentralEurope);
    EXPECT_EQ(TimeZone::currentGmtOffset(), 7200);
    clock->setNow(1705320000.0);  // January
    EXPECT_EQ(TimeZone::currentGmtOffset(), 3600);
    EXPECT_EQ(TimeZone::gmtOffset(1719835200.0), 7200);
  }
  {
    ScopedTz tz(kTzKathmandu);
    EXPECT_EQ(TimeZone::currentGmtOffset(), 20700);
    EXPECT_EQ(TimeZone::currentGmtOffsetMinutes(), 345);
  }
  {
    ScopedTz tz(kTzNewfoundland);
    EXPECT_EQ(TimeZone::currentGmtOffset(), -12600);
    EXPECT_EQ(TimeZone::currentGmtOffsetMinutes(), -210);
  }
  {
    ScopedTz tz("<-0000>0:00:30");  // 30 s behind GMT: minutes truncate toward zero
    EXPECT_EQ(TimeZone::currentGmtOffset(), -30);
    EXPECT_EQ(TimeZone::currentGmtOffsetMinutes(), 0);
  }
  Clock::setCurrent(nullptr);
}

}  // namespace
}  // namespace platform

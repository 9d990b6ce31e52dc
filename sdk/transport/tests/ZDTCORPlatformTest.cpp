// The transport's console log, assertion reports and platform functions.
#include <gtest/gtest.h>

#include <any>
#include <functional>

#include "platform/runtime/ClassRegistry.h"
#include "platform/storage/FileSystem.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORClock.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "sdk/transport/ZDTCORProductData.h"
#include "testing/LogCapture.h"
#include "testing/TempHome.h"

namespace {

namespace fs = platform::fs;

TEST(ZDTCORConsoleLoggerTest, LinesBelowTheConsoleLevelAreNotWrittenButAssertionsAlwaysAre) {
  testkit::LogCapture logs;
  ASSERT_EQ(ZDTCORConsoleLoggerLoggingLevel(), 4);
  ZDTCORLogDebug("routine");
  ZDTCORLog(ZDTCORMCETransformerDoesntImplementTransform, ZDTCORLoggingLevelErrors, "shown");
  bool continued = false;
  EXPECT_FALSE(ZDTCORAssert(false, "a report"));
  continued = true;
  EXPECT_TRUE(ZDTCORAssert(true, "never"));
  std::vector<std::string> lines = logs.texts();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[ZoruvuDataTransport][I-ZDTCOR001000] shown");
  EXPECT_TRUE(lines[1].starts_with("[ZoruvuDataTransport][I-ZDTCOR001006] ("));
  EXPECT_TRUE(lines[1].find("ZDTCORPlatformTest.cpp:") != std::string::npos);
  EXPECT_TRUE(lines[1].ends_with(") : a report"));
  EXPECT_TRUE(continued);
  EXPECT_EQ(ZDTCORMessageCodeEnumToString(7), "I-ZDTCOR000007");
}

TEST(ZDTCORConsoleLoggerTest, AnAssertHelperBlockRunsInsteadOfTheReport) {
  testkit::LogCapture logs;
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  int ran = 0;
  ASSERT_TRUE(registry.registerClass("ZDTCORAssertHelper"));
  registry.addMethod(
      "ZDTCORAssertHelper", "assertionBlock",
      [&ran](platform::Object*, const platform::Arguments&) { return std::any(std::function<void()>([&ran] { ++ran; })); },
      platform::MethodKind::Class);
  ZDTCORAssert(false, "replaced");
  registry.removeClass("ZDTCORAssertHelper");
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(logs.count(), 0u);
}

TEST(ZDTCORPlatformTest, ArchivesAndFilesFollowTheirPathRules) {
  testkit::TempHome home;
  ZDTCORSetRootDirectoryForTesting(home.file("state"));
  EXPECT_EQ(ZDTCORRootDirectory(), home.file("state"));
  EXPECT_TRUE(fs::isDirectory(home.file("state")));
  ZDTCORSetRootDirectoryForTesting(std::nullopt);

  EXPECT_FALSE(ZDTCORWriteDataToFile(platform::Bytes{1}, ""));
  std::optional<platform::Error> error;
  EXPECT_TRUE(ZDTCORWriteDataToFile(platform::Bytes{1, 2}, home.file("a/b/c"), &error));
  EXPECT_FALSE(error);
  EXPECT_EQ(fs::readFile(home.file("a/b/c")).valueOr({}), (platform::Bytes{1, 2}));

  ZDTCORProductData data(42);
  ZDTCORArchiveResult inMemory = ZDTCOREncodeArchive(data);
  ASSERT_TRUE(inMemory.data);
  EXPECT_FALSE(inMemory.error);
  ZDTCORArchiveResult onDisk = ZDTCOREncodeArchive(data, home.file("x/data"));
  EXPECT_EQ(onDisk.data, inMemory.data);
  auto decoded = ZDTCORDecodeArchiveAtPathAs<ZDTCORProductData>(home.file("x/data"));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded.value()->productID(), 42);
  // The wrong class is refused.
  EXPECT_FALSE(ZDTCORDecodeArchiveAtPathAs<ZDTCORClock>(home.file("x/data")));
}

TEST(ZDTCORPlatformTest, ReachableMeansTheReachableBitWithoutConnectionRequired) {
  const struct {
    platform::ReachabilityFlags flags;
    bool reachable;
  } cases[] = {{0, false}, {2, true}, {6, false}, {4, false}, {0x2 | 0x8, true}};
  for (const auto& c : cases) EXPECT_EQ(ZDTCORReachabilityFlagsReachable(c.flags), c.reachable) << c.flags;
  EXPECT_FALSE(ZDTCORReachabilityFlagsContainWWAN(2));
  EXPECT_EQ(ZDTCORNetworkMobileSubTypeMessage(), 0);
}

}  // namespace

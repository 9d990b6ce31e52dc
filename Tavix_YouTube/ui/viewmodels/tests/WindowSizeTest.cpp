// Window sizing: heights by count, centre kept, width reset, clamping to the
// visible frame, and the no-window case.
#include <gtest/gtest.h>

#include "Tavix_YouTube/ui/viewmodels/WindowSizeManager.h"
#include "platform/log/ConsoleCapture.h"

namespace {

TEST(WindowSizeTest, HeightsByCount) {
  const std::pair<int64_t, double> cases[] = {{-1, 400}, {0, 400}, {1, 600}, {2, 740}, {3, 860}, {10, 860}};
  for (auto [n, h] : cases) EXPECT_EQ(WindowSizeManager::targetHeight(n), h) << n;
}

TEST(WindowSizeTest, FrameKeepsXAndCentreAndClampsToVisibleFrame) {
  const WindowFrame screen{0, 40, 1920, 1000};  // visible: y 40 .. 1040
  struct Case {
    int64_t count;
    WindowFrame frame;
    WindowFrame expected;
  } cases[] = {
      {2, {100, 300, 1000, 600}, {100, 230, 1000, 740}},   // 1 -> 2: 70 down, 70 up
      {1, {50, 300, 1400, 600}, {50, 300, 1000, 600}},     // width back to 1000
      {1, {0, 200, 1000, 900}, {0, 350, 1000, 600}},       // user-resized height, centre kept
      {3, {0, 0, 1000, 400}, {0, 40, 1000, 860}},          // bottom pushed up
      {3, {0, 700, 1000, 400}, {0, 180, 1000, 860}},       // top pushed down
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WindowSizeManager::targetFrame(c.count, c.frame, screen), c.expected) << c.count;
  }
  // Taller than the visible frame: aligned with its top, overhangs below.
  EXPECT_EQ(WindowSizeManager::targetFrame(3, {0, 0, 1000, 400}, {0, 0, 1000, 600}), (WindowFrame{0, -260, 1000, 860}));
  // No screen: the empty rectangle puts the bottom at -h.
  EXPECT_EQ(WindowSizeManager::targetFrame(1, {0, 300, 1000, 400}, {}), (WindowFrame{0, -600, 1000, 600}));
}

TEST(WindowSizeTest, NoWindowWritesLineAndDoesNothing) {
  struct NoWindow : WindowHost {
    int animations = 0;
    std::optional<WindowFrame> firstWindowFrame() override { return std::nullopt; }
    std::optional<WindowFrame> visibleScreenFrame() override { return std::nullopt; }
    void animateFirstWindow(const WindowFrame&, double) override { ++animations; }
  };
  auto host = std::make_shared<NoWindow>();
  platform::ConsoleCapture console;
  WindowSizeManager(host).updateWindowSize(2);
  EXPECT_EQ(console.lines(), std::vector<std::string>{"❌ No window found"});
  EXPECT_EQ(host->animations, 0);
}

}  // namespace

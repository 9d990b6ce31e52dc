#include "Tavix_YouTube/ui/viewmodels/WindowSizeManager.h"

#include <algorithm>
#include <string>

#include "platform/log/Console.h"

WindowSizeManager::WindowSizeManager(std::shared_ptr<WindowHost> host) : m_host(std::move(host)) {}

double WindowSizeManager::targetHeight(int64_t count) {
  switch (count) {
    case 1:
      return 600;
    case 2:
      return 740;
    default:
      return count >= 3 ? 860 : 400;
  }
}

WindowFrame WindowSizeManager::targetFrame(int64_t count, const WindowFrame& frame, const WindowFrame& visible) {
  const double height = targetHeight(count);
  double y = frame.y + (frame.height - height) / 2;
  y = std::max(y, visible.y);
  const double top = visible.y + visible.height;
  if (y > top - height) y = top - height;  // a window taller than the screen meets its top
  return WindowFrame{frame.x, y, kWidth, height};
}

void WindowSizeManager::updateWindowSize(int64_t count) {
  std::optional<WindowFrame> frame = m_host ? m_host->firstWindowFrame() : std::nullopt;
  if (!frame) {
    platform::console::line("❌ No window found");
    return;
  }
  platform::console::line("🪟 Updating window size for " + std::to_string(count) + " downloads");
  const WindowFrame visible = m_host->visibleScreenFrame().value_or(WindowFrame{});
  m_host->animateFirstWindow(targetFrame(count, *frame, visible), kAnimationDuration);
}

// WindowSizeManager: sets the main window's height from the number of
// downloads (0 -> 400, 1 -> 600, 2 -> 740, 3 or more -> 860, negative -> 400)
// and its width to 1000, keeping the window's x and vertical centre and
// keeping it inside the visible frame of its screen.
//
// Frames are in screen coordinates with the origin at the bottom left and y
// growing upwards. targetFrame() is the pure computation; updateWindowSize()
// reads the first window and its screen through a WindowHost (the Qt window
// in the application, a fake in tests), writes its console lines and asks the
// host for one animated resize of 0.3 s (ease in-out).
//
// Thread safety: main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/observable/ObservableObject.h"

struct WindowFrame {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const WindowFrame&) const = default;
};

class WindowHost {
 public:
  virtual ~WindowHost() = default;
  // Frame of the application's first window; none when it has no window.
  virtual std::optional<WindowFrame> firstWindowFrame() = 0;
  // Visible frame of that window's screen, else of the main screen; none
  // when there is no screen at all.
  virtual std::optional<WindowFrame> visibleScreenFrame() = 0;
  // Starts animating the first window to `frame`; returns at once.
  virtual void animateFirstWindow(const WindowFrame& frame, double durationSeconds) = 0;
};

class WindowSizeManager : public platform::ObservableObject {
 public:
  static constexpr double kWidth = 1000;
  static constexpr double kAnimationDuration = 0.3;

  explicit WindowSizeManager(std::shared_ptr<WindowHost> host);

  static double targetHeight(int64_t count);
  // The new frame for `count` downloads, from the current frame and the
  // screen's visible frame (an empty rectangle at the origin when none).
  static WindowFrame targetFrame(int64_t count, const WindowFrame& frame, const WindowFrame& visible);

  void updateWindowSize(int64_t count);

 private:
  std::shared_ptr<WindowHost> m_host;
};

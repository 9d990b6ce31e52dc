// Names of the application life-cycle notifications (posted by the
// application object on the main thread, object = the application).
#pragma once

namespace platform {

inline constexpr const char* kApplicationDidFinishLaunchingNotification = "NSApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "NSApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "NSApplicationWillTerminateNotification";
inline constexpr const char* kWindowDidResignKeyNotification = "NSWindowDidResignKeyNotification";

}  // namespace platform

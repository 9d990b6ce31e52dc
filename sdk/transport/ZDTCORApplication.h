// ZDTCORApplication: the transport's adapter to the application.
//
// Background tasks: the platform grants none, so beginBackgroundTaskWithName
// answers ZDTCORBackgroundIdentifierInvalid (0) and endBackgroundTask(0)
// does nothing; callers keep the identifier logic for adapters that do
// grant tasks (tests).
//
// Terminate relay: the shared adapter observes the platform's
// application-will-terminate notification and posts
// "ZDTCORApplicationWillTerminateNotification" (no object) on the default
// notification centre. Nothing posts the background and foreground
// notifications on this platform.
//
// isRunningInBackground starts false; nothing in the system sets it.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/notifications/NotificationCenter.h"

inline constexpr const char* kZDTCORApplicationDidEnterBackgroundNotification =
    "ZDTCORApplicationDidEnterBackgroundNotification";
inline constexpr const char* kZDTCORApplicationWillEnterForegroundNotification =
    "ZDTCORApplicationWillEnterForegroundNotification";
inline constexpr const char* kZDTCORApplicationWillTerminateNotification =
    "ZDTCORApplicationWillTerminateNotification";

using ZDTCORBackgroundIdentifier = uint64_t;
inline constexpr ZDTCORBackgroundIdentifier ZDTCORBackgroundIdentifierInvalid = 0;

class ZDTCORApplicationProtocol {
 public:
  virtual ~ZDTCORApplicationProtocol() = default;
  virtual ZDTCORBackgroundIdentifier beginBackgroundTaskWithName(const std::string& name,
                                                                 std::function<void()> expirationHandler) = 0;
  virtual void endBackgroundTask(ZDTCORBackgroundIdentifier identifier) = 0;
  virtual bool isRunningInBackground() const = 0;
};

class ZDTCORApplication : public ZDTCORApplicationProtocol {
 public:
  // Writes the start-up line and creates the shared adapter (registration).
  static void load();
  static std::shared_ptr<ZDTCORApplication> sharedApplication();

  ZDTCORBackgroundIdentifier beginBackgroundTaskWithName(const std::string& name,
                                                         std::function<void()> expirationHandler) override;
  void endBackgroundTask(ZDTCORBackgroundIdentifier identifier) override;
  bool isRunningInBackground() const override { return m_isRunningInBackground.load(); }
  void setIsRunningInBackground(bool value) { m_isRunningInBackground.store(value); }
  // Whether the main bundle's path ends with ".appex".
  static bool isAppExtension();

  // Relays the system's will-terminate notification.
  void macOSApplicationWillTerminate(const platform::Notification& notification);

  // Tests may make their own adapters; only the shared one relays.
  ZDTCORApplication() = default;

 private:
  std::atomic<bool> m_isRunningInBackground{false};
};

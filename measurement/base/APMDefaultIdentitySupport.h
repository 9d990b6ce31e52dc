// APMIdentitySupport: the five questions the measurement identity asks of a
// platform identity component (advertising identifier and tracking consent).
// APMDefaultIdentitySupport bridges to an optional component registered as
// "APMPlatformIdentitySupport" in platform::ClassRegistry (a class method
// "sharedInstance" answering a std::shared_ptr<APMIdentitySupport>). This
// platform has none: no consent status (appDataConsentStatus all bits set),
// no limited-ad-tracking information, no advertising identifier, and the
// 44003 line at creation.
//
// resettableDeviceID() asks the component on the queue "APMDefaultIdentitySupport"
// and waits for it at most 10 ms; a slower answer is kept for the next call
// and the previous one is returned now.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/SerialQueue.h"

class APMIdentitySupport {
 public:
  virtual ~APMIdentitySupport() = default;
  virtual bool hasAppDataConsentStatus() = 0;
  virtual uint64_t appDataConsentStatus() = 0;
  virtual bool hasLimitedAdTracking() = 0;
  virtual bool limitedAdTracking() = 0;
  virtual std::optional<std::string> resettableDeviceID() = 0;
};

class APMDefaultIdentitySupport : public APMIdentitySupport,
                                  public std::enable_shared_from_this<APMDefaultIdentitySupport> {
 public:
  static constexpr const char* kPlatformClassName = "APMPlatformIdentitySupport";
  static constexpr const char* kQueueLabel = "APMDefaultIdentitySupport";
  static constexpr const char* kZeroUUID = "00000000-0000-0000-0000-000000000000";
  static constexpr double kReadTimeout = 0.010;

  static std::shared_ptr<APMDefaultIdentitySupport> sharedInstance();
  // Replaces what sharedInstance() answers; nullptr restores the process's
  // own (tests, which register their component first).
  static void setSharedInstanceForTesting(std::shared_ptr<APMDefaultIdentitySupport> support);
  static bool iOS14OrAbove() { return true; }

  // Looks the platform component up now.
  APMDefaultIdentitySupport();

  bool hasAppDataConsentStatus() override;
  uint64_t appDataConsentStatus() override;
  bool hasLimitedAdTracking() override;
  bool limitedAdTracking() override;
  std::optional<std::string> resettableDeviceID() override;

  bool hasPlatformComponent() const { return m_platformIdentitySupport != nullptr; }

 private:
  std::shared_ptr<APMIdentitySupport> m_platformIdentitySupport;
  std::mutex m_mutex;
  std::optional<std::string> m_resettableDeviceID;  // under m_mutex
  platform::SerialQueue m_queue;
};

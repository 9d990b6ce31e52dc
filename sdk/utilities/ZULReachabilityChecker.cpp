#include "sdk/utilities/ZULReachabilityChecker.h"

#include "sdk/utilities/ZULLogger.h"

namespace {

constexpr const char* kCategory = "[ZULReachability]";

void logLine(ZULLoggerLevel level, const char* family, long code, const std::string& message) {
  ZULLogEmit(level, kZULLoggerSubsystem, kCategory, false, ZULMessageCode(family, code), message);
}

const char* changeWord(ZULReachabilityStatus status) {
  if (status == kZULReachabilityUnknown) return "Unknown";
  if (status == kZULReachabilityNotReachable) return "Disconnected";
  return "Connected";
}

}  // namespace

std::string ZULReachabilityStatusText(ZULReachabilityStatus status) {
  switch (status) {
    case kZULReachabilityUnknown:
      return "Reachability Unknown";
    case kZULReachabilityNotReachable:
      return "Not reachable";
    case kZULReachabilityViaWifi:
      return "Reachable via Wifi";
    case kZULReachabilityViaCellular:
      return "Reachable via Cellular Data";
    default:
      return "Invalid reachability status " + std::to_string(status);
  }
}

ZULReachabilityChecker::ZULReachabilityChecker(std::string host)
    : m_host(std::move(host)), m_api(platform::ReachabilityApi::current()) {}

std::unique_ptr<ZULReachabilityChecker> ZULReachabilityChecker::initWithReachabilityDelegate(
    std::weak_ptr<ZULReachabilityDelegate> delegate, const std::string& withHost) {
  if (withHost.empty()) {
    logLine(ZULLoggerLevelError, "REA", 902001, "Invalid host specified");
    return nullptr;
  }
  std::unique_ptr<ZULReachabilityChecker> checker(new ZULReachabilityChecker(withHost));
  checker->setReachabilityDelegate(std::move(delegate));
  return checker;
}

ZULReachabilityChecker::~ZULReachabilityChecker() {
  setReachabilityDelegate({});
  stop();
}

bool ZULReachabilityChecker::start() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_reachability == nullptr) {
    const platform::ReachabilityApi* api = m_api;
    platform::ReachabilityRef handle = api->createWithName(m_host.c_str());
    if (handle == nullptr) return false;
    if (!api->setCallback(handle, &ZULReachabilityChecker::flagsCallback, this) ||
        !api->scheduleWithMainLoop(handle)) {
      api->release(handle);
      lock.unlock();
      logLine(ZULLoggerLevelError, "REA", 902002, "Failed to start reachability handle");
      return false;
    }
    m_reachability = handle;
  }
  lock.unlock();
  logLine(ZULLoggerLevelDebug, "REA", 902003, "Monitoring the network status");
  return true;
}

void ZULReachabilityChecker::stop() {
  platform::ReachabilityRef handle = nullptr;
  const platform::ReachabilityApi* api = nullptr;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_reachability == nullptr) return;
    handle = m_reachability;
    api = m_api;
  }
  // Outside the lock: unscheduling waits for a callback that may be taking it.
  api->unscheduleFromMainLoop(handle);
  api->release(handle);
  std::lock_guard<std::mutex> guard(m_mutex);
  m_reachability = nullptr;
  m_status = kZULReachabilityUnknown;
}

ZULReachabilityStatus ZULReachabilityChecker::statusForFlags(platform::ReachabilityFlags flags) {
  using namespace platform;
  if ((flags & kReachabilityFlagReachable) == 0) return kZULReachabilityNotReachable;
  if ((flags & kReachabilityFlagConnectionRequired) == 0) return kZULReachabilityViaWifi;
  const bool automatic = (flags & (kReachabilityFlagConnectionOnTraffic | kReachabilityFlagConnectionOnDemand)) != 0;
  const bool intervention = (flags & kReachabilityFlagInterventionRequired) != 0;
  return automatic && !intervention ? kZULReachabilityViaWifi : kZULReachabilityNotReachable;
}

void ZULReachabilityChecker::reachabilityFlagsChanged(platform::ReachabilityFlags flags) {
  const ZULReachabilityStatus status = statusForFlags(flags);
  if (status == m_status.load()) return;
  logLine(ZULLoggerLevelDebug, "REA", 902004,
          "Network status has changed. Code:" + std::to_string(status) + ", status:" + changeWord(status));
  m_status = status;
  if (std::shared_ptr<ZULReachabilityDelegate> delegate = reachabilityDelegate()) {
    delegate->reachability(*this, status);
  }
}

void ZULReachabilityChecker::flagsCallback(platform::ReachabilityRef, platform::ReachabilityFlags flags,
                                           void* info) {
  if (info != nullptr) static_cast<ZULReachabilityChecker*>(info)->reachabilityFlagsChanged(flags);
}

bool ZULReachabilityChecker::isActive() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_reachability != nullptr;
}

const platform::ReachabilityApi* ZULReachabilityChecker::reachabilityApi() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_api;
}

void ZULReachabilityChecker::setReachabilityApi(const platform::ReachabilityApi* api) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_reachability != nullptr) {
    lock.unlock();
    logLine(ZULLoggerLevelError, "REA", 902000,
            "Cannot change reachability API while reachability is running. Call stop first.");
    return;
  }
  if (api != nullptr) m_api = api;
}

std::shared_ptr<ZULReachabilityDelegate> ZULReachabilityChecker::reachabilityDelegate() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_delegate.lock();
}

void ZULReachabilityChecker::setReachabilityDelegate(std::weak_ptr<ZULReachabilityDelegate> delegate) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_delegate = std::move(delegate);
}

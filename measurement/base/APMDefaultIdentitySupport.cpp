#include "measurement/base/APMDefaultIdentitySupport.h"

#include <any>
#include <condition_variable>

#include "measurement/base/APMEngineServices.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/runtime/Immortal.h"

namespace {

std::mutex g_overrideMutex;
platform::Immortal<std::shared_ptr<APMDefaultIdentitySupport>> g_overrideSlot;
std::shared_ptr<APMDefaultIdentitySupport>& g_override = *g_overrideSlot;

}  // namespace

std::shared_ptr<APMDefaultIdentitySupport> APMDefaultIdentitySupport::sharedInstance() {
  {
    std::lock_guard lock(g_overrideMutex);
    if (g_override) return g_override;
  }
  // Kept for the whole process: its queue may still answer at exit.
  static const std::shared_ptr<APMDefaultIdentitySupport>* const shared =
      new std::shared_ptr<APMDefaultIdentitySupport>(std::make_shared<APMDefaultIdentitySupport>());
  return *shared;
}

void APMDefaultIdentitySupport::setSharedInstanceForTesting(std::shared_ptr<APMDefaultIdentitySupport> support) {
  std::lock_guard lock(g_overrideMutex);
  g_override = std::move(support);
}

APMDefaultIdentitySupport::APMDefaultIdentitySupport() : m_queue(kQueueLabel) {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  if (registry.exists(kPlatformClassName) && registry.respondsTo(kPlatformClassName, "sharedInstance")) {
    std::any shared = registry.sendClass(kPlatformClassName, "sharedInstance");
    if (auto* component = std::any_cast<std::shared_ptr<APMIdentitySupport>>(&shared)) {
      m_platformIdentitySupport = *component;
    }
  }
  std::shared_ptr<APMMonitor> monitor = APMEngineServices::monitor();
  if (!m_platformIdentitySupport) {
    monitor->logWithLevel(4, 44003,
                          "ZoruvuRedIveduruvezaIdentitySupport dependency is not currently linked. IDFA will not be "
                          "accessible.");
    return;
  }
  monitor->logWithLevel(7, 44000, "ZoruvuRedIveduruvezaIdentitySupport dependency is linked.");
  if (m_platformIdentitySupport->hasLimitedAdTracking()) {
    monitor->logWithLevel(7, 44001, "The AdSupport Framework is linked.");
  } else {
    monitor->logWithLevel(4, 44002,
                          "The AdSupport Framework is not currently linked. Some features will not function properly. "
                          "Learn more at https://ririvudu.zoruvu.com/docs/analytics/identity-support");
  }
}

bool APMDefaultIdentitySupport::hasAppDataConsentStatus() {
  return m_platformIdentitySupport && m_platformIdentitySupport->hasAppDataConsentStatus();
}

uint64_t APMDefaultIdentitySupport::appDataConsentStatus() {
  return m_platformIdentitySupport ? m_platformIdentitySupport->appDataConsentStatus() : UINT64_MAX;
}

bool APMDefaultIdentitySupport::hasLimitedAdTracking() {
  return m_platformIdentitySupport && m_platformIdentitySupport->hasLimitedAdTracking();
}

bool APMDefaultIdentitySupport::limitedAdTracking() {
  std::optional<std::string> identifier = resettableDeviceID();
  return !identifier || *identifier == kZeroUUID;
}

std::optional<std::string> APMDefaultIdentitySupport::resettableDeviceID() {
  if (!m_platformIdentitySupport) return std::nullopt;
  struct Done {
    std::mutex mutex;
    std::condition_variable signal;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  std::weak_ptr<APMDefaultIdentitySupport> weak = weak_from_this();
  std::shared_ptr<APMIdentitySupport> component = m_platformIdentitySupport;
  m_queue.async([weak, component, done] {
    std::optional<std::string> identifier = component->resettableDeviceID();
    if (std::shared_ptr<APMDefaultIdentitySupport> strong = weak.lock()) {
      std::lock_guard lock(strong->m_mutex);
      strong->m_resettableDeviceID = identifier;
    }
    std::lock_guard lock(done->mutex);
    done->done = true;
    done->signal.notify_all();
  });
  {
    std::unique_lock lock(done->mutex);
    done->signal.wait_for(lock, std::chrono::duration<double>(kReadTimeout), [&] { return done->done; });
  }
  std::lock_guard lock(m_mutex);
  return m_resettableDeviceID;
}

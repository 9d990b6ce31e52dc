#include "sdk/transport/ZDTCORUploadCoordinator.h"

#include <set>

#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORPlatform.h"
#include "sdk/transport/ZDTCORReachability.h"
#include "sdk/transport/ZDTCORRegistrar.h"

std::shared_ptr<ZDTCORUploadCoordinator> ZDTCORUploadCoordinator::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ZDTCORUploadCoordinator>([] {
    auto coordinator = std::make_shared<ZDTCORUploadCoordinator>(
        ZDTCORRegistrar::sharedInstance(), ZDTCORApplication::sharedApplication(),
        [] { return ZDTCORReachability::currentFlags(); });
    coordinator->startTimer();
    return coordinator;
  }());
  return *shared;
}

ZDTCORUploadCoordinator::ZDTCORUploadCoordinator(std::shared_ptr<ZDTCORRegistrar> registrar,
                                                 std::shared_ptr<ZDTCORApplicationProtocol> application,
                                                 FlagsSource flags)
    : m_queue("com.zoruvu.ZDTCORUploadCoordinator"),
      m_registrar(std::move(registrar)),
      m_application(std::move(application)),
      m_flags(std::move(flags)) {}

void ZDTCORUploadCoordinator::startTimer() {
  std::weak_ptr<ZDTCORUploadCoordinator> weak = weak_from_this();
  m_queue.async([weak] {
    auto self = weak.lock();
    if (!self || self->m_timer) return;
    self->m_timer = std::make_unique<platform::Timer>(
        self->m_queue, kTimerStartDelay, static_cast<double>(kTimerInterval) / 1e9,
        [weak] {
          if (auto coordinator = weak.lock()) coordinator->tick();
        },
        static_cast<double>(kTimerLeeway) / 1e9);
    ZDTCORLogDebug("Upload timer started");
    self->m_timer->start();
  });
}

void ZDTCORUploadCoordinator::stopTimer() {
  if (m_queue.isCurrent()) {
    stopTimerOnQueue();
    return;
  }
  std::weak_ptr<ZDTCORUploadCoordinator> weak = weak_from_this();
  m_queue.async([weak] {
    if (auto self = weak.lock()) self->stopTimerOnQueue();
  });
}

void ZDTCORUploadCoordinator::stopTimerOnQueue() {
  if (!m_timer) return;
  m_timer->cancel();
  m_timer.reset();
}

bool ZDTCORUploadCoordinator::isTimerRunning() const {
  if (m_queue.isCurrent()) return m_timer != nullptr;
  return m_queue.sync([this] { return m_timer != nullptr; });
}

void ZDTCORUploadCoordinator::tick() {
  if (m_application && m_application->isRunningInBackground()) return;
  ZDTCORUploadConditions conditions = uploadConditions();
  ZDTCORLogDebug("Upload timer fired");
  std::vector<int64_t> targets;
  for (const auto& [target, uploader] : m_registrar->targetToUploader()) targets.push_back(target);
  uploadTargets(std::move(targets), conditions);
}

void ZDTCORUploadCoordinator::forceUploadForTarget(int64_t target) {
  std::weak_ptr<ZDTCORUploadCoordinator> weak = weak_from_this();
  m_queue.async([weak, target] {
    auto self = weak.lock();
    if (!self) return;
    ZDTCORLogDebug("Forcing an upload of target " + std::to_string(target));
    self->uploadTargets({target}, self->uploadConditions() | ZDTCORUploadConditionHighPriority);
  });
}

void ZDTCORUploadCoordinator::uploadTargets(std::vector<int64_t> targets, ZDTCORUploadConditions conditions) {
  std::weak_ptr<ZDTCORUploadCoordinator> weak = weak_from_this();
  m_queue.async([weak, targets = std::move(targets), conditions] {
    auto self = weak.lock();
    if (!self || (conditions & ZDTCORUploadConditionNoNetwork) != 0) return;
    std::map<int64_t, std::shared_ptr<ZDTCORUploader>> uploaders = self->m_registrar->targetToUploader();
    for (int64_t target : targets) {
      auto uploader = uploaders.find(target);
      if (uploader != uploaders.end() && uploader->second) {
        uploader->second->uploadTarget(static_cast<int32_t>(target), conditions);
      }
    }
  });
}

ZDTCORUploadConditions ZDTCORUploadCoordinator::uploadConditions() const {
  platform::ReachabilityFlags flags = m_flags ? m_flags() : 0;
  if (!ZDTCORReachabilityFlagsReachable(flags)) return ZDTCORUploadConditionNoNetwork;
  return ZDTCORReachabilityFlagsContainWWAN(flags) ? ZDTCORUploadConditionMobileData : ZDTCORUploadConditionWifiData;
}

void ZDTCORUploadCoordinator::signalToStoragesToCheckExpirations() {
  std::set<ZDTCORStorageProtocol*> asked;
  for (const auto& [target, storage] : m_registrar->targetToStorage()) {
    if (storage && asked.insert(storage.get()).second) storage->checkForExpirations();
  }
}

std::shared_ptr<ZDTCORStorageProtocol> ZDTCORUploadCoordinator::storageForTarget(int64_t target) const {
  auto storages = m_registrar->targetToStorage();
  auto found = storages.find(target);
  std::shared_ptr<ZDTCORStorageProtocol> storage = found != storages.end() ? found->second : nullptr;
  ZDTCORAssert(storage != nullptr, "A storage must be registered for target " + std::to_string(target));
  return storage;
}

void ZDTCORUploadCoordinator::appWillForeground(ZDTCORApplicationProtocol&) {
  startTimer();
  signalToStoragesToCheckExpirations();
}

void ZDTCORUploadCoordinator::appWillBackground(ZDTCORApplicationProtocol&) { stopTimer(); }

void ZDTCORUploadCoordinator::appWillTerminate(ZDTCORApplicationProtocol&) { stopTimer(); }

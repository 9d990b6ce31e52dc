// ZDTCORUploadCoordinator: decides when the transport tries to upload.
//
// It owns one repeating timer on the serial queue
// "com.zoruvu.ZDTCORUploadCoordinator": first fire 0.5 s after start, then
// every 30 s (leeway 5 s). The shared coordinator starts its timer when it is
// created, which the flat-file storage does at registration, so the timer
// runs from start-up on; termination stops it (events stay on disk) and
// foregrounding starts it again and asks every storage to sweep expired
// events.
//
// Each tick (skipped while the application reports running in the
// background) takes the upload conditions from the reachability flags (1 no
// network, 4 reachable; no mobile network on this platform) and asks the
// uploader of every registered target to upload. A forced upload (an event
// of tier 4 was stored) asks one target's uploader with 0x10 added. Without
// a network nothing is asked.
//
// Thread safety: every member may be called from any thread; timer changes
// and the dispatch to uploaders are serialised on the coordination queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/Timer.h"
#include "platform/net/ReachabilityApi.h"
#include "sdk/transport/ZDTCORApplication.h"
#include "sdk/transport/ZDTCORLifecycle.h"
#include "sdk/transport/ZDTCORUploader.h"

class ZDTCORRegistrar;
class ZDTCORStorageProtocol;

class ZDTCORUploadCoordinator : public ZDTCORLifecycleProtocol,
                                public std::enable_shared_from_this<ZDTCORUploadCoordinator> {
 public:
  using FlagsSource = std::function<platform::ReachabilityFlags()>;

  static constexpr double kTimerStartDelay = 0.5;
  static constexpr uint64_t kTimerInterval = 30000000000ULL;  // nanoseconds
  static constexpr uint64_t kTimerLeeway = 5000000000ULL;     // nanoseconds

  // Created once, with its timer started.
  static std::shared_ptr<ZDTCORUploadCoordinator> sharedInstance();

  // The shared coordinator uses the shared registrar, adapter and
  // reachability; tests pass their own (the timer is not started).
  ZDTCORUploadCoordinator(std::shared_ptr<ZDTCORRegistrar> registrar,
                          std::shared_ptr<ZDTCORApplicationProtocol> application, FlagsSource flags);

  void startTimer();
  // Runs on the coordination queue (or is queued there when called elsewhere).
  void stopTimer();
  bool isTimerRunning() const;

  void forceUploadForTarget(int64_t target);
  void uploadTargets(std::vector<int64_t> targets, ZDTCORUploadConditions conditions);
  ZDTCORUploadConditions uploadConditions() const;
  void signalToStoragesToCheckExpirations();
  // The target's storage; nullptr after an assertion report when none.
  std::shared_ptr<ZDTCORStorageProtocol> storageForTarget(int64_t target) const;

  void appWillForeground(ZDTCORApplicationProtocol& application) override;
  void appWillBackground(ZDTCORApplicationProtocol& application) override;
  void appWillTerminate(ZDTCORApplicationProtocol& application) override;

  const platform::SerialQueue& coordinationQueue() const { return m_queue; }
  uint64_t timerInterval() const { return kTimerInterval; }
  uint64_t timerLeeway() const { return kTimerLeeway; }
  const std::shared_ptr<ZDTCORRegistrar>& registrar() const { return m_registrar; }

 private:
  void tick();
  void stopTimerOnQueue();

  platform::SerialQueue m_queue;
  std::shared_ptr<ZDTCORRegistrar> m_registrar;
  std::shared_ptr<ZDTCORApplicationProtocol> m_application;
  FlagsSource m_flags;
  // Touched only on m_queue.
  std::unique_ptr<platform::Timer> m_timer;
};

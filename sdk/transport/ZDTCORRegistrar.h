// ZDTCORRegistrar: which uploader, storage and metrics controller serve each
// target.
//
// Registrations are made by the transport's registration (storage for 999
// to 1003, uploader for 1000 to 1003, metrics controller for 1002 and
// 1001); a later registration for a target replaces the earlier one and
// nothing is ever unregistered. Registering a storage or a metrics
// controller then makes the target's metrics controller (or none) the
// delegate of the target's storage; one storage serves every target, so
// the last such registration decides.
//
// Every change and read of the maps goes through the serial queue
// "com.zoruvu.ZDTCORRegistrar": registrations are queued and return at once;
// reads wait on the queue, so they see every registration made before them.
// Reads answer copies of the maps.
//
// The life-cycle operations go to every registered uploader, then to every
// registered storage, once per target each is registered for.
//
// Thread safety: every member may be called from any thread except the
// registrar's own queue (reads would wait on themselves).
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/dispatch/SerialQueue.h"
#include "sdk/transport/ZDTCORLifecycle.h"
#include "sdk/transport/ZDTCORMetricsControllerProtocol.h"
#include "sdk/transport/ZDTCORStoragePromiseProtocol.h"
#include "sdk/transport/ZDTCORStorageProtocol.h"
#include "sdk/transport/ZDTCORUploader.h"

class ZDTCORRegistrar : public ZDTCORLifecycleProtocol, public std::enable_shared_from_this<ZDTCORRegistrar> {
 public:
  static std::shared_ptr<ZDTCORRegistrar> sharedInstance();

  void registerUploader(std::shared_ptr<ZDTCORUploader> uploader, int64_t target);
  void registerStorage(std::shared_ptr<ZDTCORStorageProtocol> storage, int64_t target);
  void registerMetricsController(std::shared_ptr<ZDTCORMetricsControllerProtocol> metricsController, int64_t target);

  std::map<int64_t, std::shared_ptr<ZDTCORUploader>> targetToUploader() const;
  std::map<int64_t, std::shared_ptr<ZDTCORStorageProtocol>> targetToStorage() const;
  std::map<int64_t, std::shared_ptr<ZDTCORMetricsControllerProtocol>> targetToMetricsController() const;

  // Queued: the target's storage gets the target's metrics controller (or
  // none) as its delegate.
  void setMetricsControllerAsStorageDelegateForTarget(int64_t target);

  void appWillBackground(ZDTCORApplicationProtocol& application) override;
  void appWillForeground(ZDTCORApplicationProtocol& application) override;
  void appWillTerminate(ZDTCORApplicationProtocol& application) override;

  const platform::SerialQueue& registrarQueue() const { return m_queue; }

  // Tests make their own registrars; the transport uses sharedInstance().
  ZDTCORRegistrar();

 private:
  void setDelegateOnQueue(int64_t target);
  template <typename Operation>
  void fanOut(Operation operation);

  platform::SerialQueue m_queue;
  // Touched only on m_queue.
  std::map<int64_t, std::shared_ptr<ZDTCORUploader>> m_uploaders;
  std::map<int64_t, std::shared_ptr<ZDTCORStorageProtocol>> m_storages;
  std::map<int64_t, std::shared_ptr<ZDTCORMetricsControllerProtocol>> m_metricsControllers;
};

// Look-ups in the shared registrar; nullptr when nothing fits.
std::shared_ptr<ZDTCORStorageProtocol> ZDTCORStorageInstanceForTarget(int64_t target);
std::shared_ptr<ZDTCORStoragePromiseProtocol> ZDTCORStoragePromiseInstanceForTarget(int64_t target);
std::shared_ptr<ZDTCORMetricsControllerProtocol> ZDTCORMetricsControllerInstanceForTarget(int64_t target);

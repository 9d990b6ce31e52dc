// ZDTCORMetricsController: counts the events the transport loses and hands
// out client-metrics reports (ZDTCORMetrics).
//
// The counts and the start of the current collection window live in the
// storage's library data ("metrics_metadata", ZDTCORMetricsMetadata); every
// change goes through the storage's read-update-write step on its queue, so
// the controller holds no state of its own. Drop reasons: 1 expired (the
// storage's expiry sweep), 2 storage full (the storage refused an event), 5
// rejected by the collector with status 400 (the uploader).
//
// getAndResetMetrics() starts a new window and is fulfilled with the report
// of the old one (rejected when nothing was stored yet, which still opens a
// window). offerMetrics() merges an undelivered report back: its counts are
// added and its start is kept when it is not later than the stored start; a
// report starting later than the stored window changes nothing. A stored
// record that cannot be read is logged and replaced by a fresh window.
//
// The shared controller serves targets 1002 and 1001 (registration) and is
// the storage's delegate for them.
//
// Thread safety: every operation may be called from any thread; promises
// settle on the promise library's default queue (the main queue).
#pragma once

#include <memory>

#include "sdk/transport/ZDTCORMetrics.h"
#include "sdk/transport/ZDTCORMetricsControllerProtocol.h"
#include "sdk/transport/ZDTCORStoragePromiseProtocol.h"
#include "sdk/transport/ZDTCORStorageProtocol.h"

class ZDTCORMetricsController : public ZDTCORMetricsControllerProtocol,
                                public ZDTCORStorageDelegate,
                                public std::enable_shared_from_this<ZDTCORMetricsController> {
 public:
  // The targets the shared controller is registered for, in order.
  static constexpr int64_t kTargets[] = {1002, 1001};

  // Registers the shared controller (registration).
  static void load();
  static std::shared_ptr<ZDTCORMetricsController> sharedInstance();

  // The shared controller uses the shared flat-file storage; tests pass their own.
  explicit ZDTCORMetricsController(std::shared_ptr<ZDTCORStoragePromiseProtocol> storage);

  RBLPromisePtr logEventsDroppedForReason(int64_t reason, const ZDTCOREventSet& events) override;
  RBLPromisePtr getAndResetMetrics() override;
  RBLPromisePtr offerMetrics(std::shared_ptr<ZDTCORMetrics> metrics) override;

  void storageDidDropEvent(ZDTCORStorageProtocol& storage, const std::shared_ptr<ZDTCOREvent>& event) override;
  void storageDidRemoveExpiredEvents(ZDTCORStorageProtocol& storage, const ZDTCOREventSet& events) override;

  const std::shared_ptr<ZDTCORStoragePromiseProtocol>& storage() const { return m_storage; }

 private:
  std::shared_ptr<ZDTCORStoragePromiseProtocol> m_storage;
};

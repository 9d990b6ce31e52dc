// ZDTCORMetricsControllerProtocol: what counts the transport's dropped events
// and hands out client-metrics reports. Every operation answers a promise.
//
// Thread safety: every operation may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>

#include "sdk/promises/RBLPromise.h"
#include "sdk/transport/ZDTCOREvent.h"

class ZDTCORMetrics;

class ZDTCORMetricsControllerProtocol {
 public:
  virtual ~ZDTCORMetricsControllerProtocol() = default;
  // Adds the events to the stored counts for `reason`.
  virtual RBLPromisePtr logEventsDroppedForReason(int64_t reason, const ZDTCOREventSet& events) = 0;
  // Fulfilled with a ZDTCORMetrics of the window so far; a new window starts.
  virtual RBLPromisePtr getAndResetMetrics() = 0;
  // Merges an undelivered report back into the stored counts.
  virtual RBLPromisePtr offerMetrics(std::shared_ptr<ZDTCORMetrics> metrics) = 0;
};

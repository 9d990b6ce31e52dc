// ZDTCORUploadBatch: a batch taken out of storage for one upload: its
// identifier and its events.
//
// Thread safety: an immutable value (the events are not changed once
// batched).
#pragma once

#include <cstdint>

#include "sdk/transport/ZDTCOREvent.h"

class ZDTCORUploadBatch {
 public:
  ZDTCORUploadBatch(int64_t batchID, ZDTCOREventSet events) : m_batchID(batchID), m_events(std::move(events)) {}

  int64_t batchID() const { return m_batchID; }
  const ZDTCOREventSet& events() const { return m_events; }

 private:
  int64_t m_batchID;
  ZDTCOREventSet m_events;
};

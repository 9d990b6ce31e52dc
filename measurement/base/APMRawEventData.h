// APMRawEventData: a raw_events row in memory: the event, its rowid (0 before
// it has a row) and the fingerprint of its bundle metadata. Immutable.
#pragma once

#include <cstdint>
#include <memory>

#include "measurement/base/APMEvent.h"

class APMRawEventData {
 public:
  // Nullptr without an event (28000) or with a negative row ID (28001).
  static std::shared_ptr<APMRawEventData> initWithRawEvent(std::shared_ptr<APMEvent> rawEvent, int64_t rowID,
                                                           int64_t metadataFingerprint);

  const std::shared_ptr<APMEvent>& rawEvent() const { return m_rawEvent; }
  int64_t rowID() const { return m_rowID; }
  int64_t metadataFingerprint() const { return m_metadataFingerprint; }

 private:
  std::shared_ptr<APMEvent> m_rawEvent;
  int64_t m_rowID = 0;
  int64_t m_metadataFingerprint = 0;
};

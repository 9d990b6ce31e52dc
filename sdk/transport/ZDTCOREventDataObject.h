// ZDTCOREventDataObject: an event's payload. transportBytes() answers the
// bytes that are stored and uploaded for it.
//
// Thread safety: implementations are called on the thread that sets the
// data object of an event.
#pragma once

#include "platform/values/Value.h"

class ZDTCOREventDataObject {
 public:
  virtual ~ZDTCOREventDataObject() = default;
  virtual platform::Bytes transportBytes() const = 0;
};

// ZDTCOREventDataObject: an event's payload. transportBytes() answers the
// bytes that are stored and uploaded for it.
//
// Thread safety: implementations are called on the thread that sets the
// data object of an event.
#pragma once

#include <utility>

#include "platform/values/Value.h"

class ZDTCOREventDataObject {
 public:
  virtual ~ZDTCOREventDataObject() = default;
  virtual platform::Bytes transportBytes() const = 0;
};

// A payload of bytes given once.
class ZDTCORBytesDataObject : public ZDTCOREventDataObject {
 public:
  explicit ZDTCORBytesDataObject(platform::Bytes bytes) : m_bytes(std::move(bytes)) {}
  platform::Bytes transportBytes() const override { return m_bytes; }

 private:
  platform::Bytes m_bytes;
};

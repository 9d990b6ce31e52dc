// NANOMessageBase: the object form of one measurement wire message.
//
// Every wrapper (APMPBMessage<Type>, named APMPBEvent, APMPBFlag, ...) owns
// exactly one message instance of the slot model from its creation to its
// destruction and hands it, with its type's routines, to the field
// operations (APMPBFieldAccess.h), which do all reading and writing of
// fields. messageInfo() stays owned by the object: a caller that needs it
// beyond the object's life copies it.
//
// Thread safety: an object is used by one thread at a time.
#pragma once

#include <optional>

#include "measurement/messages/APMPBMessageType.h"
#include "platform/values/Value.h"

class NANOMessageBase {
 public:
  virtual ~NANOMessageBase() = default;

  // The type's name, the same pointer as the instance's name.
  virtual const char* messageID() const = 0;
  // The owned instance (never NULL for a live object).
  virtual APMPBMessageInfo* messageInfo() const = 0;
  // The type's routines: init, dealloc-field, free, copy, decode, encode.
  virtual const APMPBMessageType& messageType() const = 0;
  // The encoding, or nothing when the encoder fails. An empty message
  // encodes to empty data.
  virtual std::optional<platform::Bytes> protoBuffer() const = 0;
};

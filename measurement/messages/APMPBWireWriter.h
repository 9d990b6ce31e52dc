// APMPBWireWriter: the wire form of one message written field by field as it
// is given, without building the message: for a message that would only be
// built to be encoded and dropped.
//
//   APMPBWireWriter writer(kAPMPBEvent, bytes);         // bytes replaced by finish()
//   if (writer.beginMessage(APMPBEventSlot::kParams)) {  // one item of "params"
//     writer.setString(APMPBEventParamSlot::kName, "currency");
//     writer.setString(APMPBEventParamSlot::kStringValue, "EUR");
//     writer.endMessage();
//   }
//   writer.setString(APMPBEventSlot::kName, "purchase");
//   bool ok = writer.finish();
//
// Slots are the slot indexes of the field operations (APMPBFieldAccess.h,
// named in APMPBSlots.h).
// Fields must come in the type's encoding order (ascending tag order, the
// order the encoder writes them), each singular field at most once, the items
// of a repeated field one after the other: the bytes are then exactly what
// encoding a message holding the same fields writes. A slot outside the type,
// of another kind, or out of that order writes its line to the platform system
// log, is left out, and makes finish() answer NO.
//
// Thread safety: one writer per thread; the bytes are the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "measurement/messages/APMPBMessageType.h"
#include "measurement/messages/APMPBSlots.h"

class APMPBWireWriter {
 public:
  APMPBWireWriter(const APMPBMessageType& type, std::vector<uint8_t>& bytes);
  APMPBWireWriter(const APMPBWireWriter&) = delete;
  APMPBWireWriter& operator=(const APMPBWireWriter&) = delete;

  // String and bytes slots.
  void setString(int32_t slot, std::string_view text);
  // int64 and uint64 slots.
  void setInt64(int32_t slot, int64_t value);
  void setDouble(int32_t slot, double value);
  // Starts the next item of a repeated message slot, or a singular message
  // slot; its fields follow, then endMessage(). NO (nothing started) on a
  // refused slot.
  bool beginMessage(int32_t slot);
  void endMessage();
  // Cuts the bytes to what was written (before, they may hold more); whether
  // every field was accepted and every message ended.
  bool finish();

 private:
  struct Frame {
    const APMPBMessageType* type;
    // Encoding position of the last field written, and whether it was
    // repeated (its next item may follow).
    int64_t position;
    bool repeated;
    // Where the length of a sub-message goes.
    size_t lengthAt;
  };
  // The field's layout entry after the checks, or NULL (logged).
  const void* place(int32_t slot, const char* kind, uint32_t wanted);
  // Room for count more bytes.
  uint8_t* grow(size_t count);

  std::vector<uint8_t>& m_bytes;
  size_t m_size = 0;
  std::vector<Frame> m_frames;
  bool m_accepted = true;
};

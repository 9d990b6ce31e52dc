// Field access: the operations through which the measurement code reads
// and writes a message's fields, by slot index (the slot tables in
// APMPBMessageTypes.cpp), named in APMPBSlots.h.
//
// Nothing here throws or reports to its caller beyond the absent result (NO,
// 0, nullopt, nullptr). Each operation begins the same way:
//  - a null message (or one without slots) writes "ProtocolBuffer message
//    hasn't been initialized. <Op> can't be performed" and reads as absent;
//  - a slot index below 0 or at or above the type's slot count, or a slot of
//    the wrong kind, writes the operation's type line, e.g. "<Nano/Failure>
//    Field type isn't a scalar INT32. Message: Event, field ID: 9", and reads
//    as absent / leaves the message unchanged (HasField and ClearField have no
//    type line: they answer NO / do nothing).
// The lines go to the platform system log.
//
// Presence: a repeated slot is always present (even empty); a singular slot
// when its cell exists (an empty string is present). Getters never create a
// cell. A failed array write leaves the field empty, never half filled.
//
// Values in arrays are platform::Values: numbers in the slot's kind (bool,
// int32, uint32, int64, uint64, float, double; enums as int32), strings,
// data, and messages as opaque values holding a NANOMessageBase
// (APMPBObjectValue / APMPBObjectFromValue).
//
// Thread safety: a message is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "measurement/messages/APMPBMessage.h"
#include "measurement/messages/APMPBSlots.h"
#include "measurement/messages/NANOMessageBase.h"
#include "platform/values/Value.h"

bool APMPBHasField(const NANOMessageBase* message, int32_t index);
void APMPBClearField(NANOMessageBase* message, int32_t index);

bool APMPBGetBool(const NANOMessageBase* message, int32_t index);
void APMPBSetBool(NANOMessageBase* message, int32_t index, bool value);
// enum, int32 and uint32 slots: the stored 32 bits.
int32_t APMPBGetInt32(const NANOMessageBase* message, int32_t index);
void APMPBSetInt32(NANOMessageBase* message, int32_t index, int32_t value);
// int64 and uint64 slots.
int64_t APMPBGetInt64(const NANOMessageBase* message, int32_t index);
void APMPBSetInt64(NANOMessageBase* message, int32_t index, int64_t value);
float APMPBGetFloat(const NANOMessageBase* message, int32_t index);
void APMPBSetFloat(NANOMessageBase* message, int32_t index, float value);
double APMPBGetDouble(const NANOMessageBase* message, int32_t index);
void APMPBSetDouble(NANOMessageBase* message, int32_t index, double value);

// nullopt when absent or not valid UTF-8.
std::optional<std::string> APMPBGetString(const NANOMessageBase* message, int32_t index);
// nullopt clears the field.
void APMPBSetString(NANOMessageBase* message, int32_t index, std::optional<std::string_view> value);

// String and bytes slots only; others log "<Nano/Failure> Field type isn't a
// scalar BYTES. ..." and read as absent / stay unchanged.
std::optional<platform::Bytes> APMPBGetBytes(const NANOMessageBase* message, int32_t index);
void APMPBSetBytes(NANOMessageBase* message, int32_t index, std::optional<std::span<const uint8_t>> value);

// The sub-message as a wrapper of the given type (a copy: changes to it do
// not reach the parent); nullptr when absent, when the slot is not a singular
// message slot, or when the type is not the field's.
std::shared_ptr<NANOMessageBase> APMPBGetMessage(const NANOMessageBase* message, int32_t index,
                                                 const APMPBMessageType& wrapperType);
template <APMPBWrapperClass W>
std::shared_ptr<W> APMPBGetMessage(const NANOMessageBase* message, int32_t index) {
  return std::static_pointer_cast<W>(APMPBGetMessage(message, index, W::type()));
}
// Stores a deep copy of value's message; nullptr clears the field. A value of
// another type than the field's writes the MESSAGE type line and changes
// nothing.
void APMPBSetMessage(NANOMessageBase* message, int32_t index, const NANOMessageBase* value);

// The items in order; message items as wrappers of elementType (items of
// another type are left out). An empty array for a never-filled repeated
// slot; nullopt on a failed check.
std::optional<platform::Array> APMPBGetArray(const NANOMessageBase* message, int32_t index,
                                             const APMPBMessageType* elementType = nullptr);
template <APMPBWrapperClass W>
std::optional<platform::Array> APMPBGetArray(const NANOMessageBase* message, int32_t index) {
  return APMPBGetArray(message, index, &W::type());
}
// Replaces every item; nullopt clears the field. An element of the wrong kind
// writes its "Invalid object type" line and leaves the field empty.
void APMPBSetArray(NANOMessageBase* message, int32_t index, const std::optional<platform::Array>& array);

// A message instance seen in place (an item of a repeated message field, an
// instance its caller owns): the operations above read and write it like
// any message, without a copy. It owns nothing and stays valid while the
// instance lives (for an item: while its parent lives and keeps its items).
class APMPBMessageView final : public NANOMessageBase {
 public:
  explicit APMPBMessageView(APMPBMessageInfo* info) : m_info(info) {}
  const char* messageID() const override { return m_info->name; }
  APMPBMessageInfo* messageInfo() const override { return m_info; }
  const APMPBMessageType& messageType() const override { return *m_info->type; }
  std::optional<platform::Bytes> protoBuffer() const override;

 private:
  APMPBMessageInfo* m_info;
};

// The items of a repeated message field seen in place, in order (no copies:
// a reader of a deep tree visits each node once). Valid while the message
// lives and keeps its items. Empty after the "REPEATED MESSAGE" type line.
std::vector<APMPBMessageView> APMPBGetMessageViews(const NANOMessageBase* message, int32_t index);

// Appends an empty item to a repeated message field (made in the message's
// block while room lasts) and hands it out for filling in place; nullopt
// after the "REPEATED MESSAGE" type line, or when memory runs out.
std::optional<APMPBMessageView> APMPBAppendMessage(NANOMessageBase* message, int32_t index);

// Message objects inside platform::Values (array items).
platform::Value APMPBObjectValue(std::shared_ptr<NANOMessageBase> object);
std::shared_ptr<NANOMessageBase> APMPBObjectFromValue(const platform::Value& value);
template <APMPBWrapperClass W>
std::shared_ptr<W> APMPBObjectFromValue(const platform::Value& value) {
  std::shared_ptr<NANOMessageBase> object = APMPBObjectFromValue(value);
  if (object == nullptr || &object->messageType() != &W::type()) return nullptr;
  return std::static_pointer_cast<W>(object);
}

// The class name of a value as the diagnostics print it ("NSNumber",
// "NSString", "NSData", ..., "APMPBEvent" for a message).
std::string APMPBClassName(const platform::Value& value);

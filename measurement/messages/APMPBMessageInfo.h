// The slot model: every measurement wire message lives in memory as one
// APMPBMessageInfo, an array of cell pointers addressed by slot index (the
// field's position in ascending tag order; MeasurementBundle has its own
// order, see APMPBMessageTypes.cpp) plus the type's static flag table and name.
//
// Cells are heap blocks owned by the message:
//  - APMPBValueCell: one scalar (bool/enum/int32/uint32 zero-extended to 64
//    bits, int64, uint64, double, or a float in the first 4 bytes);
//  - APMPBBytesCell: string or bytes, always read through its length. A cell
//    that exists is present, also with length 0; its bytes are never NULL for
//    a stored value (they carry one NUL after the length). A cell made by
//    APMPBStoreString holds its bytes in its own block, right behind it;
//    APMPBFreeString frees bytes held apart and leaves those;
//  - APMPBRepeatedField: the record of a repeated slot, made with the message
//    and freed only with it; items are value cells, bytes cells or messages.
//  - a singular message slot points to an APMPBMessageInfo of its type.
//
// A message made in a block (APMPBMessageType::newMessageInfoInBlock) takes
// its record, and while room lasts the cells and items made for it through
// the field operations, from one allocation (APMPBBlock). What lives in the
// block is never freed on its own: a cleared or replaced cell stays unused
// until the block goes with the message. Item arrays of repeated records
// always live apart.
//
// The cell operations and wire callbacks below are what the per-type routines
// (APMPBMessageType.h) use to fill cells and to connect them to nanopb. A NULL
// destination writes its "<ERROR>" line to standard output and does nothing.
//
// Thread safety: none. A message is used by one thread at a time; the static
// tables are read-only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <pb.h>

struct APMPBMessageType;

using APMPBFieldFlags = uint32_t;

// Label and type bits of APMPBFieldFlags (one label bit, one type bit).
inline constexpr APMPBFieldFlags kAPMPBFieldSingular = 0x2;
inline constexpr APMPBFieldFlags kAPMPBFieldRepeated = 0x8;
inline constexpr APMPBFieldFlags kAPMPBFieldBool = 0x20;
inline constexpr APMPBFieldFlags kAPMPBFieldEnum = 0x40;
inline constexpr APMPBFieldFlags kAPMPBFieldInt32 = 0x80;
inline constexpr APMPBFieldFlags kAPMPBFieldUInt32 = 0x100;
inline constexpr APMPBFieldFlags kAPMPBFieldInt64 = 0x200;
inline constexpr APMPBFieldFlags kAPMPBFieldUInt64 = 0x400;
inline constexpr APMPBFieldFlags kAPMPBFieldFloat = 0x800;
inline constexpr APMPBFieldFlags kAPMPBFieldDouble = 0x1000;
inline constexpr APMPBFieldFlags kAPMPBFieldString = 0x2000;
inline constexpr APMPBFieldFlags kAPMPBFieldMessage = 0x4000;
inline constexpr APMPBFieldFlags kAPMPBFieldBytes = 0x8000;

// Strings and bytes longer than this are refused by the decoder.
inline constexpr size_t kAPMPBMaxDecodedBytes = 1048576;

// Repeated-message nesting accepted by the decoder (the top-level message is
// depth 0; each sub-message or item is one deeper).
inline constexpr uint32_t kAPMPBMaxDecodeDepth = 64;

// The total work of one decode, far above any real message (a bundle of a
// thousand events of 25 parameters makes about 7 MB): the input it reads,
// and what it makes (records, cells, item arrays and string bytes, counted
// with each allocation's overhead). Past either the decode fails with its
// "<ERROR> NAME decoder failed: ..." line.
inline constexpr size_t kAPMPBMaxDecodeInput = size_t(32) << 20;
inline constexpr size_t kAPMPBMaxDecodeMemory = size_t(16) << 20;

struct APMPBBlock;

struct APMPBMessageInfo {
  void** slots = nullptr;
  const APMPBFieldFlags* flags = nullptr;
  const char* name = nullptr;
  // The type's slot count: slot indexes are checked against it.
  uint32_t slotCount = 0;
  // The routines and tables of the message's type.
  const APMPBMessageType* type = nullptr;
  // The block this record lives in, or NULL for a record of its own.
  APMPBBlock* block = nullptr;
};

// The head of a block: the root record follows it; [head, end) is the block.
struct APMPBBlock {
  uint8_t* next;  // the first free byte
  uint8_t* end;
  APMPBMessageInfo* root;
};

union APMPBValueCell {
  uint64_t u64;
  int64_t i64;
  double d;
  float f;
};

struct APMPBBytesCell {
  uint32_t reserved;
  uint32_t length;
  uint8_t* bytes;
};

// A cell's first bytes live in its own room right behind it; a value stored
// over them later is held apart and freed on its own.
inline uint8_t* APMPBCellRoom(APMPBBytesCell* cell) { return reinterpret_cast<uint8_t*>(cell + 1); }
inline void APMPBFreeBytesHeldApart(APMPBBytesCell* cell) {
  if (cell->bytes != APMPBCellRoom(cell)) std::free(cell->bytes);
}

struct APMPBRepeatedField {
  uint32_t fillIndex;
  uint32_t count;
  void** items;
  // Items the item array can hold; grows while a decode appends.
  uint32_t capacity;
};

// --- cell operations ---------------------------------------------------------
// "slot" is the address of a cell pointer: a message slot or a repeated item.

void APMPBResetArray(APMPBRepeatedField* record);
void APMPBFreeString(APMPBBytesCell* cell);
void APMPBStoreBool(void** slot, bool value);
void APMPBStoreUInt32(void** slot, uint32_t value);
void APMPBStoreUInt64(void** slot, uint64_t value);
void APMPBStoreFloat(void** slot, float value);
void APMPBStoreDouble(void** slot, double value);
// Copies length bytes into a fresh buffer of length + 1 bytes (the last a
// NUL); an empty slot gets a cell with the buffer in its block. False
// (nothing stored) when the length does not fit the cell's 32 bits or memory
// runs out.
bool APMPBStoreString(void** slot, const void* bytes, size_t length);
bool APMPBStoreBytes(void** slot, const void* bytes, size_t length);

// --- wire callbacks ----------------------------------------------------------
// Decoders take the address of a cell pointer (strings, bytes) or the record
// (repeated fields) as their argument.

// The first occurrence of a field in the input is the one kept; a value over
// kAPMPBMaxDecodedBytes fails the decode after its "Buffer is too big" text.
bool APMPBDecodeString(pb_istream_t* stream, void** slot);
bool APMPBDecodeBytes(pb_istream_t* stream, void** slot);
bool APMPBDecodeRepeatedString(pb_istream_t* stream, APMPBRepeatedField* record);
bool APMPBDecodeRepeatedBytes(pb_istream_t* stream, APMPBRepeatedField* record);
// Packed and unpacked input arrive one value per call.
bool APMPBDecodeRepeatedVarint(pb_istream_t* stream, APMPBRepeatedField* record);

// Appends an item pointer to a record, growing its item array; false when
// memory or the 32-bit count runs out.
bool APMPBAppendItem(APMPBRepeatedField* record, void* item);

// --- blocks --------------------------------------------------------------------
// Room of size bytes (8-byte aligned, not zeroed) in the block of owner's
// record, or NULL when it has no block or the block is full.
inline void* APMPBBlockRoom(const APMPBMessageInfo* owner, size_t size) {
  APMPBBlock* block = owner != nullptr ? owner->block : nullptr;
  if (block == nullptr) return nullptr;
  const size_t rounded = (size + 7) & ~size_t(7);
  if (rounded < size || rounded > size_t(block->end - block->next)) return nullptr;
  void* room = block->next;
  block->next += rounded;
  return room;
}
// The same room, zeroed.
void* APMPBBlockAllocate(const APMPBMessageInfo* owner, size_t size);
// Whether p lives in the block of owner's record.
inline bool APMPBInBlock(const APMPBMessageInfo* owner, const void* p) {
  if (owner == nullptr || owner->block == nullptr) return false;
  const auto* byte = static_cast<const uint8_t*>(p);
  return byte >= reinterpret_cast<const uint8_t*>(owner->block) && byte < owner->block->end;
}
// A cell for a scalar slot of owner (zeroed), in its block while room lasts;
// NULL when memory runs out.
void* APMPBNewValueCell(const APMPBMessageInfo* owner);
// A string or bytes cell for owner holding a copy of the bytes (and a NUL),
// the bytes in the cell's own room; NULL when memory runs out or the length
// does not fit the cell's 32 bits.
APMPBBytesCell* APMPBNewBytesCell(const APMPBMessageInfo* owner, const void* bytes, size_t length);
// Frees a value, string or bytes cell of owner (a string's bytes held apart
// too), leaving what lives in owner's block.
inline void APMPBReleaseCell(const APMPBMessageInfo* owner, void* cell, bool stringLike) {
  if (cell == nullptr) return;
  if (stringLike) {
    APMPBFreeBytesHeldApart(static_cast<APMPBBytesCell*>(cell));
  }
  if (!APMPBInBlock(owner, cell)) std::free(cell);
}


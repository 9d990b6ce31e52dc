// The per-type routines, one table-driven set for all types: the slot tables
// (APMPBMessageTypes.cpp) say what each slot holds; the generated nanopb
// descriptor, walked once per type with pb_field_iter_begin/next into a table
// of member offsets, says where its member sits in the type's nanopb
// structure.
//
// Encoding writes the wire form straight from the slots, back to front in one
// pass (see BackWriter below). Decoding goes through nanopb: the nanopb structure is a temporary
// of one decode. Strings, bytes and repeated fields are callback members
// whose argument is the slot's cell address or the repeated record; repeated
// messages get a small context (record, element type, nesting depth) that
// lives next to the structure in one block. Singular sub-messages are nested
// in place and handled by nanopb in the parent's pass.
#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include <pb_common.h>
#include <pb_decode.h>

#include "measurement/messages/APMPBMessageType.h"
#include "measurement/messages/APMPBWireWriter.h"
#include "measurement/messages/internal/APMPBDecodeBudget.h"
#include "measurement/messages/internal/APMPBDiagnostics.h"

using apmpb::consoleLine;
using apmpb::format;
using apmpb::systemLog;

namespace {

struct RepeatedMessageContext {
  APMPBRepeatedField* record;
  const APMPBMessageType* element;
  uint32_t depth;  // depth of the items
};

// How the encoder writes a field's value (for a repeated field: each item).
// The scalar kinds give the payload nanopb writes for the structure member
// the cell would fill: 32-bit members keep the low 32 bits (int32 and enums
// sign-extended, uint32 zero-extended), bools are 0 or 1, floats their 4
// bytes. Repeated scalars are written unpacked, each item's 64 bits as a
// varint.
enum class Encoding : uint8_t {
  kVarint,    // the cell's 64 bits
  kInt32,     // the low 32 bits, sign-extended
  kUInt32,    // the low 32 bits
  kZigZag32,  // the low 32 bits, sign-extended, zigzag
  kZigZag64,
  kBool,
  kFloat,     // fixed32 of the float's bits
  kFixed32,   // the low 32 bits
  kFixed64,
  kBytes,     // a string or bytes cell
  kMessage,
};

// One descriptor field: its slot and where its member and has flag sit in
// the nanopb structure (found once with pb_field_iter_begin/next), and how
// it is encoded.
struct FieldPlace {
  uint32_t slot;
  uint32_t dataOffset;
  uint32_t sizeOffset;  // the has flag of a static optional field
  bool isStatic;
  bool repeated;
  Encoding encoding;
  uint8_t tagSize;      // the tag's varint length
  uint64_t tagWord;     // field number and wire type, as written before the value
  const APMPBMessageType* messageType;  // message fields
};

uint32_t wireTypeOf(uint8_t ltype);
inline size_t varintSize(uint64_t value);

// The fields of a type in descriptor order, how many repeated message
// contexts one structure of the type needs (nested sub-messages included),
// and the size and repeated slots of a record's slot block.
struct Layout {
  std::vector<FieldPlace> fields;
  uint32_t contextCount = 0;
  size_t slotBlockSize = 0;
  std::vector<uint32_t> repeatedSlots;
  // Each slot's index in fields (its encoding position).
  std::vector<uint32_t> positionOfSlot;
};

Layout makeLayout(const APMPBMessageType& type);

// Kept out of line: the look-up below runs for every message encoded and
// every record made, and stays a few instructions.
[[gnu::noinline]] std::vector<Layout> makeLayouts() {
  std::vector<Layout> all;
  for (const APMPBMessageType* each : APMPBAllMessageTypes()) all.push_back(makeLayout(*each));
  return all;
}

inline const Layout& layoutOf(const APMPBMessageType& type) {
  static const std::vector<Layout> layouts = makeLayouts();
  return layouts[type.ordinal];
}

uint32_t slotForTag(const APMPBMessageType& type, uint32_t tag) {
  for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
    if (type.slots[slot].tag == tag) return slot;
  }
  return UINT32_MAX;
}

uint32_t contextCountOf(const APMPBMessageType& type) {
  uint32_t count = 0;
  for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
    const APMPBFieldFlags flags = type.flags[slot];
    if ((flags & kAPMPBFieldMessage) == 0) continue;
    if (flags & kAPMPBFieldRepeated) {
      ++count;
    } else {
      count += contextCountOf(*type.slots[slot].messageType);
    }
  }
  return count;
}

Encoding encodingOf(APMPBFieldFlags flags, uint8_t ltype, size_t dataSize) {
  if (flags & (kAPMPBFieldString | kAPMPBFieldBytes)) return Encoding::kBytes;
  if (flags & kAPMPBFieldMessage) return Encoding::kMessage;
  if (flags & kAPMPBFieldRepeated) return Encoding::kVarint;
  if (flags & kAPMPBFieldBool) return Encoding::kBool;
  if (flags & kAPMPBFieldFloat) return Encoding::kFloat;
  const uint32_t wire = wireTypeOf(ltype);
  if (dataSize == 4) {
    if (wire == 5) return Encoding::kFixed32;
    if (ltype == PB_LTYPE_VARINT) return Encoding::kInt32;
    if (ltype == PB_LTYPE_SVARINT) return Encoding::kZigZag32;
    return Encoding::kUInt32;
  }
  if (wire == 5) return Encoding::kFixed32;
  if (wire == 1) return Encoding::kFixed64;
  if (ltype == PB_LTYPE_SVARINT) return Encoding::kZigZag64;
  return Encoding::kVarint;
}

Layout makeLayout(const APMPBMessageType& type) {
  Layout layout;
  layout.contextCount = contextCountOf(type);
  for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
    if (type.flags[slot] & kAPMPBFieldRepeated) layout.repeatedSlots.push_back(slot);
  }
  layout.slotBlockSize = type.slotCount * sizeof(void*) + layout.repeatedSlots.size() * sizeof(APMPBRepeatedField);
  std::vector<uint8_t> scratch(type.structSize);
  const uint8_t* base = scratch.data();
  pb_field_iter_t iter;
  if (pb_field_iter_begin(&iter, type.fields, scratch.data())) {
    do {
      FieldPlace place{};
      place.slot = slotForTag(type, iter.tag);
      place.dataOffset = static_cast<uint32_t>(static_cast<uint8_t*>(iter.pData) - base);
      place.isStatic = PB_ATYPE(iter.type) == PB_ATYPE_STATIC;
      const auto ltype = static_cast<uint8_t>(PB_LTYPE(iter.type));
      const APMPBFieldFlags flags = type.flags[place.slot];
      place.repeated = (flags & kAPMPBFieldRepeated) != 0;
      place.encoding = encodingOf(flags, ltype, iter.data_size);
      place.tagWord = (uint64_t(iter.tag) << 3) | wireTypeOf(ltype);
      place.tagSize = static_cast<uint8_t>(varintSize(place.tagWord));
      place.messageType = type.slots[place.slot].messageType;
      if (iter.pSize != nullptr) place.sizeOffset = static_cast<uint32_t>(static_cast<uint8_t*>(iter.pSize) - base);
      if (place.slot < type.slotCount) {
        layout.positionOfSlot.resize(type.slotCount, UINT32_MAX);
        layout.positionOfSlot[place.slot] = static_cast<uint32_t>(layout.fields.size());
      }
      layout.fields.push_back(place);
    } while (pb_field_iter_next(&iter));
  }
  return layout;
}

// The nanopb structure of one message and the contexts of its repeated
// message fields, zeroed, in one block. The inline block holds every type's
// frame (MeasurementBundle's, the largest, takes about 1.3 KB): a heap block
// here would cost a large allocation per decode.
class Frame {
 public:
  explicit Frame(const APMPBMessageType& type) {
    const size_t structBytes = (type.structSize + alignof(RepeatedMessageContext) - 1) &
                               ~(alignof(RepeatedMessageContext) - 1);
    const size_t total = structBytes + layoutOf(type).contextCount * sizeof(RepeatedMessageContext);
    if (total <= sizeof(m_inline)) {
      std::memset(m_inline, 0, total);
      m_block = m_inline;
    } else {
      m_heap.reset(new (std::nothrow) unsigned char[total]());
      m_block = m_heap.get();
    }
    if (m_block != nullptr) m_next = reinterpret_cast<RepeatedMessageContext*>(m_block + structBytes);
  }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  bool valid() const { return m_block != nullptr; }
  void* structure() const { return m_block; }
  RepeatedMessageContext* nextContext() { return m_next++; }

 private:
  alignas(std::max_align_t) unsigned char m_inline[1536];
  std::unique_ptr<unsigned char[]> m_heap;
  unsigned char* m_block = nullptr;
  RepeatedMessageContext* m_next = nullptr;
};

bool isStringLike(APMPBFieldFlags flags) { return (flags & (kAPMPBFieldString | kAPMPBFieldBytes)) != 0; }

// Frees one cell or item of owner's: a message through its type (a record
// in a block leaves its block's room alone), a cell unless it lives in
// owner's block; a string's bytes held apart go either way.
inline void freeItem(const APMPBMessageInfo* owner, APMPBFieldFlags flags, const APMPBSlot& slot, void* item) {
  if (item == nullptr) return;
  if (flags & kAPMPBFieldMessage) {
    slot.messageType->freeMessageInfo(static_cast<APMPBMessageInfo*>(item));
    return;
  }
  APMPBReleaseCell(owner, item, isStringLike(flags));
}

// --- decoding ------------------------------------------------------------------

bool decodeMessage(const APMPBMessageType& type, pb_istream_t* stream, APMPBMessageInfo* info, uint32_t depth);

// What newMessageInfo takes from the heap for a record of the type.
size_t recordCost(const APMPBMessageType& type) {
  return apmpb::allocationCost(sizeof(APMPBMessageInfo) + layoutOf(type).slotBlockSize);
}

bool decodeStringCallback(pb_istream_t* stream, const pb_field_t*, void** arg) {
  return APMPBDecodeString(stream, static_cast<void**>(*arg));
}

bool decodeRepeatedStringCallback(pb_istream_t* stream, const pb_field_t*, void** arg) {
  return APMPBDecodeRepeatedString(stream, static_cast<APMPBRepeatedField*>(*arg));
}

bool decodeRepeatedVarintCallback(pb_istream_t* stream, const pb_field_t*, void** arg) {
  return APMPBDecodeRepeatedVarint(stream, static_cast<APMPBRepeatedField*>(*arg));
}

// One item of a repeated message field, decoded straight from the parent's
// buffer within the item's bytes (no copy per level).
bool decodeRepeatedMessageCallback(pb_istream_t* stream, const pb_field_t*, void** arg) {
  auto* context = static_cast<RepeatedMessageContext*>(*arg);
  const APMPBMessageType& type = *context->element;
  if (context->record == nullptr) {
    consoleLine(format("<ERROR> %s decoder failed: Invalid arg parameter", type.name));
    return false;
  }
  if (context->depth > kAPMPBMaxDecodeDepth) {
    consoleLine(format("<ERROR> %s decoder failed: Nesting deeper than %u levels", type.name, kAPMPBMaxDecodeDepth));
    return false;
  }
  if (!apmpb::chargeDecode(recordCost(type) + apmpb::kItemPointerCost)) return false;
  APMPBMessageInfo* item = type.newMessageInfo();
  if (item == nullptr) {
    consoleLine(format("<ERROR> %s decoder failed: Unable to initialize MessageInfo", type.name));
    return false;
  }
  // The item reads the same bytes through a stream of its own, so its errors
  // stay its own and the parent reports only that the item failed.
  pb_istream_t itemStream = *stream;
  itemStream.errmsg = nullptr;
  if (!decodeMessage(type, &itemStream, item, context->depth)) {
    consoleLine(format("<ERROR> %s decoder failed: Unable to decode repeated %s", type.name, type.name));
    type.freeMessageInfo(item);
    return false;
  }
  stream->state = itemStream.state;
  stream->bytes_left = itemStream.bytes_left;
  if (!APMPBAppendItem(context->record, item)) {
    type.freeMessageInfo(item);
    return false;
  }
  return true;
}

bool setDecoders(const APMPBMessageType& type, APMPBMessageInfo* info, void* structure, uint32_t depth, Frame& frame) {
  if (info == nullptr || structure == nullptr) return false;
  auto* base = static_cast<uint8_t*>(structure);
  for (const FieldPlace& place : layoutOf(type).fields) {
    const uint32_t slot = place.slot;
    const APMPBFieldFlags flags = type.flags[slot];
    void* data = base + place.dataOffset;
    auto* callback = static_cast<pb_callback_t*>(data);
    if (flags & kAPMPBFieldRepeated) {
      auto* record = static_cast<APMPBRepeatedField*>(info->slots[slot]);
      if (record == nullptr) return false;
      APMPBResetArray(record);
      if (flags & kAPMPBFieldMessage) {
        RepeatedMessageContext* context = frame.nextContext();
        *context = {record, type.slots[slot].messageType, depth + 1};
        callback->funcs.decode = decodeRepeatedMessageCallback;
        callback->arg = context;
      } else if (isStringLike(flags)) {
        callback->funcs.decode = decodeRepeatedStringCallback;
        callback->arg = record;
      } else {
        callback->funcs.decode = decodeRepeatedVarintCallback;
        callback->arg = record;
      }
    } else if (isStringLike(flags)) {
      callback->funcs.decode = decodeStringCallback;
      callback->arg = &info->slots[slot];
    } else if (flags & kAPMPBFieldMessage) {
      const APMPBMessageType& subType = *type.slots[slot].messageType;
      type.deallocMessageField(info, slot);
      if (!apmpb::chargeDecode(recordCost(subType))) return false;
      APMPBMessageInfo* sub = subType.newMessageInfo();
      if (sub == nullptr) return false;
      info->slots[slot] = sub;
      if (!setDecoders(subType, sub, data, depth + 1, frame)) return false;
    }
  }
  return true;
}

// False when the cells would take the decode over its budget.
bool storeDecodedScalars(const APMPBMessageType& type, void* structure, APMPBMessageInfo* info) {
  const auto* base = static_cast<const uint8_t*>(structure);
  for (const FieldPlace& place : layoutOf(type).fields) {
    if (!place.isStatic) continue;
    const uint32_t slot = place.slot;
    const APMPBFieldFlags flags = type.flags[slot];
    const void* data = base + place.dataOffset;
    const bool present = *reinterpret_cast<const bool*>(base + place.sizeOffset);
    if (flags & kAPMPBFieldMessage) {
      auto* sub = static_cast<APMPBMessageInfo*>(info->slots[slot]);
      if (present) {
        if (!storeDecodedScalars(*type.slots[slot].messageType, const_cast<void*>(data), sub)) return false;
      } else {
        type.deallocMessageField(info, slot);
      }
      continue;
    }
    if (!present) continue;
    void** cell = &info->slots[slot];
    if (*cell == nullptr && !apmpb::chargeDecode(apmpb::allocationCost(sizeof(APMPBValueCell)))) return false;
    if (flags & kAPMPBFieldBool) {
      APMPBStoreBool(cell, *static_cast<const bool*>(data));
    } else if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldUInt32)) {
      uint32_t value;
      std::memcpy(&value, data, sizeof(value));
      APMPBStoreUInt32(cell, value);
    } else if (flags & (kAPMPBFieldInt64 | kAPMPBFieldUInt64)) {
      uint64_t value;
      std::memcpy(&value, data, sizeof(value));
      APMPBStoreUInt64(cell, value);
    } else if (flags & kAPMPBFieldFloat) {
      APMPBStoreFloat(cell, *static_cast<const float*>(data));
    } else if (flags & kAPMPBFieldDouble) {
      APMPBStoreDouble(cell, *static_cast<const double*>(data));
    }
  }
  return true;
}

bool decodeMessage(const APMPBMessageType& type, pb_istream_t* stream, APMPBMessageInfo* info, uint32_t depth) {
  Frame frame(type);
  if (!frame.valid() || !setDecoders(type, info, frame.structure(), depth, frame)) {
    consoleLine(format("<ERROR> %s decoder failed: Unable to set decoders", type.name));
    return false;
  }
  // The frame is zeroed and no field has a declared default, so nanopb's own
  // initialisation pass would only write zeros again.
  if (!pb_decode_ex(stream, type.fields, frame.structure(), PB_DECODE_NOINIT)) {
    consoleLine(format("<ERROR> %s decoder failed: %s", type.name, stream->errmsg ? stream->errmsg : "(none)"));
    return false;
  }
  return storeDecodedScalars(type, frame.structure(), info);
}

// --- encoding ------------------------------------------------------------------
//
// Encoding writes the wire form straight from the slots, in the descriptor's
// field order and with the descriptor's tags and value kinds, byte for byte
// what nanopb writes for the same structure: a measuring pass finds every
// message's length (kept in pre-order for the writing pass, so no length is
// computed twice) and the writing pass fills one buffer of exactly that size.

constexpr uint32_t kWireVarint = 0;
constexpr uint32_t kWireFixed64 = 1;
constexpr uint32_t kWireDelimited = 2;
constexpr uint32_t kWireFixed32 = 5;

uint32_t wireTypeOf(uint8_t ltype) {
  switch (ltype) {
    case PB_LTYPE_FIXED32: return kWireFixed32;
    case PB_LTYPE_FIXED64: return kWireFixed64;
    case PB_LTYPE_BOOL:
    case PB_LTYPE_VARINT:
    case PB_LTYPE_UVARINT:
    case PB_LTYPE_SVARINT: return kWireVarint;
    default: return kWireDelimited;
  }
}

inline size_t varintSize(uint64_t value) {
  // Most tags, lengths and values take one byte.
  if (value < 0x80) return 1;
  return size_t(std::bit_width(value) + 6) / 7;
}

inline uint8_t* putVarint(uint8_t* out, uint64_t value) {
  while (value >= 0x80) {
    *out++ = static_cast<uint8_t>(value | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<uint8_t>(value);
  return out;
}

uint8_t* putFixed(uint8_t* out, uint64_t value, size_t bytes) {
  for (size_t index = 0; index < bytes; ++index) *out++ = static_cast<uint8_t>(value >> (8 * index));
  return out;
}

// The varint or fixed payload of a scalar cell (see Encoding).
[[gnu::always_inline]] inline uint64_t payloadOf(Encoding encoding, const APMPBValueCell& cell) {
  const auto low = static_cast<uint32_t>(cell.u64);
  switch (encoding) {
    case Encoding::kInt32: return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(low)));
    case Encoding::kUInt32:
    case Encoding::kFixed32: return low;
    case Encoding::kZigZag32: {
      const auto value = static_cast<int64_t>(static_cast<int32_t>(low));
      return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
    }
    case Encoding::kZigZag64: return (cell.u64 << 1) ^ static_cast<uint64_t>(cell.i64 >> 63);
    case Encoding::kBool: return static_cast<uint8_t>(cell.u64) != 0 ? 1 : 0;
    case Encoding::kFloat: {
      uint32_t bits;
      std::memcpy(&bits, &cell.f, sizeof(bits));
      return bits;
    }
    default: return cell.u64;
  }
}

// The lengths of the sub-messages of one encoding, in the order the measuring
// pass meets them; the writing pass reads them back in the same order.
class Lengths {
 public:
  size_t reserve() {
    if (m_count < m_inline.size()) return m_count++;
    m_heap.resize(m_count + 1 - m_inline.size());
    return m_count++;
  }
  uint64_t& operator[](size_t index) {
    return index < m_inline.size() ? m_inline[index] : m_heap[index - m_inline.size()];
  }
  uint64_t next() { return (*this)[m_read++]; }

 private:
  // Written by reserve()'s caller before it is read.
  std::array<uint64_t, 32> m_inline;
  std::vector<uint64_t> m_heap;
  size_t m_count = 0;
  size_t m_read = 0;
};

bool validInstance(const APMPBMessageType& type, const APMPBMessageInfo* info) {
  return info != nullptr && info->slots != nullptr && info->type == &type;
}

bool measure(const APMPBMessageType& type, const APMPBMessageInfo* info, Lengths& lengths, uint64_t& size);

// The payload of a scalar cell: its length, and writing it.
inline size_t scalarLength(Encoding encoding, const APMPBValueCell& cell) {
  switch (encoding) {
    case Encoding::kFloat:
    case Encoding::kFixed32: return 4;
    case Encoding::kFixed64: return 8;
    default: return varintSize(payloadOf(encoding, cell));
  }
}

inline uint8_t* putScalar(uint8_t* out, Encoding encoding, const APMPBValueCell& cell) {
  switch (encoding) {
    case Encoding::kFloat:
    case Encoding::kFixed32: return putFixed(out, payloadOf(encoding, cell), 4);
    case Encoding::kFixed64: return putFixed(out, payloadOf(encoding, cell), 8);
    default: return putVarint(out, payloadOf(encoding, cell));
  }
}

// What follows the tag of one value or item: false when it cannot be
// encoded (a string cell without bytes, a sub-message that cannot be).
inline bool measureValue(const FieldPlace& place, const void* value, Lengths& lengths, uint64_t& length) {
  switch (place.encoding) {
    case Encoding::kBytes: {
      const auto* cell = static_cast<const APMPBBytesCell*>(value);
      if (cell->bytes == nullptr) return false;
      length = varintSize(cell->length) + cell->length;
      return true;
    }
    case Encoding::kMessage: {
      const size_t at = lengths.reserve();
      uint64_t inner = 0;
      if (!measure(*place.messageType, static_cast<const APMPBMessageInfo*>(value), lengths, inner)) return false;
      lengths[at] = inner;
      length = varintSize(inner) + inner;
      return true;
    }
    default:
      length = scalarLength(place.encoding, *static_cast<const APMPBValueCell*>(value));
      return true;
  }
}

// The encoded length of a message, or false when it cannot be encoded: a
// foreign or missing instance, a repeated record that was never made, a
// string cell without bytes, a missing item.
bool measure(const APMPBMessageType& type, const APMPBMessageInfo* info, Lengths& lengths, uint64_t& size) {
  if (!validInstance(type, info)) return false;
  uint64_t total = 0;
  uint64_t length = 0;
  for (const FieldPlace& place : layoutOf(type).fields) {
    const void* value = info->slots[place.slot];
    if (!place.repeated) {
      if (value == nullptr) continue;
      if (!measureValue(place, value, lengths, length)) return false;
      total += place.tagSize + length;
      continue;
    }
    const auto* record = static_cast<const APMPBRepeatedField*>(value);
    if (record == nullptr) {
      consoleLine(format("<ERROR> %s Encoder: '%s' should have been allocated", type.name,
                         type.slots[place.slot].fieldName));
      return false;
    }
    if (record->count == 0) continue;
    if (record->items == nullptr) return false;
    for (uint32_t index = 0; index < record->count; ++index) {
      const void* item = record->items[index];
      if (item == nullptr || !measureValue(place, item, lengths, length)) return false;
      total += place.tagSize + length;
    }
  }
  size = total;
  return true;
}

// The thread's scratch buffer of the encoder, kept between encodings while
// it stays small. Plain data, so it stays readable until the thread ends: a
// releaser frees the buffer at thread exit and marks it gone, after which an
// encoding (from a later exit-time destructor) uses a buffer of its own.
struct EncodeScratch {
  uint8_t* buffer;
  size_t capacity;
  bool releaserMade;
  bool gone;
};
thread_local EncodeScratch t_encodeScratch{};

struct EncodeScratchReleaser {
  ~EncodeScratchReleaser() {
    delete[] t_encodeScratch.buffer;
    t_encodeScratch = {nullptr, 0, true, true};
  }
};

// Writes one encoding from the end of a buffer towards its front, last field
// first: a sub-message's length is then what was written since it started, so
// nothing is sized twice.
class BackWriter {
 public:
  BackWriter() {
    EncodeScratch& scratch = t_encodeScratch;
    if (scratch.buffer != nullptr) {
      m_buffer.reset(scratch.buffer);
      m_capacity = scratch.capacity;
      scratch.buffer = nullptr;
    }
    m_at = m_buffer.get() + m_capacity;
  }
  ~BackWriter() {
    EncodeScratch& scratch = t_encodeScratch;
    if (m_capacity > kKeptScratch || scratch.gone || scratch.buffer != nullptr) return;
    if (!scratch.releaserMade) {
      static thread_local EncodeScratchReleaser releaser;
      scratch.releaserMade = true;
    }
    scratch.capacity = m_capacity;
    scratch.buffer = m_buffer.release();
  }
  BackWriter(const BackWriter&) = delete;
  BackWriter& operator=(const BackWriter&) = delete;

  size_t written() const { return size_t(m_buffer.get() + m_capacity - m_at); }
  const uint8_t* data() const { return m_at; }

  // Room for count bytes in front of what was written, to be filled from its
  // start; NULL past INT32_MAX bytes in all or when memory runs out.
  uint8_t* room(size_t count) {
    if (count > size_t(m_at - m_buffer.get()) && !grow(count)) return nullptr;
    m_at -= count;
    return m_at;
  }

 private:
  static constexpr size_t kKeptScratch = size_t(64) << 10;

  [[gnu::noinline]] bool grow(size_t count) {
    const size_t used = written();
    if (count > size_t(INT32_MAX) - used) return false;
    const size_t capacity = std::max({m_capacity * 2, used + count, size_t(4096)});
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
    if (!grown) return false;
    if (used > 0) std::memcpy(grown.get() + capacity - used, m_at, used);
    m_buffer = std::move(grown);
    m_capacity = capacity;
    m_at = m_buffer.get() + capacity - used;
    return true;
  }

  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_capacity = 0;
  uint8_t* m_at = nullptr;
};

bool writeBack(const APMPBMessageType& type, const APMPBMessageInfo* info, BackWriter& out);

// Copies a string's bytes; names and short values (most strings) without a
// call, as two overlapping fixed-size moves.
[[gnu::always_inline]] inline void copyBytes(uint8_t* out, const uint8_t* bytes, size_t length) {
  if (length >= 8 && length <= 16) {
    std::memcpy(out, bytes, 8);
    std::memcpy(out + length - 8, bytes + length - 8, 8);
  } else if (length >= 4 && length < 8) {
    std::memcpy(out, bytes, 4);
    std::memcpy(out + length - 4, bytes + length - 4, 4);
  } else if (length > 0) {
    std::memcpy(out, bytes, length);
  }
}

// A field's tag: almost always one byte.
[[gnu::always_inline]] inline uint8_t* putTag(uint8_t* out, const FieldPlace& place) {
  if (place.tagSize != 1) return putVarint(out, place.tagWord);
  *out = static_cast<uint8_t>(place.tagWord);
  return out + 1;
}

// A sub-message with its tag and length.
[[gnu::always_inline]] inline bool writeMessageBack(const FieldPlace& place, const APMPBMessageInfo* value,
                                                    BackWriter& out) {
  const size_t from = out.written();
  if (!writeBack(*place.messageType, value, out)) return false;
  const size_t length = out.written() - from;
  uint8_t* at = out.room(place.tagSize + varintSize(length));
  if (at == nullptr) return false;
  putVarint(putTag(at, place), length);
  return true;
}

// One value or item with its tag; false where measure() refuses it.
[[gnu::always_inline]] inline bool writeValueBack(const FieldPlace& place, const void* value, BackWriter& out) {
  switch (place.encoding) {
    case Encoding::kBytes: {
      const auto* cell = static_cast<const APMPBBytesCell*>(value);
      if (cell->bytes == nullptr) return false;
      uint8_t* at = out.room(place.tagSize + varintSize(cell->length) + cell->length);
      if (at == nullptr) return false;
      at = putVarint(putTag(at, place), cell->length);
      copyBytes(at, cell->bytes, cell->length);
      return true;
    }
    case Encoding::kMessage: return writeMessageBack(place, static_cast<const APMPBMessageInfo*>(value), out);
    case Encoding::kFloat:
    case Encoding::kFixed32:
    case Encoding::kFixed64: {
      const auto& cell = *static_cast<const APMPBValueCell*>(value);
      uint8_t* at = out.room(place.tagSize + scalarLength(place.encoding, cell));
      if (at == nullptr) return false;
      putScalar(putVarint(at, place.tagWord), place.encoding, cell);
      return true;
    }
    default: {
      // 64-bit varints, the common scalar, straight from the cell.
      const auto& cell = *static_cast<const APMPBValueCell*>(value);
      const uint64_t payload = place.encoding == Encoding::kVarint ? cell.u64 : payloadOf(place.encoding, cell);
      uint8_t* at = out.room(place.tagSize + varintSize(payload));
      if (at == nullptr) return false;
      putVarint(putTag(at, place), payload);
      return true;
    }
  }
}

// The fields in reverse encoding order, each repeated field's items last
// first; false (nothing said) wherever measure() fails.
bool writeBack(const APMPBMessageType& type, const APMPBMessageInfo* info, BackWriter& out) {
  if (!validInstance(type, info)) return false;
  const std::vector<FieldPlace>& fields = layoutOf(type).fields;
  void* const* slots = info->slots;
  for (auto place = fields.rbegin(); place != fields.rend(); ++place) {
    const void* value = slots[place->slot];
    if (!place->repeated) {
      if (value != nullptr && !writeValueBack(*place, value, out)) return false;
      continue;
    }
    const auto* record = static_cast<const APMPBRepeatedField*>(value);
    if (record == nullptr) return false;
    if (record->count == 0) continue;
    if (record->items == nullptr) return false;
    if (place->encoding == Encoding::kMessage) {
      // A missing item is no valid instance.
      for (uint32_t index = record->count; index-- > 0;) {
        if (!writeMessageBack(*place, static_cast<const APMPBMessageInfo*>(record->items[index]), out)) return false;
      }
      continue;
    }
    for (uint32_t index = record->count; index-- > 0;) {
      const void* item = record->items[index];
      if (item == nullptr || !writeValueBack(*place, item, out)) return false;
    }
  }
  return true;
}

bool copyCell(APMPBFieldFlags flags, const APMPBSlot& slotInfo, void** destination, const void* source) {
  if (flags & kAPMPBFieldMessage) {
    auto** target = reinterpret_cast<APMPBMessageInfo**>(destination);
    return slotInfo.messageType->copyMessageInfo(target, static_cast<const APMPBMessageInfo*>(source));
  }
  if (isStringLike(flags)) {
    const auto* cell = static_cast<const APMPBBytesCell*>(source);
    if (cell->bytes == nullptr) {
      // A present value without bytes stays so in the copy.
      *destination = std::calloc(1, sizeof(APMPBBytesCell));
      return *destination != nullptr;
    }
    return APMPBStoreString(destination, cell->bytes, cell->length);
  }
  const auto* cell = static_cast<const APMPBValueCell*>(source);
  if (flags & kAPMPBFieldFloat) {
    APMPBStoreFloat(destination, cell->f);
  } else {
    APMPBStoreUInt64(destination, cell->u64);
  }
  return *destination != nullptr;
}

}  // namespace

// --- the routines ------------------------------------------------------------------

namespace {

size_t slotBlockSize(const APMPBMessageType& type) { return layoutOf(type).slotBlockSize; }

// Fills a record whose zeroed slot block (slot array, then the repeated
// records) is given.
void initWithBlock(const APMPBMessageType& type, APMPBMessageInfo* info, void* block) {
  info->name = type.name;
  info->flags = type.flags;
  info->slotCount = type.slotCount;
  info->type = &type;
  info->slots = static_cast<void**>(block);
  auto* records = reinterpret_cast<APMPBRepeatedField*>(info->slots + type.slotCount);
  for (uint32_t slot : layoutOf(type).repeatedSlots) info->slots[slot] = records++;
}

// Records made by newMessageInfo carry their slot block right behind them.
void** inlineSlots(APMPBMessageInfo* info) { return reinterpret_cast<void**>(info + 1); }

}  // namespace

bool APMPBMessageType::initMessageInfo(APMPBMessageInfo* info) const {
  if (info == nullptr) return false;
  // The slot array and the repeated records share one block, freed with the
  // slot array.
  void* block = std::calloc(1, slotBlockSize(*this));
  if (block == nullptr) return false;
  initWithBlock(*this, info, block);
  return true;
}

APMPBMessageInfo* APMPBMessageType::newMessageInfo() const {
  // The record and its slot block in one allocation.
  static_assert(sizeof(APMPBMessageInfo) % alignof(APMPBRepeatedField) == 0);
  auto* info = static_cast<APMPBMessageInfo*>(std::calloc(1, sizeof(APMPBMessageInfo) + slotBlockSize(*this)));
  if (info == nullptr) return nullptr;
  initWithBlock(*this, info, inlineSlots(info));
  return info;
}

APMPBMessageInfo* APMPBMessageType::newMessageInfoInBlock(size_t spare) const {
  static_assert(sizeof(APMPBBlock) % alignof(APMPBMessageInfo) == 0);
  const size_t head = sizeof(APMPBBlock) + sizeof(APMPBMessageInfo) + slotBlockSize(*this);
  const size_t room = (spare + 7) & ~size_t(7);
  if (room < spare || room > SIZE_MAX - head) return nullptr;
  // Only the head is zeroed here: the room is zeroed as it is handed out.
  auto* bytes = static_cast<uint8_t*>(std::malloc(head + room));
  if (bytes == nullptr) return nullptr;
  std::memset(bytes, 0, head);
  auto* block = reinterpret_cast<APMPBBlock*>(bytes);
  auto* info = reinterpret_cast<APMPBMessageInfo*>(block + 1);
  block->next = bytes + head;
  block->end = bytes + head + room;
  block->root = info;
  initWithBlock(*this, info, inlineSlots(info));
  info->block = block;
  return info;
}

APMPBMessageInfo* APMPBMessageType::newMessageInfoFor(const APMPBMessageInfo* owner) const {
  void* room = APMPBBlockAllocate(owner, sizeof(APMPBMessageInfo) + slotBlockSize(*this));
  if (room == nullptr) return newMessageInfo();
  auto* info = static_cast<APMPBMessageInfo*>(room);
  initWithBlock(*this, info, inlineSlots(info));
  info->block = owner->block;
  return info;
}

bool APMPBMessageType::deallocMessageField(APMPBMessageInfo* info, uint32_t slot) const {
  if (info == nullptr || info->slots == nullptr) return false;
  if (slot >= slotCount) {
    consoleLine(format("<ERROR> %s: Cannot deallocate field %d: Unknown field", name, static_cast<int>(slot)));
    return false;
  }
  const APMPBFieldFlags slotFlags = flags[slot];
  void*& value = info->slots[slot];
  if (slotFlags & kAPMPBFieldRepeated) {
    auto* record = static_cast<APMPBRepeatedField*>(value);
    if (record == nullptr) return true;
    if (record->items != nullptr) {
      for (uint32_t index = 0; index < record->count; ++index) {
        freeItem(info, slotFlags, slots[slot], record->items[index]);
      }
    }
    APMPBResetArray(record);
    return true;
  }
  freeItem(info, slotFlags, slots[slot], value);
  value = nullptr;
  return true;
}

bool APMPBMessageType::freeMessageInfo(APMPBMessageInfo* info) const {
  if (info == nullptr) return false;
  if (info->slots != nullptr) {
    // Every field goes, so nothing is reset on the way: empty slots and
    // empty records cost a test each.
    for (uint32_t slot = 0; slot < slotCount; ++slot) {
      void* value = info->slots[slot];
      if (value == nullptr) continue;
      const APMPBFieldFlags slotFlags = flags[slot];
      if ((slotFlags & kAPMPBFieldRepeated) == 0) {
        freeItem(info, slotFlags, slots[slot], value);
        continue;
      }
      auto* record = static_cast<APMPBRepeatedField*>(value);
      if (record->items == nullptr) continue;
      for (uint32_t index = 0; index < record->count; ++index) {
        freeItem(info, slotFlags, slots[slot], record->items[index]);
      }
      std::free(record->items);
    }
    if (info->slots != inlineSlots(info)) std::free(info->slots);
  }
  // A record in a block: the block goes with its root, an item's room stays.
  if (info->block == nullptr) {
    std::free(info);
  } else if (info->block->root == info) {
    std::free(info->block);
  }
  return true;
}

bool APMPBMessageType::copyMessageInfo(APMPBMessageInfo** destination, const APMPBMessageInfo* source) const {
  if (destination == nullptr || source == nullptr || source->type != this || source->slots == nullptr) return false;
  if (*destination != nullptr) {
    const APMPBMessageType* held = (*destination)->type ? (*destination)->type : this;
    held->freeMessageInfo(*destination);
    *destination = nullptr;
  }
  APMPBMessageInfo* copy = newMessageInfo();
  if (copy == nullptr) return false;
  *destination = copy;
  for (uint32_t slot = 0; slot < slotCount; ++slot) {
    const APMPBFieldFlags slotFlags = flags[slot];
    const void* value = source->slots[slot];
    if (value == nullptr) continue;
    if ((slotFlags & kAPMPBFieldRepeated) == 0) {
      if (!copyCell(slotFlags, slots[slot], &copy->slots[slot], value)) return false;
      continue;
    }
    const auto* from = static_cast<const APMPBRepeatedField*>(value);
    if (from->count == 0 || from->items == nullptr) continue;
    auto* to = static_cast<APMPBRepeatedField*>(copy->slots[slot]);
    to->items = static_cast<void**>(std::calloc(from->count, sizeof(void*)));
    if (to->items == nullptr) return false;
    to->count = from->count;
    to->capacity = from->count;
    for (uint32_t index = 0; index < from->count; ++index) {
      if (from->items[index] == nullptr) continue;
      if (!copyCell(slotFlags, slots[slot], &to->items[index], from->items[index])) return false;
    }
    to->fillIndex = to->count;
  }
  return true;
}

bool APMPBMessageType::decode(const uint8_t* buffer, size_t length, APMPBMessageInfo* info) const {
  if (info == nullptr) {
    consoleLine(format("<ERROR> %s decoder failed: message_info is NULL", name));
    return false;
  }
  if (info->type != this || info->slots == nullptr) {
    consoleLine(format("<ERROR> %s decoder failed: Unable to set decoders", name));
    return false;
  }
  if (length > kAPMPBMaxDecodeInput) {
    consoleLine(format("<ERROR> %s decoder failed: Input too big. %zu > %zu", name, length, kAPMPBMaxDecodeInput));
    return false;
  }
  apmpb::DecodeBudget budget(name, kAPMPBMaxDecodeMemory);
  static const uint8_t kEmpty = 0;
  pb_istream_t stream = pb_istream_from_buffer(buffer != nullptr ? buffer : &kEmpty, buffer != nullptr ? length : 0);
  const bool decoded = decodeMessage(*this, &stream, info, 0);
  apmpb::flushConsoleFragment();
  return decoded;
}

namespace {

// The encoding's size with its sub-message lengths; none when a cell cannot be
// encoded or the whole is over INT32_MAX (after its line).
std::optional<size_t> measuredSize(const APMPBMessageType& type, const APMPBMessageInfo* info, Lengths& lengths) {
  uint64_t size = 0;
  if (!measure(type, info, lengths, size)) return std::nullopt;
  if (size > uint64_t(INT32_MAX)) {
    consoleLine(format("<ERROR> %s encoder failed: message too large", type.name));
    return std::nullopt;
  }
  return size_t(size);
}

// The encoding written back to front; when it fails the measuring pass runs
// for the reason's line (the writer itself says nothing).
bool encodeBack(const APMPBMessageType& type, const APMPBMessageInfo* info, BackWriter& out) {
  if (writeBack(type, info, out)) return true;
  Lengths lengths;
  measuredSize(type, info, lengths);
  return false;
}

}  // namespace

int32_t APMPBMessageType::encode(const APMPBMessageInfo* info, uint8_t** buffer) const {
  if (buffer == nullptr) return -1;
  *buffer = nullptr;
  BackWriter out;
  if (!encodeBack(*this, info, out)) return -1;
  const size_t size = out.written();
  auto* bytes = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
  if (bytes == nullptr) return -1;
  if (size > 0) std::memcpy(bytes, out.data(), size);
  *buffer = bytes;
  return static_cast<int32_t>(size);
}

bool APMPBMessageType::encodeInto(const APMPBMessageInfo* info, std::vector<uint8_t>& bytes) const {
  BackWriter out;
  if (!encodeBack(*this, info, out)) return false;
  bytes.assign(out.data(), out.data() + out.written());
  return true;
}

bool APMPBMessageType::hasArrays() const {
  for (uint32_t slot = 0; slot < slotCount; ++slot) {
    if (flags[slot] & kAPMPBFieldRepeated) return true;
    if ((flags[slot] & kAPMPBFieldMessage) && slots[slot].messageType->hasArrays()) return true;
  }
  return false;
}

// --- the writer ------------------------------------------------------------------
//
// The same bytes as write() above: each field's tag and payload from its
// layout entry, in the order the caller gives, which place() holds to the
// layout's order. A sub-message's length goes before its fields: one byte is
// kept for it, and endMessage() makes room for a longer one.

APMPBWireWriter::APMPBWireWriter(const APMPBMessageType& type, std::vector<uint8_t>& bytes) : m_bytes(bytes) {
  // Written from the start, grown ahead of the writes (a kept capacity is
  // reused); finish() cuts it to what was written.
  m_bytes.clear();
  m_frames.reserve(4);
  m_frames.push_back({&type, -1, false, 0});
}

bool APMPBWireWriter::finish() {
  m_bytes.resize(m_size);
  return m_accepted && m_frames.size() == 1;
}

uint8_t* APMPBWireWriter::grow(size_t count) {
  if (m_bytes.size() - m_size < count) m_bytes.resize(std::max({m_bytes.size() * 2, m_size + count, size_t(64)}));
  uint8_t* out = m_bytes.data() + m_size;
  m_size += count;
  return out;
}

namespace {

[[gnu::noinline, gnu::cold]] void refuse(const APMPBMessageType& type, int32_t slot, const char* kind) {
  if (kind != nullptr) {
    apmpb::logWrongKind(type.name, slot, kind);
  } else {
    systemLog(format("<Nano/Failure> Field written out of order. Message: %s, field ID: %d", type.name, slot));
  }
}

}  // namespace

inline const void* APMPBWireWriter::place(int32_t slot, const char* kind, uint32_t wanted) {
  Frame& frame = m_frames.back();
  const APMPBMessageType& type = *frame.type;
  const Layout& layout = layoutOf(type);
  const APMPBFieldFlags flags = slot >= 0 && uint32_t(slot) < type.slotCount ? type.flags[slot] : 0;
  const bool repeated = (flags & kAPMPBFieldRepeated) != 0;
  // Singular fields of the kind; message slots also repeated.
  if ((flags & wanted) == 0 || (repeated && (wanted & kAPMPBFieldMessage) == 0) ||
      layout.positionOfSlot[slot] == UINT32_MAX) {
    refuse(type, slot, kind);
    m_accepted = false;
    return nullptr;
  }
  const int64_t position = layout.positionOfSlot[slot];
  if (position < frame.position || (position == frame.position && !(repeated && frame.repeated))) {
    refuse(type, slot, nullptr);
    m_accepted = false;
    return nullptr;
  }
  frame.position = position;
  frame.repeated = repeated;
  return &layout.fields[position];
}

void APMPBWireWriter::setString(int32_t slot, std::string_view text) {
  const auto* field = static_cast<const FieldPlace*>(place(slot, "a scalar STRING or BYTES", kAPMPBFieldString | kAPMPBFieldBytes));
  if (field == nullptr) return;
  uint8_t* out = grow(field->tagSize + varintSize(text.size()) + text.size());
  out = putVarint(putVarint(out, field->tagWord), text.size());
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
}

void APMPBWireWriter::setInt64(int32_t slot, int64_t value) {
  const auto* field = static_cast<const FieldPlace*>(place(slot, "a scalar INT64", kAPMPBFieldInt64 | kAPMPBFieldUInt64));
  if (field == nullptr) return;
  APMPBValueCell cell{};
  cell.i64 = value;
  putScalar(putVarint(grow(field->tagSize + scalarLength(field->encoding, cell)), field->tagWord), field->encoding, cell);
}

void APMPBWireWriter::setDouble(int32_t slot, double value) {
  const auto* field = static_cast<const FieldPlace*>(place(slot, "a scalar DOUBLE", kAPMPBFieldDouble));
  if (field == nullptr) return;
  APMPBValueCell cell{};
  cell.d = value;
  putScalar(putVarint(grow(field->tagSize + scalarLength(field->encoding, cell)), field->tagWord), field->encoding, cell);
}

bool APMPBWireWriter::beginMessage(int32_t slot) {
  const auto* field = static_cast<const FieldPlace*>(place(slot, "a MESSAGE", kAPMPBFieldMessage));
  if (field == nullptr) return false;
  putVarint(grow(field->tagSize), field->tagWord);
  const size_t lengthAt = m_size;
  grow(1);
  m_frames.push_back({field->messageType, -1, false, lengthAt});
  return true;
}

void APMPBWireWriter::endMessage() {
  if (m_frames.size() < 2) {
    m_accepted = false;
    return;
  }
  const size_t lengthAt = m_frames.back().lengthAt;
  m_frames.pop_back();
  const size_t length = m_size - lengthAt - 1;
  const size_t extra = varintSize(length) - 1;
  if (extra > 0) {
    grow(extra);
    uint8_t* contents = m_bytes.data() + lengthAt + 1;
    std::memmove(contents + extra, contents, length);
  }
  putVarint(m_bytes.data() + lengthAt, length);
}

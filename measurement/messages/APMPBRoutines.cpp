// The per-type routines, one table-driven set for all types: the slot tables
// (APMPBMessageTypes.cpp) say what each slot holds; the generated nanopb
// descriptor, walked once per type with pb_field_iter_begin/next into a table
// of member offsets, says where its member sits in the type's nanopb
// structure.
//
// The nanopb structure is a temporary of one decode or encode. Strings, bytes
// and repeated fields are callback members whose argument is the slot's cell
// address, the cell or the repeated record; repeated messages get a small
// context (record, element type, nesting depth) that lives next to the
// structure in one heap block. Singular sub-messages are nested in place and
// handled by nanopb in the parent's pass.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <pb_common.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include "measurement/messages/APMPBMessageType.h"
#include "measurement/messages/internal/APMPBDiagnostics.h"

using apmpb::consoleLine;
using apmpb::format;

namespace {

struct RepeatedMessageContext {
  APMPBRepeatedField* record;
  const APMPBMessageType* element;
  uint32_t depth;  // depth of the items
};

// One descriptor field: its slot and where its member and has flag sit in
// the nanopb structure (found once with pb_field_iter_begin/next).
struct FieldPlace {
  uint32_t slot;
  uint32_t dataOffset;
  uint32_t sizeOffset;  // the has flag of a static optional field
  bool isStatic;
};

// The fields of a type in descriptor order, and how many repeated message
// contexts one structure of the type needs (nested sub-messages included).
struct Layout {
  std::vector<FieldPlace> fields;
  uint32_t contextCount = 0;
};

Layout makeLayout(const APMPBMessageType& type);

const Layout& layoutOf(const APMPBMessageType& type) {
  static const std::vector<Layout> layouts = [] {
    std::vector<Layout> all;
    for (const APMPBMessageType* each : APMPBAllMessageTypes()) all.push_back(makeLayout(*each));
    return all;
  }();
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

Layout makeLayout(const APMPBMessageType& type) {
  Layout layout;
  layout.contextCount = contextCountOf(type);
  std::vector<uint8_t> scratch(type.structSize);
  const uint8_t* base = scratch.data();
  pb_field_iter_t iter;
  if (pb_field_iter_begin(&iter, type.fields, scratch.data())) {
    do {
      FieldPlace place{slotForTag(type, iter.tag), static_cast<uint32_t>(static_cast<uint8_t*>(iter.pData) - base), 0,
                       PB_ATYPE(iter.type) == PB_ATYPE_STATIC};
      if (iter.pSize != nullptr) place.sizeOffset = static_cast<uint32_t>(static_cast<uint8_t*>(iter.pSize) - base);
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

void freeItem(APMPBFieldFlags flags, const APMPBSlot& slot, void* item) {
  if (item == nullptr) return;
  if (flags & kAPMPBFieldMessage) {
    slot.messageType->freeMessageInfo(static_cast<APMPBMessageInfo*>(item));
    return;
  }
  if (isStringLike(flags)) APMPBFreeString(static_cast<APMPBBytesCell*>(item));
  std::free(item);
}

// --- decoding ------------------------------------------------------------------

bool decodeMessage(const APMPBMessageType& type, pb_istream_t* stream, APMPBMessageInfo* info, uint32_t depth);

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
      APMPBMessageInfo* sub = subType.newMessageInfo();
      if (sub == nullptr) return false;
      info->slots[slot] = sub;
      if (!setDecoders(subType, sub, data, depth + 1, frame)) return false;
    }
  }
  return true;
}

void storeDecodedScalars(const APMPBMessageType& type, void* structure, APMPBMessageInfo* info) {
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
        storeDecodedScalars(*type.slots[slot].messageType, const_cast<void*>(data), sub);
      } else {
        type.deallocMessageField(info, slot);
      }
      continue;
    }
    if (!present) continue;
    void** cell = &info->slots[slot];
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
  storeDecodedScalars(type, frame.structure(), info);
  return true;
}

// --- encoding ------------------------------------------------------------------

bool setEncoders(const APMPBMessageType& type, const APMPBMessageInfo* info, void* structure, Frame& frame);

bool encodeStringCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  return APMPBEncodeString(stream, field, static_cast<const APMPBBytesCell*>(*arg));
}

bool encodeRepeatedStringCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  return APMPBEncodeRepeatedString(stream, field, static_cast<const APMPBRepeatedField*>(*arg));
}

bool encodeRepeatedVarintCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  return APMPBEncodeRepeatedVarint(stream, field, static_cast<const APMPBRepeatedField*>(*arg));
}

bool encodeRepeatedMessageCallback(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* context = static_cast<const RepeatedMessageContext*>(*arg);
  if (context == nullptr || context->record == nullptr) return false;
  const APMPBRepeatedField& record = *context->record;
  if (record.count == 0) return true;
  if (record.items == nullptr) return false;
  const APMPBMessageType& type = *context->element;
  for (uint32_t index = 0; index < record.count; ++index) {
    const auto* item = static_cast<const APMPBMessageInfo*>(record.items[index]);
    if (item == nullptr) return false;
    Frame frame(type);
    if (!frame.valid() || !setEncoders(type, item, frame.structure(), frame)) return false;
    if (!pb_encode_tag_for_field(stream, field)) return false;
    if (!pb_encode_submessage(stream, type.fields, frame.structure())) return false;
  }
  return true;
}

bool setEncoders(const APMPBMessageType& type, const APMPBMessageInfo* info, void* structure, Frame& frame) {
  if (info == nullptr || info->slots == nullptr || info->type != &type) return false;
  auto* base = static_cast<uint8_t*>(structure);
  for (const FieldPlace& place : layoutOf(type).fields) {
    const uint32_t slot = place.slot;
    const APMPBFieldFlags flags = type.flags[slot];
    void* value = info->slots[slot];
    void* data = base + place.dataOffset;
    auto* callback = static_cast<pb_callback_t*>(data);
    if (flags & kAPMPBFieldRepeated) {
      auto* record = static_cast<APMPBRepeatedField*>(value);
      if (record == nullptr) {
        consoleLine(format("<ERROR> %s Encoder: '%s' should have been allocated", type.name, type.slots[slot].fieldName));
        return false;
      }
      if (record->count == 0) continue;
      if (flags & kAPMPBFieldMessage) {
        RepeatedMessageContext* context = frame.nextContext();
        *context = {record, type.slots[slot].messageType, 0};
        callback->funcs.encode = encodeRepeatedMessageCallback;
        callback->arg = context;
      } else if (isStringLike(flags)) {
        callback->funcs.encode = encodeRepeatedStringCallback;
        callback->arg = record;
      } else {
        callback->funcs.encode = encodeRepeatedVarintCallback;
        callback->arg = record;
      }
      continue;
    }
    if (value == nullptr) continue;
    if (isStringLike(flags)) {
      callback->funcs.encode = encodeStringCallback;
      callback->arg = value;
      continue;
    }
    *reinterpret_cast<bool*>(base + place.sizeOffset) = true;
    if (flags & kAPMPBFieldMessage) {
      if (!setEncoders(*type.slots[slot].messageType, static_cast<const APMPBMessageInfo*>(value), data, frame)) {
        return false;
      }
      continue;
    }
    const auto* cell = static_cast<const APMPBValueCell*>(value);
    if (flags & kAPMPBFieldBool) {
      *static_cast<bool*>(data) = static_cast<uint8_t>(cell->u64) != 0;
    } else if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldUInt32)) {
      const auto low = static_cast<uint32_t>(cell->u64);
      std::memcpy(data, &low, sizeof(low));
    } else if (flags & (kAPMPBFieldInt64 | kAPMPBFieldUInt64)) {
      std::memcpy(data, &cell->u64, sizeof(cell->u64));
    } else if (flags & kAPMPBFieldFloat) {
      *static_cast<float*>(data) = cell->f;
    } else if (flags & kAPMPBFieldDouble) {
      *static_cast<double*>(data) = cell->d;
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

uint32_t repeatedCount(const APMPBMessageType& type) {
  uint32_t repeated = 0;
  for (uint32_t slot = 0; slot < type.slotCount; ++slot) repeated += (type.flags[slot] & kAPMPBFieldRepeated) ? 1 : 0;
  return repeated;
}

size_t slotBlockSize(const APMPBMessageType& type) {
  return type.slotCount * sizeof(void*) + repeatedCount(type) * sizeof(APMPBRepeatedField);
}

// Fills a record whose zeroed slot block (slot array, then the repeated
// records) is given.
void initWithBlock(const APMPBMessageType& type, APMPBMessageInfo* info, void* block) {
  info->name = type.name;
  info->flags = type.flags;
  info->slotCount = type.slotCount;
  info->type = &type;
  info->slots = static_cast<void**>(block);
  auto* records = reinterpret_cast<APMPBRepeatedField*>(info->slots + type.slotCount);
  for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
    if (type.flags[slot] & kAPMPBFieldRepeated) info->slots[slot] = records++;
  }
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
      for (uint32_t index = 0; index < record->count; ++index) freeItem(slotFlags, slots[slot], record->items[index]);
    }
    APMPBResetArray(record);
    return true;
  }
  freeItem(slotFlags, slots[slot], value);
  value = nullptr;
  return true;
}

bool APMPBMessageType::freeMessageInfo(APMPBMessageInfo* info) const {
  if (info == nullptr) return false;
  if (info->slots != nullptr) {
    for (uint32_t slot = 0; slot < slotCount; ++slot) {
      if (!deallocMessageField(info, slot)) return false;
    }
    if (info->slots != inlineSlots(info)) std::free(info->slots);
  }
  std::free(info);
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
  static const uint8_t kEmpty = 0;
  pb_istream_t stream = pb_istream_from_buffer(buffer != nullptr ? buffer : &kEmpty, buffer != nullptr ? length : 0);
  const bool decoded = decodeMessage(*this, &stream, info, 0);
  apmpb::flushConsoleFragment();
  return decoded;
}

int32_t APMPBMessageType::encode(const APMPBMessageInfo* info, uint8_t** buffer) const {
  if (buffer == nullptr) return -1;
  *buffer = nullptr;
  Frame frame(*this);
  if (!frame.valid() || !setEncoders(*this, info, frame.structure(), frame)) return -1;
  return APMPBEncodeToBuffer(fields, frame.structure(), buffer, name);
}

bool APMPBMessageType::hasArrays() const {
  for (uint32_t slot = 0; slot < slotCount; ++slot) {
    if (flags[slot] & kAPMPBFieldRepeated) return true;
    if ((flags[slot] & kAPMPBFieldMessage) && slots[slot].messageType->hasArrays()) return true;
  }
  return false;
}

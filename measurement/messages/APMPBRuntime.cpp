// Cell operations and wire callbacks of the slot model (see
// APMPBMessageInfo.h).
#include <climits>
#include <cstdlib>
#include <cstring>

#include <pb_decode.h>

#include "measurement/messages/APMPBMessageInfo.h"
#include "measurement/messages/internal/APMPBDecodeBudget.h"
#include "measurement/messages/internal/APMPBDiagnostics.h"

using apmpb::consoleLine;

namespace {

APMPBValueCell* valueCell(void** slot) {
  if (*slot == nullptr) *slot = std::calloc(1, sizeof(APMPBValueCell));
  return static_cast<APMPBValueCell*>(*slot);
}

}  // namespace

void APMPBResetArray(APMPBRepeatedField* record) {
  if (record == nullptr) {
    consoleLine("<ERROR> Unable to initialize the array. Array pointer is NULL");
    return;
  }
  std::free(record->items);
  record->items = nullptr;
  record->fillIndex = 0;
  record->count = 0;
  record->capacity = 0;
}

void APMPBFreeString(APMPBBytesCell* cell) {
  if (cell == nullptr) {
    consoleLine("<ERROR> Unable to dealloc string field. String struct is NULL");
    return;
  }
  // Bytes in the cell's own room go with the cell.
  APMPBFreeBytesHeldApart(cell);
  std::memset(cell, 0, sizeof(*cell));
}

void APMPBStoreBool(void** slot, bool value) {
  if (slot == nullptr) {
    consoleLine("<ERROR> Unable to set bool. Destination pointer is NULL");
    return;
  }
  if (APMPBValueCell* cell = valueCell(slot)) cell->u64 = value ? 1 : 0;
}

void APMPBStoreUInt32(void** slot, uint32_t value) {
  if (slot == nullptr) {
    consoleLine("<ERROR> Unable to set uint32. Destination pointer is NULL");
    return;
  }
  if (APMPBValueCell* cell = valueCell(slot)) cell->u64 = value;
}

void APMPBStoreUInt64(void** slot, uint64_t value) {
  if (slot == nullptr) {
    consoleLine("<ERROR> Unable to set uint64. Destination pointer is NULL");
    return;
  }
  if (APMPBValueCell* cell = valueCell(slot)) cell->u64 = value;
}

void APMPBStoreFloat(void** slot, float value) {
  if (slot == nullptr) {
    consoleLine("<ERROR> Unable to set float. Destination pointer is NULL");
    return;
  }
  if (APMPBValueCell* cell = valueCell(slot)) {
    cell->u64 = 0;
    cell->f = value;
  }
}

void APMPBStoreDouble(void** slot, double value) {
  if (slot == nullptr) {
    consoleLine("<ERROR> Unable to set double. Destination pointer is NULL");
    return;
  }
  if (APMPBValueCell* cell = valueCell(slot)) cell->d = value;
}

bool APMPBStoreString(void** slot, const void* bytes, size_t length) {
  if (slot == nullptr) {
    consoleLine("<ERROR> Unable to set string. Destination array is NULL");
    return false;
  }
  if (length > UINT32_MAX - 1) return false;
  if (*slot == nullptr) {
    *slot = APMPBNewBytesCell(nullptr, bytes, length);
    return *slot != nullptr;
  }
  auto* copy = static_cast<uint8_t*>(std::malloc(length + 1));
  if (copy == nullptr) return false;
  if (length > 0) std::memcpy(copy, bytes, length);
  copy[length] = 0;
  auto* cell = static_cast<APMPBBytesCell*>(*slot);
  APMPBFreeBytesHeldApart(cell);
  cell->bytes = copy;
  cell->length = static_cast<uint32_t>(length);
  return true;
}

bool APMPBStoreBytes(void** slot, const void* bytes, size_t length) { return APMPBStoreString(slot, bytes, length); }

bool APMPBAppendItem(APMPBRepeatedField* record, void* item) {
  if (record->count == record->capacity || record->items == nullptr) {
    if (record->count == UINT32_MAX) return false;
    uint64_t wanted = record->capacity < 4 ? 4 : uint64_t(record->capacity) * 2;
    if (wanted > UINT32_MAX) wanted = UINT32_MAX;
    auto* grown = static_cast<void**>(std::realloc(record->items, size_t(wanted) * sizeof(void*)));
    if (grown == nullptr) return false;
    record->items = grown;
    record->capacity = static_cast<uint32_t>(wanted);
  }
  record->items[record->count++] = item;
  record->fillIndex = record->count;
  return true;
}

// --- blocks ------------------------------------------------------------------

void* APMPBBlockAllocate(const APMPBMessageInfo* owner, size_t size) {
  void* room = APMPBBlockRoom(owner, size);
  if (room != nullptr) std::memset(room, 0, size);
  return room;
}

void* APMPBNewValueCell(const APMPBMessageInfo* owner) {
  if (void* cell = APMPBBlockRoom(owner, sizeof(APMPBValueCell))) {
    static_cast<APMPBValueCell*>(cell)->u64 = 0;
    return cell;
  }
  return std::calloc(1, sizeof(APMPBValueCell));
}

APMPBBytesCell* APMPBNewBytesCell(const APMPBMessageInfo* owner, const void* bytes, size_t length) {
  if (length > UINT32_MAX - 1) return nullptr;
  // The cell carries its bytes right behind it: one allocation.
  const size_t size = sizeof(APMPBBytesCell) + length + 1;
  auto* cell = static_cast<APMPBBytesCell*>(APMPBBlockRoom(owner, size));
  if (cell == nullptr) cell = static_cast<APMPBBytesCell*>(std::malloc(size));
  if (cell == nullptr) return nullptr;
  cell->reserved = 0;
  cell->length = static_cast<uint32_t>(length);
  cell->bytes = APMPBCellRoom(cell);
  if (length > 0) std::memcpy(cell->bytes, bytes, length);
  cell->bytes[length] = 0;
  return cell;
}

// --- decoding ----------------------------------------------------------------

bool APMPBDecodeString(pb_istream_t* stream, void** slot) {
  if (slot == nullptr) return false;
  // A cell that exists is a value already read: the first occurrence wins.
  if (*slot != nullptr) return pb_read(stream, nullptr, stream->bytes_left);
  if (!apmpb::chargeDecode(apmpb::allocationCost(sizeof(APMPBBytesCell)))) return false;
  auto* cell = static_cast<APMPBBytesCell*>(std::calloc(1, sizeof(APMPBBytesCell)));
  if (cell == nullptr) return false;
  *slot = cell;
  const size_t length = stream->bytes_left;
  if (length > kAPMPBMaxDecodedBytes) {
    apmpb::consoleFragment(apmpb::format("Unable to process proto stream. Buffer is too big. %zu > %d", length,
                                         static_cast<int>(kAPMPBMaxDecodedBytes)));
    return false;
  }
  if (!apmpb::chargeDecode(apmpb::allocationCost(length + 1))) return false;
  cell->bytes = static_cast<uint8_t*>(std::calloc(length + 1, 1));
  if (cell->bytes == nullptr) return false;
  cell->length = static_cast<uint32_t>(length);
  if (pb_read(stream, cell->bytes, length)) return true;
  std::free(cell->bytes);
  cell->bytes = nullptr;
  return false;
}

bool APMPBDecodeBytes(pb_istream_t* stream, void** slot) { return APMPBDecodeString(stream, slot); }

bool APMPBDecodeRepeatedString(pb_istream_t* stream, APMPBRepeatedField* record) {
  if (record == nullptr) return false;
  if (!apmpb::chargeDecode(apmpb::kItemPointerCost)) return false;
  void* item = nullptr;
  if (!APMPBDecodeString(stream, &item)) {
    if (item != nullptr) {
      APMPBFreeString(static_cast<APMPBBytesCell*>(item));
      std::free(item);
    }
    return false;
  }
  if (APMPBAppendItem(record, item)) return true;
  APMPBFreeString(static_cast<APMPBBytesCell*>(item));
  std::free(item);
  return false;
}

bool APMPBDecodeRepeatedBytes(pb_istream_t* stream, APMPBRepeatedField* record) {
  return APMPBDecodeRepeatedString(stream, record);
}

bool APMPBDecodeRepeatedVarint(pb_istream_t* stream, APMPBRepeatedField* record) {
  if (record == nullptr) return false;
  uint64_t value = 0;
  if (!pb_decode_varint(stream, &value)) return false;
  if (!apmpb::chargeDecode(apmpb::allocationCost(sizeof(APMPBValueCell)) + apmpb::kItemPointerCost)) return false;
  void* item = nullptr;
  APMPBStoreUInt64(&item, value);
  if (item == nullptr) return false;
  if (APMPBAppendItem(record, item)) return true;
  std::free(item);
  return false;
}


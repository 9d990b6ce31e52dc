#include "measurement/messages/APMPBFieldAccess.h"

#include <cstdlib>
#include <cstring>

#include "measurement/messages/internal/APMPBDiagnostics.h"
#include "platform/text/Unicode.h"

using apmpb::format;
using apmpb::systemLog;

namespace {

// The instance behind a message, or nullptr after the "hasn't been
// initialized" line of the operation.
[[gnu::noinline, gnu::cold]] void logUninitialized(const char* operation) {
  systemLog(format("ProtocolBuffer message hasn't been initialized. %s can't be performed", operation));
}

inline APMPBMessageInfo* initialized(const NANOMessageBase* message, const char* operation) {
  APMPBMessageInfo* info = message != nullptr ? message->messageInfo() : nullptr;
  if (info == nullptr || info->slots == nullptr || info->type == nullptr) {
    logUninitialized(operation);
    return nullptr;
  }
  return info;
}

bool inRange(const APMPBMessageInfo* info, int32_t index) {
  return index >= 0 && static_cast<uint32_t>(index) < info->slotCount;
}

// Whether the slot exists and its flag word passes the test; otherwise the
// type line of the operation.
template <typename Test>
inline bool accepted(const APMPBMessageInfo* info, int32_t index, const char* kind, Test test) {
  if (inRange(info, index) && test(info->flags[index])) return true;
  apmpb::logWrongKind(info->name, index, kind);
  return false;
}

bool isScalar(APMPBFieldFlags flags, APMPBFieldFlags type) {
  return (flags & (type | kAPMPBFieldRepeated)) == type;
}

bool isStringOrBytes(APMPBFieldFlags flags) {
  return isScalar(flags, kAPMPBFieldString) || isScalar(flags, kAPMPBFieldBytes);
}

const APMPBValueCell* valueCell(const APMPBMessageInfo* info, int32_t index) {
  return static_cast<const APMPBValueCell*>(info->slots[index]);
}

void clearSlot(APMPBMessageInfo* info, int32_t index) {
  info->type->deallocMessageField(info, static_cast<uint32_t>(index));
}

// Replaces a string or bytes slot's value: a new cell (its bytes in its own
// room) takes the old one's place; without memory the old cell stays,
// emptied.
void storeBytes(APMPBMessageInfo* info, int32_t index, const void* bytes, size_t length) {
  void** slot = &info->slots[index];
  if (APMPBBytesCell* fresh = APMPBNewBytesCell(info, bytes, length)) {
    if (*slot != nullptr) APMPBReleaseCell(info, *slot, true);
    *slot = fresh;
    return;
  }
  if (*slot != nullptr) APMPBFreeString(static_cast<APMPBBytesCell*>(*slot));
}

// The slot of a scalar with its cell made (in the message's block while room
// lasts); the store operations then only write it.
void** scalarSlot(APMPBMessageInfo* info, int32_t index) {
  void** slot = &info->slots[index];
  if (*slot == nullptr) *slot = APMPBNewValueCell(info);
  return slot;
}

std::optional<std::string> stringFromCell(const APMPBBytesCell* cell) {
  if (cell == nullptr || cell->bytes == nullptr) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(cell->bytes), cell->length);
  if (!platform::Unicode::isValidUtf8(text)) return std::nullopt;
  return text;
}

// One array item as a platform value; null when it converts to nothing.
platform::Value itemValue(const APMPBMessageInfo* info, int32_t index, const void* item,
                          const APMPBMessageType* elementType) {
  const APMPBFieldFlags flags = info->flags[index];
  const auto* cell = static_cast<const APMPBValueCell*>(item);
  if (flags & kAPMPBFieldBool) return platform::Value(static_cast<uint8_t>(cell->u64) != 0);
  if (flags & kAPMPBFieldInt32) return platform::Value(static_cast<int32_t>(static_cast<uint32_t>(cell->u64)));
  if (flags & kAPMPBFieldUInt32) return platform::Value(static_cast<uint32_t>(cell->u64));
  if (flags & kAPMPBFieldInt64) return platform::Value(static_cast<int64_t>(cell->u64));
  if (flags & kAPMPBFieldUInt64) return platform::Value(static_cast<unsigned long long>(cell->u64));
  if (flags & kAPMPBFieldFloat) return platform::Value(cell->f);
  if (flags & kAPMPBFieldDouble) return platform::Value(cell->d);
  if (flags & kAPMPBFieldEnum) return platform::Value(static_cast<int32_t>(static_cast<uint32_t>(cell->u64)));
  if (flags & kAPMPBFieldString) {
    std::optional<std::string> text = stringFromCell(static_cast<const APMPBBytesCell*>(item));
    return text ? platform::Value(std::move(*text)) : platform::Value();
  }
  if (flags & kAPMPBFieldBytes) {
    const auto* bytes = static_cast<const APMPBBytesCell*>(item);
    if (bytes->bytes == nullptr) return {};
    return platform::Value::data(bytes->bytes, bytes->length);
  }
  if (flags & kAPMPBFieldMessage) {
    const APMPBMessageType& type = elementType != nullptr ? *elementType : *info->type->slots[index].messageType;
    if (!type.hasWrapper) {
      systemLog(format("<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: APMPB%s", type.name));
      return {};
    }
    std::shared_ptr<NANOMessageBase> wrapper = APMPBWrapperForType(type, static_cast<const APMPBMessageInfo*>(item));
    return wrapper ? APMPBObjectValue(std::move(wrapper)) : platform::Value();
  }
  systemLog(format("<ERROR> Unable to convert byte data to an ObjC object. Unknown type. %d", static_cast<int>(flags)));
  return {};
}

// Stores one array element into an item; false after its "Invalid object
// type" line.
bool storeItem(const APMPBMessageInfo* info, int32_t index, void** item, const platform::Value& element) {
  const APMPBFieldFlags flags = info->flags[index];
  auto wrong = [&](const char* kind, const char* expected) {
    systemLog(format("<ERROR> Invalid object type. %s fields expect %s. Type: %s", kind, expected,
                     APMPBClassName(element).c_str()));
    return false;
  };
  if (flags & kAPMPBFieldBool) {
    if (!element.isNumeric()) return wrong("Boolean", "NSNumber");
    APMPBStoreBool(item, element.boolValue());
  } else if (flags & (kAPMPBFieldInt32 | kAPMPBFieldUInt32)) {
    if (!element.isNumeric()) return wrong("Int32", "NSNumber");
    APMPBStoreUInt32(item, element.numberAs<uint32_t>());
  } else if (flags & (kAPMPBFieldInt64 | kAPMPBFieldUInt64)) {
    if (!element.isNumeric()) return wrong("Int64", "NSNumber");
    APMPBStoreUInt64(item, static_cast<uint64_t>(element.longLongValue()));
  } else if (flags & kAPMPBFieldFloat) {
    if (!element.isNumeric()) return wrong("Float", "NSNumber");
    APMPBStoreFloat(item, element.floatValue());
  } else if (flags & kAPMPBFieldDouble) {
    if (!element.isNumeric()) return wrong("Double", "NSNumber");
    APMPBStoreDouble(item, element.doubleValue());
  } else if (flags & kAPMPBFieldEnum) {
    if (!element.isNumeric()) return wrong("Enum", "NSNumber");
    APMPBStoreUInt32(item, element.numberAs<uint32_t>());
  } else if (flags & kAPMPBFieldString) {
    const std::string* text = element.asString();
    if (text == nullptr) return wrong("String", "NSString");
    if (!APMPBStoreString(item, text->data(), text->size())) return false;
  } else if (flags & kAPMPBFieldBytes) {
    const platform::Bytes* bytes = element.asData();
    if (bytes == nullptr) return wrong("Bytes", "NSData");
    if (!APMPBStoreBytes(item, bytes->data(), bytes->size())) return false;
  } else if (flags & kAPMPBFieldMessage) {
    const APMPBMessageType& fieldType = *info->type->slots[index].messageType;
    std::shared_ptr<NANOMessageBase> object = APMPBObjectFromValue(element);
    if (object == nullptr || object->messageInfo() == nullptr ||
        std::strcmp(object->messageInfo()->name, fieldType.name) != 0) {
      return wrong("Message", "NANOMessageBase");
    }
    auto** target = reinterpret_cast<APMPBMessageInfo**>(item);
    if (!fieldType.copyMessageInfo(target, object->messageInfo())) return false;
  } else {
    systemLog(format("<ERROR> Unable to convert ObjC object to byte data. Unknown type. %d", static_cast<int>(flags)));
    return false;
  }
  return *item != nullptr;
}

}  // namespace

bool APMPBHasField(const NANOMessageBase* message, int32_t index) {
  APMPBMessageInfo* info = message != nullptr ? message->messageInfo() : nullptr;
  if (info == nullptr || info->slots == nullptr || info->type == nullptr) {
    systemLog(format("ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. Message name %s",
                     message != nullptr ? message->messageID() : "(null)"));
    return false;
  }
  if (!inRange(info, index)) return false;
  if (info->flags[index] & kAPMPBFieldRepeated) return true;
  return info->slots[index] != nullptr;
}

void APMPBClearField(NANOMessageBase* message, int32_t index) {
  APMPBMessageInfo* info = message != nullptr ? message->messageInfo() : nullptr;
  if (info == nullptr || info->slots == nullptr || info->type == nullptr) {
    systemLog("ProtocolBuffer message hasn't been initialized. ClearField can't be performed");
    return;
  }
  if (!inRange(info, index)) return;
  clearSlot(info, index);
}

bool APMPBGetBool(const NANOMessageBase* message, int32_t index) {
  const APMPBMessageInfo* info = initialized(message, "GetBool");
  if (info == nullptr) return false;
  if (!accepted(info, index, "a scalar BOOL", [](APMPBFieldFlags f) { return isScalar(f, kAPMPBFieldBool); })) return false;
  const APMPBValueCell* cell = valueCell(info, index);
  return cell != nullptr && static_cast<uint8_t>(cell->u64) == 1;
}

void APMPBSetBool(NANOMessageBase* message, int32_t index, bool value) {
  APMPBMessageInfo* info = initialized(message, "SetBool");
  if (info == nullptr) return;
  if (!accepted(info, index, "a scalar BOOL", [](APMPBFieldFlags f) { return isScalar(f, kAPMPBFieldBool); })) return;
  APMPBStoreUInt32(scalarSlot(info, index), value ? 1 : 0);
}

namespace {
bool isInt32Kind(APMPBFieldFlags flags) {
  return (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldUInt32)) != 0 && (flags & kAPMPBFieldRepeated) == 0;
}
bool isInt64Kind(APMPBFieldFlags flags) {
  return (flags & (kAPMPBFieldInt64 | kAPMPBFieldUInt64)) != 0 && (flags & kAPMPBFieldRepeated) == 0;
}
}  // namespace

int32_t APMPBGetInt32(const NANOMessageBase* message, int32_t index) {
  const APMPBMessageInfo* info = initialized(message, "GetInt32");
  if (info == nullptr || !accepted(info, index, "a scalar INT32", isInt32Kind)) return 0;
  const APMPBValueCell* cell = valueCell(info, index);
  return cell != nullptr ? static_cast<int32_t>(static_cast<uint32_t>(cell->u64)) : 0;
}

void APMPBSetInt32(NANOMessageBase* message, int32_t index, int32_t value) {
  APMPBMessageInfo* info = initialized(message, "SetInt32");
  if (info == nullptr || !accepted(info, index, "a scalar INT32", isInt32Kind)) return;
  APMPBStoreUInt32(scalarSlot(info, index), static_cast<uint32_t>(value));
}

int64_t APMPBGetInt64(const NANOMessageBase* message, int32_t index) {
  const APMPBMessageInfo* info = initialized(message, "GetInt64");
  if (info == nullptr || !accepted(info, index, "a scalar INT64", isInt64Kind)) return 0;
  const APMPBValueCell* cell = valueCell(info, index);
  return cell != nullptr ? cell->i64 : 0;
}

void APMPBSetInt64(NANOMessageBase* message, int32_t index, int64_t value) {
  APMPBMessageInfo* info = initialized(message, "SetInt64");
  if (info == nullptr || !accepted(info, index, "a scalar INT64", isInt64Kind)) return;
  APMPBStoreUInt64(scalarSlot(info, index), static_cast<uint64_t>(value));
}

float APMPBGetFloat(const NANOMessageBase* message, int32_t index) {
  const APMPBMessageInfo* info = initialized(message, "GetFloat");
  if (info == nullptr ||
      !accepted(info, index, "a scalar FLOAT", [](APMPBFieldFlags f) { return isScalar(f, kAPMPBFieldFloat); })) {
    return 0;
  }
  const APMPBValueCell* cell = valueCell(info, index);
  return cell != nullptr ? cell->f : 0;
}

void APMPBSetFloat(NANOMessageBase* message, int32_t index, float value) {
  APMPBMessageInfo* info = initialized(message, "SetFloat");
  if (info == nullptr ||
      !accepted(info, index, "a scalar FLOAT", [](APMPBFieldFlags f) { return isScalar(f, kAPMPBFieldFloat); })) {
    return;
  }
  APMPBStoreFloat(scalarSlot(info, index), value);
}

double APMPBGetDouble(const NANOMessageBase* message, int32_t index) {
  const APMPBMessageInfo* info = initialized(message, "GetDouble");
  if (info == nullptr ||
      !accepted(info, index, "a scalar DOUBLE", [](APMPBFieldFlags f) { return isScalar(f, kAPMPBFieldDouble); })) {
    return 0;
  }
  const APMPBValueCell* cell = valueCell(info, index);
  return cell != nullptr ? cell->d : 0;
}

void APMPBSetDouble(NANOMessageBase* message, int32_t index, double value) {
  APMPBMessageInfo* info = initialized(message, "SetDouble");
  if (info == nullptr ||
      !accepted(info, index, "a scalar DOUBLE", [](APMPBFieldFlags f) { return isScalar(f, kAPMPBFieldDouble); })) {
    return;
  }
  APMPBStoreDouble(scalarSlot(info, index), value);
}

std::optional<std::string> APMPBGetString(const NANOMessageBase* message, int32_t index) {
  const APMPBMessageInfo* info = initialized(message, "GetString");
  if (info == nullptr ||
      !accepted(info, index, "a scalar STRING", [](APMPBFieldFlags f) { return isScalar(f, kAPMPBFieldString); })) {
    return std::nullopt;
  }
  return stringFromCell(static_cast<const APMPBBytesCell*>(info->slots[index]));
}

void APMPBSetString(NANOMessageBase* message, int32_t index, std::optional<std::string_view> value) {
  APMPBMessageInfo* info = initialized(message, "SetString");
  if (info == nullptr ||
      !accepted(info, index, "a scalar STRING", [](APMPBFieldFlags f) { return isScalar(f, kAPMPBFieldString); })) {
    return;
  }
  if (!value) {
    clearSlot(info, index);
    return;
  }
  storeBytes(info, index, value->data(), value->size());
}

std::optional<platform::Bytes> APMPBGetBytes(const NANOMessageBase* message, int32_t index) {
  const APMPBMessageInfo* info = initialized(message, "GetBytes");
  if (info == nullptr || !accepted(info, index, "a scalar BYTES", isStringOrBytes)) return std::nullopt;
  const auto* cell = static_cast<const APMPBBytesCell*>(info->slots[index]);
  if (cell == nullptr || cell->bytes == nullptr) return std::nullopt;
  return platform::Bytes(cell->bytes, cell->bytes + cell->length);
}

void APMPBSetBytes(NANOMessageBase* message, int32_t index, std::optional<std::span<const uint8_t>> value) {
  APMPBMessageInfo* info = initialized(message, "SetBytes");
  if (info == nullptr || !accepted(info, index, "a scalar BYTES", isStringOrBytes)) return;
  if (!value) {
    clearSlot(info, index);
    return;
  }
  storeBytes(info, index, value->data(), value->size());
}

std::shared_ptr<NANOMessageBase> APMPBGetMessage(const NANOMessageBase* message, int32_t index,
                                                 const APMPBMessageType& wrapperType) {
  const APMPBMessageInfo* info = initialized(message, "GetMessage");
  if (info == nullptr ||
      !accepted(info, index, "a scalar MESSAGE", [](APMPBFieldFlags f) { return isScalar(f, kAPMPBFieldMessage); })) {
    return nullptr;
  }
  const auto* sub = static_cast<const APMPBMessageInfo*>(info->slots[index]);
  if (sub == nullptr) return nullptr;
  return APMPBWrapperForType(wrapperType, sub);
}

void APMPBSetMessage(NANOMessageBase* message, int32_t index, const NANOMessageBase* value) {
  APMPBMessageInfo* info = initialized(message, "SetMessage");
  if (info == nullptr) return;
  const char* valueName = value != nullptr && value->messageInfo() != nullptr ? value->messageInfo()->name : nullptr;
  auto fits = [&](APMPBFieldFlags f) {
    if (!isScalar(f, kAPMPBFieldMessage)) return false;
    return value == nullptr || (valueName != nullptr &&
                                std::strcmp(valueName, info->type->slots[index].messageType->name) == 0);
  };
  if (!accepted(info, index, "a scalar MESSAGE", fits)) return;
  if (value == nullptr) {
    clearSlot(info, index);
    return;
  }
  // Copy first: the value may be a wrapper over this very field's contents.
  const APMPBMessageType& fieldType = *info->type->slots[index].messageType;
  APMPBMessageInfo* copy = nullptr;
  if (!fieldType.copyMessageInfo(&copy, value->messageInfo())) {
    if (copy != nullptr) fieldType.freeMessageInfo(copy);
    copy = nullptr;
  }
  clearSlot(info, index);
  info->slots[index] = copy;
}

std::optional<platform::Array> APMPBGetArray(const NANOMessageBase* message, int32_t index,
                                             const APMPBMessageType* elementType) {
  const APMPBMessageInfo* info = initialized(message, "GetArray");
  if (info == nullptr ||
      !accepted(info, index, "REPEATED", [](APMPBFieldFlags f) { return (f & kAPMPBFieldRepeated) != 0; })) {
    return std::nullopt;
  }
  const auto* record = static_cast<const APMPBRepeatedField*>(info->slots[index]);
  if (record == nullptr) {
    systemLog("<ERROR> Repeated field should have been allocated");
    return std::nullopt;
  }
  platform::Array items;
  if (record->items == nullptr) return items;
  items.reserve(record->count);
  for (uint32_t position = 0; position < record->count; ++position) {
    const void* item = record->items[position];
    if (item == nullptr) {
      systemLog("<ERROR> Unable to convert NULL data to an ObjC object");
      continue;
    }
    platform::Value value = itemValue(info, index, item, elementType);
    if (!value.isNull()) items.append(std::move(value));
  }
  return items;
}

void APMPBSetArray(NANOMessageBase* message, int32_t index, const std::optional<platform::Array>& array) {
  APMPBMessageInfo* info = initialized(message, "SetArray");
  if (info == nullptr ||
      !accepted(info, index, "REPEATED", [](APMPBFieldFlags f) { return (f & kAPMPBFieldRepeated) != 0; })) {
    return;
  }
  auto* record = static_cast<APMPBRepeatedField*>(info->slots[index]);
  if (record == nullptr) {
    systemLog("<ERROR> Repeated field should have been allocated");
    return;
  }
  // The new items are built apart first, so an array that holds this very
  // field's own wrappers still reads them.
  APMPBRepeatedField fresh{};
  bool filled = true;
  if (array && !array->empty()) {
    if (array->size() >= UINT32_MAX) {
      filled = false;
    } else {
      fresh.items = static_cast<void**>(std::calloc(array->size(), sizeof(void*)));
      fresh.count = static_cast<uint32_t>(array->size());
      fresh.capacity = fresh.count;
      for (size_t position = 0; position < array->size() && filled; ++position) {
        if (fresh.items == nullptr) {
          systemLog("<ERROR> Unable to set NULL data to an ObjC object");
          filled = false;
          break;
        }
        filled = storeItem(info, index, &fresh.items[position], (*array)[position]);
      }
      fresh.fillIndex = 0;
    }
  }
  clearSlot(info, index);
  std::swap(*record, fresh);
  // A failed fill leaves the field empty: what was stored goes again.
  if (!filled) clearSlot(info, index);
  // The old record's emptied item array.
  std::free(fresh.items);
}

std::optional<platform::Bytes> APMPBMessageView::protoBuffer() const {
  platform::Bytes bytes;
  if (!m_info->type->encodeInto(m_info, bytes)) return std::nullopt;
  return bytes;
}

std::vector<APMPBMessageView> APMPBGetMessageViews(const NANOMessageBase* message, int32_t index) {
  std::vector<APMPBMessageView> views;
  const APMPBMessageInfo* info = initialized(message, "GetMessageViews");
  if (info == nullptr || !accepted(info, index, "REPEATED MESSAGE", [](APMPBFieldFlags f) {
        return (f & (kAPMPBFieldRepeated | kAPMPBFieldMessage)) == (kAPMPBFieldRepeated | kAPMPBFieldMessage);
      })) {
    return views;
  }
  const auto* record = static_cast<const APMPBRepeatedField*>(info->slots[index]);
  if (record == nullptr || record->items == nullptr) return views;
  views.reserve(record->count);
  for (uint32_t position = 0; position < record->count; ++position) {
    if (record->items[position] != nullptr) {
      views.emplace_back(static_cast<APMPBMessageInfo*>(record->items[position]));
    }
  }
  return views;
}

std::optional<APMPBMessageView> APMPBAppendMessage(NANOMessageBase* message, int32_t index) {
  APMPBMessageInfo* info = initialized(message, "AppendMessage");
  if (info == nullptr || !accepted(info, index, "REPEATED MESSAGE", [](APMPBFieldFlags f) {
        return (f & (kAPMPBFieldRepeated | kAPMPBFieldMessage)) == (kAPMPBFieldRepeated | kAPMPBFieldMessage);
      })) {
    return std::nullopt;
  }
  auto* record = static_cast<APMPBRepeatedField*>(info->slots[index]);
  if (record == nullptr) {
    systemLog("<ERROR> Repeated field should have been allocated");
    return std::nullopt;
  }
  const APMPBMessageType& itemType = *info->type->slots[index].messageType;
  APMPBMessageInfo* item = itemType.newMessageInfoFor(info);
  if (item == nullptr) return std::nullopt;
  if (!APMPBAppendItem(record, item)) {
    itemType.freeMessageInfo(item);
    return std::nullopt;
  }
  return APMPBMessageView(item);
}

platform::Value APMPBObjectValue(std::shared_ptr<NANOMessageBase> object) {
  if (object == nullptr) return {};
  std::string className = std::string("APMPB") + object->messageID();
  return platform::Value::opaque<NANOMessageBase>(std::move(object), std::move(className));
}

std::shared_ptr<NANOMessageBase> APMPBObjectFromValue(const platform::Value& value) {
  return value.asOpaque<NANOMessageBase>();
}

std::string APMPBClassName(const platform::Value& value) {
  switch (value.type()) {
    case platform::ValueType::Null: return "NSNull";
    case platform::ValueType::Bool:
    case platform::ValueType::Number: return "NSNumber";
    case platform::ValueType::String: return "NSString";
    case platform::ValueType::Data: return "NSData";
    case platform::ValueType::Date: return "NSDate";
    case platform::ValueType::Array: return "NSArray";
    case platform::ValueType::Dictionary: return "NSDictionary";
    case platform::ValueType::Set: return "NSSet";
    case platform::ValueType::Opaque: return value.asOpaque()->typeName;
  }
  return "NSObject";
}
